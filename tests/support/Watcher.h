#pragma once

// The panel's StatusNotifierWatcher, standing in on a test's session bus: items register with it,
// and it says whether a host shows them.

#include <QDBusContext>
#include <QDBusMessage>
#include <QList>
#include <QObject>
#include <QStringList>

// How the panel's host shows an item's menu. LXQt's panel calls AboutToShow, then sends the
// "opened" event and, once the menu is gone, "closed"; GNOME's sends "opened" first; XFCE's panel
// and waybar call AboutToShow alone and never say more.
enum class MenuHost { Xfce, Lxqt, Gnome };

// Exported with QDBusConnection::ExportAdaptors.
class Watcher : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems MEMBER services)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered MEMBER host)
    Q_PROPERTY(int ProtocolVersion MEMBER protocolVersion)
public:
    Watcher();

    // The items' services, in the order they registered (again after a restart).
    QStringList services;
    bool host = true;
    MenuHost menuHost = MenuHost::Lxqt;
    int protocolVersion = 0;
    // Drops the next item that registers right after taking it, as GNOME Shell's AppIndicator
    // extension now and then does: saying so (StatusNotifierItemUnregistered, naming the item as
    // service and path) or not.
    enum class Drop { None, Announced, Silent };
    Drop dropNext = Drop::None;

    // The calls the host makes on an item's com.canonical.dbusmenu object when it shows the menu,
    // and when the menu goes away (none from XFCE's).
    QList<QDBusMessage> menuOpening(const QString& service, const QString& path) const;
    QList<QDBusMessage> menuClosing(const QString& service, const QString& path) const;

    // An item names its bus service, or only its object path (then the sender is the service).
    void RegisterStatusNotifierItem(const QString& serviceOrPath);
    void RegisterStatusNotifierHost(const QString& service);

Q_SIGNALS:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierItemUnregistered(const QString& service);
    void StatusNotifierHostRegistered();
    void StatusNotifierHostUnregistered();
};
