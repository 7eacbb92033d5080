#pragma once

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QHash>
#include <QList>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>

#include <chrono>

// The wire types of the com.canonical.dbusmenu interface.

// (ia{sv}av): an item, its properties and its children, each child a variant holding the same.
struct DBusMenuLayoutItem {
    int id = 0;
    QVariantMap properties;
    QList<DBusMenuLayoutItem> children;
};
Q_DECLARE_METATYPE(DBusMenuLayoutItem)

// (ia{sv}): an item's properties.
struct DBusMenuItem {
    int id = 0;
    QVariantMap properties;
};
Q_DECLARE_METATYPE(DBusMenuItem)
using DBusMenuItemList = QList<DBusMenuItem>;

// (ias): names of an item's properties that went back to their defaults.
struct DBusMenuItemKeys {
    int id = 0;
    QStringList properties;
};
Q_DECLARE_METATYPE(DBusMenuItemKeys)
using DBusMenuItemKeysList = QList<DBusMenuItemKeys>;

// (isvu): one event of EventGroup.
struct DBusMenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
Q_DECLARE_METATYPE(DBusMenuEvent)
using DBusMenuEventList = QList<DBusMenuEvent>;

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuLayoutItem& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuLayoutItem& item);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItem& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItem& item);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItemKeys& keys);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItemKeys& keys);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuEvent& event);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuEvent& event);

// Registers the types above with Qt D-Bus; safe to call more than once.
void registerDBusMenuTypes();

// Publishes a QMenu on a D-Bus connection as a com.canonical.dbusmenu object, the way tray hosts
// read the menu of a StatusNotifierItem.
//
// An action keeps its item id for as long as it exists and stands for the same thing: its
// data() is its identity. An action whose data() changes gets a new id (its menu's layout is
// announced anew), so that a click on the id the host still holds never reaches what the action
// has come to stand for; such an id is refused like any unknown one. Changes to the menu (actions
// added, removed or changed) are gathered until control returns to the event loop and then
// announced at once: one LayoutUpdated per changed menu and one ItemsPropertiesUpdated, however
// many actions a refresh rewrote. "clicked" triggers the action.
//
// Whether the host shows a menu is decided here, and reaches the QMenu as its aboutToShow and
// aboutToHide signals, each once per opening. Hosts differ: LXQt's panel calls AboutToShow, then
// sends "opened" and, when its menu goes, "closed"; XFCE's panel and waybar only call AboutToShow
// and never say that the menu closed. So a menu counts as open from "opened" to "closed"; after an
// AboutToShow that no "opened" follows, for a moment only; and never longer than a minute, for a
// host whose "closed" never comes.
class DBusMenuExporter : public QObject, protected QDBusContext {
    Q_OBJECT
public:
    DBusMenuExporter(const QDBusConnection& connection, const QString& objectPath,
                     QObject* parent = nullptr);
    ~DBusMenuExporter() override;

    // Exports the object on the connection; false when the path is taken.
    bool publish();
    void unpublish();
    bool isPublished() const { return m_published; }
    QString objectPath() const { return m_objectPath; }

    // The exported menu; null exports an empty menu.
    void setMenu(QMenu* menu);
    QMenu* menu() const { return m_menu; }

    uint revision() const { return m_revision; }

    // The folder in which the host finds the items' icons by name (icon-name). Without one, items
    // carry their icons as pictures alone (icon-data).
    void setIconThemePath(const QString& path) { m_iconThemePath = path; }
    QString iconThemePath() const { return m_iconThemePath; }

    // How long a menu counts as open after an AboutToShow that no "opened" follows, and at most
    // after any opening. Tests shorten them.
    static constexpr std::chrono::milliseconds unconfirmedOpeningLimit{2000};
    static constexpr std::chrono::milliseconds openingLimit{60000};
    void setOpeningLimits(std::chrono::milliseconds unconfirmed, std::chrono::milliseconds limit);

    // A menu label for an action's text. Qt writes a literal "&" as "&&" and marks a mnemonic
    // with "&"; dbusmenu writes a literal "_" as "__" and marks a mnemonic with "_". Text after a
    // tab is Qt's shortcut column and no part of the label.
    static QString labelFromActionText(const QString& text);

    // The item's properties as sent to the host; for tests and the adaptor.
    QVariantMap propertiesOf(int id) const;
    int idOf(QAction* action) const { return m_ids.value(action, -1); }

Q_SIGNALS:
    void LayoutUpdated(uint revision, int parent);
    void ItemsPropertiesUpdated(const DBusMenuItemList& updatedProps,
                                const DBusMenuItemKeysList& removedProps);
    void ItemActivationRequested(int id, uint timestamp);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class DBusMenuAdaptor;

    // Method bodies for the adaptor. An unknown id gives false / an empty result.
    bool layout(int parentId, int depth, const QStringList& names, DBusMenuLayoutItem& out);
    DBusMenuItemList groupProperties(const QList<int>& ids, const QStringList& names);
    bool handleEvent(int id, const QString& eventId);
    // Whether the host should fetch the item again (something changed while it opened).
    bool aboutToShow(int id, bool* known);
    // Answers the D-Bus call being served with an InvalidArgs error.
    void refuse(const QString& message);
    bool isExported(QAction* action) const;
    int menuId(QMenu* menu);

    int idFor(QAction* action);
    int assignId(QAction* action);
    void forget(QAction* action);
    QAction* actionFor(int id) const;
    QMenu* menuFor(int id) const;
    QVariantMap computeProperties(QAction* action) const;
    QByteArray iconData(const QIcon& icon) const;
    void watchMenu(QMenu* menu);
    void unwatchMenu(QMenu* menu);
    void buildLayout(QMenu* menu, int depth, const QStringList& names,
                     QList<DBusMenuLayoutItem>& out);
    void remember(int id, const QVariantMap& properties);
    void schedule();
    void flush();
    // The host shows the menu: "opened" confirms it, AboutToShow alone does not.
    void beginOpening(QMenu* menu, bool confirmed);
    void endOpening(QMenu* menu);
    void endExpiredOpenings();
    void scheduleOpenings();

    QDBusConnection m_connection;
    QString m_objectPath;
    QString m_iconThemePath;
    bool m_published = false;
    QPointer<QMenu> m_menu;
    QSet<QMenu*> m_watchedMenus;
    QHash<QAction*, int> m_ids;
    QHash<int, QAction*> m_actions;
    // Each id's action's data() when the id was given: what the id stands for.
    QHash<int, QVariant> m_identities;
    int m_nextId = 1;
    uint m_revision = 1;
    // What the host was last told of each item, to announce only real changes.
    QHash<int, QVariantMap> m_told;
    // Changes waiting to be announced.
    QSet<int> m_changedItems;
    QSet<int> m_changedMenus;
    QTimer m_flushTimer;
    mutable QHash<qint64, QByteArray> m_iconCache;

    // Menus the host shows now, and when each opening ends.
    struct Opening {
        QPointer<QMenu> menu;
        QDeadlineTimer limit; // the longest any opening lasts
        QDeadlineTimer end;
        bool confirmed = false;
    };
    QHash<QMenu*, Opening> m_openings;
    QTimer m_openingTimer;
    std::chrono::milliseconds m_unconfirmedOpeningLimit = unconfirmedOpeningLimit;
    std::chrono::milliseconds m_openingLimit = openingLimit;
};
