// The item on the panel's bus: its name and registration, its icon and tooltip, and what it does
// when the panel comes, goes or never was there; and the look at the compositor before Qt starts.

#include "ImageResource.h"
#include "Panel.h"
#include "WaylandFrames.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

class TestStatusNotifier : public Panel {
    Q_OBJECT

private Q_SLOTS:
    void iconAndToolTipAsHostsReadThem() {
        Fixture f;
        QTRY_VERIFY(f.item.isStatusNotifierRegistered());
        BusSignals bus;
        listen(f.item, bus);
        // What the host heard since it last looked, and what it reads: the pictures (ARGB32 in
        // network byte order: opaque red is FF FF 00 00), the image by name, what screen readers
        // say of the item and of it calling for attention, and the tooltip.
        const auto look = [&] {
            roundTrip(f.item);
            QString text;
            for (const QDBusMessage& message : std::exchange(bus.received, {}))
                text += message.member() + u' ';
            for (const SniIconPixmap& p : structure<SniIconPixmapList>(f.item, "IconPixmap"))
                text += u"%1x%2 %3:%4 "_s.arg(p.width)
                            .arg(p.height)
                            .arg(p.bytes.size())
                            .arg(p.bytes.left(4).toHex());
            for (const char* name : {"IconName", "IconAccessibleDesc", "AttentionAccessibleDesc"})
                text += property(f.item, name).toString() + u'|';
            const auto toolTip = structure<SniToolTip>(f.item, "ToolTip");
            see(text + toolTip.title + u'|' + toolTip.description);
        };
        look();
        // The blink, a picture gone and back: one NewIcon each. Setting what is shown already
        // announces nothing.
        const QIcon icon = f.item.image();
        for (const QIcon& image : {QIcon(), icon, icon})
            f.item.setImage(image);
        f.item.setToolTip("Pinglark");
        look();
        // The tooltip's description, escaped: hosts read it as markup. One NewToolTip per change.
        for (int i = 0; i < 2; ++i)
            f.item.setToolTipDescription("HTTP 500 <Oops & co>");
        look();
        // The program's own images go by name too, the blank phase included: a host that reads
        // IconName draws the picture from IconThemePath itself. IconPixmap stays for the others.
        f.item.setImage(imageNamed("plinth_bar"));
        look();
        f.item.setImage(QIcon());
        look();
        // Calling for attention, and no longer.
        for (const bool attention : {true, false}) {
            f.item.setNeedsAttention(attention);
            look();
        }
    }

    void followsThePanel() {
        Fixture f;
        QTRY_VERIFY(f.item.isStatusNotifierRegistered());
        QVERIFY(!f.item.isTrayIconShown());
        // Registered by its connection's unique name.
        const QString service = f.item.statusNotifierItem()->serviceName();
        QVERIFY(service.startsWith(u':'));

        // The panel restarts: its new watcher hears from the item again, even one that drops the
        // item right after taking it, saying so or not.
        for (const auto drop :
             {Watcher::Drop::None, Watcher::Drop::Announced, Watcher::Drop::Silent}) {
            stopPanel();
            watcher.services.clear();
            watcher.dropNext = drop;
            startPanel();
            QTRY_COMPARE_WITH_TIMEOUT(watcher.services.size(), 1, 8000);
            QTRY_VERIFY(f.item.isStatusNotifierRegistered());
            QCOMPARE(watcher.services.last(), service);
        }

        // The panel goes away: back to the tray icon.
        stopPanel();
        QTRY_VERIFY(f.item.isTrayIconShown());
        QVERIFY(!f.item.isStatusNotifierRegistered());

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
        const QString missing = "Pinglark needs a panel with a system tray; on GNOME, enable the "
                                "AppIndicator extension";
        // The word is said once, where it is allowed below, and never again.
        QTest::failOnWarning(QRegularExpression("needs a panel"));
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
        QTest::ignoreMessage(QtWarningMsg, qPrintable(missing));
        stopPanel();
        QTest::qWait(400);

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
        watcher.host = false;
        Q_EMIT watcher.StatusNotifierHostUnregistered();
        QTRY_VERIFY(f.item.isTrayIconShown());
        QTest::qWait(400);
    }

    // A Wayland connection handed to the program (WAYLAND_SOCKET) is Qt's: the look leaves the
    // variable and the descriptor as they came.
    void waylandSocketHandedOverStaysForQt() {
        int ends[2];
        QVERIFY(socketpair(AF_UNIX, SOCK_STREAM, 0, ends) == 0);
        close(ends[1]); // a look that took the connection would end at once
        qputenv("WAYLAND_SOCKET", QByteArray::number(ends[0]));
        qputenv("QT_QPA_PLATFORM", "wayland");
        leaveWindowFramesToCompositor();
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QCOMPARE(qgetenv("WAYLAND_SOCKET") + ' ' + QByteArray::number(fcntl(ends[0], F_GETFD)),
                 QByteArray::number(ends[0]) + " 0");
        close(ends[0]);
    }
};

PANEL_TEST_MAIN(TestStatusNotifier)
#include "tst_statusnotifier.moc"
