// Desktop notifications of new entries, as the desktop's notification server receives them: the
// suite runs a session bus of its own with a stand-in for the server on it.

#include "AppHarness.h"
#include "PreferenceKeys.h"
#include "SessionServer.h"
#include "UserDefaults.h"

#include <QCheckBox>
#include <QDBusConnection>
#include <QPushButton>

using namespace std::chrono_literals;

namespace {

// The desktop's notification server: the capabilities it announces, and what it was asked to show.
class Notifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList capabilities{"actions", "body"};
    QStringList shown; // replaced id|icon|summary|body|actions|desktop entry
    uint lastId() const { return 100 + uint(shown.size()); }
public Q_SLOTS:
    QStringList GetCapabilities() { return capabilities; }
    uint Notify(const QString&, uint replaces, const QString& icon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints, int) {
        shown.append(QStringList{QString::number(replaces), icon, summary, body, actions.join(','),
                                 hints.value("desktop-entry").toString()}
                         .join('|'));
        return lastId();
    }
Q_SIGNALS:
    void ActionInvoked(uint id, const QString& key);
    void NotificationClosed(uint id, uint reason);
};

} // namespace

class TestNotifications : public QObject {
    Q_OBJECT

    std::unique_ptr<SessionServer> bus;
    Notifications server;

private Q_SLOTS:
    void initTestCase() {
        bus = SessionServer::bus();
        QVERIFY(bus);
        // Before the program's first use of the session bus, which fixes its address.
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus->address().toUtf8());
        QGuiApplication::setDesktopFileName("pinglark");
        QDBusConnection connection = QDBusConnection::connectToBus(bus->address(), "server");
        QVERIFY(connection.registerObject("/org/freedesktop/Notifications", &server,
                                          QDBusConnection::ExportAllSlots |
                                              QDBusConnection::ExportAllSignals));
        QVERIFY(connection.registerService("org.freedesktop.Notifications"));
    }

    // Each refresh that brings entries new to the last feed read tells of them in one
    // notification, which replaces the one before; a first check tells nothing. (Each step that
    // should send nothing is followed by one that sends: the count shows that nothing came.)
    void newEntriesAreToldOfOncePerRefresh() {
        AppHarness h({entry("1"), entry("2")});
        UserDefaults::standardUserDefaults().setBool(true, PreferenceKeys::NotifyNewEntries);
        AppController& app = h.start();
        // No tray here: its notice comes only when the test asks for it.
        app.statusItem()->setNoTrayGrace(1h);
        const auto after = [&](const QList<FeedEntry>& feed, qsizetype count) {
            h.serveFeed(feed);
            return h.refresh() && QTest::qWaitFor([&] { return server.shown.size() == count; })
                       ? server.shown.last()
                       : "shown: " + server.shown.join('\n');
        };
        QCOMPARE(after({entry("3"), entry("1"), entry("2")}, 1),
                 "0|pinglark|Title 3|Veltrano|default,Open|pinglark");

        // A failed refresh empties the menu, not what the next one is new to. Of several, the
        // first three titles.
        h.server.serveStatus(AppHarness::feedPath, 404);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Could not update the feed"));
        QTest::ignoreMessage(QtWarningMsg, formatError);
        QVERIFY(h.refresh());
        const QList<FeedEntry> seven = {entry("7"), entry("6"), entry("5"), entry("4"),
                                        entry("3"), entry("1"), entry("2")};
        QCOMPARE(after(seven, 2), "101|pinglark|4 new entries|Title 7\nTitle 6\nTitle 5|"
                                  "default,Open|pinglark");

        // Where the server reads markup, the body is escaped. The default action opens the newest
        // entry's link, only for the notification shown now.
        server.capabilities.append("body-markup");
        QCOMPARE(
            after(QList<FeedEntry>{{"<b>8 & co</b>", "http://news.example/8", {}}, entry("9")} +
                      seven,
                  3),
            "102|pinglark|2 new entries|&lt;b&gt;8 &amp; co&lt;/b&gt;\nTitle 9|"
            "default,Open|pinglark");
        UrlRecorder recorder;
        Q_EMIT server.ActionInvoked(102, "default");
        Q_EMIT server.ActionInvoked(103, "default");
        QTRY_COMPARE(recorder.opened, QList{QUrl("http://news.example/8")});

        // Closed: the next one replaces nothing. A server without actions gets none, and one new
        // entry shows the feed's title.
        Q_EMIT server.NotificationClosed(103, 2);
        server.capabilities = QStringList{};
        QCOMPARE(after({entry("10")}, 4), "0|pinglark|Title 10|Veltrano||pinglark");

        // Turned off in the window: nothing more. Turned on again from the no-tray notice: on,
        // kept, and shown by the window.
        app.preferencesMenuItem()->trigger();
        QCheckBox* box = app.preferencesController()->notifyNewEntriesButton();
        QVERIFY(box->isChecked());
        box->setChecked(false);
        QTest::mouseClick(app.preferencesController()->saveButton(), Qt::LeftButton);
        h.serveFeed({entry("11"), entry("10")});
        QVERIFY(h.refresh());
        server.capabilities = QStringList{"actions"};
        QTRY_VERIFY(app.statusItem()->isTrayIconShown());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("needs a panel with a system tray"));
        app.statusItem()->setNoTrayGrace(0ms);
        QTRY_COMPARE(server.shown.size(), 5);
        QVERIFY(server.shown.last().contains("|No system tray|"));
        QVERIFY(server.shown.last().endsWith("|notify,Notify me of new entries instead|pinglark"));
        Q_EMIT server.ActionInvoked(105, "notify");
        QTRY_VERIFY(box->isChecked());
        QVERIFY(UserDefaults::standardUserDefaults().boolForKey(PreferenceKeys::NotifyNewEntries));
        QCOMPARE(after({entry("12"), entry("11"), entry("10")}, 6),
                 "104|pinglark|Title 12|Veltrano|default,Open|pinglark");
    }
};

QTEST_MAIN(TestNotifications)
#include "tst_notifications.moc"
