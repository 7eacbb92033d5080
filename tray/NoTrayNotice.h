#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>

class DesktopNotification;

// Says once that no tray shows the program's item (GNOME without its AppIndicator extension, or a
// panel that never started): a line on stderr, and a desktop notification where the desktop shows
// them. A tray that comes within a grace period, as at login, avoids the word. The notification
// offers desktop notifications of new entries instead.
class NoTrayNotice : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds defaultGrace{5000};

    // hosted tells whether a StatusNotifierWatcher shows the item now, or is about to.
    explicit NoTrayNotice(std::function<bool()> hosted, QObject* parent = nullptr);

    void setGrace(std::chrono::milliseconds grace) { m_timer.setInterval(grace); }
    // The session bus connection that the notification goes out on; none for stderr alone.
    void setBusConnection(const QString& name) { m_busConnection = name; }

    // The item has no panel now: the notice comes when the grace is up and none shows it by then.
    void arm();

Q_SIGNALS:
    // The user chose, from the notification, to hear of new entries through notifications.
    void notificationsChosen();

private:
    void report();

    std::function<bool()> m_hosted;
    QString m_busConnection;
    QTimer m_timer;
    DesktopNotification* m_notification = nullptr;
    bool m_reported = false;
};
