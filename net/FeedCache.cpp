#include "FeedCache.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <string_view>

namespace {

// "PLFC", then the layout's version. A file of another version is no entry: it costs one plain GET
// and is replaced by the answer to it. Version 2 added the charset.
constexpr quint32 magic = 0x504c4643;
constexpr quint32 layoutVersion = 2;
// Room for the head beside the body: the address, the two validators and the charset.
constexpr qint64 maximumHeadSize = 64 * 1024;

constexpr QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

QByteArray digestOf(const QByteArray& body) {
    return QCryptographicHash::hash(body, QCryptographicHash::Sha256);
}

// A validator goes back to the server as a header value: one line of it.
bool isHeaderValue(const QByteArray& value) {
    return !value.contains('\r') && !value.contains('\n') && !value.contains('\0');
}

// A charset's name as the download takes it from a Content-Type: an HTTP token (RFC 9110 §5.6.2),
// which is also no trouble wherever it is looked up.
bool isCharsetName(const QByteArray& name) {
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               (c != '\0' && std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos);
    });
}

} // namespace

QString FeedCache::defaultDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/Pinglark");
}

FeedCache::FeedCache(QString directory) : m_directory(std::move(directory)) {}

QString FeedCache::filePath(const QUrl& address) const {
    const QByteArray name =
        QCryptographicHash::hash(address.toEncoded(), QCryptographicHash::Sha256).toHex();
    return m_directory + u'/' + QString::fromLatin1(name.left(32)) + QStringLiteral(".feed");
}

std::optional<FeedCache::Head> FeedCache::readHead(QFile& file, const QUrl& address,
                                                   qint64 maximumSize) const {
    if (!file.open(QIODevice::ReadOnly) || file.size() > maximumSize + maximumHeadSize)
        return std::nullopt;
    QDataStream in(&file);
    in.setVersion(QDataStream::Qt_6_0);
    quint32 fileMagic = 0, version = 0;
    QByteArray storedAddress;
    Head head;
    in >> fileMagic >> version;
    if (in.status() != QDataStream::Ok || fileMagic != magic || version != layoutVersion)
        return std::nullopt;
    in >> storedAddress >> head.validators.etag >> head.validators.lastModified >>
        head.validators.charset >> head.bodySize >> head.digest;
    if (in.status() != QDataStream::Ok || storedAddress != address.toEncoded())
        return std::nullopt;
    const Validators& v = head.validators;
    if ((v.etag.isEmpty() && v.lastModified.isEmpty()) || !isHeaderValue(v.etag) ||
        !isHeaderValue(v.lastModified) || !isCharsetName(v.charset))
        return std::nullopt;
    // The body is all the rest of the file, no more and no less.
    if (head.bodySize < 0 || head.bodySize > maximumSize ||
        file.pos() + head.bodySize != file.size() || head.digest.size() != 32)
        return std::nullopt;
    return head;
}

std::optional<FeedCache::Validators> FeedCache::validators(const QUrl& address,
                                                           qint64 maximumSize) const {
    QFile file(filePath(address));
    const std::optional<Head> head = readHead(file, address, maximumSize);
    if (!head)
        return std::nullopt;
    return head->validators;
}

std::optional<QByteArray> FeedCache::body(const QUrl& address, const Validators& validators,
                                          qint64 maximumSize) const {
    QFile file(filePath(address));
    const std::optional<Head> head = readHead(file, address, maximumSize);
    if (!head || head->validators.etag != validators.etag ||
        head->validators.lastModified != validators.lastModified)
        return std::nullopt;
    const QByteArray body = file.read(head->bodySize);
    if (body.size() != head->bodySize || digestOf(body) != head->digest)
        return std::nullopt;
    return body;
}

bool FeedCache::store(const QUrl& address, const Validators& validators,
                      const QByteArray& body) const {
    if (!QDir().mkpath(m_directory) ||
        !QFile::setPermissions(m_directory, ownerOnly | QFileDevice::ExeOwner))
        return false;
    QSaveFile file(filePath(address));
    if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(ownerOnly))
        return false;
    QDataStream out(&file);
    out.setVersion(QDataStream::Qt_6_0);
    out << magic << layoutVersion << address.toEncoded() << validators.etag
        << validators.lastModified << validators.charset << qint64(body.size()) << digestOf(body);
    out.writeRawData(body.constData(), int(body.size()));
    return out.status() == QDataStream::Ok && file.commit();
}

void FeedCache::remove(const QUrl& address) const {
    QFile::remove(filePath(address));
}

void FeedCache::removeAllBut(const QUrl& address) const {
    static const QRegularExpression entryName(QStringLiteral("^[0-9a-f]{32}\\.feed$"));
    const QString kept = QFileInfo(filePath(address)).fileName();
    QDir folder(m_directory);
    for (const QString& name : folder.entryList({QStringLiteral("*.feed")}, QDir::Files)) {
        if (name != kept && entryName.match(name).hasMatch())
            folder.remove(name);
    }
}
