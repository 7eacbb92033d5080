#include "AppController.h"
#include "LaunchAtLogin.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString listKey = QStringLiteral("AutoLaunchedApplicationDictionary");
const QString program = QStringLiteral("/opt/Pinglark Apps/bin/pinglark");

QJsonObject entry(bool hide, const QString& path) {
    return QJsonObject{{QStringLiteral("Hide"), hide}, {QStringLiteral("Path"), path}};
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

// Reads an Exec value back the way a desktop's launcher does: first the string escapes of every
// value, then the quoting of arguments, then the %% field code.
QStringList execArguments(const QString& value) {
    QString unescaped;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == u'\\' && i + 1 < value.size()) {
            const qsizetype known = QStringLiteral("sntr\\").indexOf(value[i + 1]);
            if (known >= 0) {
                unescaped += QStringLiteral(" \n\t\r\\").at(known);
                ++i;
                continue;
            }
        }
        unescaped += value[i];
    }

    QStringList arguments;
    QString current;
    bool inArgument = false;
    bool inQuotes = false;
    for (qsizetype i = 0; i < unescaped.size(); ++i) {
        const QChar c = unescaped[i];
        if (inQuotes) {
            if (c == u'\\' && i + 1 < unescaped.size() &&
                QStringLiteral("\"`$\\").contains(unescaped[i + 1])) {
                current += unescaped[++i];
            } else if (c == u'"') {
                inQuotes = false;
            } else {
                current += c;
            }
        } else if (c == u' ') {
            if (inArgument) {
                arguments << current;
            }
            current.clear();
            inArgument = false;
        } else {
            inArgument = true;
            if (c == u'"') {
                inQuotes = true;
            } else {
                current += c;
            }
        }
    }
    if (inArgument) {
        arguments << current;
    }
    for (QString& argument : arguments) {
        argument.replace(QStringLiteral("%%"), QStringLiteral("%"));
    }
    return arguments;
}

QString keyValue(const QByteArray& desktopFile, const QString& key) {
    const QStringList lines = QString::fromUtf8(desktopFile).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        if (line.startsWith(key + QLatin1Char('='))) {
            return line.mid(key.size() + 1);
        }
    }
    return {};
}

} // namespace

class TestLaunchAtLogin : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_config;

    QString domainPath() const { return m_config->path() + QStringLiteral("/loginwindow.json"); }

    QJsonObject domain() const { return QJsonDocument::fromJson(readAll(domainPath())).object(); }

    void setDomain(const QJsonObject& object) {
        QVERIFY(writeAll(domainPath(), QJsonDocument(object).toJson()));
    }

    QJsonArray list() const { return domain().value(listKey).toArray(); }

private Q_SLOTS:
    void init() {
        m_config = std::make_unique<QTemporaryDir>();
        QVERIFY(m_config->isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config->path()));
    }

    void cleanup() { m_config.reset(); }

    void addingPutsOneEntryAtTheEnd() {
        const QJsonObject other = entry(false, QStringLiteral("/usr/bin/other"));
        const QJsonObject mine = entry(false, program);
        const QJsonObject settings{
            {QStringLiteral("Volume"), 7},
            {QStringLiteral("Nested"), QJsonObject{{QStringLiteral("a"), 1}}}};
        QJsonObject start = settings;
        start.insert(listKey, QJsonArray{mine, other, mine});
        setDomain(start);

        // Every equal entry goes; one comes back, at the end.
        LaunchAtLogin::enabledAutoStart(true, program);
        QCOMPARE(list(), (QJsonArray{other, mine}));
        LaunchAtLogin::enabledAutoStart(true, program);
        QCOMPARE(list(), (QJsonArray{other, mine}));
        QVERIFY(LaunchAtLogin::isAutoStartEnabled(program));

        QJsonObject rest = domain();
        rest.remove(listKey);
        QCOMPARE(rest, settings);
    }

    void removingLeavesEntriesThatAreOnlySimilar() {
        const QJsonObject hidden = entry(true, program);
        QJsonObject extra = entry(false, program);
        extra.insert(QStringLiteral("Arguments"), QJsonArray{QStringLiteral("--quiet")});
        const QJsonObject pathOnly{{QStringLiteral("Path"), program}};
        const QJsonObject otherPath = entry(false, program + QLatin1Char('/'));
        const QJsonObject mine = entry(false, program);
        setDomain(QJsonObject{{listKey, QJsonArray{hidden, mine, extra, pathOnly, mine, otherPath}},
                              {QStringLiteral("Zebra"), QStringLiteral("stays")}});
        QVERIFY(LaunchAtLogin::isAutoStartEnabled(program));

        LaunchAtLogin::enabledAutoStart(false, program);
        QCOMPARE(list(), (QJsonArray{hidden, extra, pathOnly, otherPath}));
        QCOMPARE(domain().value(QStringLiteral("Zebra")).toString(), QStringLiteral("stays"));
        QVERIFY(!LaunchAtLogin::isAutoStartEnabled(program));
    }

    void removingWithoutADomainCreatesAnEmptyList() {
        LaunchAtLogin::enabledAutoStart(false, program);
        QCOMPARE(domain(), (QJsonObject{{listKey, QJsonArray{}}}));
        QVERIFY(!QFile::exists(LaunchAtLogin::autostartFilePath()));
    }

    void unreadableDomainIsLeftAsItIs_data() {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<bool>("enable");
        QTest::newRow("not JSON, adding") << QByteArray("{\"Volume\": 7,") << true;
        QTest::newRow("not JSON, removing") << QByteArray("{\"Volume\": 7,") << false;
        QTest::newRow("an array") << QByteArray("[{\"Hide\": false}]") << true;
        QTest::newRow("list not an array")
            << QByteArray("{\"AutoLaunchedApplicationDictionary\": \"x\"}") << true;
    }

    void unreadableDomainIsLeftAsItIs() {
        QFETCH(QByteArray, contents);
        QFETCH(bool, enable);
        QVERIFY(writeAll(domainPath(), contents));
        // Whatever launches at login now, keeps doing so.
        const QByteArray autostart = "[Desktop Entry]\nsomeone else's\n";
        if (!enable) {
            QVERIFY(writeAll(LaunchAtLogin::autostartFilePath(), autostart));
        }

        LaunchAtLogin::enabledAutoStart(enable, program);

        QCOMPARE(readAll(domainPath()), contents);
        QCOMPARE(QDir(m_config->path()).entryList(QDir::Files),
                 QStringList{QStringLiteral("loginwindow.json")});
        if (enable) {
            QVERIFY(!QFile::exists(LaunchAtLogin::autostartFilePath()));
        } else {
            QCOMPARE(readAll(LaunchAtLogin::autostartFilePath()), autostart);
        }
    }

    void autostartFileFollowsTheList_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("plain") << QStringLiteral("/usr/bin/pinglark");
        QTest::newRow("spaces") << program;
        QTest::newRow("reserved characters")
            << QStringLiteral("/home/me/\"odd\" $HOME `id` back\\slash 100% é/pinglark");
    }

    void autostartFileFollowsTheList() {
        QFETCH(QString, path);
        const QString file = LaunchAtLogin::autostartFilePath();
        QCOMPARE(file, m_config->path() + QStringLiteral("/autostart/pinglark.desktop"));

        LaunchAtLogin::enabledAutoStart(true, path);
        QVERIFY(QFile::exists(file));
        const QByteArray contents = readAll(file);
        QCOMPARE(execArguments(keyValue(contents, QStringLiteral("Exec"))), QStringList{path});
        QVERIFY(contents.startsWith("[Desktop Entry]\n"));
        QCOMPARE(keyValue(contents, QStringLiteral("Type")), QStringLiteral("Application"));
        QCOMPARE(keyValue(contents, QStringLiteral("Name")), QStringLiteral("Pinglark"));
        QCOMPARE(keyValue(contents, QStringLiteral("X-KDE-autostart-after")),
                 QStringLiteral("panel"));
        QCOMPARE(keyValue(contents, QStringLiteral("X-LXQt-Need-Tray")), QStringLiteral("true"));
        QVERIFY(keyValue(contents, QStringLiteral("X-GNOME-Autostart-Delay")).toInt() > 0);

        const QString validator =
            QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        if (!validator.isEmpty()) {
            QProcess validate;
            validate.setProcessChannelMode(QProcess::MergedChannels);
            validate.start(validator, {file});
            QVERIFY(validate.waitForFinished(30000));
            const QByteArray output = validate.readAll();
            QVERIFY2(validate.exitCode() == 0 && output.isEmpty(), output.constData());
        }

        LaunchAtLogin::enabledAutoStart(false, path);
        QVERIFY(!QFile::exists(file));
        QVERIFY(!LaunchAtLogin::isAutoStartEnabled(path));

        if (validator.isEmpty()) {
            QSKIP("desktop-file-validate (desktop-file-utils) is not installed");
        }
    }

    // The desktop's own launcher (GLib's, through gio) starts the program the file names.
    void desktopLauncherRunsTheProgram() {
        const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
        if (gio.isEmpty()) {
            QSKIP("gio (libglib2.0-bin) is not installed");
        }
        const QString folder = m_config->path() + QStringLiteral("/My Apps/\"q\" $X `y` \\z");
        const QString executable = folder + QStringLiteral("/pinglark test");
        const QString marker = m_config->path() + QStringLiteral("/started");
        QVERIFY(writeAll(executable, "#!/bin/sh\nprintf '%s' \"$0\" > \"$MARKER\"\n"));
        QVERIFY(QFile::setPermissions(executable,
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

        LaunchAtLogin::enabledAutoStart(true, executable);
        QProcess launch;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("MARKER"), marker);
        launch.setProcessEnvironment(environment);
        launch.setProcessChannelMode(QProcess::MergedChannels);
        launch.start(gio, {QStringLiteral("launch"), LaunchAtLogin::autostartFilePath()});
        QVERIFY(launch.waitForFinished(30000));
        QVERIFY2(launch.exitCode() == 0, launch.readAll().constData());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(QString::fromUtf8(readAll(marker)), executable, 10000);
    }

    void menuItemFollowsAndChangesTheList() {
        const QString self = QCoreApplication::applicationFilePath();
        AppController app(SiteAddresses::forSite(QStringLiteral("http://127.0.0.1:9")));
        QAction* item = app.launchAtLoginMenuItem();
        QVERIFY(item->isCheckable());
        QCOMPARE(item->text(), QStringLiteral("Launch at Login"));

        item->trigger(); // unchecked -> checked
        QVERIFY(item->isChecked());
        QCOMPARE(list(), (QJsonArray{entry(false, self)}));
        QVERIFY(QFile::exists(LaunchAtLogin::autostartFilePath()));
        item->trigger();
        QVERIFY(!item->isChecked());
        QCOMPARE(list(), QJsonArray());
        QVERIFY(!QFile::exists(LaunchAtLogin::autostartFilePath()));

        // The check state is read from the list each time the menu opens.
        LaunchAtLogin::enabledAutoStart(true, self);
        Q_EMIT app.barMenu()->aboutToShow();
        QVERIFY(item->isChecked());
        LaunchAtLogin::enabledAutoStart(false, self);
        Q_EMIT app.barMenu()->aboutToShow();
        QVERIFY(!item->isChecked());
    }
};

QTEST_MAIN(TestLaunchAtLogin)
#include "tst_launchatlogin.moc"
