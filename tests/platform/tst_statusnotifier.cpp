// The status item as a desktop panel sees it: the test runs a private session bus, plays the
// panel (a StatusNotifierWatcher with a host) on a connection of its own, and talks to the item
// only through real D-Bus calls.

#include "DBusMenuExporter.h"
#include "DBusMenuItemProperties.h"
#include "ImageResource.h"
#include "SessionServer.h"
#include "StatusItem.h"
#include "StatusNotifierItem.h"
#include "Watcher.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QImage>
#include <QMenu>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QtTest>

#include <memory>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

const QString itemInterface = "org.kde.StatusNotifierItem";
const QString menuInterface = "com.canonical.dbusmenu";

// Signals the panel receives from the item.
class BusSignals : public QObject {
    Q_OBJECT
public:
    QList<QDBusMessage> received;
    QList<QDBusMessage> named(const QString& member) const {
        QList<QDBusMessage> result;
        for (const QDBusMessage& m : received)
            if (m.member() == member)
                result.append(m);
        return result;
    }
    int count(const QString& member) const { return int(named(member).size()); }
public Q_SLOTS:
    void record(const QDBusMessage& message) { received.append(message); }
};

// The desktop's notification service: what it was asked to show.
class Notifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QList<QStringList> shown; // application, icon, summary, body
public Q_SLOTS:
    uint Notify(const QString& application, uint, const QString& icon, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap&, int) {
        shown.append({application, icon, summary, body});
        return uint(shown.size());
    }
};

QIcon solidIcon(QColor color) {
    QPixmap pixmap(32, 32);
    pixmap.fill(color);
    return QIcon(pixmap);
}

DBusMenuLayoutItem findItem(const DBusMenuLayoutItem& root, const QString& label) {
    for (const DBusMenuLayoutItem& child : root.children)
        if (child.properties.value("label").toString() == label)
            return child;
    return {-1, {}, {}};
}

// Item properties as one line; a picture by its size and the colour at its centre.
QString render(const QVariantMap& properties) {
    QStringList parts;
    for (auto it = properties.cbegin(); it != properties.cend(); ++it) {
        const QImage image = QImage::fromData(it.value().toByteArray(), "PNG");
        parts.append(it.key() + u'=' +
                     (it.key() == u"icon-data"
                          ? QString("%1px,%2")
                                .arg(image.width())
                                .arg(image.pixelColor(16, 16).name(QColor::HexArgb))
                          : it.value().toString()));
    }
    return parts.join(u' ');
}

// The menu as the host reads it: each item's properties, a submenu's items in brackets.
QString render(const DBusMenuLayoutItem& item) {
    QStringList children;
    for (const DBusMenuLayoutItem& child : item.children)
        children.append(render(child));
    return render(item.properties) +
           (children.isEmpty() ? u""_s : u" ["_s + children.join(u" | ") + u']');
}

} // namespace

class TestStatusNotifier : public QObject {
    Q_OBJECT

    QDBusConnection panel{QString()};
    Watcher watcher;

    // Exports a watcher and takes its name: replacing the owner or not, and leaving it to a
    // later one or not.
    static bool claimWatcher(QDBusConnection& connection, Watcher& w, bool replace = false,
                             bool allowReplacement = false) {
        using Bus = QDBusConnectionInterface;
        return connection.registerObject("/StatusNotifierWatcher", &w,
                                         QDBusConnection::ExportAdaptors) &&
               connection.interface()
                       ->registerService(
                           "org.kde.StatusNotifierWatcher",
                           replace ? Bus::ReplaceExistingService : Bus::DontQueueService,
                           allowReplacement ? Bus::AllowReplacement : Bus::DontAllowReplacement)
                       .value() == Bus::ServiceRegistered;
    }
    void startPanel() { QVERIFY(claimWatcher(panel, watcher)); }
    static void releaseWatcher(QDBusConnection& connection) {
        connection.unregisterService("org.kde.StatusNotifierWatcher");
        connection.unregisterObject("/StatusNotifierWatcher");
    }
    void stopPanel() { releaseWatcher(panel); }

    // A call from the panel; the item answers on this thread, so wait with the event loop running.
    QDBusMessage call(const QString& service, const QString& path, const QString& interface,
                      const QString& method, const QVariantList& arguments = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(arguments);
        return panel.call(message, QDBus::BlockWithGui, 5000);
    }
    QVariant property(StatusItem& item, const QString& name,
                      const QString& path = "/StatusNotifierItem",
                      const QString& interface = itemInterface) {
        const QDBusMessage reply =
            call(item.statusNotifierItem()->serviceName(), path, "org.freedesktop.DBus.Properties",
                 "Get", {interface, name});
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }
    template <typename T> T structure(StatusItem& item, const QString& name) {
        return qdbus_cast<T>(property(item, name).value<QDBusArgument>());
    }
    QDBusMessage menuCall(StatusItem& item, const QString& method,
                          const QVariantList& arguments = {}) {
        return call(item.statusNotifierItem()->serviceName(), "/MenuBar", menuInterface, method,
                    arguments);
    }
    QDBusMessage menuEvent(StatusItem& item, int id, const QString& type) {
        return menuCall(item, "Event", {id, type, QVariant::fromValue(QDBusVariant(0)), 0u});
    }
    DBusMenuLayoutItem layout(StatusItem& item, int parent = 0, int depth = -1) {
        const QDBusMessage reply = menuCall(item, "GetLayout", {parent, depth, QStringList()});
        return qdbus_cast<DBusMenuLayoutItem>(reply.arguments().value(1).value<QDBusArgument>());
    }
    void listen(StatusItem& item, BusSignals& bus) {
        const QString service = item.statusNotifierItem()->serviceName();
        QVERIFY(panel.connect(service, "/StatusNotifierItem", itemInterface, QString(), &bus,
                              SLOT(record(QDBusMessage))));
        QVERIFY(panel.connect(service, "/MenuBar", menuInterface, QString(), &bus,
                              SLOT(record(QDBusMessage))));
    }
    // Everything the item sent before this call has reached the panel once it returns.
    void roundTrip(StatusItem& item) {
        QCoreApplication::processEvents();
        property(item, "Status");
        QCoreApplication::processEvents();
    }
    bool ownsName(const QString& name) {
        return panel.interface()->isServiceRegistered(name).value();
    }

    struct Fixture {
        QMenu menu;
        QAction* ampersands = menu.addAction("AT&&T and Q&&A");
        QAction* snake = menu.addAction("snake_case");
        QAction* disabled = menu.addAction("No Data Loaded");
        QAction* checked = menu.addAction("Launch at Login");
        QAction* separator = menu.addSeparator();
        QAction* withIcon = menu.addAction(solidIcon(Qt::blue), "Quit");
        StatusItem item;
        Fixture() {
            disabled->setEnabled(false);
            checked->setCheckable(true);
            checked->setChecked(true);
            item.setHighlightMode(true);
            item.setImage(solidIcon(Qt::red));
            item.setAlternateImage(solidIcon(Qt::green));
            item.setMenu(&menu);
            item.setEnabled(true);
            item.setToolTip("Pinglark");
        }
    };

private Q_SLOTS:
    void initTestCase() {
        registerDBusTypes();
        panel = QDBusConnection::connectToBus(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"),
                                              "panel");
        QVERIFY(panel.isConnected());
    }

    void init() {
        watcher.services.clear();
        watcher.host = true;
        watcher.menuHost = MenuHost::Lxqt;
        startPanel();
    }
    void cleanup() { stopPanel(); }

    void registersWithTheWatcherAndDescribesItself() {
        Fixture f;
        QTRY_VERIFY(f.item.isStatusNotifierRegistered());
        QVERIFY(!f.item.isTrayIconShown());
        const QString service = f.item.statusNotifierItem()->serviceName();
        QVERIFY(service.startsWith(
            QString("org.kde.StatusNotifierItem-%1-").arg(QCoreApplication::applicationPid())));
        // A second item beside the first gets a name of its own, and leaves the bus with the
        // object.
        auto second = std::make_unique<StatusItem>();
        second->setEnabled(true);
        QTRY_COMPARE(watcher.services.size(), 2);
        const QString secondName = watcher.services[1];
        QVERIFY(secondName != service && watcher.services[0] == service);
        second.reset();
        QTRY_VERIFY(!ownsName(secondName));
        QVERIFY(ownsName(service));
    }

    void iconAndToolTipAsHostsReadThem() {
        Fixture f;
        QTRY_VERIFY(f.item.isStatusNotifierRegistered());
        BusSignals bus;
        listen(f.item, bus);
        // One picture of 22 px, ARGB32 in network byte order: opaque red is FF FF 00 00.
        const auto picture = [&] {
            const auto pixmaps = structure<SniIconPixmapList>(f.item, "IconPixmap");
            if (pixmaps.size() != 1 || pixmaps[0].bytes.size() != 22 * pixmaps[0].height * 4)
                return u"wrong size"_s;
            return QString::number(pixmaps[0].width) + u':' + pixmaps[0].bytes.left(4).toHex();
        };
        QCOMPARE(picture(), "22:ffff0000");
        // The blink, a picture gone and back: one NewIcon each. Setting what is shown already
        // announces nothing.
        const QIcon icon = f.item.image();
        for (const QIcon& image : {QIcon(), icon, icon})
            f.item.setImage(image);
        f.item.setToolTip("Pinglark");
        roundTrip(f.item);
        QTRY_COMPARE(bus.count("NewIcon"), 2);
        QCOMPARE(picture(), "22:ffff0000");

        // The tooltip's description, escaped: hosts read it as markup. One NewToolTip per change.
        QCOMPARE(bus.count("NewToolTip"), 0);
        for (int i = 0; i < 2; ++i)
            f.item.setToolTipDescription("HTTP 500 <Oops & co>");
        roundTrip(f.item);
        QTRY_COMPARE(bus.count("NewToolTip"), 1);
        const auto toolTip = structure<SniToolTip>(f.item, "ToolTip");
        QCOMPARE(toolTip.title + u'|' + toolTip.description,
                 "Pinglark|HTTP 500 &lt;Oops &amp; co&gt;");

        // The program's own images go by name too, the blank phase included: a host that reads
        // IconName draws the picture from IconThemePath itself. IconPixmap stays for the others.
        f.item.setImage(imageNamed("plinth_bar"));
        QCOMPARE(property(f.item, "IconName").toString(), "pinglark-plinth_bar");
        QCOMPARE(picture().left(3), "22:");
        f.item.setImage(QIcon());
        QCOMPARE(property(f.item, "IconName").toString(), "pinglark-blank");
    }

    void labelsFromActionTexts() {
        // Beside what the fixture's menu shows: ampersands, a single underscore, plain text.
        const QStringList texts = {"a__b", "&Save && E&xit", "&_x", "tail&", "Open\tCtrl+O"};
        QStringList labels;
        for (const QString& text : texts)
            labels.append(DBusMenuItemProperties::labelFromActionText(text));
        QCOMPARE(labels, QStringList({"a____b", "_Save & Exit", "__x", "tail", "Open"}));
    }

    void menuAsTheHostReadsAndUsesIt() {
        Fixture f;
        f.snake->setIcon(imageNamed("new_entry_icon"));
        QMenu submenu("More");
        submenu.addAction("Inner_item");
        f.menu.addMenu(&submenu);
        QActionGroup group(nullptr);
        QAction* radio = f.menu.addAction("Radio");
        radio->setCheckable(true);
        group.addAction(radio);
        QTRY_VERIFY(f.item.isStatusNotifierRegistered());

        // Icons as pictures twice the size hosts show them, for panels at twice the scale; the
        // program's own images by name as well, found in the menu's IconThemePath.
        const DBusMenuLayoutItem root = layout(f.item);
        QCOMPARE(render(root),
                 "children-display=submenu ["
                 "enabled=true label=AT&T and Q&A visible=true | "
                 "enabled=true icon-data=32px,#ff2f7de1 icon-name=pinglark-new_entry_icon "
                 "label=snake__case visible=true | "
                 "enabled=false label=No Data Loaded visible=true | "
                 "enabled=true label=Launch at Login toggle-state=1 toggle-type=checkmark "
                 "visible=true | "
                 "type=separator visible=true | "
                 "enabled=true icon-data=32px,#ff0000ff label=Quit visible=true | "
                 "children-display=submenu enabled=true label=More visible=true "
                 "[enabled=true label=Inner__item visible=true] | "
                 "enabled=true label=Radio toggle-state=0 toggle-type=radio visible=true]");
        QSet<int> ids{0};
        for (const DBusMenuLayoutItem& child : root.children)
            ids.insert(child.id);
        QCOMPARE(ids.size(), root.children.size() + 1);
        const auto& items = root.children;
        QCOMPARE(property(f.item, "IconThemePath", "/MenuBar", menuInterface).toStringList(),
                 QStringList{property(f.item, "IconThemePath").toString()});
        // One level only, and a subtree by its parent.
        QCOMPARE(layout(f.item, 0, 1).children[6].children.size(), 0);
        QCOMPARE(layout(f.item, 0, 0).children.size(), 0);
        QCOMPARE(layout(f.item, items[6].id).children.size(), 1);
        // Properties by id; ids nobody gave out are refused.
        const QDBusMessage some = menuCall(
            f.item, "GetGroupProperties",
            {QVariant::fromValue(QList<int>{items[1].id, items[2].id}), QStringList{"enabled"}});
        const auto props = qdbus_cast<DBusMenuItemList>(some.arguments().value(0));
        QCOMPARE(render(props.value(0).properties) + u'|' + render(props.value(1).properties),
                 "enabled=true|enabled=false");
        QCOMPARE(menuCall(f.item, "GetLayout", {9999, -1, QStringList()}).type(),
                 QDBusMessage::ErrorMessage);
        QCOMPARE(menuEvent(f.item, 9999, "clicked").type(), QDBusMessage::ErrorMessage);

        // The host's clicks reach the actions that are enabled; EventGroup handles the known ids
        // and reports the others.
        QSignalSpy snake(f.snake, &QAction::triggered);
        QSignalSpy disabled(f.disabled, &QAction::triggered);
        QCOMPARE(menuEvent(f.item, items[1].id, "clicked").type(), QDBusMessage::ReplyMessage);
        menuEvent(f.item, items[2].id, "clicked");
        menuEvent(f.item, items[3].id, "clicked");
        QVERIFY(snake.count() == 1 && disabled.count() == 0 && !f.checked->isChecked());
        const DBusMenuEventList events{{items[1].id, "clicked", QDBusVariant(0), 0},
                                       {4242, "clicked", QDBusVariant(0), 0}};
        const QDBusMessage errors = menuCall(f.item, "EventGroup", {QVariant::fromValue(events)});
        QCOMPARE(qdbus_cast<QList<int>>(errors.arguments().value(0)), QList<int>{4242});
        QCOMPARE(snake.count(), 2);

        // The host opens the menu: the program hears of it as from its own menu, once however
        // often the host asks while it is open.
        QSignalSpy shown(&f.menu, &QMenu::aboutToShow);
        QDBusMessage reply = menuCall(f.item, "AboutToShow", {0});
        QCOMPARE(reply.arguments().value(0).toBool(), false);
        reply = menuCall(f.item, "AboutToShowGroup", {QVariant::fromValue(QList<int>{0, 777})});
        QCOMPARE(qdbus_cast<QList<int>>(reply.arguments().value(1)), QList<int>{777});
        QCOMPARE(shown.count(), 1);

        // A program that brings an item up to date as the menu opens: the host is told before
        // AboutToShow returns, and asked to read again.
        BusSignals bus;
        listen(f.item, bus);
        connect(&f.menu, &QMenu::aboutToShow, f.checked, [&f] { f.checked->setChecked(true); });
        menuEvent(f.item, 0, "closed");
        reply = menuCall(f.item, "AboutToShow", {0});
        QCOMPARE(reply.arguments().value(0).toBool(), true);
        QTRY_COMPARE(bus.count("ItemsPropertiesUpdated"), 1);
        const auto updated =
            qdbus_cast<DBusMenuItemList>(bus.named("ItemsPropertiesUpdated")[0].arguments()[0]);
        QCOMPARE(updated.size(), 1);
        QCOMPARE(QString::number(updated[0].id - items[3].id) + render(updated[0].properties),
                 "0toggle-state=1");

        // Clicks on the item itself, unless it is disabled.
        QSignalSpy activated(&f.item, &StatusItem::activated);
        const QString service = f.item.statusNotifierItem()->serviceName();
        call(service, "/StatusNotifierItem", itemInterface, "Activate", {0, 0});
        f.item.setEnabled(false);
        call(service, "/StatusNotifierItem", itemInterface, "ContextMenu", {0, 0});
        QCOMPARE(activated.count(), 1);
        QCOMPARE(layout(f.item).children.size(), 0);
    }

    void changesAreAnnouncedOncePerBurst() {
        Fixture f;
        QTRY_VERIFY(f.item.isStatusNotifierRegistered());
        BusSignals bus;
        listen(f.item, bus);
        const DBusMenuLayoutItem before = layout(f.item);
        const uint revision =
            menuCall(f.item, "GetLayout", {0, 0, QStringList()}).arguments().value(0).toUInt();
        // What the last burst announced, the signals cleared for the next.
        const auto burst = [&](const QString& member) -> QList<QVariant> {
            roundTrip(f.item);
            (void)QTest::qWaitFor([&] { return bus.count(member) > 0; });
            roundTrip(f.item);
            const QList<QDBusMessage> all = std::exchange(bus.received, {});
            if (all.size() == 1 && all[0].member() == member)
                return all[0].arguments();
            qWarning() << "expected one" << member << "in" << all;
            return {};
        };

        // A refresh that puts a thousand entries above the fixed items.
        QList<QAction*> entries;
        const QIcon yellow = solidIcon(Qt::yellow);
        for (int i = 0; i < 1000; ++i) {
            entries.append(new QAction(QString("Entry_%1").arg(i), &f.menu));
            entries.last()->setIcon(yellow);
            f.menu.insertAction(f.ampersands, entries.last());
        }
        QList<QVariant> args = burst("LayoutUpdated");
        QVERIFY(args.value(0).toUInt() > revision && args.value(1) == 0);
        const DBusMenuLayoutItem after = layout(f.item);
        QCOMPARE(after.children.size(), before.children.size() + 1000);
        QCOMPARE(findItem(after, "snake__case").id, findItem(before, "snake__case").id);

        // Rewriting them all in place: one announcement, with the labels alone.
        for (int i = 0; i < 1000; ++i) {
            entries[i]->setText(QString("Fresh %1").arg(i));
            entries[i]->setIcon(yellow);
        }
        args = burst("ItemsPropertiesUpdated");
        auto updated = qdbus_cast<DBusMenuItemList>(args.value(0));
        QCOMPARE(updated.size(), 1000);
        QCOMPARE(render(updated[0].properties), "label=Fresh 0");

        // An entry that comes to stand for something else is a new item: the host reads the
        // menu again, and a click on the id it held is refused.
        const int staleId = findItem(layout(f.item), "Fresh 0").id;
        QSignalSpy triggered(entries[0], &QAction::triggered);
        entries[0]->setData("another story");
        QVERIFY(!burst("LayoutUpdated").isEmpty());
        const int freshId = findItem(layout(f.item), "Fresh 0").id;
        QVERIFY(freshId > staleId);
        QCOMPARE(menuEvent(f.item, staleId, "clicked").type(), QDBusMessage::ErrorMessage);
        menuEvent(f.item, freshId, "clicked");
        QCOMPARE(triggered.count(), 1);

        // A property that goes back to its default is listed as removed.
        f.withIcon->setIcon(QIcon());
        f.disabled->setEnabled(true);
        args = burst("ItemsPropertiesUpdated");
        const auto removed = qdbus_cast<DBusMenuItemKeysList>(args.value(1));
        updated = qdbus_cast<DBusMenuItemList>(args.value(0));
        QCOMPARE(removed.size() * 10 + updated.size(), 11);
        QCOMPARE(removed[0].id, findItem(after, "Quit").id);
        QCOMPARE(removed[0].properties, QStringList{"icon-data"});
        QCOMPARE(render(updated[0].properties), "enabled=true");

        // Deleting them: one more layout update, and their ids gone.
        qDeleteAll(entries);
        QVERIFY(!burst("LayoutUpdated").isEmpty());
        QCOMPARE(layout(f.item).children.size(), before.children.size());
        QCOMPARE(menuCall(f.item, "GetProperty", {after.children[0].id, "label"}).type(),
                 QDBusMessage::ErrorMessage);
    }

    // However the host shows the menu, the program hears of one opening and of its end: at
    // "closed" where the host sends it, a moment after an AboutToShow that nothing follows, and
    // at the latest when the limit is up.
    void menuIsOpenWhileTheHostShowsIt_data() {
        QTest::addColumn<MenuHost>("host");
        QTest::addColumn<bool>("closes");
        QTest::newRow("xfce") << MenuHost::Xfce << false;
        QTest::newRow("lxqt") << MenuHost::Lxqt << true;
        QTest::newRow("lxqt, the close never comes") << MenuHost::Lxqt << false;
    }
    void menuIsOpenWhileTheHostShowsIt() {
        QFETCH(MenuHost, host);
        QFETCH(bool, closes);
        watcher.menuHost = host;
        Fixture f;
        QTRY_VERIFY(f.item.isStatusNotifierRegistered());
        const QString service = f.item.statusNotifierItem()->serviceName();
        // An opening that the host does not confirm ends after 200 ms, any other at the limit.
        f.item.statusNotifierItem()->menuExporter()->setOpeningLimits(
            200ms, host == MenuHost::Xfce ? 60s : 1s);
        QSignalSpy shown(&f.menu, &QMenu::aboutToShow);
        QSignalSpy hidden(&f.menu, &QMenu::aboutToHide);
        QElapsedTimer clock;
        clock.start();
        for (const QDBusMessage& message : watcher.menuOpening(service, "/MenuBar"))
            panel.call(message, QDBus::BlockWithGui);
        // The host reads the menu again while it shows it: the same opening.
        menuCall(f.item, "AboutToShow", {0});
        QCOMPARE(shown.count(), 1);
        QVERIFY(f.item.isHighlighted()); // and shows the alternate image, opaque green
        QCOMPARE(structure<SniIconPixmapList>(f.item, "IconPixmap")[0].bytes.left(4),
                 QByteArray("\xff\x00\xff\x00", 4));

        if (closes) {
            for (const QDBusMessage& message : watcher.menuClosing(service, "/MenuBar"))
                panel.call(message, QDBus::BlockWithGui);
            QCOMPARE(hidden.count(), 1);
        }
        QTRY_COMPARE_WITH_TIMEOUT(hidden.count(), 1, 5000);
        // A confirmed opening lasts until the close, or the limit.
        if (host == MenuHost::Lxqt && !closes)
            QVERIFY2(clock.elapsed() >= 950, QByteArray::number(clock.elapsed()).constData());
        QVERIFY(!f.item.isHighlighted());
        // A late "closed" changes nothing.
        menuEvent(f.item, 0, "closed");
        QCOMPARE(hidden.count() + shown.count(), 2);
    }

    void followsThePanel() {
        Fixture f;
        QTRY_VERIFY(f.item.isStatusNotifierRegistered());

        // The panel restarts: its new watcher hears from the item again.
        stopPanel();
        startPanel();
        QTRY_COMPARE(watcher.services.size(), 2);
        QTRY_VERIFY(f.item.isStatusNotifierRegistered());
        QVERIFY(ownsName(watcher.services.last()));

        // The panel goes away: back to the tray icon, and off the bus.
        const QString name = watcher.services.last();
        stopPanel();
        QTRY_VERIFY(f.item.isTrayIconShown());
        QVERIFY(!f.item.isStatusNotifierRegistered());
        QTRY_VERIFY(!ownsName(name));

        // And back, with what changed meanwhile there as soon as the panel hears of the item;
        // this time to a watcher that lets another replace it.
        f.item.setToolTipDescription("Updated at 14:05");
        QString described;
        QObject hearing;
        connect(&watcher, &Watcher::StatusNotifierItemRegistered, &hearing,
                [&] { described = structure<SniToolTip>(f.item, "ToolTip").description; });
        QVERIFY(claimWatcher(panel, watcher, false, true));
        QTRY_VERIFY(f.item.isStatusNotifierRegistered());
        QCOMPARE(described, "Updated at 14:05");
        QVERIFY(!f.item.isTrayIconShown());
        QCOMPARE(layout(f.item).children.size(), f.menu.actions().size());

        // Another panel takes over: the name changes hands without a gap, and the new watcher
        // hears from the item.
        Watcher next;
        QDBusConnection other = QDBusConnection::connectToBus(
            qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), "next panel");
        const auto leave = qScopeGuard([&other] {
            releaseWatcher(other);
            QDBusConnection::disconnectFromBus("next panel");
        });
        QVERIFY(claimWatcher(other, next, true));
        QTRY_COMPARE(next.services.size(), 1);
        QVERIFY(f.item.isStatusNotifierRegistered() && !f.item.isTrayIconShown());
    }

    void withoutAHostTheTrayIconStays() {
        // No watcher at all, nor any other tray (offscreen): the item says so once, on stderr and
        // as a desktop notification.
        stopPanel();
        Notifications notifications;
        QVERIFY(panel.registerObject("/org/freedesktop/Notifications", &notifications,
                                     QDBusConnection::ExportAllSlots));
        QVERIFY(panel.registerService("org.freedesktop.Notifications"));
        const auto leave = qScopeGuard([this] {
            panel.unregisterService("org.freedesktop.Notifications");
            panel.unregisterObject("/org/freedesktop/Notifications");
        });
        const QString missing = "Pinglark needs a panel with a system tray; on GNOME, enable the "
                                "AppIndicator extension";
        QTest::ignoreMessage(QtWarningMsg, qPrintable(missing));
        Fixture f;
        f.item.setNoTrayGrace(300ms);
        QTRY_VERIFY(f.item.isTrayIconShown());
        QVERIFY(!f.item.isStatusNotifierRegistered());
        // The tray icon's tooltip: the description on a line below the title.
        f.item.setToolTipDescription("Updated at 14:05");
        QCOMPARE(f.item.findChild<QSystemTrayIcon*>()->toolTip(), "Pinglark\nUpdated at 14:05");

        // Waits below check that nothing happens: there is no event to await but the time itself.
        // A panel that comes within the grace, as at login: not a word. One that stays away
        // longer: the word.
        startPanel();
        QTRY_VERIFY(f.item.isStatusNotifierRegistered());
        QTest::qWait(400);
        QCOMPARE(notifications.shown.size(), 0);
        stopPanel();
        QTRY_COMPARE(notifications.shown.size(), 1);
        QCOMPARE(notifications.shown[0],
                 QStringList({"Pinglark", "pinglark", "No system tray", missing}));

        // A watcher appears, its host later: the item waits for the host. A second host changes
        // nothing for a watcher that knows the item.
        watcher.services.clear();
        watcher.host = false;
        startPanel();
        QTest::qWait(50);
        QVERIFY(f.item.isTrayIconShown() && watcher.services.isEmpty());
        for (const QString host : {"host", "second host"}) {
            call("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                 "org.kde.StatusNotifierWatcher", "RegisterStatusNotifierHost", {host});
            QTRY_VERIFY(f.item.isStatusNotifierRegistered() && !f.item.isTrayIconShown());
            roundTrip(f.item);
        }
        QCOMPARE(watcher.services.size(), 1);

        // The last host leaves: back to the tray icon, without another word.
        const QString name = f.item.statusNotifierItem()->serviceName();
        watcher.host = false;
        Q_EMIT watcher.StatusNotifierHostUnregistered();
        QTRY_VERIFY(f.item.isTrayIconShown() && !ownsName(name));
        QTest::qWait(400);
        QCOMPARE(notifications.shown.size(), 1);
    }
};

int main(int argc, char* argv[]) {
    // The suite runs on a session bus of its own, started before the application connects to one.
    const std::unique_ptr<SessionServer> bus = SessionServer::bus();
    if (!bus) {
        return 1;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus->address().toUtf8());
    QApplication app(argc, argv);
    QApplication::setApplicationName("Pinglark");
    QApplication::setDesktopFileName("pinglark");
    TestStatusNotifier test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_statusnotifier.moc"
