#include "AppController.h"
#include "LaunchAtLogin.h"

#include <QMenu>
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
    QString s;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const qsizetype known = value[i] == u'\\' && i + 1 < value.size()
                                    ? QStringLiteral("sntr\\").indexOf(value[i + 1])
                                    : -1;
        s += known >= 0 ? QStringLiteral(" \n\t\r\\").at(known) : value[i];
        i += known >= 0 ? 1 : 0;
    }
    QStringList arguments;
    QString current;
    bool inArgument = false, inQuotes = false;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (inQuotes && s[i] == u'\\' && i + 1 < s.size() &&
            QStringLiteral("\"`$\\").contains(s[i + 1])) {
            current += s[++i];
        } else if (s[i] == u'"') {
            inQuotes = !inQuotes;
            inArgument = true;
        } else if (s[i] == u' ' && !inQuotes) {
            if (inArgument)
                arguments << current;
            current.clear();
            inArgument = false;
        } else {
            current += s[i];
            inArgument = true;
        }
    }
    if (inArgument)
        arguments << current;
    return arguments.replaceInStrings(QStringLiteral("%%"), QStringLiteral("%"));
}

QString keyValue(const QByteArray& desktopFile, const QString& key) {
    for (const QString& line : QString::fromUtf8(desktopFile).split(u'\n'))
        if (line.startsWith(key + u'='))
            return line.mid(key.size() + 1);
    return {};
}

} // namespace

class TestLaunchAtLogin : public QObject {
    Q_OBJECT

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
    void cleanup() {
        // Give back what a test took away, so that the folder can be deleted.
        for (const QString& folder : {m_config->path(), m_config->path() + "/autostart"})
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_config.reset();
    }

    void addingPutsOneEntryAtTheEnd() {
        // Without a domain, removing writes one with an empty list.
        LaunchAtLogin::enabledAutoStart(false, program);
        QCOMPARE(domain(), (QJsonObject{{listKey, QJsonArray{}}}));
        QVERIFY(!QFile::exists(LaunchAtLogin::autostartFilePath()));

        const QJsonObject other = entry(false, QStringLiteral("/usr/bin/other"));
        const QJsonObject mine = entry(false, program);
        const QJsonObject settings{
            {QStringLiteral("Volume"), 7},
            {QStringLiteral("Nested"), QJsonObject{{QStringLiteral("a"), 1}}}};
        QJsonObject start = settings;
        start.insert(listKey, QJsonArray{mine, other, mine});
        setDomain(start);

        // Every equal entry goes; one comes back, at the end.
        for (int i = 0; i < 2; ++i) {
            LaunchAtLogin::enabledAutoStart(true, program);
            QCOMPARE(list(), (QJsonArray{other, mine}));
        }
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
        QVERIFY(writeAll(LaunchAtLogin::autostartFilePath(), "[Desktop Entry]\n"));
        QVERIFY(LaunchAtLogin::isAutoStartEnabled(program));

        LaunchAtLogin::enabledAutoStart(false, program);
        QCOMPARE(list(), (QJsonArray{hidden, extra, pathOnly, otherPath}));
        QCOMPARE(domain().value(QStringLiteral("Zebra")).toString(), QStringLiteral("stays"));
        QVERIFY(!LaunchAtLogin::isAutoStartEnabled(program));
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
        if (!enable)
            QVERIFY(writeAll(LaunchAtLogin::autostartFilePath(), autostart));

        LaunchAtLogin::enabledAutoStart(enable, program);

        QCOMPARE(readAll(domainPath()), contents);
        QCOMPARE(QDir(m_config->path()).entryList(QDir::Files),
                 QStringList{QStringLiteral("loginwindow.json")});
        QCOMPARE(readAll(LaunchAtLogin::autostartFilePath()), enable ? QByteArray() : autostart);
        QCOMPARE(QFile::exists(LaunchAtLogin::autostartFilePath()), !enable);
    }

    // The list and the autostart file change together or not at all.
    void failedChangeLeavesBothAsTheyWere_data() {
        QTest::addColumn<bool>("enable");
        QTest::addColumn<QString>("obstacle");
        QTest::addColumn<bool>("domainExists");
        QTest::addColumn<QString>("failing"); // the path the log line names
        const QString file = QStringLiteral("autostart/pinglark.desktop");
        const QString domain = QStringLiteral("loginwindow.json");
        QTest::newRow("adding, a file where the folder should be")
            << true << "file for folder" << true << file;
        QTest::newRow("adding without a domain, a file where the folder should be")
            << true << "file for folder" << false << file;
        QTest::newRow("removing, a folder where the file should be")
            << false << "folder for file" << true << file;
        QTest::newRow("adding, read-only autostart folder")
            << true << "read-only autostart" << true << file;
        QTest::newRow("removing, read-only autostart folder")
            << false << "read-only autostart" << true << file;
        QTest::newRow("removing, read-only configuration folder")
            << false << "read-only config" << true << domain;
    }
    void failedChangeLeavesBothAsTheyWere() {
        QFETCH(bool, enable);
        QFETCH(QString, obstacle);
        QFETCH(bool, domainExists);
        QFETCH(QString, failing);
        const QString file = LaunchAtLogin::autostartFilePath();
        const QString folder = QFileInfo(file).absolutePath();
        const QJsonObject other = entry(false, QStringLiteral("/usr/bin/other"));
        if (domainExists) {
            setDomain(QJsonObject{
                {QStringLiteral("Volume"), 7},
                {listKey, enable ? QJsonArray{other} : QJsonArray{entry(false, program), other}}});
        }
        if (!enable && obstacle != u"folder for file")
            QVERIFY(writeAll(file, "[Desktop Entry]\nExec=pinglark\n"));
        if (obstacle == u"file for folder")
            QVERIFY(writeAll(folder, "not a folder"));
        if (obstacle == u"folder for file")
            QVERIFY(QDir().mkpath(file + QStringLiteral("/inside")));
        if (obstacle.startsWith(u"read-only")) {
            const QString locked = obstacle == u"read-only config" ? m_config->path() : folder;
            QVERIFY(QDir().mkpath(locked));
            QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner));
            QFile probe(locked + QStringLiteral("/probe"));
            if (probe.open(QIODevice::WriteOnly)) {
                probe.remove();
                QSKIP("permission bits do not stop this user (root) from writing");
            }
        }
        const QByteArray domainBefore = readAll(domainPath());
        const QByteArray fileBefore = readAll(file);
        const bool wasEnabled = LaunchAtLogin::isAutoStartEnabled(program);

        QTest::ignoreMessage(
            QtWarningMsg,
            QRegularExpression(QStringLiteral("^Cannot (write|remove) ") +
                               QRegularExpression::escape(m_config->path() + u'/' + failing) +
                               QStringLiteral(": .+")));
        QVERIFY(!LaunchAtLogin::enabledAutoStart(enable, program));

        QCOMPARE(QFile::exists(domainPath()), domainExists);
        QCOMPARE(readAll(domainPath()), domainBefore);
        QCOMPARE(readAll(file), fileBefore);
        QCOMPARE(LaunchAtLogin::isAutoStartEnabled(program), wasEnabled);
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
        if (validator.isEmpty())
            QSKIP("desktop-file-validate (desktop-file-utils) is not installed");
    }

    // The desktop's own launcher (GLib's, through gio) starts the program the file names.
    void desktopLauncherRunsTheProgram() {
        const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
        if (gio.isEmpty())
            QSKIP("gio (libglib2.0-bin) is not installed");
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
        QTRY_COMPARE_WITH_TIMEOUT(QString::fromUtf8(readAll(marker)), executable, 10000);
    }

    void menuItemFollowsAndChangesTheList() {
        const QString self = QCoreApplication::applicationFilePath();
        AppController app(SiteAddresses::forSite(QStringLiteral("http://127.0.0.1:9")));
        QAction* item = app.launchAtLoginMenuItem();
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
        for (bool enabled : {true, false}) {
            LaunchAtLogin::enabledAutoStart(enabled, self);
            Q_EMIT app.barMenu()->aboutToShow();
            QCOMPARE(item->isChecked(), enabled);
        }

        // A change that fails leaves the item showing what is in effect.
        QVERIFY(QDir(m_config->path()).rmdir(QStringLiteral("autostart")));
        QVERIFY(writeAll(m_config->path() + QStringLiteral("/autostart"), "not a folder"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Cannot write ")));
        item->trigger();
        QVERIFY(!item->isChecked());
    }

    // The desktop's own autostart settings switch the entry off by removing the file or marking
    // it hidden; the item shows that at the next opening, and the list follows.
    void desktopSwitchIsFollowed_data() {
        QTest::addColumn<QByteArray>("added"); // to the autostart file; null = file removed
        QTest::addColumn<bool>("stillOn");
        QTest::newRow("removed") << QByteArray() << false;
        QTest::newRow("hidden (KDE, XFCE)") << QByteArray("Hidden=true\n") << false;
        QTest::newRow("GNOME") << QByteArray("X-GNOME-Autostart-enabled = false\n") << false;
        QTest::newRow("only an action hidden")
            << QByteArray("[Desktop Action quiet]\nHidden=true\n") << true;
    }
    void desktopSwitchIsFollowed() {
        QFETCH(QByteArray, added);
        QFETCH(bool, stillOn);
        const QString self = QCoreApplication::applicationFilePath();
        const QString file = LaunchAtLogin::autostartFilePath();
        const QJsonObject other = entry(false, QStringLiteral("/usr/bin/other"));
        setDomain(QJsonObject{{QStringLiteral("Volume"), 7}, {listKey, QJsonArray{other}}});
        AppController app(SiteAddresses::forSite(QStringLiteral("http://127.0.0.1:9")));
        QAction* item = app.launchAtLoginMenuItem();
        item->trigger();
        QVERIFY(item->isChecked());

        const QByteArray edited = added.isNull() ? QByteArray() : readAll(file) + added;
        QVERIFY(added.isNull() ? QFile::remove(file) : writeAll(file, edited));
        Q_EMIT app.barMenu()->aboutToShow();
        QCOMPARE(item->isChecked(), stillOn);
        QCOMPARE(list(), (stillOn ? QJsonArray{other, entry(false, self)} : QJsonArray{other}));
        QCOMPARE(domain().value(QStringLiteral("Volume")), QJsonValue(7));
        QCOMPARE(readAll(file), edited); // the desktop's file is the desktop's
    }
};

QTEST_MAIN(TestLaunchAtLogin)
#include "tst_launchatlogin.moc"
