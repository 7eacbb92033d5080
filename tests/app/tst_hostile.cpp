// Feeds and servers that mean harm or are simply broken: each leaves Pinglark running, its menu
// consistent (entries or the placeholder), its memory bounded, and nothing opened unsafely.

#include "AppHarness.h"

#include <QFile>
#include <QStringDecoder>
#include <QTcpServer>

#include <functional>

using namespace std::chrono_literals;
using Setup = std::function<void(HttpServer&)>;

namespace {

// The menu is one of the two consistent states: entries with their fields, or the placeholder
// alone at the top; the fixed items are all there.
void verifyConsistent(const AppHarness& h) {
    const QList<FeedMenuItem*> items = h.feedItems();
    QVERIFY(!items.isEmpty());
    const QList<QAction*> actions = h.app->barMenu()->actions();
    for (int i = 0; i < items.size(); ++i)
        QCOMPARE(actions.indexOf(items[i]), i);
    if (!items[0]->feedTitle()) {
        QCOMPARE(items.size(), 1);
        QCOMPARE(items[0]->text(), QStringLiteral("No Data Loaded"));
        QVERIFY(!items[0]->isEnabled());
    }
    QVERIFY(actions.contains(h.app->homeMenuItem()));
    QVERIFY(actions.contains(h.app->quitMenuItem()));
}

} // namespace

class TestHostile : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void externalEntityIsNotRead() {
        AppHarness h;
        h.server.serve(AppHarness::feedPath,
                       "<!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
                       "<rdf:RDF><item><title>&x;</title><link>http://x/1</link></item></rdf:RDF>");
        h.start();
        verifyConsistent(h);
        for (FeedMenuItem* item : h.feedItems())
            QVERIFY(!item->feedTitle().value_or(QString()).contains(u"root:"));
    }

    void unreadableFeedsLeaveThePlaceholder_data() {
        QTest::addColumn<Setup>("setup"); // none: a port that nothing listens on any more
        const QString p = AppHarness::feedPath;
        auto row = [](const char* name, const Setup& setup) {
            QTest::newRow(name) << setup;
        };
        // Ten levels of ten references each: 10^10 characters from a few hundred bytes.
        QByteArray lol = "<!DOCTYPE rdf:RDF [<!ENTITY e0 \"lol\">";
        for (int level = 1; level <= 10; ++level) {
            const QByteArray previous = "&e" + QByteArray::number(level - 1) + ";";
            lol += "<!ENTITY e" + QByteArray::number(level) + " \"" + previous.repeated(10) + "\">";
        }
        lol += "]><rdf:RDF><item><title>&e10;</title><link>http://x/1</link></item></rdf:RDF>";
        const QByteArray invalidUtf8 =
            "<rdf:RDF><item><title>caf\xC3\x28</title><link>http://x/1</link></item></rdf:RDF>";
        // XML 1.0 forbids control characters below U+0020 but tab, line feed and carriage
        // return, raw or as references.
        const QByteArray controls =
            "<rdf:RDF><item><title>bell&#7; escape\x1B[31m</title></item></rdf:RDF>";
        const QByteArray truncated = rdfFeed({entry("1"), entry("2")}).chopped(30);
        // A million nested elements inside a title: under the size cap, past the depth limit.
        const int depth = 1000000;
        const QByteArray deep = "<rdf:RDF><item><title>deep" + QByteArray("<b>").repeated(depth) +
                                "end" + QByteArray("</b>").repeated(depth) +
                                "</title><link>http://x/1</link></item></rdf:RDF>";
        for (const auto& [name, document] : {std::pair{"entity expansion bomb", lol},
                                             {"invalid UTF-8", invalidUtf8},
                                             {"forbidden control characters", controls},
                                             {"truncated", truncated},
                                             {"nested a million deep", deep}})
            row(name, [=](HttpServer& s) { s.serve(p, document); });
        row("404", [=](HttpServer& s) { s.serveStatus(p, 404, "<html>not here</html>"); });
        row("server error with a feed",
            [=](HttpServer& s) { s.serveStatus(p, 500, rdfFeed({entry("1")})); });
        row("not XML", [=](HttpServer& s) { s.serve(p, HttpServer::garbage(3000)); });
        row("HTML error page", [=](HttpServer& s) {
            s.serve(p, "<html><body><p>Oops</p></body></html>", "text/html");
        });
        row("feeds below another root", [=](HttpServer& s) {
            s.serve(p, "<page><rss><channel><item><title>t</title></item></channel></rss>"
                       "<feed><entry><title>t</title></entry></feed></page>");
        });
        row("connection refused", {});
        row("server hangs", [=](HttpServer& s) { s.hang(p); });
        row("one byte a second", [=](HttpServer& s) { s.drip(p, rdfFeed({entry("1")}), 1000ms); });
        row("100 MB body", [=](HttpServer& s) { s.serveGenerated(p, 100 * 1024 * 1024); });
        row("100 MB gzip bomb",
            [=](HttpServer& s) { s.serveGenerated(p, 100 * 1024 * 1024, true); });
        row("redirect loop", [=](HttpServer& s) {
            s.redirect(p, s.url(QStringLiteral("/other")).toEncoded());
            s.redirect(QStringLiteral("/other"), s.url(p).toEncoded());
        });
        row("redirect to file:", [=](HttpServer& s) { s.redirect(p, "file:///etc/passwd"); });
    }
    void unreadableFeedsLeaveThePlaceholder() {
        QFETCH(Setup, setup);
        AppHarness h;
        QTcpServer probe;
        if (setup) {
            setup(h.server);
            h.make();
        } else {
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            const QString site = QStringLiteral("http://127.0.0.1:%1").arg(probe.serverPort());
            probe.close();
            h.app = std::make_unique<AppController>(SiteAddresses::forSite(site));
        }
        h.app->download().setDeadline(3s);
        QTest::ignoreMessage(QtWarningMsg, formatError);
        QVERIFY(h.launch(20000));
        verifyConsistent(h);
        FeedMenuItem* placeholder = h.feedItems().at(0);
        QVERIFY(!placeholder->feedTitle() && !placeholder->feedLink() &&
                !placeholder->feedSource());
        QVERIFY(placeholder->icon().isNull());
        QVERIFY(h.app->firstCheck());
        QVERIFY(!h.app->lastItemHash());
    }

    void titlesShowExactlyWhateverTheyHoldAndOnlyWebLinksOpen() {
        AppHarness h;
        const QString bidi = QStringLiteral("abc\u202Egpj.exe\u202C done");
        const QString allowedControls = QStringLiteral("delete\u007F and next line\u0085 end");
        const QString longTitle = QString(10000, u'L');
        const QString mixed = QStringLiteral("snake_case & AT&T\tand\nnew line");
        QList<FeedEntry> entries = {{bidi, "http://x/1", {}},
                                    {longTitle, "http://x/2", {}},
                                    {mixed, "http://x/3", {}},
                                    {allowedControls, "http://x/4", {}},
                                    {"AT&T and Q&A\tdone", "http://x/5", {}},
                                    {"snake_case &&", "http://x/6", {}}};
        for (const char* link : {"file:///etc/passwd", "javascript:alert(1)",
                                 "data:text/html,<script>alert(1)</script>", "smb://server/share",
                                 "news.example/no-scheme", "http://", "http://bad host/"})
            entries.append({QStringLiteral("Entry"), QString::fromLatin1(link), {}});
        h.serveFeed(entries);
        h.start();
        const QList<FeedMenuItem*> items = h.feedItems();
        QCOMPARE(items.size(), 13);
        QCOMPARE(*items[0]->feedTitle(), bidi);
        QCOMPARE(*items[1]->feedTitle(), longTitle);
        QCOMPARE(items[1]->title(), QString(35, u'L') + QStringLiteral("..."));
        QCOMPARE(*items[2]->feedTitle(), mixed);
        QCOMPARE(items[2]->text(), QStringLiteral("snake_case && AT&&T and\nnew line"));
        QCOMPARE(*items[3]->feedTitle(), allowedControls);
        // No mnemonic, no shortcut column: Qt's menu shows the text as written.
        QCOMPARE(items[4]->title(), QStringLiteral("AT&T and Q&A\tdone"));
        QCOMPARE(items[4]->text(), QStringLiteral("AT&&T and Q&&A done"));
        QCOMPARE(items[4]->iconText(), QStringLiteral("AT&T and Q&A done"));
        QVERIFY(items[4]->shortcut().isEmpty() && items[2]->shortcut().isEmpty());
        QCOMPARE(items[5]->text(), QStringLiteral("snake_case &&&&"));

        // Links that are not web addresses are never handed to the desktop.
        UrlRecorder urls;
        for (FeedMenuItem* item : items.mid(6))
            item->trigger();
        QVERIFY2(urls.opened.isEmpty(), qPrintable(urls.opened.value(0).toString()));
        // Blanks around an address, as indented feeds have them, are not part of it.
        h.serveFeed({{"Indented", "\n      http://news.example/indented\n    ", {}}});
        QVERIFY(h.refresh());
        h.feedItems().at(0)->trigger();
        QCOMPARE(urls.opened, QList<QUrl>({QUrl("http://news.example/indented")}));
    }

    void encodings_data() {
        QTest::addColumn<QByteArray>("document");
        const QString doc = QStringLiteral(
            "<?xml version=\"1.0\" encoding=\"%1\"?><rdf:RDF><item><title>Caffè è già "
            "pronto</title><link>http://x/1</link><dc:creator>Niccolò</dc:creator></item>"
            "</rdf:RDF>");
        QStringEncoder utf16(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom);
        QTest::newRow("UTF-16") << QByteArray(utf16(doc.arg(QStringLiteral("UTF-16"))));
        QTest::newRow("ISO-8859-1") << doc.arg(QStringLiteral("ISO-8859-1")).toLatin1();
    }
    void encodings() {
        QFETCH(QByteArray, document);
        AppHarness h;
        h.server.serve(AppHarness::feedPath, document);
        h.start();
        QCOMPARE(h.feedItems().size(), 1);
        QCOMPARE(*h.feedItems().at(0)->feedTitle(), QStringLiteral("Caffè è già pronto"));
        QCOMPARE(*h.feedItems().at(0)->feedSource(), QStringLiteral("Niccolò"));
    }

    void feedSwitchingBetweenGzipAndPlain() {
        AppHarness h;
        HttpServer::Response response;
        response.body = rdfFeed({entry("1"), entry("2")});
        for (int round = 0; round < 4; ++round) {
            response.gzip = round % 2 == 0;
            h.server.setRoute(AppHarness::feedPath, response);
            if (round == 0)
                h.start();
            else
                QVERIFY(h.refresh());
            QCOMPARE(h.links(), QStringList({"http://news.example/1", "http://news.example/2"}));
            QCOMPARE(h.marks(), QStringList({"blank", "blank"}));
        }
    }
};

QTEST_MAIN(TestHostile)
#include "tst_hostile.moc"
