// The real program as a StatusNotifierItem panel sees it (KDE Plasma, GNOME's AppIndicator
// extension, waybar): the test runs a private session bus and a virtual display, plays the panel
// (the org.kde.StatusNotifierWatcher service with a registered host) and serves the feed. It
// reads the item and its com.canonical.dbusmenu menu, and answers as a panel does, with its own
// decoding of the wire format. Through the accessibility bus (AT-SPI) it reads the preferences
// window as a screen reader does, and works it with keys alone.

#include "Desktop.h"
#include "Watcher.h"

#include <QtDBus>
#include <QtTest>

using namespace e2e;

namespace {

const QString itemInterface = "org.kde.StatusNotifierItem";
const QString menuInterface = "com.canonical.dbusmenu";
const QString a11yBus = "org.a11y.Bus";
// AT-SPI's references to objects (bus name, path), their relations, and the numbers of the states
// and the relation read here.
using AtSpiReferences = QList<std::pair<QString, QDBusObjectPath>>;
using AtSpiRelations = QList<std::pair<uint, AtSpiReferences>>;
enum AtSpi : uint { active = 1, checked = 4, labelledBy = 2 };

// One node of a dbusmenu layout, (ia{sv}av).
struct MenuItem {
    int id = -1;
    QVariantMap properties;
    QList<MenuItem> children;

    // What a panel shows; "---" for a separator.
    QString label() const {
        return properties.value("type").toString() == "separator"
                   ? "---"
                   : properties.value("label").toString();
    }
};

const QDBusArgument& operator>>(const QDBusArgument& argument, MenuItem& item) {
    argument.beginStructure();
    argument >> item.id >> item.properties;
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        item.children.append(qdbus_cast<MenuItem>(child.variant()));
    }
    argument.endArray();
    argument.endStructure();
    return argument;
}

} // namespace

class E2EDBus : public QObject {
    Q_OBJECT

    Desktop desktop{qEnvironmentVariable("PINGLARK_E2E_HOME")};
    QDBusConnection panel{QString()};
    Watcher watcher;
    HttpServer server;
    QString service;
    int newIcons = 0; // NewIcon signals that reached the panel
    QString iconThemePath;
    QString plainIcon; // the picture while nothing blinks and the menu is closed
    const QStringList firstMenu = fixtureLines("first.menu");

    QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(arguments);
        // The feed server keeps serving on this thread while the answer is awaited. Without an
        // answer in time, the reply is an invalid message.
        QDBusPendingCall pending = panel.asyncCall(message, 10000);
        waitFor([&] { return pending.isFinished(); }, 12000);
        return pending.reply();
    }
    // (An error's arguments hold no QDBusVariant, nor a layout: the value is then empty.)
    QVariant itemProperty(const QString& name) {
        const QDBusMessage answer = call("/StatusNotifierItem", "org.freedesktop.DBus.Properties",
                                         "Get", {itemInterface, name});
        return answer.arguments().value(0).value<QDBusVariant>().variant();
    }
    // The picture shown, by the name that panels look it up by.
    QString iconName() { return itemProperty("IconName").toString(); }
    QString menuPath() { return itemProperty("Menu").value<QDBusObjectPath>().path(); }
    // The whole menu, as a panel asks for it before showing it.
    QList<MenuItem> menu() {
        const QVariantList answer =
            call(menuPath(), menuInterface, "GetLayout", {0, -1, QStringList()}).arguments();
        return qdbus_cast<MenuItem>(answer.value(1)).children;
    }
    // An event on the item with this label; on the root, for a label that no item has.
    QDBusMessage::MessageType event(const QString& label, const QString& name = "clicked") {
        int id = 0;
        for (const MenuItem& item : menu())
            id = item.label() == label ? item.id : id;
        return call(menuPath(), menuInterface, "Event",
                    {id, name, QVariant::fromValue(QDBusVariant(0)), 0u})
            .type();
    }
    // The settings file below this folder of the session's.
    QByteArray settingsOf(const QString& folder) const {
        QFile file(desktop.home() + "/" + folder + "/Veltrano/Pinglark.conf");
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
    }
    // Polls the menu until its top item is this one; the labels as they were then.
    QStringList waitForTop(const QString& label) {
        QStringList labels;
        waitFor([&] {
            labels.clear();
            for (const MenuItem& item : menu())
                labels.append(item.label());
            return labels.value(0) == label;
        });
        return labels;
    }

public Q_SLOTS:
    void newIconReceived() { ++newIcons; }

private Q_SLOTS:
    void initTestCase() {
        QCOMPARE(desktop.startSession({"xdotool"}), QString());

        // The panel is there before the program.
        panel = QDBusConnection::connectToBus(desktop.busAddress(), "panel");
        QVERIFY(panel.registerObject("/StatusNotifierWatcher", &watcher,
                                     QDBusConnection::ExportAdaptors));
        QVERIFY(panel.registerService("org.kde.StatusNotifierWatcher"));
        QVERIFY(panel.registerService(
            QString("org.kde.StatusNotifierHost-%1").arg(QCoreApplication::applicationPid())));

        QCOMPARE(desktop.serveFeed(server, "DataRefreshInterval=1\n"), QString());
        // The accessibility bus (AT-SPI), as a desktop whose screen reader runs has it. Its
        // launcher ends the bus it started on SIGTERM, not on SIGKILL.
        desktop.start("/usr/libexec/at-spi-bus-launcher", {"--screen-reader=1"}, "at-spi", SIGTERM);
        QVERIFY2(waitFor([&] { return panel.interface()->isServiceRegistered(a11yBus).value(); }),
                 "no accessibility bus: at-spi2-core (tools/install-deps.sh installs it)");
        QVERIFY(desktop.startApp());
    }

    void registersWithAVisibleIconAndListsTheFeed() {
        QVERIFY2(waitFor([&] { return !watcher.services.isEmpty(); }),
                 "the item never registered with the watcher");
        service = watcher.services.first();
        QVERIFY(panel.connect(service, "/StatusNotifierItem", itemInterface, "NewIcon", this,
                              SLOT(newIconReceived())));
        // A panel that draws the icon itself finds it by name in the folder the item gives.
        plainIcon = iconName();
        iconThemePath = itemProperty("IconThemePath").toString();
        QVERIFY(QFile::exists(iconThemePath + "/hicolor/scalable/apps/" + plainIcon + ".svg"));
        QCOMPARE(waitForTop(firstMenu.first()), firstMenu);
    }

    void aNewTopEntryBlinksTheIconUntilTheMenuOpens() {
        QVERIFY(refreshWith(server, {entry("Fresh_news", "https://news.example/2024/fresh")}));
        QCOMPARE(waitForTop("Fresh__news"), QStringList{"Fresh__news"} + firstMenu);

        // Every phase one NewIcon, the picture gone and back.
        const int first = newIcons;
        QStringList pictures;
        for (int phase = 1; phase <= 6; ++phase) {
            QVERIFY2(waitFor([&] { return newIcons >= first + phase; }, 5000),
                     "the icon does not blink");
            pictures.append(iconName());
        }
        const qsizetype plain = pictures.count(plainIcon);
        QVERIFY2(QSet(pictures.cbegin(), pictures.cend()).size() == 2 && plain >= 2 && plain <= 4,
                 "the icon does not blink");

        // The panel opens the menu and closes it: the blinking has stopped, the icon is there
        // and stays for two phases. (The item is asked, not its signals counted: the highlight's
        // own two NewIcon signals may still be on their way.)
        QCOMPARE(event({}, "opened"), QDBusMessage::ReplyMessage);
        QCOMPARE(event({}, "closed"), QDBusMessage::ReplyMessage);
        QVERIFY(waitFor([&] { return iconName() == plainIcon; }, 3000));
        QVERIFY2(!waitFor([&] { return iconName() != plainIcon; }, 1600), "still blinking");
    }

    // The preferences window as a screen reader reads it on the accessibility bus: each control's
    // role, name, description, the label it has and whether it is checked. Keys alone change two
    // choices there, and Enter saves them and closes the window.
    void preferencesForScreenReadersAndKeys() {
        const QDBusReply<QString> address =
            QDBusInterface(a11yBus, "/org/a11y/bus", a11yBus, panel).call("GetAddress");
        const QDBusConnection bus = QDBusConnection::connectToBus(address.value(), "a11y");
        QString app; // the program's connection there
        for (const QString& name : bus.interface()->registeredServiceNames().value())
            app = bus.interface()->servicePid(name) == desktop.app()->processId() ? name : app;
        QVERIFY2(!app.isEmpty(), "the program is not on the accessibility bus");
        const auto ask = [&](const QString& path, const QString& method,
                             const QVariantList& args = {},
                             const QString& interface = "org.a11y.atspi.Accessible") {
            QDBusMessage message = QDBusMessage::createMethodCall(app, path, interface, method);
            message.setArguments(args);
            return bus.call(message, QDBus::Block, 5000).arguments().value(0);
        };
        const auto text = [&](const QString& path, const QString& property) {
            const QVariant value = ask(path, "Get", {"org.a11y.atspi.Accessible", property},
                                       "org.freedesktop.DBus.Properties");
            return value.value<QDBusVariant>().variant().toString();
        };
        const auto children = [&](const QString& path) {
            QStringList paths;
            for (const auto& [name, child] : qdbus_cast<AtSpiReferences>(ask(path, "GetChildren")))
                paths.append(child.path());
            return paths;
        };
        const auto has = [&](const QString& path, AtSpi state) {
            return qdbus_cast<QList<uint>>(ask(path, "GetState")).value(0) & (1u << state);
        };
        const auto describe = [&](const QString& path) {
            QString row = ask(path, "GetRoleName").toString() + ": " + text(path, "Name");
            if (const QString description = text(path, "Description"); !description.isEmpty())
                row += " (" + description + ")";
            for (const auto& [type, targets] :
                 qdbus_cast<AtSpiRelations>(ask(path, "GetRelationSet")))
                if (type == labelledBy)
                    row += ", labelled by " + text(targets.value(0).second.path(), "Name");
            return row + (has(path, checked) ? ", checked" : "");
        };
        // The window's controls while it is open and has the keyboard, once they are as awaited.
        const auto controls = [&](const QStringList& awaited) {
            QStringList rows;
            waitFor([&] {
                rows.clear();
                for (const QString& window : children("/org/a11y/atspi/accessible/root"))
                    if (text(window, "Name") == "Pinglark Preferences" && has(window, active))
                        for (const QString& control : children(window))
                            rows.append(describe(control));
                return rows == awaited;
            });
            return rows;
        };
        // The controls as the window opens, a line each.
        QStringList expected = fixtureLines("preferences.a11y");
        for (const QStringList& round : fixtureRows("keys.a11y", 5)) {
            QCOMPARE(event("Preferences\u2026"), QDBusMessage::ReplyMessage);
            QCOMPARE(controls(expected), expected);
            QVERIFY(desktop.run("xdotool", QStringList{"key"} + round[0].split(' ')));
            expected[6] = round[1]; // the check box
            expected[4] = round[2]; // the combo box
            QCOMPARE(controls(expected), expected);
            QVERIFY(desktop.run("xdotool", {"key", "Return"}));
            const auto saved = [&](const QString& line) {
                return settingsOf("config").contains(("\n" + line + "\n").toUtf8());
            };
            QVERIFY2(waitFor([&] { return saved(round[3]) && saved(round[4]); }),
                     settingsOf("config").constData());
            QVERIFY(waitFor(
                [&] { return desktop.windows("^Pinglark Preferences$", "--name").isEmpty(); }));
        }
    }

    // Further starts (starts.txt): --help, --version and a bad --feed answer without a display and
    // touch no settings. A start while the program runs hands its request over (show the
    // preferences, read this feed) and ends; with no bus to ask on, a start runs, keeping the feed
    // it was given.
    void furtherStarts() {
        // (The paths of the build hold no spaces.)
        const auto startWith = [&](const QString& name, const QString& env, const QString& args) {
            const QString command = QString("%1 XDG_CONFIG_HOME=%2/%3 %4 %5")
                                        .arg(env, desktop.home(), name, PINGLARK_BINARY, args);
            return desktop.start("env", command.split(' ', Qt::SkipEmptyParts), name);
        };
        const QString preferences = "^Pinglark Preferences$";
        QVERIFY(desktop.windows(preferences, "--name").isEmpty());
        const QString own = server.url("/own.xml").toString();
        const QByteArray ownSetting = "\nFeedURL=" + own.toUtf8() + "\n";
        server.serve("/own.xml",
                     FeedFixture::rss2({entry("Own entry", "https://news.example/own")}, "Own"));

        for (QStringList start : fixtureRows("starts.txt", 5)) {
            QProcess* process = startWith(start[0], start[1], start[2].replace("{own}", own));
            QVERIFY2(waitFor([&] { return process->state() == QProcess::NotRunning; }, 8000) &&
                         process->exitStatus() == QProcess::NormalExit &&
                         process->exitCode() == start[3].toInt(),
                     qPrintable(start[0]));
            QVERIFY2(QRegularExpression(start[4]).match(desktop.log(start[0])).hasMatch(),
                     qPrintable(desktop.log(start[0])));
            QCOMPARE(settingsOf(start[0]), "<none>");
        }
        QVERIFY2(waitFor([&] { return !desktop.windows(preferences, "--name").isEmpty(); }),
                 "the running program did not show its preferences");
        // Its windows tell task bars whose they are, and About's title has room on its frame.
        const auto identity = desktop.run(
            "xprop", {"-id", QString::number(desktop.windows(preferences, "--name")[0].id),
                      "_KDE_NET_WM_DESKTOP_FILE", "_NET_WM_ICON"});
        QVERIFY(identity &&
                identity->contains("_KDE_NET_WM_DESKTOP_FILE(UTF8_STRING) = \"pinglark\"") &&
                identity->contains("_NET_WM_ICON(CARDINAL) = "));
        event("About Pinglark");
        QVERIFY(waitFor([&] { return !desktop.windows("^About Pinglark$", "--name").isEmpty(); }));
        QCOMPARE_GE(desktop.windows("^About Pinglark$", "--name")[0].geometry.width(), 300);
        QCOMPARE(waitForTop("Own entry"),
                 (QStringList{"Own entry", "---", "Own"} + firstMenu.mid(firstEntries.size() + 2)));
        QVERIFY(settingsOf("config").contains(ownSetting));
        QCOMPARE(watcher.services.size(), 1);

        QProcess* alone = startWith("alone", "DBUS_SESSION_BUS_ADDRESS=disabled:", "--feed " + own);
        QVERIFY2(waitFor([&] { return settingsOf("alone").contains(ownSetting); }),
                 "a start without a session bus did not run with its feed");
        QCOMPARE(alone->state(), QProcess::Running);
    }

    void quitEndsTheProgramAndTakesItsIconsAlong() {
        event("Quit Pinglark"); // it may end before it answers
        QVERIFY(waitFor([&] { return desktop.app()->state() == QProcess::NotRunning; }));
        QCOMPARE(desktop.stopApp(), 0);
        QVERIFY2(!QFileInfo::exists(iconThemePath), "the tray's icons outlived the program");
    }
};

QTEST_GUILESS_MAIN(E2EDBus)

#include "e2e_dbus.moc"
