#pragma once

#include "XMLTree.h"

#include <QtGlobal>

// The tree of a document the test knows to be well formed.
inline XMLTree parsed(const QByteArray& bytes) {
    auto tree = XMLTree::treeWithData(bytes);
    if (!tree)
        qFatal("document did not parse: %s", bytes.left(200).constData());
    return *tree;
}
