#include "DesktopNotification.h"

#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>

#include <utility>

DesktopNotification::DesktopNotification(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_bus(bus) {
    // From whoever serves the name now (the server may restart): the ids tell our notification
    // from the others.
    m_bus.connect(QString(), objectPath, serviceName, QStringLiteral("ActionInvoked"), this,
                  SLOT(serverInvokedAction(uint, QString)));
    m_bus.connect(QString(), objectPath, serviceName, QStringLiteral("NotificationClosed"), this,
                  SLOT(serverClosed(uint, uint)));
}

void DesktopNotification::show(const QString& summary, const QString& body,
                               const QList<Action>& actions) {
    // A newer notification waiting for its turn replaces an older one before it is ever shown.
    m_next = Content{summary, body, actions};
    sendNext();
}

void DesktopNotification::sendNext() {
    if (m_sending || !m_next)
        return;
    m_sending = true;
    const QDBusMessage ask = QDBusMessage::createMethodCall(serviceName, objectPath, serviceName,
                                                            QStringLiteral("GetCapabilities"));
    auto* asking = new QDBusPendingCallWatcher(m_bus.asyncCall(ask), this);
    connect(asking, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                // A server that cannot say is taken to read no markup and show no actions.
                const QDBusPendingReply<QStringList> capabilities = *call;
                notify(*std::exchange(m_next, std::nullopt),
                       capabilities.isError() ? QStringList() : capabilities.value());
            });
}

void DesktopNotification::notify(const Content& content, const QStringList& capabilities) {
    QStringList actions;
    if (capabilities.contains(QStringLiteral("actions"))) {
        for (const Action& action : content.actions)
            actions << action.key << action.label;
    }
    const QString desktopEntry = QGuiApplication::desktopFileName();
    QVariantMap hints;
    if (!desktopEntry.isEmpty())
        hints.insert(QStringLiteral("desktop-entry"), desktopEntry);
    QDBusMessage call = QDBusMessage::createMethodCall(serviceName, objectPath, serviceName,
                                                       QStringLiteral("Notify"));
    // The application, the notification it replaces, the icon, the summary, the body, the actions,
    // the hints and the desktop's own timeout.
    call << QGuiApplication::applicationDisplayName() << m_id << desktopEntry << content.summary
         << (capabilities.contains(QStringLiteral("body-markup")) ? content.body.toHtmlEscaped()
                                                                  : content.body)
         << actions << hints << -1;
    auto* sending = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(sending, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* reply) {
                reply->deleteLater();
                const QDBusPendingReply<uint> id = *reply;
                if (id.isError())
                    qInfo("No desktop notification: %s", qUtf8Printable(id.error().message()));
                else
                    m_id = id.value();
                m_sending = false;
                sendNext();
            });
}

void DesktopNotification::serverInvokedAction(uint id, const QString& key) {
    if (id != 0 && id == m_id)
        Q_EMIT actionInvoked(key);
}

void DesktopNotification::serverClosed(uint id, uint /*reason*/) {
    // Gone from the screen: the next one is a notification of its own.
    if (id != 0 && id == m_id)
        m_id = 0;
}
