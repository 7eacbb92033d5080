#pragma once

#include "DBusMenuIds.h"
#include "DBusMenuItemProperties.h"
#include "DBusMenuOpenings.h"
#include "DBusTypes.h"

#include <QDBusConnection>
#include <QDBusContext>
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

// Publishes a QMenu on a D-Bus connection as a com.canonical.dbusmenu object, the way tray hosts
// read the menu of a StatusNotifierItem.
//
// An action whose data() changes gets a new id (DBusMenuIds), and its menu's layout is announced
// anew, so that a click on the id the host still holds never reaches what the action has come to
// stand for. Such a click (and one on an item since removed) reaches the action that now stands
// for what the id stood for, if any: a host may send "closed" before "clicked", and the program
// may rewrite the menu as it closes. Otherwise the id is refused like any unknown one. Changes to
// the menu (actions added, removed or changed) are gathered until control returns to the event
// loop and then announced at once: one LayoutUpdated per changed menu and one
// ItemsPropertiesUpdated, however many actions a refresh rewrote. "clicked" triggers the action.
// Whether the host shows a menu is for DBusMenuOpenings to decide, except for one call that never
// means it: GNOME's AppIndicator extension takes an item by reading its whole menu and calling
// AboutToShow straight after, with nothing on screen. A host's AboutToShow that follows its
// first reading of the whole menu within takingLimit, with no event between, is answered but is
// no opening ("opened" still makes one). Later readings are a host catching up with a change,
// after which XFCE's panel may well open the menu at once.
class DBusMenuExporter : public QObject, protected QDBusContext {
    Q_OBJECT
    // The interface's properties, read by its adaptor.
    Q_PROPERTY(uint Version READ version CONSTANT)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status CONSTANT)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePaths)
public:
    DBusMenuExporter(const QDBusConnection& connection, const QString& objectPath,
                     QObject* parent = nullptr);
    ~DBusMenuExporter() override;

    // Exports the object on the connection; false when the path is taken.
    bool publish();
    void unpublish();

    // The exported menu; null exports an empty menu.
    void setMenu(QMenu* menu);

    static constexpr std::chrono::milliseconds takingLimit{1000};

    // Tests shorten how long a menu counts as open (see DBusMenuOpenings).
    void setOpeningLimits(std::chrono::milliseconds unconfirmed, std::chrono::milliseconds limit) {
        m_openings.setLimits(unconfirmed, limit);
    }

Q_SIGNALS:
    void LayoutUpdated(uint revision, int parent);
    void ItemsPropertiesUpdated(const DBusMenuItemList& updatedProps,
                                const DBusMenuItemKeysList& removedProps);
    void ItemActivationRequested(int id, uint timestamp);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The interface's methods, called by its adaptor. An unknown id is refused with InvalidArgs
    // (or listed among the idErrors).
    friend class DBusMenuAdaptor;
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   DBusMenuLayoutItem& layout);
    DBusMenuItemList GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames);
    QDBusVariant GetProperty(int id, const QString& name);
    void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp);
    QList<int> EventGroup(const DBusMenuEventList& events);
    bool AboutToShow(int id);
    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors);

    uint version() const { return 3; }
    QString textDirection() const;
    QString status() const { return QStringLiteral("normal"); }
    // Items carry their icons as pictures: no folder to look names up in.
    QStringList iconThemePaths() const { return {}; }

    // An unknown id gives false.
    bool layout(int parentId, int depth, const QStringList& names, DBusMenuLayoutItem& out);
    bool handleEvent(int id, const QString& eventId);
    // The exported action that stands now for what a retired or removed item's id stood for.
    QAction* successor(int id) const;
    static void click(QAction* action);
    // Whether the host should fetch the item again (something changed while it opened). Without
    // `opens`, nothing opens: the host only takes the menu.
    bool aboutToShow(int id, bool opens, bool* known);
    // Whether the AboutToShow being served is how its host takes the menu (see above).
    bool takesMenu();
    // Answers the D-Bus call being served with an InvalidArgs error.
    void refuse(const QString& message);
    bool isExported(QAction* action) const;
    bool isKnown(int id) const;
    int menuId(QMenu* menu);
    QMenu* menuFor(int id) const;
    void watchMenu(QMenu* menu);
    void buildLayout(QMenu* menu, int depth, const QStringList& names,
                     QList<DBusMenuLayoutItem>& out);
    void remember(int id, const QVariantMap& properties);
    void schedule();
    void flush();

    // Item 0 is the menu itself.
    static constexpr int rootId = 0;

    QDBusConnection m_connection;
    QString m_objectPath;
    bool m_published = false;
    QPointer<QMenu> m_menu;
    QSet<QMenu*> m_watchedMenus;
    DBusMenuIds m_ids;
    uint m_revision = 1;
    // What the host was last told of each item, to announce only real changes.
    QHash<int, QVariantMap> m_told;
    // Changes waiting to be announced.
    QSet<int> m_changedItems;
    QSet<int> m_changedMenus;
    QTimer m_flushTimer;
    DBusMenuItemProperties m_properties;
    DBusMenuOpenings m_openings;
    // The hosts that have read the whole menu; the one that has just read it for the first time,
    // and until when its AboutToShow takes it.
    QSet<QString> m_readers;
    QString m_reader;
    QDeadlineTimer m_readerTakes;
};
