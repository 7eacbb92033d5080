// Start-up: the settings it keeps, its images, the refresh timer and the feed address it reads.

#include "AppHarness.h"

#include "PreferenceKeys.h"
#include "UserDefaults.h"

class TestStartup : public QObject {
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

    void refreshPeriodFromTheStore() {
        // Stored period ("" = absent) and the timer it gives (-1 = none).
        const std::pair<QString, int> cases[] = {{"", 1800000},   {"0", -1},
                                                 {"600", 600000}, {"-5", -1},
                                                 {"0.01", 1000},  {"1e9", 24 * 24 * 3600 * 1000}};
        for (const auto& [stored, ms] : cases) {
            AppHarness h;
            if (!stored.isEmpty())
                UserDefaults::standardUserDefaults().setString(stored,
                                                               PreferenceKeys::DataRefreshInterval);
            AppController& app = h.make();
            app.updateDataRefreshInterval();
            QCOMPARE(app.dataTimer() ? app.dataTimer()->interval() : -1, ms);
        }
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
