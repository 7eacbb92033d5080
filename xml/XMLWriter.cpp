// Writes a node and its subtree back out as XML text.
//
// The text is 7-bit ASCII throughout: other characters in text and attribute values become
// character references, so the result can be stored or sent in any ASCII-compatible encoding.
// Names, comments, processing instructions, CDATA sections and the document type declaration have
// no escaped form; when one of them holds a character outside ASCII the node cannot be written and
// the result is nothing. Parsing the result again gives the same tree.

#include "XMLNode.h"

#include <vector>

namespace {

class Writer {
public:
    std::optional<QString> write(const XMLNode& root) {
        // Each entry is a node and whether its start has been written.
        std::vector<std::pair<const XMLNode*, bool>> stack;
        stack.emplace_back(&root, false);
        while (!stack.empty() && m_ok) {
            auto [node, started] = stack.back();
            stack.pop_back();
            if (started) {
                writeEnd(node);
                continue;
            }
            if (!writeStart(*node))
                continue; // nothing to close and no children to write
            stack.emplace_back(node, true);
            const auto children = node->children();
            for (auto it = children.rbegin(); it != children.rend(); ++it) {
                if (node->kind == XMLKindDocument && it != children.rbegin())
                    stack.emplace_back(nullptr, true); // a line break between top-level nodes
                stack.emplace_back(*it, false);
            }
        }
        if (!m_ok)
            return std::nullopt;
        return std::move(m_out);
    }

private:
    void writeEnd(const XMLNode* node) {
        if (!node) {
            m_out += u'\n';
            return;
        }
        if (node->kind == XMLKindElement) {
            m_out += u"</";
            m_out += *node->name;
            m_out += u'>';
        }
    }

    // Writes what comes before the node's children; false when the node has nothing to close.
    bool writeStart(const XMLNode& node) {
        switch (node.kind) {
        case XMLKindDocument:
            if (node.extra && !node.extra->xmlVersion.isEmpty()) {
                m_out += u"<?xml version=\"";
                ascii(node.extra->xmlVersion);
                m_out += u'"';
                if (node.extra->standalone == 1)
                    m_out += u" standalone=\"yes\"";
                else if (node.extra->standalone == 0)
                    m_out += u" standalone=\"no\"";
                m_out += u"?>\n";
            }
            return true;
        case XMLKindElement:
            m_out += u'<';
            ascii(node.string());
            for (const XMLAttribute& attribute : node.attributes()) {
                m_out += u' ';
                ascii(*attribute.name);
                m_out += u"=\"";
                escaped(attribute.valueView(), true);
                m_out += u'"';
            }
            if (node.childCount == 0 && node.emptyElement) {
                m_out += u"/>";
                return false;
            }
            m_out += u'>';
            return true;
        case XMLKindText:
            escaped(node.string(), false);
            return false;
        case XMLKindCDATASection:
            m_out += u"<![CDATA[";
            ascii(node.string());
            m_out += u"]]>";
            return false;
        case XMLKindComment:
            m_out += u"<!--";
            ascii(node.string());
            m_out += u"-->";
            return false;
        case XMLKindProcessingInstruction:
            m_out += u"<?";
            ascii(node.string());
            if (node.extra && !node.extra->data.isEmpty()) {
                m_out += u' ';
                ascii(node.extra->data);
            }
            m_out += u"?>";
            return false;
        case XMLKindEntityReference:
            m_out += u'&';
            ascii(node.string());
            m_out += u';';
            return false;
        case XMLKindDocumentType:
            writeDoctype(node);
            return false;
        default:
            // Kinds that a parse never makes have no written form.
            m_ok = false;
            return false;
        }
    }

    void writeDoctype(const XMLNode& node) {
        m_out += u"<!DOCTYPE ";
        ascii(node.string());
        if (const XMLNodeExtra* extra = node.extra) {
            if (extra->hasPublicId) {
                m_out += u" PUBLIC ";
                literal(extra->publicId);
                m_out += u' ';
                literal(extra->systemId);
            } else if (extra->hasSystemId) {
                m_out += u" SYSTEM ";
                literal(extra->systemId);
            }
            if (extra->hasInternalSubset) {
                m_out += u" [";
                ascii(extra->internalSubset);
                m_out += u']';
            }
        }
        m_out += u'>';
    }

    // A system or public literal: quoted with whichever quote it does not contain.
    void literal(const QString& text) {
        const QChar quote = text.contains(u'"') ? u'\'' : u'"';
        m_out += quote;
        ascii(text);
        m_out += quote;
    }

    // Text with no escaped form: written as it is, when it is ASCII.
    void ascii(QStringView text) {
        for (const QChar c : text) {
            if (c.unicode() > 0x7F) {
                m_ok = false;
                return;
            }
        }
        m_out += text;
    }

    // Character data or an attribute value, with markup characters and every character outside
    // ASCII written as references. In attribute values the white space that a parser would
    // normalise is written as references too, so that it survives.
    void escaped(QStringView text, bool attribute) {
        const qsizetype size = text.size();
        for (qsizetype i = 0; i < size; ++i) {
            const char16_t c = text.at(i).unicode();
            switch (c) {
            case u'&':
                m_out += u"&amp;";
                continue;
            case u'<':
                m_out += u"&lt;";
                continue;
            case u'>':
                m_out += u"&gt;";
                continue;
            case u'\r':
                m_out += u"&#13;";
                continue;
            case u'"':
                m_out += attribute ? u"&quot;" : u"\"";
                continue;
            case u'\n':
                m_out += attribute ? u"&#10;" : u"\n";
                continue;
            case u'\t':
                m_out += attribute ? u"&#9;" : u"\t";
                continue;
            default:
                break;
            }
            if (c < 0x80) {
                m_out += QChar(c);
                continue;
            }
            char32_t codePoint = c;
            if (QChar::isHighSurrogate(c) && i + 1 < size && text.at(i + 1).isLowSurrogate()) {
                codePoint = QChar::surrogateToUcs4(c, text.at(i + 1).unicode());
                ++i;
            }
            m_out += u"&#";
            m_out += QString::number(uint(codePoint));
            m_out += u';';
        }
    }

    QString m_out;
    bool m_ok = true;
};

} // namespace

std::optional<QString> XMLWriteNode(const XMLNode& node) {
    return Writer().write(node);
}
