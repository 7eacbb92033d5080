#include "XMLTree.h"

#include "XMLNode.h"

#include <QFile>
#include <QtGlobal>

#include <utility>
#include <vector>

XMLNode::~XMLNode() {
    // Ordinary documents are taken apart recursively. Below a fixed depth the rest of the subtree
    // is taken apart from a list instead: children that nobody else holds hand their own children
    // to the list before they go, so each node is destroyed with no children and the stack stays
    // flat however deep the document.
    constexpr int RecursionLimit = 200;
    static thread_local int depth = 0;
    if (children.empty())
        return;
    if (depth < RecursionLimit) {
        ++depth;
        children.clear();
        --depth;
        return;
    }
    std::vector<std::shared_ptr<XMLNode>> pending = std::move(children);
    while (!pending.empty()) {
        std::shared_ptr<XMLNode> node = std::move(pending.back());
        pending.pop_back();
        if (node.use_count() == 1 && !node->children.empty()) {
            for (auto& child : node->children)
                pending.push_back(std::move(child));
            node->children.clear();
        }
    }
}

// Creation.

std::optional<XMLTree> XMLTree::treeWithData(const QByteArray& bytes, const QUrl& resolvingUrl) {
    if (bytes.isNull())
        return std::nullopt;
    return treeWithNode(XMLParseDocument(bytes, resolvingUrl));
}

std::optional<XMLTree> XMLTree::treeWithURL(const QUrl& url) {
    if (!url.isValid() || !url.isLocalFile())
        return std::nullopt;
    QFile file(url.toLocalFile());
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    if (bytes.isNull())
        bytes = QByteArray("", 0); // an empty file is read, and then fails to parse
    return treeWithData(bytes, url);
}

std::optional<XMLTree> XMLTree::treeWithNode(XMLNodePtr node) {
    if (!node)
        return std::nullopt;
    return XMLTree(std::move(node));
}

// Navigation and content.

int XMLTree::count() const {
    return m_node ? int(m_node->children.size()) : -1;
}

std::optional<XMLTree> XMLTree::childAtIndex(int index) const {
    if (!m_node || index < 0 || std::size_t(index) >= m_node->children.size())
        return std::nullopt;
    return XMLTree(m_node->children[std::size_t(index)]);
}

std::optional<QString> XMLTree::name() const {
    if (!m_node || !m_node->hasString())
        return std::nullopt;
    return m_node->string;
}

int XMLTree::type() const {
    return m_node ? int(m_node->kind) : 0;
}

QString XMLTree::description() const {
    QString text;
    if (!m_node)
        return text;
    if (m_node->kind == XMLKindDocument || m_node->kind == XMLKindElement)
        return XMLTreeDescription(text, *m_node);
    if (m_node->hasString())
        text = m_node->string;
    return text;
}

std::optional<XMLTree> XMLTree::descendentNamed(const QString& name) const {
    if (!m_node)
        return std::nullopt;
    return treeWithNode(XMLTreeDescendentNamed(name, m_node));
}

QString& XMLTreeDescription(QString& text, const XMLNode& node) {
    // Depth first, in document order, through elements only.
    std::vector<std::pair<const XMLNode*, std::size_t>> stack;
    stack.emplace_back(&node, 0);
    while (!stack.empty()) {
        auto& [current, next] = stack.back();
        if (next == current->children.size()) {
            stack.pop_back();
            continue;
        }
        const XMLNode& child = *current->children[next++];
        if (child.kind == XMLKindText)
            text += child.string;
        else if (child.kind == XMLKindElement && !child.children.empty())
            stack.emplace_back(&child, 0);
    }
    return text;
}

XMLNodePtr XMLTreeDescendentNamed(const QString& name, const XMLNodePtr& node) {
    // The answer is the last match in document order that has no matching ancestor below node.
    // Walking the children from last to first, and each element's subtree before its earlier
    // siblings, the first match met is that node: everything after it in document order has
    // already been looked at, and what lies inside it does not count.
    if (!node)
        return nullptr;
    std::vector<std::pair<const XMLNode*, std::size_t>> stack; // node, children left to visit
    stack.emplace_back(node.get(), node->children.size());
    while (!stack.empty()) {
        auto& [current, left] = stack.back();
        if (left == 0) {
            stack.pop_back();
            continue;
        }
        const std::shared_ptr<XMLNode>& child = current->children[--left];
        if (child->matches(name))
            return child;
        if (child->kind == XMLKindElement && !child->children.empty())
            stack.emplace_back(child.get(), child->children.size());
    }
    return nullptr;
}

// Queries.

std::optional<XMLTree> XMLTree::parent() const {
    if (!m_node)
        return std::nullopt;
    return treeWithNode(m_node->parent.lock());
}

std::optional<XMLTree> XMLTree::childNamed(const QString& name) const {
    if (!m_node)
        return std::nullopt;
    for (const auto& child : m_node->children) {
        if (child->matches(name))
            return XMLTree(child);
    }
    return std::nullopt;
}

std::optional<XMLTree> XMLTree::childNamed(const QString& name, const QString& attribute,
                                           const QString& value) const {
    if (!m_node)
        return std::nullopt;
    for (const auto& child : m_node->children) {
        if (child->kind != XMLKindElement || child->string != name)
            continue;
        for (const auto& [key, attributeValue] : child->attributes) {
            if (key == attribute) {
                if (attributeValue == value)
                    return XMLTree(child);
                break;
            }
        }
    }
    return std::nullopt;
}

std::optional<XMLAttributes> XMLTree::attributes() const {
    if (!m_node || m_node->kind != XMLKindElement)
        return std::nullopt;
    return m_node->attributes;
}

namespace {
const QString* findAttribute(const XMLNode& node, QStringView name) {
    for (const auto& [key, value] : node.attributes) {
        if (key == name)
            return &value;
    }
    return nullptr;
}
} // namespace

std::optional<QString> XMLTree::attributeNamed(const QString& attribute) const {
    if (!m_node || m_node->kind != XMLKindElement)
        return std::nullopt;
    if (const QString* value = findAttribute(*m_node, attribute))
        return *value;
    return std::nullopt;
}

// Serialisation and paths.

std::optional<QString> XMLTree::xml() const {
    if (!m_node)
        return std::nullopt;
    return XMLWriteNode(*m_node);
}

std::optional<XMLTree> XMLTree::xpath(const QString&) const {
    qWarning("The path function is still being developed. It doesn't work yet. Sorry.");
    return std::nullopt;
}

namespace {
// Removes every leading and every trailing c.
void trim(QString& text, QChar c) {
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1) == c)
        --end;
    qsizetype begin = 0;
    while (begin < end && text.at(begin) == c)
        ++begin;
    text.truncate(end);
    text.remove(0, begin);
}
} // namespace

XMLPathResult XMLTreeXPath(QString& path, const XMLNodePtr& start) {
    XMLNodePtr node = start;
    while (node) {
        if (path.isEmpty())
            return node;
        if (path.startsWith(u'@')) {
            if (node->kind != XMLKindElement)
                return std::monostate();
            trim(path, u'@');
            if (const QString* value = findAttribute(*node, path))
                return *value;
            return std::monostate();
        }
        trim(path, u'/');
        qsizetype split = path.size();
        QChar delimiter;
        for (const QChar c : {QChar(u'/'), QChar(u'['), QChar(u'@')}) {
            const qsizetype at = path.indexOf(c);
            if (at >= 0 && at < split) {
                split = at;
                delimiter = c;
            }
        }
        if (delimiter == u'[')
            return std::monostate();
        const QString segment = path.left(split);
        path.remove(0, split);
        node = XMLTreeDescendentNamed(segment, node);
    }
    return std::monostate();
}
