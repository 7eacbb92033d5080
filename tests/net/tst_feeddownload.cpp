#include "FeedDownload.h"
#include "HttpServer.h"

#include <QTcpServer>
#include <QtTest>

#include <memory>

using namespace std::chrono_literals;

namespace {

const QString feedPath = QStringLiteral("/feed");
constexpr qint64 mib = 1024 * 1024;

// A value of answers.txt as bytes: its quotes off, and \r, \n, \xHH as the bytes they stand for.
QByteArray bytesOf(const QString& value) {
    QByteArray bytes = (value.startsWith(u'\'') ? value.mid(1, value.size() - 2) : value).toUtf8();
    bytes.replace("\\r", "\r").replace("\\n", "\n");
    for (qsizetype i = 0; (i = bytes.indexOf("\\x", i)) >= 0; ++i)
        bytes.replace(i, 4, QByteArray(1, char(bytes.mid(i + 2, 2).toInt(nullptr, 16))));
    return bytes;
}

// A size of answers.txt: 1500, 1MiB, 1MiB+1.
qint64 sizeOf(const QString& value) {
    const QString base = value.section(u'+', 0, 0);
    return (base.endsWith("MiB") ? base.chopped(3).toLongLong() * mib : base.toLongLong()) +
           value.section(u'+', 1).toLongLong();
}

} // namespace

class TestFeedDownload : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // answers.txt: how a fetch ends for each way the server answers; a case is a line, and the
    // lines after it that begin with "then". Whatever the case, the download asks with GET, its
    // User-Agent and gzip accepted, says nothing in the log, lets no connection outlive the fetch,
    // has the server send little past the cap, and keeps on disk, for its owner's eyes only, the
    // last good answer with validators of the address it fetched and no other address's.
    void answers_data() {
        QTest::addColumn<QStringList>("steps");
        QFile table(QFileInfo(QStringLiteral(__FILE__)).absolutePath() + "/answers.txt");
        QVERIFY(table.open(QIODevice::ReadOnly | QIODevice::Text));
        const QString text = QString::fromUtf8(table.readAll());
        static const QRegularExpression cases("^(?!#|then )(.+)(\\nthen .*)*",
                                              QRegularExpression::MultilineOption);
        for (const QRegularExpressionMatch& found : cases.globalMatch(text))
            QTest::newRow(qPrintable(QStringLiteral("%1: %2")
                                         .arg(text.left(found.capturedStart()).count(u'\n') + 1)
                                         .arg(found.captured(1).simplified().left(60))))
                << found.captured().split("\nthen ");
    }
    void answers() {
        QFETCH(QStringList, steps);
        QTest::failOnWarning(QRegularExpression("."));
        HttpServer server;
        QVERIFY(server.listen());
        QTcpServer closed, plain; // a port nothing listens on; a server that speaks plain HTTP
        QVERIFY(closed.listen(QHostAddress::LocalHost) && plain.listen(QHostAddress::LocalHost));
        closed.close();
        connect(&plain, &QTcpServer::newConnection, &plain,
                [&] { plain.nextPendingConnection()->write("HTTP/1.1 400 Bad Request\r\n\r\n"); });
        const QString site = server.url("").toString();
        QTemporaryDir home;
        const QString folder = home.path() + "/Pinglark";
        const FeedCache cache(folder);
        // Something else in the folder, named like a copy.
        QVERIFY(QDir().mkpath(folder) && QFile(folder + "/notes.feed").open(QIODevice::WriteOnly));
        auto download = std::make_unique<FeedDownload>();
        download->setCacheDirectory(folder);
        std::map<QString, HttpServer::Response> routes;

        for (QString step : steps) {
            step.replace("{site}", site)
                .replace("{closed}", QString::number(closed.serverPort()))
                .replace("{plain}", QString::number(plain.serverPort()));
            QString outcome = step.section(u'|', -1).trimmed();
            QUrl url = server.url(feedPath);
            qint64 cap = 8 * mib, deadline = 30000;
            HttpServer::Response* route = &routes[feedPath];
            // Its words: name or name=value, the value 'quoted' when it holds spaces.
            static const QRegularExpression words("([^\\s=']+)(?:=('[^']*'|\\S*))?");
            for (const QRegularExpressionMatch& word :
                 words.globalMatch(step.section(u'|', 0, -2))) {
                const QString key = word.captured(1), value = word.captured(2);
                if (key.endsWith(u':'))
                    route = &routes[key.chopped(1)];
                else if (key.toInt() > 0)
                    route->status = key.toInt();
                else if (key == "ETag" || key == "Last-Modified")
                    (key == "ETag" ? route->etag : route->lastModified) = bytesOf(value);
                else if (key.front().isUpper())
                    route->headers.append({key.toUtf8(), bytesOf(value)});
                else if (key == "body" || key == "raw")
                    (key == "body" ? route->body : route->raw.emplace()) = bytesOf(value);
                else if (key == "size")
                    route->generatedSize = sizeOf(value);
                else if (key == "gzip" || key == "chunked")
                    (key == "gzip" ? route->gzip : route->chunked) = true;
                else if (key == "hang")
                    route->hang = true;
                else if (key == "drip")
                    route->dripInterval = 1ms * value.toInt();
                else if (key == "fetch")
                    url = QUrl(value);
                else if (key == "cap")
                    download->setMaximumSize(cap = sizeOf(value));
                else if (key == "deadline")
                    download->setDeadline(1ms * (deadline = value.toInt()));
                else if (key == "restart")
                    (download = std::make_unique<FeedDownload>())->setCacheDirectory(folder);
                else if (key == "kept")
                    damage(cache.filePath(url),
                           value.startsWith(u'/') ? cache.filePath(server.url(value)) : value);
                else
                    QFAIL(qPrintable("no such word: " + key));
            }
            for (const auto& [at, response] : routes)
                server.setRoute(at, response);
            server.clearRequests();

            // One answer, and only one fetch at a time.
            QSignalSpy spy(download.get(), &FeedDownload::finished);
            QElapsedTimer clock;
            clock.start();
            QVERIFY(download->start(url) && !download->start(url) && spy.wait(10000));
            QCoreApplication::processEvents(); // a second emission would be queued behind the first
            QVERIFY(spy.count() == 1 && !download->isRunning());
            const auto got = spy.at(0).at(0).value<DownloadResult>();
            // What it handed back, and what it asked with, said as the table says it.
            static const QStringList kinds = {
                "ok",       "NotHttp", "HttpStatus",   "Deadline",          "TooLarge",
                "Redirect", "Tls",     "HostNotFound", "ConnectionRefused", "Network"};
            QString said = kinds.value(int(got.error)) + (got.body ? "" : ": " + got.cause);
            if (!got.charset.isEmpty())
                said += " charset=" + got.charset;
            if (got.url != (got.body ? server.url(feedPath) : QUrl()))
                said += " from=" + got.url.toString().remove(site);
            QString asked;
            for (const HttpServer::Request& request : server.requests()) {
                const QByteArray sent =
                    request.header("If-None-Match") + ' ' + request.header("If-Modified-Since");
                asked += " asked " + (sent == " " ? "plainly" : sent.trimmed());
            }
            if (asked.count(" asked plainly") < server.requests().size())
                said += asked;
            if (outcome.endsWith(u'*'))
                said.truncate((outcome = outcome.chopped(1)).size());
            QCOMPARE(said, outcome);
            // The body its address served, unpacked.
            const HttpServer::Response served =
                got.body ? routes[got.url.path()] : HttpServer::Response();
            if (served.generatedSize < 0)
                QCOMPARE(got.body.value_or(""), served.body);
            else
                QCOMPARE(got.body->size(), served.generatedSize);
            // The deadline comes at its time, not before.
            QVERIFY(got.error != DownloadResult::Error::Deadline ||
                    clock.elapsed() >= deadline - 100);

            // Every request as the download makes them; none left open, none sent far past the cap.
            QTRY_VERIFY(std::ranges::all_of(server.requests(), [cap](const auto& request) {
                return request.method == "GET" &&
                       request.header("User-Agent").startsWith("Pinglark/") &&
                       request.header("Accept-Encoding").contains("gzip") &&
                       (request.completed || request.closedByClient) &&
                       request.bodyBytesSent < cap + 16 * mib;
            }));
            // The copy kept on disk: the last good answer, when it has validators.
            const QString copy = cache.filePath(url);
            const bool validated = !(served.etag + served.lastModified).isEmpty();
            QVERIFY(!got.body || QFile::exists(copy) == validated);
            QCOMPARE(cache.body(url, {served.etag, served.lastModified}, cap),
                     validated ? got.body : std::nullopt);
            QVERIFY(!QFile::exists(copy) || (int(QFile::permissions(copy)) == 0x6600 &&
                                             int(QFile::permissions(folder)) == 0x7700));
            QStringList kept = QDir(folder).entryList({"*.feed"});
            kept.removeOne(QFileInfo(copy).fileName());
            QCOMPARE(kept, QStringList{"notes.feed"});
        }
    }

    // The next fetch may start from the slot that receives the result; a fetch cancelled, or in
    // flight when the download goes, hands nothing back and drops its connection.
    void startedFromTheSlotCancelledOrDestroyed() {
        HttpServer server;
        QVERIFY(server.listen());
        const QUrl url = server.url(feedPath);
        server.serve(feedPath, "<rdf:RDF/>");
        auto download = std::make_unique<FeedDownload>();
        QSignalSpy spy(download.get(), &FeedDownload::finished);
        connect(download.get(), &FeedDownload::finished, this, [&] {
            server.hang(feedPath);
            QVERIFY(download->start(url));
        });
        QVERIFY(download->start(url));
        for (int i = 2; i <= 3; ++i) {
            QTRY_COMPARE(server.requestCount(feedPath), i);
            i == 2 ? download->cancel() : download.reset();
            QTRY_VERIFY(server.lastRequest()->closedByClient);
            QVERIFY(i == 3 || (!download->isRunning() && download->start(url)));
        }
        QCOMPARE(spy.count(), 1);
    }

private:
    // Damages the copy kept in file: "truncated", "flipped" (its last byte), or renamed to this.
    static void damage(const QString& file, const QString& how) {
        QFile copy(file);
        if (how == "truncated")
            QVERIFY(copy.resize(copy.size() - 10));
        else if (how == "flipped")
            QVERIFY(copy.open(QIODevice::ReadWrite) && copy.seek(copy.size() - 1) &&
                    copy.putChar(char(~copy.peek(1).at(0))));
        else
            QVERIFY(copy.rename(how));
    }
};

QTEST_GUILESS_MAIN(TestFeedDownload)
#include "tst_feeddownload.moc"
