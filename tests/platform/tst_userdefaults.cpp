#include "UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <limits>
#include <unistd.h>

namespace {

struct Probed {
    bool contains = false;
    bool boolValue = false;
    float floatValue = 0;
};

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

} // namespace

class TestUserDefaults : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_config;

    QString storePath() const {
        return m_config->path() + QStringLiteral("/Veltrano/Pinglark.conf");
    }

    // Reads the keys in a separate process: what the application sees after a restart.
    QHash<QString, Probed> probe(const QStringList& keys) {
        QHash<QString, Probed> result;
        QProcess process;
        process.start(QStringLiteral(USERDEFAULTS_PROBE), keys);
        if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit ||
            process.exitCode() != 0) {
            qWarning() << "probe failed" << process.readAllStandardError();
            return result;
        }
        const QList<QByteArray> lines = process.readAllStandardOutput().split('\n');
        for (const QByteArray& line : lines) {
            const QList<QByteArray> fields = line.split(' ');
            if (fields.size() != 4) {
                continue;
            }
            Probed p;
            p.contains = fields[1] == "contains=1";
            p.boolValue = fields[2] == "bool=1";
            p.floatValue = fields[3].mid(int(sizeof "float=") - 1).toFloat();
            result.insert(QString::fromUtf8(fields[0]), p);
        }
        return result;
    }

private Q_SLOTS:
    void init() {
        // A fresh configuration folder per test: the store's location follows XDG_CONFIG_HOME.
        m_config = std::make_unique<QTemporaryDir>();
        QVERIFY(m_config->isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config->path()));
    }

    void cleanup() {
        // Make a folder a test locked writable again, so that it can be removed.
        QFile::setPermissions(m_config->path() + QStringLiteral("/Veltrano"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_config.reset();
    }

    void writesAreSeenAtOnceAndAfterRestart() {
        UserDefaults defaults = UserDefaults::standardUserDefaults();
        QCOMPARE(defaults.filePath(), storePath());

        defaults.setBool(true, QStringLiteral("HasRun"));
        defaults.setFloat(0, QStringLiteral("ShowSource")); // the first run writes numbers
        defaults.setFloat(1, QStringLiteral("TrimTitle"));
        defaults.setFloat(1800, QStringLiteral("DataRefreshInterval"));
        defaults.setFloat(0.1f, QStringLiteral("Fraction"));
        defaults.setBool(false, QStringLiteral("Off"));

        // Every write is on disk before the call returns: a new process reads them back typed.
        const QHash<QString, Probed> after =
            probe({QStringLiteral("HasRun"), QStringLiteral("ShowSource"),
                   QStringLiteral("TrimTitle"), QStringLiteral("DataRefreshInterval"),
                   QStringLiteral("Fraction"), QStringLiteral("Off")});
        QCOMPARE(after.size(), 6);
        QCOMPARE(after[QStringLiteral("HasRun")].boolValue, true);
        QCOMPARE(after[QStringLiteral("ShowSource")].boolValue, false);
        QCOMPARE(after[QStringLiteral("TrimTitle")].boolValue, true);
        QCOMPARE(after[QStringLiteral("DataRefreshInterval")].floatValue, 1800.0f);
        QCOMPARE(after[QStringLiteral("Fraction")].floatValue, 0.1f);
        QCOMPARE(after[QStringLiteral("Off")].boolValue, false);
        QCOMPARE(after[QStringLiteral("Off")].contains, true);

        // The same answers in this run, from the same object and from a new one.
        const UserDefaults again = UserDefaults::standardUserDefaults();
        for (const UserDefaults* store : {&std::as_const(defaults), &again}) {
            QCOMPARE(store->boolForKey(QStringLiteral("HasRun")), true);
            QCOMPARE(store->boolForKey(QStringLiteral("ShowSource")), false);
            QCOMPARE(store->boolForKey(QStringLiteral("TrimTitle")), true);
            QCOMPARE(store->floatForKey(QStringLiteral("DataRefreshInterval")), 1800.0f);
            QCOMPARE(store->floatForKey(QStringLiteral("Fraction")), 0.1f);
        }

        // A later write replaces the value, also across a restart.
        defaults.setBool(false, QStringLiteral("TrimTitle"));
        QCOMPARE(again.boolForKey(QStringLiteral("TrimTitle")), false);
        QCOMPARE(probe({QStringLiteral("TrimTitle")})[QStringLiteral("TrimTitle")].boolValue,
                 false);
    }

    void absentKeyIsNotAStoredZero() {
        UserDefaults defaults = UserDefaults::standardUserDefaults();
        const QString key = QStringLiteral("DataRefreshInterval");
        QVERIFY(!defaults.contains(key));
        QCOMPARE(defaults.floatForKey(key), 0.0f);
        QCOMPARE(defaults.boolForKey(key), false);
        QCOMPARE(defaults.stringForKey(key), std::nullopt);
        QCOMPARE(probe({key})[key].contains, false);

        defaults.setFloat(0, key);
        QVERIFY(defaults.contains(key));
        QCOMPARE(defaults.floatForKey(key), 0.0f);
        const Probed stored = probe({key})[key];
        QCOMPARE(stored.contains, true);
        QCOMPARE(stored.floatValue, 0.0f);

        defaults.removeObject(key);
        QVERIFY(!defaults.contains(key));
        QCOMPARE(probe({key})[key].contains, false);
    }

    // What a file holds is text; each is read the way it would be after a restart.
    void textInTheFileReadsTyped_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("boolValue");
        QTest::addColumn<float>("floatValue");
        QTest::newRow("0") << QByteArray("0") << false << 0.0f;
        QTest::newRow("0.0") << QByteArray("0.0") << false << 0.0f;
        QTest::newRow("0e0") << QByteArray("0e0") << false << 0.0f;
        QTest::newRow("-0") << QByteArray("-0") << false << 0.0f;
        QTest::newRow("1") << QByteArray("1") << true << 1.0f;
        QTest::newRow("1.0") << QByteArray("1.0") << true << 1.0f;
        QTest::newRow("0.5") << QByteArray("0.5") << true << 0.5f;
        QTest::newRow("negative") << QByteArray("-900") << true << -900.0f;
        QTest::newRow("blanks") << QByteArray("  900 ") << true << 900.0f;
        QTest::newRow("true") << QByteArray("true") << true << 0.0f;
        QTest::newRow("false") << QByteArray("false") << false << 0.0f;
        QTest::newRow("not a number") << QByteArray("soon") << false << 0.0f;
        QTest::newRow("comma decimal") << QByteArray("1,5") << false << 0.0f;
        QTest::newRow("empty") << QByteArray("") << false << 0.0f;
        QTest::newRow("beyond float")
            << QByteArray("1e300") << true << std::numeric_limits<float>::infinity();
    }

    void textInTheFileReadsTyped() {
        QFETCH(QByteArray, text);
        QFETCH(bool, boolValue);
        QFETCH(float, floatValue);
        writeAll(storePath(), "[General]\nValue=" + text + "\n");

        const UserDefaults defaults = UserDefaults::standardUserDefaults();
        QCOMPARE(defaults.boolForKey(QStringLiteral("Value")), boolValue);
        QCOMPARE(defaults.floatForKey(QStringLiteral("Value")), floatValue);
        const Probed probed = probe({QStringLiteral("Value")})[QStringLiteral("Value")];
        QCOMPARE(probed.boolValue, boolValue);
        QCOMPARE(probed.floatValue, floatValue);
    }

    void fileStaysHumanReadable() {
        UserDefaults defaults = UserDefaults::standardUserDefaults();
        defaults.setFloat(1800, QStringLiteral("DataRefreshInterval"));
        defaults.setFloat(0.25f, QStringLiteral("Quarter"));
        defaults.setBool(true, QStringLiteral("TrimTitle"));
        defaults.setString(QStringLiteral("@home, sweet"), QStringLiteral("Text"));

        const QByteArray file = readAll(storePath());
        QVERIFY2(!file.contains("@Variant"), file.constData());
        QVERIFY2(file.contains("DataRefreshInterval=1800\n"), file.constData());
        QVERIFY2(file.contains("Quarter=0.25\n"), file.constData());
        QVERIFY2(file.contains("TrimTitle=true\n"), file.constData());
        QCOMPARE(defaults.stringForKey(QStringLiteral("Text")), QStringLiteral("@home, sweet"));
    }

    void damagedFileGivesDefaultsAndIsRepaired() {
        writeAll(storePath(),
                 QByteArray("\x00\x01\xff\xfe[[[=\n\x80[General\nTrimTitle=\"1\n", 32));
        UserDefaults defaults = UserDefaults::standardUserDefaults();
        QCOMPARE(defaults.boolForKey(QStringLiteral("HasRun")), false);
        QCOMPARE(defaults.floatForKey(QStringLiteral("DataRefreshInterval")), 0.0f);

        // The next write gives a file that reads back cleanly.
        defaults.setFloat(900, QStringLiteral("DataRefreshInterval"));
        QVERIFY(defaults.synchronize());
        QCOMPARE(
            probe({QStringLiteral("DataRefreshInterval")})[QStringLiteral("DataRefreshInterval")]
                .floatValue,
            900.0f);
    }

    void failedWriteIsReported() {
        // A plain file where the store's folder belongs: no one, not even root, can write there.
        writeAll(m_config->path() + QStringLiteral("/Veltrano"), "not a folder");
        UserDefaults defaults = UserDefaults::standardUserDefaults();
        QCOMPARE(defaults.boolForKey(QStringLiteral("HasRun")), false);
        defaults.setBool(true, QStringLiteral("HasRun"));
        QVERIFY(!defaults.synchronize());
        // The value stays in memory for the rest of the run.
        QCOMPARE(defaults.boolForKey(QStringLiteral("HasRun")), true);

        // Once the obstacle is gone, the pending value is written and reported as such.
        QVERIFY(QFile::remove(m_config->path() + QStringLiteral("/Veltrano")));
        QVERIFY(QDir().mkpath(m_config->path() + QStringLiteral("/Veltrano")));
        QVERIFY(defaults.synchronize());
        QCOMPARE(probe({QStringLiteral("HasRun")})[QStringLiteral("HasRun")].boolValue, true);
    }

    void readOnlyFolderIsReported() {
        if (::geteuid() == 0) {
            QSKIP("root writes into read-only folders");
        }
        UserDefaults defaults = UserDefaults::standardUserDefaults();
        defaults.setBool(true, QStringLiteral("HasRun"));
        QVERIFY(defaults.synchronize());
        QVERIFY(QFile::setPermissions(m_config->path() + QStringLiteral("/Veltrano"),
                                      QFile::ReadOwner | QFile::ExeOwner));
        QFile::setPermissions(storePath(), QFile::ReadOwner);
        defaults.setBool(false, QStringLiteral("HasRun"));
        QVERIFY(!defaults.synchronize());
        QCOMPARE(probe({QStringLiteral("HasRun")})[QStringLiteral("HasRun")].boolValue, true);
    }

    void persistentDomainRoundTrip() {
        const QString name = QStringLiteral("loginwindow");
        QCOMPARE(UserDefaults::persistentDomainForName(name), std::nullopt);
        QVERIFY(!UserDefaults::persistentDomainIsUnreadable(name));

        // The configuration folder itself may not exist yet.
        const QString nested = m_config->path() + QStringLiteral("/not/yet");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(nested));
        QJsonObject domain;
        domain.insert(QStringLiteral("Zeta"), 1);
        domain.insert(QStringLiteral("AutoLaunchedApplicationDictionary"),
                      QJsonArray{QJsonObject{{QStringLiteral("Hide"), false},
                                             {QStringLiteral("Path"), QStringLiteral("/a b/é")}}});
        QVERIFY(UserDefaults::setPersistentDomain(domain, name));
        QVERIFY(QFile::exists(nested + QStringLiteral("/loginwindow.json")));
        QCOMPARE(UserDefaults::persistentDomainForName(name), domain);

        // Replaced whole.
        QVERIFY(UserDefaults::setPersistentDomain(QJsonObject{}, name));
        QCOMPARE(UserDefaults::persistentDomainForName(name), QJsonObject{});
    }

    void unreadableDomain_data() {
        QTest::addColumn<QByteArray>("contents");
        QTest::newRow("not JSON") << QByteArray("{\"Key\": ");
        QTest::newRow("an array") << QByteArray("[1, 2]");
        QTest::newRow("empty file") << QByteArray();
    }

    void unreadableDomain() {
        QFETCH(QByteArray, contents);
        const QString path = m_config->path() + QStringLiteral("/loginwindow.json");
        writeAll(path, contents);
        QCOMPARE(UserDefaults::persistentDomainForName(QStringLiteral("loginwindow")),
                 std::nullopt);
        QVERIFY(UserDefaults::persistentDomainIsUnreadable(QStringLiteral("loginwindow")));
        QCOMPARE(readAll(path), contents);
    }

    void domainNameCannotLeaveTheFolder() {
        QVERIFY(QDir().mkpath(m_config->path() + QStringLiteral("/inner")));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config->path() + QStringLiteral("/inner")));
        QVERIFY(!UserDefaults::setPersistentDomain(QJsonObject{}, QStringLiteral("../escaped")));
        QVERIFY(!QFile::exists(m_config->path() + QStringLiteral("/escaped.json")));
        QCOMPARE(UserDefaults::persistentDomainForName(QStringLiteral("../escaped")), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestUserDefaults)
#include "tst_userdefaults.moc"
