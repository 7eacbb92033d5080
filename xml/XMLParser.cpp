// Builds the node tree from expat's events.
//
// expat checks XML 1.0 well-formedness; this file turns its events into nodes. There is no
// namespace processing: names stay as written. Character data that is only whitespace makes no
// node (the nodes around it note that it stood there). Character references and the predefined
// entities are folded into the text around them.
//
// Building. A node that is complete goes straight into its parent's list of children when the
// parent closes; until then the children of an open node are chained backwards through their
// parent links, so that building needs no list of its own.

#include "XMLTreeBuilder.h"

#include <QHashFunctions>

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace {

bool isXmlSpace(char c) {
    return c == ' ' || c == '\n' || c == '\t' || c == '\r';
}

} // namespace

XMLTreeBuilder::XMLTreeBuilder(XML_Parser parser, bool wantEntityTable)
    : m_parser(parser), m_wantEntityTable(wantEntityTable) {
    XMLChunk* chunk = nullptr;
    m_document = new (m_store.allocate(sizeof(XMLNode), chunk)) XMLNode(XMLKindDocument, chunk);
    m_open.push_back({m_document});
}

// A refused document is taken apart: the children of every node still open, innermost first,
// each with the subtree already below it, and then the document node.
XMLTreeBuilder::~XMLTreeBuilder() {
    for (; !m_open.empty(); m_open.pop_back()) {
        for (XMLNode* child = m_open.back().lastChild; child;) {
            XMLNode* previous = std::exchange(child->parent, nullptr);
            XMLReleaseNode(child);
            child = previous;
        }
    }
    XMLReleaseNode(m_document);
}

void XMLTreeBuilder::install() {
    XML_SetUserData(m_parser, this);
    XML_SetElementHandler(m_parser, &XMLTreeBuilder::onStartElement, &XMLTreeBuilder::onEndElement);
    XML_SetCharacterDataHandler(m_parser, &XMLTreeBuilder::onCharacters);
    XML_SetCdataSectionHandler(m_parser, &XMLTreeBuilder::onStartCdata,
                               &XMLTreeBuilder::onEndCdata);
    XML_SetCommentHandler(m_parser, &XMLTreeBuilder::onComment);
    XML_SetProcessingInstructionHandler(m_parser, &XMLTreeBuilder::onProcessingInstruction);
    XML_SetSkippedEntityHandler(m_parser, &XMLTreeBuilder::onSkippedEntity);
    XML_SetDoctypeDeclHandler(m_parser, &XMLTreeBuilder::onStartDoctype,
                              &XMLTreeBuilder::onEndDoctype);
    XML_SetXmlDeclHandler(m_parser, &XMLTreeBuilder::onXmlDecl);
    XML_SetExternalEntityRefHandler(m_parser, &XMLTreeBuilder::onExternalEntity);
    XML_UseForeignDTD(m_parser, XML_TRUE);
    XML_SetParamEntityParsing(m_parser, XML_PARAM_ENTITY_PARSING_ALWAYS);
}

// The finished tree, or null when the document was refused.
XMLNodePtr XMLTreeBuilder::finish() {
    if (m_failed || m_open.size() != 1)
        return nullptr;
    close();
    // The builder's hold on the document becomes the pointer's.
    XMLNode* document = std::exchange(m_document, nullptr);
    return XMLNodePtr(document, [](const XMLNode* node) { XMLReleaseNode(node); });
}

// The document's one copy of a name; null, and the document refused, past the limits. A small
// open-addressing table, keyed by the UTF-8 bytes: documents use few distinct names, and this
// runs for every element and attribute. The hash is Qt's seeded one, so that a document
// cannot make its names collide on purpose.
const QString* XMLTreeBuilder::intern(const XML_Char* name) {
    const std::size_t length = std::strlen(name);
    const std::size_t hash = qHashBits(name, length, QHashSeed::globalSeed());
    if (2 * (m_nameCount + 1) > m_nameSlots.size())
        growNames();
    const std::size_t mask = m_nameSlots.size() - 1;
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
        NameSlot& entry = m_nameSlots[slot];
        if (!entry.name) {
            if (m_nameCount == MaxNames) {
                refuse();
                return nullptr;
            }
            if (!chargeTree(std::size_t(NameCost) + 3 * length))
                return nullptr;
            entry = {hash, QByteArray(name, qsizetype(length)),
                     m_store.keepName(QString::fromUtf8(name, qsizetype(length)))};
            ++m_nameCount;
            return entry.name;
        }
        if (entry.hash == hash && std::size_t(entry.bytes.size()) == length &&
            std::memcmp(entry.bytes.constData(), name, length) == 0)
            return entry.name;
    }
}

void XMLTreeBuilder::growNames() {
    std::vector<NameSlot> old(std::max<std::size_t>(64, 2 * m_nameSlots.size()));
    old.swap(m_nameSlots);
    const std::size_t mask = m_nameSlots.size() - 1;
    for (NameSlot& entry : old) {
        if (!entry.name)
            continue;
        std::size_t slot = entry.hash & mask;
        while (m_nameSlots[slot].name)
            slot = (slot + 1) & mask;
        m_nameSlots[slot] = std::move(entry);
    }
}

// UTF-8 from expat (always well-formed) into UTF-16 at out, which has room for size + 1
// units (what the decoder may ask for); the number of units written.
std::size_t XMLTreeBuilder::decode(char16_t* out, const char* bytes, std::size_t size) {
    // ASCII, by far the most common, is widened here, sixteen bytes at a time where it can
    // be; Qt's decoder takes over from the first byte outside it.
    std::size_t done = 0;
    for (; done + 16 <= size; done += 16) {
        std::uint64_t first = 0;
        std::uint64_t second = 0;
        std::memcpy(&first, bytes + done, 8);
        std::memcpy(&second, bytes + done + 8, 8);
        if ((first | second) & 0x8080808080808080u)
            break;
        for (std::size_t i = done; i < done + 16; ++i)
            out[i] = char16_t(static_cast<unsigned char>(bytes[i]));
    }
    for (; done < size && static_cast<unsigned char>(bytes[done]) < 0x80; ++done)
        out[done] = char16_t(bytes[done]);
    if (done == size)
        return size;
    QChar* const begin = reinterpret_cast<QChar*>(out + done);
    QChar* const end =
        m_decoder.appendToBuffer(begin, QByteArrayView(bytes + done, qsizetype(size - done)));
    return done + std::size_t(end - begin);
}

// A node whose node string, made of `size` bytes of UTF-8 already counted as characters,
// lies right after it; the node is added to the open node's children. Null when the document
// is refused.
XMLNode* XMLTreeBuilder::addNode(XMLNodeKind kind, const char* bytes, std::size_t size) {
    const std::size_t room = sizeof(XMLNode) + (size + 1) * sizeof(char16_t);
    XMLChunk* chunk = nullptr;
    void* block = allocate(room, chunk);
    if (!block)
        return nullptr;
    auto* node = new (block) XMLNode(kind, chunk);
    node->length = std::uint32_t(decode(reinterpret_cast<char16_t*>(node + 1), bytes, size));
    shrink(block, room, sizeof(XMLNode) + node->length * sizeof(char16_t));
    append(node);
    return m_failed ? nullptr : node;
}

XMLNode* XMLTreeBuilder::addNode(XMLNodeKind kind, const char* text) {
    const std::size_t size = std::strlen(text);
    return chargeCharacters(size) ? addNode(kind, text, size) : nullptr;
}

// The node joins the children of the open node, at the end of their chain; it counts its
// place in the list they will move to.
void XMLTreeBuilder::append(XMLNode* node) {
    OpenNode& open = m_open.back();
    node->blankBefore = std::exchange(m_blankPending, false);
    node->parent = std::exchange(open.lastChild, node);
    ++open.childCount;
    chargeTree(sizeof(XMLNode*)); // NOLINT(bugprone-sizeof-expression): its place in the list
}

// The open node's children move into a list of exactly their number, or into the node itself
// when there is one, and get their parent.
void XMLTreeBuilder::close() {
    const OpenNode open = m_open.back();
    m_open.pop_back();
    open.node->blankBeforeEnd = std::exchange(m_blankPending, false);
    XMLNode* child = open.lastChild;
    if (open.childCount == 1) {
        open.node->onlyChild = child;
        child->parent = open.node;
    } else if (open.childCount > 1) {
        XMLNode** list = m_store.allocateChildList(open.childCount);
        for (std::uint32_t i = open.childCount; i-- > 0;) {
            list[i] = child;
            child->index = i;
            child = std::exchange(child->parent, open.node);
        }
        open.node->childList = list;
    }
    open.node->childCount = open.childCount;
}

// Character data arrives in pieces; adjacent pieces make one text node.
void XMLTreeBuilder::flushText() {
    if (m_text.empty())
        return;
    if (std::all_of(m_text.begin(), m_text.end(), isXmlSpace))
        m_blankPending = true;
    else
        addNode(XMLKindText, m_text.data(), m_text.size());
    m_text.clear();
}

void XMLCALL XMLTreeBuilder::onStartElement(void* userData, const XML_Char* name,
                                            const XML_Char** atts) {
    XMLTreeBuilder& b = self(userData);
    if (b.m_failed)
        return;
    b.flushText();
    if (b.m_open.size() > MaxDepth) // the document node and the elements open
        return b.refuse();
    // Only the attributes written in the tag: none that a DTD would add by default.
    const int specified = std::max(0, XML_GetSpecifiedAttributeCount(b.m_parser));
    const std::size_t attributes = std::size_t(specified / 2);
    // The names of one tag's attributes all differ.
    if (attributes > MaxNames)
        return b.refuse();
    std::size_t room = sizeof(XMLNode) + attributes * sizeof(XMLAttribute);
    std::size_t characters = 0;
    for (std::size_t i = 0; i < attributes; ++i) {
        const std::size_t valueLength = std::strlen(atts[2 * i + 1]);
        characters += valueLength;
        room += (valueLength + 1) * sizeof(char16_t);
    }
    if (!b.chargeCharacters(characters))
        return;
    const QString* elementName = b.intern(name);
    b.m_attributeNames.clear();
    for (std::size_t i = 0; i < attributes && !b.m_failed; ++i)
        b.m_attributeNames.push_back(b.intern(atts[2 * i]));
    XMLChunk* chunk = nullptr;
    void* block = b.m_failed ? nullptr : b.allocate(room, chunk);
    if (!block)
        return;
    auto* node = new (block) XMLNode(XMLKindElement, chunk);
    node->name = elementName;
    node->attributeCount = std::uint32_t(attributes);
    auto* attribute = reinterpret_cast<XMLAttribute*>(node + 1);
    auto* text = reinterpret_cast<char16_t*>(attribute + attributes);
    for (std::size_t i = 0; i < attributes; ++i, ++attribute) {
        const char* value = atts[2 * i + 1];
        const std::size_t length = b.decode(text, value, std::strlen(value));
        new (attribute) XMLAttribute{b.m_attributeNames[i], text, std::uint32_t(length)};
        text += length;
    }
    b.shrink(block, room, std::size_t(reinterpret_cast<char*>(text) - static_cast<char*>(block)));
    b.append(node);
    b.m_open.push_back({node});
}

void XMLCALL XMLTreeBuilder::onEndElement(void* userData, const XML_Char*) {
    XMLTreeBuilder& b = self(userData);
    if (b.m_failed)
        return;
    b.flushText();
    // An empty-element tag is reported as an end event of no bytes.
    if (b.m_open.back().childCount == 0 && XML_GetCurrentByteCount(b.m_parser) == 0)
        b.m_open.back().node->emptyElement = true;
    b.close();
}

void XMLCALL XMLTreeBuilder::onCharacters(void* userData, const XML_Char* s, int length) {
    XMLTreeBuilder& b = self(userData);
    if (b.chargeCharacters(std::size_t(length)))
        b.m_text.append(s, std::size_t(length));
}

void XMLCALL XMLTreeBuilder::onStartCdata(void* userData) {
    XMLTreeBuilder& b = self(userData);
    if (!b.m_failed)
        b.flushText();
}

void XMLCALL XMLTreeBuilder::onEndCdata(void* userData) {
    XMLTreeBuilder& b = self(userData);
    if (!b.m_failed)
        b.addNode(XMLKindCDATASection, b.m_text.data(), b.m_text.size());
    b.m_text.clear();
}

void XMLCALL XMLTreeBuilder::onComment(void* userData, const XML_Char* data) {
    XMLTreeBuilder& b = self(userData);
    if (b.m_failed)
        return;
    if (b.m_inDoctype) {
        if (!b.chargeCharacters(std::strlen(data)))
            return;
        b.m_subset += "<!--";
        b.m_subset += data;
        b.m_subset += "-->";
        return;
    }
    b.flushText();
    b.addNode(XMLKindComment, data);
}

void XMLCALL XMLTreeBuilder::onProcessingInstruction(void* userData, const XML_Char* target,
                                                     const XML_Char* data) {
    XMLTreeBuilder& b = self(userData);
    if (b.m_failed || !b.chargeCharacters(std::strlen(data)))
        return;
    if (b.m_inDoctype) {
        if (!b.chargeCharacters(std::strlen(target)))
            return;
        b.m_subset += "<?";
        b.m_subset += target;
        if (*data) {
            b.m_subset += ' ';
            b.m_subset += data;
        }
        b.m_subset += "?>";
        return;
    }
    b.flushText();
    XMLNode* node = b.addNode(XMLKindProcessingInstruction, target);
    if (!node)
        return;
    node->extra = new XMLNodeExtra;
    node->extra->data = QString::fromUtf8(data);
    b.chargeTree(sizeof(XMLNodeExtra) + std::size_t(node->extra->data.size()) * 2);
}

bool XMLHasCrowdedStartTag(QByteArrayView bytes, std::size_t limit) {
    // No '<' stands in an attribute value, so a start tag's attributes lie between its '<' and
    // the next one, each with its '='. Where more '=' than that lie between two '<' (which real
    // documents never have), the tag itself is read: up to its '>', over quoted values.
    const char* const end = bytes.data() + bytes.size();
    for (const char* at = bytes.data(); at < end;) {
        const char* next =
            static_cast<const char*>(std::memchr(at + 1, '<', std::size_t(end - at - 1)));
        if (!next)
            next = end;
        if (std::size_t(std::count(at, next, '=')) > limit && *at == '<') {
            std::size_t attributes = 0;
            char quote = 0;
            for (const char* c = at + 1; c < next && (quote || *c != '>'); ++c) {
                if (quote) {
                    quote = *c == quote ? 0 : quote;
                } else if (*c == '"' || *c == '\'') {
                    quote = *c;
                } else {
                    attributes += *c == '=';
                }
            }
            if (attributes > limit)
                return true;
        }
        at = next;
    }
    return false;
}

XMLNodePtr XMLParseDocument(const QByteArray& bytes, const QUrl& base, const QByteArray& charset,
                            XMLReadError* error) {
    const std::optional<XMLSource> source = XMLSourceFor(bytes, charset, error);
    if (!source || XMLHasCrowdedStartTag(source->bytes, XMLTreeBuilder::MaxAttributes))
        return nullptr;
    XML_Parser parser =
        XML_ParserCreate(source->encoding.isEmpty() ? nullptr : source->encoding.constData());
    if (!parser)
        return nullptr;
    if (base.isValid())
        XML_SetBase(parser, base.toEncoded().constData());
    XMLNodePtr document;
    {
        XMLTreeBuilder builder(parser, XMLMayUseNamedEntities(source->bytes));
        builder.install();
        builder.keepStandalone(source->standalone);
        const char* data = source->bytes.constData();
        qsizetype left = source->bytes.size();
        bool ok = true;
        constexpr qsizetype Piece = qsizetype(1) << 30;
        do {
            const qsizetype piece = std::min(left, Piece);
            left -= piece;
            ok = XML_Parse(parser, data, int(piece), left == 0 ? XML_TRUE : XML_FALSE) ==
                 XML_STATUS_OK;
            data += piece;
        } while (ok && left > 0);
        if (ok)
            document = builder.finish();
    }
    XML_ParserFree(parser);
    return document;
}
