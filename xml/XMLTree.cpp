#include "XMLTree.h"

#include "XMLNode.h"

#include <QFile>
#include <QtGlobal>

#include <utility>

// Creation.

std::optional<XMLTree> XMLTree::treeWithData(const QByteArray& bytes, const QUrl& resolvingUrl) {
    return treeWithData(bytes, resolvingUrl, {}, nullptr);
}

std::optional<XMLTree> XMLTree::treeWithData(const QByteArray& bytes, const QUrl& resolvingUrl,
                                             const QByteArray& charset, XMLReadError* error) {
    if (bytes.isNull())
        return std::nullopt;
    return treeWithNode(XMLParseDocument(bytes, resolvingUrl, charset, error));
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
    return m_node ? int(m_node->childCount) : -1;
}

std::optional<XMLTree> XMLTree::childAtIndex(int index) const {
    if (!m_node || index < 0 || std::uint32_t(index) >= m_node->childCount)
        return std::nullopt;
    return XMLTree(XMLShareNode(*m_node->child(std::uint32_t(index))));
}

std::optional<QString> XMLTree::name() const {
    if (!m_node || !m_node->hasString())
        return std::nullopt;
    return m_node->stringCopy();
}

int XMLTree::type() const {
    return m_node ? int(m_node->kind) : 0;
}

QString XMLTree::description() const {
    QString text;
    if (!m_node)
        return text;
    if (m_node->kind == XMLKindDocument || m_node->kind == XMLKindElement) {
        // Most often the content is one text: copied at its exact size.
        if (m_node->childCount == 1 && m_node->onlyChild->kind == XMLKindText)
            return m_node->onlyChild->string().toString();
        return XMLTreeDescription(text, *m_node);
    }
    if (m_node->hasString())
        text = m_node->stringCopy();
    return text;
}

std::optional<XMLTree> XMLTree::descendentNamed(const QString& name) const {
    if (!m_node)
        return std::nullopt;
    return treeWithNode(XMLTreeDescendentNamed(name, m_node));
}

// The traversals below need no list of their own: below the start node every parent lives (the
// start node holds them), so the walk climbs back through the parent links and resumes at the
// sibling after (or before) the child it came from.

namespace {

// A search looks at each child node in turn, and in a tree larger than the caches each of them
// is a wait for memory. Asking for the next few ahead of time lets those waits overlap.
constexpr std::uint32_t PrefetchWindow = 8;

void prefetchLastChildren(const XMLNode& node) {
    const std::uint32_t count = node.childCount;
    for (std::uint32_t i = count > PrefetchWindow ? count - PrefetchWindow : 0; i < count; ++i)
        __builtin_prefetch(node.child(i));
}

} // namespace

QString& XMLTreeDescription(QString& text, const XMLNode& start) {
    // Depth first, in document order, through elements only.
    const XMLNode* current = &start;
    std::uint32_t next = 0;
    for (;;) {
        if (next == current->childCount) {
            if (current == &start)
                return text;
            next = current->index + 1;
            current = current->parent;
            continue;
        }
        const XMLNode& child = *current->child(next++);
        if (child.kind == XMLKindText) {
            text += child.string();
        } else if (child.kind == XMLKindElement && child.childCount > 0) {
            current = &child;
            next = 0;
        }
    }
}

XMLNodePtr XMLTreeDescendentNamed(const QString& name, const XMLNodePtr& node) {
    // The answer is the last match in document order that has no matching ancestor below node.
    // Walking the children from last to first, and each element's subtree before its earlier
    // siblings, the first match met is that node: everything after it in document order has
    // already been looked at, and what lies inside it does not count.
    if (!node)
        return nullptr;
    const XMLNode* current = node.get();
    std::uint32_t left = current->childCount; // children of current still to visit
    prefetchLastChildren(*current);
    for (;;) {
        if (left == 0) {
            if (current == node.get())
                return nullptr;
            left = current->index;
            current = current->parent;
            continue;
        }
        --left;
        if (left >= PrefetchWindow)
            __builtin_prefetch(current->child(left - PrefetchWindow));
        const XMLNode& child = *current->child(left);
        if (child.matches(name))
            return XMLShareNode(child);
        if (child.kind == XMLKindElement && child.childCount > 0) {
            current = &child;
            left = child.childCount;
            if (left > 1)
                prefetchLastChildren(child);
        }
    }
}

// Queries.

std::optional<XMLTree> XMLTree::parent() const {
    if (!m_node || !m_node->parent)
        return std::nullopt;
    return XMLTree(XMLShareNode(*m_node->parent));
}

std::optional<XMLTree> XMLTree::childNamed(const QString& name) const {
    if (!m_node)
        return std::nullopt;
    for (const XMLNode* child : m_node->children()) {
        if (child->matches(name))
            return XMLTree(XMLShareNode(*child));
    }
    return std::nullopt;
}

std::optional<XMLTree> XMLTree::childNamed(const QString& name, const QString& attribute,
                                           const QString& value) const {
    if (!m_node)
        return std::nullopt;
    for (const XMLNode* child : m_node->children()) {
        if (child->kind != XMLKindElement || *child->name != name)
            continue;
        const XMLAttribute* found = child->findAttribute(attribute);
        if (found && found->valueView() == value)
            return XMLTree(XMLShareNode(*child));
    }
    return std::nullopt;
}

std::optional<XMLAttributes> XMLTree::attributes() const {
    if (!m_node || m_node->kind != XMLKindElement)
        return std::nullopt;
    XMLAttributes list;
    list.reserve(m_node->attributeCount);
    for (const XMLAttribute& attribute : m_node->attributes())
        list.emplace_back(*attribute.name, attribute.valueView().toString());
    return list;
}

std::optional<QString> XMLTree::attributeNamed(const QString& attribute) const {
    if (!m_node || m_node->kind != XMLKindElement)
        return std::nullopt;
    if (const XMLAttribute* found = m_node->findAttribute(attribute))
        return found->valueView().toString();
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
            if (const XMLAttribute* found = node->findAttribute(path))
                return found->valueView().toString();
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
