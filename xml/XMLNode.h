#pragma once

#include "XMLTree.h"

#include <QString>

#include <memory>
#include <vector>

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

// One node of a parsed document. A node owns its children; its link to the parent does not own the
// parent, so a node held from outside keeps its subtree alive but not its ancestors.
struct XMLNode {
    XMLNode(XMLNodeKind nodeKind, QString nodeString)
        : kind(nodeKind), string(std::move(nodeString)) {}
    // Takes the subtree apart without recursion, so that a very deep document cannot exhaust the
    // stack when it goes.
    ~XMLNode();
    XMLNode(const XMLNode&) = delete;
    XMLNode& operator=(const XMLNode&) = delete;

    // Whether the node has a node string at all: the document, attribute and fragment nodes have
    // none, and never match a name.
    bool hasString() const {
        return kind != XMLKindDocument && kind != XMLKindAttribute &&
               kind != XMLKindDocumentFragment;
    }
    bool matches(const QString& name) const { return hasString() && string == name; }

    XMLNodeKind kind;
    bool emptyElement = false; // an element written as <name/>
    QString string;            // the node string (see the kinds in XMLTree.h)
    std::weak_ptr<XMLNode> parent;
    std::vector<std::shared_ptr<XMLNode>> children;
    XMLAttributes attributes; // elements only: as written, in document order
    std::unique_ptr<XMLNodeExtra> extra;
};

// Parses a whole document into a tree whose root is the document node; null when the bytes are not
// a well-formed document.
std::shared_ptr<XMLNode> XMLParseDocument(const QByteArray& bytes, const QUrl& base);

// Writes node and its subtree as XML text made of 7-bit ASCII only; nothing when a name (or other
// text that has no escaped form, such as a comment) cannot be written in ASCII.
std::optional<QString> XMLWriteNode(const XMLNode& node);
