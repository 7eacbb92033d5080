#include "HttpServer.h"

#include <QAbstractHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QMetaEnum>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <zlib.h>

#include <algorithm>
#include <array>
#include <limits>

namespace {

// Written ahead of the client, at most, while a body streams.
constexpr qint64 writeHighWater = 256 * 1024;

// What a generated body is made of, line after line.
const QByteArray filler =
    QByteArrayLiteral("Pinglark test filler, line after line.\n").repeated(1680);

// A body as it is sent, piece by piece: its source repeated or cut to its length (so filler text of
// any length is made on the way, never all of it in memory); gzip-compressed on request.
class Body {
public:
    Body(const QByteArray& source, qint64 size, bool gzip)
        : m_source(source), m_remaining(size), m_gzip(gzip) {
        // 15 window bits + 16: a gzip header and trailer around the deflate stream.
        if (m_gzip)
            deflateInit2(&m_zip, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    }
    ~Body() {
        if (m_gzip)
            deflateEnd(&m_zip);
    }
    Body(const Body&) = delete;
    Body& operator=(const Body&) = delete;

    // The next bytes of the body as sent, from at most `most` bytes of the source (up to the end
    // of the source); empty once it is over.
    QByteArray next(qint64 most = std::numeric_limits<qint64>::max()) {
        QByteArray out;
        while (out.isEmpty() && !m_done) {
            const QByteArray input = m_source.mid(m_offset, qsizetype(std::min(m_remaining, most)));
            m_remaining -= input.size();
            if ((m_offset += input.size()) == m_source.size())
                m_offset = 0;
            if (!m_gzip)
                return input;
            m_zip.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.constData()));
            m_zip.avail_in = uInt(input.size());
            std::array<char, 16 * 1024> buffer{};
            do {
                m_zip.next_out = reinterpret_cast<Bytef*>(buffer.data());
                m_zip.avail_out = uInt(buffer.size());
                const int rc = deflate(&m_zip, input.isEmpty() ? Z_FINISH : Z_NO_FLUSH);
                out.append(buffer.data(), qsizetype(buffer.size() - m_zip.avail_out));
                // (An error cannot happen with a sound stream; end the body rather than spin.)
                m_done = rc == Z_STREAM_END || rc == Z_STREAM_ERROR;
            } while (m_zip.avail_out == 0 && !m_done);
        }
        return out;
    }
    QByteArray all() {
        QByteArray out;
        for (QByteArray piece = next(); !piece.isEmpty(); piece = next())
            out += piece;
        return out;
    }

private:
    QByteArray m_source;
    qsizetype m_offset = 0; // where the next piece begins
    qint64 m_remaining;
    bool m_gzip;
    z_stream m_zip{};
    bool m_done = false;
};

} // namespace

// Hands every request Qt HTTP Server has read to the HttpServer, with a responder for it.
class HttpServer::Engine : public QAbstractHttpServer {
public:
    explicit Engine(HttpServer* owner) : m_owner(owner) {}

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override {
        const char* method =
            QMetaEnum::fromType<QHttpServerRequest::Method>().valueToKey(int(request.method()));
        QHttpServerResponder responder = makeResponder(request, socket);
        m_owner->answer({QByteArray(method).toUpper(),
                         request.url().path(QUrl::FullyEncoded).toUtf8(), request.headers()},
                        responder);
        return true;
    }
    void missingHandler(const QHttpServerRequest&, QTcpSocket*) override {}

private:
    HttpServer* m_owner;
};

// The answer to one request, on the connection it came on; it lives as long as the connection.
class HttpServer::Answer : public QObject {
public:
    Answer(std::shared_ptr<Request> request, QTcpSocket* socket)
        : QObject(socket), m_request(std::move(request)), m_socket(socket) {
        connect(socket, &QTcpSocket::disconnected, this, &Answer::onDisconnected);
        connect(socket, &QTcpSocket::errorOccurred, this, [this] { m_failed = true; });
    }

    void start(const Response& response, QHttpServerResponder& responder, bool notModified) {
        if (response.raw || response.hang) {
            m_socket->write(response.raw.value_or(QByteArray()));
            if (!response.hang)
                finish();
            return;
        }
        const int status = notModified ? 304 : response.status;
        responder.writeStatusLine(QHttpServerResponder::StatusCode(status));
        responder.writeHeader("Connection", "close");
        if (!response.etag.isEmpty())
            responder.writeHeader("ETag", response.etag);
        if (!response.lastModified.isEmpty())
            responder.writeHeader("Last-Modified", response.lastModified);
        for (const auto& [name, value] : response.headers)
            responder.writeHeader(name, value);
        if (status < 200 || status == 204 || status == 304) {
            responder.writeBody(QByteArray()); // the end of the head: no body
            finish();
            return;
        }
        if (!response.contentType.isEmpty())
            responder.writeHeader("Content-Type", response.contentType);
        if (response.gzip)
            responder.writeHeader("Content-Encoding", "gzip");

        // A fixed body's length is announced, compressed or not; a generated one's when asked to
        // and it is not compressed (the compressed length is known only at the end).
        const bool generated = response.generatedSize >= 0;
        const QByteArray fixed = response.gzip && !generated
                                     ? Body(response.body, response.body.size(), true).all()
                                     : response.body;
        const qint64 size = generated ? response.generatedSize : fixed.size();
        m_chunked = generated && (response.chunked || response.gzip);
        responder.writeHeader(m_chunked ? "Transfer-Encoding" : "Content-Length",
                              m_chunked ? "chunked" : QByteArray::number(size));
        responder.writeBody(QByteArray()); // the end of the head
        m_body =
            std::make_unique<Body>(generated ? filler : fixed, size, generated && response.gzip);
        if (response.dripInterval.count() > 0) {
            connect(&m_drip, &QTimer::timeout, this, &Answer::pump);
            m_drip.start(response.dripInterval);
        } else {
            connect(m_socket, &QTcpSocket::bytesWritten, this, &Answer::pump);
            pump();
        }
    }

private:
    // Sends the body on: ahead of the client by at most writeHighWater, or, dripping, a byte per
    // tick of the drip. The empty piece at the end makes the last chunk.
    void pump() {
        const bool dripping = m_drip.isActive();
        while (m_body && m_socket->bytesToWrite() < writeHighWater) {
            const QByteArray piece = m_body->next(dripping ? 1 : filler.size());
            m_request->bodyBytesSent += piece.size();
            if (m_chunked)
                m_socket->write(QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n");
            else
                m_socket->write(piece);
            if (piece.isEmpty()) {
                m_body.reset();
                m_drip.stop();
                finish();
            }
            if (dripping)
                return;
        }
    }

    // Closes once everything written has gone out.
    void finish() {
        m_written = true;
        m_socket->disconnectFromHost();
    }

    void onDisconnected() {
        if (m_closed)
            return;
        m_closed = true;
        m_body.reset();
        m_drip.stop();
        // The answer is complete only when every byte went out before the connection did.
        m_request->completed = m_written && !m_failed;
        m_request->closedByClient = !m_request->completed;
    }

    std::shared_ptr<Request> m_request; // where the answer is recorded
    QTcpSocket* m_socket;
    std::unique_ptr<Body> m_body; // what is still to be sent
    bool m_chunked = false;
    QTimer m_drip;
    bool m_written = false;
    bool m_failed = false;
    bool m_closed = false;
};

QByteArray HttpServer::Request::header(const QByteArray& name) const {
    for (const auto& [key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

HttpServer::HttpServer(QObject* parent)
    : QObject(parent), m_engine(std::make_unique<Engine>(this)) {}

HttpServer::~HttpServer() {
    // Connections still open close with the engine; nobody hears of it any more.
    blockSignals(true);
}

bool HttpServer::listen(quint16 port) {
    auto* server = new QTcpServer(m_engine.get());
    if (!server->listen(QHostAddress::LocalHost, port)) {
        delete server;
        return false;
    }
    m_port = server->serverPort();
    m_engine->bind(server);
    return true;
}

void HttpServer::serveStatus(const QString& path, int status, const QByteArray& body) {
    setRoute(path, {.status = status,
                    .body = body.isEmpty() && status != 304
                                ? "<html><body>" + QByteArray::number(status) + "</body></html>\n"
                                : body,
                    .contentType = "text/html"});
}

QList<HttpServer::Request> HttpServer::requests() const {
    QList<Request> copies;
    for (const std::shared_ptr<Request>& request : m_requests)
        copies.append(*request);
    return copies;
}

int HttpServer::requestCount(const QString& path) const {
    const QByteArray wanted = path.toUtf8();
    return int(std::count_if(m_requests.begin(), m_requests.end(),
                             [&](const auto& request) { return request->path == wanted; }));
}

std::optional<HttpServer::Request> HttpServer::lastRequest(const QString& path) const {
    const QByteArray wanted = path.toUtf8();
    for (auto it = m_requests.crbegin(); it != m_requests.crend(); ++it)
        if (path.isEmpty() || (*it)->path == wanted)
            return **it;
    return std::nullopt;
}

void HttpServer::clearRequests() {
    // (Answers still under way go on recording in requests no longer listed.)
    m_requests.clear();
}

void HttpServer::answer(Request request, QHttpServerResponder& responder) {
    const Response response = m_routes.value(QString::fromUtf8(request.path),
                                             {.status = 404,
                                              .body = "<html><body>Not Found</body></html>\n",
                                              .contentType = "text/html"});
    const QByteArray etag = request.header("If-None-Match");
    const QByteArray since = request.header("If-Modified-Since");
    const bool notModified =
        etag.isEmpty() ? !since.isEmpty() && since == response.lastModified : etag == response.etag;
    m_requests.append(std::make_shared<Request>(std::move(request)));
    auto* answer = new Answer(m_requests.last(), responder.socket());
    Q_EMIT requestReceived(int(m_requests.size()) - 1);
    answer->start(response, responder, notModified);
}
