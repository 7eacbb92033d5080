// Builds the node tree from expat's events.
//
// expat checks XML 1.0 well-formedness; this file turns its events into nodes. There is no
// namespace processing: names stay as written. Character data that is only whitespace makes no
// node. Character references and the predefined entities are folded into the text around them.
//
// Undeclared entities. A feed that uses an HTML name such as &nbsp; without declaring it would not
// be well-formed, and one such name would make the whole feed unreadable. The parser therefore
// tells expat that the document has an external subset (XML_UseForeignDTD), which makes
// undeclared names a validity matter rather than a fatal error, and answers the request for that
// subset with a built-in DTD declaring the XHTML character entities. A name that is still
// undeclared reaches the skipped-entity handler and becomes an entity-reference node. Nothing is
// ever read from the network or the file system on a document's behalf.
//
// Limits. expat's protection against entity amplification stays on. On top of it, what a document
// may build is bounded (see below and XMLTree.h), whatever its size and whatever its entities
// expand to: past a limit the parse stops and the document is refused like a malformed one.
//
// Building. A node that is complete goes straight into its parent's list of children when the
// parent closes; until then the children of an open node are chained backwards through their
// parent links, so that building needs no list of its own.

#include "XMLNode.h"
#include "XMLParserInternal.h"

#include <QHashFunctions>
#include <QStringDecoder>

#include <expat.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace {

// The limits. Each lies far beyond what a real feed needs: a feed of 8 MiB (the download cap) is
// a few levels deep, uses a few dozen names, and its tree takes under 40 MiB.
//
// Elements nested deeper than this are refused. expat keeps about 150 bytes for every open
// element; the traversals of the tree do not recurse, so they cope with any depth allowed here.
constexpr std::size_t MaxDepth = 100000;
// Documents with more distinct element and attribute names than this are refused. It bounds
// expat's table of attribute names (about 100 bytes a name) as well as ours.
constexpr std::size_t MaxNames = 100000;
// Character data (text, CDATA, attribute values, comments, processing instructions, the internal
// subset), counted in bytes of UTF-8 as expat hands it over. Without entities of its own, a
// document in UTF-8 has at most its size in character data, and one in another encoding seldom
// more than twice that; entities can make any amount, and this bounds it, and with it any one
// text that a caller may copy out.
constexpr qint64 MaxCharacterBytes = 16 * 1024 * 1024;
// What the tree takes: nodes with their texts and attributes, children lists, names.
constexpr qint64 MaxTreeBytes = 64 * 1024 * 1024;
// What a distinct name takes in the name tables, besides three bytes a character.
constexpr qint64 NameCost = 256;
static_assert(MaxTreeBytes / sizeof(XMLNode) < (1 << 27), "child counts must fit in a node");

bool isXmlSpace(char c) {
    return c == ' ' || c == '\n' || c == '\t' || c == '\r';
}

// Whether the document may use a named entity beyond the five that XML predefines, in which case
// the entity table has to be read. Reading it costs about as much as parsing a small feed, so it
// is read only when it can matter. Documents that are not ASCII-compatible are not scanned.
bool mayUseNamedEntities(const QByteArray& bytes) {
    const char* p = bytes.constData();
    const char* end = p + bytes.size();
    if (bytes.size() >= 2) {
        const auto b0 = static_cast<unsigned char>(p[0]);
        const auto b1 = static_cast<unsigned char>(p[1]);
        if ((b0 == 0xFE && b1 == 0xFF) || (b0 == 0xFF && b1 == 0xFE) || b0 == 0 || b1 == 0)
            return true;
    }
    static constexpr const char* predefined[] = {"amp;", "lt;", "gt;", "quot;", "apos;"};
    while (p < end) {
        const void* hit = std::memchr(p, '&', static_cast<std::size_t>(end - p));
        if (!hit)
            return false;
        p = static_cast<const char*>(hit) + 1;
        if (p < end && *p == '#')
            continue;
        bool known = false;
        for (const char* name : predefined) {
            const auto length = static_cast<std::ptrdiff_t>(std::strlen(name));
            if (end - p >= length && std::memcmp(p, name, static_cast<std::size_t>(length)) == 0) {
                known = true;
                break;
            }
        }
        if (!known)
            return true;
    }
    return false;
}

class TreeBuilder {
public:
    TreeBuilder(XML_Parser parser, bool wantEntityTable)
        : m_parser(parser), m_wantEntityTable(wantEntityTable) {
        XMLChunk* chunk = nullptr;
        m_document = new (m_store.allocate(sizeof(XMLNode), chunk)) XMLNode(XMLKindDocument, chunk);
        m_open.push_back({m_document});
    }

    // A refused document is taken apart: the children of every node still open, innermost first,
    // each with the subtree already below it, and then the document node.
    ~TreeBuilder() {
        for (; !m_open.empty(); m_open.pop_back()) {
            for (XMLNode* child = m_open.back().lastChild; child;) {
                XMLNode* previous = std::exchange(child->parent, nullptr);
                XMLReleaseNode(child);
                child = previous;
            }
        }
        XMLReleaseNode(m_document);
    }

    TreeBuilder(const TreeBuilder&) = delete;
    TreeBuilder& operator=(const TreeBuilder&) = delete;

    void install() {
        XML_SetUserData(m_parser, this);
        XML_SetElementHandler(m_parser, &TreeBuilder::onStartElement, &TreeBuilder::onEndElement);
        XML_SetCharacterDataHandler(m_parser, &TreeBuilder::onCharacters);
        XML_SetCdataSectionHandler(m_parser, &TreeBuilder::onStartCdata, &TreeBuilder::onEndCdata);
        XML_SetCommentHandler(m_parser, &TreeBuilder::onComment);
        XML_SetProcessingInstructionHandler(m_parser, &TreeBuilder::onProcessingInstruction);
        XML_SetSkippedEntityHandler(m_parser, &TreeBuilder::onSkippedEntity);
        XML_SetDoctypeDeclHandler(m_parser, &TreeBuilder::onStartDoctype,
                                  &TreeBuilder::onEndDoctype);
        XML_SetXmlDeclHandler(m_parser, &TreeBuilder::onXmlDecl);
        XML_SetExternalEntityRefHandler(m_parser, &TreeBuilder::onExternalEntity);
        XML_SetUnknownEncodingHandler(m_parser, &TreeBuilder::onUnknownEncoding, nullptr);
        XML_UseForeignDTD(m_parser, XML_TRUE);
        XML_SetParamEntityParsing(m_parser, XML_PARAM_ENTITY_PARSING_ALWAYS);
    }

    // The finished tree, or null when the document was refused.
    XMLNodePtr finish() {
        if (m_failed || m_open.size() != 1)
            return nullptr;
        close();
        // The builder's hold on the document becomes the pointer's.
        XMLNode* document = std::exchange(m_document, nullptr);
        return XMLNodePtr(document, [](const XMLNode* node) { XMLReleaseNode(node); });
    }

private:
    static TreeBuilder& self(void* userData) { return *static_cast<TreeBuilder*>(userData); }

    // Stops the parse: the document is refused.
    void refuse() {
        if (m_failed)
            return;
        m_failed = true;
        XML_StopParser(m_parser, XML_FALSE);
    }

    // Counts bytes of character data, and of the tree, against their limits; false, and the
    // document refused, past one.
    bool chargeCharacters(std::size_t bytes) {
        m_characterBytes += qint64(bytes);
        if (m_characterBytes > MaxCharacterBytes)
            refuse();
        return !m_failed;
    }
    bool chargeTree(std::size_t bytes) {
        m_treeBytes += qint64(bytes);
        if (m_treeBytes > MaxTreeBytes)
            refuse();
        return !m_failed;
    }

    // A block of room bytes for a node, or null (and the document refused) when the tree may not
    // grow by that much. shrink() then gives back what the node did not need, and counts the rest.
    void* allocate(std::size_t room, XMLChunk*& chunk) {
        if (m_treeBytes + qint64(room) > MaxTreeBytes) {
            refuse();
            return nullptr;
        }
        return m_store.allocate(room, chunk);
    }
    void shrink(void* block, std::size_t room, std::size_t used) {
        m_store.shrink(block, room, used);
        m_treeBytes += qint64(used);
    }

    // The document's one copy of a name; null, and the document refused, past the limits. A small
    // open-addressing table, keyed by the UTF-8 bytes: documents use few distinct names, and this
    // runs for every element and attribute. The hash is Qt's seeded one, so that a document
    // cannot make its names collide on purpose.
    const QString* intern(const XML_Char* name) {
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

    void growNames() {
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
    std::size_t decode(char16_t* out, const char* bytes, std::size_t size) {
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
    XMLNode* addNode(XMLNodeKind kind, const char* bytes, std::size_t size) {
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

    XMLNode* addNode(XMLNodeKind kind, const char* text) {
        const std::size_t size = std::strlen(text);
        return chargeCharacters(size) ? addNode(kind, text, size) : nullptr;
    }

    // The node joins the children of the open node, at the end of their chain; it counts its
    // place in the list they will move to.
    void append(XMLNode* node) {
        OpenNode& open = m_open.back();
        node->parent = std::exchange(open.lastChild, node);
        ++open.childCount;
        chargeTree(sizeof(XMLNode*));
    }

    // The open node's children move into a list of exactly their number, or into the node itself
    // when there is one, and get their parent.
    void close() {
        const OpenNode open = m_open.back();
        m_open.pop_back();
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
    void flushText() {
        if (m_text.empty())
            return;
        if (!std::all_of(m_text.begin(), m_text.end(), isXmlSpace))
            addNode(XMLKindText, m_text.data(), m_text.size());
        m_text.clear();
    }

    static void XMLCALL onStartElement(void* userData, const XML_Char* name,
                                       const XML_Char** atts) {
        TreeBuilder& b = self(userData);
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
        b.shrink(block, room,
                 std::size_t(reinterpret_cast<char*>(text) - static_cast<char*>(block)));
        b.append(node);
        b.m_open.push_back({node});
    }

    static void XMLCALL onEndElement(void* userData, const XML_Char*) {
        TreeBuilder& b = self(userData);
        if (b.m_failed)
            return;
        b.flushText();
        // An empty-element tag is reported as an end event of no bytes.
        if (b.m_open.back().childCount == 0 && XML_GetCurrentByteCount(b.m_parser) == 0)
            b.m_open.back().node->emptyElement = true;
        b.close();
    }

    static void XMLCALL onCharacters(void* userData, const XML_Char* s, int length) {
        TreeBuilder& b = self(userData);
        if (b.chargeCharacters(std::size_t(length)))
            b.m_text.append(s, std::size_t(length));
    }

    static void XMLCALL onStartCdata(void* userData) {
        TreeBuilder& b = self(userData);
        if (!b.m_failed)
            b.flushText();
    }

    static void XMLCALL onEndCdata(void* userData) {
        TreeBuilder& b = self(userData);
        if (!b.m_failed)
            b.addNode(XMLKindCDATASection, b.m_text.data(), b.m_text.size());
        b.m_text.clear();
    }

    static void XMLCALL onComment(void* userData, const XML_Char* data) {
        TreeBuilder& b = self(userData);
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

    static void XMLCALL onProcessingInstruction(void* userData, const XML_Char* target,
                                                const XML_Char* data) {
        TreeBuilder& b = self(userData);
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

    static void XMLCALL onSkippedEntity(void* userData, const XML_Char* name,
                                        int isParameterEntity) {
        TreeBuilder& b = self(userData);
        if (isParameterEntity || b.m_failed)
            return;
        b.flushText();
        b.addNode(XMLKindEntityReference, name);
    }

    static void XMLCALL onXmlDecl(void* userData, const XML_Char* version, const XML_Char*,
                                  int standalone) {
        TreeBuilder& b = self(userData);
        if (!version || b.m_document->extra)
            return; // a text declaration of an external entity
        b.m_document->extra = new XMLNodeExtra;
        b.m_document->extra->xmlVersion = QString::fromUtf8(version);
        b.m_document->extra->standalone = standalone;
    }

    static void XMLCALL onStartDoctype(void* userData, const XML_Char* name,
                                       const XML_Char* systemId, const XML_Char* publicId,
                                       int hasInternalSubset) {
        TreeBuilder& b = self(userData);
        if (b.m_failed)
            return;
        XMLNode* node = b.addNode(XMLKindDocumentType, name);
        if (!node)
            return;
        node->extra = new XMLNodeExtra;
        XMLNodeExtra& extra = *node->extra;
        extra.hasSystemId = systemId != nullptr;
        extra.systemId = QString::fromUtf8(systemId);
        extra.hasPublicId = publicId != nullptr;
        extra.publicId = QString::fromUtf8(publicId);
        extra.hasInternalSubset = hasInternalSubset != 0;
        b.m_doctype = node;
        b.m_inDoctype = true;
        // The declarations of the internal subset are kept as written, for serialisation.
        if (hasInternalSubset)
            XML_SetDefaultHandlerExpand(b.m_parser, &TreeBuilder::onSubsetText);
    }

    static void XMLCALL onSubsetText(void* userData, const XML_Char* s, int length) {
        TreeBuilder& b = self(userData);
        if (b.chargeCharacters(std::size_t(length)))
            b.m_subset.append(s, std::size_t(length));
    }

    static void XMLCALL onEndDoctype(void* userData) {
        TreeBuilder& b = self(userData);
        XML_SetDefaultHandlerExpand(b.m_parser, nullptr);
        b.m_inDoctype = false;
        if (b.m_failed)
            return;
        if (b.m_doctype && b.m_doctype->extra->hasInternalSubset) {
            // What was recorded is the text between the brackets: expat reports neither bracket
            // while a document type handler is set. (Brackets inside are declarations' own: an
            // entity value, a comment.)
            const std::string& s = b.m_subset;
            b.m_doctype->extra->internalSubset = QString::fromUtf8(s.data(), qsizetype(s.size()));
        }
        b.m_subset.clear();
    }

    // The external subset (the document's own, or the one assumed for it) is answered with the
    // built-in entity table. External general entities are never fetched: they add nothing.
    static int XMLCALL onExternalEntity(XML_Parser parser, const XML_Char* context, const XML_Char*,
                                        const XML_Char*, const XML_Char*) {
        TreeBuilder& b = self(XML_GetUserData(parser));
        if (context != nullptr || b.m_entityTableRead || !b.m_wantEntityTable)
            return XML_STATUS_OK;
        b.m_entityTableRead = true;
        XML_Parser sub = XML_ExternalEntityParserCreate(parser, nullptr, "UTF-8");
        if (!sub)
            return XML_STATUS_ERROR;
        XML_SetDefaultHandler(sub, nullptr);
        const XML_Status status =
            XML_Parse(sub, XMLXHTMLEntityDTD, int(XMLXHTMLEntityDTDSize), XML_TRUE);
        XML_ParserFree(sub);
        return status == XML_STATUS_OK ? XML_STATUS_OK : XML_STATUS_ERROR;
    }

    // Single-byte encodings that expat does not know itself (windows-1252 and the like), through
    // Qt's decoders. Multi-byte encodings are refused.
    static int XMLCALL onUnknownEncoding(void*, const XML_Char* name, XML_Encoding* info) {
        QStringDecoder probe(name);
        if (!probe.isValid())
            return XML_STATUS_ERROR;
        for (int byte = 0; byte < 256; ++byte) {
            QStringDecoder decoder(name, QStringDecoder::Flag::Stateless);
            const char c = char(byte);
            const QString decoded = decoder.decode(QByteArrayView(&c, 1));
            if (decoder.hasError() || decoded.size() != 1 ||
                decoded.at(0) == QChar::ReplacementCharacter || decoded.at(0).isSurrogate()) {
                info->map[byte] = -1;
            } else {
                info->map[byte] = decoded.at(0).unicode();
            }
        }
        info->data = nullptr;
        info->convert = nullptr;
        info->release = nullptr;
        return XML_STATUS_OK;
    }

    struct NameSlot {
        std::size_t hash = 0;
        QByteArray bytes;
        const QString* name = nullptr;
    };

    XML_Parser m_parser;
    qint64 m_characterBytes = 0;
    qint64 m_treeBytes = 0;
    bool m_wantEntityTable;
    bool m_entityTableRead = false;
    bool m_failed = false;
    bool m_inDoctype = false;
    XMLStore m_store; // declared before the nodes it holds
    XMLNode* m_document = nullptr;
    struct OpenNode {
        XMLNode* node;
        // Its children so far: the last of them, whose parent link leads to the one before it.
        XMLNode* lastChild = nullptr;
        std::uint32_t childCount = 0;
    };
    std::vector<OpenNode> m_open;                 // the document and the open elements
    std::string m_text;                           // character data not yet made into a node
    std::string m_subset;                         // internal subset text being recorded
    std::vector<const QString*> m_attributeNames; // of the tag being read
    XMLNode* m_doctype = nullptr;
    std::vector<NameSlot> m_nameSlots;
    std::size_t m_nameCount = 0;
    QStringDecoder m_decoder{QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                       QStringDecoder::Flag::ConvertInitialBom};
};

} // namespace

XMLNodePtr XMLParseDocument(const QByteArray& bytes, const QUrl& base) {
    XML_Parser parser = XML_ParserCreate(nullptr);
    if (!parser)
        return nullptr;
    if (base.isValid())
        XML_SetBase(parser, base.toEncoded().constData());
    XMLNodePtr document;
    {
        TreeBuilder builder(parser, mayUseNamedEntities(bytes));
        builder.install();
        const char* data = bytes.constData();
        qsizetype left = bytes.size();
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
