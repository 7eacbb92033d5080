#pragma once

#include <QHash>
#include <QObject>
#include <QUrl>

#include <chrono>
#include <memory>
#include <optional>

class QHttpServerResponder;

// A small HTTP/1.1 server on 127.0.0.1 for tests and the demo feed server, on Qt HTTP Server. It
// runs on the event loop of the thread that owns it (no threads of its own), serves one Response
// per path and can misbehave on request: any status, garbage, a connection that never answers, a
// body dripped one byte at a time, a generated body of any size streamed without holding it in
// memory, redirects, validators with 304 answers, gzip. Every request is recorded.
//
// Qt HTTP Server reads the requests and writes the status lines and headers; the misbehaving
// answers are written on the connection it hands over. Each connection serves one request and is
// closed ("Connection: close"), and a route may be replaced between requests: the next request
// sees it.
class HttpServer : public QObject {
    Q_OBJECT
public:
    using Headers = QList<QPair<QByteArray, QByteArray>>;

    struct Response {
        int status = 200; // one that QHttpServerResponder::StatusCode names
        QByteArray body;
        QByteArray contentType; // no Content-Type header when empty
        Headers headers;        // extra headers, sent as given

        // Validators. When set they are sent with the response, and a request that sends the
        // ETag back in If-None-Match (or, without one, the date in If-Modified-Since) gets
        // "304 Not Modified" with no body.
        QByteArray etag;         // with its quotes, e.g. "\"v1\""
        QByteArray lastModified; // an HTTP date, e.g. "Sun, 06 Nov 1994 08:49:37 GMT"

        // Content-Encoding: gzip. The body (fixed or generated) is compressed on the way out.
        bool gzip = false;

        // Transfer-Encoding: chunked for a generated body, so that its length is not announced in
        // advance. (A generated gzip body is always sent so.)
        bool chunked = false;

        // When not negative, the body is this many bytes of generated filler text instead of
        // `body`, produced while it is sent.
        qint64 generatedSize = -1;

        // Accept the request and never answer, or never end a raw answer (the connection stays
        // open until the client gives up or the server is destroyed).
        bool hang = false;

        // When above zero: headers at once, then the (fixed) body one byte per interval.
        std::chrono::milliseconds dripInterval{0};

        // When set, these bytes are written instead of an HTTP response, then the connection is
        // closed unless the route hangs (a server that does not speak HTTP, or does it wrong).
        std::optional<QByteArray> raw;
    };

    struct Request {
        QByteArray method;
        QByteArray path; // without the query
        Headers headers;

        // What became of the answer: body bytes handed to the connection (after encoding),
        // whether the whole response was written, and whether the client closed the connection
        // first.
        qint64 bodyBytesSent = 0;
        bool completed = false;
        bool closedByClient = false;

        // The value of the first header with this name (case-insensitive), or empty.
        QByteArray header(const QByteArray& name) const;
    };

    explicit HttpServer(QObject* parent = nullptr);
    ~HttpServer() override;

    // Listens on 127.0.0.1; port 0 picks a free one. Returns false when the port cannot be had.
    bool listen(quint16 port = 0);
    QUrl url(const QString& path) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path));
    }

    // Routes, by exact path (the query is ignored). A path without a route gets 404.
    void setRoute(const QString& path, const Response& response) { m_routes[path] = response; }
    void removeRoute(const QString& path) { m_routes.remove(path); }

    // Shorthands for the usual routes.
    void serve(const QString& path, const QByteArray& body,
               const QByteArray& contentType = QByteArrayLiteral("application/rdf+xml")) {
        setRoute(path, {.body = body, .contentType = contentType});
    }
    void serveStatus(const QString& path, int status, const QByteArray& body = {});
    void redirect(const QString& path, const QByteArray& location, int status = 302) {
        setRoute(path, {.status = status, .headers = {{"Location", location}}});
    }
    void hang(const QString& path) { setRoute(path, {.hang = true}); }

    // The request log, in arrival order.
    QList<Request> requests() const;
    int requestCount(const QString& path) const;
    std::optional<Request> lastRequest(const QString& path = {}) const;
    void clearRequests();

Q_SIGNALS:
    // A request has been read and its answer begun; index is its place in requests().
    void requestReceived(int index);

private:
    class Engine;
    class Answer;

    // Records a request and begins its answer on the connection it came on.
    void answer(Request request, QHttpServerResponder& responder);

    QHash<QString, Response> m_routes;
    QList<std::shared_ptr<Request>> m_requests; // each shared with its answer, which records in it
    quint16 m_port = 0;
    std::unique_ptr<Engine> m_engine; // last: the first to go, with the connections still open
};
