#pragma once

#include "DBusTypes.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QHash>
#include <QIcon>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QString>

class DBusMenuExporter;
class QDBusServiceWatcher;
class QMenu;

// The program's item as a StatusNotifierItem on the session bus, with its menu exported as
// com.canonical.dbusmenu, for desktops whose panel runs a StatusNotifierWatcher (KDE Plasma,
// GNOME's AppIndicator extension, waybar, LXQt...).
//
// start() looks for a watcher that has a host; while the answer is awaited the state is Pending.
// With one, the item takes the name org.kde.StatusNotifierItem-<pid>-<n>, exports
// /StatusNotifierItem and /MenuBar and registers with the watcher: Registered. Without one, or
// when the bus refuses, it is Unavailable and owns nothing on the bus. It follows the watcher: a
// watcher (or host) that appears later, or a panel that restarts, gets the item registered again;
// a watcher that goes away makes it Unavailable.
class StatusNotifierItem : public QObject {
    Q_OBJECT
public:
    enum class State { Pending, Registered, Unavailable };
    Q_ENUM(State)

    static inline const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
    static inline const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
    static inline const QString itemPath = QStringLiteral("/StatusNotifierItem");
    static inline const QString menuPath = QStringLiteral("/MenuBar");

    explicit StatusNotifierItem(const QDBusConnection& connection, QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    void start();
    State state() const { return m_state; }
    // The bus name while registered, else empty.
    QString serviceName() const { return m_serviceName; }

    // The picture the panel shows; a null icon leaves the item blank (a transparent picture).
    // A panel that reads IconName draws the picture itself from the icon's name(), looked up in
    // IconThemePath; the others get IconPixmap.
    void setIcon(const QIcon& icon);
    void setToolTip(const QString& toolTip);
    // Plain text; the panel gets it escaped, as the description may carry markup.
    void setToolTipDescription(const QString& description);
    void setMenu(QMenu* menu);
    DBusMenuExporter* menuExporter() const { return m_menu; }

    // The IconPixmap of an icon: the panel sizes 16, 22, 24 and 32 px; for a null icon one
    // transparent 16 px picture.
    static SniIconPixmapList pixmapsFor(const QIcon& icon);

    // Property values, as the adaptor reads them.
    QString id() const;
    QString title() const;
    SniIconPixmapList iconPixmap() const { return m_pixmaps; }
    // A name only with the folder that holds it: without one the panel takes the pixmap.
    QString iconName() const { return m_iconThemePath.isEmpty() ? QString() : m_iconName; }
    QString iconThemePath() const { return m_iconThemePath; }
    SniToolTip toolTip() const;

Q_SIGNALS:
    void stateChanged(StatusNotifierItem::State state);
    // The host's clicks: Activate (primary), SecondaryActivate (middle), ContextMenu.
    void activateRequested(const QPoint& position);
    void secondaryActivateRequested(const QPoint& position);
    void contextMenuRequested(const QPoint& position);

    // Relayed to the bus while registered.
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

private Q_SLOTS:
    void probe();

private:
    void watcherOwnerChanged(const QString& newOwner);
    void registerWithWatcher();
    void withdraw();
    void setState(State state);

    QDBusConnection m_connection;
    DBusMenuExporter* m_menu = nullptr;
    QDBusServiceWatcher* m_watcher = nullptr;
    State m_state = State::Pending;
    QString m_serviceName;
    bool m_objectRegistered = false;
    bool m_started = false;
    // The watcher changed hands since the item last registered with it.
    bool m_watcherRestarted = false;
    // Each probe of the watcher gets a number; only the answer to the latest one counts.
    quint64 m_probe = 0;
    qint64 m_iconKey = -1;
    QString m_iconName;
    QString m_iconThemePath;
    SniIconPixmapList m_pixmaps;
    QHash<qint64, SniIconPixmapList> m_pixmapCache;
    QString m_toolTip;
    QString m_toolTipDescription;
};
