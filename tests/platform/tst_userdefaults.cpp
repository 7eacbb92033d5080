#include "DataFile.h"
#include "UserDefaults.h"

#include <QApplication>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// A key's value as the store reads it: as text/as a boolean/as a number, or "-" when it is absent.
QString value(const UserDefaults& defaults, const QString& key) {
    if (!defaults.contains(key))
        return u"-"_s;
    return defaults.stringForKey(key).value_or(u"?"_s) + u'/' +
           QString::number(defaults.boolForKey(key)) + u'/' +
           QString::number(defaults.floatForKey(key));
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
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config->path()));
    }

    // values.txt: every write is on disk before the call returns, and reads back typed at once
    // and after a restart.
    void writesAreSeenAtOnceAndAfterRestart() {
        UserDefaults defaults = UserDefaults::standardUserDefaults();
        QByteArray other = "[General]\n"; // the file the other process writes
        for (const QString& row : dataLines(QFINDTESTDATA("values.txt"))) {
            const QString write = row.section(u" | "_s, 0, 0), read = row.section(u" | "_s, 1, 1);
            const QString key = write.section(u' ', 0, 0), kind = write.section(u' ', 1, 1),
                          text = write.section(u' ', 2), line = row.section(u" | "_s, 2);
            if (kind == u"bool")
                defaults.setBool(text == u"true", key);
            else if (kind == u"float")
                defaults.setFloat(text.toFloat(), key);
            else if (kind == u"string")
                defaults.setString(text, key);
            else if (kind == u"remove")
                defaults.remove(key);
            else if (kind == u"file")
                QVERIFY(writeAll(storePath(), other += (key + u'=' + text + u'\n').toUtf8()));
            // On disk before any read here, which would write what is pending.
            const QByteArray file = readAll(storePath());
            QVERIFY2(!file.contains("@Variant") &&
                         (line.isEmpty() || file.contains((line + u'\n').toUtf8())),
                     qPrintable(row + u'\n' + QString::fromUtf8(file)));
            QCOMPARE(key + u' ' + value(afterRestart(), key), key + u' ' + read);
            QCOMPARE(key + u' ' + value(defaults, key), key + u' ' + read);
        }
    }

    void damagedOrUnwritableFiles() {
        // A damaged file gives defaults, and the next write gives a file that reads back cleanly.
        QVERIFY(writeAll(storePath(),
                         QByteArray("\x00\x01\xff\xfe[[[=\n\x80[General\nTrimTitle=\"1\n", 32)));
        UserDefaults defaults = UserDefaults::standardUserDefaults();
        QVERIFY(!defaults.contains(u"HasRun"_s) && !defaults.contains(u"Interval"_s));
        defaults.setFloat(900, u"Interval"_s);
        QVERIFY(defaults.synchronize());
        QCOMPARE(afterRestart().floatForKey(u"Interval"_s), 900.0f);

        // A plain file where the store's folder belongs: no one, not even root, can write there.
        QVERIFY(QDir(folder()).removeRecursively());
        QVERIFY(writeAll(folder(), "not a folder"));
        UserDefaults blocked = UserDefaults::standardUserDefaults();
        blocked.setBool(true, u"HasRun"_s);
        QVERIFY(!blocked.synchronize());
        QVERIFY(blocked.boolForKey(u"HasRun"_s)); // kept in memory for the rest of the run
        // Once the obstacle is gone, the pending value is written and reported as such.
        QVERIFY(QFile::remove(folder()) && QDir().mkpath(folder()));
        QVERIFY(blocked.synchronize());
        QVERIFY(afterRestart().boolForKey(u"HasRun"_s));
    }

    void persistentDomains() {
        const QString name = u"loginwindow"_s;
        bool unreadable = false;

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
            QVERIFY(writeAll(nested + u"/loginwindow.json"_s, contents));
            QCOMPARE(UserDefaults::persistentDomainForName(name, &unreadable), std::nullopt);
            QVERIFY(unreadable);
            QCOMPARE(readAll(nested + u"/loginwindow.json"_s), contents);
        }
    }
};

// The application object is a static here, as in the fuzzers: it outlives the settings stores,
// and closing them at its end must not touch stores already gone (the sanitizer run catches it).
int main(int argc, char** argv) {
    static int args = argc;
    static QApplication app(args, argv);
    TestUserDefaults test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_userdefaults.moc"
