#include "UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

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

    std::unique_ptr<QTemporaryDir> m_config;

    QString folder() const { return m_config->path() + u"/Veltrano"_s; }
    QString storePath() const { return folder() + u"/Pinglark.conf"_s; }
    // The store as a restart finds it: what the file holds now, read afresh.
    UserDefaults afterRestart() const {
        static int restarts = 0;
        const QString copy = m_config->filePath(u"restart%1.conf"_s.arg(++restarts));
        QFile::copy(storePath(), copy);
        return UserDefaults(copy);
    }

private Q_SLOTS:
    void init() {
        // A fresh configuration folder per test: the store's location follows XDG_CONFIG_HOME.
        m_config = std::make_unique<QTemporaryDir>();
        QVERIFY(m_config->isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config->path()));
    }

    void writesAreSeenAtOnceAndAfterRestart() {
        UserDefaults defaults = UserDefaults::standardUserDefaults();
        QCOMPARE(defaults.filePath(), storePath());
        // An absent key is not a stored zero.
        QVERIFY(!defaults.contains(u"ShowSource"_s));
        QCOMPARE(defaults.stringForKey(u"ShowSource"_s), std::nullopt);

        defaults.setBool(true, u"HasRun"_s);
        defaults.setBool(false, u"Off"_s);
        defaults.setFloat(0, u"ShowSource"_s); // the first run writes numbers
        defaults.setFloat(1800, u"DataRefreshInterval"_s);
        defaults.setFloat(0.1f, u"Fraction"_s);
        defaults.setString(u"@home, sweet"_s, u"Text"_s);
        // The file stays readable by a person.
        const QByteArray file = readAll(storePath());
        QVERIFY2(!file.contains("@Variant") && file.contains("DataRefreshInterval=1800\n") &&
                     file.contains("HasRun=true\n"),
                 file.constData());
        QCOMPARE(defaults.stringForKey(u"Text"_s), u"@home, sweet"_s);
        QCOMPARE(defaults.floatForKey(u"Fraction"_s), 0.1f);

        // Every write is on disk before the call returns, and reads back typed after a restart.
        const UserDefaults later = afterRestart();
        QVERIFY(later.boolForKey(u"HasRun"_s) && !later.boolForKey(u"Off"_s));
        QVERIFY(later.contains(u"ShowSource"_s) && !later.boolForKey(u"ShowSource"_s));
        QCOMPARE(later.floatForKey(u"DataRefreshInterval"_s), 1800.0f);
        QCOMPARE(later.floatForKey(u"Fraction"_s), 0.1f);
        QCOMPARE(later.stringForKey(u"Text"_s), u"@home, sweet"_s);

        // A later write replaces the value, and a removed key is gone.
        defaults.setBool(false, u"HasRun"_s);
        defaults.remove(u"ShowSource"_s);
        QVERIFY(!defaults.boolForKey(u"HasRun"_s) && !defaults.contains(u"ShowSource"_s));
        QVERIFY(!afterRestart().contains(u"ShowSource"_s));

        // What another process writes, the next read here sees.
        writeAll(storePath(), "[General]\nTrimTitle=1\n");
        QVERIFY(defaults.boolForKey(u"TrimTitle"_s));
        QVERIFY(!defaults.contains(u"Off"_s));
    }

    // What a file holds is text; each is read the way it would be after a restart.
    void textInTheFileReadsTyped_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("boolValue");
        QTest::addColumn<float>("floatValue");
        const float infinity = std::numeric_limits<float>::infinity();
        QTest::newRow("0.0") << QByteArray("0.0") << false << 0.0f;
        QTest::newRow("-0") << QByteArray("-0") << false << 0.0f;
        QTest::newRow("blanks") << QByteArray("  900 ") << true << 900.0f;
        QTest::newRow("true") << QByteArray("true") << true << 0.0f;
        QTest::newRow("not a number") << QByteArray("soon") << false << 0.0f;
        QTest::newRow("comma decimal") << QByteArray("1,5") << false << 0.0f;
        QTest::newRow("beyond float") << QByteArray("1e300") << true << infinity;
        QTest::newRow("below float") << QByteArray("-1e300") << true << -infinity;
    }
    void textInTheFileReadsTyped() {
        QFETCH(QByteArray, text);
        QFETCH(bool, boolValue);
        QFETCH(float, floatValue);
        writeAll(storePath(), "[General]\nValue=" + text + "\n");
        const UserDefaults defaults = UserDefaults::standardUserDefaults();
        QCOMPARE(defaults.boolForKey(u"Value"_s), boolValue);
        QCOMPARE(defaults.floatForKey(u"Value"_s), floatValue);
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
        QCOMPARE(afterRestart().floatForKey(u"DataRefreshInterval"_s), 900.0f);
    }

    void failedWriteIsReported() {
        // A plain file where the store's folder belongs: no one, not even root, can write there.
        writeAll(folder(), "not a folder");
        UserDefaults defaults = UserDefaults::standardUserDefaults();
        defaults.setBool(true, u"HasRun"_s);
        QVERIFY(!defaults.synchronize());
        // The value stays in memory for the rest of the run.
        QCOMPARE(defaults.boolForKey(u"HasRun"_s), true);
        // Once the obstacle is gone, the pending value is written and reported as such.
        QVERIFY(QFile::remove(folder()));
        QVERIFY(QDir().mkpath(folder()));
        QVERIFY(defaults.synchronize());
        QVERIFY(afterRestart().boolForKey(u"HasRun"_s));
    }

    void persistentDomains() {
        const QString name = u"loginwindow"_s;
        bool unreadable = true;
        QCOMPARE(UserDefaults::persistentDomainForName(name, &unreadable), std::nullopt);
        QVERIFY(!unreadable);

        // The configuration folder itself may not exist yet. A domain is replaced whole.
        const QString nested = m_config->path() + u"/not/yet"_s;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(nested));
        const QJsonObject domain{
            {u"Zeta"_s, 1},
            {u"AutoLaunchedApplicationDictionary"_s,
             QJsonArray{QJsonObject{{u"Hide"_s, false}, {u"Path"_s, u"/a b/é"_s}}}}};
        QVERIFY(UserDefaults::setPersistentDomain(domain, name));
        QCOMPARE(UserDefaults::persistentDomainForName(name), domain);
        QVERIFY(UserDefaults::setPersistentDomain(QJsonObject{}, name));
        QCOMPARE(UserDefaults::persistentDomainForName(name), QJsonObject{});

        // A name cannot lead out of the folder.
        QVERIFY(!UserDefaults::setPersistentDomain(QJsonObject{}, u"../escaped"_s));
        QVERIFY(!QFile::exists(m_config->path() + u"/not/escaped.json"_s));

        // A file that holds no JSON object is unreadable, and left as it is.
        for (const QByteArray& contents : {QByteArray("{\"Key\": "), QByteArray("[1, 2]")}) {
            writeAll(nested + u"/loginwindow.json"_s, contents);
            QCOMPARE(UserDefaults::persistentDomainForName(name, &unreadable), std::nullopt);
            QVERIFY(unreadable);
            QCOMPARE(readAll(nested + u"/loginwindow.json"_s), contents);
        }
    }
};

QTEST_GUILESS_MAIN(TestUserDefaults)
#include "tst_userdefaults.moc"
