#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// Feed documents for tests, in the three formats: a channel (or the feed's own title and link),
// then one item (entry) per entry with its title, link and creator, each of which may be left out.
namespace FeedFixture {

struct Entry {
    std::optional<QString> title;
    std::optional<QString> link;
    std::optional<QString> creator;
};

// The RSS 1.0 document for these entries, in this order. Texts are escaped.
QByteArray rdf(const QList<Entry>& entries,
               const QString& channelTitle = QStringLiteral("Veltrano"));

// The same entries as RSS 2.0 (rss/channel/item: title, link, dc:creator) and as Atom 1.0
// (feed/entry: title, link href, author/name).
QByteArray rss2(const QList<Entry>& entries,
                const QString& channelTitle = QStringLiteral("Veltrano"));
QByteArray atom(const QList<Entry>& entries, const QString& feedTitle = QStringLiteral("Veltrano"));

// Escapes &, <, > and quotes for XML text and attribute values.
inline QByteArray escaped(const QString& text) {
    return text.toHtmlEscaped().toUtf8();
}

} // namespace FeedFixture
