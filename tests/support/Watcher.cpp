#include "Watcher.h"

#include "watcheradaptor.h"

#include <QDBusVariant>

#include <utility>

namespace {

// AboutToShow on the menu's root item, or, given its name, an event on it.
QDBusMessage menuCall(const QString& service, const QString& path, const QString& event = {}) {
    QDBusMessage message =
        QDBusMessage::createMethodCall(service, path, QStringLiteral("com.canonical.dbusmenu"),
                                       event.isEmpty() ? "AboutToShow" : "Event");
    message.setArguments(event.isEmpty()
                             ? QVariantList{0}
                             : QVariantList{0, event, QVariant::fromValue(QDBusVariant(0)), 0u});
    return message;
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
    if (dropNext == Drop::None)
        return;
    services.removeLast();
    if (std::exchange(dropNext, Drop::None) == Drop::Announced)
        Q_EMIT StatusNotifierItemUnregistered(service + QStringLiteral("/StatusNotifierItem"));
}

void Watcher::RegisterStatusNotifierHost(const QString& /*service*/) {
    host = true;
    Q_EMIT StatusNotifierHostRegistered();
}

QList<QDBusMessage> Watcher::menuOpening(const QString& service, const QString& path) const {
    QList<QDBusMessage> calls{menuCall(service, path)};
    if (menuHost == MenuHost::Lxqt)
        calls.append(menuCall(service, path, QStringLiteral("opened")));
    if (menuHost == MenuHost::Gnome)
        calls.prepend(menuCall(service, path, QStringLiteral("opened")));
    return calls;
}

QList<QDBusMessage> Watcher::menuClosing(const QString& service, const QString& path) const {
    if (menuHost == MenuHost::Xfce)
        return {};
    return {menuCall(service, path, QStringLiteral("closed"))};
}
