#pragma once

#include "DBusTypes.h"
#include "TrayHost.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QHash>
#include <QIcon>
#include <QPoint>
#include <QString>
#include <QTimer>

#include <chrono>

class DBusMenuExporter;
class QDBusPendingCall;
class QDBusServiceWatcher;
class StatusNotifierWatcherProxy;

// The program's item as a StatusNotifierItem on the session bus, with its menu exported as
// com.canonical.dbusmenu, for desktops whose panel runs a StatusNotifierWatcher (KDE Plasma,
// GNOME's AppIndicator extension, waybar, LXQt...).
//
// start() looks for a watcher that has a host; while the answer is awaited, and again while the
// item registers after it was Unavailable, the state is Pending. With one, the item exports
// /StatusNotifierItem and /MenuBar and registers with the watcher by its connection's unique name:
// Registered. (GNOME Shell's AppIndicator extension now and then drops an item that registers by a
// well-known name right after taking it.) Without one, or when the watcher refuses, it is
// Unavailable. The objects stay exported once they are: a watcher goes on listing a unique name
// that is still on the bus, and a host that reads the list finds the item. It follows the watcher:
// a watcher (or host) that appears later, or a panel that restarts, gets the item registered again;
// a watcher that goes away makes it Unavailable. A watcher that drops the item (it says so, or the
// item is missing from its list a moment after registering) gets it registered again, Pending
// meanwhile, after a pause that doubles with each drop up to a minute and starts over once the item
// has stayed listed that long.
//
// A panel that reads IconName draws the picture itself from the icon's name(), looked up in
// IconThemePath; the others get IconPixmap. The tooltip's description reaches the panel escaped,
// as panels read it as markup.
class StatusNotifierItem : public TrayHost, protected QDBusContext {
    Q_OBJECT
    // The interface's properties, read by its adaptor.
    Q_PROPERTY(QString Category READ category CONSTANT)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status CONSTANT)
    Q_PROPERTY(int WindowId READ windowId CONSTANT)
    Q_PROPERTY(QString IconThemePath READ iconThemePath)
    Q_PROPERTY(QDBusObjectPath Menu READ menuObjectPath CONSTANT)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu CONSTANT)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(SniIconPixmapList IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ none CONSTANT)
    Q_PROPERTY(SniIconPixmapList OverlayIconPixmap READ noPixmap CONSTANT)
    Q_PROPERTY(QString AttentionIconName READ none CONSTANT)
    Q_PROPERTY(SniIconPixmapList AttentionIconPixmap READ noPixmap CONSTANT)
    Q_PROPERTY(QString AttentionMovieName READ none CONSTANT)
    Q_PROPERTY(QString IconAccessibleDesc READ iconAccessibleDesc)
    Q_PROPERTY(QString AttentionAccessibleDesc READ attentionAccessibleDesc)
    Q_PROPERTY(SniToolTip ToolTip READ toolTip)
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
    // The bus name the watcher knows the item by (the connection's unique name) while it is on
    // its way to the panel or there, else empty.
    QString serviceName() const { return m_serviceName; }

    void setIcon(const QIcon& icon) override;
    void setToolTip(const QString& title, const QString& description) override;
    void setMenu(QMenu* menu) override;
    void setNeedsAttention(bool on) override;
    DBusMenuExporter* menuExporter() const { return m_menu; }

Q_SIGNALS:
    void stateChanged(StatusNotifierItem::State state);

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
    // The interface's methods, called by its adaptor: the host's clicks.
    friend class StatusNotifierItemAdaptor;
    // Refused: the item is its menu, which the host draws itself.
    void Activate(int x, int y);
    // Hosts call it only when they cannot draw the item's menu themselves (KDE's, XFCE's, waybar's
    // and GNOME's draw it, and call this for items without one): the program's own menu then.
    void ContextMenu(int x, int y) { Q_EMIT activated(QPoint(x, y), true); }
    void SecondaryActivate(int x, int y) { Q_EMIT activated(QPoint(x, y), false); }
    void Scroll(int /*delta*/, const QString& /*orientation*/) {}

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const;
    QString title() const;
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString iconThemePath() const { return m_iconThemePath; }
    QDBusObjectPath menuObjectPath() const { return QDBusObjectPath(menuPath); }
    bool itemIsMenu() const { return true; }
    // A name only with the folder that holds it: without one the panel takes the pixmap.
    QString iconName() const { return m_iconThemePath.isEmpty() ? QString() : m_iconName; }
    SniIconPixmapList iconPixmap() const { return m_pixmaps; }
    // What screen readers say of the item.
    QString iconAccessibleDesc() const {
        return m_needsAttention ? attentionAccessibleDesc() : title();
    }
    QString attentionAccessibleDesc() const { return tr("%1, new entries").arg(title()); }
    QString none() const { return {}; }
    SniIconPixmapList noPixmap() const { return {}; }
    SniToolTip toolTip() const;

    // The IconPixmap of an icon: one picture at the size panels most often draw; for a null icon
    // one transparent 16 px picture.
    static SniIconPixmapList pixmapsFor(const QIcon& icon);

    // A Get of one of the watcher's properties.
    QDBusPendingCall askWatcher(const QString& property) const;
    void watcherOwnerChanged(const QString& newOwner);
    void registerWithWatcher();
    // Whether the watcher lists the item: by its service, or as service and object path.
    bool names(const QString& entry) const;
    void checkListed(quint64 registration);
    void dropped();
    void withdraw();
    void setState(State state);

    QDBusConnection m_connection;
    DBusMenuExporter* m_menu = nullptr;
    QDBusServiceWatcher* m_watcher = nullptr;
    StatusNotifierWatcherProxy* m_watcherProxy = nullptr;
    State m_state = State::Pending;
    QString m_serviceName;
    bool m_objectRegistered = false;
    bool m_started = false;
    // The watcher changed hands since the item last registered with it.
    bool m_watcherRestarted = false;
    // Each probe of the watcher gets a number; only the answer to the latest one counts.
    quint64 m_probe = 0;
    // Likewise each registration.
    quint64 m_registration = 0;
    QTimer m_retry;
    std::chrono::milliseconds m_retryDelay;
    // Since the watcher last took the item.
    QElapsedTimer m_listed;
    qint64 m_iconKey = -1;
    QString m_iconName;
    QString m_iconThemePath;
    SniIconPixmapList m_pixmaps;
    QHash<qint64, SniIconPixmapList> m_pixmapCache;
    QString m_toolTip;
    QString m_toolTipDescription;
    bool m_needsAttention = false;
};
