// Arbitrary bytes into the XML tree, then every query on what comes out: nothing may crash,
// hang, leak or read out of bounds, whatever the document.

#include "XMLTree.h"

#include <QCoreApplication>

#include <cstddef>
#include <cstdint>

namespace {

// Names and paths to ask for, taken from the document itself so that searches can hit.
QStringList namesIn(const XMLTree& tree, int limit) {
    QStringList names;
    QList<XMLTree> pending{tree};
    while (!pending.isEmpty() && names.size() < limit) {
        const XMLTree node = pending.takeLast();
        if (const auto name = node.name())
            names.append(*name);
        for (int i = 0; i < node.count() && i < 8; ++i)
            if (const auto child = node.childAtIndex(i))
                pending.append(*child);
    }
    return names;
}

void exercise(const XMLTree& node, const QStringList& names) {
    (void)node.type();
    (void)node.description();
    (void)node.xml();
    (void)node.attributes();
    (void)node.parent();
    for (const QString& name : names) {
        (void)node.childNamed(name);
        (void)node.childNamed(name, name, name);
        (void)node.attributeNamed(name);
        if (const auto found = node.descendentNamed(name))
            (void)found->description();
    }
    (void)node.childAtIndex(-1);
    (void)node.childAtIndex(node.count());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<XMLTree> tree = XMLTree::treeWithData(bytes);
    if (!tree)
        return 0;
    const QStringList names = namesIn(*tree, 24);
    exercise(*tree, names);
    for (int i = 0; i < tree->count(); ++i)
        if (const auto child = tree->childAtIndex(i))
            exercise(*child, names);

    // Paths built from the names, with every delimiter the evaluator knows.
    const QStringList glue = {QStringLiteral("/"), QStringLiteral("//"), QStringLiteral("@"),
                              QStringLiteral("["), QStringLiteral("@@")};
    for (int i = 0; i + 1 < names.size(); ++i) {
        QString path = names[i] + glue[i % glue.size()] + names[i + 1];
        const XMLPathResult result = XMLTreeXPath(path, tree->node());
        if (const auto* node = std::get_if<XMLNodePtr>(&result))
            if (const auto wrapped = XMLTree::treeWithNode(*node))
                (void)wrapped->xml();
    }
    (void)tree->xpath(names.value(0));
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    // The path query writes a log line on every call; keep the fuzzer's output readable.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}
