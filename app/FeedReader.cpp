#include "FeedReader.h"

#include "XMLParserInternal.h"
#include "XMLTree.h"

#include <QByteArrayView>
#include <QHash>
#include <QStringList>
#include <QVarLengthArray>

namespace {

using Entry = FeedContent::Entry;

// The text of a node as an entry field: for an element, its text and CDATA sections, through
// elements only, in document order, exactly as written; for any other node, its node string.
QString fieldText(const XMLTree& node) {
    if (node.type() != XMLKindElement)
        return node.description();
    if (node.count() == 1) {
        // Most often the content is one piece of text.
        const XMLTree only = *node.childAtIndex(0);
        if (only.type() == XMLKindText || only.type() == XMLKindCDATASection)
            return only.description();
    }
    QString text;
    // The walk keeps, for every level it went down, the index of the next child to look at; it
    // climbs back through parent links, so a deeply nested document costs no stack.
    XMLTree current = node;
    QVarLengthArray<int, 16> next{0};
    while (!next.isEmpty()) {
        const std::optional<XMLTree> child = current.childAtIndex(next.back()++);
        if (!child) {
            next.removeLast();
            if (!next.isEmpty())
                current = *current.parent();
            continue;
        }
        const int kind = child->type();
        if (kind == XMLKindText || kind == XMLKindCDATASection) {
            text += child->description();
        } else if (kind == XMLKindElement) {
            current = *child;
            next.append(0);
        }
    }
    return text;
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

// --- HTML in Atom titles ----------------------------------------------------------------------

// The named character references of HTML 4 / XHTML 1.0, taken from the table the XML parser
// reads for undeclared entities, and the five that XML predefines.
const QHash<QString, char32_t>& namedCharacters() {
    static const QHash<QString, char32_t> table = [] {
        QHash<QString, char32_t> names{{QStringLiteral("amp"), U'&'},
                                       {QStringLiteral("lt"), U'<'},
                                       {QStringLiteral("gt"), U'>'},
                                       {QStringLiteral("quot"), U'"'},
                                       {QStringLiteral("apos"), U'\''}};
        // Declarations of the form <!ENTITY name "&#number;">.
        const QByteArrayView dtd(XMLXHTMLEntityDTD, qsizetype(XMLXHTMLEntityDTDSize));
        const QByteArrayView open("<!ENTITY ");
        for (qsizetype at = dtd.indexOf(open); at >= 0; at = dtd.indexOf(open, at)) {
            at += open.size();
            const qsizetype space = dtd.indexOf(' ', at);
            const qsizetype number = dtd.indexOf("&#", space) + 2;
            const qsizetype end = dtd.indexOf(';', number);
            names.insert(QString::fromLatin1(dtd.sliced(at, space - at)),
                         char32_t(dtd.sliced(number, end - number).toUInt()));
        }
        return names;
    }();
    return table;
}

// The character of the reference that starts at html[at] ('&'), and its length; nothing when
// it is not a complete reference.
std::optional<std::pair<char32_t, qsizetype>> characterReference(QStringView html, qsizetype at) {
    const qsizetype end = html.indexOf(u';', at + 1);
    // The longest name in the table has 8 letters; a numeric reference at most 8 digits.
    if (end < 0 || end - at > 10)
        return std::nullopt;
    const QStringView body = html.sliced(at + 1, end - at - 1);
    if (body.startsWith(u'#')) {
        const bool hex = body.size() > 1 && (body[1] == u'x' || body[1] == u'X');
        bool ok = false;
        const uint value = body.sliced(hex ? 2 : 1).toUInt(&ok, hex ? 16 : 10);
        if (!ok || body.sliced(hex ? 2 : 1).startsWith(u'+'))
            return std::nullopt;
        // What cannot be a character becomes the replacement character.
        const bool usable = value != 0 && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF);
        return std::pair{usable ? char32_t(value) : U'\uFFFD', end - at + 1};
    }
    const auto found = namedCharacters().constFind(body.toString());
    if (found == namedCharacters().cend())
        return std::nullopt;
    return std::pair{*found, end - at + 1};
}

// The plain text of an HTML fragment: tags, comments and declarations removed, character
// references decoded. A '<' that starts no tag, and a reference that is not complete or not
// known, stay as they are.
QString plainText(QStringView html) {
    QString text;
    text.reserve(html.size());
    qsizetype at = 0;
    while (at < html.size()) {
        const QChar c = html[at];
        if (c == u'<' && at + 1 < html.size() &&
            (html[at + 1].isLetter() || html[at + 1] == u'/' || html[at + 1] == u'!' ||
             html[at + 1] == u'?')) {
            // To the '>' that ends the tag, over quoted attribute values.
            QChar quote;
            for (++at; at < html.size(); ++at) {
                if (!quote.isNull()) {
                    if (html[at] == quote)
                        quote = QChar();
                } else if (html[at] == u'"' || html[at] == u'\'') {
                    quote = html[at];
                } else if (html[at] == u'>') {
                    break;
                }
            }
            ++at;
            continue;
        }
        if (c == u'&') {
            if (const auto reference = characterReference(html, at)) {
                const char32_t character = reference->first;
                text += QString::fromUcs4(&character, 1);
                at += reference->second;
                continue;
            }
        }
        text += c;
        ++at;
    }
    return text;
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
        std::optional<XMLTree> title, link, guid, creator, author;
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
        });
        if (!title)
            return;
        Entry entry{fieldText(*title), linkText(link, address), std::nullopt};
        if (!entry.link && guid && isPermaLink(*guid))
            entry.link = linkText(guid, address);
        if (creator || author)
            entry.source = fieldText(creator ? *creator : *author);
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
    // through elements.
    QString text(const XMLTree& element) const {
        const std::optional<QString> type = element.attributeNamed(QStringLiteral("type"));
        if (type == u"html")
            return plainText(fieldText(element));
        return fieldText(element);
    }

    // The href of a link to the page itself: rel "alternate", or no rel at all.
    std::optional<QString> alternateLink(const XMLTree& link) const {
        const std::optional<QString> rel = link.attributeNamed(QStringLiteral("rel"));
        if (rel && *rel != u"alternate")
            return std::nullopt;
        const std::optional<QString> href = link.attributeNamed(QStringLiteral("href"));
        return href ? linkIn(*href, link, m_address) : std::nullopt;
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
