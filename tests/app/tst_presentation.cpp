// How entries look and act in the menu: shown titles, clicks, and the blinking icon.

#include "AppHarness.h"

#include "PreferenceKeys.h"
#include "UserDefaults.h"

class TestPresentation : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void displayTitle_data() {
        QTest::addColumn<QString>("title");
        QTest::addColumn<std::optional<QString>>("source");
        QTest::addColumn<bool>("trim");
        QTest::addColumn<bool>("showSource");
        QTest::addColumn<QString>("expected");
        const QString t35(35, u'a'), t36(36, u'b'), t100(100, u'c'), t50(50, u'd');
        const std::optional<QString> ann = QStringLiteral("Ann"), none;
        QTest::newRow("35 kept") << t35 << ann << true << false << t35;
        QTest::newRow("36 cut") << t36 << ann << true << false << QString(35, u'b') + "...";
        QTest::newRow("no trim keeps all") << t100 << ann << false << false << t100;
        QTest::newRow("source") << "Hello" << ann << false << true << "Hello  <Ann>";
        QTest::newRow("trim then source")
            << t50 << ann << true << true << QString(35, u'd') + "...  <Ann>";
        QTest::newRow("empty title") << "" << ann << true << false << "";
        QTest::newRow("empty title, source") << "" << ann << true << true << "  <Ann>";
        QTest::newRow("no source") << "Hi" << none << false << true << "Hi  <>";
        QTest::newRow("source never cut") << "Hi" << std::optional<QString>(QString(50, u's'))
                                          << true << true << "Hi  <" + QString(50, u's') + ">";
        // U+1F600 takes two code units; here it would be cut in half at unit 35.
        const QString pair = QString(34, u'x') + QString::fromUcs4(U"\U0001F600") + "tail";
        QTest::newRow("surrogate pair at the cut")
            << pair << none << true << false << QString(34, u'x') + "...";
        const QString pairBefore = QString(33, u'x') + QString::fromUcs4(U"\U0001F600") + "tail";
        QTest::newRow("pair ending at the cut")
            << pairBefore << none << true << false << pairBefore.left(35) + "...";
    }
    void displayTitle() {
        QFETCH(QString, title);
        QFETCH(std::optional<QString>, source);
        QFETCH(bool, trim);
        QFETCH(bool, showSource);
        QFETCH(QString, expected);
        QCOMPARE(AppController::displayTitle(title, source, trim, showSource), expected);
    }

    void optionsApplyToEveryEntryButThePlaceholder() {
        AppHarness h;
        const QString longTitle = QStringLiteral("A headline that is far longer than the limit");
        h.serveFeed({{longTitle, "http://x/1", "Ann"}, {"Short", "http://x/2", {}}});
        for (const QString& key :
             {PreferenceKeys::HasRun, PreferenceKeys::ShowSource, PreferenceKeys::TrimTitle})
            UserDefaults::standardUserDefaults().setBool(true, key);
        AppController& app = h.start();
        QCOMPARE(h.feedItems().at(0)->title(), longTitle.left(35) + "...  <Ann>");
        QCOMPARE(h.feedItems().at(1)->title(), QStringLiteral("Short  <>"));
        // feedTitle keeps the raw text, so re-titling restores the long form.
        QCOMPARE(h.feedItems().at(0)->feedTitle(), std::optional<QString>(longTitle));

        // The placeholder keeps its title whatever the options.
        h.server.serveStatus(AppHarness::feedPath, 404);
        QTest::ignoreMessage(QtWarningMsg, formatError);
        QVERIFY(h.refresh());
        app.updateMenuView();
        QCOMPARE(h.feedItems().at(0)->text(), QStringLiteral("No Data Loaded"));
    }

    void choosingEntries() {
        AppHarness h({entry("1")});
        AppController& app = h.start();
        h.serveFeed(
            {entry("0"), {"No link", {}, {}}, {"Relative", "/go/elsewhere", {}}, entry("1")});
        QVERIFY(h.refresh());
        QCOMPARE(h.marks(), QStringList({"new", "new", "new", "blank"}));

        UrlRecorder urls;
        const QList<FeedMenuItem*> items = h.feedItems();
        // A new entry, twice: the first choice marks it chosen; both open the link.
        for (int i = 0; i < 2; ++i) {
            items[0]->trigger();
            QCOMPARE(h.marks().at(0), QStringLiteral("clicked"));
        }
        QCOMPARE(urls.opened,
                 QList<QUrl>({QUrl("http://news.example/0"), QUrl("http://news.example/0")}));
        // A blank entry keeps its image.
        items[3]->trigger();
        QCOMPARE(h.marks().at(3), QStringLiteral("blank"));
        QCOMPARE(urls.opened.size(), 3);
        // No link, or not a web address: the image changes, nothing is opened.
        urls.opened.clear();
        items[1]->trigger();
        items[2]->trigger();
        QCOMPARE(h.marks().mid(1, 2), QStringList({"clicked", "clicked"}));
        QVERIFY(urls.opened.isEmpty());

        // Home always opens the same page.
        app.homeMenuItem()->trigger();
        app.homeMenuItem()->trigger();
        QCOMPARE(urls.opened,
                 QList<QUrl>({QUrl(h.site() + "go/rss_info"), QUrl(h.site() + "go/rss_info")}));
    }

    void blinkingAndWhatStopsIt() {
        AppHarness h({entry("1")});
        AppController& app = h.start();
        StatusItem* item = app.statusItem();
        QCOMPARE(item->image().cacheKey(), app.icon().cacheKey());

        app.toggleBlink(true);
        QTimer* timer = app.blinkTimer();
        QVERIFY(timer && timer->isActive());
        QCOMPARE(timer->interval(), 750);
        // Nothing changes before the first phase ends.
        QVERIFY(item->hasImage());
        QTRY_VERIFY_WITH_TIMEOUT(!item->hasImage(), 1500);
        QTRY_VERIFY_WITH_TIMEOUT(item->hasImage(), 1500);
        QCOMPARE(item->image().cacheKey(), app.icon().cacheKey());

        // Starting again leaves one timer; stopping in the blank phase shows the icon at once.
        app.toggleBlink(true);
        QVERIFY(app.blinkTimer() != nullptr);
        QTRY_VERIFY_WITH_TIMEOUT(!item->hasImage(), 1500);
        app.toggleBlink(false);
        QVERIFY(!app.blinkTimer());
        QCOMPARE(item->image().cacheKey(), app.icon().cacheKey());
        // Stopping when nothing blinks only shows the icon again.
        app.toggleBlink(false);
        QCOMPARE(item->image().cacheKey(), app.icon().cacheKey());

        // Opening the menu stops it, and the item shows its alternate image while it is open.
        app.toggleBlink(true);
        QTRY_VERIFY_WITH_TIMEOUT(!item->hasImage(), 1500);
        app.barMenu()->popup(QPoint(5, 5));
        QTRY_VERIFY(app.barMenu()->isVisible());
        QVERIFY(!app.blinkTimer());
        QCOMPARE(item->image().cacheKey(), app.icon().cacheKey());
        QVERIFY(item->isHighlighted());
        QCOMPARE(item->shownImage().cacheKey(), item->alternateImage().cacheKey());
        app.barMenu()->hide();
        QTRY_VERIFY(!item->isHighlighted());
        QCOMPARE(item->shownImage().cacheKey(), app.icon().cacheKey());

        // A click on the tray icon stops it too (some hosts never announce the menu).
        app.toggleBlink(true);
        QTRY_VERIFY_WITH_TIMEOUT(!item->hasImage(), 1500);
        Q_EMIT item->activated();
        QVERIFY(!app.blinkTimer());
        QVERIFY(item->hasImage());
    }
};

QTEST_MAIN(TestPresentation)
#include "tst_presentation.moc"
