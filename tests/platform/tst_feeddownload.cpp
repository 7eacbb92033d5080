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

struct Outcome {
    int emissions = 0;
    std::optional<QByteArray> body;
    Error error = Error::None;
    QString cause;
};

// Runs one fetch to its end and reports what finished() said, and how often.
Outcome fetch(FeedDownload& download, const QUrl& url, std::chrono::milliseconds wait = 10s) {
    QSignalSpy spy(&download, &FeedDownload::finished);
    if (!download.start(url))
        return {};
    if (!spy.wait(int(wait.count())))
        return {};
    QTest::qWait(20); // a second emission would come right after the first
    const auto result = spy.at(0).at(0).value<DownloadResult>();
    return {int(spy.count()), result.body, result.error, result.cause};
}

quint16 closedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

// Waits until the server has seen the end of the connection that carried request index.
bool waitForConnectionEnd(HttpServer& server, int index, std::chrono::milliseconds wait = 5s) {
    return QTest::qWaitFor(
        [&] {
            const auto requests = server.requests();
            return index < requests.size() &&
                   (requests[index].completed || requests[index].closedByClient);
        },
        int(wait.count()));
}

} // namespace

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
        m_server->serve(feedPath, m_feed);
        FeedDownload download;
        const Outcome outcome = fetch(download, m_server->url(feedPath));
        QCOMPARE(outcome.emissions, 1);
        QCOMPARE(outcome.body, m_feed);
        QVERIFY(!download.isRunning());

        const auto request = m_server->lastRequest(feedPath);
        QVERIFY(request);
        QCOMPARE(request->method, QByteArray("GET"));
        QCOMPARE(request->header("User-Agent"), FeedDownload::userAgent());
        QVERIFY(FeedDownload::userAgent().startsWith("Pinglark/"));
        QVERIFY(FeedDownload::userAgent().size() > int(sizeof("Pinglark/")));
        QVERIFY(request->header("Accept-Encoding").contains("gzip"));
        QVERIFY(!request->hasHeader("If-None-Match"));
        QVERIFY(!request->hasHeader("If-Modified-Since"));

        // Any bytes a server sends: whether they are a feed is for the parser to say.
        const QByteArray garbage = HttpServer::garbage(4096);
        m_server->serve(feedPath, garbage, "application/octet-stream");
        QCOMPARE(fetch(download, m_server->url(feedPath)).body, garbage);

        m_server->serve(feedPath, {});
        QCOMPARE(fetch(download, m_server->url(feedPath)).body, QByteArray());
    }

    void failures_data() {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<Error>("error");
        QTest::addColumn<QString>("cause"); // how the cause begins
        const auto row = [](const char* scenario, Error error, const char* cause) {
            QTest::newRow(scenario)
                << QString::fromLatin1(scenario) << error << QString::fromUtf8(cause);
        };
        row("404", Error::HttpStatus, "HTTP 404 Not Found");
        row("corrupt gzip", Error::Network, "could not unpack the compressed document");
        row("control characters in the status line", Error::HttpStatus,
            "HTTP 502 Bad [2J Gate way");
        row("not HTTP at all", Error::Network, "");
        row("connection refused", Error::ConnectionRefused, "connection refused");
        row("host not found", Error::HostNotFound, "host not found: veltrano.invalid");
        row("TLS to a server that speaks plain HTTP", Error::Tls, "TLS: ");
        row("redirect to file", Error::Redirect, "redirect to file:///etc/passwd refused");
        row("redirect to a relative file URL", Error::Redirect, "redirect to file:");
        row("redirect loop", Error::Redirect, "redirect loop at http://127.0.0.1:");
        row("redirect without location", Error::Redirect, "HTTP 302 Found without a target");
        row("start with a file URL", Error::NotHttp, "not a web address: file:///");
        row("304 without a remembered body", Error::HttpStatus,
            "HTTP 304 Not Modified without an earlier copy");
    }
    void failures() {
        QFETCH(QString, scenario);
        QFETCH(Error, error);
        QFETCH(QString, cause);
        QUrl url = m_server->url(feedPath);
        QTcpServer plainServer;
        if (scenario == QLatin1String("404")) {
            m_server->serveStatus(feedPath, 404, m_feed); // even a page that parses as a feed
        } else if (scenario == QLatin1String("corrupt gzip")) {
            m_server->setRoute(feedPath, {.raw = "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n"
                                                 "Content-Length: 40\r\n\r\n" +
                                                 HttpServer::garbage(40)});
        } else if (scenario == QLatin1String("control characters in the status line")) {
            // What a server says goes to the log and the tooltip on one plain line.
            m_server->setRoute(feedPath, {.raw = "HTTP/1.1 502 Bad\x1b[2J Gate\x07way\r\n"
                                                 "Content-Length: 0\r\n\r\n"});
        } else if (scenario == QLatin1String("not HTTP at all")) {
            m_server->setRoute(feedPath, {.raw = HttpServer::garbage(512)});
        } else if (scenario == QLatin1String("connection refused")) {
            url = QUrl(
                QStringLiteral("http://127.0.0.1:%1/notifications/veltrano.xml").arg(closedPort()));
        } else if (scenario == QLatin1String("host not found")) {
            url = QUrl(QStringLiteral("http://veltrano.invalid/notifications/veltrano.xml"));
        } else if (scenario == QLatin1String("TLS to a server that speaks plain HTTP")) {
            QVERIFY(plainServer.listen(QHostAddress::LocalHost));
            connect(&plainServer, &QTcpServer::newConnection, &plainServer, [&] {
                plainServer.nextPendingConnection()->write("HTTP/1.1 400 Bad Request\r\n\r\n");
            });
            url = QUrl(QStringLiteral("https://127.0.0.1:%1/").arg(plainServer.serverPort()));
        } else if (scenario == QLatin1String("redirect to file")) {
            m_server->redirect(feedPath, "file:///etc/passwd", 301);
        } else if (scenario == QLatin1String("redirect to a relative file URL")) {
            m_server->redirect(feedPath, "file:passwd", 302);
        } else if (scenario == QLatin1String("redirect loop")) {
            m_server->redirect(feedPath, "/elsewhere");
            m_server->redirect(QStringLiteral("/elsewhere"), m_server->url(feedPath).toEncoded());
        } else if (scenario == QLatin1String("redirect without location")) {
            m_server->serveStatus(feedPath, 302, m_feed);
        } else if (scenario == QLatin1String("start with a file URL")) {
            url = QUrl::fromLocalFile(FeedFixture::dataDir() + QStringLiteral("/veltrano.rdf"));
        } else if (scenario == QLatin1String("304 without a remembered body")) {
            m_server->serveStatus(feedPath, 304);
        }

        FeedDownload download;
        QElapsedTimer clock;
        clock.start();
        const Outcome outcome = fetch(download, url);
        QCOMPARE(outcome.emissions, 1);
        QCOMPARE(outcome.body, std::nullopt);
        QCOMPARE(outcome.error, error);
        QVERIFY2(!outcome.cause.isEmpty() && outcome.cause.startsWith(cause),
                 qUtf8Printable(outcome.cause));
        QVERIFY(!download.isRunning());
        // A failure, a redirect loop included, ends without waiting for the deadline.
        QVERIFY2(clock.elapsed() < 5000, QByteArray::number(clock.elapsed()).constData());
    }

    void deadline_data() {
        QTest::addColumn<bool>("drip");
        QTest::newRow("server never answers") << false;
        QTest::newRow("server drips one byte at a time") << true;
    }
    void deadline() {
        QFETCH(bool, drip);
        if (drip)
            m_server->drip(feedPath, m_feed, 50ms);
        else
            m_server->hang(feedPath);

        FeedDownload download;
        download.setDeadline(1500ms);
        QElapsedTimer clock;
        clock.start();
        const Outcome outcome = fetch(download, m_server->url(feedPath));
        const qint64 elapsed = clock.elapsed();
        QCOMPARE(outcome.emissions, 1);
        QCOMPARE(outcome.body, std::nullopt);
        QCOMPARE(outcome.error, Error::Deadline);
        QCOMPARE(outcome.cause, QStringLiteral("no complete answer within 1.5 s"));
        QVERIFY2(elapsed >= 1400 && elapsed < 4000, QByteArray::number(elapsed).constData());
        if (drip) // bytes were still coming when the deadline struck
            QVERIFY(m_server->lastRequest()->bodyBytesSent > 5);
        // The connection is dropped, not left to the server.
        QVERIFY(waitForConnectionEnd(*m_server, 0));
        QVERIFY(m_server->lastRequest()->closedByClient);
    }

    void sizeCap_data() {
        QTest::addColumn<qint64>("cap");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("gzip");
        QTest::addColumn<bool>("chunked"); // no length announced: counted while reading
        QTest::addColumn<bool>("accepted");
        const qint64 mib = 1024 * 1024;
        const qint64 hundredMB = 100 * 1000 * 1000;
        QTest::newRow("exactly the cap") << mib << mib << false << false << true;
        QTest::newRow("one byte over") << mib << mib + 1 << false << false << false;
        QTest::newRow("unannounced, exactly the cap") << mib << mib << false << true << true;
        QTest::newRow("unannounced, one byte over") << mib << mib + 1 << false << true << false;
        QTest::newRow("gzip, exactly the cap unpacked") << mib << mib << true << true << true;
        QTest::newRow("gzip, one byte over unpacked") << mib << mib + 1 << true << true << false;
        QTest::newRow("default cap, 100 MB") << qint64(-1) << hundredMB << false << false << false;
        QTest::newRow("default cap, 100 MB unannounced")
            << qint64(-1) << hundredMB << false << true << false;
        QTest::newRow("default cap, 8 MiB") << qint64(-1) << 8 * mib << false << true << true;
        QTest::newRow("default cap, gzip of 64 MiB")
            << qint64(-1) << 64 * mib << true << true << false;
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
        QCOMPARE(outcome.body.has_value(), accepted);
        if (accepted) {
            QCOMPARE(outcome.body->size(), size);
            QVERIFY(outcome.body->startsWith("Pinglark test filler"));
            return;
        }
        // Past 10 MiB unpacked, Qt's own check against gzip bombs may stop the body first.
        if (!(gzip && size > 10 * 1024 * 1024 && outcome.error == Error::Network)) {
            QCOMPARE(outcome.error, Error::TooLarge);
            QCOMPARE(outcome.cause, QStringLiteral("the document is larger than %1 MiB")
                                        .arg(cap > 0 ? cap / (1024 * 1024) : 8));
        }
        // Stopped early: the client closed the connection long before the body was through.
        QVERIFY(waitForConnectionEnd(*m_server, 0));
        const auto request = m_server->lastRequest();
        if (size >= 100 * 1000 * 1000) {
            QVERIFY(request->closedByClient);
            QVERIFY2(request->bodyBytesSent < size / 4,
                     QByteArray::number(request->bodyBytesSent).constData());
        }
    }

    void followsRedirects_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("absolute");
        QTest::newRow("301, absolute") << 301 << true;
        QTest::newRow("302, relative") << 302 << false;
    }
    void followsRedirects() {
        QFETCH(int, status);
        QFETCH(bool, absolute);
        const QString target = QStringLiteral("/feeds/moved.rdf");
        m_server->redirect(feedPath, absolute ? m_server->url(target).toEncoded() : target.toUtf8(),
                           status);
        m_server->serve(target, m_feed);

        FeedDownload download;
        QCOMPARE(fetch(download, m_server->url(feedPath)).body, m_feed);
        QCOMPARE(m_server->requestCount(feedPath), 1);
        QCOMPARE(m_server->requestCount(target), 1);
        QCOMPARE(m_server->lastRequest(target)->header("User-Agent"), FeedDownload::userAgent());
    }

    void conditionalGet_data() {
        QTest::addColumn<QByteArray>("etag");
        QTest::addColumn<QByteArray>("lastModified");
        QTest::newRow("ETag") << QByteArray("\"v1\"") << QByteArray();
        QTest::newRow("Last-Modified")
            << QByteArray() << QByteArray("Tue, 11 Jun 2024 08:30:00 GMT");
        QTest::newRow("both") << QByteArray("W/\"v1\"")
                              << QByteArray("Tue, 11 Jun 2024 08:30:00 GMT");
    }
    void conditionalGet() {
        QFETCH(QByteArray, etag);
        QFETCH(QByteArray, lastModified);
        HttpServer::Response response{.body = m_feed,
                                      .contentType = "application/rdf+xml",
                                      .etag = etag,
                                      .lastModified = lastModified};
        m_server->setRoute(feedPath, response);

        FeedDownload download;
        const QUrl url = m_server->url(feedPath);
        QCOMPARE(fetch(download, url).body, m_feed);

        // The same document again: asked conditionally, answered 304, handed back whole.
        const Outcome second = fetch(download, url);
        QCOMPARE(second.emissions, 1);
        QCOMPARE(second.body, m_feed);
        const auto request = m_server->lastRequest(feedPath);
        QCOMPARE(request->header("If-None-Match"), etag);
        QCOMPARE(request->header("If-Modified-Since"), lastModified);
        QCOMPARE(request->bodyBytesSent, 0);

        // A changed document comes through, and its validators replace the old ones.
        const QByteArray changed = FeedFixture::rdf(FeedFixture::numbered(4, 0));
        response.body = changed;
        response.etag = etag.isEmpty() ? QByteArray() : QByteArray("\"v2\"");
        response.lastModified =
            lastModified.isEmpty() ? QByteArray() : QByteArray("Wed, 12 Jun 2024 09:00:00 GMT");
        m_server->setRoute(feedPath, response);
        QCOMPARE(fetch(download, url).body, changed);
        QCOMPARE(fetch(download, url).body, changed);
        QCOMPARE(m_server->lastRequest(feedPath)->bodyBytesSent, 0);

        // Another address is not asked conditionally with this one's validators.
        const QString other = QStringLiteral("/other.rdf");
        m_server->serve(other, m_feed);
        QCOMPARE(fetch(download, m_server->url(other)).body, m_feed);
        QVERIFY(!m_server->lastRequest(other)->hasHeader("If-None-Match"));
        QVERIFY(!m_server->lastRequest(other)->hasHeader("If-Modified-Since"));
    }

    void keptAcrossRuns_data() {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<int>("requests");     // what the next run's fetch asks
        QTest::addColumn<bool>("conditional"); // whether it asks conditionally first
        QTest::newRow("sound") << "" << 1 << true;
        QTest::newRow("truncated") << "truncated" << 1 << false;
        QTest::newRow("body damaged") << "body" << 2 << true;
        QTest::newRow("another address's entry") << "foreign" << 1 << false;
        QTest::newRow("not an entry at all") << "garbage" << 1 << false;
    }
    void keptAcrossRuns() {
        QFETCH(QString, damage);
        QFETCH(int, requests);
        QFETCH(bool, conditional);
        // A cache that cannot be used is no failure, and nothing to log.
        QTest::failOnWarning(QRegularExpression("."));
        QTemporaryDir home;
        const QString folder = home.path() + "/Pinglark";
        const FeedCache::Validators validators{"\"v1\"", "Tue, 11 Jun 2024 08:30:00 GMT"};
        QUrl url = m_server->url(feedPath);
        m_server->setRoute(
            feedPath,
            {.body = m_feed, .etag = validators.etag, .lastModified = validators.lastModified});
        {
            FeedDownload run;
            run.setCacheDirectory(folder);
            QCOMPARE(fetch(run, url).body, m_feed);
        }
        const FeedCache cache(folder);
        QFile file(cache.filePath(url));
        const auto ownerOnly =
            QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;
        QCOMPARE(file.permissions(), ownerOnly);
        QCOMPARE(QFile::permissions(folder), ownerOnly | QFile::ExeOwner | QFile::ExeUser);

        if (damage == "truncated") {
            QVERIFY(file.resize(file.size() - 10));
        } else if (damage == "body") {
            QVERIFY(file.open(QIODevice::ReadWrite) && file.seek(file.size() - 1));
            QVERIFY(file.putChar(~file.peek(1).at(0)));
            file.close();
        } else if (damage == "foreign") {
            url = m_server->url("/other.rdf");
            m_server->setRoute("/other.rdf", *m_server->route(feedPath));
            QVERIFY(file.rename(cache.filePath(url)));
        } else if (damage == "garbage") {
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(HttpServer::garbage(300));
            file.close();
        }

        m_server->clearRequests();
        FeedDownload run;
        run.setCacheDirectory(folder);
        QCOMPARE(fetch(run, url).body, m_feed);
        const QList<HttpServer::Request> asked = m_server->requests();
        QCOMPARE(asked.size(), requests);
        QCOMPARE(asked[0].header("If-None-Match"), conditional ? validators.etag : "");
        QCOMPARE(asked[0].header("If-Modified-Since"), conditional ? validators.lastModified : "");
        QVERIFY(!asked.last().hasHeader("If-None-Match") || asked.last().bodyBytesSent == 0);
        // Whatever the file held, it holds the last good answer again.
        QCOMPARE(cache.body(url, validators, 1 << 20), m_feed);
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
        QTest::qWait(400); // the refused start must not have armed a second deadline
        QCOMPARE(spy.count(), 1);
        QCOMPARE(m_server->requestCount(), 1);

        // The next fetch may start from the slot that receives the result.
        m_server->serve(feedPath, m_feed);
        std::optional<QByteArray> second;
        int results = 0;
        connect(&download, &FeedDownload::finished, this, [&](const DownloadResult& result) {
            if (++results == 1)
                QVERIFY(download.start(m_server->url(feedPath)));
            else
                second = result.body;
        });
        m_server->hang(feedPath);
        QVERIFY(download.start(m_server->url(feedPath)));
        QVERIFY(QTest::qWaitFor([&] { return m_server->requestCount() == 2; }, 3000));
        m_server->serve(feedPath, m_feed);
        QVERIFY(QTest::qWaitFor([&] { return results == 2; }, 3000));
        QCOMPARE(second, m_feed);
    }

    void destroyedWhileFetching() {
        m_server->hang(feedPath);
        auto download = std::make_unique<FeedDownload>();
        QSignalSpy spy(download.get(), &FeedDownload::finished);
        QVERIFY(download->start(m_server->url(feedPath)));
        QVERIFY(QTest::qWaitFor([&] { return m_server->requestCount() == 1; }, 3000));
        download.reset();
        QVERIFY(waitForConnectionEnd(*m_server, 0));
        QVERIFY(m_server->lastRequest()->closedByClient);
        QCOMPARE(spy.count(), 0);
    }

private:
    std::unique_ptr<HttpServer> m_server;
    QByteArray m_feed;
};

QTEST_GUILESS_MAIN(TestFeedDownload)
#include "tst_feeddownload.moc"
