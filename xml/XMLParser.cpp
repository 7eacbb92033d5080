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
// Limits. expat's protection against entity amplification stays on. On top of it, the tree that
// a document may build is bounded by a budget proportional to the document's size, so that
// internal entities cannot blow up memory either.

#include "XMLNode.h"
#include "XMLParserInternal.h"

#include <QHash>
#include <QStringDecoder>

#include <expat.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

namespace {

// What a node and an attribute count against the budget, besides their characters.
constexpr qint64 NodeCost = 32;
constexpr qint64 AttributeCost = 16;

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
    TreeBuilder(XML_Parser parser, qint64 budget, bool wantEntityTable)
        : m_parser(parser), m_budget(budget), m_wantEntityTable(wantEntityTable) {
        m_document = std::make_shared<XMLNode>(XMLKindDocument, QString());
        m_open.push_back({m_document, 0});
    }

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
    std::shared_ptr<XMLNode> finish() {
        if (m_failed || m_open.size() != 1)
            return nullptr;
        close();
        return std::move(m_document);
    }

private:
    static TreeBuilder& self(void* userData) { return *static_cast<TreeBuilder*>(userData); }

    // Counts work against the budget; past it the parse stops and the document is refused.
    void charge(qint64 cost) {
        m_budget -= cost;
        if (m_budget < 0 && !m_failed) {
            m_failed = true;
            XML_StopParser(m_parser, XML_FALSE);
        }
    }

    const QString& intern(const XML_Char* name) {
        const QByteArray key = QByteArray::fromRawData(name, qsizetype(std::strlen(name)));
        auto it = m_names.constFind(key);
        if (it == m_names.constEnd())
            it = m_names.insert(QByteArray(name), QString::fromUtf8(key));
        return it.value();
    }

    // Children wait on one shared list until their parent closes, and then move into a vector of
    // exactly their number: one allocation per parent, and no slack.
    void append(std::shared_ptr<XMLNode> node) {
        charge(NodeCost);
        node->parent = m_open.back().node;
        m_pending.push_back(std::move(node));
    }

    bool hasPendingChildren() const { return m_pending.size() > m_open.back().firstChild; }

    void close() {
        const auto first = m_pending.begin() + std::ptrdiff_t(m_open.back().firstChild);
        m_open.back().node->children.assign(std::make_move_iterator(first),
                                            std::make_move_iterator(m_pending.end()));
        m_pending.erase(first, m_pending.end());
        m_open.pop_back();
    }

    // Character data arrives in pieces; adjacent pieces make one text node.
    void flushText() {
        if (m_text.empty())
            return;
        if (std::all_of(m_text.begin(), m_text.end(), isXmlSpace)) {
            m_text.clear();
            return;
        }
        charge(qint64(m_text.size()));
        append(std::make_shared<XMLNode>(
            XMLKindText, QString::fromUtf8(m_text.data(), qsizetype(m_text.size()))));
        m_text.clear();
    }

    static void XMLCALL onStartElement(void* userData, const XML_Char* name,
                                       const XML_Char** atts) {
        TreeBuilder& b = self(userData);
        b.flushText();
        auto node = std::make_shared<XMLNode>(XMLKindElement, b.intern(name));
        // Only the attributes written in the tag: none that a DTD would add by default.
        const int specified = XML_GetSpecifiedAttributeCount(b.m_parser);
        if (specified > 0) {
            node->attributes.reserve(specified / 2);
            for (int i = 0; i + 1 < specified; i += 2) {
                const auto valueLength = qsizetype(std::strlen(atts[i + 1]));
                b.charge(AttributeCost + valueLength);
                node->attributes.emplace_back(b.intern(atts[i]),
                                              QString::fromUtf8(atts[i + 1], valueLength));
            }
        }
        OpenNode open{node, b.m_pending.size() + 1};
        b.append(std::move(node));
        b.m_open.push_back(std::move(open));
    }

    static void XMLCALL onEndElement(void* userData, const XML_Char*) {
        TreeBuilder& b = self(userData);
        b.flushText();
        // An empty-element tag is reported as an end event of no bytes.
        if (!b.hasPendingChildren() && XML_GetCurrentByteCount(b.m_parser) == 0)
            b.m_open.back().node->emptyElement = true;
        b.close();
    }

    static void XMLCALL onCharacters(void* userData, const XML_Char* s, int length) {
        self(userData).m_text.append(s, std::size_t(length));
    }

    static void XMLCALL onStartCdata(void* userData) {
        TreeBuilder& b = self(userData);
        b.flushText();
    }

    static void XMLCALL onEndCdata(void* userData) {
        TreeBuilder& b = self(userData);
        b.charge(qint64(b.m_text.size()));
        b.append(std::make_shared<XMLNode>(
            XMLKindCDATASection, QString::fromUtf8(b.m_text.data(), qsizetype(b.m_text.size()))));
        b.m_text.clear();
    }

    static void XMLCALL onComment(void* userData, const XML_Char* data) {
        TreeBuilder& b = self(userData);
        if (b.m_inDoctype) {
            b.m_subset += "<!--";
            b.m_subset += data;
            b.m_subset += "-->";
            return;
        }
        b.flushText();
        b.append(std::make_shared<XMLNode>(XMLKindComment, QString::fromUtf8(data)));
    }

    static void XMLCALL onProcessingInstruction(void* userData, const XML_Char* target,
                                                const XML_Char* data) {
        TreeBuilder& b = self(userData);
        if (b.m_inDoctype) {
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
        auto node = std::make_shared<XMLNode>(XMLKindProcessingInstruction, b.intern(target));
        node->extra = std::make_unique<XMLNodeExtra>();
        node->extra->data = QString::fromUtf8(data);
        b.append(std::move(node));
    }

    static void XMLCALL onSkippedEntity(void* userData, const XML_Char* name,
                                        int isParameterEntity) {
        if (isParameterEntity)
            return;
        TreeBuilder& b = self(userData);
        b.flushText();
        b.append(std::make_shared<XMLNode>(XMLKindEntityReference, b.intern(name)));
    }

    static void XMLCALL onXmlDecl(void* userData, const XML_Char* version, const XML_Char*,
                                  int standalone) {
        TreeBuilder& b = self(userData);
        if (!version || b.m_document->extra)
            return; // a text declaration of an external entity
        b.m_document->extra = std::make_unique<XMLNodeExtra>();
        b.m_document->extra->xmlVersion = QString::fromUtf8(version);
        b.m_document->extra->standalone = standalone;
    }

    static void XMLCALL onStartDoctype(void* userData, const XML_Char* name,
                                       const XML_Char* systemId, const XML_Char* publicId,
                                       int hasInternalSubset) {
        TreeBuilder& b = self(userData);
        auto node = std::make_shared<XMLNode>(XMLKindDocumentType, QString::fromUtf8(name));
        node->extra = std::make_unique<XMLNodeExtra>();
        XMLNodeExtra& extra = *node->extra;
        extra.hasSystemId = systemId != nullptr;
        extra.systemId = QString::fromUtf8(systemId);
        extra.hasPublicId = publicId != nullptr;
        extra.publicId = QString::fromUtf8(publicId);
        extra.hasInternalSubset = hasInternalSubset != 0;
        b.m_doctype = node.get();
        b.append(std::move(node));
        b.m_inDoctype = true;
        // The declarations of the internal subset are kept as written, for serialisation.
        if (hasInternalSubset)
            XML_SetDefaultHandlerExpand(b.m_parser, &TreeBuilder::onSubsetText);
    }

    static void XMLCALL onSubsetText(void* userData, const XML_Char* s, int length) {
        self(userData).m_subset.append(s, std::size_t(length));
    }

    static void XMLCALL onEndDoctype(void* userData) {
        TreeBuilder& b = self(userData);
        XML_SetDefaultHandlerExpand(b.m_parser, nullptr);
        b.m_inDoctype = false;
        if (b.m_doctype && b.m_doctype->extra->hasInternalSubset) {
            // What was recorded runs from the opening bracket to the closing one.
            std::string& s = b.m_subset;
            const auto open = s.find('[');
            const auto close = s.rfind(']');
            if (open != std::string::npos && close != std::string::npos && close > open)
                s = s.substr(open + 1, close - open - 1);
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

    XML_Parser m_parser;
    qint64 m_budget;
    bool m_wantEntityTable;
    bool m_entityTableRead = false;
    bool m_failed = false;
    bool m_inDoctype = false;
    std::shared_ptr<XMLNode> m_document;
    struct OpenNode {
        std::shared_ptr<XMLNode> node;
        std::size_t firstChild; // where its children begin in m_pending
    };
    std::vector<OpenNode> m_open;                    // the document and the open elements
    std::vector<std::shared_ptr<XMLNode>> m_pending; // children of open nodes, in order
    std::string m_text;                              // character data not yet made into a node
    std::string m_subset;                            // internal subset text being recorded
    XMLNode* m_doctype = nullptr;
    QHash<QByteArray, QString> m_names; // one shared string per distinct name
};

} // namespace

std::shared_ptr<XMLNode> XMLParseDocument(const QByteArray& bytes, const QUrl& base) {
    XML_Parser parser = XML_ParserCreate(nullptr);
    if (!parser)
        return nullptr;
    if (base.isValid())
        XML_SetBase(parser, base.toEncoded().constData());
    const qint64 budget = 16 * qint64(bytes.size()) + 16 * 1024 * 1024;
    std::shared_ptr<XMLNode> document;
    {
        TreeBuilder builder(parser, budget, mayUseNamedEntities(bytes));
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
