// The real program in GNOME Shell 43 with its AppIndicator extension (Debian's
// ubuntu-appindicators@ubuntu.com): gnome-shell as the window manager of a virtual display, its
// settings in the session's own dconf database, and a bus of the system kind of its own (without
// one the shell does not start). The extension draws the menu on the shell's stage, where no X
// window shows it: the test looks at the screen, clicks and presses keys as a user does.

#include "Desktop.h"

#include <QRegularExpression>
#include <QtTest>

using namespace e2e;

namespace {

// The desktop's colour, which gnome.gsettings sets as the shell's background.
const QColor desktopColour("#3a4150");

} // namespace

class E2EGnome : public QObject {
    Q_OBJECT

    Desktop desktop{qEnvironmentVariable("PINGLARK_E2E_HOME")};
    std::unique_ptr<SessionServer> systemBus;
    HttpServer server;
    QRect belowTheBar;
    QRect icon;
    qsizetype shellLogBefore = 0; // what the shell had logged when the program started

    // A click on the icon; the picture once the menu has settled, and where the menu is.
    QImage openMenu(QRect& menu) {
        const QImage before = desktop.settledScreenshot(belowTheBar);
        const auto changed = [&] {
            menu = changedArea(before, desktop.settledScreenshot(belowTheBar), belowTheBar);
            return menu.height() > 100;
        };
        return desktop.click(icon.center()) && waitFor(changed) ? desktop.screenshot() : QImage();
    }

private Q_SLOTS:
    void initTestCase() {
        QCOMPARE(desktop.startSession({"gnome-shell", "gsettings",
                                       "dbus-update-activation-environment", "xdotool", "import"}),
                 QString());
        systemBus = SessionServer::bus(desktop.home() + "/system-bus.log");
        QVERIFY(systemBus);
        // The bus starts dconf's service for gsettings: hand it the session's folders first.
        QVERIFY(desktop.run("dbus-update-activation-environment", {"--all"}));
        // The extension on; no animations, lock screen, banners or picture; the desktop's colour.
        for (const QString& setting : fixtureLines("gnome.gsettings"))
            QVERIFY2(desktop.run("gsettings", ("set org.gnome." + setting).split(' ')),
                     qPrintable(setting));
        desktop.start("env",
                      {"NO_AT_BRIDGE=1", "LIBGL_ALWAYS_SOFTWARE=1",
                       "DBUS_SYSTEM_BUS_ADDRESS=" + systemBus->address(), "gnome-shell", "--x11",
                       "--replace", "--sm-disable"},
                      "gnome-shell");
        // Started once it shows the overview; Escape leaves it for the desktop.
        QVERIFY2(
            waitFor([&] { return desktop.log("gnome-shell").contains("Shell started"); }, 60000),
            qPrintable(desktop.log("gnome-shell")));
        QImage shot;
        QVERIFY2(waitFor([&] {
                     desktop.run("xdotool", {"key", "Escape"});
                     shot = desktop.screenshot();
                     return shot.pixelColor(4, 4) != desktopColour &&
                            shot.pixelColor(4, shot.height() - 4) == desktopColour;
                 }),
                 "the overview did not go");
        QVERIFY2(waitFor([&] { return desktop.statusNotifierHost(); }), "no AppIndicator host");
        int bar = 0; // the top bar's height
        while (bar < 64 && shot.pixelColor(4, bar) != desktopColour)
            ++bar;
        belowTheBar = QRect(0, bar, shot.width(), shot.height() - bar);

        QCOMPARE(desktop.serveFeed(server, "DataRefreshInterval=5\n"), QString());
    }

    void theIconAppearsOnTheTopBar() {
        shellLogBefore = desktop.log("gnome-shell").size();
        // Indicators go at the right end of the bar, left of the system menu.
        icon = desktop.startAppAndFindIcon(QRect(500, 0, 300, belowTheBar.top()));
        QVERIFY2(icon.isValid(), "no icon appears on the top bar");
    }

    void aClickShowsTheEntriesAndOneOpensItsLink() {
        QRect menu;
        const QImage shot = openMenu(menu);
        QVERIFY2(!shot.isNull(), "no menu after a click");
        // Drawn by the extension: no window of the program's (its own menu) is on screen.
        QVERIFY(desktop.windows("^pinglark$").isEmpty());
        QVERIFY(newEntryDot(shot, menu).isEmpty()); // nothing is new at the first look
        // The menu's keys choose the second entry.
        QVERIFY(desktop.run("xdotool", {"key", "Down", "Down", "Return"}));
        QCOMPARE(desktop.openerCalls(), QList<QStringList>{{*firstEntries[1].link}});
    }

    void aNewEntryCarriesTheDot() {
        QVERIFY(refreshWith(server, {entry("Fresh", "https://news.example/f")}));
        QRect menu;
        const QImage shot = openMenu(menu);
        const QRect dot = newEntryDot(shot, menu);
        QVERIFY2(dot.height() >= 6 && dot.bottom() < menu.top() + 60, "no dot at the top entry");
        QVERIFY(desktop.keep(shot, "pinglark-gnome-menu.png", menu, 60));
        QVERIFY(desktop.run("xdotool", {"key", "Escape"}));
    }

    void theShellLogsNoErrorAboutTheItem() {
        static const QRegularExpression error("JS ERROR|Ubuntu-AppIndicators-(WARNING|CRITICAL)");
        const QStringList errors =
            desktop.log("gnome-shell").mid(shellLogBefore).split('\n').filter(error);
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join('\n')));
    }
};

QTEST_GUILESS_MAIN(E2EGnome)

#include "e2e_gnome.moc"
