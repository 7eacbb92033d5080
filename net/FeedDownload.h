#pragma once

#include "FeedCache.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// What one fetch brought: the document, or why there is none.
struct DownloadResult {
    enum class Error {
        None,
        NotHttp,           // the address is not an http or https URL
        HttpStatus,        // the server answered with a status other than 2xx or a usable 304
        Deadline,          // no complete answer in time
        TooLarge,          // the body is over the size cap
        Redirect,          // a redirect refused, going round a loop, or one too many
        Tls,               // the secure connection could not be made
        HostNotFound,      // the server's name does not resolve
        ConnectionRefused, // nothing listens at the server's port
        Network,           // any other failure of the transfer
    };

    std::optional<QByteArray> body; // present exactly when error is None
    Error error = Error::None;
    // For a failure, a short plain phrase: in English, for the log ("HTTP 404 Not Found"), and
    // in the user's language, for display.
    QString cause;
    QString translatedCause;
    // Where the body came from: the last hop of redirects, or the address that answered a 304.
    // Relative links in the document resolve against it, not against the address asked for.
    // Empty for a failure.
    QUrl url;
    // The charset the answer's Content-Type names ("Shift_JIS" for text/xml; charset="Shift_JIS"),
    // which is the document's encoding when its XML declaration names none. For a 304, the one
    // the kept body came with. Empty when none is named.
    QByteArray charset;

    static DownloadResult success(const QByteArray& body, const QUrl& url = {},
                                  const QByteArray& charset = {}) {
        return {body, Error::None, {}, {}, url, charset};
    }
    static DownloadResult failure(Error error, const QString& cause,
                                  const QString& translatedCause) {
        return {std::nullopt, error, cause, translatedCause, {}, {}};
    }
};

// Fetches one document over HTTP(S) without blocking the event loop, with the safety a program
// needs that talks to a server on its own, every few minutes, for years:
// - an overall deadline (30 s by default) however slowly the bytes arrive;
// - a cap on the body (8 MiB by default), stopped as soon as it is passed;
// - redirects followed when no less safe, never to a non-HTTP scheme nor round a loop;
// - conditional GET: a 304 Not Modified hands back the last good body and its charset; with a
//   cache, across restarts too (a cache that cannot be used only means a plain GET);
// - gzip accepted, a User-Agent naming Pinglark and its version;
// - any status other than 2xx or 304 is a failure.
// finished() is emitted exactly once per start(), with the body or, on any failure, why there is
// none; never from inside start() itself, and not after cancel() or the object's destruction.
class FeedDownload : public QObject {
    Q_OBJECT
public:
    explicit FeedDownload(QObject* parent = nullptr);
    ~FeedDownload() override;

    void setDeadline(std::chrono::milliseconds deadline);
    void setMaximumSize(qint64 bytes);
    // Keeps the validators and body of the last good answer in this folder (none by default:
    // they are kept for the object's life only). Only the address in use keeps its copy: when a
    // fetch of another address begins (or the first fetch of this object), the copies of all
    // others go.
    void setCacheDirectory(const QString& directory);

    // Starts fetching url. Returns false, and starts nothing, while a fetch is in flight.
    bool start(const QUrl& url);
    bool isRunning() const;
    // Drops the fetch in flight, if any: it hands nothing back.
    void cancel();

    static QByteArray userAgent();

Q_SIGNALS:
    void finished(const DownloadResult& result);

private:
    // Why a fetch failed: in English, and in the user's language.
    struct Cause {
        QString english;
        QString translated;
    };
    // A phrase of ours, marked with QT_TR_NOOP, with its arguments put in all at once: a "%1" in
    // one of them (a server's text) stays as it is. A Cause as the argument goes into each
    // language's phrase in that language.
    template <typename... Texts>
    static Cause because(const char* phrase, const Texts&... arguments);
    static Cause because(const char* phrase, const Cause& part);

    // Sends the request for m_url: conditional when a good answer of it is remembered.
    void send();
    // Lets go of the reply in flight.
    void dropReply();
    // What the cache keeps of url, as the remembered answer; forget() drops what is remembered.
    void recall(const QUrl& url);
    void forget();
    void onMetaDataChanged();
    void onReadyRead();
    void onRedirected(const QUrl& target);
    void onFinished();
    void finish(const DownloadResult& result);
    void fail(DownloadResult::Error error, const Cause& cause);
    // fail() if the fetch numbered `fetch` is still the one in flight.
    void failFetch(quint64 fetch, DownloadResult::Error error, const Cause& cause);
    // Fails with what the reply says went wrong.
    void failFromReply();
    void failTooLarge();
    // The reply's status line: "HTTP 404 Not Found".
    Cause httpStatus() const;

    QNetworkAccessManager* m_network = nullptr;
    QPointer<QNetworkReply> m_reply;
    QTimer* m_deadlineTimer = nullptr;
    std::chrono::milliseconds m_deadline{30000};
    qint64 m_maximumSize = 8 * 1024 * 1024;
    QUrl m_lastUrl;
    QByteArray m_lastETag;
    QByteArray m_lastModified;
    QByteArray m_lastCharset; // what the last good answer's Content-Type named
    std::optional<QByteArray> m_lastBody;
    // The remembered validators came from the cache, whose file holds the body.
    bool m_bodyInCache = false;
    std::optional<FeedCache> m_cache;
    QUrl m_cacheKept; // the address whose copy alone the cache has held since its fetch began

    // The fetch in flight.
    bool m_running = false;
    quint64 m_fetch = 0; // numbers the fetches, for work queued on behalf of one
    QUrl m_url;          // as asked for: the key of the validators
    QUrl m_currentUrl;   // where the last hop of redirects led
    QList<QUrl> m_hops;  // every address asked, in order
    bool m_conditional = false;
    QByteArray m_body;
};

template <typename... Texts>
FeedDownload::Cause FeedDownload::because(const char* phrase, const Texts&... arguments) {
    Cause cause{QString::fromUtf8(phrase), tr(phrase)};
    if constexpr (sizeof...(Texts) > 0) {
        cause.english = cause.english.arg(arguments...);
        cause.translated = cause.translated.arg(arguments...);
    }
    return cause;
}
