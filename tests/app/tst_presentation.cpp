// How entries look in the menu: shown titles, the tooltip, and the blinking icon. (What choosing
// an entry opens, and feeds and servers that leave the placeholder in the menu, are among
// tst_refresh's feeds/; how the download and the parser stand up to each kind of attack, their own
// suites show.)

#include "AppHarness.h"

class TestPresentation : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void displayTitle() {
        const std::optional<QString> ann = QStringLiteral("Ann"), none;
        // U+1F600 takes two code units: a cut at unit 35 must not split it.
        const QString face = QString::fromUcs4(U"\U0001F600");
        const QString split = QString(34, u'x') + face + "tail", whole = QString(33, u'x') + face;
        const std::tuple<QString, std::optional<QString>, bool, bool, QString> cases[] = {
            {QString(35, u'a'), ann, true, false, QString(35, u'a')},
            {QString(36, u'b'), ann, true, false, QString(35, u'b') + "..."},
            {QString(100, u'c'), ann, false, false, QString(100, u'c')},
            {QString(50, u'd'), ann, true, true, QString(35, u'd') + "...  <Ann>"},
            {"Hi", none, false, true, "Hi  <>"},
            {split, none, true, false, QString(34, u'x') + "..."},
            {whole + "tail", none, true, false, whole + "..."}};
        for (const auto& [title, source, trim, showSource, shown] : cases)
            QCOMPARE(AppController::displayTitle(title, source, trim, showSource), shown);
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
