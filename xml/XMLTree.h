#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>
#include <utility>
#include <variant>

// A small, strict, read-only view of a parsed XML document.
//
// An XMLTree stands for one node of a document: the document node itself or any node below it.
// It holds a share of its node, and through it of the whole subtree below, but not of the node's
// ancestors: once nothing else holds them, parent() answers nothing. XMLTree is a value type:
// copying a wrapper gives another wrapper of the same node. An "empty wrapper" (default
// constructed) stands for no node at all. A document and the wrappers of its nodes belong to one
// thread at a time.
//
// Names are compared exactly and case-sensitively, with namespace prefixes as written: no
// namespace processing takes place ("rdf:RDF" is an element called "rdf:RDF").
//
// Limits. A document is refused, exactly like one that is not well-formed (treeWithData answers
// nothing), when building it would go past any of these, whatever its size and whatever its
// entities expand to:
// - elements nested more than 100,000 deep;
// - more than 100,000 distinct element and attribute names;
// - a start tag of more than 10,000 attributes;
// - more than 16 MiB of character data: text, CDATA sections, attribute values, comments,
//   processing instructions and the internal subset, counted in bytes of UTF-8 (a document in
//   UTF-8 has no more than its size unless its own entities expand to more);
// - a tree of more than 64 MiB: nodes (48 bytes each, with their texts in UTF-16 and their
//   attributes, 24 bytes each, after them), children lists and names. That is about 1.2 million
//   empty elements, or 350,000 processing instructions.
// Together they keep what a parse takes besides the document's bytes under about 100 MB, expat's
// own tables included.
// Real feeds stay far inside them: a feed of 8 MiB (the download cap) of the shortest entries is a
// few levels deep, uses a few dozen names, and its tree takes under 40 MiB.

struct XMLNode;
using XMLNodePtr = std::shared_ptr<const XMLNode>;

// Node kinds, numbered as the classic XML tree node type codes.
enum XMLNodeKind : int {
    XMLKindDocument = 1,
    XMLKindElement = 2,
    XMLKindAttribute = 3,
    XMLKindProcessingInstruction = 4,
    XMLKindComment = 5,
    XMLKindText = 6,
    XMLKindCDATASection = 7,
    XMLKindDocumentFragment = 8,
    XMLKindEntity = 9,
    XMLKindEntityReference = 10,
    XMLKindDocumentType = 11,
    XMLKindWhitespace = 12,
    XMLKindNotation = 13,
    XMLKindElementTypeDeclaration = 14,
    XMLKindAttributeListDeclaration = 15,
};

// An element's attributes as written in its start tag, in document order.
using XMLAttributes = QList<std::pair<QString, QString>>;

// Why a document's text could not be read: in English for a log, and in the user's language.
struct XMLReadError {
    QString text;
    QString translated;
};

class XMLTree {
public:
    XMLTree() = default; // the empty wrapper

    // Parses a whole document. Nothing when the bytes are null or not well-formed XML.
    // resolvingUrl is the document's source location; nothing else uses it.
    static std::optional<XMLTree> treeWithData(const QByteArray& bytes,
                                               const QUrl& resolvingUrl = QUrl());
    // The same for bytes that came with a charset from elsewhere (a server's Content-Type), which
    // counts where the document declares no encoding. error, if given, says why a document whose
    // encoding cannot be read was refused (and stays as it was for any other refusal).
    static std::optional<XMLTree> treeWithData(const QByteArray& bytes, const QUrl& resolvingUrl,
                                               const QByteArray& charset, XMLReadError* error);
    // Reads and parses the document at a local (file:) URL; nothing for other schemes.
    static std::optional<XMLTree> treeWithURL(const QUrl& url);
    // Wraps a node; nothing for a null node.
    static std::optional<XMLTree> treeWithNode(XMLNodePtr node);

    XMLNodePtr node() const { return m_node; }
    bool isEmpty() const { return !m_node; }

    // Navigation and content.
    int count() const; // -1 for the empty wrapper
    std::optional<XMLTree> childAtIndex(int index) const;
    std::optional<QString> name() const;
    int type() const; // 0 for the empty wrapper
    QString description() const;
    std::optional<XMLTree> descendentNamed(const QString& name) const;

    // Queries.
    std::optional<XMLTree> parent() const;
    std::optional<XMLTree> childNamed(const QString& name) const;
    std::optional<XMLTree> childNamed(const QString& name, const QString& attribute,
                                      const QString& value) const;
    std::optional<XMLAttributes> attributes() const;
    std::optional<QString> attributeNamed(const QString& attribute) const;

    // Serialisation and paths.
    std::optional<QString> xml() const;
    std::optional<XMLTree> xpath(const QString& path) const;

private:
    explicit XMLTree(XMLNodePtr node) : m_node(std::move(node)) {}
    XMLNodePtr m_node;
};

// Appends the text content below start (text children, and text below element children, in
// document order) to text and returns text.
QString& XMLTreeDescription(QString& text, const XMLNode& start);

// The descendant of node whose node string equals name: of several matches, the last in document
// order among those with no matching ancestor below node. Null when none matches.
XMLNodePtr XMLTreeDescendentNamed(const QString& name, const XMLNodePtr& node);

// The path evaluator. path is shortened in place as it is evaluated.
using XMLPathResult = std::variant<std::monostate, XMLNodePtr, QString>;
XMLPathResult XMLTreeXPath(QString& path, const XMLNodePtr& start);
