// A process killed at any moment while it saves leaves every file it was writing either as it was
// or as it was going to be, never torn: the settings file and the login items stay readable.

#include "LaunchAtLogin.h"
#include "PreferenceKeys.h"
#include "UserDefaults.h"

#include <QtTest>

#include <csignal>

class TestCrashSafety : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void killedWhileSaving() {
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());

        const QString settingsFile = config.path() + QStringLiteral("/Veltrano/Pinglark.conf");
        for (int round = 0; round < 20; ++round) {
            QProcess process;
            process.start(QCoreApplication::applicationDirPath() + "/save_loop");
            // A save killed just as it took the settings lock leaves a lock file that names no
            // process: the next save waits for it to go stale (30 s) before it writes.
            QVERIFY(process.waitForReadyRead(45000));
            QTest::qSleep(int(QRandomGenerator::global()->bounded(1, 40)));
            ::kill(pid_t(process.processId()), SIGKILL);
            QVERIFY(process.waitForFinished(10000));

            // The settings file parses and holds a whole period the saver wrote; the login
            // domain is a JSON object whose list holds the entry at most once.
            QCOMPARE(QSettings(settingsFile, QSettings::IniFormat).status(), QSettings::NoError);
            const float period =
                UserDefaults(settingsFile).floatForKey(PreferenceKeys::DataRefreshInterval);
            QVERIFY2(period >= 1 && period == float(int(period)),
                     qPrintable(QString::number(period)));
            const QJsonValue list = UserDefaults::persistentDomainForName("loginwindow")
                                        .value_or(QJsonObject())
                                        .value(QStringLiteral("AutoLaunchedApplicationDictionary"));
            QVERIFY(list.isArray() && list.toArray().size() <= 1);
        }
    }
};

QTEST_GUILESS_MAIN(TestCrashSafety)
#include "tst_crashsafety.moc"
