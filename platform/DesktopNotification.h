#pragma once

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>

// One notification of the program's on the desktop (org.freedesktop.Notifications): each show()
// replaces the one shown before, while the server still shows it, instead of adding another.
// Texts are plain: they are escaped where the server reads markup in the body. Actions are offered
// where the server shows actions. Nothing waits for the server: every answer comes on the event
// loop, and a bus without a notification server only means no notification.
class DesktopNotification : public QObject {
    Q_OBJECT
public:
    static inline const QString serviceName = QStringLiteral("org.freedesktop.Notifications");
    static inline const QString objectPath = QStringLiteral("/org/freedesktop/Notifications");
    // The action of a click on the notification itself.
    static inline const QString defaultAction = QStringLiteral("default");

    struct Action {
        QString key;
        QString label;
    };

    explicit DesktopNotification(const QDBusConnection& bus, QObject* parent = nullptr);

    // Shows the summary and the body, with these actions, as the program's (its display name, and
    // its desktop file's name for the icon and the desktop entry).
    void show(const QString& summary, const QString& body, const QList<Action>& actions = {});

Q_SIGNALS:
    // The user chose an action of the notification shown now.
    void actionInvoked(const QString& key);

private Q_SLOTS:
    // The server's signals, about any notification it shows.
    void serverInvokedAction(uint id, const QString& key);
    void serverClosed(uint id, uint reason);

private:
    struct Content {
        QString summary;
        QString body;
        QList<Action> actions;
    };
    // Sends what waits to be shown, unless a request is on its way: the server's capabilities
    // first (they decide markup and actions), then the notification. One request at a time, so
    // that each replaces the one the server announced last.
    void sendNext();
    void notify(const Content& content, const QStringList& capabilities);

    QDBusConnection m_bus;
    // The notification the server shows for this object (0: none), what waits to be shown, and
    // whether a request is on its way.
    uint m_id = 0;
    std::optional<Content> m_next;
    bool m_sending = false;
};
