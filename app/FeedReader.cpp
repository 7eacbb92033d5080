#include "FeedReader.h"

#include "HtmlText.h"
#include "XMLNode.h"
#include "XMLTree.h"

#include <QStringList>

#include <utility>

namespace {

using Entry = FeedContent::Entry;

// The text of a node as an entry field: for an element, its text and CDATA sections, through
// elements only, in document order, exactly as written; for any other node, its node string.
// XHTML is read as HTML shows it: each run of whitespace between two pieces of text is one space
// (the runs between elements too, for which the tree keeps no node), and none is at either end.
QString fieldText(const XMLTree& tree, bool xhtml = false) {
    if (tree.type() != XMLKindElement)
        return tree.description();
    const XMLNode& element = *tree.node();
    // Most often the content is one piece of text.
    if (!xhtml && element.childCount == 1 &&
        (element.onlyChild->kind == XMLKindText || element.onlyChild->kind == XMLKindCDATASection))
        return element.onlyChild->stringCopy();
    QString text;
    bool blank = false;
    const auto add = [&](QStringView piece) {
        if (!xhtml) {
            text += piece;
            return;
        }
        for (const QChar c : piece) {
            if (c == u' ' || c == u'\n' || c == u'\t' || c == u'\r') {
                blank = true;
            } else {
                if (std::exchange(blank, false) && !text.isEmpty())
                    text += u' ';
                text += c;
            }
        }
    };
    // The walk keeps the index of the next child to look at and climbs back through parent
    // links, so a deeply nested document costs no stack.
    const XMLNode* current = &element;
    std::uint32_t next = 0;
    for (;;) {
        if (next == current->childCount) {
            blank |= current->blankBeforeEnd;
            if (current == &element)
                return text;
            next = current->index + 1;
            current = current->parent;
            continue;
        }
        const XMLNode& child = *current->child(next);
        blank |= child.blankBefore;
        if (child.kind == XMLKindText || child.kind == XMLKindCDATASection) {
            add(child.string());
            ++next;
        } else if (child.kind == XMLKindElement) {
            current = &child;
            next = 0;
        } else {
            ++next;
        }
    }
}

// Calls visit(child, name) for every element child of parent, in document order.
template <typename Visit> void forEachElement(const XMLTree& parent, Visit&& visit) {
    const int count = parent.count();
    for (int index = 0; index < count; ++index) {
        const XMLTree child = *parent.childAtIndex(index);
        if (child.type() == XMLKindElement)
            visit(child, *child.name());
    }
}

// Whether content holds as many entries as a feed is read for.
bool isFull(const FeedContent& content) {
    return content.entries.size() >= maximumFeedEntries;
}

void keepFirst(std::optional<XMLTree>& slot, const XMLTree& element) {
    if (!slot)
        slot = element;
}

std::optional<XMLTree> firstElementNamed(const XMLTree& parent, QStringView name) {
    std::optional<XMLTree> found;
    forEachElement(parent, [&](const XMLTree& child, const QString& childName) {
        if (childName == name)
            keepFirst(found, child);
    });
    return found;
}

// The address a relative link in element is resolved against: the feed's address, then every
// xml:base from the outermost element down to element itself, each relative to the one before.
QUrl baseOf(const XMLTree& element, const QUrl& address) {
    QStringList bases; // outermost first
    for (std::optional<XMLTree> node = element; node; node = node->parent()) {
        if (std::optional<QString> base = node->attributeNamed(QStringLiteral("xml:base")))
            bases.prepend(*base);
    }
    QUrl base = address;
    for (const QString& written : std::as_const(bases))
        base = base.resolved(QUrl(written.trimmed()));
    return base;
}

// A link as written in element, made absolute where it is relative. Nothing when it is blank; a
// text that does not parse as an address stays as written (opening it is refused later).
std::optional<QString> linkIn(const QString& text, const XMLTree& element, const QUrl& address) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    const QUrl url(trimmed);
    if (!url.isValid() || !url.isRelative())
        return text;
    return QString::fromLatin1(baseOf(element, address).resolved(url).toEncoded());
}

std::optional<QString> linkText(const std::optional<XMLTree>& element, const QUrl& address) {
    if (!element)
        return std::nullopt;
    return linkIn(fieldText(*element), *element, address);
}

// --- The three formats ---------------------------------------------------------------------

// RSS 1.0: the items among the direct children of the feed element, each read through its
// descendants, as the built-in feed has always been read.
FeedContent readRss1(const XMLTree& feed, const QUrl& address) {
    FeedContent content;
    std::optional<XMLTree> channel;
    forEachElement(feed, [&](const XMLTree& child, const QString& name) {
        if (name == u"channel")
            keepFirst(channel, child);
        if (name != u"item" || isFull(content))
            return;
        const std::optional<XMLTree> title = child.descendentNamed(QStringLiteral("title"));
        if (!title)
            return;
        Entry entry;
        if (const std::optional<XMLTree> link = child.descendentNamed(QStringLiteral("link")))
            entry.link = fieldText(*link);
        entry.title = fieldText(*title);
        if (const std::optional<XMLTree> source =
                child.descendentNamed(QStringLiteral("dc:creator")))
            entry.source = fieldText(*source);
        content.entries.append(std::move(entry));
    });
    if (channel) {
        if (const std::optional<XMLTree> title = firstElementNamed(*channel, u"title"))
            content.title = fieldText(*title);
        content.siteLink = linkText(firstElementNamed(*channel, u"link"), address);
    }
    return content;
}

// The person an RSS 2.0 author names. The element holds an e-mail address, most often with the
// name beside it: "me@example.com (Example editor)" or "Example editor <me@example.com>" give the
// name; anything else (a bare address, a name alone) stays as written.
QString personIn(const QString& author) {
    const QString written = author.trimmed();
    QStringView name;
    if (written.endsWith(u')')) {
        const qsizetype open = written.indexOf(u'(');
        if (open > 0 && written.first(open).contains(u'@'))
            name = QStringView(written).sliced(open + 1).chopped(1);
    } else if (written.endsWith(u'>')) {
        const qsizetype open = written.lastIndexOf(u'<');
        if (open > 0 && written.sliced(open).contains(u'@'))
            name = QStringView(written).first(open);
    }
    name = name.trimmed();
    if (name.size() > 1 && name.startsWith(u'"') && name.endsWith(u'"'))
        name = name.sliced(1).chopped(1).trimmed();
    return name.isEmpty() ? author : name.toString();
}

bool isPermaLink(const XMLTree& guid) {
    const std::optional<QString> permaLink = guid.attributeNamed(QStringLiteral("isPermaLink"));
    return !permaLink || permaLink->trimmed().compare(u"false", Qt::CaseInsensitive) != 0;
}

// RSS 2.0: rss/channel/item.
FeedContent readRss2(const XMLTree& rss, const QUrl& address) {
    FeedContent content;
    const std::optional<XMLTree> channel = firstElementNamed(rss, u"channel");
    if (!channel)
        return content;
    std::optional<XMLTree> feedTitle, siteLink;
    forEachElement(*channel, [&](const XMLTree& child, const QString& name) {
        if (name == u"title")
            keepFirst(feedTitle, child);
        else if (name == u"link")
            keepFirst(siteLink, child);
        if (name != u"item" || isFull(content))
            return;
        std::optional<XMLTree> title, link, guid, creator, author, otherAuthor;
        forEachElement(child, [&](const XMLTree& field, const QString& fieldName) {
            if (fieldName == u"title")
                keepFirst(title, field);
            else if (fieldName == u"link")
                keepFirst(link, field);
            else if (fieldName == u"guid")
                keepFirst(guid, field);
            else if (fieldName == u"dc:creator")
                keepFirst(creator, field);
            else if (fieldName == u"author")
                keepFirst(author, field);
            else if (fieldName == u"dc:author" || fieldName == u"itunes:author")
                keepFirst(otherAuthor, field);
        });
        if (!title)
            return;
        Entry entry{fieldText(*title), linkText(link, address), std::nullopt};
        if (!entry.link && guid && isPermaLink(*guid))
            entry.link = linkText(guid, address);
        if (creator)
            entry.source = fieldText(*creator);
        else if (author)
            entry.source = personIn(fieldText(*author));
        else if (otherAuthor)
            entry.source = fieldText(*otherAuthor);
        content.entries.append(std::move(entry));
    });
    if (feedTitle)
        content.title = fieldText(*feedTitle);
    content.siteLink = linkText(siteLink, address);
    return content;
}

// Atom 1.0: feed/entry. Its elements carry the prefix the feed element is written with, if any.
class AtomReader {
public:
    AtomReader(const QString& prefix, const QUrl& address)
        : m_entry(prefix + QLatin1String("entry")), m_title(prefix + QLatin1String("title")),
          m_link(prefix + QLatin1String("link")), m_author(prefix + QLatin1String("author")),
          m_name(prefix + QLatin1String("name")), m_address(address) {}

    FeedContent read(const XMLTree& feed) const {
        FeedContent content;
        std::optional<QString> feedAuthor;
        forEachElement(feed, [&](const XMLTree& child, const QString& name) {
            if (name == m_entry) {
                if (isFull(content))
                    return;
                if (std::optional<Entry> entry = readEntry(child))
                    content.entries.append(std::move(*entry));
            } else if (name == m_title && !content.title) {
                content.title = text(child);
            } else if (name == m_link && !content.siteLink) {
                content.siteLink = alternateLink(child);
            } else if (name == m_author && !feedAuthor) {
                feedAuthor = authorName(child);
            }
        });
        // The feed's author is the author of every entry that names none.
        for (Entry& entry : content.entries) {
            if (!entry.source)
                entry.source = feedAuthor;
        }
        return content;
    }

private:
    std::optional<Entry> readEntry(const XMLTree& element) const {
        std::optional<XMLTree> title;
        std::optional<QString> link, author;
        forEachElement(element, [&](const XMLTree& child, const QString& name) {
            if (name == m_title)
                keepFirst(title, child);
            else if (name == m_link && !link)
                link = alternateLink(child);
            else if (name == m_author && !author)
                author = authorName(child);
        });
        if (!title)
            return std::nullopt;
        return Entry{text(*title), link, author};
    }

    // A text construct. XHTML is a div whose text is the title: the markup goes with the walk
    // through elements, and the whitespace between them is text. Atom 0.3 names the types as
    // media types, and marks escaped markup with mode="escaped".
    QString text(const XMLTree& element) const {
        const QString type = element.attributeNamed(QStringLiteral("type")).value_or(QString());
        const auto is = [&](const char* name) {
            return type.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
        };
        if (is("html") || is("text/html") ||
            (element.attributeNamed(QStringLiteral("mode")) == u"escaped" && !is("text") &&
             !is("text/plain")))
            return plainText(fieldText(element));
        return fieldText(element, is("xhtml") || is("application/xhtml+xml"));
    }

    // The address of a link to the page itself (rel "alternate", or no rel at all): its href, or,
    // as Atom 0.3 feeds have it too, its text.
    std::optional<QString> alternateLink(const XMLTree& link) const {
        const std::optional<QString> rel = link.attributeNamed(QStringLiteral("rel"));
        if (rel && *rel != u"alternate")
            return std::nullopt;
        const std::optional<QString> href = link.attributeNamed(QStringLiteral("href"));
        return linkIn(href ? *href : fieldText(link), link, m_address);
    }

    std::optional<QString> authorName(const XMLTree& author) const {
        const std::optional<XMLTree> name = firstElementNamed(author, m_name);
        return name ? std::optional(fieldText(*name)) : std::nullopt;
    }

    const QString m_entry, m_title, m_link, m_author, m_name;
    const QUrl m_address;
};

} // namespace

std::optional<FeedContent> readFeed(const XMLTree& document, const QUrl& address) {
    // RSS 2.0 and Atom are told by the document's root element. RSS 1.0 is the feed element
    // wherever it stands, as the built-in feed has always been found.
    std::optional<XMLTree> root;
    forEachElement(document, [&](const XMLTree& child, const QString&) { keepFirst(root, child); });
    if (root) {
        const QString name = *root->name();
        if (name == u"rss")
            return readRss2(*root, address);
        if (name == u"feed" || name.endsWith(u":feed"))
            return AtomReader(name.chopped(4), address).read(*root);
    }
    if (const std::optional<XMLTree> feed = document.descendentNamed(QStringLiteral("rdf:RDF")))
        return readRss1(*feed, address);
    return std::nullopt;
}
