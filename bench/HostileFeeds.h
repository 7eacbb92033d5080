#pragma once

// Feed bodies that the download cap lets through, ordinary and hostile, for the benchmarks of what
// a refresh costs in memory and in time.

#include "FeedFixture.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace HostileFeeds {

constexpr qint64 bodyCap = 8 * 1024 * 1024;

// Bodies of hostile feeds: unit repeated as often as the download cap lets it be, inside the root
// element after an ordinary entry, or inside that entry's title.
enum class Where { Root, Title };
inline QByteArray upToCap(Where where, const QByteArray& unit, const QByteArray& prolog = {}) {
    const QByteArray entry = "<item><title>t</title><link>http://x/1</link></item>";
    const QByteArray head = prolog + "<rdf:RDF>" + (where == Where::Root ? entry : entry.left(13));
    const QByteArray tail = (where == Where::Root ? QByteArray() : entry.mid(13)) + "</rdf:RDF>";
    return head + unit.repeated((bodyCap - head.size() - tail.size()) / unit.size()) + tail;
}

inline QByteArray nested(int depth) {
    return QByteArray("<b>").repeated(depth) + QByteArray("</b>").repeated(depth);
}

// An element of `count` attributes; their names differ from each other.
inline QByteArray attributes(int count) {
    QByteArray element = "<e";
    for (int i = 0; i < count; ++i)
        element += " a" + QByteArray::number(i, 36) + "=\"\"";
    return element + "/>";
}

inline QByteArray entityDeclaration(const QByteArray& replacement) {
    return "<!DOCTYPE rdf:RDF [<!ENTITY e \"" + replacement + "\">]>";
}

// The longest ordinary feed under the cap: short entries, as many as fit.
inline QByteArray largeFeedBody() {
    QList<FeedFixture::Entry> list;
    QByteArray body;
    for (int n = 0;; n += 1000) {
        for (int i = n; i < n + 1000; ++i)
            list.append({QStringLiteral("Entry %1").arg(i),
                         QStringLiteral("http://news.example/%1").arg(i), QStringLiteral("A")});
        QByteArray next = FeedFixture::rdf(list);
        if (next.size() > bodyCap)
            return body;
        body = std::move(next);
    }
}

// An ordinary feed of the tiniest entries, as many as the cap lets through: RSS 1.0, or RSS 2.0.
inline QByteArray tinyEntries(bool rss2) {
    const QByteArray head = rss2 ? "<rss><channel>" : "<rdf:RDF>";
    const QByteArray tail = rss2 ? "</channel></rss>" : "</rdf:RDF>";
    QByteArray body = head;
    for (int n = 0;; ++n) {
        const QByteArray number = QByteArray::number(n, 36);
        const QByteArray item =
            "<item><title>" + number + "</title><link>http://x/" + number + "</link></item>\n";
        if (body.size() + item.size() + tail.size() > bodyCap)
            return body + tail;
        body += item;
    }
}

} // namespace HostileFeeds
