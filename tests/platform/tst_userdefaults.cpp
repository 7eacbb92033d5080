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

using namespace Qt::StringLiterals;

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
    for (const QByteArray& line : process.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() == 4) {
            result.insert(QString::fromUtf8(fields[0]),
                          {fields[1] == "contains=1", fields[2] == "bool=1",
                           fields[3].mid(int(sizeof "float=") - 1).toFloat()});
        }
    }
    return result;
}

Probed probe(const QString& key) {
    return probe(QStringList{key}).value(key);
}

} // namespace

class TestUserDefaults : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_config;

    QString folder() const { return m_config->path() + u"/Veltrano"_s; }
    QString storePath() const { return folder() + u"/Pinglark.conf"_s; }

private Q_SLOTS:
    void init() {
        // A fresh configuration folder per test: the store's location follows XDG_CONFIG_HOME.
        m_config = std::make_unique<QTemporaryDir>();
        QVERIFY(m_config->isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config->path()));
    }

    void cleanup() {
        // Make a folder a test locked writable again, so that it can be removed.
        QFile::setPermissions(folder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_config.reset();
    }

    void writesAreSeenAtOnceAndAfterRestart() {
        UserDefaults defaults = UserDefaults::standardUserDefaults();
        QCOMPARE(defaults.filePath(), storePath());
        // An absent key is not a stored zero.
        const QString zero = u"ShowSource"_s;
        QVERIFY(!defaults.contains(zero));
        QCOMPARE(defaults.floatForKey(zero), 0.0f);
        QCOMPARE(defaults.boolForKey(zero), false);
        QCOMPARE(defaults.stringForKey(zero), std::nullopt);
        QCOMPARE(probe(zero).contains, false);

        defaults.setBool(true, u"HasRun"_s);
        defaults.setFloat(0, zero); // the first run writes numbers
        defaults.setFloat(1, u"TrimTitle"_s);
        defaults.setFloat(1800, u"DataRefreshInterval"_s);
        defaults.setFloat(0.1f, u"Fraction"_s);
        defaults.setBool(false, u"Off"_s);
        defaults.setFloat(0.25f, u"Quarter"_s);
        defaults.setString(u"@home, sweet"_s, u"Text"_s);

        // The file stays readable by a person.
        const QByteArray file = readAll(storePath());
        QVERIFY2(!file.contains("@Variant"), file.constData());
        for (const char* line : {"DataRefreshInterval=1800\n", "Quarter=0.25\n", "HasRun=true\n"})
            QVERIFY2(file.contains(line), file.constData());
        QCOMPARE(defaults.stringForKey(u"Text"_s), u"@home, sweet"_s);

        // Every write is on disk before the call returns: a new process reads them back typed.
        // The same answers in this run, from the same object and from a new one.
        const QHash<QString, Probed> after = probe(
            {u"HasRun"_s, zero, u"TrimTitle"_s, u"DataRefreshInterval"_s, u"Fraction"_s, u"Off"_s});
        QCOMPARE(after.size(), 6);
        QCOMPARE(after[u"Off"_s].contains, true);
        QCOMPARE(after[zero].contains, true);
        QVERIFY(defaults.contains(zero));
        const UserDefaults again = UserDefaults::standardUserDefaults();
        for (const auto& [key, boolValue] : {std::pair{u"HasRun"_s, true},
                                             {zero, false},
                                             {u"TrimTitle"_s, true},
                                             {u"Off"_s, false}}) {
            QCOMPARE(after[key].boolValue, boolValue);
            QCOMPARE(defaults.boolForKey(key), boolValue);
            QCOMPARE(again.boolForKey(key), boolValue);
        }
        for (const auto& [key, floatValue] :
             {std::pair{u"DataRefreshInterval"_s, 1800.0f}, {u"Fraction"_s, 0.1f}, {zero, 0.0f}}) {
            QCOMPARE(after[key].floatValue, floatValue);
            QCOMPARE(defaults.floatForKey(key), floatValue);
            QCOMPARE(again.floatForKey(key), floatValue);
        }

        // A later write replaces the value, also across a restart.
        defaults.setBool(false, u"TrimTitle"_s);
        QCOMPARE(again.boolForKey(u"TrimTitle"_s), false);
        QCOMPARE(probe(u"TrimTitle"_s).boolValue, false);

        defaults.remove(zero);
        QVERIFY(!defaults.contains(zero));
        QCOMPARE(probe(zero).contains, false);

        // What another process writes, the next read here sees.
        writeAll(storePath(), "[General]\nTrimTitle=1\n");
        QCOMPARE(defaults.boolForKey(u"TrimTitle"_s), true);
        QVERIFY(!again.contains(u"HasRun"_s));
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
        QCOMPARE(defaults.boolForKey(u"Value"_s), boolValue);
        QCOMPARE(defaults.floatForKey(u"Value"_s), floatValue);
        const Probed probed = probe(u"Value"_s);
        QCOMPARE(probed.boolValue, boolValue);
        QCOMPARE(probed.floatValue, floatValue);
    }

    void damagedFileGivesDefaultsAndIsRepaired() {
        writeAll(storePath(),
                 QByteArray("\x00\x01\xff\xfe[[[=\n\x80[General\nTrimTitle=\"1\n", 32));
        UserDefaults defaults = UserDefaults::standardUserDefaults();
        QCOMPARE(defaults.boolForKey(u"HasRun"_s), false);
        QCOMPARE(defaults.floatForKey(u"DataRefreshInterval"_s), 0.0f);

        // The next write gives a file that reads back cleanly.
        defaults.setFloat(900, u"DataRefreshInterval"_s);
        QVERIFY(defaults.synchronize());
        QCOMPARE(probe(u"DataRefreshInterval"_s).floatValue, 900.0f);
    }

    void failedWriteIsReported() {
        // A plain file where the store's folder belongs: no one, not even root, can write there.
        writeAll(folder(), "not a folder");
        UserDefaults defaults = UserDefaults::standardUserDefaults();
        QCOMPARE(defaults.boolForKey(u"HasRun"_s), false);
        defaults.setBool(true, u"HasRun"_s);
        QVERIFY(!defaults.synchronize());
        // The value stays in memory for the rest of the run.
        QCOMPARE(defaults.boolForKey(u"HasRun"_s), true);

        // Once the obstacle is gone, the pending value is written and reported as such.
        QVERIFY(QFile::remove(folder()));
        QVERIFY(QDir().mkpath(folder()));
        QVERIFY(defaults.synchronize());
        QCOMPARE(probe(u"HasRun"_s).boolValue, true);
    }

    void readOnlyFolderIsReported() {
        if (::geteuid() == 0) {
            QSKIP("root writes into read-only folders");
        }
        UserDefaults defaults = UserDefaults::standardUserDefaults();
        defaults.setBool(true, u"HasRun"_s);
        QVERIFY(defaults.synchronize());
        QVERIFY(QFile::setPermissions(folder(), QFile::ReadOwner | QFile::ExeOwner));
        QFile::setPermissions(storePath(), QFile::ReadOwner);
        defaults.setBool(false, u"HasRun"_s);
        QVERIFY(!defaults.synchronize());
        QCOMPARE(probe(u"HasRun"_s).boolValue, true);
    }

    void persistentDomainRoundTrip() {
        const QString name = u"loginwindow"_s;
        bool unreadable = true;
        QCOMPARE(UserDefaults::persistentDomainForName(name, &unreadable), std::nullopt);
        QVERIFY(!unreadable);

        // The configuration folder itself may not exist yet.
        const QString nested = m_config->path() + u"/not/yet"_s;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(nested));
        const QJsonObject domain{
            {u"Zeta"_s, 1},
            {u"AutoLaunchedApplicationDictionary"_s,
             QJsonArray{QJsonObject{{u"Hide"_s, false}, {u"Path"_s, u"/a b/é"_s}}}}};
        QVERIFY(UserDefaults::setPersistentDomain(domain, name));
        QVERIFY(QFile::exists(nested + u"/loginwindow.json"_s));
        QCOMPARE(UserDefaults::persistentDomainForName(name), domain);

        // Replaced whole.
        QVERIFY(UserDefaults::setPersistentDomain(QJsonObject{}, name));
        QCOMPARE(UserDefaults::persistentDomainForName(name), QJsonObject{});

        // A name cannot lead out of the folder.
        QVERIFY(!UserDefaults::setPersistentDomain(QJsonObject{}, u"../escaped"_s));
        QVERIFY(!QFile::exists(m_config->path() + u"/not/escaped.json"_s));
        QCOMPARE(UserDefaults::persistentDomainForName(u"../escaped"_s), std::nullopt);
    }

    void unreadableDomain_data() {
        QTest::addColumn<QByteArray>("contents");
        QTest::newRow("not JSON") << QByteArray("{\"Key\": ");
        QTest::newRow("an array") << QByteArray("[1, 2]");
        QTest::newRow("empty file") << QByteArray();
    }

    void unreadableDomain() {
        QFETCH(QByteArray, contents);
        const QString path = m_config->path() + u"/loginwindow.json"_s;
        writeAll(path, contents);
        bool unreadable = false;
        QCOMPARE(UserDefaults::persistentDomainForName(u"loginwindow"_s, &unreadable),
                 std::nullopt);
        QVERIFY(unreadable);
        QCOMPARE(readAll(path), contents);
    }
};

QTEST_GUILESS_MAIN(TestUserDefaults)
#include "tst_userdefaults.moc"
