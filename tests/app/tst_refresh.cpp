// One refresh end to end: a feed served over HTTP on 127.0.0.1, through the download and the
// XML tree, into the status menu; how the entries look and act there, and the icon that blinks for
// news. (How the download and the parser stand up to each kind of attack, their own suites show.)

#include "AppHarness.h"
#include "PreferenceKeys.h"
#include "SessionServer.h"
#include "UserDefaults.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QTextDocument>

using namespace std::chrono_literals;

// What a label or tooltip shows of text: Qt lays out text that looks like markup as rich text.
static QString shownText(const QString& text) {
    if (!Qt::mightBeRichText(text))
        return text;
    QTextDocument document;
    document.setHtml(text);
    return document.toPlainText();
}

class TestRefresh : public QObject {
    Q_OBJECT

    // The machine's system bus, played by a dbus-daemon of the suite's own, with a stand-in for
    // logind on it. The program's first use of the system bus fixes its address for the process.
    std::unique_ptr<SessionServer> systemBus = SessionServer::bus();
    std::optional<QDBusConnection> logind;

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(systemBus);
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", systemBus->address().toUtf8());
        logind = QDBusConnection::connectToBus(systemBus->address(), "logind");
        QVERIFY(logind->registerService("org.freedesktop.login1"));
    }
    void cleanupTestCase() { QDBusConnection::disconnectFromBus("logind"); }

    // Each feed in feeds/, <name>.xml, read as a feed of the user's, gives the menu in <name>.menu:
    // title|link|source per entry ("-" where absent; "|disabled" and "|no image" follow where so),
    // at the top of the menu, then the home item's text|what it opens ("-" when disabled), then the
    // icon's tooltip. Lines "> Name: value" before them are headers the feed is served with; a
    // Location is where the feed's address redirects to, and the feed is served there; a Status
    // is the response's; a Warning (a pattern) is logged. {site} is the test server; lines that
    // begin with '#' are comments.
    //
    // Then, one line per step: "then N M...: marks" gives the marks (AppHarness::state()) after
    // the address next serves the entries N, M... (entry(N), or "-" for one without a link);
    // "then: marks" gives them as they stand; "click N M...: addresses" chooses the menu's entries
    // N, M... (from 0, the top) in turn and gives what they opened; "opened" is the user opening
    // the menu, which stops the blink. "fail STATUS: tooltip" serves that failure and refreshes;
    // "tooltip: text" gives the tooltip as it stands. "network local|online: marks" is news of
    // the network ("no refresh" when it starts none). "save PERIOD [trim] [source]: texts" saves
    // from the window (the period's index, the options on) and gives the entries' texts; "title N
    // TEXT" sets entry N's title by hand. A header "> No warning: pattern" fails the test on any
    // warning that matches.
    void everyFormatReadsIntoEntries_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QStringList>("read");
        const QDir feeds(dataPath("feeds"));
        for (const QFileInfo& feed : feeds.entryInfoList({"*.xml"}))
            QTest::newRow(qPrintable(feed.fileName()))
                << readAll(feed.filePath())
                << dataLines(feeds.filePath(feed.completeBaseName() + ".menu"));
        // A feed longer than the menu takes: its first 10,000 entries, in order. The feed's title
        // shows cut short, its '&' doubled.
        const QString title = QStringLiteral("Veltrano: news of the fish market & more");
        QList<FeedEntry> many;
        QStringList read;
        for (int n = 1; n <= 10001; ++n) {
            many.append(entry(QString::number(n)));
            read.append(QStringLiteral("Title %1|http://news.example/%1|Author %1").arg(n));
        }
        read.last() =
            QStringLiteral("Veltrano: news of the fish market &&...|http://veltrano.invalid/");
        read.append(QStringLiteral("Updated at <time>"));
        QTest::newRow("rss1 long") << FeedFixture::rdf(many, title) << read;
        QTest::newRow("rss2 long") << FeedFixture::rss2(many, title) << read;
        QTest::newRow("atom long") << FeedFixture::atom(many, title) << read;
    }
    void everyFormatReadsIntoEntries() {
        QFETCH(QByteArray, document);
        QFETCH(QStringList, read);
        // A feed of the user's: the home item is the feed's own.
        AppHarness h;
        const QString own = QStringLiteral("/notifications/own.xml");
        HttpServer::Response answer{.body = document, .contentType = "application/xml"};
        QString servedAt = own;
        for (; !read.isEmpty() && read.first().startsWith("> "); read.removeFirst()) {
            const QString name = read.first().mid(2).section(u':', 0, 0);
            const QByteArray value = read.first().section(u':', 1).trimmed().toUtf8();
            if (name == u"Location")
                servedAt = QString::fromUtf8(value);
            else if (name == u"Content-Type")
                answer.contentType = value;
            else if (name == u"Status")
                answer.status = value.toInt();
            else if (name == u"Warning")
                QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QString::fromUtf8(value)));
            else if (name == u"No warning")
                QTest::failOnWarning(QRegularExpression(QString::fromUtf8(value)));
            else
                QFAIL(qPrintable("no such header: " + name));
        }
        static const QRegularExpression isStep(
            QStringLiteral("^(then|click|opened|fail|tooltip|network|save|title)\\b"));
        QStringList steps;
        while (read.last().contains(isStep))
            steps.prepend(read.takeLast());
        h.server.setRoute(servedAt, answer);
        if (servedAt != own)
            h.server.redirect(own, servedAt.toUtf8(), 301);
        UserDefaults::standardUserDefaults().setString(h.server.url(own).toString(),
                                                       PreferenceKeys::FeedURL);
        h.start();
        QStringList shown;
        for (FeedMenuItem* item : h.feedItems()) {
            QCOMPARE(h.app->barMenu()->actions().indexOf(item), shown.size());
            shown.append(item->feedTitle().value_or(item->text()) + '|' +
                         item->feedLink().value_or("-") + '|' + item->feedSource().value_or("-") +
                         (item->isEnabled() ? "" : "|disabled") +
                         (item->icon().isNull() ? "|no image" : ""));
        }
        QAction* home = h.app->homeMenuItem();
        home->trigger();
        shown.append(home->text() + '|' +
                     (home->isEnabled() ? h.urls.opened.value(0).toString() : "-"));
        const auto tooltip = [&] {
            return h.app->statusItem()->toolTipDescription().replace(
                QRegularExpression("\\d+(:\\d\\d)+( [AP]M)?"), "<time>");
        };
        shown.append(tooltip());
        QCOMPARE(shown, read.replaceInStrings("{site}", h.site().chopped(1)));
        for (const QString& step : steps) {
            const QStringList args = step.section(u':', 0, 0).split(u' ').mid(1);
            const QString expected = step.section(u':', 1).trimmed();
            if (step == u"opened") {
                h.app->toggleBlink(false);
            } else if (step.startsWith("fail")) {
                h.serveFailure(args[0].toInt(), ".+", servedAt);
                QVERIFY(h.refresh());
                QCOMPARE(tooltip(), expected);
            } else if (step.startsWith("tooltip")) {
                QCOMPARE(tooltip(), expected);
            } else if (step.startsWith("network")) {
                QSignalSpy done(h.app.get(), &AppController::refreshFinished);
                h.app->systemEvents().reachabilityChanged(
                    args[0] == u"online" ? QNetworkInformation::Reachability::Online
                                         : QNetworkInformation::Reachability::Local);
                const bool refreshed = h.app->isRefreshing() && done.wait(10000);
                QCOMPARE(refreshed ? h.state() : "no refresh", expected);
            } else if (step.startsWith("save")) {
                h.save(args[0].toInt(), args.contains("source"), args.contains("trim"));
                QStringList texts;
                for (const FeedMenuItem* item : h.feedItems())
                    texts.append(item->text());
                QCOMPARE(texts.join(u'|'), expected);
            } else if (step.startsWith("title")) {
                h.feedItems().at(args[0].toInt())->setTitle(args.mid(1).join(u' '));
            } else if (step.startsWith("click")) {
                h.urls.opened.clear();
                for (const QString& n : args)
                    h.feedItems().at(n.toInt())->trigger();
                QCOMPARE(QUrl::toStringList(h.urls.opened).join(u' '), expected);
            } else {
                QList<FeedEntry> next;
                for (const QString& n : args)
                    next.append(n == u"-" ? FeedEntry{"No link", {}, {}} : entry(n));
                if (!next.isEmpty()) {
                    h.server.setRoute(servedAt, {.body = FeedFixture::rdf(next)});
                    QVERIFY(h.refresh());
                }
                QCOMPARE(h.state(), expected);
            }
        }
    }

    // Once its day is over, the time of the last update names its day. (Midnight is brought to
    // within seconds by a time zone of the test's own.)
    void aLastUpdateNamesItsDayOnceItIsOver() {
        AppHarness h({entry("1")});
        const StatusItem* item = h.start().statusItem();
        const int ahead = (86400 * 2 - 3 - QTime::currentTime().msecsSinceStartOfDay() / 1000 -
                           QDateTime::currentDateTime().offsetFromUtc()) %
                          86400;
        qputenv("TZ", QTime(0, 0).addSecs(ahead).toString("'PLK-'hh:mm:ss").toLatin1());
        QVERIFY(h.refresh());
        QVERIFY(item->toolTipDescription().startsWith("Updated at "));
        const QRegularExpression onItsDay(QStringLiteral("^Updated on .+ at "));
        QTRY_VERIFY_WITH_TIMEOUT(item->toolTipDescription().contains(onItsDay), 10000);
        qunsetenv("TZ");
    }

    void wakingUpCatchesUpOnARefreshThatFellDue() {
        AppHarness h({entry("1")});
        AppController& app = h.make();
        // The clock that counts sleep, moved by hand: the machine sleeps between two readings.
        std::chrono::milliseconds now = 0ms;
        app.systemEvents().setClock([&] { return now; });
        QVERIFY(h.finished([&] { app.awakeFromNib(); }));
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
        QVERIFY(h.finished(wakeUp));
        QCOMPARE(app.dataTimer()->interval(), period);
        QVERIFY(app.dataTimer()->remainingTime() > period - 1000);

        // Asleep for part of a period: no refresh now, and the timer keeps what was left of it.
        now += 1000s;
        QVERIFY(wakeUp());
        QTRY_COMPARE(app.dataTimer()->interval(), period - 1000 * 1000);
        QVERIFY(!app.isRefreshing());
    }

    // What arrives while the menu is open waits for it to close: the menu does not change under
    // the pointer, and the entry chosen there opens what it showed. Then the latest feed shows,
    // and its new top entry blinks.
    void theOpenMenuHoldsStill() {
        AppHarness h({entry("1")});
        AppController& app = h.start();
        QSignalSpy done(&app, &AppController::refreshFinished);
        h.serveFeed({entry("0"), entry("1")});
        app.updateData();
        QMenu* menu = app.barMenu();
        menu->popup(QPoint(10, 10));
        const QList<FeedMenuItem*> shown = h.feedItems();
        QTRY_VERIFY(!app.isRefreshing());
        h.serveFeed({entry("00"), entry("0"), entry("1")});
        app.updateData();
        QTRY_VERIFY(!app.isRefreshing());
        QCOMPARE(h.links().join(' ') + ' ' + h.state(), "http://news.example/1 blank");
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(shown[0]).center());
        QCOMPARE(h.urls.opened, QList<QUrl>{QUrl("http://news.example/1")});
        menu->popup(QPoint(10, 10)); // again, before the held refresh is applied: it waits on
        QVERIFY(!done.wait(50));
        menu->close();
        QVERIFY(done.wait(10000));
        QCOMPARE(h.links().first() + ' ' + h.state(),
                 "http://news.example/00 new new blank blinking");
    }

    void blinkingAndWhatStopsIt() {
        AppHarness h({entry("1")});
        AppController& app = h.start();
        StatusItem* item = app.statusItem();
        const auto blank = [&] {
            return QTest::qWaitFor([&] { return !item->hasImage(); }, 1500);
        };
        const auto showsIcon = [&] {
            return item->image().cacheKey() == app.icon().cacheKey();
        };
        app.toggleBlink(true);
        QCOMPARE(app.blinkTimer()->interval(), 750);
        QVERIFY(item->hasImage()); // nothing changes before the first phase ends
        QVERIFY(blank());
        QTRY_VERIFY_WITH_TIMEOUT(item->hasImage(), 1500);
        QVERIFY(showsIcon());

        // Stopped in the blank phase: the icon shows at once.
        QVERIFY(blank());
        app.toggleBlink(false);
        QVERIFY(!app.blinkTimer() && showsIcon());

        // Opening the menu stops it; the alternate image shows while the menu is open.
        app.toggleBlink(true);
        QVERIFY(blank());
        app.barMenu()->popup(QPoint(5, 5));
        QVERIFY(!app.blinkTimer() && showsIcon());
        QTRY_VERIFY(item->isHighlighted());
        QCOMPARE(item->shownImage().cacheKey(), item->alternateImage().cacheKey());
        app.barMenu()->hide();

        // So does a click on the tray icon (some hosts never announce the menu).
        app.toggleBlink(true);
        QVERIFY(blank());
        Q_EMIT item->activated();
        QVERIFY(!app.blinkTimer() && item->hasImage());
    }

    void titlesShowExactlyWhateverTheyHold() {
        // A source that looks like markup, naming an image Qt could read.
        const QString markup = "<img src=\"" + QFileInfo(QStringLiteral(__FILE__)).absolutePath() +
                               "/../../docs/pinglark-menu.png\"> <b>x</b>";
        AppHarness h({{"snake_case & AT&T\tand\nnew line", "http://x/2", markup}});
        h.start();
        const FeedMenuItem* item = h.feedItems().at(0);
        // No mnemonic, no shortcut column: Qt's menu shows the text as written. Its tooltip shows
        // the source as the characters it is.
        QCOMPARE(item->title() + '|' + item->text() + '|' + shownText(item->toolTip()),
                 "snake_case & AT&T\tand\nnew line|snake_case && AT&&T and\nnew line|" + markup);
    }
};

QTEST_MAIN(TestRefresh)
#include "tst_refresh.moc"
