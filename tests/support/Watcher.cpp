#include "Watcher.h"

void Watcher::RegisterStatusNotifierItem(const QString& serviceOrPath,
                                         const QDBusMessage& message) {
    const QString service =
        serviceOrPath.startsWith(QLatin1Char('/')) ? message.service() : serviceOrPath;
    services.append(service);
    Q_EMIT StatusNotifierItemRegistered(service);
}

void Watcher::RegisterStatusNotifierHost(const QString& /*service*/) {
    host = true;
    Q_EMIT StatusNotifierHostRegistered();
}
