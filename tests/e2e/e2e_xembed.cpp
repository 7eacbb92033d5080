// The real program in an XEmbed tray host (XFCE, LXDE, older panels): trayer on a virtual display,
// a session bus without any StatusNotifierWatcher, and the feed served by the test. The test looks
// at the screen and clicks as a user does.

#include "Desktop.h"

#include <QtTest>

using namespace e2e;

namespace {

// Where trayer puts its panel: 64 x 32 pixels at the top right of the 800 x 600 screen.
const QRect tray(800 - 64, 0, 64, 32);

const FeedFixture::Entry blinkEntry =
    entry("Snow closes the mountain pass", "https://news.example/2024/snow");
const FeedFixture::Entry freshEntry =
    entry("Veltrano opens its new feed desk", "https://news.example/2024/feed-desk");

} // namespace

class E2EXEmbed : public QObject {
    Q_OBJECT

    Desktop desktop{qEnvironmentVariable("PINGLARK_E2E_HOME")};
    HttpServer server;
    Window icon;

    // The program's windows bigger than a tray icon that are on screen: its open menu.
    std::optional<Window> openMenu() {
        for (const Window& w : desktop.windows("^pinglark$"))
            if (w.geometry.width() > 64 && w.geometry.height() > 64)
                return w;
        return std::nullopt;
    }
    // Pictures of the docked icon over two seconds; how many looked different.
    int iconLooks() {
        QList<QImage> looks;
        for (int i = 0; i < 8; ++i, QTest::qWait(250))
            if (const QImage part = desktop.screenshot().copy(icon.geometry); !looks.contains(part))
                looks.append(part);
        return int(looks.size());
    }
    // The program's icon, once docked in the tray host.
    bool iconDocked() {
        for (const Window& w : desktop.windows("^pinglark$"))
            if (tray.contains(w.geometry)) {
                icon = w;
                return true;
            }
        return false;
    }

private Q_SLOTS:
    void initTestCase() {
        QCOMPARE(desktop.startSession({"trayer", "xdotool", "import"}), QString());
        const QString options = "--edge top --align right --widthtype pixel --width 64 --height 32 "
                                "--iconspacing 4 --SetDockType true";
        desktop.start("trayer", options.split(' '), "trayer");
        QVERIFY2(
            waitFor([&] { return !desktop.windows("^trayer$", "--classname", false).isEmpty(); }),
            qPrintable("trayer did not start: " + desktop.log("trayer")));

        QCOMPARE(desktop.serveFeed(server, "DataRefreshInterval=3\n"), QString());
        QVERIFY(desktop.startApp());
    }

    void theIconDocksInTheTray() {
        QVERIFY2(waitFor([&] { return iconDocked(); }),
                 "no icon of pinglark's docked in the tray host");
        QVERIFY(waitFor([&] {
            return server.lastRequest(feedPath).value_or(HttpServer::Request()).completed;
        }));
        // Placed: the tray host may still move it for a moment. (That it is drawn, the blink
        // shows.)
        QVERIFY2(!desktop.settledScreenshot(tray).isNull() && iconDocked(),
                 "the icon left the tray");
    }

    void aNewTopEntryBlinksTheIconUntilAClickOpensTheMenu() {
        QVERIFY(icon.id != 0);
        QCOMPARE(iconLooks(), 1);
        QVERIFY(refreshWith(server, {blinkEntry}));
        QVERIFY2(iconLooks() >= 2, "the icon does not blink in the tray");

        // Another new entry, and the menu opened right after the refresh that brings it, while
        // the entry still carries its new-entry dot.
        QVERIFY(refreshWith(server, {freshEntry, blinkEntry}));
        QVERIFY(desktop.click(icon.geometry.center()));
        QVERIFY2(waitFor([&] { return openMenu().has_value(); }), "no menu after a click");
        const QRect area = openMenu().value_or(Window{}).geometry;
        const QImage after = desktop.settledScreenshot(area);
        // Drawn, with the dot beside the top entry: blue pixels at the start of the first row.
        const QRect dot = newEntryDot(after, QRect(area.topLeft(), QSize(40, 28)));
        QVERIFY2(dot.width() >= 5 && dot.height() >= 5, "no new-entry dot beside the top entry");
        // The picture of the open menu, with the tray above it.
        QVERIFY(desktop.keep(after, "pinglark-menu.png", area | tray, 48));

        // The top entry is the first item of the menu: a click on it opens its link.
        QVERIFY(desktop.click(area.topLeft() + QPoint(area.width() / 2, 14)));
        QCOMPARE(desktop.openerCalls(), QList<QStringList>{{*freshEntry.link}});
        QVERIFY(waitFor([&] { return !openMenu(); }));
        // Opening the menu stopped the blinking. With a tray all along, not a word of its lack;
        // told to end (SIGTERM), it ends cleanly.
        QCOMPARE(iconLooks(), 1);
        QVERIFY(!desktop.log("pinglark").contains("needs a panel"));
        QCOMPARE(desktop.stopApp(), 0);
    }
};

QTEST_GUILESS_MAIN(E2EXEmbed)

#include "e2e_xembed.moc"
