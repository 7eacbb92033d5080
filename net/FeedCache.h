#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>

class QFile;

// What is kept of each feed address between runs: the validators (ETag, Last-Modified) of its last
// good answer, the charset its Content-Type named and that answer's body, so that the first
// request after a restart can be conditional and a 304 still has a document to show, read as it
// was read the first time.
//
// One file per address in the folder, named after a hash of the address, which is also written
// inside and checked on every read: a file that is not this address's (another one's, truncated,
// damaged, unreadable) is no entry at all. Files are written whole or not at all, readable by the
// user alone.
class FeedCache {
public:
    struct Validators {
        QByteArray etag;
        QByteArray lastModified;
        // Not a validator, but kept with them for the same reason: a 304 leaves it as the body's
        // answer had it. An HTTP token, or empty when the answer named none.
        QByteArray charset{};
    };

    // $XDG_CACHE_HOME/Pinglark (~/.cache/Pinglark when XDG_CACHE_HOME is unset).
    static QString defaultDirectory();

    explicit FeedCache(QString directory);

    QString directory() const { return m_directory; }
    QString filePath(const QUrl& address) const;

    // The validators (and charset) of address's entry, when it holds a body of at most maximumSize
    // bytes. Reads only the file's head: the body is read when a 304 asks for it.
    std::optional<Validators> validators(const QUrl& address, qint64 maximumSize) const;
    // The body of address's entry, when the entry is sound and still has these validators (the
    // charset is not compared).
    std::optional<QByteArray> body(const QUrl& address, const Validators& validators,
                                   qint64 maximumSize) const;

    // Replaces address's entry; false when it could not be written (the old one then stays).
    bool store(const QUrl& address, const Validators& validators, const QByteArray& body) const;
    void remove(const QUrl& address) const;
    // Removes the entries of every other address: the files named as entries are, nothing else
    // in the folder.
    void removeAllBut(const QUrl& address) const;

private:
    struct Head {
        Validators validators;
        qint64 bodySize = 0;
        QByteArray digest;
    };
    // The head of the entry in file, positioned at the start of the body; nothing when the file
    // is not a sound entry for address.
    std::optional<Head> readHead(QFile& file, const QUrl& address, qint64 maximumSize) const;

    QString m_directory;
};
