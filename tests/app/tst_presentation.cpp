// How entries look and act in the menu: shown titles, clicks, and the blinking icon.

#include "AppHarness.h"

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
        QTest::newRow("no source") << "Hi" << none << false << true << "Hi  <>";
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

    void choosingEntries() {
        AppHarness h({entry("1")});
        h.start();
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
    }

    void blinkingAndWhatStopsIt() {
        AppHarness h({entry("1")});
        AppController& app = h.start();
        StatusItem* item = app.statusItem();
        app.toggleBlink(true);
        QCOMPARE(app.blinkTimer()->interval(), 750);
        // Nothing changes before the first phase ends.
        QVERIFY(item->hasImage());
        QTRY_VERIFY_WITH_TIMEOUT(!item->hasImage(), 1500);
        QTRY_VERIFY_WITH_TIMEOUT(item->hasImage(), 1500);
        QCOMPARE(item->image().cacheKey(), app.icon().cacheKey());

        // Stopping in the blank phase shows the icon at once.
        QTRY_VERIFY_WITH_TIMEOUT(!item->hasImage(), 1500);
        app.toggleBlink(false);
        QVERIFY(!app.blinkTimer());
        QCOMPARE(item->image().cacheKey(), app.icon().cacheKey());

        // Opening the menu stops it, and the item shows its alternate image while it is open.
        app.toggleBlink(true);
        QTRY_VERIFY_WITH_TIMEOUT(!item->hasImage(), 1500);
        app.barMenu()->popup(QPoint(5, 5));
        QVERIFY(!app.blinkTimer());
        QCOMPARE(item->image().cacheKey(), app.icon().cacheKey());
        QTRY_VERIFY(item->isHighlighted());
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
