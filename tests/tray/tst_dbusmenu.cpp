// The menu as the panel's host reads and uses it over com.canonical.dbusmenu: its layout and
// properties, clicks, updates in bursts, and the openings the program hears of. What the host
// reads, and what the program hears, is written down in seen/<test>.txt.

#include "DBusMenuItemProperties.h"
#include "ImageResource.h"
#include "Panel.h"

using namespace std::chrono_literals;

class TestDBusMenu : public Panel {
    Q_OBJECT

    // What the program hears of the host: clicks on its actions, its menu opening and closing.
    void hear(Fixture& f, const QList<QAction*>& more = {}) {
        for (QAction* action : f.menu.actions() + more)
            connect(action, &QAction::triggered, this, [this, action](bool checked) {
                see("triggered " + action->text() + (checked ? " checked" : ""));
            });
        connect(&f.menu, &QMenu::aboutToShow, this, [this] { see("aboutToShow"); });
        connect(&f.menu, &QMenu::aboutToHide, this, [this] { see("aboutToHide"); });
        connect(&f.item, &StatusItem::activated, this, [this] { see("activated"); });
    }

private Q_SLOTS:
    void menuAsTheHostReadsAndUsesIt() {
        // Beside what the fixture's menu shows: ampersands, a single underscore, plain text.
        for (const char* text : {"a__b", "&Save && E&xit", "&_x", "tail&", "Open\tCtrl+O"})
            see(DBusMenuItemProperties::labelFromActionText(text));
        Fixture f;
        f.snake->setIcon(imageNamed("new_entry_icon"));
        QMenu submenu("More");
        f.menu.addMenu(&submenu);
        QActionGroup group(nullptr);
        group.addAction(f.menu.addAction("Radio"))->setCheckable(true);
        hear(f, {submenu.addAction("Inner_item")});
        QTRY_VERIFY(f.item.isStatusNotifierRegistered());

        // Icons as pictures alone, twice the size hosts show them, for panels at twice the scale:
        // not by name, not even the program's own images. One level only, and a subtree by its
        // parent; properties by id, and ids nobody gave out refused.
        for (const auto& [parent, depth] :
             {std::pair<QString, int>{"0", -1}, {"0", 1}, {"0", 0}, {"More", -1}, {"9999", -1}})
            ask(f.item, "GetLayout", {id(parent), depth, QStringList()});
        ask(f.item, "GetGroupProperties",
            {QVariant::fromValue(QList<int>{id("snake__case"), id("No Data Loaded")}),
             QStringList{"enabled"}});

        // The host's clicks reach the actions that are enabled; EventGroup handles the known ids
        // and reports the others.
        for (const QString label : {"9999", "snake__case", "No Data Loaded", "Launch at Login"})
            see("click", menuEvent(f.item, id(label), "clicked"));
        const DBusMenuEventList events{{id("snake__case"), "clicked", QDBusVariant(0), 0},
                                       {4242, "clicked", QDBusVariant(0), 0}};
        ask(f.item, "EventGroup", {QVariant::fromValue(events)});

        // The host opens the menu: the program hears of it as from its own menu, once however
        // often the host asks while it is open.
        ask(f.item, "AboutToShow", {0});
        ask(f.item, "AboutToShowGroup", {QVariant::fromValue(QList<int>{0, 777})});

        // A program that brings an item up to date as the menu opens: the host is told before
        // AboutToShow returns, and asked to read again.
        BusSignals bus;
        listen(f.item, bus);
        connect(&f.menu, &QMenu::aboutToShow, f.checked, [&f] { f.checked->setChecked(true); });
        menuEvent(f.item, 0, "closed");
        ask(f.item, "AboutToShow", {0});
        for (const QDBusMessage& message : bus.received) // on the menu; the icon's aside
            if (message.path() == "/MenuBar")
                see(message.member(), message);

        // Clicks on the item itself, unless it is disabled. Activate is refused, so that the
        // host shows the menu it draws: the program's own does not pop up over it.
        ask(f.item, "Activate", {0, 0});
        QVERIFY(!f.menu.isVisible());
        f.item.setEnabled(false);
        ask(f.item, "ContextMenu", {0, 0});
        ask(f.item, "GetLayout", {0, -1, QStringList()});
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
        const auto burst = [&](const QString& member) -> QDBusMessage {
            roundTrip(f.item);
            (void)QTest::qWaitFor([&] { return !bus.received.isEmpty(); });
            roundTrip(f.item);
            const QList<QDBusMessage> all = std::exchange(bus.received, {});
            if (all.size() == 1 && all[0].member() == member)
                return all[0];
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
        const QList<QVariant> args = burst("LayoutUpdated").arguments();
        QVERIFY(args.value(0).toUInt() > revision && args.value(1) == 0);
        const DBusMenuLayoutItem after = layout(f.item);
        QCOMPARE(after.children.size(), before.children.size() + 1000);
        QCOMPARE(after.children[1000].id, before.children[0].id);

        // Rewriting them all in place: one announcement, with the labels alone.
        for (int i = 0; i < 1000; ++i) {
            entries[i]->setText(QString("Fresh %1").arg(i));
            entries[i]->setIcon(yellow);
        }
        const auto updated =
            qdbus_cast<DBusMenuItemList>(burst("ItemsPropertiesUpdated").arguments().value(0));
        see(QString::number(updated.size()) + u' ' + render(updated[0].properties));

        // An entry that comes to stand for something else is a new item: the host reads the
        // menu again. A click on an id it held reaches the entry that stands for the same thing
        // now (a refresh moved it down), and is refused when none does.
        const DBusMenuLayoutItem held = layout(f.item);
        hear(f);
        entries[0]->setData("another story");
        entries[1]->setData(0);
        QCOMPARE(burst("LayoutUpdated").member(), "LayoutUpdated");
        const int freshId = layout(f.item).children[0].id;
        QVERIFY(freshId > held.children[0].id);
        for (const int id : {held.children[1].id, held.children[0].id, freshId})
            see("click", menuEvent(f.item, id, "clicked"));

        // A property that goes back to its default is listed as removed; deleting the entries,
        // one more layout update, and their ids gone.
        f.withIcon->setIcon(QIcon());
        f.disabled->setEnabled(true);
        see("ItemsPropertiesUpdated", burst("ItemsPropertiesUpdated"));
        qDeleteAll(entries);
        QCOMPARE(burst("LayoutUpdated").member(), "LayoutUpdated");
        QCOMPARE(layout(f.item).children.size(), before.children.size());
        ask(f.item, "GetProperty", {after.children[0].id, "label"});
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
