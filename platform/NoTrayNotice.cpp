#include "NoTrayNotice.h"

#include "notificationsproxy.h"

#include <QDBusConnection>
#include <QGuiApplication>
#include <QSystemTrayIcon>

NoTrayNotice::NoTrayNotice(std::function<bool()> hosted, QObject* parent)
    : QObject(parent), m_hosted(std::move(hosted)) {
    m_timer.setSingleShot(true);
    m_timer.setInterval(defaultGrace);
    connect(&m_timer, &QTimer::timeout, this, &NoTrayNotice::report);
}

void NoTrayNotice::arm() {
    if (!m_reported && !m_timer.isActive())
        m_timer.start();
}

void NoTrayNotice::report() {
    // An XEmbed tray that appears later takes the tray icon in by itself, and a watcher that
    // appears later gets the D-Bus item registered: the program goes on either way.
    if (m_reported || m_hosted() || QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_reported = true;
    const QString application = QGuiApplication::applicationDisplayName();
    const QString text =
        QStringLiteral("%1 needs a panel with a system tray; on GNOME, enable the AppIndicator "
                       "extension")
            .arg(application);
    qWarning("%s", qUtf8Printable(text));
    if (m_busConnection.isEmpty())
        return;
    NotificationsProxy notifications(QStringLiteral("org.freedesktop.Notifications"),
                                     QStringLiteral("/org/freedesktop/Notifications"),
                                     QDBusConnection(m_busConnection));
    // The notification it replaces (none), the icon, the summary, the body, no actions, no hints,
    // and the desktop's own timeout. The answer is not awaited: a desktop without notifications
    // only answers with an error.
    notifications.Notify(application, 0, QGuiApplication::desktopFileName(),
                         QStringLiteral("No system tray"), text, {}, {}, -1);
}
