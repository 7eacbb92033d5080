#pragma once

#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

class XMLTree;

// What a feed document says, whatever its format: its entries in document order, and the feed's
// own title and site link.
struct FeedContent {
    struct Entry {
        QString title;
        std::optional<QString> link;
        std::optional<QString> source;
    };
    QList<Entry> entries;
    std::optional<QString> title;
    std::optional<QString> siteLink;
};

// Reads a parsed document as RSS 1.0 (RDF), RSS 2.0 or Atom 1.0. address is where the feed was
// downloaded from: relative links in RSS 2.0 and Atom resolve against it (and xml:base). Nothing
// when the document is none of the three.
std::optional<FeedContent> readFeed(const XMLTree& document, const QUrl& address);
