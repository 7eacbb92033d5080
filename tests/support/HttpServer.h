#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QUrl>

#include <chrono>
#include <memory>
#include <optional>

class QTcpServer;
class QTcpSocket;

// A small HTTP/1.1 server on 127.0.0.1 for tests and the demo feed server. It runs on the event
// loop of the thread that owns it (no threads of its own), serves one Response per path and can
// misbehave on request: any status, garbage, a connection that never answers, a body dripped one
// byte at a time, a generated body of any size streamed without holding it in memory, redirects,
// validators with 304 answers, gzip. Every request is recorded.
//
// Each connection serves one request and is closed ("Connection: close"), so clients open a new
// connection per request; a route may be replaced between requests and the next request sees it.
class HttpServer : public QObject {
    Q_OBJECT
public:
    using Headers = QList<QPair<QByteArray, QByteArray>>;

    struct Response {
        int status = 200;
        QByteArray body;
        QByteArray contentType; // no Content-Type header when empty
        Headers headers;        // extra headers, sent as given

        // Validators. When set they are sent with the response, and a request whose
        // If-None-Match names the ETag (or, without If-None-Match, whose If-Modified-Since is the
        // same date or later) gets "304 Not Modified" with no body.
        QByteArray etag;         // with its quotes, e.g. "\"v1\""
        QByteArray lastModified; // an HTTP date, e.g. "Sun, 06 Nov 1994 08:49:37 GMT"

        // Content-Encoding: gzip. The body (fixed or generated) is compressed on the way out.
        bool gzip = false;

        // Transfer-Encoding: chunked, so that the length is not announced in advance. (A
        // generated gzip body is always sent so.)
        bool chunked = false;

        // When not negative, the body is this many bytes of generated filler text instead of
        // `body`, produced while it is sent.
        qint64 generatedSize = -1;

        // Accept the request and never answer (the connection stays open until the client gives
        // up or the server is destroyed).
        bool hang = false;

        // When above zero: headers at once, then the body one byte per interval.
        std::chrono::milliseconds dripInterval{0};

        // When set, these bytes are written instead of an HTTP response, then the connection is
        // closed (a server that does not speak HTTP).
        std::optional<QByteArray> raw;
    };

    struct Request {
        QByteArray method;
        QByteArray target; // as sent: path and query
        QByteArray path;   // target without the query
        Headers headers;
        QByteArray body;

        // What became of the answer: body bytes handed to the socket (after encoding), whether
        // the whole response was written, and whether the client closed the connection first.
        qint64 bodyBytesSent = 0;
        bool completed = false;
        bool closedByClient = false;

        // The value of the first header with this name (case-insensitive), or empty.
        QByteArray header(const QByteArray& name) const;
        bool hasHeader(const QByteArray& name) const;
    };

    explicit HttpServer(QObject* parent = nullptr);
    ~HttpServer() override;

    // Listens on 127.0.0.1; port 0 picks a free one. Returns false when the port cannot be had.
    bool listen(quint16 port = 0);
    quint16 port() const;
    // http://127.0.0.1:<port><path>
    QUrl url(const QString& path) const;

    // Routes, by exact path (the query is ignored). A path without a route gets 404.
    void setRoute(const QString& path, const Response& response);
    void removeRoute(const QString& path);
    std::optional<Response> route(const QString& path) const;

    // Shorthands for the usual routes.
    void serve(const QString& path, const QByteArray& body,
               const QByteArray& contentType = QByteArrayLiteral("application/rdf+xml"));
    void serveStatus(const QString& path, int status, const QByteArray& body = {});
    void redirect(const QString& path, const QByteArray& location, int status = 302);
    void hang(const QString& path);
    void drip(const QString& path, const QByteArray& body, std::chrono::milliseconds interval);
    void serveGenerated(const QString& path, qint64 size, bool gzip = false, bool chunked = false);

    // The request log, in arrival order.
    QList<Request> requests() const { return m_requests; }
    QList<Request> requests(const QString& path) const;
    int requestCount() const { return int(m_requests.size()); }
    int requestCount(const QString& path) const;
    std::optional<Request> lastRequest(const QString& path = {}) const;
    void clearRequests();

    // Connections currently open (a hanging or dripping answer keeps one open).
    int openConnections() const;

    // gzip member (RFC 1952) of data.
    static QByteArray gzip(const QByteArray& data);
    // Bytes that are neither XML nor text.
    static QByteArray garbage(qsizetype size);

Q_SIGNALS:
    // A request has been read and its answer begun; index is its place in requests().
    void requestReceived(int index);
    // The answer to requests()[index] has been written completely, or the client closed first.
    void requestFinished(int index);

private:
    class Connection;
    friend class Connection;

    void onNewConnection();
    Response responseFor(const QByteArray& path) const;
    // Requests are numbered by serial; clearRequests() moves the base, so that connections
    // still open from before cannot touch the requests recorded after.
    int record(const Request& request);
    int indexOf(int serial) const;
    void updateRecord(int serial, qint64 bodyBytesSent, bool completed, bool closedByClient);

    QTcpServer* m_server = nullptr;
    QList<Connection*> m_connections;
    QHash<QString, Response> m_routes;
    QList<Request> m_requests;
    int m_serialBase = 0;
};
