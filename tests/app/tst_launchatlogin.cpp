// Launching at login: the login items list, the desktop's autostart file that follows it, and the
// menu item that shows and changes both.

#include "AppHarness.h"
#include "LaunchAtLogin.h"

#include <QtTest>

namespace {

const QString listKey = QStringLiteral("AutoLaunchedApplicationDictionary");
const QString program = QStringLiteral("/opt/Pinglark Apps/bin/pinglark");

} // namespace

class TestLaunchAtLogin : public QObject {
    Q_OBJECT

    std::optional<QTemporaryDir> m_config;

    QString domainPath() const { return m_config->path() + QStringLiteral("/loginwindow.json"); }
    QJsonObject domain() const { return QJsonDocument::fromJson(readAll(domainPath())).object(); }
    void setDomain(const QJsonObject& object) {
        QVERIFY(writeAll(domainPath(), QJsonDocument(object).toJson()));
    }
    QJsonArray list() const { return domain().value(listKey).toArray(); }

private Q_SLOTS:
    void init() { qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.emplace().path())); }
    void cleanup() {
        // Give back what a test took away, so that the folder can be deleted.
        QFile::setPermissions(m_config->path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // Each step of login-changes.json, on the domain it leaves (or "before", where it has one),
    // adds or removes the program and gives the domain "after".
    void onlyOurEntryIsAddedAndRemoved() {
        for (const QJsonValue& step :
             QJsonDocument::fromJson(readAll(dataPath("login-changes.json"))).array()) {
            if (step["before"].isObject())
                setDomain(step["before"].toObject());
            LaunchAtLogin::enabledAutoStart(step["enable"].toBool(), program);
            QCOMPARE(domain(), step["after"].toObject());
        }
    }

    // A change that cannot be made leaves the list and the autostart file as they were: the two
    // change together or not at all, and a domain that cannot be read is not written over.
    // Each row of login-failures.json: the change (enable), the files it starts from (their paths
    // in the configuration folder, {config} in the warning; text, or an object written as JSON; a
    // path that ends in '/' is a folder), the obstacle and the warning.
    void failedChangeLeavesBothAsTheyWere_data() {
        QTest::addColumn<QJsonObject>("row");
        for (const QJsonValue& row :
             QJsonDocument::fromJson(readAll(dataPath("login-failures.json"))).array())
            QTest::newRow(qPrintable(row["obstacle"].toString())) << row.toObject();
    }
    void failedChangeLeavesBothAsTheyWere() {
        QFETCH(QJsonObject, row);
        const QJsonObject files = row["files"].toObject();
        for (auto it = files.begin(); it != files.end(); ++it) {
            const QString path = m_config->path() + u'/' + it.key();
            const QByteArray text =
                it->isObject() ? QJsonDocument(it->toObject()).toJson() : it->toString().toUtf8();
            QVERIFY(it.key().endsWith(u'/') ? QDir().mkpath(path) : writeAll(path, text));
        }
        const QString file = LaunchAtLogin::autostartFilePath();
        if (row["obstacle"].toString() == u"read-only config") {
            QVERIFY(QFile::setPermissions(m_config->path(), QFile::ReadOwner | QFile::ExeOwner));
            if (QFile(m_config->path() + "/probe").open(QIODevice::WriteOnly))
                QSKIP("permission bits do not stop this user (root) from writing");
        }
        const auto state = [&] {
            return QList<QVariant>{QFile::exists(domainPath()), readAll(domainPath()),
                                   readAll(file), LaunchAtLogin::isAutoStartEnabled(program)};
        };
        const QList<QVariant> before = state();
        const QString warning = row["warning"].toString().replace(
            "{config}", QRegularExpression::escape(m_config->path()));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u'^' + warning + u'$'));
        QVERIFY(!LaunchAtLogin::enabledAutoStart(row["enable"].toBool(), program));
        QCOMPARE(state(), before);
    }

    // The desktop's own launcher (GLib's, through gio) starts the program the autostart file
    // names, whatever its path holds, and the desktop's validator finds nothing wrong with it.
    void desktopLauncherRunsTheProgram() {
        const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
        const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
        if (gio.isEmpty() || validator.isEmpty())
            QSKIP("needs gio (libglib2.0-bin) and desktop-file-validate (desktop-file-utils)");
        const QString file = LaunchAtLogin::autostartFilePath();
        const QString executable = m_config->path() + "/My Apps/\"q\" $X `y` \\z/pinglark test";
        QVERIFY(writeAll(executable, "#!/bin/sh\nprintf '%s' \"$0\" > \"$MARKER\"\n"));
        QVERIFY(QFile::setPermissions(executable, QFile::ReadOwner | QFile::ExeOwner));
        // A '%' in the path must not read as a field code; gio cannot launch such a path from
        // quotes, so only the validator sees that one.
        for (const QString& path : {m_config->path() + "/100%/pinglark", executable}) {
            LaunchAtLogin::enabledAutoStart(true, path);
            QVERIFY(LaunchAtLogin::isAutoStartEnabled(path));
            QProcess validate;
            validate.setProcessChannelMode(QProcess::MergedChannels);
            validate.start(validator, {file});
            QVERIFY(validate.waitForFinished(30000));
            QCOMPARE(validate.readAll() + QByteArray::number(validate.exitCode()), "0");
        }
        // Started once the panel that hosts the tray icon is there.
        const QByteArray contents = readAll(file);
        for (const char* hint : {"\nX-KDE-autostart-after=panel\n", "\nX-LXQt-Need-Tray=true\n",
                                 "\nX-GNOME-Autostart-Delay="})
            QVERIFY2(contents.contains(hint), hint);

        const QString marker = m_config->path() + QStringLiteral("/started");
        qputenv("MARKER", QFile::encodeName(marker));
        QCOMPARE(QProcess::execute(gio, {QStringLiteral("launch"), file}), 0);
        QTRY_COMPARE_WITH_TIMEOUT(QString::fromUtf8(readAll(marker)), executable, 10000);
        LaunchAtLogin::enabledAutoStart(false, executable);
        QVERIFY(!QFile::exists(file));
    }

    // The menu item changes the list, and shows what is in effect at start-up and each time the
    // menu opens: the desktop's own autostart settings switch the entry off by removing the file
    // or marking it hidden, another copy of the program by writing a file that starts itself, and
    // the list follows.
    void menuItemFollowsTheListAndTheDesktop() {
        const QJsonObject self{{"Hide", false}, {"Path", QCoreApplication::applicationFilePath()}};
        const QJsonObject other{{"Hide", false}, {"Path", "/usr/bin/other"}};
        const QString file = LaunchAtLogin::autostartFilePath();
        setDomain(QJsonObject{{QStringLiteral("Volume"), 7}, {listKey, QJsonArray{other}}});
        AppController app(SiteAddresses::forSite(QStringLiteral("http://127.0.0.1:9")));
        QAction* item = app.launchAtLoginMenuItem();

        // A change that fails leaves the item showing what is in effect.
        QVERIFY(writeAll(QFileInfo(file).absolutePath(), "not a folder"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Cannot write ")));
        item->trigger();
        QVERIFY(!item->isChecked());
        QVERIFY(QFile::remove(QFileInfo(file).absolutePath()));

        // Each change of desktop-switches.json: what the desktop adds to the file (null: it
        // removes the file), and whether launching at login stays on.
        for (const QJsonValue& change :
             QJsonDocument::fromJson(readAll(dataPath("desktop-switches.json"))).array()) {
            const QByteArray added = change["added"].toString().toUtf8();
            const bool stillOn = change["stillOn"].toBool();
            item->trigger();
            QVERIFY(item->isChecked());
            QCOMPARE(list(), (QJsonArray{other, self}));
            const QByteArray kept = added.startsWith("[Desktop Entry]") ? "" : readAll(file);
            const QByteArray edited = added.isNull() ? added : kept + added;
            QVERIFY(added.isNull() ? QFile::remove(file) : writeAll(file, edited));
            Q_EMIT app.barMenu()->aboutToShow();
            QCOMPARE(item->isChecked(), stillOn);
            QCOMPARE(list(), (stillOn ? QJsonArray{other, self} : QJsonArray{other}));
            QCOMPARE(readAll(file), edited); // the desktop's file is the desktop's
        }
        // A later start, with a file that names this program as the desktop's own copy of our
        // desktop entry does: by a name that PATH finds (here, a link to it).
        QVERIFY(
            QFile::link(QCoreApplication::applicationFilePath(), m_config->path() + "/pinglark"));
        qputenv("PATH", QFile::encodeName(m_config->path()) + ":/usr/bin");
        QVERIFY(writeAll(file, "[Desktop Entry]\nExec=pinglark -q\n"));
        AppController later(SiteAddresses::forSite(QStringLiteral("http://127.0.0.1:9")));
        later.awakeFromNib();
        QVERIFY(later.launchAtLoginMenuItem()->isChecked());
        // Switching off after another copy took the file over leaves that copy's file alone.
        LaunchAtLogin::enabledAutoStart(true, QStringLiteral("/usr/bin/other"));
        item->trigger();
        QVERIFY(!item->isChecked());
        QCOMPARE(list(), QJsonArray{other});
        QVERIFY(QFile::exists(file));
    }
};

QTEST_MAIN(TestLaunchAtLogin)
#include "tst_launchatlogin.moc"
