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

namespace {

// Written ahead of the client, at most, while a generated body streams.
constexpr qint64 writeHighWater = 256 * 1024;

// A body as it is sent, piece by piece: fixed bytes, or filler text of a given length made on the
// way (in whole lines of about 64 KiB, never all of it in memory); gzip-compressed on request.
class Body {
public:
    Body(const QByteArray& fixed, qint64 generatedSize, bool gzip)
        : m_source(
              generatedSize < 0
                  ? fixed
                  : QByteArrayLiteral("Pinglark test filler, line after line.\n").repeated(1680)),
          m_remaining(generatedSize < 0 ? fixed.size() : generatedSize), m_gzip(gzip) {
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

    // The next bytes of the body as sent; empty once it is over.
    QByteArray next() {
        QByteArray out;
        while (out.isEmpty() && !m_done) {
            const QByteArray input =
                m_source.left(qsizetype(std::min<qint64>(m_remaining, m_source.size())));
            m_remaining -= input.size();
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
    QByteArray m_source; // sent whole, or repeated up to the generated length
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
    Answer(HttpServer* server, int serial, QTcpSocket* socket)
        : QObject(socket), m_server(server), m_serial(serial), m_socket(socket) {
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

        if (response.generatedSize >= 0) {
            // The compressed length is known only at the end.
            m_chunked = response.chunked || response.gzip;
            responder.writeHeader(m_chunked ? "Transfer-Encoding" : "Content-Length",
                                  m_chunked ? "chunked"
                                            : QByteArray::number(response.generatedSize));
            responder.writeBody(QByteArray());
            m_generated =
                std::make_unique<Body>(QByteArray(), response.generatedSize, response.gzip);
            connect(m_socket, &QTcpSocket::bytesWritten, this, &Answer::pump);
            pump();
            return;
        }
        const QByteArray body = response.gzip ? Body(response.body, -1, true).all() : response.body;
        responder.writeHeader("Content-Length", QByteArray::number(body.size()));
        if (response.dripInterval.count() > 0 && !body.isEmpty()) {
            responder.writeBody(QByteArray());
            m_dripping = body;
            connect(&m_drip, &QTimer::timeout, this, &Answer::dripOne);
            m_drip.start(response.dripInterval);
            return;
        }
        responder.writeBody(body);
        sent(body.size());
        finish();
    }

private:
    void sent(qint64 bytes) {
        if (const int index = m_server->indexOf(m_serial); index >= 0)
            m_server->m_requests[index].bodyBytesSent += bytes;
    }

    // Keeps a generated body ahead of the client by at most writeHighWater.
    void pump() {
        while (m_generated && m_socket->bytesToWrite() < writeHighWater) {
            const QByteArray piece = m_generated->next();
            sent(piece.size());
            if (m_chunked) // the empty piece makes the last chunk
                m_socket->write(QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n");
            else
                m_socket->write(piece);
            if (piece.isEmpty()) {
                m_generated.reset();
                finish();
            }
        }
    }

    void dripOne() {
        m_socket->write(m_dripping.left(1));
        m_dripping.remove(0, 1);
        sent(1);
        if (m_dripping.isEmpty()) {
            m_drip.stop();
            finish();
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
        m_generated.reset();
        m_drip.stop();
        const int index = m_server->indexOf(m_serial);
        if (index < 0)
            return;
        // The answer is complete only when every byte went out before the connection did.
        Request& request = m_server->m_requests[index];
        request.completed = m_written && !m_failed;
        request.closedByClient = !request.completed;
    }

    HttpServer* m_server;
    int m_serial;
    QTcpSocket* m_socket;
    std::unique_ptr<Body> m_generated;
    bool m_chunked = false;
    QByteArray m_dripping;
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

int HttpServer::requestCount(const QString& path) const {
    const QByteArray wanted = path.toUtf8();
    return int(std::count_if(m_requests.begin(), m_requests.end(),
                             [&](const Request& request) { return request.path == wanted; }));
}

std::optional<HttpServer::Request> HttpServer::lastRequest(const QString& path) const {
    const QByteArray wanted = path.toUtf8();
    for (auto it = m_requests.crbegin(); it != m_requests.crend(); ++it)
        if (path.isEmpty() || it->path == wanted)
            return *it;
    return std::nullopt;
}

void HttpServer::clearRequests() {
    // Answers still under way hold serials from before; from now on they point nowhere.
    m_serialBase += int(m_requests.size());
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
    m_requests.append(std::move(request));
    const int serial = m_serialBase + int(m_requests.size()) - 1;
    auto* answer = new Answer(this, serial, responder.socket());
    Q_EMIT requestReceived(indexOf(serial));
    answer->start(response, responder, notModified);
}

int HttpServer::indexOf(int serial) const {
    const int index = serial - m_serialBase;
    return index >= 0 && index < m_requests.size() ? index : -1;
}
