// The menu as the panel's host reads and uses it over com.canonical.dbusmenu: its layout and
// properties, clicks, updates in bursts, and the openings the program hears of.

#include "DBusMenuItemProperties.h"
#include "ImageResource.h"
#include "Panel.h"

#include <QActionGroup>
#include <QElapsedTimer>
#include <QImage>
#include <QSignalSpy>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

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

class TestDBusMenu : public Panel {
    Q_OBJECT

private Q_SLOTS:
    void labelsFromActionTexts() {
        // Beside what the fixture's menu shows: ampersands, a single underscore, plain text.
        QStringList labels;
        for (const char* text : {"a__b", "&Save && E&xit", "&_x", "tail&", "Open\tCtrl+O"})
            labels.append(DBusMenuItemProperties::labelFromActionText(text));
        QCOMPARE(labels.join(u'|'), "a____b|_Save & Exit|__x|tail|Open");
    }

    void menuAsTheHostReadsAndUsesIt() {
        Fixture f;
        f.snake->setIcon(imageNamed("new_entry_icon"));
        QMenu submenu("More");
        submenu.addAction("Inner_item");
        f.menu.addMenu(&submenu);
        QActionGroup group(nullptr);
        group.addAction(f.menu.addAction("Radio"))->setCheckable(true);
        QTRY_VERIFY(f.item.isStatusNotifierRegistered());

        // Icons as pictures alone, twice the size hosts show them, for panels at twice the scale:
        // not by name, not even the program's own images.
        const DBusMenuLayoutItem root = layout(f.item);
        QCOMPARE(render(root),
                 "children-display=submenu ["
                 "enabled=true label=AT&T and Q&A visible=true | "
                 "enabled=true icon-data=32px,#ff2f7de1 label=snake__case visible=true | "
                 "enabled=false label=No Data Loaded visible=true | "
                 "enabled=true label=Launch at Login toggle-state=1 toggle-type=checkmark "
                 "visible=true | "
                 "type=separator visible=true | "
                 "enabled=true icon-data=32px,#ff0000ff label=Quit visible=true | "
                 "children-display=submenu enabled=true label=More visible=true "
                 "[enabled=true label=Inner__item visible=true] | "
                 "enabled=true label=Radio toggle-state=0 toggle-type=radio visible=true]");
        const auto& items = root.children;
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

        // Clicks on the item itself, unless it is disabled. Activate is refused, so that the
        // host shows the menu it draws: the program's own does not pop up over it.
        QSignalSpy activated(&f.item, &StatusItem::activated);
        const QString service = f.item.statusNotifierItem()->serviceName();
        const QDBusMessage activate =
            call(service, "/StatusNotifierItem", "org.kde.StatusNotifierItem", "Activate", {0, 0});
        QVERIFY(activate.type() == QDBusMessage::ErrorMessage && !f.menu.isVisible());
        f.item.setEnabled(false);
        call(service, "/StatusNotifierItem", "org.kde.StatusNotifierItem", "ContextMenu", {0, 0});
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
            entries.last()->setData(i);
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
        QCOMPARE(QString::number(updated.size()) + render(updated[0].properties),
                 "1000label=Fresh 0");

        // An entry that comes to stand for something else is a new item: the host reads the
        // menu again. A click on an id it held reaches the entry that stands for the same thing
        // now (a refresh moved it down), and is refused when none does.
        const DBusMenuLayoutItem held = layout(f.item);
        const int staleId = findItem(held, "Fresh 0").id;
        const int goneId = findItem(held, "Fresh 1").id;
        QSignalSpy triggered(entries[0], &QAction::triggered);
        QSignalSpy moved(entries[1], &QAction::triggered);
        entries[0]->setData("another story");
        entries[1]->setData(0);
        QVERIFY(!burst("LayoutUpdated").isEmpty());
        const int freshId = findItem(layout(f.item), "Fresh 0").id;
        QVERIFY(freshId > staleId);
        QCOMPARE(menuEvent(f.item, goneId, "clicked").type(), QDBusMessage::ErrorMessage);
        menuEvent(f.item, staleId, "clicked");
        menuEvent(f.item, freshId, "clicked");
        QCOMPARE(triggered.count() * 10 + moved.count(), 11);

        // A property that goes back to its default is listed as removed.
        f.withIcon->setIcon(QIcon());
        f.disabled->setEnabled(true);
        args = burst("ItemsPropertiesUpdated");
        const auto removed = qdbus_cast<DBusMenuItemKeysList>(args.value(1));
        updated = qdbus_cast<DBusMenuItemList>(args.value(0));
        QCOMPARE(removed.size() * 10 + updated.size(), 11);
        QCOMPARE(removed[0].id, findItem(after, "Quit").id);
        QCOMPARE(removed[0].properties.join(u' ') + u'|' + render(updated[0].properties),
                 "icon-data|enabled=true");

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
        QTest::newRow("gnome") << MenuHost::Gnome << true;
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
        // GNOME's host takes the item: it reads the menu and calls AboutToShow, showing nothing.
        layout(f.item);
        menuCall(f.item, "AboutToShow", {0});
        QVERIFY(shown.isEmpty());
        layout(f.item); // read again after a change: the menu may open straight after
        QElapsedTimer clock;
        clock.start();
        for (const QDBusMessage& message : watcher.menuOpening(service, "/MenuBar"))
            panel.call(message, QDBus::BlockWithGui);
        QCOMPARE(shown.count(), 1);
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
};

PANEL_TEST_MAIN(TestDBusMenu)
#include "tst_dbusmenu.moc"
