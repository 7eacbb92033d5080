#pragma once

#include "XMLTree.h"

#include <QString>
#include <QStringView>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <span>

// What a few kinds of node carry beyond their node string.
struct XMLNodeExtra {
    QString data;           // processing instruction: everything after the target
    QString publicId;       // document type: the public identifier, if written
    QString systemId;       // document type: the system identifier, if written
    QString internalSubset; // document type: the declarations between [ and ], as written
    bool hasPublicId = false;
    bool hasSystemId = false;
    bool hasInternalSubset = false;
    QString xmlVersion; // document: the version of the XML declaration; empty when none was written
    int standalone = -1; // document: -1 not given, 0 "no", 1 "yes"
};

// Storage. The nodes of a document, their children lists, texts and attributes are carved out of
// chunks of memory that belong to the document, instead of one heap block each. A chunk counts
// the blocks in use in it and goes when the last of them does, so a node held from outside keeps
// the chunks that its subtree lies in, and no others.
struct XMLChunk;

// The element and attribute names of one document, each stored once. Every chunk of the document
// holds the table, and it goes with the last of them.
struct XMLNameTable {
    std::size_t holders = 1;
    std::deque<QString> names;
};

// One attribute as written: the name from the document's name table, the value in the chunk.
struct XMLAttribute {
    const QString* name;
    const char16_t* value;
    std::uint32_t length;

    QStringView valueView() const { return QStringView(value, qsizetype(length)); }
};

// One node of a parsed document.
//
// Ownership. A node has one owner for its parent, while the parent lives, and one for every
// XMLNodePtr handed out for it; it goes, with what only it holds below it, when the last owner
// lets go. The link to the parent does not own the parent: a parent that goes clears it in the
// children that outlive it, so a node held from outside keeps its subtree alive but not its
// ancestors. The counts are plain integers: a document and the pointers into it belong to one
// thread at a time.
//
// Layout. An element's attributes and their values, and the characters of any other kind of
// node, lie in the same block as the node, right after it. The list of children is a block of its
// own, except for an only child, which the node holds itself.
struct XMLNode {
    XMLNode(XMLNodeKind nodeKind, XMLChunk* home) : chunk(home), kind(nodeKind) {}
    XMLNode(const XMLNode&) = delete;
    XMLNode& operator=(const XMLNode&) = delete;

    // Whether the node has a node string at all: the document, attribute and fragment nodes have
    // none, and never match a name.
    bool hasString() const {
        return kind != XMLKindDocument && kind != XMLKindAttribute &&
               kind != XMLKindDocumentFragment;
    }
    // The node string (see the kinds in XMLTree.h).
    QStringView string() const {
        if (kind == XMLKindElement)
            return *name;
        return QStringView(reinterpret_cast<const char16_t*>(this + 1), qsizetype(length));
    }
    QString stringCopy() const { return kind == XMLKindElement ? *name : string().toString(); }
    bool matches(QStringView wanted) const {
        if (kind == XMLKindElement)
            return equal(*name, wanted);
        return hasString() && equal(string(), wanted);
    }
    // Exact comparison, UTF-16 unit by unit; most names differ in length already.
    static bool equal(QStringView a, QStringView b) {
        return a.size() == b.size() &&
               std::memcmp(a.data(), b.data(), std::size_t(a.size()) * sizeof(char16_t)) == 0;
    }

    std::span<XMLNode* const> children() const {
        if (childCount == 1)
            return {&onlyChild, 1};
        return {childList, childCount};
    }
    XMLNode* child(std::uint32_t at) const { return childCount == 1 ? onlyChild : childList[at]; }
    bool mayHaveExtra() const {
        return kind == XMLKindDocument || kind == XMLKindProcessingInstruction ||
               kind == XMLKindDocumentType;
    }
    // Elements only: as written, in document order.
    std::span<const XMLAttribute> attributes() const {
        if (kind != XMLKindElement)
            return {};
        return {reinterpret_cast<const XMLAttribute*>(this + 1), attributeCount};
    }
    const XMLAttribute* findAttribute(QStringView wanted) const {
        for (const XMLAttribute& attribute : attributes()) {
            if (equal(*attribute.name, wanted))
                return &attribute;
        }
        return nullptr;
    }

    mutable XMLNode* parent = nullptr; // not an owner; cleared when the parent goes
    union {
        XMLNode** childList = nullptr; // two children or more
        XMLNode* onlyChild;            // exactly one
    };
    union {
        // Elements: the name, from the document's name table.
        const QString* name = nullptr;
        // The document, processing instructions and document types: what else they carry, owned.
        XMLNodeExtra* extra;
    };
    XMLChunk* chunk; // where the node lies
    mutable std::uint32_t owners = 1;
    std::uint32_t index : 30 = 0;  // its position among its parent's children
    bool emptyElement : 1 = false; // an element written as <name/>
    // Character data made only of whitespace makes no node; these say where some stood: right
    // before this node, and (elements) right before the end tag.
    bool blankBefore : 1 = false;
    std::uint32_t childCount : 26 = 0;
    bool blankBeforeEnd : 1 = false;
    XMLNodeKind kind : 5;
    union {
        std::uint32_t length = 0;     // of the node string, when it lies after the node
        std::uint32_t attributeCount; // elements
    };
};
// A document may hold a million nodes: every byte of a node counts.
static_assert(sizeof(void*) != 8 || sizeof(XMLNode) == 48);

// Hands out a new owner of node.
XMLNodePtr XMLShareNode(const XMLNode& node);
// Gives back one owner of node; the node goes, with what only it held, when it was the last.
void XMLReleaseNode(const XMLNode* node);

// The chunks a document is being built in. The builder takes blocks from the chunk in use and
// starts a new one when it is full; blocks too large for a chunk get one of their own.
class XMLStore {
public:
    XMLStore();
    ~XMLStore();
    XMLStore(const XMLStore&) = delete;
    XMLStore& operator=(const XMLStore&) = delete;

    // A block of at least `bytes`, aligned for any node, and the chunk it lies in.
    void* allocate(std::size_t bytes, XMLChunk*& chunk);
    // Gives back the end of the latest block, which turned out to need only `used` bytes.
    void shrink(void* block, std::size_t bytes, std::size_t used);
    // The copy of name kept in the document's name table.
    const QString* keepName(QString name);

    // The children list of a node, as a block that knows its chunk.
    XMLNode** allocateChildList(std::size_t count);

private:
    void retire();

    XMLNameTable* m_names;
    XMLChunk* m_chunk = nullptr;
    char* m_next = nullptr;
    char* m_end = nullptr;
};

// Parses a whole document into a tree whose root is the document node; null when the bytes are not
// a well-formed document. charset: the encoding the bytes came with from elsewhere, if any, used
// where the document declares none. error, if given, says why an encoding could not be read.
XMLNodePtr XMLParseDocument(const QByteArray& bytes, const QUrl& base,
                            const QByteArray& charset = {}, XMLReadError* error = nullptr);

// Writes node and its subtree as XML text made of 7-bit ASCII only; nothing when a name (or other
// text that has no escaped form, such as a comment) cannot be written in ASCII.
std::optional<QString> XMLWriteNode(const XMLNode& node);
