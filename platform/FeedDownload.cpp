#include "FeedDownload.h"

#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace {

// Why a fetch failed, for whoever turns it on (QT_LOGGING_RULES="pinglark.download.debug=true").
// Off by default: the refresh writes the one line a user sees.
Q_LOGGING_CATEGORY(lcDownload, "pinglark.download", QtInfoMsg)

// Enough for any sane site, few enough that a loop ends quickly.
constexpr int maximumRedirects = 10;
// How much Qt may read ahead of us: the size cap is checked as the bytes come, so a body far
// over the cap is stopped after little more than the cap has been read.
constexpr qint64 readAhead = 256 * 1024;

bool isHttp(const QUrl& url) {
    return url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
}

} // namespace

FeedDownload::FeedDownload(QObject* parent)
    : QObject(parent), m_network(new QNetworkAccessManager(this)),
      m_deadlineTimer(new QTimer(this)) {
    m_deadlineTimer->setSingleShot(true);
    connect(m_deadlineTimer, &QTimer::timeout, this, [this] { fail("deadline passed"); });
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

bool FeedDownload::start(const QUrl& url) {
    if (m_running)
        return false;
    m_running = true;
    ++m_fetch;
    m_url = url;
    m_currentUrl = url;
    m_body.clear();
    m_conditional = false;

    if (!url.isValid() || !isHttp(url)) {
        // Qt would read file: and data: URLs; a feed comes over HTTP only. Fail the way every
        // other failure does: later, through finished().
        QMetaObject::invokeMethod(
            this, [this, fetch = m_fetch] { failFetch(fetch, "not an HTTP URL"); },
            Qt::QueuedConnection);
        return true;
    }

    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, userAgent());
    // Each hop is checked in onRedirected(): no less safe, and HTTP only.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(maximumRedirects);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    // No Accept-Encoding of our own: when Qt sets it, Qt also decompresses.

    if (m_lastBody && url == m_lastUrl) {
        if (!m_lastETag.isEmpty())
            request.setRawHeader("If-None-Match", m_lastETag);
        if (!m_lastModified.isEmpty())
            request.setRawHeader("If-Modified-Since", m_lastModified);
        m_conditional = true;
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
            this, [this, fetch = m_fetch] { failFetch(fetch, "network error"); },
            Qt::QueuedConnection);
    });
    // Qt's own transfer timeout restarts with every byte; this one does not.
    m_deadlineTimer->start(m_deadline);
    return true;
}

void FeedDownload::onMetaDataChanged() {
    // A plain body announced as too large is refused before it is read. (With a Content-Encoding
    // the announced length is the compressed one; the count in onReadyRead decides.)
    const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && !m_reply->hasRawHeader("Content-Encoding") &&
        length.toLongLong() > m_maximumSize)
        fail("announced body over the size cap");
}

void FeedDownload::onReadyRead() {
    // Qt hands over the bytes decompressed, so this counts what the body really is.
    m_body += m_reply->read(m_maximumSize + 1 - m_body.size());
    if (m_body.size() > m_maximumSize)
        fail("body over the size cap");
}

void FeedDownload::onRedirected(const QUrl& target) {
    if (!isHttp(target)) {
        fail("redirect to a scheme other than HTTP");
        return;
    }
    if (m_currentUrl.scheme() == QLatin1String("https") &&
        target.scheme() == QLatin1String("http")) {
        fail("redirect from HTTPS to HTTP");
        return;
    }
    m_currentUrl = target;
    m_body.clear();
    Q_EMIT m_reply->redirectAllowed();
}

void FeedDownload::onFinished() {
    if (m_reply->error() != QNetworkReply::NoError) {
        qCDebug(lcDownload) << "fetch of" << m_url << "failed:" << m_reply->errorString();
        fail("network error");
        return;
    }
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status == 304) {
        // Only an answer to our own conditional request says which body is meant.
        if (m_conditional && m_lastBody)
            finish(m_lastBody);
        else
            fail("304 without a remembered body");
        return;
    }
    if (status < 200 || status > 299) {
        fail("HTTP status other than 2xx or 304");
        return;
    }
    onReadyRead();
    if (!m_running)
        return; // over the cap

    // Remember the validators of this good answer for the next fetch of the same URL.
    const QByteArray etag = m_reply->rawHeader("ETag");
    const QByteArray lastModified = m_reply->rawHeader("Last-Modified");
    if (!etag.isEmpty() || !lastModified.isEmpty()) {
        m_lastUrl = m_url;
        m_lastETag = etag;
        m_lastModified = lastModified;
        m_lastBody = m_body;
    } else {
        m_lastUrl.clear();
        m_lastETag.clear();
        m_lastModified.clear();
        m_lastBody.reset();
    }
    finish(m_body);
}

void FeedDownload::fail(const char* why) {
    if (!m_running)
        return;
    qCDebug(lcDownload) << "fetch of" << m_url << "failed:" << why;
    finish(std::nullopt);
}

void FeedDownload::failFetch(quint64 fetch, const char* why) {
    if (fetch == m_fetch)
        fail(why);
}

void FeedDownload::finish(std::optional<QByteArray> body) {
    if (!m_running)
        return;
    m_running = false;
    m_deadlineTimer->stop();
    if (QNetworkReply* reply = m_reply.data()) {
        reply->disconnect(this);
        // Closes the connection at once when the transfer is still going. After an error Qt
        // ends the transfer itself and warns about a second one; deleting the reply suffices.
        if (reply->error() == QNetworkReply::NoError)
            reply->abort();
        reply->deleteLater();
        m_reply.clear();
    }
    m_body.clear();
    // Last: a receiver may start the next fetch from its slot.
    Q_EMIT finished(body);
}
