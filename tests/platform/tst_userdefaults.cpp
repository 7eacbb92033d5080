#include "UserDefaults.h"

#include <QApplication>
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
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
            file.write(bytes) == bytes.size());
}

// The keys' values as one line, as the store reads them: "-" for an absent key.
QString values(const UserDefaults& defaults, const QStringList& keys) {
    QStringList parts;
    for (const QString& key : keys)
        parts.append(!defaults.contains(key)
                         ? u"-"_s
                         : defaults.stringForKey(key).value_or(u"?"_s) + u'/' +
                               QString::number(defaults.boolForKey(key)) + u'/' +
                               QString::number(defaults.floatForKey(key)));
    return parts.join(u' ');
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

    void writesAreSeenAtOnceAndAfterRestart() {
        UserDefaults defaults = UserDefaults::standardUserDefaults();
        const QStringList keys = {"HasRun", "Off", "ShowSource", "Interval", "Fraction", "Text"};
        QCOMPARE(values(defaults, keys), "- - - - - -");
        defaults.setBool(true, u"HasRun"_s);
        defaults.setBool(false, u"Off"_s);
        defaults.setFloat(0, u"ShowSource"_s); // the first run writes numbers
        defaults.setFloat(1800, u"Interval"_s);
        defaults.setFloat(0.1f, u"Fraction"_s);
        defaults.setString(u"@home, sweet"_s, u"Text"_s);
        // The file stays readable by a person.
        const QByteArray file = readAll(storePath());
        QVERIFY2(!file.contains("@Variant") && file.contains("Interval=1800\n") &&
                     file.contains("HasRun=true\n"),
                 file.constData());
        // Every write is on disk before the call returns, and reads back typed after a restart.
        const QString written = "true/1/0 false/0/0 0/0/0 1800/1/1800 0.1/1/0.1 @home, sweet/0/0";
        QCOMPARE(values(defaults, keys), written);
        QCOMPARE(values(afterRestart(), keys), written);

        // A later write replaces the value, and a removed key is gone.
        defaults.setBool(false, u"HasRun"_s);
        defaults.remove(u"ShowSource"_s);
        QCOMPARE(values(defaults, {"HasRun", "ShowSource"}), "false/0/0 -");
        QCOMPARE(values(afterRestart(), {"HasRun", "ShowSource"}), "false/0/0 -");

        // What another process writes, the next read here sees, typed as after a restart.
        writeAll(storePath(), "[General]\nA=0.0\nB=-0\nC=  900 \nD=true\nE=soon\nF=1,5\n"
                              "G=1e300\nH=-1e300\n");
        QCOMPARE(values(defaults, {"A", "B", "C", "D", "E", "F", "G", "H", "Off"}),
                 "0.0/0/0 -0/0/0 900/1/900 true/1/0 soon/0/0 1, 5/0/0 1e300/1/inf -1e300/1/-inf -");
    }

    void damagedOrUnwritableFiles() {
        // A damaged file gives defaults, and the next write gives a file that reads back cleanly.
        writeAll(storePath(),
                 QByteArray("\x00\x01\xff\xfe[[[=\n\x80[General\nTrimTitle=\"1\n", 32));
        UserDefaults defaults = UserDefaults::standardUserDefaults();
        QCOMPARE(values(defaults, {"HasRun", "Interval"}), "- -");
        defaults.setFloat(900, u"Interval"_s);
        QVERIFY(defaults.synchronize());
        QCOMPARE(afterRestart().floatForKey(u"Interval"_s), 900.0f);

        // A plain file where the store's folder belongs: no one, not even root, can write there.
        QVERIFY(QDir(folder()).removeRecursively());
        writeAll(folder(), "not a folder");
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
            writeAll(nested + u"/loginwindow.json"_s, contents);
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
