// The real program in an XEmbed tray host (XFCE, LXDE, older panels): trayer on a virtual display,
// a session bus without any StatusNotifierWatcher, and the feed served by the test. The test looks
// at the screen and clicks as a user does.

#include "Desktop.h"
#include "HttpServer.h"

#include <QCoreApplication>
#include <QImage>
#include <QSet>
#include <QtTest>

using namespace e2e;

namespace {

// Where trayer puts its panel: 64 x 32 pixels at the top right of the 800 x 600 screen.
const QRect tray(800 - 64, 0, 64, 32);

const FeedFixture::Entry blinkEntry =
    entry("Snow closes the mountain pass", "https://news.example/2024/snow");
const FeedFixture::Entry freshEntry =
    entry("Veltrano opens its new feed desk", "https://news.example/2024/feed-desk");

// Calls visit(x, y) for each pixel of the area that lies within the image.
template <typename Visit> void forEachPixel(const QImage& image, const QRect& area, Visit visit) {
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            visit(x, y);
}

int distinctColours(const QImage& image, const QRect& area) {
    QSet<QRgb> colours;
    forEachPixel(image, area, [&](int x, int y) { colours.insert(image.pixel(x, y)); });
    return int(colours.size());
}

// The share of the area's pixels that differ between two pictures of the screen.
double changed(const QImage& before, const QImage& after, const QRect& area) {
    qint64 count = 0, all = 0;
    forEachPixel(after, area.intersected(before.rect()), [&](int x, int y) {
        ++all;
        count += before.pixel(x, y) != after.pixel(x, y);
    });
    return all ? double(count) / all : 0.0;
}

} // namespace

class E2EXEmbed : public QObject {
    Q_OBJECT

    Desktop desktop{qEnvironmentVariable("PINGLARK_E2E_HOME")};
    HttpServer server;
    Window icon;
    QProcess* trayHost = nullptr;

    // The program's windows bigger than a tray icon that are on screen: its open menu.
    std::optional<Window> openMenu() {
        for (const Window& w : desktop.windows("^pinglark$", true))
            if (w.geometry.width() > 64 && w.geometry.height() > 64)
                return w;
        return std::nullopt;
    }
    // Clicks the icon; the menu that opens, once placed and drawn.
    std::optional<Window> menuAfterClick() {
        if (!desktop.click(icon.geometry.center()) ||
            !waitFor([&] { return openMenu().has_value(); }))
            return std::nullopt;
        QTest::qWait(500);
        return openMenu();
    }
    // Pictures of the docked icon a few times over two seconds; how many looked different.
    int iconLooks() {
        QSet<QByteArray> looks;
        for (int i = 0; i < 8; ++i) {
            const QImage part = desktop.screenshot().copy(icon.geometry);
            looks.insert(
                QByteArray(reinterpret_cast<const char*>(part.constBits()), part.sizeInBytes()));
            QTest::qWait(250);
        }
        return int(looks.size());
    }

    QProcess* startTrayHost() {
        return desktop.start("trayer",
                             {"--edge", "top", "--align", "right", "--widthtype", "pixel",
                              "--width", "64", "--height", "32", "--iconspacing", "4",
                              "--SetDockType", "true"},
                             "trayer");
    }
    // The program's icon, once docked in the tray host.
    bool iconDocked() {
        for (const Window& w : desktop.windows("^pinglark$", true))
            if (w.geometry.width() <= 64 && w.geometry.height() <= 64 && desktop.docked(w.id)) {
                icon = w;
                return true;
            }
        return false;
    }

private Q_SLOTS:
    void initTestCase() {
        QString error = desktop.startSession({"trayer", "xdotool", "xwininfo", "import"});
        QVERIFY2(error.isEmpty(), qPrintable(error));
        trayHost = startTrayHost();
        QVERIFY2(waitFor([&] { return !desktop.windows("^trayer$").isEmpty(); }),
                 qPrintable("trayer did not start: " + desktop.log("trayer")));

        QVERIFY2(server.listen(feedPort), qPrintable(portTaken));
        server.serve(feedPath, FeedFixture::rdf(firstEntries));
        desktop.writeSettings("DataRefreshInterval=3\n");
        QVERIFY2(desktop.startApp(PINGLARK_BINARY, &error), qPrintable(error));
    }

    void cleanupTestCase() {
        desktop.stopApp();
        qInfo().noquote() << "pinglark's output:\n" << desktop.log("pinglark");
    }

    void theIconDocksInTheTray() {
        QVERIFY2(waitFor([&] { return iconDocked(); }),
                 "no icon of pinglark's docked in the tray host");
        QVERIFY(waitFor([&] { return server.requestCount(feedPath) > 0; }));
        // Placed and drawn: the tray host may still move it for a moment.
        QImage previous;
        QVERIFY2(waitFor([&] {
                     icon = desktop.window(icon.id).value_or(icon);
                     const QImage now = desktop.screenshot().copy(icon.geometry);
                     const bool same = !now.isNull() && now == previous;
                     previous = now;
                     return same;
                 }),
                 "the icon does not settle");
        QVERIFY2(tray.contains(icon.geometry),
                 qPrintable(QString("the icon is at %1,%2, outside the tray")
                                .arg(icon.geometry.x())
                                .arg(icon.geometry.y())));
        QVERIFY(distinctColours(previous, previous.rect()) > 4);
    }

    void aNewTopEntryBlinksTheIconUntilAClickOpensTheMenu() {
        QVERIFY(icon.id != 0);
        QCOMPARE(iconLooks(), 1);
        int refreshes = server.requestCount(feedPath);
        server.serve(feedPath,
                     FeedFixture::rdf(QList<FeedFixture::Entry>{blinkEntry} + firstEntries));
        QVERIFY(waitFor([&] { return server.requestCount(feedPath) > refreshes; }));
        QTest::qWait(500);
        QVERIFY2(iconLooks() >= 2, "the icon does not blink in the tray");

        // Another new entry, and the menu opened right after the refresh that brings it, while
        // the entry still carries its new-entry dot.
        refreshes = server.requestCount(feedPath);
        server.serve(feedPath, FeedFixture::rdf(QList<FeedFixture::Entry>{freshEntry, blinkEntry} +
                                                firstEntries));
        QVERIFY(waitFor([&] {
            return server.requestCount(feedPath) > refreshes &&
                   server.lastRequest(feedPath)->completed;
        }));
        QTest::qWait(300);
        const QImage before = desktop.screenshot();
        const std::optional<Window> menu = menuAfterClick();
        QVERIFY2(menu, "no menu after a click on the icon");
        const QImage after = desktop.screenshot();
        const QRect area = menu->geometry;
        QVERIFY2(distinctColours(after, area) >= 16, "the menu is not drawn");
        QVERIFY2(changed(before, after, area) > 0.3, "the screen did not change where the menu is");
        // The dot beside the top entry: blue pixels at the start of the first row.
        int blue = 0;
        forEachPixel(after, QRect(area.left(), area.top(), 40, 28), [&](int x, int y) {
            const QColor c = after.pixelColor(x, y);
            blue += c.blue() > 150 && c.red() < 120 && c.green() < 170;
        });
        QVERIFY2(blue >= 20, "no new-entry dot beside the top entry");

        // The picture of the open menu, with the tray above it.
        const int left = std::max(0, std::min(area.left(), tray.left()) - 48);
        const QImage picture =
            after.copy(QRect(left, 0, after.width() - left, area.bottom() + 1 + 24));
        QVERIFY(picture.save(desktop.home() + "/pinglark-menu.png"));
        const QString keep = qEnvironmentVariable("PINGLARK_E2E_SCREENSHOT");
        if (!keep.isEmpty())
            QVERIFY(picture.save(keep));

        // The top entry is the first item of the menu: a click on it opens its link.
        QVERIFY(desktop.click(area.topLeft() + QPoint(area.width() / 2, 14)));
        QVERIFY2(waitFor([&] { return !desktop.openerCalls().isEmpty(); }),
                 "xdg-open was not called");
        QCOMPARE(desktop.openerCalls(), QList<QStringList>{{*freshEntry.link}});
        QVERIFY(waitFor([&] { return !openMenu(); }));
        // Opening the menu stopped the blinking.
        QCOMPARE(iconLooks(), 1);
    }

    void quitFromTheMenu() {
        QVERIFY(icon.id != 0);
        const std::optional<Window> menu = menuAfterClick();
        QVERIFY2(menu, "no menu after a click on the icon");
        // Quit Pinglark is the last item.
        const QRect area = menu->geometry;
        QVERIFY(desktop.click(area.bottomLeft() + QPoint(area.width() / 2, -12)));
        QVERIFY2(desktop.appExitsCleanly(), "Quit Pinglark did not end the program with status 0");
        QVERIFY(waitFor([&] { return desktop.windows("^pinglark$").isEmpty(); }));
        // It ran for well over the grace it gives a tray to appear, and there was one.
        QVERIFY(!desktop.log("pinglark").contains("needs a panel"));
    }

    // As at login, the program starts before the panel: it says that there is no tray yet, and
    // its icon docks once the tray host is there.
    void aTrayThatComesLaterTakesTheIcon() {
        trayHost->kill();
        QVERIFY(waitFor([&] { return desktop.windows("^trayer$").isEmpty(); }));
        QString error;
        QVERIFY2(desktop.startApp(PINGLARK_BINARY, &error), qPrintable(error));
        QVERIFY2(waitFor([&] { return desktop.log("pinglark").contains("needs a panel"); }),
                 "no word of the missing tray");
        trayHost = startTrayHost();
        QVERIFY2(waitFor([&] { return iconDocked(); }), "the icon did not dock in the later tray");
    }
};

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    E2EXEmbed test;
    return QTest::qExec(&test, argc, argv);
}

#include "e2e_xembed.moc"
