#pragma once

// The panel's StatusNotifierWatcher, standing in: items register with it, and it reports a host.

#include <QDBusMessage>
#include <QObject>
#include <QStringList>

namespace e2e {

// The panel's watcher: items register with it, and it has a host.
class Watcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
public:
    QStringList services;
    QStringList items() const { return services; }
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }

public Q_SLOTS:
    // An item names its bus service, or only its object path (then the sender is the service).
    void RegisterStatusNotifierItem(const QString& serviceOrPath, const QDBusMessage& message) {
        const QString service =
            serviceOrPath.startsWith(QLatin1Char('/')) ? message.service() : serviceOrPath;
        services.append(service);
        Q_EMIT StatusNotifierItemRegistered(service);
    }
    void RegisterStatusNotifierHost(const QString&) { Q_EMIT StatusNotifierHostRegistered(); }

Q_SIGNALS:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierItemUnregistered(const QString& service);
    void StatusNotifierHostRegistered();
    void StatusNotifierHostUnregistered();
};

} // namespace e2e
