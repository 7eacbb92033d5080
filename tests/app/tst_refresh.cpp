// One refresh end to end: a feed served over HTTP on 127.0.0.1, through the download and the
// XML tree, into the status menu.

#include "AppHarness.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QProcess>

#include <sys/prctl.h>

#include <csignal>

using namespace std::chrono_literals;

class TestRefresh : public QObject {
    Q_OBJECT

    // The machine's system bus, played by a dbus-daemon of the suite's own, with a stand-in for
    // logind on it. The program's first use of the system bus fixes its address for the process.
    QProcess systemBus;
    std::optional<QDBusConnection> logind;

private Q_SLOTS:
    void initTestCase() {
        systemBus.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
        systemBus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        QTRY_VERIFY(systemBus.canReadLine());
        const QByteArray address = systemBus.readLine().trimmed();
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);
        logind = QDBusConnection::connectToBus(QString::fromLatin1(address), "logind");
        QVERIFY(logind->registerService("org.freedesktop.login1"));
    }
    void cleanupTestCase() {
        QDBusConnection::disconnectFromBus("logind");
        systemBus.kill();
        systemBus.waitForFinished();
    }

    void whatEachRefreshMarksAndBlinks() {
        AppHarness h({entry("1"), entry("2"), entry("3")});
        AppController& app = h.start();
        QCOMPARE(h.links(), QStringList({"http://news.example/1", "http://news.example/2",
                                         "http://news.example/3"}));
        // Entries stand above the fixed items, in document order.
        QCOMPARE(app.barMenu()->actions().indexOf(h.feedItems().at(2)), 2);
        QCOMPARE(h.marks(), QStringList({"blank", "blank", "blank"}));
        QVERIFY(!h.blinking());
        QCOMPARE(app.lastItemHash(), std::optional<QString>("http://news.example/1"));
        QVERIFY(!app.firstCheck());

        QVERIFY(h.refresh());
        QCOMPARE(h.marks(), QStringList({"blank", "blank", "blank"}));
        QVERIFY(!h.blinking());

        h.serveFeed({entry("0"), entry("1"), entry("2"), entry("3")});
        QVERIFY(h.refresh());
        QCOMPARE(h.links().first(), QStringLiteral("http://news.example/0"));
        QCOMPARE(h.marks(), QStringList({"new", "blank", "blank", "blank"}));
        QVERIFY(h.blinking());
        QCOMPARE(app.lastItemHash(), std::optional<QString>("http://news.example/0"));

        // The new mark lasts one refresh; the blinking goes on until the menu opens.
        QVERIFY(h.refresh());
        QCOMPARE(h.marks(), QStringList({"blank", "blank", "blank", "blank"}));
        QVERIFY(h.blinking());

        // A new entry below the top is marked but does not blink.
        app.toggleBlink(false);
        h.serveFeed({entry("0"), entry("1"), entry("2"), entry("2a"), entry("3")});
        QVERIFY(h.refresh());
        QCOMPARE(h.marks(), QStringList({"blank", "blank", "blank", "new", "blank"}));
        QVERIFY(!h.blinking());

        // A top link changing only in case: no blink, the recorded link keeps its case, but the
        // entry is new to the menu.
        h.serveFeed({{"A", "http://news.example/Story", {}}});
        QVERIFY(h.refresh());
        app.toggleBlink(false);
        h.serveFeed({{"A", "http://news.example/STORY", {}}});
        QVERIFY(h.refresh());
        QVERIFY(!h.blinking());
        QCOMPARE(app.lastItemHash(), std::optional<QString>("http://news.example/Story"));
        QCOMPARE(h.marks(), QStringList({"new"}));
    }

    void whatCountsAsAnEntry() {
        AppHarness h;
        // Only direct item children of the feed element count; a title holds all the text below.
        const QString extra = QStringLiteral(
            "<item><title>Big <b>news</b> &amp; <![CDATA[cdata]]>more</title>"
            "<link>http://x/3</link></item>"
            "<Item><title>wrong case</title><link>http://x/1</link></Item>"
            "<rss:item xmlns:rss=\"http://purl.org/rss/1.0/\"><title>prefixed</title></rss:item>"
            "<items><item><title>nested</title><link>http://x/2</link></item></items>"
            "<!-- item --><?item pi?>");
        h.serveFeed({{{}, "http://news.example/untitled", "Nobody"},
                     {"No link", {}, "Ann"},
                     {"No creator", "http://news.example/c", {}}},
                    extra);
        AppController& app = h.start();
        const QList<FeedMenuItem*> items = h.feedItems();
        QCOMPARE(h.links(), QStringList({"<none>", "http://news.example/c", "http://x/3"}));
        QCOMPARE(items[2]->feedTitle(), std::optional<QString>("Big news & more"));
        // The untitled first item is no entry and not the top entry either.
        QCOMPARE(items[0]->feedTitle(), std::optional<QString>("No link"));
        QVERIFY(!app.lastItemHash());
        QCOMPARE(items[0]->toolTip(), QStringLiteral("Ann"));
        QVERIFY(!items[1]->feedSource());
        QCOMPARE(items[1]->toolTip(), items[1]->text()); // Qt's default: no tip of our own

        // Later: an entry without a link is always new, and as the top entry never blinks.
        QVERIFY(h.refresh());
        QCOMPARE(h.marks(), QStringList({"new", "blank", "blank"}));
        QVERIFY(!h.blinking());
    }

    void failureThenSuccessActsAsTheFirstRefresh() {
        AppHarness h;
        h.server.serveStatus(AppHarness::feedPath, 404);
        QTest::ignoreMessage(QtWarningMsg, formatError);
        AppController& app = h.start();
        auto fixed = [&] {
            QList<QAction*> list = app.barMenu()->actions();
            list.removeIf([](QAction* a) { return isFeedMenuItem(a); });
            return list;
        };
        const QList<QAction*> fixedItems = fixed();
        QVERIFY(fixedItems.contains(app.homeMenuItem()) && fixedItems.contains(app.quitMenuItem()));
        // After a failure the network coming back brings a refresh of its own, other news of the
        // network does not. A second failure still leaves exactly one placeholder, at the top.
        SystemEvents& system = app.systemEvents();
        system.reachabilityChanged(QNetworkInformation::Reachability::Local);
        QVERIFY(!app.isRefreshing());
        QSignalSpy done(&app, &AppController::refreshFinished);
        QTest::ignoreMessage(QtWarningMsg, formatError);
        system.reachabilityChanged(QNetworkInformation::Reachability::Online);
        QVERIFY(done.wait());
        QCOMPARE(h.feedItems().size(), 1);

        h.serveFeed({entry("1"), entry("2")});
        QVERIFY(h.refresh());
        QCOMPARE(h.marks(), QStringList({"blank", "blank"}));
        QVERIFY(!h.blinking());
        QVERIFY(!app.firstCheck());
        system.reachabilityChanged(QNetworkInformation::Reachability::Online);
        QVERIFY(!app.isRefreshing());

        // Entries after a failure are all new (the menu held none), but only a changed top
        // link blinks.
        h.server.serveStatus(AppHarness::feedPath, 503);
        QTest::ignoreMessage(QtWarningMsg, formatError);
        QVERIFY(h.refresh());
        QCOMPARE(app.lastItemHash(), std::optional<QString>("http://news.example/1"));
        // Entries replaced by the placeholder leave the fixed items as they were.
        QCOMPARE(fixed(), fixedItems);
        QCOMPARE(app.barMenu()->actions().size(), fixedItems.size() + 1);
        h.serveFeed({entry("1"), entry("2")});
        QVERIFY(h.refresh());
        QCOMPARE(h.marks(), QStringList({"new", "new"}));
        QVERIFY(!h.blinking());
        QCOMPARE(fixed(), fixedItems);
    }

    void wakingUpCatchesUpOnARefreshThatFellDue() {
        AppHarness h({entry("1")});
        AppController& app = h.make();
        // The clock that counts sleep, moved by hand: the machine sleeps between two readings.
        std::chrono::milliseconds now = 0ms;
        app.systemEvents().setClock([&] { return now; });
        QVERIFY(h.launch());
        QTRY_VERIFY(app.systemEvents().isWatchingSleep());
        // A round trip on the program's connection: its subscription has reached the bus.
        QVERIFY(QDBusConnection::systemBus().interface()->isServiceRegistered(
            "org.freedesktop.login1"));
        const auto wakeUp = [&] {
            QDBusMessage signal = QDBusMessage::createSignal(
                "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep");
            return logind->send(signal << false);
        };
        const int period = app.dataTimer()->interval();

        // Asleep past the refresh that was due: it runs within seconds of waking up, and the
        // next one comes a whole period later.
        now += std::chrono::milliseconds(period) + 1s;
        QSignalSpy done(&app, &AppController::refreshFinished);
        QVERIFY(wakeUp());
        QVERIFY(done.wait(5000));
        QCOMPARE(app.dataTimer()->interval(), period);
        QVERIFY(app.dataTimer()->remainingTime() > period - 1000);

        // Asleep for part of a period: no refresh now, and the timer keeps what was left of it.
        now += 1000s;
        QVERIFY(wakeUp());
        QTRY_COMPARE(app.dataTimer()->interval(), period - 1000 * 1000);
        QVERIFY(!app.isRefreshing());
    }

    void feedWithoutUsableItems_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::newRow("all untitled") << rdfFeed({{{}, "http://x/1", {}}, {{}, "http://x/2", {}}});
        QTest::newRow("channel only") << rdfFeed({});
        QTest::newRow("empty feed element") << QByteArray("<rdf:RDF/>");
    }
    void feedWithoutUsableItems() {
        QFETCH(QByteArray, document);
        AppHarness h;
        h.server.serve(AppHarness::feedPath, document);
        AppController& app = h.start();
        QCOMPARE(h.feedItems().size(), 1);
        QCOMPARE(h.feedItems().at(0)->text(), QStringLiteral("No Data Loaded"));
        // The feed was read, so the first check is over.
        QVERIFY(!app.firstCheck());

        h.serveFeed({entry("1")});
        QVERIFY(h.refresh());
        QCOMPARE(h.marks(), QStringList({"new"}));
        // A top link where none was recorded counts as new.
        QVERIFY(h.blinking());
        QCOMPARE(app.lastItemHash(), std::optional<QString>("http://news.example/1"));
    }

    void downloadFeaturesReachTheMenu() {
        AppHarness h;
        // Redirected once, then answered with validators.
        const QString target = QStringLiteral("/feed-v1.rdf");
        HttpServer::Response feed;
        feed.body = rdfFeed({entry("1"), entry("2")});
        feed.etag = "\"v1\"";
        feed.gzip = true;
        h.server.setRoute(target, feed);
        h.server.redirect(AppHarness::feedPath, h.server.url(target).toEncoded());
        h.start();
        QCOMPARE(h.links().size(), 2);
        const auto first = h.server.lastRequest(target);
        QVERIFY(first && first->header("User-Agent").startsWith("Pinglark/"));

        // 304 Not Modified: the refresh proceeds as with the same document.
        QVERIFY(h.refresh());
        QCOMPARE(h.server.lastRequest(target)->header("If-None-Match"), QByteArray("\"v1\""));
        QCOMPARE(h.links().size(), 2);
        QCOMPARE(h.marks(), QStringList({"blank", "blank"}));
    }

    void refreshesNeverOverlapNorRunWhileTheMenuIsOpen() {
        AppHarness h({entry("1")});
        AppController& app = h.start();
        h.server.drip(AppHarness::feedPath, rdfFeed({entry("1")}), 1ms);
        int before = h.server.requestCount(AppHarness::feedPath);
        QSignalSpy done(&app, &AppController::refreshFinished);
        for (int i = 0; i < 3; ++i)
            app.updateData();
        QVERIFY(done.wait(10000));
        QTest::qWait(100);
        QCOMPARE(h.server.requestCount(AppHarness::feedPath), before + 1);
        QCOMPARE(done.count(), 1);

        before = h.server.requestCount(AppHarness::feedPath);
        app.barMenu()->popup(QPoint(10, 10));
        QTRY_VERIFY(app.barMenu()->isVisible());
        h.serveFeed({entry("0"), entry("1")});
        app.updateData();
        QVERIFY(app.isRefreshDeferred());
        QTest::qWait(200);
        QCOMPARE(h.server.requestCount(AppHarness::feedPath), before);
        QCOMPARE(h.links().size(), 1);
        app.barMenu()->hide();
        QVERIFY(done.wait(10000));
        QCOMPARE(h.links().size(), 2);
    }
};

QTEST_MAIN(TestRefresh)
#include "tst_refresh.moc"
