#include "FeedDownload.h"

#include "ServerText.h"
#include "WebAddress.h"

#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace {

// Why a fetch failed, for whoever turns it on (QT_LOGGING_RULES="pinglark.download.debug=true").
// Off by default: the refresh logs the cause that finished() carries.
Q_LOGGING_CATEGORY(lcDownload, "pinglark.download", QtInfoMsg)

// Enough for any sane site, few enough that a loop ends quickly.
constexpr int maximumRedirects = 10;
// How much Qt may read ahead of us: the size cap is checked as the bytes come, so a body far
// over the cap is stopped after little more than the cap has been read.
constexpr qint64 readAhead = 256 * 1024;

} // namespace

FeedDownload::Cause FeedDownload::because(const char* phrase, const Cause& part) {
    return {QString::fromUtf8(phrase).arg(part.english), tr(phrase).arg(part.translated)};
}

FeedDownload::FeedDownload(QObject* parent)
    : QObject(parent), m_network(new QNetworkAccessManager(this)),
      m_deadlineTimer(new QTimer(this)) {
    m_deadlineTimer->setSingleShot(true);
    connect(m_deadlineTimer, &QTimer::timeout, this, [this] {
        fail(DownloadResult::Error::Deadline,
             because(QT_TR_NOOP("no complete answer within %1 s"),
                     QString::number(double(m_deadline.count()) / 1000)));
    });
}

FeedDownload::~FeedDownload() {
    // Cancels a fetch in flight, without a word: nobody is left to tell.
    if (m_reply) {
        m_reply->disconnect(this);
        if (m_reply->error() == QNetworkReply::NoError)
            m_reply->abort();
    }
}

void FeedDownload::setDeadline(std::chrono::milliseconds deadline) {
    m_deadline = deadline;
}

void FeedDownload::setMaximumSize(qint64 bytes) {
    m_maximumSize = bytes;
}

bool FeedDownload::isRunning() const {
    return m_running;
}

QByteArray FeedDownload::userAgent() {
    return QByteArrayLiteral("Pinglark/" PINGLARK_VERSION);
}

void FeedDownload::setCacheDirectory(const QString& directory) {
    forget();
    m_cacheKept.clear();
    m_cache.emplace(directory);
}

bool FeedDownload::start(const QUrl& url) {
    if (m_running)
        return false;
    m_running = true;
    ++m_fetch;
    m_url = url;
    m_currentUrl = url;
    m_hops = {url};
    m_body.clear();
    m_conditional = false;

    if (!url.isValid() || !isHttp(url)) {
        // Qt would read file: and data: URLs; a feed comes over HTTP only. Fail the way every
        // other failure does: later, through finished().
        QMetaObject::invokeMethod(
            this,
            [this, fetch = m_fetch] {
                failFetch(fetch, DownloadResult::Error::NotHttp,
                          because(QT_TR_NOOP("not a web address: %1"), addressText(m_url)));
            },
            Qt::QueuedConnection);
        return true;
    }

    // Copies of addresses no longer in use would stay for ever: they go once, when the address
    // changes, not on every refresh.
    if (m_cache && url != m_cacheKept) {
        m_cache->removeAllBut(url);
        m_cacheKept = url;
    }
    // Read here, not before: the first fetch of a run reads no more than the file's head.
    if (m_cache && url != m_lastUrl)
        recall(url);
    send();
    // Qt's own transfer timeout restarts with every byte; this one does not.
    m_deadlineTimer->start(m_deadline);
    return true;
}

void FeedDownload::send() {
    QNetworkRequest request(m_url);
    request.setHeader(QNetworkRequest::UserAgentHeader, userAgent());
    // Each hop is checked in onRedirected(): no less safe, and HTTP only.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(maximumRedirects);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    // No Accept-Encoding of our own: when Qt sets it, Qt also decompresses.

    m_conditional = m_url == m_lastUrl && (m_lastBody || m_bodyInCache);
    if (m_conditional) {
        if (!m_lastETag.isEmpty())
            request.setRawHeader("If-None-Match", m_lastETag);
        if (!m_lastModified.isEmpty())
            request.setRawHeader("If-Modified-Since", m_lastModified);
    }

    m_reply = m_network->get(request);
    m_reply->setReadBufferSize(readAhead);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &FeedDownload::onMetaDataChanged);
    connect(m_reply, &QNetworkReply::readyRead, this, &FeedDownload::onReadyRead);
    connect(m_reply, &QNetworkReply::redirected, this, &FeedDownload::onRedirected);
    connect(m_reply, &QNetworkReply::finished, this, &FeedDownload::onFinished);
    // Qt 6.4 may report an error and never finish the reply (a gzip body that its own bomb
    // check refuses), so an error ends the fetch too: just after, once Qt is out of its error
    // path (aborting from inside it makes Qt complain), unless the fetch has ended by then.
    connect(m_reply, &QNetworkReply::errorOccurred, this, [this] {
        QMetaObject::invokeMethod(
            this,
            [this, fetch = m_fetch] {
                if (fetch == m_fetch && m_reply)
                    failFromReply();
            },
            Qt::QueuedConnection);
    });
}

void FeedDownload::cancel() {
    if (!m_running)
        return;
    m_running = false;
    ++m_fetch; // work queued for it finds another fetch
    m_deadlineTimer->stop();
    dropReply();
    m_body.clear();
}

void FeedDownload::recall(const QUrl& url) {
    forget();
    if (const std::optional<FeedCache::Validators> kept = m_cache->validators(url, m_maximumSize)) {
        m_lastUrl = url;
        m_lastETag = kept->etag;
        m_lastModified = kept->lastModified;
        m_lastCharset = kept->charset;
        m_bodyInCache = true;
    }
}

void FeedDownload::forget() {
    m_lastUrl.clear();
    m_lastETag.clear();
    m_lastModified.clear();
    m_lastCharset.clear();
    m_lastBody.reset();
    m_bodyInCache = false;
}

void FeedDownload::onMetaDataChanged() {
    // A plain body announced as too large is refused before it is read. (With a Content-Encoding
    // the announced length is the compressed one; the count in onReadyRead decides.)
    const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && !m_reply->hasRawHeader("Content-Encoding") &&
        length.toLongLong() > m_maximumSize)
        failTooLarge();
}

void FeedDownload::onReadyRead() {
    // Qt hands over the bytes decompressed, so this counts what the body really is.
    m_body += m_reply->read(m_maximumSize + 1 - m_body.size());
    if (m_body.size() > m_maximumSize)
        failTooLarge();
}

void FeedDownload::onRedirected(const QUrl& target) {
    if (!isHttp(target)) {
        fail(DownloadResult::Error::Redirect,
             because(QT_TR_NOOP("redirect to %1 refused"), addressText(target)));
        return;
    }
    if (m_currentUrl.scheme() == QLatin1String("https") &&
        target.scheme() == QLatin1String("http")) {
        fail(DownloadResult::Error::Redirect,
             because(QT_TR_NOOP("redirect from HTTPS to %1 refused"), addressText(target)));
        return;
    }
    if (m_hops.contains(target)) {
        // Qt 6.4 goes round a loop a few times and then ends the reply as if nothing had
        // gone wrong, with no final answer at all.
        fail(DownloadResult::Error::Redirect,
             because(QT_TR_NOOP("redirect loop at %1"), addressText(target)));
        return;
    }
    m_hops.append(target);
    m_currentUrl = target;
    m_body.clear();
    Q_EMIT m_reply->redirectAllowed();
}

void FeedDownload::onFinished() {
    if (m_reply->error() != QNetworkReply::NoError) {
        failFromReply();
        return;
    }
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status == 304 && m_conditional) {
        // Only an answer to our own conditional request says which body is meant.
        if (!m_lastBody && m_bodyInCache)
            m_lastBody = m_cache->body(m_url, {m_lastETag, m_lastModified}, m_maximumSize);
        m_bodyInCache = false;
        if (m_lastBody) {
            finish(DownloadResult::success(*m_lastBody, m_currentUrl, m_lastCharset));
            return;
        }
        // The kept copy went bad since its validators were read: ask again, plainly.
        if (m_cache)
            m_cache->remove(m_url);
        forget();
        dropReply();
        m_currentUrl = m_url;
        m_hops = {m_url};
        m_body.clear();
        send();
        return;
    }
    if (status == 304) {
        fail(DownloadResult::Error::HttpStatus,
             //: %1 is "HTTP 304 Not Modified": an answer that means "use your copy", sent when
             //: there is none
             because(QT_TR_NOOP("%1 without an earlier copy"), httpStatus()));
        return;
    }
    if (status < 200 || status > 299) {
        fail(DownloadResult::Error::HttpStatus, httpStatus());
        return;
    }
    onReadyRead();
    if (!m_running)
        return; // over the cap

    // Remember the validators of this good answer for the next fetch of the same URL.
    const QByteArray etag = m_reply->rawHeader("ETag");
    const QByteArray lastModified = m_reply->rawHeader("Last-Modified");
    const QByteArray charset = charsetOf(m_reply->rawHeader("Content-Type"));
    forget();
    if (!etag.isEmpty() || !lastModified.isEmpty()) {
        m_lastUrl = m_url;
        m_lastETag = etag;
        m_lastModified = lastModified;
        m_lastCharset = charset;
        m_lastBody = m_body;
        if (m_cache && !m_cache->store(m_url, {etag, lastModified, charset}, m_body))
            qCDebug(lcDownload) << "could not keep the answer in" << m_cache->directory();
    } else if (m_cache) {
        m_cache->remove(m_url);
    }
    finish(DownloadResult::success(m_body, m_currentUrl, charset));
}

FeedDownload::Cause FeedDownload::httpStatus() const {
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QString reason =
        plain(QString::fromLatin1(
                  m_reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray()),
              60);
    // The reason phrase is the server's: it goes in as it is, in every language.
    return reason.isEmpty() ? because(QT_TR_NOOP("HTTP %1"), QString::number(status))
                            //: %1 is the status code, %2 the server's own words for it
                            : because(QT_TR_NOOP("HTTP %1 %2"), QString::number(status), reason);
}

void FeedDownload::failTooLarge() {
    // The cap in the largest unit that gives a whole number.
    constexpr qint64 mib = 1024 * 1024;
    Cause cause;
    if (m_maximumSize % mib == 0)
        cause = because(QT_TR_NOOP("the document is larger than %1 MiB"),
                        QString::number(m_maximumSize / mib));
    else if (m_maximumSize % 1024 == 0)
        cause = because(QT_TR_NOOP("the document is larger than %1 KiB"),
                        QString::number(m_maximumSize / 1024));
    else
        cause = because(QT_TR_NOOP("the document is larger than %1 bytes"),
                        QString::number(m_maximumSize));
    fail(DownloadResult::Error::TooLarge, cause);
}

void FeedDownload::failFromReply() {
    using Error = DownloadResult::Error;
    switch (m_reply->error()) {
    case QNetworkReply::TooManyRedirectsError:
        fail(Error::Redirect,
             because(QT_TR_NOOP("more than %1 redirects"), QString::number(maximumRedirects)));
        return;
    case QNetworkReply::ProtocolUnknownError:
    case QNetworkReply::InsecureRedirectError: {
        // Qt refuses a redirect to a scheme it cannot fetch before asking us.
        const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status < 300 || status > 399)
            break;
        const QByteArray location = m_reply->rawHeader("Location");
        if (location.isEmpty())
            //: %1 is a redirect such as "HTTP 302 Found" that names no address to go to
            fail(Error::Redirect, because(QT_TR_NOOP("%1 without a target"), httpStatus()));
        else
            fail(Error::Redirect,
                 because(QT_TR_NOOP("redirect to %1 refused"),
                         addressText(m_currentUrl.resolved(QUrl::fromEncoded(location)))));
        return;
    }
    case QNetworkReply::SslHandshakeFailedError:
        fail(Error::Tls, because(QT_TR_NOOP("TLS: %1"), plain(m_reply->errorString(), 200)));
        return;
    case QNetworkReply::HostNotFoundError:
        fail(Error::HostNotFound, because(QT_TR_NOOP("host not found: %1"), m_currentUrl.host()));
        return;
    case QNetworkReply::ConnectionRefusedError:
        fail(Error::ConnectionRefused, because(QT_TR_NOOP("connection refused")));
        return;
    default:
        break;
    }
    // An answer with an error status: its status line says more than Qt's error does.
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 300)
        fail(Error::HttpStatus, httpStatus());
    else if (m_reply->error() == QNetworkReply::UnknownContentError)
        // A body Qt cannot decode: a broken gzip stream, or one its own check takes for a bomb.
        fail(Error::Network, because(QT_TR_NOOP("could not unpack the compressed document")));
    else {
        const QString text = plain(m_reply->errorString(), 200); // Qt's words, as Qt gives them
        fail(Error::Network, {text, text});
    }
}

void FeedDownload::fail(DownloadResult::Error error, const Cause& cause) {
    if (!m_running)
        return;
    qCDebug(lcDownload) << "fetch of" << m_url << "failed:" << cause.english;
    finish(DownloadResult::failure(error, cause.english, cause.translated));
}

void FeedDownload::failFetch(quint64 fetch, DownloadResult::Error error, const Cause& cause) {
    if (fetch == m_fetch)
        fail(error, cause);
}

void FeedDownload::finish(const DownloadResult& result) {
    if (!m_running)
        return;
    m_running = false;
    m_deadlineTimer->stop();
    dropReply();
    m_body.clear();
    // Last: a receiver may start the next fetch from its slot.
    Q_EMIT finished(result);
}

void FeedDownload::dropReply() {
    if (QNetworkReply* reply = m_reply.data()) {
        reply->disconnect(this);
        // Closes the connection at once when the transfer is still going. After an error Qt
        // ends the transfer itself and warns about a second one; deleting the reply suffices.
        if (reply->error() == QNetworkReply::NoError)
            reply->abort();
        reply->deleteLater();
        m_reply.clear();
    }
}
