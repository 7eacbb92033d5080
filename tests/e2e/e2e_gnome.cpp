// The real program in GNOME Shell 43 with its AppIndicator extension (Debian's
// ubuntu-appindicators@ubuntu.com): gnome-shell as the window manager and compositor of a virtual
// display, its settings in a dconf database of the session's own, and a bus of the system kind of
// its own too (the shell asks logind there at start, and gives up without a system bus). The
// extension draws the program's menu on the shell's stage, where no X window shows it: the test
// looks at the screen, clicks and presses keys as a user does, and reads the shell's log.

#include "Desktop.h"
#include "HttpServer.h"

#include <QImage>
#include <QRegularExpression>
#include <QtTest>

using namespace e2e;

namespace {

constexpr int periodSeconds = 5;
// The desktop's colour, set as the shell's background: where a corner shows it, the overview the
// shell starts with has gone.
const QColor desktopColour("#3a4150");
// The new-entry image's colour.
const QColor newEntryDot("#2f7de1");

// The smallest rectangle around the pixels of the area that have (about) the colour.
QRect areaOf(const QImage& picture, const QRect& area, QColor colour) {
    QRect found;
    const QRect inside = area.intersected(picture.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x) {
            const QColor c = picture.pixelColor(x, y);
            if (std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green()) +
                    std::abs(c.blue() - colour.blue()) <
                30)
                found |= QRect(x, y, 1, 1);
        }
    return found;
}

} // namespace

class E2EGnome : public QObject {
    Q_OBJECT

    Desktop desktop{qEnvironmentVariable("PINGLARK_E2E_HOME")};
    std::unique_ptr<SessionServer> systemBus;
    HttpServer server;
    int requests = 0;
    QRect topBar;
    QRect belowTheBar;
    QRect icon;                   // where the icon is drawn
    qsizetype shellLogBefore = 0; // how much the shell had logged when the program started

    // A click on the icon, and the picture once the menu it opens has settled; `menu` is where the
    // menu is drawn.
    QImage openMenu(QRect& menu) {
        const QImage before = desktop.settledScreenshot(belowTheBar);
        if (!desktop.click(icon.center()) || !waitFor([&] {
                return changedArea(before, desktop.screenshot(), belowTheBar).height() > 100;
            }))
            return {};
        const QImage shot = desktop.settledScreenshot(belowTheBar);
        menu = changedArea(before, shot, belowTheBar);
        return shot;
    }
    bool closeMenu() {
        const QImage open = desktop.screenshot();
        return desktop.run("xdotool", {"key", "Escape"}) && waitFor([&] {
                   return changedArea(open, desktop.screenshot(), belowTheBar).height() > 100;
               });
    }

private Q_SLOTS:
    void initTestCase() {
        QCOMPARE(desktop.startSession({"gnome-shell", "gsettings",
                                       "dbus-update-activation-environment", "xdotool", "import"}),
                 QString());
        systemBus = SessionServer::bus(desktop.home() + "/system-bus.log");
        QVERIFY(systemBus);
        // dconf's service is started by the bus when gsettings first writes; like a desktop
        // session's start-up, hand the bus the session's folders for it.
        QVERIFY(desktop.run("dbus-update-activation-environment", {"--all"}));
        const QList<QStringList> settings{
            {"org.gnome.shell", "enabled-extensions", "['ubuntu-appindicators@ubuntu.com']"},
            {"org.gnome.desktop.interface", "enable-animations", "false"},
            {"org.gnome.desktop.lockdown", "disable-lock-screen", "true"},
            {"org.gnome.desktop.session", "idle-delay", "uint32 0"},
            {"org.gnome.desktop.notifications", "show-banners", "false"},
            {"org.gnome.desktop.background", "picture-options", "none"},
            {"org.gnome.desktop.background", "primary-color", desktopColour.name()},
        };
        for (const QStringList& setting : settings)
            QVERIFY2(desktop.run("gsettings", QStringList("set") + setting),
                     qPrintable(setting.join(' ')));
        desktop.start("env",
                      {"NO_AT_BRIDGE=1", "LIBGL_ALWAYS_SOFTWARE=1",
                       "DBUS_SYSTEM_BUS_ADDRESS=" + systemBus->address(), "gnome-shell", "--x11",
                       "--replace", "--sm-disable"},
                      "gnome-shell");
        QVERIFY2(
            waitFor([&] { return desktop.statusNotifierHost(); }, 60000),
            qPrintable("the AppIndicator extension did not start: " + desktop.log("gnome-shell")));
        // The shell has started once it has shown the overview; Escape leaves it for the desktop
        // under the top bar.
        QVERIFY2(waitFor([&] { return desktop.log("gnome-shell").contains("GNOME Shell started"); },
                         30000),
                 "the shell did not start");
        QImage shot;
        QVERIFY2(waitFor(
                     [&] {
                         desktop.run("xdotool", {"key", "Escape"});
                         shot = desktop.screenshot();
                         return !shot.isNull() && shot.pixelColor(4, 4) != desktopColour &&
                                shot.pixelColor(4, shot.height() - 4) == desktopColour;
                     },
                     30000),
                 "the overview did not go");
        // The top bar: from the top down to the desktop's colour.
        int height = 0;
        while (height < shot.height() && shot.pixelColor(4, height) != desktopColour)
            ++height;
        QVERIFY(height >= 16 && height <= 64);
        topBar = QRect(0, 0, shot.width(), height);
        belowTheBar = QRect(0, height, shot.width(), shot.height() - height);

        connect(&server, &HttpServer::requestReceived, this, [this] { ++requests; });
        QVERIFY2(server.listen(feedPort), qPrintable(portTaken));
        server.serve(feedPath, FeedFixture::rdf(firstEntries));
        desktop.writeSettings("DataRefreshInterval=" + QByteArray::number(periodSeconds) + "\n");
    }

    void cleanupTestCase() {
        qInfo().noquote() << "pinglark's output:\n" << desktop.log("pinglark");
    }

    void theIconAppearsOnTheTopBar() {
        // Indicators go at the right end, left of the system menu (the clock is in the middle).
        const QRect end(topBar.width() * 2 / 3, 0, topBar.width() / 3, topBar.height());
        const QImage empty = desktop.settledScreenshot(end);
        shellLogBefore = desktop.log("gnome-shell").size();
        QVERIFY(desktop.startApp());
        QVERIFY2(waitFor([&] {
                     icon = changedArea(empty, desktop.settledScreenshot(end), end);
                     return icon.width() >= 12 && icon.height() >= 12;
                 }),
                 "no icon appears on the top bar");
    }

    void aClickShowsTheEntriesAndOneOpensItsLink() {
        QVERIFY(icon.isValid());
        QRect menu;
        const QImage shot = openMenu(menu);
        QVERIFY2(!shot.isNull(), "no menu after a click");
        // The extension draws the menu: no window of the program's (its own menu, as an icon in
        // the extension's legacy tray would show) is on screen.
        QVERIFY(desktop.windows("^pinglark$").isEmpty());
        // The picture of the open menu, with the end of the bar above it.
        const int left = std::max(0, (menu | icon).left() - 60);
        QVERIFY(desktop.keep(shot.copy(QRect(left, 0, shot.width() - left, menu.bottom() + 25)),
                             "pinglark-gnome-menu.png"));
        // Nothing is new at the first look.
        QVERIFY(areaOf(shot, menu, newEntryDot).isEmpty());
        // The keys of the menu: the second entry.
        QVERIFY(desktop.run("xdotool", {"key", "Down", "Down", "Return"}));
        QVERIFY2(waitFor([&] { return !desktop.openerCalls().isEmpty(); }),
                 "choosing an entry opened nothing");
        QCOMPARE(desktop.openerCalls(), QList<QStringList>{{*firstEntries[1].link}});
    }

    void aNewEntryCarriesTheDot() {
        QVERIFY(icon.isValid());
        const FeedFixture::Entry fresh = entry("Fresh news", "https://news.example/2024/fresh");
        server.serve(feedPath, FeedFixture::rdf(QList{fresh} + firstEntries));
        const int before = requests;
        QVERIFY2(waitFor([&] { return requests > before; }, periodSeconds * 3000),
                 "no refresh came");
        // The refresh's menu reaches the shell a moment later; the dot is at the top entry.
        QRect menu, dot;
        QVERIFY2(waitFor([&] {
                     const QImage shot = openMenu(menu);
                     dot = areaOf(shot, menu, newEntryDot);
                     return !dot.isEmpty() || !closeMenu();
                 }),
                 "no new-entry image in the menu");
        QVERIFY2(dot.height() >= 6 && dot.bottom() < menu.top() + 60,
                 qPrintable(QString("dot at %1,%2 in a menu at %3,%4")
                                .arg(dot.left())
                                .arg(dot.top())
                                .arg(menu.left())
                                .arg(menu.top())));
        QVERIFY(closeMenu());
    }

    void theShellLogsNoErrorAboutTheItem() {
        // The extension's warnings, and JavaScript errors, since the program started.
        static const QRegularExpression error("JS ERROR|Ubuntu-AppIndicators-(WARNING|CRITICAL)");
        const QStringList errors =
            desktop.log("gnome-shell").mid(shellLogBefore).split('\n').filter(error);
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join('\n')));
    }
};

QTEST_GUILESS_MAIN(E2EGnome)

#include "e2e_gnome.moc"
