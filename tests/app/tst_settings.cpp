// Settings in the running program: what start-up reads and keeps, the preferences window opened
// from the menu, and a save taking effect at once on the refresh timer, the entries' titles and
// the feed that is read.

#include "AppHarness.h"

#include "PreferenceKeys.h"
#include "Translations.h"
#include "UserDefaults.h"

#include <QPointer>

class TestSettings : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void firstRunThenALaterOne() {
        AppHarness h;
        h.server.setRoute(AppHarness::feedPath,
                          {.body = FeedFixture::rdf({entry("1"), entry("2")}), .etag = "\"v1\""});
        // An empty feed address means the built-in feed, and says nothing of it.
        UserDefaults defaults = UserDefaults::standardUserDefaults();
        defaults.setString(QString(), PreferenceKeys::FeedURL);
        QTest::failOnWarning(QRegularExpression("FeedURL"));
        AppController& first = h.start();
        QStringList stored;
        for (const QString& key : {PreferenceKeys::HasRun, PreferenceKeys::TrimTitle,
                                   PreferenceKeys::ShowSource, PreferenceKeys::DataRefreshInterval})
            stored.append(defaults.stringForKey(key).value_or("-"));
        QCOMPARE(stored.join(u'|'), QStringLiteral("true|1|0|1800"));
        QVERIFY(first.trimTitle() && !first.showSource()); // the store and the fields agree
        QVERIFY(first.statusItem()->isEnabled());
        QCOMPARE(first.statusItem()->toolTip(), QStringLiteral("Pinglark"));
        // Every image comes from the resources, distinct, rendered once per size and kept (a
        // blink must not render again), never above 64 px (the panel may get every pixel).
        QSet<qint64> keys;
        for (const QIcon& icon : {first.icon(), first.newIcon(), first.newIconClicked(),
                                  first.blankIcon(), first.statusItem()->alternateImage()}) {
            QCOMPARE(icon.pixmap(22, 22).cacheKey(), icon.pixmap(22, 22).cacheKey());
            QCOMPARE(icon.pixmap(22, 22).size(), QSize(22, 22));
            QCOMPARE(icon.pixmap(512, 512).size(), QSize(64, 64));
            keys.insert(icon.cacheKey());
        }
        QCOMPARE(keys.size(), 5);
        const QImage shown = first.icon().pixmap(22, 22).toImage();
        int opaque = 0;
        for (int i = 0; i < 22 * 22; ++i)
            opaque += qAlpha(shown.pixel(i % 22, i / 22)) > 0;
        QVERIFY(opaque > 22);

        // A later run reads the store and writes nothing, not even over a feed address it
        // refuses. It asks conditionally from its first request on; the 304 shows the kept feed.
        h.app.reset();
        defaults.setFloat(0.0f, PreferenceKeys::TrimTitle);
        defaults.setBool(true, PreferenceKeys::ShowSource);
        defaults.setString(QStringLiteral("file:///etc/passwd"), PreferenceKeys::FeedURL);
        QTest::ignoreMessage(QtWarningMsg, "FeedURL \"file:///etc/passwd\" is not an absolute http "
                                           "or https address: reading the built-in feed");
        const QByteArray before = readAll(defaults.filePath());
        AppController& later = h.start();
        QVERIFY(!later.trimTitle() && later.showSource());
        QCOMPARE(readAll(defaults.filePath()), before);
        QCOMPARE(h.server.lastRequest(AppHarness::feedPath)->header("If-None-Match"), "\"v1\"");
        QCOMPARE(h.links().size(), 2);
    }

    // Each line of periods.txt: a stored period (nothing when absent), then the timer's interval
    // in ms that it gives (-1: no timer).
    void refreshPeriodFromTheStore() {
        for (const QString& line : dataLines(dataPath("periods.txt"))) {
            AppHarness h;
            if (!line.startsWith(u'|'))
                UserDefaults::standardUserDefaults().setString(line.section(u'|', 0, 0),
                                                               PreferenceKeys::DataRefreshInterval);
            AppController& app = h.make();
            app.updateDataRefreshInterval();
            QCOMPARE(app.dataTimer() ? app.dataTimer()->interval() : -1,
                     line.section(u'|', 1).toInt());
        }
    }

    void savedPeriodTakesEffectAtOnce() {
        AppHarness h({entry("1")});
        // A one-second period set by hand, then "Never" chosen in the window.
        UserDefaults::standardUserDefaults().setString("1", PreferenceKeys::DataRefreshInterval);
        AppController& app = h.start();
        QTRY_VERIFY_WITH_TIMEOUT(h.server.requestCount(AppHarness::feedPath) >= 2, 5000);

        // Opened from the menu, closed, then opened again: the same controller and window, shown
        // in front again.
        app.preferencesMenuItem()->trigger();
        PreferenceController* prefs = app.preferencesController();
        QWidget* window = prefs->window();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QVERIFY(window->close());
        window->setWindowState(Qt::WindowMinimized);
        app.preferencesMenuItem()->trigger();
        QVERIFY(app.preferencesController() == prefs && prefs->window() == window);
        QVERIFY(!window->isMinimized());
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTRY_VERIFY(!app.isRefreshing());
        h.save(3, false, true);
        QVERIFY(!app.dataTimer());

        h.save(0, false, true);
        // The same period again: a new timer, counting down from a full period.
        QPointer<QTimer> before = app.dataTimer();
        h.save(0, false, true);
        QVERIFY(!before);
        // Another period takes effect at once.
        h.save(2, false, true);
        QCOMPARE(app.dataTimer()->interval(), 3600 * 1000);
    }

    // Each line of titles.txt: a title, its source ("-" for none), "trim" where titles are trimmed,
    // "source" where sources are shown, and the title the menu shows.
    void displayTitle() {
        for (const QString& line : dataLines(dataPath("titles.txt"))) {
            const QStringList field = line.split(u'|');
            const std::optional<QString> source =
                field[1] == u"-" ? std::nullopt : std::optional(field[1]);
            QCOMPARE(AppController::displayTitle(field[0], source, field[2] == u"trim",
                                                 field[3] == u"source"),
                     field[4]);
        }
    }

    void aChangedFeedAddressIsReadAtOnceAsAFirstCheck() {
        AppHarness h({entry("1"), entry("2")});
        AppController& app = h.start();
        h.server.serve("/own.xml", FeedFixture::rss2({entry("7"), entry("8")}, "Own news"));
        // The old feed blinks for a new top entry, and its next refresh is still in flight when
        // the address changes.
        h.serveFeed({entry("0"), entry("1"), entry("2")});
        QVERIFY(h.refresh());
        QCOMPARE(h.state(), "new blank blank blinking");
        h.server.hang(AppHarness::feedPath);
        app.updateData();
        QTRY_COMPARE(h.server.requestCount(AppHarness::feedPath), 3);

        // Saved in the window: read now (not at the next period), marking nothing and not
        // blinking; the old fetch brings nothing.
        QVERIFY(h.finished([&] { h.save(1, false, true, h.server.url("/own.xml").toString()); }));
        QCOMPARE(h.links().join(' ') + ' ' + h.state(),
                 "http://news.example/7 http://news.example/8 blank blank");

        // What the old feed brought while the menu was open waits for the menu to close; a
        // change of address drops it, so the menu never shows it.
        h.server.serve("/own.xml", FeedFixture::rss2({entry("5")}, "Own news"));
        app.barMenu()->popup(QPoint(10, 10));
        app.updateData();
        QTRY_VERIFY(!app.isRefreshing());
        const QUrl slow = h.server.url("/slow.xml");
        h.server.hang(slow.path());
        app.useFeedAddress(slow.toString());
        app.barMenu()->hide();
        QCoreApplication::processEvents();
        QCOMPARE(h.links(), QStringList({"http://news.example/7", "http://news.example/8"}));

        // Handed over by a later start: kept, read at once, and shown at the window's next
        // opening. A bad one changes nothing.
        const QString other = h.server.url("/other.xml").toString();
        h.server.serve("/other.xml", FeedFixture::atom({entry("9")}, "Other news"));
        QTest::ignoreMessage(QtWarningMsg, "Feed address \"ftp://x/feed\" refused: it is not an "
                                           "absolute http or https address");
        app.useFeedAddress("ftp://x/feed");
        QCOMPARE(app.feedAddress(), slow);
        QVERIFY(h.finished([&] { app.useFeedAddress(other); }));
        QCOMPARE(h.links().join(' ') + ' ' + h.state(), "http://news.example/9 blank");
        app.preferencesMenuItem()->trigger();
        const QLineEdit* field = app.preferencesController()->feedAddressEdit();
        QCOMPARE(field->text() + '|' + field->placeholderText(),
                 other + '|' + h.server.url(AppHarness::feedPath).toString());

        // An empty field: the built-in feed again, with its own home item even while it fails.
        h.serveFailure(404);
        QVERIFY(h.finished([&] { h.save(1, false, true, QString()); }));
        QCOMPARE(app.homeMenuItem()->text(), "Veltrano Feeds");
        // Nor is another feed's last update its own.
        QVERIFY(!app.statusItem()->toolTipDescription().contains("last updated"));
        app.homeMenuItem()->trigger();
        QCOMPARE(h.urls.opened, QList{h.server.url("/go/rss_info")});
    }

    // Each language as main installs it: the menu and preferences texts, and why the refresh
    // failed in the tooltip (the download's words, then the reader's), none in English; the log
    // lines stay in English. texts.txt holds some of each language's texts.
    void textsInEachLanguage_data() {
        QTest::addColumn<QStringList>("expected");
        for (const QString& line : dataLines(dataPath("texts.txt")))
            QTest::newRow(qPrintable(line.section(u'|', 0, 0))) << line.split(u'|').mid(1);
    }
    void textsInEachLanguage() {
        QFETCH(QStringList, expected);
        QStringList texts[2]; // in the row's language, then in C
        for (QStringList& all : texts) {
            installTranslations(QLocale(&all == texts ? QTest::currentDataTag() : "C"));
            AppHarness h;
            h.serveFailure(304, ".+ without an earlier copy"); // a failure in words of our own
            AppController& app = h.start();
            all << app.statusItem()->toolTipDescription().section(": ", 1); // after the time
            h.server.serve(AppHarness::feedPath, "<?xml version='1.0' encoding='x-none'?><r/>");
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("unknown encoding \"x-none\"$"));
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("RSS element not found"));
            QVERIFY(h.refresh());
            all << app.statusItem()->toolTipDescription().section(": ", 1);
            app.preferencesMenuItem()->trigger();
            for (const QAction* item : app.barMenu()->actions()) // "No Data Loaded" among them
                all << item->text();
            PreferenceController* prefs = app.preferencesController();
            for (const QWidget* widget : prefs->window()->findChildren<QWidget*>())
                all << widget->window()->windowTitle() << widget->accessibleName()
                    << widget->accessibleDescription() << widget->property("text").toString();
            for (int i = 0; i < prefs->intervalCombo()->count(); ++i)
                all << prefs->intervalCombo()->itemText(i);
            all.removeAll(QString());
        }
        for (const QString& text : expected)
            QVERIFY2(texts[0].contains(text), qPrintable(text));
        for (const QString& text : texts[0])
            QVERIFY2(texts[1].contains(text) == (texts[0] == texts[1]), qPrintable(text));
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
