// Start-up: the settings it keeps, its images, the refresh timer and the feed address it reads.

#include "AppHarness.h"

#include "PreferenceKeys.h"
#include "UserDefaults.h"

#include <QFile>

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
        QVERIFY(defaults.boolForKey(PreferenceKeys::HasRun));
        QCOMPARE(defaults.floatForKey(PreferenceKeys::TrimTitle), 1.0f);
        QVERIFY(defaults.contains(PreferenceKeys::ShowSource));
        QVERIFY(!defaults.boolForKey(PreferenceKeys::ShowSource));
        QCOMPARE(defaults.floatForKey(PreferenceKeys::DataRefreshInterval), 1800.0f);
        QVERIFY(first.trimTitle());
        QVERIFY(!first.showSource()); // the store and the field agree
        QCOMPARE(first.dataTimer()->interval(), 1800 * 1000);
        QVERIFY(first.statusItem()->isEnabled());
        QCOMPARE(first.statusItem()->toolTip(), QStringLiteral("Pinglark"));
        // Every image came from the program's resources, and they are distinct.
        QSet<qint64> keys;
        for (const QIcon& icon : {first.icon(), first.newIcon(), first.newIconClicked(),
                                  first.blankIcon(), first.statusItem()->alternateImage()}) {
            QVERIFY(!icon.availableSizes().isEmpty());
            // Rendered once per size and kept (a blink must not render again), never above
            // 64 px (the panel may be sent every pixel on every change).
            QCOMPARE(icon.pixmap(22, 22).cacheKey(), icon.pixmap(22, 22).cacheKey());
            QCOMPARE(icon.pixmap(22, 22).size(), QSize(22, 22));
            QCOMPARE(icon.pixmap(512, 512).size(), QSize(64, 64));
            keys.insert(icon.cacheKey());
        }
        QCOMPARE(keys.size(), 5);
        // The tray's picture really is drawn.
        const QImage shown = first.icon().pixmap(22, 22).toImage();
        int opaque = 0;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x)
                opaque += qAlpha(shown.pixel(x, y)) > 0;
        QVERIFY(opaque > 22);

        // A later run reads the store and writes nothing of its own, not even over a feed address
        // it refuses (one line names it). It asks for the feed conditionally from its first
        // request on, and the 304 shows the document kept from the run before.
        h.app.reset();
        defaults.setFloat(0.0f, PreferenceKeys::TrimTitle);
        defaults.setBool(true, PreferenceKeys::ShowSource);
        defaults.setFloat(900.0f, PreferenceKeys::DataRefreshInterval);
        defaults.setString(QStringLiteral("file:///etc/passwd"), PreferenceKeys::FeedURL);
        QTest::ignoreMessage(QtWarningMsg, "FeedURL \"file:///etc/passwd\" is not an absolute http "
                                           "or https address: reading the built-in feed");
        QFile file(defaults.filePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();
        AppController& later = h.start();
        QVERIFY(!later.trimTitle());
        QVERIFY(later.showSource());
        QCOMPARE(later.dataTimer()->interval(), 900 * 1000);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
        const HttpServer::Request asked = *h.server.lastRequest(AppHarness::feedPath);
        QCOMPARE(asked.header("If-None-Match"), QByteArray("\"v1\""));
        QCOMPARE(asked.bodyBytesSent, 0);
        QCOMPARE(h.links().size(), 2);
    }

    void refreshPeriodFromTheStore_data() {
        QTest::addColumn<QString>("stored"); // "" = absent; the store keeps what it held
        QTest::addColumn<int>("expectedMs"); // -1 = no timer
        QTest::newRow("absent") << "" << 1800000;
        QTest::newRow("never") << "0" << -1;
        QTest::newRow("any other period") << "600" << 600000;
        QTest::newRow("negative") << "-5" << -1;
        QTest::newRow("under a second") << "0.01" << 1000;
        QTest::newRow("over 24 days") << "1e9" << 24 * 24 * 3600 * 1000;
    }
    void refreshPeriodFromTheStore() {
        QFETCH(QString, stored);
        QFETCH(int, expectedMs);
        AppHarness h;
        if (!stored.isEmpty())
            UserDefaults::standardUserDefaults().setString(stored,
                                                           PreferenceKeys::DataRefreshInterval);
        AppController& app = h.make();
        app.updateDataRefreshInterval();
        if (expectedMs < 0) {
            QVERIFY(!app.dataTimer());
        } else {
            QVERIFY(app.dataTimer() && app.dataTimer()->isActive());
            QCOMPARE(app.dataTimer()->interval(), expectedMs);
        }
        const std::optional<QString> after =
            UserDefaults::standardUserDefaults().stringForKey(PreferenceKeys::DataRefreshInterval);
        QCOMPARE(after.value_or(QStringLiteral("<absent>")).toDouble(),
                 stored.isEmpty() ? 1800.0 : stored.toDouble());
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
