// Feeds and servers that mean harm or are simply broken: each leaves Pinglark running, its menu
// consistent (entries or the placeholder), its memory bounded, and nothing opened unsafely.

#include "AppHarness.h"

#include <QFile>
#include <QStringDecoder>

using namespace std::chrono_literals;

namespace {

const char* const formatError = "Invalid data feed format: RSS element not found.";

// A figure of /proc/self/status, in kB: VmHWM (peak resident memory) or VmRSS (resident now).
qint64 memoryKb(const QByteArray& field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong();
    return 0;
}
qint64 peakRssKb() {
    return memoryKb("VmHWM");
}

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
    void documentsThatMustNotParse_data() {
        QTest::addColumn<QByteArray>("document");
        // Ten levels of ten references each: 10^10 characters from a few hundred bytes.
        QByteArray lol = "<!DOCTYPE rdf:RDF [<!ENTITY e0 \"lol\">";
        for (int level = 1; level <= 10; ++level) {
            const QByteArray previous = "&e" + QByteArray::number(level - 1) + ";";
            lol += "<!ENTITY e" + QByteArray::number(level) + " \"" + previous.repeated(10) + "\">";
        }
        lol += "]><rdf:RDF><item><title>&e10;</title><link>http://x/1</link></item></rdf:RDF>";
        QTest::newRow("entity expansion bomb") << lol;
        QTest::newRow("invalid UTF-8")
            << QByteArray("<rdf:RDF><item><title>caf\xC3\x28</title><link>http://x/1</link>"
                          "</item></rdf:RDF>");
        QTest::newRow("external entity") << QByteArray(
            "<!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
            "<rdf:RDF><item><title>&x;</title><link>http://x/1</link></item></rdf:RDF>");
        QTest::newRow("truncated") << rdfFeed({entry("1"), entry("2")}).chopped(30);
    }
    void documentsThatMustNotParse() {
        QFETCH(QByteArray, document);
        AppHarness h;
        h.server.serve(AppHarness::feedPath, document);
        if (QByteArray(QTest::currentDataTag()) != "external entity")
            QTest::ignoreMessage(QtWarningMsg, formatError);
        h.start();
        verifyConsistent(h);
        for (FeedMenuItem* item : h.feedItems())
            QVERIFY(!item->feedTitle().value_or(QString()).contains(u"root:"));
    }

    void deepNesting() {
        AppHarness h;
        // A million nested elements inside a title: under the size cap, so it reaches the parser.
        const int depth = 1000000;
        QByteArray document = "<rdf:RDF><item><title>deep";
        document.reserve(depth * 7 + 200);
        for (int i = 0; i < depth; ++i)
            document += "<b>";
        document += "end";
        for (int i = 0; i < depth; ++i)
            document += "</b>";
        document += "</title><link>http://x/1</link></item></rdf:RDF>";
        QVERIFY(document.size() < 8 * 1024 * 1024);
        h.server.serve(AppHarness::feedPath, document);
        h.make();
        QSignalSpy done(h.app.get(), &AppController::refreshFinished);
        h.app->awakeFromNib();
        QVERIFY(done.wait(60000));
        verifyConsistent(h);
        if (h.feedItems().at(0)->feedTitle())
            QCOMPARE(*h.feedItems().at(0)->feedTitle(), QStringLiteral("deepend"));
    }

    void hostileServers_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("100 MB body") << "huge";
        QTest::newRow("100 MB gzip bomb") << "gzip-huge";
        QTest::newRow("one byte a second") << "drip";
        QTest::newRow("redirect loop") << "loop";
        QTest::newRow("redirect to file:") << "file";
    }
    void hostileServers() {
        QFETCH(QString, kind);
        AppHarness h;
        const QString path = AppHarness::feedPath;
        if (kind == u"huge")
            h.server.serveGenerated(path, 100 * 1024 * 1024);
        else if (kind == u"gzip-huge")
            h.server.serveGenerated(path, 100 * 1024 * 1024, true);
        else if (kind == u"drip")
            h.server.drip(path, rdfFeed({entry("1")}), 1000ms);
        else if (kind == u"loop") {
            h.server.redirect(path, h.server.url(QStringLiteral("/other")).toEncoded());
            h.server.redirect(QStringLiteral("/other"), h.server.url(path).toEncoded());
        } else if (kind == u"file")
            h.server.redirect(path, "file:///etc/passwd");

        const qint64 before = peakRssKb();
        h.make();
        h.app->download().setDeadline(3s);
        QSignalSpy done(h.app.get(), &AppController::refreshFinished);
        QTest::ignoreMessage(QtWarningMsg, formatError);
        h.app->awakeFromNib();
        QVERIFY(done.wait(20000));
        verifyConsistent(h);
        QCOMPARE(h.feedItems().at(0)->text(), QStringLiteral("No Data Loaded"));
        // The body cap bounds memory: far less than the 100 MB the server offered.
        QVERIFY2(peakRssKb() - before < 48 * 1024,
                 qPrintable(QStringLiteral("grew by %1 kB").arg(peakRssKb() - before)));
    }

    void memoryStaysFlatOverManyRefreshes() {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("AddressSanitizer keeps freed memory in quarantine; the plain build checks this");
#endif
        AppHarness h;
        h.serveFeed({entry("1"), entry("2"), entry("3")});
        AppController& app = h.start();
        const QByteArray older = rdfFeed({entry("1"), entry("2"), entry("3")});
        const QByteArray newer = rdfFeed({entry("0"), entry("1"), entry("2"), entry("3")});
        const QByteArray broken = "<rdf:RDF><item>";
        // Thousands of refreshes, a third of them failing: keep the log quiet meanwhile.
        const QtMessageHandler testLog =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        auto refreshes = [&](int count) {
            for (int i = 0; i < count; ++i) {
                app.finishRefresh(i % 3 == 0 ? broken : i % 2 ? newer : older);
                // What the event loop does between two refreshes, replaced entries freed too.
                QCoreApplication::sendPostedEvents();
                QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            }
        };
        refreshes(1000); // let allocator pools and caches settle
        const qint64 settled = memoryKb("VmRSS");
        refreshes(5000);
        qInstallMessageHandler(testLog);
        verifyConsistent(h);
        QVERIFY2(memoryKb("VmRSS") - settled < 2048,
                 qPrintable(QStringLiteral("grew by %1 kB over 5,000 refreshes")
                                .arg(memoryKb("VmRSS") - settled)));
    }

    void failedTransfersLeaveNothingBehind() {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("AddressSanitizer keeps freed memory in quarantine; the plain build checks this");
#endif
        AppHarness h;
        h.serveFeed({entry("1")});
        h.start();
        const QtMessageHandler testLog =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        // Real refreshes over the network, each failing a different way: an error status, a
        // body over the cap, a redirect loop, a server that closes without answering.
        auto refreshes = [&](int count) {
            for (int i = 0; i < count; ++i) {
                switch (i % 4) {
                case 0:
                    h.server.serveStatus(AppHarness::feedPath, 500);
                    break;
                case 1:
                    h.server.serveGenerated(AppHarness::feedPath, 9 * 1024 * 1024);
                    break;
                case 2:
                    h.server.redirect(AppHarness::feedPath,
                                      h.server.url(AppHarness::feedPath).toEncoded());
                    break;
                case 3: {
                    HttpServer::Response response;
                    response.raw = QByteArray();
                    h.server.setRoute(AppHarness::feedPath, response);
                    break;
                }
                }
                if (!h.refresh())
                    return false;
                h.server.clearRequests(); // the test server's own records
                QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            }
            return true;
        };
        QVERIFY(refreshes(200)); // let allocator pools and caches settle
        const qint64 settled = memoryKb("VmRSS");
        QVERIFY(refreshes(2000));
        qInstallMessageHandler(testLog);
        verifyConsistent(h);
        QVERIFY2(memoryKb("VmRSS") - settled < 2048,
                 qPrintable(QStringLiteral("grew by %1 kB over 2,000 failed refreshes")
                                .arg(memoryKb("VmRSS") - settled)));
    }

    void linksThatAreNotWebAddresses() {
        AppHarness h;
        const QStringList links = {"file:///etc/passwd",
                                   "javascript:alert(1)",
                                   "data:text/html,<script>alert(1)</script>",
                                   "smb://server/share",
                                   "news.example/no-scheme",
                                   "http://",
                                   "http://bad host/"};
        QList<FeedEntry> entries;
        for (const QString& link : links)
            entries.append({QStringLiteral("Entry"), link, {}});
        h.serveFeed(entries);
        h.start();
        UrlRecorder urls;
        for (FeedMenuItem* item : h.feedItems())
            item->trigger();
        QVERIFY2(urls.opened.isEmpty(), qPrintable(urls.opened.value(0).toString()));

        // Blanks around an address, as indented feeds have them, are not part of it.
        h.serveFeed({{"Indented", "\n      http://news.example/indented\n    ", {}}});
        QVERIFY(h.refresh());
        h.feedItems().at(0)->trigger();
        QCOMPARE(urls.opened, QList<QUrl>({QUrl("http://news.example/indented")}));
    }

    void titlesShowExactlyWhateverTheyHold() {
        AppHarness h;
        const QString bidi = QStringLiteral("abc\u202Egpj.exe\u202C done");
        const QString allowedControls = QStringLiteral("delete\u007F and next line\u0085 end");
        const QString longTitle = QString(10000, u'L');
        const QString mixed = QStringLiteral("snake_case & AT&T\tand\nnew line");
        QByteArray document = rdfFeed({{bidi, "http://x/1", {}},
                                       {longTitle, "http://x/2", {}},
                                       {mixed, "http://x/3", {}},
                                       {allowedControls, "http://x/4", {}}});
        h.server.serve(AppHarness::feedPath, document);
        AppController& app = h.start();
        QList<FeedMenuItem*> items = h.feedItems();
        QCOMPARE(items.size(), 4);
        QCOMPARE(*items[0]->feedTitle(), bidi);
        QCOMPARE(*items[1]->feedTitle(), longTitle);
        QCOMPARE(items[1]->title(), QString(35, u'L') + QStringLiteral("..."));
        QCOMPARE(*items[2]->feedTitle(), mixed);
        QCOMPARE(items[2]->text(), QStringLiteral("snake_case && AT&&T and\nnew line"));
        QVERIFY(items[2]->shortcut().isEmpty());
        QCOMPARE(*items[3]->feedTitle(), allowedControls);
        Q_UNUSED(app);

        // Control characters that XML 1.0 forbids (all below U+0020 but tab, line feed and
        // carriage return), raw or as references, leave the document unreadable.
        h.server.serve(AppHarness::feedPath,
                       "<rdf:RDF><item><title>bell&#7; escape\x1B[31m</title></item></rdf:RDF>");
        QTest::ignoreMessage(QtWarningMsg, formatError);
        QVERIFY(h.refresh());
        verifyConsistent(h);
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
        QTest::newRow("UTF-8") << doc.arg(QStringLiteral("UTF-8")).toUtf8();
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
