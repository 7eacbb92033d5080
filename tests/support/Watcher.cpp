#include "Watcher.h"

#include "watcheradaptor.h"

#include <QDBusVariant>

namespace {

QDBusMessage menuCall(const QString& service, const QString& path, const QString& method,
                      const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(
        service, path, QStringLiteral("com.canonical.dbusmenu"), method);
    message.setArguments(arguments);
    return message;
}

// An event on the menu's root item.
QDBusMessage rootEvent(const QString& service, const QString& path, const QString& event) {
    return menuCall(service, path, QStringLiteral("Event"),
                    {0, event, QVariant::fromValue(QDBusVariant(0)), 0u});
}

} // namespace

Watcher::Watcher() {
    new WatcherAdaptor(this);
}

void Watcher::RegisterStatusNotifierItem(const QString& serviceOrPath) {
    const QString service =
        serviceOrPath.startsWith(QLatin1Char('/')) ? message().service() : serviceOrPath;
    services.append(service);
    Q_EMIT StatusNotifierItemRegistered(service);
}

void Watcher::RegisterStatusNotifierHost(const QString& /*service*/) {
    host = true;
    Q_EMIT StatusNotifierHostRegistered();
}

QList<QDBusMessage> Watcher::menuOpening(const QString& service, const QString& path) const {
    QList<QDBusMessage> calls{menuCall(service, path, QStringLiteral("AboutToShow"), {0})};
    if (menuHost == MenuHost::Lxqt)
        calls.append(rootEvent(service, path, QStringLiteral("opened")));
    return calls;
}

QList<QDBusMessage> Watcher::menuClosing(const QString& service, const QString& path) const {
    if (menuHost == MenuHost::Xfce)
        return {};
    return {rootEvent(service, path, QStringLiteral("closed"))};
}
