#pragma once

#include <QNetworkInformation>
#include <QObject>

#include <chrono>
#include <functional>

// What the machine does under the program that a poller must know of: it woke from sleep, or the
// network became reachable again.
//
// - Sleep: logind's org.freedesktop.login1.Manager.PrepareForSleep(false) on the system bus. The
//   system bus is asked only when watchSleep() is called, never at start-up; without a system bus
//   or without logind nothing happens, quietly.
// - Network: Qt's network information backend (NetworkManager's on most desktops), loaded by the
//   first watchNetwork(), so that a program whose refreshes never fail never loads it.
// - A clock that keeps counting while the machine sleeps (CLOCK_BOOTTIME): Qt's timers and
//   QElapsedTimer stand still then.
class SystemEvents : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<std::chrono::milliseconds()>;

    explicit SystemEvents(QObject* parent = nullptr);

    void watchSleep();
    bool isWatchingSleep() const { return m_watchingSleep; }
    void watchNetwork();

    // Time on the clock that counts sleep; tests may put a clock of their own in its place.
    std::chrono::milliseconds now() const { return m_clock(); }
    void setClock(Clock clock) { m_clock = std::move(clock); }
    static std::chrono::milliseconds sinceBoot();

public Q_SLOTS:
    // Fed by QNetworkInformation once the network is watched (and by tests).
    void reachabilityChanged(QNetworkInformation::Reachability reachability);

Q_SIGNALS:
    void resumed();
    void networkOnline();

private Q_SLOTS:
    void prepareForSleep(bool sleeping);

private:
    Clock m_clock = &SystemEvents::sinceBoot;
    bool m_watchingSleep = false;
};
