// Notifications of new entries as the desktop's notification server gets them: a stand-in for it
// on a session bus of the suite's own.

#include "AppHarness.h"
#include "PreferenceKeys.h"
#include "SessionServer.h"
#include "UserDefaults.h"

#include <QDBusConnection>

namespace {

class Notifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList capabilities{"actions"};
    QStringList shown; // replaced id|summary|body|actions|icon desktop entry
public Q_SLOTS:
    QStringList GetCapabilities() { return capabilities; }
    uint Notify(const QString&, uint replaces, const QString& icon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints, int) {
        shown.append(QStringList{QString::number(replaces), summary, body, actions.join(','),
                                 icon + ' ' + hints.value("desktop-entry").toString()}
                         .join('|'));
        return 100 + uint(shown.size());
    }
Q_SIGNALS:
    void ActionInvoked(uint id, const QString& key);
    void NotificationClosed(uint id, uint reason);
};

} // namespace

class TestNotifications : public QObject {
    Q_OBJECT

    std::unique_ptr<SessionServer> bus = SessionServer::bus();
    Notifications server;

private Q_SLOTS:
    void initTestCase() {
        // Before the program first uses the session bus, which fixes its address.
        QVERIFY(bus);
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus->address().toUtf8());
        QGuiApplication::setDesktopFileName("pinglark");
        QDBusConnection connection = QDBusConnection::connectToBus(bus->address(), "server");
        QVERIFY(connection.registerObject("/org/freedesktop/Notifications", &server,
                                          QDBusConnection::ExportAllContents));
        QVERIFY(connection.registerService("org.freedesktop.Notifications"));
    }

    // One notification per refresh that brings entries new to the last feed read, replacing the
    // one before; none for a first check. (The count after each step shows what came before.)
    void newEntriesAreToldOfOncePerRefresh() {
        AppHarness h({entry("1"), entry("2")});
        UserDefaults::standardUserDefaults().setBool(true, PreferenceKeys::NotifyNewEntries);
        AppController& app = h.start();
        // No tray here: its notice comes when the test asks for it.
        app.statusItem()->setNoTrayGrace(std::chrono::hours(1));
        const auto after = [&](const QList<FeedEntry>& feed, qsizetype count) {
            h.serveFeed(feed);
            return h.refresh() && QTest::qWaitFor([&] { return server.shown.size() == count; })
                       ? server.shown.last()
                       : server.shown.join('\n');
        };
        QCOMPARE(after({entry("3"), entry("1"), entry("2")}, 1),
                 "0|Title 3|Veltrano|default,Open|pinglark pinglark");
        // A failed refresh between does not make every entry new; of several, three titles.
        h.serveFailure(404);
        QVERIFY(h.refresh());
        const QList<FeedEntry> seven = {entry("7"), entry("6"), entry("5"), entry("4"),
                                        entry("3"), entry("1"), entry("2")};
        QCOMPARE(after(seven, 2), "101|4 new entries|Title 7\nTitle 6\nTitle 5|default,Open|"
                                  "pinglark pinglark");

        // Escaped for a server that reads markup. The default action of the notification shown
        // now opens the newest entry; once closed, the next replaces nothing.
        server.capabilities.append("body-markup");
        const QList<FeedEntry> markup{{"<b>8 & co</b>", "http://news.example/8", {}}, entry("9")};
        QCOMPARE(after(markup + seven, 3).section('|', 0, 2),
                 "102|2 new entries|&lt;b&gt;8 &amp; co&lt;/b&gt;\nTitle 9");
        Q_EMIT server.ActionInvoked(102, "default");
        Q_EMIT server.ActionInvoked(103, "default");
        QTRY_COMPARE(h.urls.opened, QList{QUrl("http://news.example/8")});
        // No actions for a server that shows none. An entry without a link is known by its title.
        Q_EMIT server.NotificationClosed(103, 2);
        server.capabilities.clear();
        QCOMPARE(after({{"No link", {}, {}}}, 4), "0|No link|Veltrano||pinglark pinglark");

        // Off when saved so; on again from the no-tray notice, kept and shown in the window.
        app.preferencesMenuItem()->trigger();
        QCheckBox* box = app.preferencesController()->notifyNewEntriesButton();
        QVERIFY(box->isChecked());
        box->setChecked(false);
        QTest::mouseClick(app.preferencesController()->saveButton(), Qt::LeftButton);
        h.serveFeed({entry("11"), {"No link", {}, {}}});
        QVERIFY(h.refresh());
        server.capabilities = QStringList{"actions"};
        QTRY_VERIFY(app.statusItem()->isTrayIconShown());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("needs a panel with a system tray"));
        app.statusItem()->setNoTrayGrace({});
        QTRY_COMPARE(server.shown.size(), 5);
        QCOMPARE(server.shown.last(),
                 "0|No system tray|tst_notifications needs a panel with a system tray; "
                 "on GNOME, enable the AppIndicator extension|notify,Notify "
                 "me of new entries instead|pinglark pinglark");
        Q_EMIT server.ActionInvoked(105, "notify");
        QTRY_VERIFY(box->isChecked());
        QVERIFY(UserDefaults::standardUserDefaults().boolForKey(PreferenceKeys::NotifyNewEntries));
        QCOMPARE(after({entry("12"), entry("11"), {"No link", {}, {}}}, 6).left(13),
                 "104|Title 12|");
    }
};

QTEST_MAIN(TestNotifications)
#include "tst_notifications.moc"
