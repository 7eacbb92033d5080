// The real program as a StatusNotifierItem panel sees it (KDE Plasma, GNOME's AppIndicator
// extension, waybar): the test runs a private session bus and a virtual display, plays the panel
// (the org.kde.StatusNotifierWatcher service with a registered host) and serves the feed. It
// reads the item and its com.canonical.dbusmenu menu, and answers as a panel does, with its own
// decoding of the wire format.

#include "Desktop.h"
#include "HttpServer.h"
#include "Watcher.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace e2e;

namespace {

const QString itemInterface = "org.kde.StatusNotifierItem";
const QString menuInterface = "com.canonical.dbusmenu";

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
    bool enabled() const { return properties.value("enabled", true).toBool(); }
    QByteArray icon() const { return properties.value("icon-data").toByteArray(); }
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

// The pixels of pictures, a(iiay) of ARGB32 in network byte order, one after the other.
QByteArray pixels(const QDBusArgument& argument) {
    QByteArray all;
    argument.beginArray();
    while (!argument.atEnd()) {
        int width = 0, height = 0;
        QByteArray argb;
        argument.beginStructure();
        argument >> width >> height >> argb;
        argument.endStructure();
        all += argb;
    }
    argument.endArray();
    return all;
}

// Whether pixels are what a panel shows as nothing: not one pixel with any opacity.
bool isBlank(const QByteArray& argb) {
    for (qsizetype i = 0; i < argb.size(); i += 4)
        if (argb.at(i) != 0)
            return false;
    return true;
}

QStringList labels(const QList<MenuItem>& items) {
    QStringList result;
    for (const MenuItem& item : items)
        result.append(item.label());
    return result;
}

// As the panel must show the first entries: "_" doubled (a single one marks a mnemonic), "&" as
// it is, and the tab as the gap the menu shows.
const QStringList firstLabels{"AT&T and Q&A", "snake__case naming", "Tabs inside",
                              "Quarterly report"};
const QStringList fixedLabels{
    "---", "Veltrano Feeds", "---",          "Preferences\u2026", "Launch at Login",
    "---", "About Pinglark", "Quit Pinglark"};

const FeedFixture::Entry freshEntry = entry("Fresh_news", "https://news.example/2024/fresh");
const FeedFixture::Entry chosenEntry = entry("Chosen one", "https://news.example/2024/chosen");

} // namespace

class E2EDBus : public QObject {
    Q_OBJECT

    Desktop desktop{qEnvironmentVariable("PINGLARK_E2E_HOME")};
    QDBusConnection panel{QString()};
    Watcher watcher;
    std::unique_ptr<HttpServer> server;
    QByteArray feed;
    QString service;
    QElapsedTimer clock;
    QList<qint64> newIconTimes; // when each NewIcon signal reached the panel
    QByteArray blankEntryIcon;
    QByteArray newEntryIcon;
    QByteArray plainIcon; // the status image when the item neither blinks nor is highlighted
    QString iconThemePath;

    bool startServer() {
        server = std::make_unique<HttpServer>();
        server->serve(feedPath, feed);
        return server->listen(feedPort);
    }
    void serveFeed(const QList<FeedFixture::Entry>& entries) {
        feed = FeedFixture::rdf(entries);
        server->serve(feedPath, feed);
    }

    QDBusMessage send(const QDBusMessage& message) {
        // The feed server runs on this thread's event loop: it keeps serving while the answer is
        // awaited. (No nested event loop of QtDBus's own: the wait stays in this test's hands.)
        // Without an answer in time, the reply is an invalid message.
        QDBusPendingCall pending = panel.asyncCall(message, 10000);
        waitFor([&] { return pending.isFinished(); }, 12000);
        return pending.reply();
    }
    QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(arguments);
        return send(message);
    }
    // The panel shows the menu, or takes it away, as the watcher's kind of host does.
    void openMenu() {
        for (const QDBusMessage& message : watcher.menuOpening(service, menuPath()))
            QCOMPARE(send(message).type(), QDBusMessage::ReplyMessage);
    }
    void closeMenu() {
        for (const QDBusMessage& message : watcher.menuClosing(service, menuPath()))
            QCOMPARE(send(message).type(), QDBusMessage::ReplyMessage);
    }
    // (An error's arguments hold no QDBusVariant, nor a layout: the value is then empty.)
    QVariant itemProperty(const QString& name) {
        const QVariantList answer = call("/StatusNotifierItem", "org.freedesktop.DBus.Properties",
                                         "Get", {itemInterface, name})
                                        .arguments();
        return answer.value(0).value<QDBusVariant>().variant();
    }
    QByteArray iconPixels() { return pixels(itemProperty("IconPixmap").value<QDBusArgument>()); }
    bool iconIsBlank() { return isBlank(iconPixels()); }
    QString menuPath() { return itemProperty("Menu").value<QDBusObjectPath>().path(); }
    // The whole menu, as a panel asks for it before showing it.
    QList<MenuItem> menu() {
        const QVariantList answer =
            call(menuPath(), menuInterface, "GetLayout", {0, -1, QStringList()}).arguments();
        return qdbus_cast<MenuItem>(answer.value(1)).children;
    }
    MenuItem menuItem(const QString& label) {
        for (const MenuItem& item : menu())
            if (item.label() == label)
                return item;
        return {};
    }
    QDBusMessage::MessageType event(int id, const QString& name) {
        return call(menuPath(), menuInterface, "Event",
                    {id, name, QVariant::fromValue(QDBusVariant(0)), 0u})
            .type();
    }
    // Polls the menu until its top item is this one; the menu as it was then.
    QList<MenuItem> waitForTop(const QString& label) {
        QList<MenuItem> items;
        waitFor([&] {
            items = menu();
            return !items.isEmpty() && items.first().label() == label;
        });
        return items;
    }
    // NewIcon signals within a while, after a moment for the changes already under way.
    qsizetype iconChangesWithin(int ms) {
        QTest::qWait(300);
        const qsizetype before = newIconTimes.size();
        QTest::qWait(ms);
        return newIconTimes.size() - before;
    }

public Q_SLOTS:
    void newIconReceived() { newIconTimes.append(clock.elapsed()); }

private Q_SLOTS:
    void initTestCase() {
        clock.start();
        const QString error = desktop.startSession({"xdotool"});
        QVERIFY2(error.isEmpty(), qPrintable(error));

        // The panel is there before the program.
        panel = QDBusConnection::connectToBus(desktop.busAddress(), "panel");
        QVERIFY(panel.isConnected());
        QVERIFY(panel.registerObject("/StatusNotifierWatcher", &watcher,
                                     QDBusConnection::ExportAdaptors));
        QVERIFY(panel.registerService("org.kde.StatusNotifierWatcher"));
        QVERIFY(panel.registerService(
            QString("org.kde.StatusNotifierHost-%1").arg(QCoreApplication::applicationPid())));

        feed = FeedFixture::rdf(firstEntries);
        QVERIFY2(startServer(), qPrintable(portTaken));
        desktop.writeSettings("DataRefreshInterval=1\n");
        QString appError;
        QVERIFY2(desktop.startApp(PINGLARK_BINARY, &appError), qPrintable(appError));
    }

    void cleanupTestCase() {
        desktop.stopApp();
        qInfo().noquote() << "pinglark's output:\n" << desktop.log("pinglark");
    }

    void registersWithAVisibleIconAndListsTheFeed() {
        QVERIFY2(waitFor([&] { return !watcher.services.isEmpty(); }),
                 "the item never registered with the watcher");
        QCOMPARE(watcher.services.size(), 1);
        service = watcher.services.first();
        QVERIFY(panel.connect(service, "/StatusNotifierItem", itemInterface, "NewIcon", this,
                              SLOT(newIconReceived())));
        plainIcon = iconPixels();
        QVERIFY2(!isBlank(plainIcon), "the icon has no visible pixel");
        // A panel that draws the icon itself finds it by name in the folder the item gives.
        iconThemePath = itemProperty("IconThemePath").toString();
        QVERIFY(QFile::exists(iconThemePath + "/hicolor/scalable/apps/" +
                              itemProperty("IconName").toString() + ".svg"));

        // The menu lists the feed above the fixed items.
        const QList<MenuItem> items = waitForTop(firstLabels.first());
        QCOMPARE(labels(items), firstLabels + fixedLabels);
        // The first refresh marks nothing as new: one picture for all entries.
        blankEntryIcon = items[0].icon();
        for (qsizetype i = 0; i < firstLabels.size(); ++i) {
            QVERIFY(items[i].enabled());
            QCOMPARE(items[i].icon(), blankEntryIcon);
        }
    }

    void aNewTopEntryBlinksTheIconUntilTheMenuOpens() {
        QVERIFY(!service.isEmpty());
        serveFeed(QList<FeedFixture::Entry>{freshEntry} + firstEntries);
        const QList<MenuItem> items = waitForTop("Fresh__news");
        QCOMPARE(labels(items), QStringList{"Fresh__news"} + firstLabels + fixedLabels);
        newEntryIcon = items[0].icon();
        QVERIFY2(newEntryIcon != blankEntryIcon, "a new entry looks like the others");
        for (qsizetype i = 1; i <= firstLabels.size(); ++i)
            QCOMPARE(items[i].icon(), blankEntryIcon);

        // Every phase one NewIcon, the picture gone and back. A loaded machine may delay one
        // signal now and then: the period is measured again, up to three times.
        bool regular = false;
        for (int attempt = 0; attempt < 3 && !regular; ++attempt) {
            const qsizetype first = newIconTimes.size();
            int blank = 0, shown = 0;
            while (newIconTimes.size() < first + 7) {
                const qsizetype seen = newIconTimes.size();
                QVERIFY2(waitFor([&] { return newIconTimes.size() > seen; }, 5000),
                         "the icon does not blink");
                (iconIsBlank() ? blank : shown)++;
            }
            QVERIFY2(blank >= 2 && shown >= 2, "the icon changes but does not blink");
            QList<qint64> intervals;
            regular = true;
            for (qsizetype i = first + 1; i < first + 7; ++i) {
                intervals.append(newIconTimes[i] - newIconTimes[i - 1]);
                regular = regular && std::abs(intervals.last() - 750) <= 200;
            }
            qInfo() << "blink intervals (ms):" << intervals << "at" << clock.elapsed();
        }
        QVERIFY2(regular, "the icon does not change every 0.75 s");

        // The panel opens the menu: the blinking stops. (While the menu is open the item shows
        // its highlighted picture whatever happens underneath; only after it closes does the
        // panel see whether the blinking really stopped.)
        QCOMPARE(event(0, "opened"), QDBusMessage::ReplyMessage);
        QCOMPARE(iconChangesWithin(1500), 0);
        QVERIFY(!iconIsBlank());
        QCOMPARE(event(0, "closed"), QDBusMessage::ReplyMessage);
        QCOMPARE(iconChangesWithin(2500), 0);
        QVERIFY(!iconIsBlank());
    }

    void choosingAnEntryOpensItsLink() {
        QVERIFY(!newEntryIcon.isEmpty());
        serveFeed(QList<FeedFixture::Entry>{chosenEntry, freshEntry} + firstEntries);
        waitForTop("Chosen one");
        // While the menu is open the program does not refresh it.
        openMenu();

        MenuItem chosen = menu().value(0);
        QCOMPARE(chosen.label(), "Chosen one");
        QCOMPARE(chosen.icon(), newEntryIcon);
        QCOMPARE(event(chosen.id, "clicked"), QDBusMessage::ReplyMessage);
        QVERIFY2(waitFor([&] { return !desktop.openerCalls().isEmpty(); }),
                 "xdg-open was not called");
        QCOMPARE(desktop.openerCalls(), QList<QStringList>{{*chosenEntry.link}});

        // A chosen new entry has a picture of its own.
        QVERIFY(waitFor([&] { return menu().value(0).icon() != newEntryIcon; }));
        chosen = menu().value(0);
        QCOMPARE(chosen.label(), "Chosen one");
        QVERIFY(chosen.icon() != blankEntryIcon);
        QVERIFY(!chosen.icon().isEmpty());
        QCOMPARE(menu().value(1).icon(), blankEntryIcon); // seen at the refresh before

        // The first entry's link holds "&": it reaches the opener whole. Then the home page.
        QCOMPARE(event(menuItem("AT&T and Q&A").id, "clicked"), QDBusMessage::ReplyMessage);
        QCOMPARE(event(menuItem("Veltrano Feeds").id, "clicked"), QDBusMessage::ReplyMessage);
        QVERIFY(waitFor([&] { return desktop.openerCalls().size() == 3; }));
        QCOMPARE(desktop.openerCalls(),
                 (QList<QStringList>{{*chosenEntry.link},
                                     {*firstEntries[0].link},
                                     {QString("http://127.0.0.1:%1/go/rss_info").arg(feedPort)}}));
        closeMenu();
        // Opening the menu stopped the blinking.
        QCOMPARE(iconChangesWithin(2500), 0);
        QVERIFY(!iconIsBlank());
    }

    void aDownServerShowsNoDataUntilItIsBack() {
        QVERIFY(!service.isEmpty());
        const QStringList noData = QStringList{"No Data Loaded"} + fixedLabels;
        server.reset(); // nothing listens on the port any more
        const QList<MenuItem> items = waitForTop(noData.first());
        QCOMPARE(labels(items), noData);
        QVERIFY(!items.first().enabled());

        // Back: the next refresh lists the entries again.
        QVERIFY(startServer());
        const QStringList entries =
            QStringList{"Chosen one", "Fresh__news"} + firstLabels + fixedLabels;
        QCOMPARE(labels(waitForTop(entries.first())), entries);
    }

    // A slow server: a download is in flight when the panel opens the menu. What the panel reads
    // stays as it is while the menu counts as open: until "closed" where the host sends it, for a
    // moment where it only calls AboutToShow. Then the new feed shows, refreshes keep their
    // period, and the id the panel held for the old top entry no longer opens anything.
    void theOpenMenuHoldsStill_data() {
        QTest::addColumn<MenuHost>("host");
        QTest::newRow("xfce") << MenuHost::Xfce;
        QTest::newRow("lxqt") << MenuHost::Lxqt;
    }
    void theOpenMenuHoldsStill() {
        QFETCH(MenuHost, host);
        QVERIFY(!service.isEmpty());
        watcher.menuHost = host;
        const FeedFixture::Entry top = host == MenuHost::Xfce
                                           ? entry("Seen on XFCE", "https://news.example/xfce")
                                           : entry("Seen on LXQt", "https://news.example/lxqt");
        QSignalSpy requests(server.get(), &HttpServer::requestReceived);
        server->drip(feedPath, FeedFixture::rdf(QList<FeedFixture::Entry>{top} + firstEntries),
                     std::chrono::milliseconds(1));
        QVERIFY(requests.wait(10000));
        openMenu();
        const QList<MenuItem> before = menu();
        QVERIFY(before.value(0).label() != *top.title);
        QVERIFY2(iconPixels() != plainIcon, "the open menu does not highlight the item");
        // The next refresh starts once the slow one is over: refreshes are not held.
        QVERIFY2(requests.wait(10000), "refreshes are held");

        if (host == MenuHost::Lxqt) {
            const QList<MenuItem> now = menu();
            QCOMPARE(labels(now), labels(before));
            for (qsizetype i = 0; i < now.size(); ++i)
                QCOMPARE(now[i].id, before[i].id);
            QVERIFY(iconPixels() != plainIcon);
            closeMenu();
        }
        QVERIFY2(waitFor([&] { return iconPixels() == plainIcon; }, 5000),
                 "the item stays highlighted");
        waitForTop(*top.title);

        const qsizetype opened = desktop.openerCalls().size();
        QCOMPARE(event(before[0].id, "clicked"), QDBusMessage::ErrorMessage);
        QCOMPARE(event(menuItem(*top.title).id, "clicked"), QDBusMessage::ReplyMessage);
        QVERIFY(waitFor([&] { return desktop.openerCalls().size() > opened; }));
        QCOMPARE(desktop.openerCalls().mid(opened), QList<QStringList>{{*top.link}});
    }

    void preferencesOpensItsWindowAndQuitEndsTheProgram() {
        QVERIFY(!service.isEmpty());
        const QString title = "^Pinglark Preferences$";
        QVERIFY(desktop.windows(title, true, "--name").isEmpty());
        QCOMPARE(event(menuItem("Preferences\u2026").id, "clicked"), QDBusMessage::ReplyMessage);
        QVERIFY2(waitFor([&] { return !desktop.windows(title, true, "--name").isEmpty(); }),
                 "no window titled \"Pinglark Preferences\" appeared");

        QCOMPARE(desktop.app()->state(), QProcess::Running);
        event(menuItem("Quit Pinglark").id, "clicked"); // it may end before it answers
        QVERIFY2(desktop.appExitsCleanly(), "Quit Pinglark did not end the program with status 0");
        QVERIFY(waitFor([&] { return !panel.interface()->isServiceRegistered(service).value(); }));
        QVERIFY2(!QFileInfo::exists(iconThemePath), "the tray's icons outlived the program");
    }

    // As from the application menu while the autostarted program runs: no second icon, the
    // running one shows its preferences. A start without a bus cannot ask and simply runs.
    void aSecondStartOpensTheRunningOnesPreferences() {
        desktop.stopApp();
        watcher.services.clear();
        QString error;
        QVERIFY2(desktop.startApp(PINGLARK_BINARY, &error), qPrintable(error));
        QVERIFY(waitFor([&] { return !watcher.services.isEmpty(); }));
        const QString title = "^Pinglark Preferences$";
        QVERIFY(desktop.windows(title, true, "--name").isEmpty());

        // Each start with settings of its own, to see whether it touched them.
        const auto startWith = [&](const QString& name, const QStringList& environment) {
            return desktop.start(
                "env",
                environment +
                    QStringList{"XDG_CONFIG_HOME=" + desktop.home() + "/" + name, PINGLARK_BINARY},
                name);
        };
        const auto settingsOf = [&](const QString& name) {
            return desktop.home() + "/" + name + "/Veltrano/Pinglark.conf";
        };
        QProcess* second = startWith("second", {});
        QVERIFY2(waitFor([&] { return second->state() == QProcess::NotRunning; }, 8000),
                 "a second start kept running");
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        QVERIFY(!QFile::exists(settingsOf("second")));
        QVERIFY2(waitFor([&] { return !desktop.windows(title, true, "--name").isEmpty(); }),
                 "the running program did not show its preferences");
        QCOMPARE(watcher.services.size(), 1);
        QCOMPARE(desktop.app()->state(), QProcess::Running);

        QProcess* alone = startWith("alone", {"DBUS_SESSION_BUS_ADDRESS=disabled:"});
        QVERIFY2(waitFor([&] { return QFile::exists(settingsOf("alone")); }),
                 "a start without a session bus did not run");
        QCOMPARE(alone->state(), QProcess::Running);
    }

    // The command line: --help and --version answer without a display, and a bad --feed is
    // refused, none of them touching the settings; a good --feed is kept by the program that
    // runs: the running one, or this start when none runs.
    void theCommandLine() {
        const auto run = [&](const QString& name, const QStringList& arguments,
                             const QStringList& environment = {}) {
            QProcess* process = desktop.start(
                "env",
                environment +
                    QStringList{"XDG_CONFIG_HOME=" + desktop.home() + "/" + name, PINGLARK_BINARY} +
                    arguments,
                name);
            return process;
        };
        const auto ended = [&](QProcess* process) {
            return waitFor([&] { return process->state() == QProcess::NotRunning; }, 8000);
        };
        const auto settingsOf = [&](const QString& name) {
            QFile file(desktop.home() + "/" + name + "/Veltrano/Pinglark.conf");
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
        };
        const struct {
            const char* name;
            QStringList arguments;
            int status;
            const char* output;
        } answers[] = {
            {"help", {"--help"}, 0, "^Usage: pinglark \\[options\\]\n(.|\n)*--feed <url>"},
            {"version", {"--version"}, 0, "^Pinglark \\d+\\.\\d+\\.\\d+\n$"},
            {"bad-feed", {"--feed", "ftp://news.example/feed.xml"}, 2, "^pinglark: --feed "},
        };
        for (const auto& answer : answers) {
            QProcess* process = run(answer.name, answer.arguments, {"-u", "DISPLAY"});
            QVERIFY(ended(process));
            QCOMPARE(process->exitStatus(), QProcess::NormalExit);
            QCOMPARE(process->exitCode(), answer.status);
            QVERIFY2(QRegularExpression(answer.output).match(desktop.log(answer.name)).hasMatch(),
                     qPrintable(desktop.log(answer.name)));
            QCOMPARE(settingsOf(answer.name), "<none>");
        }

        // Handed to the running program, which keeps it and reads it; this start ends.
        service = watcher.services.value(0);
        const QString own = server->url("/own.xml").toString();
        server->serve("/own.xml",
                      FeedFixture::rss2({entry("Own entry", "https://news.example/own")}, "Own"));
        QProcess* handOver = run("hand-over", {"--feed", own});
        QVERIFY(ended(handOver));
        QCOMPARE(handOver->exitCode(), 0);
        QCOMPARE(settingsOf("hand-over"), "<none>");
        QCOMPARE(labels(waitForTop("Own entry")),
                 (QStringList{"Own entry", "---", "Own"} + fixedLabels.mid(2)));
        QVERIFY(settingsOf("config").contains("\nFeedURL=" + own.toUtf8() + "\n"));
        QCOMPARE(watcher.services.size(), 1);

        // With nobody to hand it to, this start keeps it and runs.
        QProcess* alone =
            run("feed-alone", {"--feed", own}, {"DBUS_SESSION_BUS_ADDRESS=disabled:"});
        QVERIFY(waitFor([&] { return settingsOf("feed-alone").contains("HasRun=true"); }));
        QVERIFY(settingsOf("feed-alone").contains("\nFeedURL=" + own.toUtf8() + "\n"));
        QCOMPARE(alone->state(), QProcess::Running);
    }
};

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    E2EDBus test;
    return QTest::qExec(&test, argc, argv);
}

#include "e2e_dbus.moc"
