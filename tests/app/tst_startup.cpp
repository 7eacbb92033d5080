// Start-up, the settings it keeps, the refresh timer, and tear-down.

#include "AppHarness.h"

#include "PreferenceKeys.h"
#include "UserDefaults.h"

#include <QFile>
#include <QPointer>

class TestStartup : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void firstRun() {
        AppHarness h({entry("1")});
        AppController& app = h.make();
        bool firstCheckDuringRefresh = false;
        QObject::connect(&h.server, &HttpServer::requestReceived, &app,
                         [&] { firstCheckDuringRefresh = app.firstCheck(); });
        QVERIFY(h.launch());
        QVERIFY(firstCheckDuringRefresh);

        UserDefaults defaults = UserDefaults::standardUserDefaults();
        QVERIFY(defaults.boolForKey(PreferenceKeys::HasRun));
        QCOMPARE(defaults.floatForKey(PreferenceKeys::TrimTitle), 1.0f);
        QVERIFY(defaults.contains(PreferenceKeys::ShowSource));
        QVERIFY(!defaults.boolForKey(PreferenceKeys::ShowSource));
        QCOMPARE(defaults.floatForKey(PreferenceKeys::DataRefreshInterval), 1800.0f);
        QVERIFY(app.trimTitle());
        QVERIFY(!app.showSource()); // the store and the field agree
        QVERIFY(app.dataTimer() && app.dataTimer()->isActive());
        QCOMPARE(app.dataTimer()->interval(), 1800 * 1000);

        QCOMPARE(app.statusItem()->toolTip(), QStringLiteral("Pinglark"));
        QCOMPARE(app.homeMenuItem()->text(), QStringLiteral("Veltrano Feeds"));
        QCOMPARE(app.aboutMenuItem()->text(), QStringLiteral("About Pinglark"));
        QCOMPARE(app.quitMenuItem()->text(), QStringLiteral("Quit Pinglark"));
        QCOMPARE(app.statusItem()->image().cacheKey(), app.icon().cacheKey());
        QVERIFY(app.statusItem()->isEnabled());
        QCOMPARE(app.statusItem()->menu(), app.barMenu());
        // Every image came from the program's resources, and they are distinct.
        QSet<qint64> keys;
        for (const QIcon& icon : {app.icon(), app.newIcon(), app.newIconClicked(), app.blankIcon(),
                                  app.statusItem()->alternateImage()}) {
            QVERIFY(!icon.isNull());
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
        const QImage shown = app.icon().pixmap(22, 22).toImage();
        int opaque = 0;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x)
                opaque += qAlpha(shown.pixel(x, y)) > 0;
        QVERIFY(opaque > 22);
    }

    void laterRunReadsTheStore() {
        AppHarness h({entry("1")});
        {
            UserDefaults defaults = UserDefaults::standardUserDefaults();
            defaults.setBool(true, PreferenceKeys::HasRun);
            defaults.setFloat(0.0f, PreferenceKeys::TrimTitle);
            defaults.setBool(true, PreferenceKeys::ShowSource);
            defaults.setFloat(900.0f, PreferenceKeys::DataRefreshInterval);
        }
        QFile file(UserDefaults::standardUserDefaults().filePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();

        AppController& app = h.start();
        QVERIFY(!app.trimTitle());
        QVERIFY(app.showSource());
        QCOMPARE(app.dataTimer()->interval(), 900 * 1000);
        // A later start writes nothing of its own.
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
    }

    void refreshPeriodFromTheStore_data() {
        QTest::addColumn<QString>("stored"); // "" = absent; the store keeps what it held
        QTest::addColumn<int>("expectedMs"); // -1 = no timer
        QTest::newRow("absent") << "" << 1800000;
        QTest::newRow("never") << "0" << -1;
        QTest::newRow("any other period") << "600" << 600000;
        QTest::newRow("negative") << "-5" << -1;
        QTest::newRow("not a number") << "soon" << -1;
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

    void feedAddressFromTheStore_data() {
        QTest::addColumn<QString>("stored"); // "<absent>": no key
        QTest::addColumn<bool>("refused");
        QTest::newRow("absent") << "<absent>" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("file") << "file:///etc/passwd" << true;
        QTest::newRow("ftp") << "ftp://news.example/feed.xml" << true;
        QTest::newRow("text") << "my news" << true;
        QTest::newRow("no scheme") << "news.example/feed.xml" << true;
    }
    void feedAddressFromTheStore() {
        QFETCH(QString, stored);
        QFETCH(bool, refused);
        AppHarness h({entry("1")});
        UserDefaults defaults = UserDefaults::standardUserDefaults();
        if (stored != "<absent>")
            defaults.setString(stored, PreferenceKeys::FeedURL);
        // One line names the value refused.
        if (refused)
            QTest::ignoreMessage(QtWarningMsg, qPrintable("FeedURL \"" + stored +
                                                          "\" is not an absolute http or https "
                                                          "address: reading the built-in feed"));
        QTest::failOnWarning(QRegularExpression("FeedURL"));
        AppController& app = h.start();
        QCOMPARE(app.feedAddress(), h.server.url(AppHarness::feedPath));
        QCOMPARE(h.links(), QStringList{"http://news.example/1"});
        QCOMPARE(app.homeMenuItem()->text(), "Veltrano Feeds");
        // The user's value is never rewritten.
        QCOMPARE(defaults.stringForKey(PreferenceKeys::FeedURL).value_or("<absent>"), stored);
    }

    void tearDownStopsBothTimers() {
        AppHarness h({entry("1")});
        AppController& app = h.start();
        app.toggleBlink(true);
        QPointer<QTimer> blink = app.blinkTimer();
        QPointer<QTimer> data = app.dataTimer();
        QVERIFY(blink && data);
        h.app.reset();
        QVERIFY(!blink && !data);
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
