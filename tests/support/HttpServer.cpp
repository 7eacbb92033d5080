#include "HttpServer.h"

#include <QDateTime>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <zlib.h>

#include <algorithm>

namespace {

constexpr qsizetype maxRequestHead = 64 * 1024;
constexpr qsizetype streamChunk = 64 * 1024;
constexpr qint64 writeHighWater = 256 * 1024;

QByteArray reasonPhrase(int status) {
    switch (status) {
    case 200:
        return QByteArrayLiteral("OK");
    case 204:
        return QByteArrayLiteral("No Content");
    case 301:
        return QByteArrayLiteral("Moved Permanently");
    case 302:
        return QByteArrayLiteral("Found");
    case 303:
        return QByteArrayLiteral("See Other");
    case 304:
        return QByteArrayLiteral("Not Modified");
    case 307:
        return QByteArrayLiteral("Temporary Redirect");
    case 308:
        return QByteArrayLiteral("Permanent Redirect");
    case 400:
        return QByteArrayLiteral("Bad Request");
    case 403:
        return QByteArrayLiteral("Forbidden");
    case 404:
        return QByteArrayLiteral("Not Found");
    case 500:
        return QByteArrayLiteral("Internal Server Error");
    case 502:
        return QByteArrayLiteral("Bad Gateway");
    case 503:
        return QByteArrayLiteral("Service Unavailable");
    default:
        return QByteArrayLiteral("Status");
    }
}

bool bodyAllowed(int status) {
    return status >= 200 && status != 204 && status != 304;
}

// Where the bytes of a body come from, a piece at a time.
class BodySource {
public:
    virtual ~BodySource() = default;
    // Up to max further bytes; empty once the body is over.
    virtual QByteArray next(qsizetype max) = 0;
};

class FixedSource : public BodySource {
public:
    explicit FixedSource(QByteArray data) : m_data(std::move(data)) {}
    QByteArray next(qsizetype max) override {
        const QByteArray piece = m_data.mid(m_offset, max);
        m_offset += piece.size();
        return piece;
    }

private:
    QByteArray m_data;
    qsizetype m_offset = 0;
};

// Readable filler text of a given length, made as it is sent.
class GeneratedSource : public BodySource {
public:
    explicit GeneratedSource(qint64 size) : m_remaining(size) {
        const QByteArray line = QByteArrayLiteral("Pinglark test filler, line after line.\n");
        while (m_pattern.size() < streamChunk)
            m_pattern += line;
    }
    QByteArray next(qsizetype max) override {
        // The pattern repeats whole lines, so restart it at a line boundary: keep an offset.
        const qsizetype n = qsizetype(std::min<qint64>({qint64(max), m_remaining, streamChunk}));
        QByteArray piece;
        piece.reserve(n);
        while (piece.size() < n) {
            const qsizetype take = std::min(n - piece.size(), m_pattern.size() - m_offset);
            piece.append(m_pattern.constData() + m_offset, take);
            m_offset = (m_offset + take) % m_pattern.size();
        }
        m_remaining -= n;
        return piece;
    }

private:
    QByteArray m_pattern;
    qsizetype m_offset = 0;
    qint64 m_remaining;
};

// A gzip member of another source's bytes, compressed as they are asked for.
class GzipSource : public BodySource {
public:
    explicit GzipSource(std::unique_ptr<BodySource> inner) : m_inner(std::move(inner)) {
        // 15 window bits + 16: a gzip header and trailer around the deflate stream.
        deflateInit2(&m_stream, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    }
    ~GzipSource() override { deflateEnd(&m_stream); }
    GzipSource(const GzipSource&) = delete;
    GzipSource& operator=(const GzipSource&) = delete;

    QByteArray next(qsizetype max) override {
        QByteArray out(max, Qt::Uninitialized);
        m_stream.next_out = reinterpret_cast<Bytef*>(out.data());
        m_stream.avail_out = uInt(max);
        while (m_stream.avail_out > 0 && !m_done) {
            if (m_stream.avail_in == 0 && !m_innerDone) {
                m_input = m_inner->next(streamChunk);
                m_innerDone = m_input.isEmpty();
                m_stream.next_in = reinterpret_cast<Bytef*>(m_input.data());
                m_stream.avail_in = uInt(m_input.size());
            }
            const int rc = deflate(&m_stream, m_innerDone ? Z_FINISH : Z_NO_FLUSH);
            if (rc == Z_STREAM_END)
                m_done = true;
            else if (rc != Z_OK && rc != Z_BUF_ERROR)
                m_done = true; // cannot happen with a valid stream; end the body rather than spin
        }
        out.resize(max - qsizetype(m_stream.avail_out));
        return out;
    }

private:
    std::unique_ptr<BodySource> m_inner;
    z_stream m_stream{};
    QByteArray m_input;
    bool m_innerDone = false;
    bool m_done = false;
};

bool etagMatches(const QByteArray& ifNoneMatch, const QByteArray& etag) {
    if (etag.isEmpty())
        return false;
    const auto weakless = [](QByteArray tag) {
        tag = tag.trimmed();
        return tag.startsWith("W/") ? tag.mid(2) : tag;
    };
    for (const QByteArray& candidate : ifNoneMatch.split(',')) {
        if (candidate.trimmed() == "*" || weakless(candidate) == weakless(etag))
            return true;
    }
    return false;
}

QDateTime httpDate(const QByteArray& text) {
    return QDateTime::fromString(QString::fromLatin1(text.trimmed()), Qt::RFC2822Date);
}

bool notModifiedSince(const QByteArray& ifModifiedSince, const QByteArray& lastModified) {
    if (lastModified.isEmpty())
        return false;
    if (ifModifiedSince.trimmed() == lastModified.trimmed())
        return true;
    const QDateTime since = httpDate(ifModifiedSince);
    const QDateTime modified = httpDate(lastModified);
    return since.isValid() && modified.isValid() && modified <= since;
}

} // namespace

// One accepted connection: reads one request, answers it as its route says, then closes.
class HttpServer::Connection : public QObject {
public:
    Connection(HttpServer* server, QTcpSocket* socket)
        : QObject(server), m_server(server), m_socket(socket) {
        m_server->m_connections.append(this);
        m_socket->setParent(this);
        connect(m_socket, &QTcpSocket::readyRead, this, &Connection::onReadyRead);
        connect(m_socket, &QTcpSocket::bytesWritten, this, &Connection::pump);
        connect(m_socket, &QTcpSocket::disconnected, this, &Connection::onDisconnected);
        connect(m_socket, &QTcpSocket::errorOccurred, this, [this] { m_socketError = true; });
    }
    ~Connection() override {
        m_server->m_connections.removeOne(this);
        m_socket->disconnect(this);
        m_socket->abort();
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool isOpen() const { return !m_closed; }

private:
    enum class State { ReadingHead, ReadingBody, Answering, Hanging, Closing };

    void onReadyRead() {
        if (m_state != State::ReadingHead && m_state != State::ReadingBody) {
            m_socket->readAll(); // nothing more is read on this connection
            return;
        }
        m_input += m_socket->readAll();
        if (m_state == State::ReadingHead) {
            const qsizetype end = m_input.indexOf("\r\n\r\n");
            if (end < 0) {
                if (m_input.size() > maxRequestHead)
                    answerBadRequest();
                return;
            }
            if (!parseHead(m_input.left(end))) {
                answerBadRequest();
                return;
            }
            m_input.remove(0, end + 4);
            m_state = State::ReadingBody;
        }
        const qint64 length = m_request.header("Content-Length").toLongLong();
        if (m_input.size() < length)
            return;
        m_request.body = m_input.left(qsizetype(length));
        m_input.clear();
        answer();
    }

    bool parseHead(const QByteArray& head) {
        const QList<QByteArray> lines = head.split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        if (requestLine.size() != 3 || !requestLine[2].startsWith("HTTP/1."))
            return false;
        m_request.method = requestLine[0];
        m_request.target = requestLine[1];
        const qsizetype query = m_request.target.indexOf('?');
        m_request.path = query < 0 ? m_request.target : m_request.target.left(query);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                return false;
            m_request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        }
        return true;
    }

    void answerBadRequest() {
        m_state = State::Closing;
        m_socket->write(
            "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        m_socket->disconnectFromHost();
    }

    void answer() {
        const Response response = m_server->responseFor(m_request.path);
        m_serial = m_server->record(m_request);
        Q_EMIT m_server->requestReceived(m_server->indexOf(m_serial));

        if (response.hang) {
            m_state = State::Hanging;
            return;
        }
        m_state = State::Answering;
        if (response.raw) {
            m_socket->write(*response.raw);
            finishBody();
            return;
        }

        const bool notModified = m_request.hasHeader("If-None-Match")
                                     ? etagMatches(m_request.header("If-None-Match"), response.etag)
                                     : m_request.hasHeader("If-Modified-Since") &&
                                           notModifiedSince(m_request.header("If-Modified-Since"),
                                                            response.lastModified);
        const int status = notModified ? 304 : response.status;

        QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) +
                          "\r\nConnection: close\r\n";
        const auto header = [&head](const QByteArray& name, const QByteArray& value) {
            head += name + ": " + value + "\r\n";
        };
        if (!response.etag.isEmpty())
            header("ETag", response.etag);
        if (!response.lastModified.isEmpty())
            header("Last-Modified", response.lastModified);
        for (const auto& [name, value] : response.headers)
            header(name, value);

        if (bodyAllowed(status)) {
            if (!response.contentType.isEmpty())
                header("Content-Type", response.contentType);
            if (response.gzip)
                header("Content-Encoding", "gzip");
            qint64 length = -1;
            if (response.generatedSize >= 0 && response.gzip) {
                // The compressed length is known only at the end.
                m_source = std::make_unique<GzipSource>(
                    std::make_unique<GeneratedSource>(response.generatedSize));
            } else if (response.generatedSize >= 0) {
                length = response.generatedSize;
                m_source = std::make_unique<GeneratedSource>(response.generatedSize);
            } else {
                const QByteArray body = response.gzip ? gzip(response.body) : response.body;
                length = body.size();
                m_source = std::make_unique<FixedSource>(body);
            }
            m_chunked = response.chunked || length < 0;
            if (m_chunked)
                header("Transfer-Encoding", "chunked");
            else
                header("Content-Length", QByteArray::number(length));
            if (m_request.method == "HEAD")
                m_source.reset();
        }
        head += "\r\n";
        m_socket->write(head);

        if (m_source && response.dripInterval.count() > 0) {
            m_drip = new QTimer(this);
            connect(m_drip, &QTimer::timeout, this, &Connection::dripOne);
            m_drip->start(response.dripInterval);
            return;
        }
        pump();
    }

    // The next piece of the body as it goes on the wire (with chunk framing when chunked).
    QByteArray nextPiece(qsizetype max) {
        const QByteArray piece = m_source->next(max);
        m_bodySent += piece.size();
        if (!m_chunked)
            return piece;
        if (piece.isEmpty())
            return QByteArrayLiteral("0\r\n\r\n");
        return QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n";
    }

    void pump() {
        if (m_state != State::Answering || !m_source || m_drip)
            return;
        while (m_socket->bytesToWrite() < writeHighWater) {
            const QByteArray piece = nextPiece(streamChunk);
            if (piece.isEmpty() || piece == "0\r\n\r\n") {
                if (!piece.isEmpty())
                    m_socket->write(piece);
                m_source.reset();
                finishBody();
                return;
            }
            m_socket->write(piece);
        }
    }

    void dripOne() {
        if (m_dripBuffer.isEmpty()) {
            m_dripBuffer = nextPiece(1);
            if (m_dripBuffer.isEmpty() || m_dripBuffer == "0\r\n\r\n") {
                m_drip->stop();
                m_socket->write(m_dripBuffer);
                m_source.reset();
                finishBody();
                return;
            }
        }
        m_socket->write(m_dripBuffer.left(1));
        m_dripBuffer.remove(0, 1);
    }

    void finishBody() {
        m_state = State::Closing;
        m_bodyComplete = true;
        // Waits until everything written has gone out, then closes.
        m_socket->disconnectFromHost();
    }

    void onDisconnected() {
        if (m_closed)
            return;
        m_closed = true;
        if (m_drip)
            m_drip->stop();
        // The answer is complete only when every byte went out before the connection did.
        m_bodyComplete = m_bodyComplete && !m_socketError;
        update(m_serial >= 0 && !m_bodyComplete);
        const int index = m_server->indexOf(m_serial);
        if (index >= 0)
            Q_EMIT m_server->requestFinished(index);
        deleteLater();
    }

    void update(bool closedByClient) {
        if (m_serial >= 0)
            m_server->updateRecord(m_serial, m_bodySent, m_bodyComplete, closedByClient);
    }

    HttpServer* m_server;
    QTcpSocket* m_socket;
    State m_state = State::ReadingHead;
    QByteArray m_input;
    Request m_request;
    int m_serial = -1;
    bool m_socketError = false;
    std::unique_ptr<BodySource> m_source;
    bool m_chunked = false;
    qint64 m_bodySent = 0;
    bool m_bodyComplete = false;
    bool m_closed = false;
    QTimer* m_drip = nullptr;
    QByteArray m_dripBuffer;
};

QByteArray HttpServer::Request::header(const QByteArray& name) const {
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

bool HttpServer::Request::hasHeader(const QByteArray& name) const {
    return std::any_of(headers.begin(), headers.end(), [&name](const auto& entry) {
        return entry.first.compare(name, Qt::CaseInsensitive) == 0;
    });
}

HttpServer::HttpServer(QObject* parent) : QObject(parent), m_server(new QTcpServer(this)) {
    connect(m_server, &QTcpServer::newConnection, this, &HttpServer::onNewConnection);
}

HttpServer::~HttpServer() {
    // Connections first: they report to this object while they live.
    const QList<Connection*> connections = m_connections;
    qDeleteAll(connections);
}

bool HttpServer::listen(quint16 port) {
    return m_server->listen(QHostAddress::LocalHost, port);
}

quint16 HttpServer::port() const {
    return m_server->serverPort();
}

QUrl HttpServer::url(const QString& path) const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path));
}

void HttpServer::setRoute(const QString& path, const Response& response) {
    m_routes.insert(path, response);
}

void HttpServer::removeRoute(const QString& path) {
    m_routes.remove(path);
}

std::optional<HttpServer::Response> HttpServer::route(const QString& path) const {
    const auto found = m_routes.constFind(path);
    if (found == m_routes.constEnd())
        return std::nullopt;
    return *found;
}

void HttpServer::serve(const QString& path, const QByteArray& body, const QByteArray& contentType) {
    Response response;
    response.body = body;
    response.contentType = contentType;
    setRoute(path, response);
}

void HttpServer::serveStatus(const QString& path, int status, const QByteArray& body) {
    Response response;
    response.status = status;
    response.body = body.isEmpty() && bodyAllowed(status)
                        ? "<html><body>" + reasonPhrase(status) + "</body></html>\n"
                        : body;
    response.contentType = QByteArrayLiteral("text/html");
    setRoute(path, response);
}

void HttpServer::redirect(const QString& path, const QByteArray& location, int status) {
    Response response;
    response.status = status;
    response.headers.append({QByteArrayLiteral("Location"), location});
    setRoute(path, response);
}

void HttpServer::hang(const QString& path) {
    Response response;
    response.hang = true;
    setRoute(path, response);
}

void HttpServer::drip(const QString& path, const QByteArray& body,
                      std::chrono::milliseconds interval) {
    Response response;
    response.body = body;
    response.contentType = QByteArrayLiteral("application/rdf+xml");
    response.dripInterval = interval;
    setRoute(path, response);
}

void HttpServer::serveGenerated(const QString& path, qint64 size, bool gzip, bool chunked) {
    Response response;
    response.generatedSize = size;
    response.gzip = gzip;
    response.chunked = chunked;
    response.contentType = QByteArrayLiteral("text/plain");
    setRoute(path, response);
}

QList<HttpServer::Request> HttpServer::requests(const QString& path) const {
    QList<Request> result;
    for (const Request& request : m_requests) {
        if (request.path == path.toUtf8())
            result.append(request);
    }
    return result;
}

int HttpServer::requestCount(const QString& path) const {
    return int(requests(path).size());
}

std::optional<HttpServer::Request> HttpServer::lastRequest(const QString& path) const {
    const QByteArray wanted = path.toUtf8();
    for (auto it = m_requests.crbegin(); it != m_requests.crend(); ++it) {
        if (path.isEmpty() || it->path == wanted)
            return *it;
    }
    return std::nullopt;
}

void HttpServer::clearRequests() {
    // Connections still open hold serials from before; from now on they point nowhere.
    m_serialBase += int(m_requests.size());
    m_requests.clear();
}

int HttpServer::openConnections() const {
    return int(std::count_if(m_connections.begin(), m_connections.end(),
                             [](const Connection* connection) { return connection->isOpen(); }));
}

QByteArray HttpServer::gzip(const QByteArray& data) {
    GzipSource source(std::make_unique<FixedSource>(data));
    QByteArray result;
    for (QByteArray piece = source.next(streamChunk); !piece.isEmpty();
         piece = source.next(streamChunk))
        result += piece;
    return result;
}

QByteArray HttpServer::garbage(qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(20240611);
    for (char& byte : bytes)
        byte = char(generator.bounded(256));
    // Never start like a document or a text.
    if (!bytes.isEmpty())
        bytes[0] = '\xff';
    return bytes;
}

void HttpServer::onNewConnection() {
    while (QTcpSocket* socket = m_server->nextPendingConnection())
        new Connection(this, socket);
}

HttpServer::Response HttpServer::responseFor(const QByteArray& path) const {
    if (const auto found = route(QString::fromUtf8(path)))
        return *found;
    Response notFound;
    notFound.status = 404;
    notFound.body = QByteArrayLiteral("<html><body>Not Found</body></html>\n");
    notFound.contentType = QByteArrayLiteral("text/html");
    return notFound;
}

int HttpServer::record(const Request& request) {
    m_requests.append(request);
    return m_serialBase + int(m_requests.size()) - 1;
}

int HttpServer::indexOf(int serial) const {
    const int index = serial - m_serialBase;
    return index >= 0 && index < m_requests.size() ? index : -1;
}

void HttpServer::updateRecord(int serial, qint64 bodyBytesSent, bool completed,
                              bool closedByClient) {
    const int index = indexOf(serial);
    if (index < 0)
        return;
    Request& request = m_requests[index];
    request.bodyBytesSent = bodyBytesSent;
    request.completed = completed;
    request.closedByClient = closedByClient;
}
