#include "SystemEvents.h"

#include <QDBusConnection>

#include <ctime>

SystemEvents::SystemEvents(QObject* parent) : QObject(parent) {}

std::chrono::milliseconds SystemEvents::sinceBoot() {
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::duration_cast<std::chrono::milliseconds>(
                                                  std::chrono::nanoseconds(now.tv_nsec));
}

void SystemEvents::watchSleep() {
    if (m_watchingSleep)
        return;
    // The process's shared connection: QNetworkInformation's NetworkManager backend uses it too.
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return;
    m_watchingSleep = bus.connect(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
        SLOT(prepareForSleep(bool)));
}

void SystemEvents::prepareForSleep(bool sleeping) {
    // Sent with true as the machine goes to sleep, with false once it is awake again.
    if (!sleeping)
        Q_EMIT resumed();
}

// NOLINTNEXTLINE(readability-make-member-function-const): it connects a signal to this object.
void SystemEvents::watchNetwork() {
    if (!QNetworkInformation::instance() &&
        !QNetworkInformation::loadBackendByName(u"networkmanager") &&
        !QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability))
        return;
    connect(QNetworkInformation::instance(), &QNetworkInformation::reachabilityChanged, this,
            &SystemEvents::reachabilityChanged, Qt::UniqueConnection);
}

void SystemEvents::reachabilityChanged(QNetworkInformation::Reachability reachability) {
    // Reachable beyond the local network, where feeds are served from.
    if (reachability == QNetworkInformation::Reachability::Online)
        Q_EMIT networkOnline();
}
