#include "NoTrayNotice.h"

#include "DesktopNotification.h"

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
    static constexpr const char* needsTray =
        QT_TR_NOOP("%1 needs a panel with a system tray; on GNOME, enable the AppIndicator "
                   "extension");
    // The log stays in English; the notification is in the user's language.
    qWarning("%s", qUtf8Printable(QString::fromLatin1(needsTray).arg(application)));
    if (m_busConnection.isEmpty())
        return;
    m_notification = new DesktopNotification(QDBusConnection(m_busConnection), this);
    const QString notify = QStringLiteral("notify");
    connect(m_notification, &DesktopNotification::actionInvoked, this,
            [this, notify](const QString& key) {
                if (key == notify)
                    Q_EMIT notificationsChosen();
            });
    m_notification->show(tr("No system tray"), tr(needsTray).arg(application),
                         {{notify, tr("Notify me of new entries instead")}});
}
