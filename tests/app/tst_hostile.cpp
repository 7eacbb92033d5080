// Feeds and servers that mean harm or are simply broken: each leaves Pinglark running with the
// placeholder in its menu, and nothing a feed says is opened unsafely. (How the download and the
// parser stand up to each kind of attack, their own suites show.)

#include "AppHarness.h"

class TestHostile : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void noEntriesShowThePlaceholder_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<bool>("read"); // whether the feed was read: the first check is over
        QTest::newRow("404") << 404 << QByteArray("<html>not here</html>") << false;
        QTest::newRow("feeds below another root")
            << 200
            << QByteArray("<page><rss><channel><item><title>t</title></item></channel></rss>"
                          "<feed><entry><title>t</title></entry></feed></page>")
            << false;
        QTest::newRow("all untitled")
            << 200 << FeedFixture::rdf({{{}, "http://x/1", {}}, {{}, "http://x/2", {}}}) << true;
        QTest::newRow("empty feed element") << 200 << QByteArray("<rdf:RDF/>") << true;
    }
    void noEntriesShowThePlaceholder() {
        QFETCH(int, status);
        QFETCH(QByteArray, document);
        QFETCH(bool, read);
        AppHarness h;
        h.server.serveStatus(AppHarness::feedPath, status, document);
        if (!read)
            QTest::ignoreMessage(QtWarningMsg, formatError);
        if (status != 200)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Could not update the feed"));
        AppController& app = h.start();
        const QList<FeedMenuItem*> items = h.feedItems();
        QCOMPARE(items.size(), 1);
        QCOMPARE(app.barMenu()->actions().indexOf(items[0]), 0);
        QCOMPARE(items[0]->text(), QStringLiteral("No Data Loaded"));
        QVERIFY(!items[0]->isEnabled() && items[0]->icon().isNull());
        QCOMPARE(app.firstCheck(), !read);
        // Once the feed has been read, a top link where none was recorded counts as new.
        QCOMPARE(h.after({entry("1")}), read ? "new blinking" : "blank");
    }

    void titlesShowExactlyWhateverTheyHoldAndOnlyWebLinksOpen() {
        AppHarness h({{"snake_case & AT&T\tand\nnew line", "http://x/2", {}},
                      {"Entry", "file:///etc/passwd", {}},
                      {"Entry", "javascript:alert(1)", {}}});
        h.start();
        const QList<FeedMenuItem*> items = h.feedItems();
        // No mnemonic, no shortcut column: Qt's menu shows the text as written.
        QCOMPARE(items[0]->title() + '|' + items[0]->text(),
                 "snake_case & AT&T\tand\nnew line|snake_case && AT&&T and\nnew line");

        // Links that are not web addresses are never handed to the desktop; blanks around an
        // address, as indented feeds have them, are not part of it.
        UrlRecorder urls;
        items[1]->trigger();
        items[2]->trigger();
        QVERIFY2(urls.opened.isEmpty(), qPrintable(urls.opened.value(0).toString()));
        h.after({{"Indented", "\n      http://news.example/indented\n    ", {}}});
        h.feedItems().at(0)->trigger();
        QCOMPARE(urls.opened, QList<QUrl>({QUrl("http://news.example/indented")}));
    }
};

QTEST_MAIN(TestHostile)
#include "tst_hostile.moc"
