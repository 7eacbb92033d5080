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

// The most entries a feed is read for: the first ones in document order, the rest left unread.
// No real feed comes near it (they carry tens of entries, now and then a few hundred), and a tray
// menu of more is of no use to anyone. Without it, a document of the tiniest entries that the
// 8 MiB download cap lets through would make some 140,000 of them, and every menu item costs
// about 2 KB in Qt's menu (the action, its private data, the menu's connections to it): over
// 300 MB for one refresh.
constexpr qsizetype maximumFeedEntries = 10000;

// Reads a parsed document as RSS 1.0 (RDF), RSS 2.0 or Atom (1.0, and 0.3 as older blog engines
// serve it), up to maximumFeedEntries entries. address is where the feed finally came from, after
// any redirects: relative links in RSS 2.0 and Atom resolve against it (and xml:base). Nothing
// when the document is none of these.
std::optional<FeedContent> readFeed(const XMLTree& document, const QUrl& address);
