// How entries look in the menu: shown titles, the tooltip, and the blinking icon. (What choosing
// an entry opens, and feeds and servers that leave the placeholder in the menu, are among
// tst_refresh's feeds/; how the download and the parser stand up to each kind of attack, their own
// suites show.)

#include "AppHarness.h"

class TestPresentation : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Each line of titles.txt: a title, its source ("-" for none), "trim" where titles are trimmed,
    // "source" where sources are shown, and the title the menu shows.
    void displayTitle() {
        for (const QString& line : dataLines("titles.txt")) {
            const QStringList field = line.split(u'|');
            const std::optional<QString> source =
                field[1] == u"-" ? std::nullopt : std::optional(field[1]);
            QCOMPARE(AppController::displayTitle(field[0], source, field[2] == u"trim",
                                                 field[3] == u"source"),
                     field[4]);
        }
    }

    void blinkingAndWhatStopsIt() {
        AppHarness h({entry("1")});
        AppController& app = h.start();
        StatusItem* item = app.statusItem();
        const auto blank = [&] {
            return QTest::qWaitFor([&] { return !item->hasImage(); }, 1500);
        };
        const auto showsIcon = [&] {
            return item->image().cacheKey() == app.icon().cacheKey();
        };
        app.toggleBlink(true);
        QCOMPARE(app.blinkTimer()->interval(), 750);
        QVERIFY(item->hasImage()); // nothing changes before the first phase ends
        QVERIFY(blank());
        QTRY_VERIFY_WITH_TIMEOUT(item->hasImage(), 1500);
        QVERIFY(showsIcon());

        // Stopped in the blank phase: the icon shows at once.
        QVERIFY(blank());
        app.toggleBlink(false);
        QVERIFY(!app.blinkTimer() && showsIcon());

        // Opening the menu stops it; the alternate image shows while the menu is open.
        app.toggleBlink(true);
        QVERIFY(blank());
        app.barMenu()->popup(QPoint(5, 5));
        QVERIFY(!app.blinkTimer() && showsIcon());
        QTRY_VERIFY(item->isHighlighted());
        QCOMPARE(item->shownImage().cacheKey(), item->alternateImage().cacheKey());
        app.barMenu()->hide();

        // So does a click on the tray icon (some hosts never announce the menu).
        app.toggleBlink(true);
        QVERIFY(blank());
        Q_EMIT item->activated();
        QVERIFY(!app.blinkTimer() && item->hasImage());
    }

    void titlesShowExactlyWhateverTheyHold() {
        // A source that looks like markup, naming an image Qt could read.
        const QString markup = "<img src=\"" + QFileInfo(QStringLiteral(__FILE__)).absolutePath() +
                               "/../../docs/pinglark-menu.png\"> <b>x</b>";
        AppHarness h({{"snake_case & AT&T\tand\nnew line", "http://x/2", markup}});
        h.start();
        const FeedMenuItem* item = h.feedItems().at(0);
        // No mnemonic, no shortcut column: Qt's menu shows the text as written. Its tooltip shows
        // the source as the characters it is.
        QCOMPARE(item->title() + '|' + item->text() + '|' + shownText(item->toolTip()),
                 "snake_case & AT&T\tand\nnew line|snake_case && AT&&T and\nnew line|" + markup);
    }
};

QTEST_MAIN(TestPresentation)
#include "tst_presentation.moc"
