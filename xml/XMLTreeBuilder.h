#pragma once

// The builder that turns expat's events into a document's node tree.
//
// Limits. expat's protection against entity amplification stays on. On top of it, what a document
// may build is bounded (see below and XMLTree.h), whatever its size and whatever its entities
// expand to: past a limit the parse stops and the document is refused like a malformed one.
//
// The handlers of elements, text, comments and processing instructions are in XMLParser.cpp;
// those of the XML declaration, the document type, entities and encodings in XMLDocumentType.cpp.

#include "XMLNode.h"

#include <QByteArray>
#include <QStringDecoder>

#include <expat.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// Whether the document may use a named entity beyond the five that XML predefines, in which case
// the entity table has to be read.
bool XMLMayUseNamedEntities(const QByteArray& bytes);

// Whether the document has a start tag of more than `limit` attributes.
bool XMLHasCrowdedStartTag(QByteArrayView bytes, std::size_t limit);

// What expat is given for a document: its bytes, the encoding expat is told to read them in over
// what the document declares (empty: as the document says), and the document's standalone
// declaration as written when expat is told otherwise (-1: as expat reads it).
struct XMLSource {
    QByteArray bytes;
    QByteArray encoding;
    int standalone = -1;
};

// The source for a document's bytes that came with charset (a server's word on their encoding,
// used where the document declares none). Encodings that expat does not read itself are decoded
// here, multi-byte ones included. Nothing, and why in error, when the encoding is not known or
// the bytes are not text in it.
std::optional<XMLSource> XMLSourceFor(const QByteArray& bytes, const QByteArray& charset,
                                      XMLReadError* error);

class XMLTreeBuilder {
public:
    // The limits. Each lies far beyond what a real feed needs: a feed of 8 MiB (the download cap)
    // is a few levels deep, uses a few dozen names, and its tree takes under 40 MiB.
    //
    // Elements nested deeper than this are refused. expat keeps about 150 bytes for every open
    // element; the traversals of the tree do not recurse, so they cope with any depth allowed here.
    static constexpr std::size_t MaxDepth = 100000;
    // Documents with more distinct element and attribute names than this are refused. It bounds
    // expat's table of attribute names (about 100 bytes a name) as well as ours.
    static constexpr std::size_t MaxNames = 100000;
    // Documents with a start tag of more attributes than this are refused before expat reads
    // them: expat takes in a whole start tag before it reports it, and a tag of a million
    // attributes of new names costs it a second.
    static constexpr std::size_t MaxAttributes = 10000;
    // Character data (text, CDATA, attribute values, comments, processing instructions, the
    // internal subset), counted in bytes of UTF-8 as expat hands it over. Without entities of its
    // own, a document in UTF-8 has at most its size in character data, and one in another encoding
    // seldom more than twice that; entities can make any amount, and this bounds it, and with it
    // any one text that a caller may copy out.
    static constexpr qint64 MaxCharacterBytes = 16 * 1024 * 1024;
    // What the tree takes: nodes with their texts and attributes, children lists, names.
    static constexpr qint64 MaxTreeBytes = 64 * 1024 * 1024;
    // What a distinct name takes in the name tables, besides three bytes a character.
    static constexpr qint64 NameCost = 256;
    static_assert(MaxTreeBytes / sizeof(XMLNode) < (1 << 26), "child counts must fit in a node");

    XMLTreeBuilder(XML_Parser parser, bool wantEntityTable);
    ~XMLTreeBuilder();
    XMLTreeBuilder(const XMLTreeBuilder&) = delete;
    XMLTreeBuilder& operator=(const XMLTreeBuilder&) = delete;

    void install();
    // The document's standalone declaration as written, when expat is told otherwise.
    void keepStandalone(int written) { m_writtenStandalone = written; }
    // The finished tree, or null when the document was refused.
    XMLNodePtr finish();

private:
    static XMLTreeBuilder& self(void* userData) { return *static_cast<XMLTreeBuilder*>(userData); }

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

    const QString* intern(const XML_Char* name);
    void growNames();
    std::size_t decode(char16_t* out, const char* bytes, std::size_t size);
    XMLNode* addNode(XMLNodeKind kind, const char* bytes, std::size_t size);
    XMLNode* addNode(XMLNodeKind kind, const char* text);
    void append(XMLNode* node);
    void close();
    void flushText();

    static void XMLCALL onStartElement(void* userData, const XML_Char* name, const XML_Char** atts);
    static void XMLCALL onEndElement(void* userData, const XML_Char*);
    static void XMLCALL onCharacters(void* userData, const XML_Char* s, int length);
    static void XMLCALL onStartCdata(void* userData);
    static void XMLCALL onEndCdata(void* userData);
    static void XMLCALL onComment(void* userData, const XML_Char* data);
    static void XMLCALL onProcessingInstruction(void* userData, const XML_Char* target,
                                                const XML_Char* data);
    static void XMLCALL onSkippedEntity(void* userData, const XML_Char* name,
                                        int isParameterEntity);
    static void XMLCALL onXmlDecl(void* userData, const XML_Char* version, const XML_Char*,
                                  int standalone);
    static void XMLCALL onStartDoctype(void* userData, const XML_Char* name,
                                       const XML_Char* systemId, const XML_Char* publicId,
                                       int hasInternalSubset);
    static void XMLCALL onSubsetText(void* userData, const XML_Char* s, int length);
    static void XMLCALL onEndDoctype(void* userData);
    static int XMLCALL onExternalEntity(XML_Parser parser, const XML_Char* context, const XML_Char*,
                                        const XML_Char*, const XML_Char*);

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
    int m_writtenStandalone = -1;
    bool m_blankPending = false; // whitespace-only text was dropped since the last node
    XMLStore m_store;            // declared before the nodes it holds
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
