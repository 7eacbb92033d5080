#include "FeedDownload.h"
#include "FeedFixture.h"
#include "HttpServer.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace std::chrono_literals;

namespace {

const QString feedPath = QStringLiteral("/notifications/veltrano.xml");

using Error = DownloadResult::Error;

struct Outcome : DownloadResult {
    int emissions = 0;
};

// Runs one fetch to its end and reports what finished() said, and how often.
Outcome fetch(FeedDownload& download, const QUrl& url) {
    QSignalSpy spy(&download, &FeedDownload::finished);
    if (!download.start(url) || !spy.wait(10000))
        return {};
    QCoreApplication::processEvents(); // a second emission would be queued behind the first
    return {spy.at(0).at(0).value<DownloadResult>(), int(spy.count())};
}

} // namespace

Q_DECLARE_METATYPE(HttpServer::Response)

class TestFeedDownload : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        m_server = std::make_unique<HttpServer>();
        QVERIFY(m_server->listen());
        m_feed = FeedFixture::rdf(FeedFixture::numbered(3));
    }
    void cleanup() { m_server.reset(); }

    void fetchesWhateverTheServerSendsWithOurHeaders() {
        // Any bytes a server sends, after a redirect: whether they are a feed is for the parser.
        const QByteArray garbage = HttpServer::garbage(4096);
        m_server->redirect(feedPath, "/feeds/moved.rdf", 301);
        m_server->serve("/feeds/moved.rdf", garbage, "application/octet-stream");
        FeedDownload download;
        const Outcome outcome = fetch(download, m_server->url(feedPath));
        QCOMPARE(outcome.emissions, 1);
        QCOMPARE(outcome.body, garbage);
        QCOMPARE(outcome.url, m_server->url("/feeds/moved.rdf"));
        QCOMPARE(m_server->requestCount(), 2);
        for (const HttpServer::Request& request : m_server->requests())
            QVERIFY(request.method == "GET" &&
                    request.header("User-Agent").startsWith("Pinglark/") &&
                    request.header("Accept-Encoding").contains("gzip") &&
                    !request.hasHeader("If-None-Match") && !request.hasHeader("If-Modified-Since"));

        // The charset the Content-Type names, however it is written.
        for (const auto& [type, charset] : QList<QPair<QByteArray, QByteArray>>{
                 {"text/xml; charset=\"Shift_JIS\"", "Shift_JIS"},
                 {"application/xml;Charset=utf-8 ;q=1", "utf-8"},
                 {"text/xml; a=\"b\\\"; charset=x\"; CHARSET=koi8-r", "koi8-r"},
                 {"text/xml", ""}}) {
            m_server->serve(feedPath, {}, type);
            const Outcome typed = fetch(download, m_server->url(feedPath));
            QVERIFY2(typed.body == QByteArray() && typed.charset == charset, type);
        }
    }

    void failures_data() {
        QTest::addColumn<HttpServer::Response>("response"); // what the feed's address answers
        QTest::addColumn<QString>("url"); // fetched instead; %2 a closed port, %3 a plain server
        QTest::addColumn<Error>("error");
        QTest::addColumn<QString>("cause"); // how the cause begins
        const auto row = [](const char* name, const HttpServer::Response& response, Error error,
                            const char* cause, const char* url = "") {
            QTest::newRow(name) << response << QString::fromUtf8(url) << error
                                << QString::fromUtf8(cause);
        };
        const auto redirect = [](int status, const QByteArray& location) {
            return HttpServer::Response{.status = status, .headers = {{"Location", location}}};
        };
        row("corrupt gzip",
            {.raw = "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 40\r\n\r\n" +
                    HttpServer::garbage(40)},
            Error::Network, "could not unpack the compressed document");
        // What a server says goes to the log and the tooltip on one plain line.
        row("control characters in the status line",
            {.raw = "HTTP/1.1 502 Bad\x1b[2J Gate\x07way\r\nContent-Length: 0\r\n\r\n"},
            Error::HttpStatus, "HTTP 502 Bad [2J Gate way");
        row("connection refused", {}, Error::ConnectionRefused, "connection refused",
            "http://127.0.0.1:%2/");
        row("host not found", {}, Error::HostNotFound, "host not found: veltrano.invalid",
            "http://veltrano.invalid/feed.xml");
        row("TLS to a server that speaks plain HTTP", {}, Error::Tls,
            "TLS: ", "https://127.0.0.1:%3/");
        row("redirect to file", redirect(301, "file:///etc/passwd"), Error::Redirect,
            "redirect to file:///etc/passwd refused");
        row("redirect loop", redirect(302, feedPath.toUtf8()), Error::Redirect,
            "redirect loop at http://127.0.0.1:");
        row("redirect without location", {.status = 302}, Error::Redirect,
            "HTTP 302 Found without a target");
        row("start with a file URL", {}, Error::NotHttp, "not a web address: file:///",
            "file:///etc/passwd");
        row("304 without a remembered body", {.status = 304}, Error::HttpStatus,
            "HTTP 304 Not Modified without an earlier copy");
    }
    void failures() {
        QFETCH(HttpServer::Response, response);
        QFETCH(QString, url);
        QFETCH(Error, error);
        QFETCH(QString, cause);
        m_server->setRoute(feedPath, response);
        QTcpServer closed, plain; // a port nothing listens on; a server that speaks plain HTTP
        QVERIFY(closed.listen(QHostAddress::LocalHost) && plain.listen(QHostAddress::LocalHost));
        closed.close();
        connect(&plain, &QTcpServer::newConnection, &plain,
                [&] { plain.nextPendingConnection()->write("HTTP/1.1 400 Bad Request\r\n\r\n"); });
        if (url.isEmpty())
            url = m_server->url(feedPath).toString();
        url.replace("%2", QString::number(closed.serverPort()))
            .replace("%3", QString::number(plain.serverPort()));

        // Each ends at once, with one answer: within the fetch's wait, far below the deadline.
        FeedDownload download;
        const Outcome outcome = fetch(download, QUrl(url));
        QVERIFY(outcome.emissions == 1 && !outcome.body);
        QCOMPARE(outcome.error, error);
        QVERIFY2(!outcome.cause.isEmpty() && outcome.cause.startsWith(cause),
                 qUtf8Printable(outcome.cause));
        QVERIFY(!download.isRunning());
    }

    // Bytes still coming do not hold off the deadline.
    void deadline() {
        m_server->drip(feedPath, m_feed, 50ms);
        FeedDownload download;
        download.setDeadline(1500ms);
        QElapsedTimer clock;
        clock.start();
        const Outcome outcome = fetch(download, m_server->url(feedPath));
        const qint64 elapsed = clock.elapsed();
        QVERIFY(outcome.emissions == 1 && !outcome.body && outcome.error == Error::Deadline);
        QCOMPARE(outcome.cause, QStringLiteral("no complete answer within 1.5 s"));
        QVERIFY2(elapsed >= 1400 && elapsed < 4000, QByteArray::number(elapsed).constData());
        QVERIFY(m_server->lastRequest()->bodyBytesSent > 5);
        // The connection is dropped, not left to the server.
        QTRY_VERIFY(m_server->lastRequest()->closedByClient);
    }

    void sizeCap_data() {
        QTest::addColumn<qint64>("cap");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("gzip");
        QTest::addColumn<bool>("chunked"); // no length announced: counted while reading
        QTest::addColumn<bool>("accepted");
        QTest::newRow("exactly the cap") << mib << mib << false << false << true;
        QTest::newRow("unannounced, one byte over") << mib << mib + 1 << false << true << false;
        QTest::newRow("gzip, one byte over unpacked") << mib << mib + 1 << true << true << false;
        QTest::newRow("default cap, 100 MB unannounced")
            << qint64(-1) << qint64(100 * 1000 * 1000) << false << true << false;
    }
    void sizeCap() {
        QFETCH(qint64, cap);
        QFETCH(qint64, size);
        QFETCH(bool, gzip);
        QFETCH(bool, chunked);
        QFETCH(bool, accepted);
        m_server->serveGenerated(feedPath, size, gzip, chunked);

        FeedDownload download;
        if (cap > 0)
            download.setMaximumSize(cap);
        const Outcome outcome = fetch(download, m_server->url(feedPath));
        QCOMPARE(outcome.emissions, 1);
        QCOMPARE(outcome.body.value_or(QByteArray()).size(), accepted ? size : 0);
        if (accepted)
            return;
        QCOMPARE(outcome.error, Error::TooLarge);
        QCOMPARE(outcome.cause,
                 QStringLiteral("the document is larger than %1 MiB").arg(cap > 0 ? cap / mib : 8));
        // Stopped early: the client closed the connection long before the body was through.
        QTRY_VERIFY(m_server->lastRequest()->completed || m_server->lastRequest()->closedByClient);
        if (size > 8 * mib)
            QVERIFY(m_server->lastRequest()->closedByClient &&
                    m_server->lastRequest()->bodyBytesSent < size / 4);
    }

    // Validators: the same document again is asked for conditionally and handed back whole; a
    // copy is kept on disk for the next run, where one that cannot be used is no failure (and
    // nothing to log).
    void conditionalGetKeptAcrossRuns_data() {
        QTest::addColumn<QByteArray>("etag");
        QTest::addColumn<QByteArray>("lastModified");
        QTest::addColumn<QString>("damage");   // done to the kept copy between two runs
        QTest::addColumn<int>("requests");     // what the next run's fetch asks
        QTest::addColumn<bool>("conditional"); // whether it asks conditionally first
        const QByteArray etag = "\"v1\"";
        const QByteArray date = "Tue, 11 Jun 2024 08:30:00 GMT";
        QTest::newRow("ETag, sound") << etag << QByteArray() << "" << 1 << true;
        QTest::newRow("date, truncated") << QByteArray() << date << "truncated" << 1 << false;
        QTest::newRow("both, body damaged") << etag << date << "body" << 2 << true;
        QTest::newRow("ETag, another address's") << etag << QByteArray() << "foreign" << 1 << false;
    }
    void conditionalGetKeptAcrossRuns() {
        QFETCH(QByteArray, etag);
        QFETCH(QByteArray, lastModified);
        QFETCH(QString, damage);
        QFETCH(int, requests);
        QFETCH(bool, conditional);
        QTest::failOnWarning(QRegularExpression("."));
        QTemporaryDir home;
        const QString folder = home.path() + "/Pinglark";
        HttpServer::Response response{.body = m_feed, .etag = etag, .lastModified = lastModified};
        response.contentType = "text/xml; charset=\"Shift_JIS\"";
        m_server->setRoute(feedPath, response);
        QUrl url = m_server->url(feedPath);
        auto download = std::make_unique<FeedDownload>();
        download->setCacheDirectory(folder);
        // The last request as one line: its validators, and how much body it was sent.
        const auto asked = [&] {
            const auto request = m_server->lastRequest();
            return request->header("If-None-Match") + '|' + request->header("If-Modified-Since") +
                   '|' + QByteArray::number(request->bodyBytesSent);
        };
        QCOMPARE(fetch(*download, url).body, m_feed);
        const Outcome notModified = fetch(*download, url); // keeps what the body came with
        QVERIFY(notModified.body == m_feed && notModified.url == url &&
                notModified.charset == "Shift_JIS");
        QCOMPARE(asked(), etag + '|' + lastModified + "|0");

        // A changed document comes through, and its validators replace the old ones.
        response.body = FeedFixture::rdf(FeedFixture::numbered(4, 0));
        response.etag = etag.isEmpty() ? etag : "\"v2\"";
        response.lastModified =
            lastModified.isEmpty() ? lastModified : "Wed, 12 Jun 2024 09:00:00 GMT";
        m_server->setRoute(feedPath, response);
        QCOMPARE(fetch(*download, url).body, response.body);
        QCOMPARE(fetch(*download, url).body, response.body);
        QCOMPARE(asked(), response.etag + '|' + response.lastModified + "|0");
        // Another address is not asked conditionally with this one's validators, and this one's
        // copy goes once it is fetched (nothing else in the folder does).
        const FeedCache cache(folder);
        QFile notes(folder + "/notes.txt");
        QVERIFY(notes.open(QIODevice::WriteOnly));
        m_server->serve("/other.rdf", m_feed);
        QCOMPARE(fetch(*download, m_server->url("/other.rdf")).body, m_feed);
        QCOMPARE(asked(), "||" + QByteArray::number(m_feed.size()));
        QVERIFY(!QFile::exists(cache.filePath(url)) && notes.exists());
        QCOMPARE(fetch(*download, url).body, response.body);

        // The copy kept for the next run is for its owner's eyes only.
        download.reset();
        QFile file(cache.filePath(url));
        QCOMPARE(int(file.permissions()), 0x6600); // read and write, for the owner alone
        QCOMPARE(int(QFile::permissions(folder)), 0x7700);
        if (damage == "truncated") {
            QVERIFY(file.resize(file.size() - 10));
        } else if (damage == "body") {
            QVERIFY(file.open(QIODevice::ReadWrite) && file.seek(file.size() - 1));
            QVERIFY(file.putChar(~file.peek(1).at(0)));
            file.close();
        } else if (damage == "foreign") {
            url = m_server->url("/other.rdf");
            m_server->setRoute("/other.rdf", response);
            QVERIFY(file.rename(cache.filePath(url)));
        }
        m_server->clearRequests();
        FeedDownload run;
        run.setCacheDirectory(folder);
        const Outcome next = fetch(run, url);
        QVERIFY(next.body == response.body && next.charset == "Shift_JIS");
        const QList<HttpServer::Request> all = m_server->requests();
        QCOMPARE(all.size(), requests);
        QCOMPARE(all[0].header("If-None-Match") + all[0].header("If-Modified-Since"),
                 conditional ? response.etag + response.lastModified : "");
        QVERIFY(!all.last().hasHeader("If-None-Match") || all.last().bodyBytesSent == 0);
        // Whatever the file held, it holds the last good answer again.
        QCOMPARE(cache.body(url, {response.etag, response.lastModified}, 1 << 20), response.body);
    }

    void oneFetchAtATime() {
        m_server->hang(feedPath);
        FeedDownload download;
        download.setDeadline(300ms);
        QSignalSpy spy(&download, &FeedDownload::finished);
        QVERIFY(download.start(m_server->url(feedPath)));
        QVERIFY(download.isRunning());
        QVERIFY(!download.start(m_server->url(feedPath)));
        QVERIFY(spy.wait(3000));
        QCOMPARE(m_server->requestCount(), 1);

        // The next fetch may start from the slot that receives the result.
        m_server->serve(feedPath, m_feed);
        std::optional<QByteArray> second;
        connect(&download, &FeedDownload::finished, this, [&](const DownloadResult& result) {
            if (spy.count() == 2)
                QVERIFY(download.start(m_server->url(feedPath)));
            else
                second = result.body;
        });
        QVERIFY(download.start(m_server->url(feedPath)));
        QTRY_COMPARE(second, m_feed);
        QCOMPARE(spy.count(), 3);
    }

    void destroyedWhileFetching() {
        m_server->hang(feedPath);
        auto download = std::make_unique<FeedDownload>();
        QSignalSpy spy(download.get(), &FeedDownload::finished);
        QVERIFY(download->start(m_server->url(feedPath)));
        QTRY_COMPARE(m_server->requestCount(), 1);
        download.reset();
        QTRY_VERIFY(m_server->lastRequest()->closedByClient);
        QCOMPARE(spy.count(), 0);
    }

private:
    std::unique_ptr<HttpServer> m_server;
    QByteArray m_feed;
    static constexpr qint64 mib = 1024 * 1024;
};

QTEST_GUILESS_MAIN(TestFeedDownload)
#include "tst_feeddownload.moc"
