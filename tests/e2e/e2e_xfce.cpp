// The real program in XFCE's own panel: xfce4-panel on a virtual display, with a status tray
// (its systray plugin, which hosts StatusNotifierItems as well as XEmbed icons) at the right end
// of a bar along the top, its layout read from xfconfd on the session's private bus. The panel
// draws the program's menu itself and never tells the program that it closed. XFCE's notification
// server (xfce4-notifyd) shows the program's notifications of new entries. The test serves the
// feed, looks at the screen, clicks and presses keys as a user does.

#include "Desktop.h"

#include <QtTest>

using namespace e2e;

namespace {

// The panel's own processes: the panel, and the wrapper that runs the systray plugin.
const QString panelClasses = "^(xfce4-panel|wrapper-2\\.0)$";

constexpr int periodSeconds = 5;

} // namespace

class E2EXfce : public QObject {
    Q_OBJECT

    Desktop desktop{qEnvironmentVariable("PINGLARK_E2E_HOME")};
    HttpServer server;
    QElapsedTimer clock;
    QList<qint64> requestTimes; // when each request for the feed arrived
    Window panel;
    QRect icon;        // where the icon is drawn, in root coordinates
    QImage normalIcon; // how it looks with its menu closed
    qint64 menuClosedAt = -1;

    // The panel's windows on screen: the status tray's (as high as the bar), and an open menu.
    std::optional<Window> panelWindow(bool menu) {
        for (const Window& w : desktop.windows(panelClasses))
            if (w.geometry != panel.geometry && (w.geometry.height() > 64) == menu)
                return w;
        return std::nullopt;
    }

private Q_SLOTS:
    void initTestCase() {
        clock.start();
        QCOMPARE(desktop.startSession(
                     {"xfce4-panel", "dbus-update-activation-environment", "xdotool", "import"}),
                 QString());

        // xfconfd is started by the bus when the panel first asks for it; like a desktop
        // session's start-up, hand the bus the session's folders and display for it.
        const QString channels = desktop.home() + "/config/xfce4/xfconf/xfce-perchannel-xml";
        QVERIFY(QDir().mkpath(channels));
        // One panel along the top: a separator that takes the free room, then the status tray.
        QVERIFY(QFile::copy(XFCE_PANEL_LAYOUT, channels + "/xfce4-panel.xml"));
        // The program's icon where an installed one's would be found, for its notifications.
        const QString icons = desktop.home() + "/data/icons/hicolor/scalable/apps";
        QVERIFY(QDir().mkpath(icons) && QFile::copy(PINGLARK_ICON, icons + "/pinglark.svg"));
        QVERIFY(desktop.run("dbus-update-activation-environment", {"--all"}));
        // (No accessibility bus: nothing here reads it.)
        desktop.start(
            "env", {"NO_AT_BRIDGE=1", "xfce4-panel", "--disable-wm-check", "--sm-client-disable"},
            "xfce4-panel");
        QVERIFY2(
            waitFor([&] { return desktop.statusNotifierHost(); }, 30000),
            qPrintable("the panel's status tray did not start: " + desktop.log("xfce4-panel")));
        panel = desktop.windows("^xfce4-panel$").value(0);
        // XFCE's notification server, which the bus starts for the first notification, keeps
        // notifications for a minute.
        QVERIFY(desktop.run("xfconf-query", {"-c", "xfce4-notifyd", "-p", "/expire-timeout", "-n",
                                             "-t", "int", "-s", "60"}));

        connect(&server, &HttpServer::requestReceived, this,
                [this] { requestTimes.append(clock.elapsed()); });
        QCOMPARE(
            desktop.serveFeed(server, "DataRefreshInterval=" + QByteArray::number(periodSeconds) +
                                          "\nNotifyNewEntries=true\n"),
            QString());
    }

    void theIconRegistersWithThePanelAndIsDrawnInItsTray() {
        // Registered with the panel's watcher, and drawn where the tray is once the panel has
        // placed it and stopped moving things.
        icon = desktop.startAppAndFindIcon(panel.geometry);
        QVERIFY2(icon.isValid(), "no icon appears on the panel");
        normalIcon = desktop.screenshot().copy(icon);
        const std::optional<Window> tray = panelWindow(false);
        QVERIFY2(tray, "the panel has no status tray window");
        QVERIFY2(tray->geometry.contains(icon), "the panel changed outside its status tray");
        QVERIFY(icon.size().boundedTo({48, 48}) == icon.size());
    }

    void aClickOpensThePanelsMenuAndEscapeClosesIt() {
        QVERIFY(icon.isValid());
        QVERIFY(desktop.click(icon.center()));
        QVERIFY2(waitFor([&] { return panelWindow(true).has_value(); }), "no menu after a click");
        const QImage shot = desktop.settledScreenshot(QRect(0, 0, 800, 600)); // placed and drawn
        const QRect menu = panelWindow(true).value_or(Window{}).geometry;
        // The panel draws the menu itself: no window of the program's is on screen.
        QVERIFY(desktop.windows("^pinglark$").isEmpty());
        // The picture of the open menu, with the end of the bar above it.
        QVERIFY(desktop.keep(shot, "pinglark-xfce-menu.png", menu | icon, 120));

        QVERIFY(desktop.run("xdotool", {"key", "Escape"}));
        QVERIFY2(waitFor([&] { return !panelWindow(true); }), "Escape did not close the menu");
        menuClosedAt = clock.elapsed();
        // With the pointer gone from the panel, the icon looks as it did before the menu opened.
        QVERIFY(desktop.run("xdotool", {"mousemove", "400", "300"}));
        QVERIFY2(waitFor([&] { return desktop.screenshot().copy(icon) == normalIcon; }, 10000),
                 "the icon keeps its highlighted picture after the menu closed");
    }

    void refreshesKeepTheirPeriodAfterTheMenuClosed() {
        QVERIFY(menuClosedAt >= 0);
        // Four refreshes after the menu closed, each within a period and a half of the one before.
        for (qint64 last = menuClosedAt, n = 0; n < 4; ++n, last = requestTimes.last())
            QVERIFY2(
                waitFor([&] { return requestTimes.last() > last; },
                        int(std::max<qint64>(0, last + periodSeconds * 1500 - clock.elapsed()))),
                "the refreshes stopped or came late after the menu closed");
    }

    // A refresh with new entries shows a notification; the next one's takes its place, and a
    // click on it opens the newest entry.
    void newEntriesAreNotified() {
        const QString notifyd = "^xfce4-notifyd$";
        const QList<FeedFixture::Entry> two{
            entry("Harbour reopens", "https://news.example/harbour"),
            entry("Ferry timetable", "https://news.example/ferry")};
        server.serve(feedPath, FeedFixture::rdf(two + firstEntries));
        QVERIFY2(waitFor([&] { return desktop.windows(notifyd).size() == 1; }),
                 "no notification appears (tools/install-deps.sh installs xfce4-notifyd)");
        const QRect shown = desktop.windows(notifyd).value(0).geometry;
        const QImage first = desktop.settledScreenshot(shown);
        QVERIFY(desktop.keep(first.copy(shown.adjusted(-80, -40, 16, 40) & first.rect()),
                             "pinglark-notification.png"));

        const FeedFixture::Entry newest = entry("Bridge closed", "https://news.example/bridge");
        server.serve(feedPath, FeedFixture::rdf(QList{newest} + two + firstEntries));
        QVERIFY2(waitFor([&] { return desktop.screenshot().copy(shown) != first.copy(shown); }),
                 "the notification did not change");
        QCOMPARE(desktop.windows(notifyd).size(), 1);
        // XFCE's server shows the default action as a button, at the bottom right.
        QVERIFY(desktop.click(desktop.windows(notifyd)[0].geometry.bottomRight() - QPoint(30, 30)));
        QCOMPARE(desktop.openerCalls(), QList<QStringList>{{*newest.link}});
    }

    // `pinglark --quit` ends the running program; with none running, it starts none.
    void quitFromTheCommandLine() {
        QVERIFY(desktop.run(PINGLARK_BINARY, {"--quit"}));
        QVERIFY(waitFor([&] { return desktop.app()->state() == QProcess::NotRunning; }));
        QCOMPARE(desktop.stopApp(), 0);
        QVERIFY(desktop.run(PINGLARK_BINARY, {"--quit"}, 5000));
    }
};

QTEST_GUILESS_MAIN(E2EXfce)

#include "e2e_xfce.moc"
