// The real program as a StatusNotifierItem panel sees it (KDE Plasma, GNOME's AppIndicator
// extension, waybar): the test runs a private session bus and a virtual display, plays the panel
// (the org.kde.StatusNotifierWatcher service with a registered host) and serves the feed. It
// reads the item and its com.canonical.dbusmenu menu, and answers as a panel does, with its own
// decoding of the wire format.

#include "Desktop.h"
#include "FeedFixture.h"
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
#include <QtTest>

#include <memory>

using namespace e2e;

namespace {

const QString itemInterface = "org.kde.StatusNotifierItem";
const QString menuInterface = "com.canonical.dbusmenu";

// When each NewIcon signal reached the panel.
class IconSignals : public QObject {
    Q_OBJECT
public:
    QElapsedTimer clock;
    QList<qint64> times;
    IconSignals() { clock.start(); }
public Q_SLOTS:
    void received() { times.append(clock.elapsed()); }
};

// One node of a dbusmenu layout, (ia{sv}av).
struct MenuItem {
    int id = -1;
    QVariantMap properties;
    QList<MenuItem> children;

    // What a panel shows; "---" for a separator.
    QString label() const {
        if (properties.value("type").toString() == "separator")
            return "---";
        return properties.value("label").toString();
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

struct Pixmap {
    int width = 0;
    int height = 0;
    QByteArray argb; // ARGB32, network byte order
};

// a(iiay)
QList<Pixmap> readPixmaps(const QDBusArgument& argument) {
    QList<Pixmap> pixmaps;
    argument.beginArray();
    while (!argument.atEnd()) {
        Pixmap p;
        argument.beginStructure();
        argument >> p.width >> p.height >> p.argb;
        argument.endStructure();
        pixmaps.append(p);
    }
    argument.endArray();
    return pixmaps;
}

// A picture a panel would show as nothing: no pixel with any opacity.
bool isBlank(const QList<Pixmap>& pixmaps) {
    for (const Pixmap& p : pixmaps)
        for (qsizetype i = 0; i < p.argb.size(); i += 4)
            if (p.argb.at(i) != 0)
                return false;
    return true;
}

QStringList labels(const QList<MenuItem>& items) {
    QStringList result;
    for (const MenuItem& item : items)
        result.append(item.label());
    return result;
}

FeedFixture::Entry entry(const QString& title, const QString& link) {
    return {title, link, QString("Veltrano desk"), {}};
}

// The first feed: titles that menus and dbusmenu labels are known to mangle.
const QList<FeedFixture::Entry> firstEntries{
    entry("AT&T and Q&A", "https://news.example/2024/att-qa?id=7&ref=rss"),
    entry("snake_case naming", "https://news.example/2024/snake-case"),
    entry("Tabs\tinside", "https://news.example/2024/tabs"),
    entry("Quarterly report", "https://news.example/2024/report"),
};
// As the panel must show them: "_" doubled (a single one marks a mnemonic), "&" as it is, and
// the tab as the gap the menu shows.
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

    std::unique_ptr<Desktop> desktop;
    QDBusConnection panel{QString()};
    Watcher watcher;
    IconSignals newIcon;
    std::unique_ptr<HttpServer> server;
    QByteArray feed;
    QString service;

    QByteArray blankEntryIcon;
    QByteArray newEntryIcon;

    bool startServer() {
        server = std::make_unique<HttpServer>();
        if (!server->listen(feedPort))
            return false;
        server->serve(feedPath, feed);
        return true;
    }
    void serveFeed(const QList<FeedFixture::Entry>& entries) {
        feed = FeedFixture::rdf(entries);
        if (server)
            server->serve(feedPath, feed);
    }

    QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(arguments);
        // The feed server runs on this thread's event loop: it keeps serving while the answer is
        // awaited. (No nested event loop of QtDBus's own: the wait stays in this test's hands.)
        QElapsedTimer took;
        took.start();
        QDBusPendingCall pending = panel.asyncCall(message, 10000);
        waitFor([&] { return pending.isFinished(); }, 12000);
        if (took.elapsed() > 2000)
            qInfo() << method << "took" << took.elapsed() << "ms";
        if (!pending.isFinished())
            return message.createErrorReply(QDBusError::Timeout, "no answer");
        return pending.reply();
    }
    QVariant itemProperty(const QString& name) {
        const QDBusMessage reply = call("/StatusNotifierItem", "org.freedesktop.DBus.Properties",
                                        "Get", {itemInterface, name});
        if (reply.type() != QDBusMessage::ReplyMessage)
            return {};
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }
    QList<Pixmap> iconPixmap() {
        return readPixmaps(itemProperty("IconPixmap").value<QDBusArgument>());
    }
    QString menuPath() { return itemProperty("Menu").value<QDBusObjectPath>().path(); }
    // The whole menu, as a panel asks for it before showing it.
    QList<MenuItem> menu() {
        const QDBusMessage reply =
            call(menuPath(), menuInterface, "GetLayout", {0, -1, QStringList()});
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2)
            return {};
        return qdbus_cast<MenuItem>(reply.arguments().at(1)).children;
    }
    MenuItem menuItem(const QString& label) {
        for (const MenuItem& item : menu())
            if (item.label() == label)
                return item;
        return {};
    }
    QDBusMessage event(int id, const QString& name) {
        return call(menuPath(), menuInterface, "Event",
                    {id, name, QVariant::fromValue(QDBusVariant(0)), 0u});
    }
    // Polls the menu until its top entry is this one; the menu as it was then.
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
        const qsizetype before = newIcon.times.size();
        QTest::qWait(ms);
        return newIcon.times.size() - before;
    }

private Q_SLOTS:
    void initTestCase() {
        const QStringList missing = missingTools({"Xvfb", "xdpyinfo", "dbus-daemon", "xdotool"});
        QVERIFY2(missing.isEmpty(), qPrintable("missing (tools/install-deps.sh installs them): " +
                                               missing.join(", ")));
        desktop = std::make_unique<Desktop>(qEnvironmentVariable("PINGLARK_E2E_HOME"));
        QString error;
        QVERIFY2(desktop->startDisplay(&error), qPrintable(error));
        QVERIFY2(desktop->startBus(&error), qPrintable(error));

        // The panel is there before the program.
        panel = QDBusConnection::connectToBus(desktop->busAddress(), "panel");
        QVERIFY(panel.isConnected());
        QVERIFY(panel.registerObject("/StatusNotifierWatcher", &watcher,
                                     QDBusConnection::ExportAllContents));
        QVERIFY(panel.registerService("org.kde.StatusNotifierWatcher"));
        QVERIFY(panel.registerService(
            QString("org.kde.StatusNotifierHost-%1").arg(QCoreApplication::applicationPid())));

        serveFeed(firstEntries);
        QVERIFY2(startServer(),
                 qPrintable(QString("port %1 is taken (is `make run` running?)").arg(feedPort)));
        desktop->writeSettings("DataRefreshInterval=3\n");
        QVERIFY2(desktop->startApp(PINGLARK_BINARY, &error), qPrintable(error));
    }

    void cleanupTestCase() {
        if (desktop) {
            desktop->stopApp();
            qInfo().noquote() << "pinglark's output:\n" << desktop->appLog();
        }
    }

    void registersWithTheToolTip() {
        QVERIFY2(waitFor([&] { return !watcher.services.isEmpty(); }),
                 "the item never registered with the watcher");
        QCOMPARE(watcher.services.size(), 1);
        service = watcher.services.first();
        QVERIFY(panel.interface()->isServiceRegistered(service).value());
        QVERIFY(panel.connect(service, "/StatusNotifierItem", itemInterface, "NewIcon", &newIcon,
                              SLOT(received())));

        const QDBusArgument toolTip = itemProperty("ToolTip").value<QDBusArgument>();
        QString iconName, title, description;
        toolTip.beginStructure();
        toolTip >> iconName;
        readPixmaps(toolTip);
        toolTip >> title >> description;
        toolTip.endStructure();
        QCOMPARE(title, "Pinglark");
        QCOMPARE(itemProperty("Title").toString(), "Pinglark");
        QCOMPARE(itemProperty("Status").toString(), "Active");

        const QList<Pixmap> pixmaps = iconPixmap();
        QVERIFY(!pixmaps.isEmpty());
        for (const Pixmap& p : pixmaps)
            QCOMPARE(p.argb.size(), qsizetype(p.width) * p.height * 4);
        QVERIFY2(!isBlank(pixmaps), "the icon has no visible pixel");
    }

    void menuListsTheFeedAboveTheFixedItems() {
        QVERIFY(!service.isEmpty());
        QList<MenuItem> items;
        QVERIFY2(waitFor([&] {
                     items = menu();
                     return labels(items) == firstLabels + fixedLabels;
                 }),
                 qPrintable("the menu is " + labels(items).join(" | ")));
        for (qsizetype i = 0; i < firstLabels.size(); ++i)
            QVERIFY(items[i].enabled());
        const MenuItem login = items[firstLabels.size() + 4];
        QCOMPARE(login.properties.value("toggle-type").toString(), "checkmark");
        QCOMPARE(login.properties.value("toggle-state").toInt(), 0);

        // The first refresh marks nothing as new: one picture for all entries.
        blankEntryIcon = items[0].icon();
        for (qsizetype i = 1; i < firstLabels.size(); ++i)
            QCOMPARE(items[i].icon(), blankEntryIcon);
    }

    void aNewTopEntryBlinksTheIconUntilTheMenuOpens() {
        QVERIFY(!service.isEmpty());
        serveFeed(QList<FeedFixture::Entry>{freshEntry} + firstEntries);
        const QList<MenuItem> items = waitForTop("Fresh__news");
        qInfo() << "new top entry at" << newIcon.clock.elapsed();
        QCOMPARE(labels(items), QStringList{"Fresh__news"} + firstLabels + fixedLabels);
        newEntryIcon = items[0].icon();
        QVERIFY2(newEntryIcon != blankEntryIcon, "a new entry looks like the others");
        for (qsizetype i = 1; i <= firstLabels.size(); ++i)
            QCOMPARE(items[i].icon(), blankEntryIcon);

        // Every phase one NewIcon, the picture gone and back. A loaded machine may delay one
        // signal now and then: the period is measured again, up to three times.
        QList<qint64> intervals;
        bool regular = false;
        for (int attempt = 0; attempt < 3 && !regular; ++attempt) {
            const qsizetype first = newIcon.times.size();
            int blank = 0;
            int shown = 0;
            while (newIcon.times.size() < first + 7) {
                const qsizetype seen = newIcon.times.size();
                QVERIFY2(waitFor([&] { return newIcon.times.size() > seen; }, 5000),
                         "the icon does not blink");
                (isBlank(iconPixmap()) ? blank : shown)++;
            }
            QVERIFY2(blank >= 2 && shown >= 2, "the icon changes but does not blink");
            intervals.clear();
            regular = true;
            for (qsizetype i = first + 1; i < first + 7; ++i) {
                intervals.append(newIcon.times[i] - newIcon.times[i - 1]);
                regular = regular && std::abs(intervals.last() - 750) <= 200;
            }
            qInfo() << "blink intervals (ms):" << intervals << "at" << newIcon.clock.elapsed();
        }
        QVERIFY2(regular, "the icon does not change every 0.75 s");

        // The panel opens the menu: the blinking stops. (While the menu is open the item shows
        // its highlighted picture whatever happens underneath; only after it closes does the
        // panel see whether the blinking really stopped.)
        QCOMPARE(event(0, "opened").type(), QDBusMessage::ReplyMessage);
        QCOMPARE(iconChangesWithin(1500), 0);
        QVERIFY(!isBlank(iconPixmap()));
        QCOMPARE(event(0, "closed").type(), QDBusMessage::ReplyMessage);
        QCOMPARE(iconChangesWithin(2500), 0);
        QVERIFY(!isBlank(iconPixmap()));
    }

    void choosingAnEntryOpensItsLink() {
        QVERIFY(!newEntryIcon.isEmpty());
        serveFeed(QList<FeedFixture::Entry>{chosenEntry, freshEntry} + firstEntries);
        const QList<MenuItem> found = waitForTop("Chosen one");
        QVERIFY(!found.isEmpty());
        // Some panels only call AboutToShow: that stops the blinking too. While the menu is
        // open the program does not refresh it.
        QCOMPARE(call(menuPath(), menuInterface, "AboutToShow", {0}).type(),
                 QDBusMessage::ReplyMessage);

        MenuItem chosen = menu().value(0);
        QCOMPARE(chosen.label(), "Chosen one");
        QCOMPARE(chosen.icon(), newEntryIcon);
        QCOMPARE(event(chosen.id, "clicked").type(), QDBusMessage::ReplyMessage);
        QVERIFY2(waitFor([&] { return !desktop->openerCalls().isEmpty(); }),
                 "xdg-open was not called");
        QCOMPARE(desktop->openerCalls(), QList<QStringList>{{*chosenEntry.link}});

        // A chosen new entry has a picture of its own.
        QVERIFY(waitFor([&] { return menu().value(0).icon() != newEntryIcon; }));
        chosen = menu().value(0);
        QCOMPARE(chosen.label(), "Chosen one");
        QVERIFY(chosen.icon() != blankEntryIcon);
        QVERIFY(!chosen.icon().isEmpty());
        QCOMPARE(menu().value(1).icon(), blankEntryIcon); // seen at the refresh before

        // The first entry's link holds "&": it reaches the opener whole.
        QCOMPARE(event(menuItem("AT&T and Q&A").id, "clicked").type(), QDBusMessage::ReplyMessage);
        QCOMPARE(event(menuItem("Veltrano Feeds").id, "clicked").type(),
                 QDBusMessage::ReplyMessage);
        QVERIFY(waitFor([&] { return desktop->openerCalls().size() == 3; }));
        QCOMPARE(desktop->openerCalls().value(1), QStringList{*firstEntries[0].link});
        QCOMPARE(desktop->openerCalls().value(2),
                 QStringList{QString("http://127.0.0.1:%1/go/rss_info").arg(feedPort)});
        QCOMPARE(event(0, "closed").type(), QDBusMessage::ReplyMessage);
        // AboutToShow alone stopped the blinking.
        QCOMPARE(iconChangesWithin(2500), 0);
        QVERIFY(!isBlank(iconPixmap()));
    }

    void aDownServerShowsNoDataUntilItIsBack() {
        QVERIFY(!service.isEmpty());
        const QStringList entries =
            QStringList{"Chosen one", "Fresh__news"} + firstLabels + fixedLabels;
        // Nothing listens on the port any more.
        server.reset();
        QList<MenuItem> items;
        QVERIFY2(waitFor([&] {
                     items = menu();
                     return labels(items) == QStringList{"No Data Loaded"} + fixedLabels;
                 }),
                 qPrintable("the menu is " + labels(items).join(" | ")));
        QVERIFY(!items.first().enabled());
        // Choosing it does nothing.
        event(items.first().id, "clicked");
        QTest::qWait(300);
        QCOMPARE(desktop->openerCalls().size(), 3);

        // A server that answers, but with an error.
        QVERIFY(startServer());
        server->serveStatus(feedPath, 503, "Service Unavailable");
        QVERIFY(waitFor([&] { return server->requestCount(feedPath) > 0; }));
        QTest::qWait(500);
        items = menu();
        QCOMPARE(labels(items), QStringList{"No Data Loaded"} + fixedLabels);

        // Back: the next refresh lists the entries again.
        server->serve(feedPath, feed);
        QVERIFY2(waitFor([&] {
                     items = menu();
                     return labels(items) == entries;
                 }),
                 qPrintable("the menu is " + labels(items).join(" | ")));
        for (qsizetype i = 0; i < entries.size() - fixedLabels.size(); ++i)
            QVERIFY(items[i].enabled());
    }

    void preferencesOpensItsWindow() {
        QVERIFY(!service.isEmpty());
        QVERIFY(desktop->windowsNamed("^Pinglark Preferences$").isEmpty());
        QCOMPARE(event(menuItem("Preferences\u2026").id, "clicked").type(),
                 QDBusMessage::ReplyMessage);
        QVERIFY2(
            waitFor([&] { return !desktop->windowsNamed("^Pinglark Preferences$").isEmpty(); }),
            "no window titled \"Pinglark Preferences\" appeared");
    }

    void quitEndsTheProgram() {
        QVERIFY(!service.isEmpty());
        QProcess* app = desktop->app();
        QCOMPARE(app->state(), QProcess::Running);
        QDBusMessage quit =
            QDBusMessage::createMethodCall(service, menuPath(), menuInterface, "Event");
        quit.setArguments(
            {menuItem("Quit Pinglark").id, "clicked", QVariant::fromValue(QDBusVariant(0)), 0u});
        QVERIFY(panel.send(quit));
        QVERIFY2(waitFor([&] { return app->state() == QProcess::NotRunning; }),
                 "still running after Quit Pinglark");
        QCOMPARE(app->exitStatus(), QProcess::NormalExit);
        QCOMPARE(app->exitCode(), 0);
        QVERIFY(waitFor([&] { return !panel.interface()->isServiceRegistered(service).value(); }));
    }
};

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    E2EDBus test;
    return QTest::qExec(&test, argc, argv);
}

#include "e2e_dbus.moc"
