// What a document declares beside its content: the XML declaration, the document type with its
// internal subset, entities, and encodings that expat does not know itself.
//
// Undeclared entities. A feed that uses an HTML name such as &nbsp; without declaring it would not
// be well-formed, and one such name would make the whole feed unreadable. The parser therefore
// tells expat that the document has an external subset (XML_UseForeignDTD), which makes
// undeclared names a validity matter rather than a fatal error, and answers the request for that
// subset with a built-in DTD declaring the XHTML character entities. A name that is still
// undeclared reaches the skipped-entity handler and becomes an entity-reference node. Nothing is
// ever read from the network or the file system on a document's behalf.

#include "XMLParserInternal.h"
#include "XMLTreeBuilder.h"

#include <cstring>

// Whether the document may use a named entity beyond the five that XML predefines, in which case
// the entity table has to be read. Reading it costs about as much as parsing a small feed, so it
// is read only when it can matter. Documents that are not ASCII-compatible are not scanned.
bool XMLMayUseNamedEntities(const QByteArray& bytes) {
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

void XMLCALL XMLTreeBuilder::onSkippedEntity(void* userData, const XML_Char* name,
                                             int isParameterEntity) {
    XMLTreeBuilder& b = self(userData);
    if (isParameterEntity || b.m_failed)
        return;
    b.flushText();
    b.addNode(XMLKindEntityReference, name);
}

void XMLCALL XMLTreeBuilder::onXmlDecl(void* userData, const XML_Char* version, const XML_Char*,
                                       int standalone) {
    XMLTreeBuilder& b = self(userData);
    if (!version || b.m_document->extra)
        return; // a text declaration of an external entity
    b.m_document->extra = new XMLNodeExtra;
    b.m_document->extra->xmlVersion = QString::fromUtf8(version);
    b.m_document->extra->standalone = standalone;
}

void XMLCALL XMLTreeBuilder::onStartDoctype(void* userData, const XML_Char* name,
                                            const XML_Char* systemId, const XML_Char* publicId,
                                            int hasInternalSubset) {
    XMLTreeBuilder& b = self(userData);
    if (b.m_failed)
        return;
    XMLNode* node = b.addNode(XMLKindDocumentType, name);
    if (!node)
        return;
    node->extra = new XMLNodeExtra;
    XMLNodeExtra& extra = *node->extra;
    extra.hasSystemId = systemId != nullptr;
    extra.systemId = QString::fromUtf8(systemId);
    extra.hasPublicId = publicId != nullptr;
    extra.publicId = QString::fromUtf8(publicId);
    extra.hasInternalSubset = hasInternalSubset != 0;
    b.m_doctype = node;
    b.m_inDoctype = true;
    // The declarations of the internal subset are kept as written, for serialisation.
    if (hasInternalSubset)
        XML_SetDefaultHandlerExpand(b.m_parser, &XMLTreeBuilder::onSubsetText);
}

void XMLCALL XMLTreeBuilder::onSubsetText(void* userData, const XML_Char* s, int length) {
    XMLTreeBuilder& b = self(userData);
    if (b.chargeCharacters(std::size_t(length)))
        b.m_subset.append(s, std::size_t(length));
}

void XMLCALL XMLTreeBuilder::onEndDoctype(void* userData) {
    XMLTreeBuilder& b = self(userData);
    XML_SetDefaultHandlerExpand(b.m_parser, nullptr);
    b.m_inDoctype = false;
    if (b.m_failed)
        return;
    if (b.m_doctype && b.m_doctype->extra->hasInternalSubset) {
        // What was recorded is the text between the brackets: expat reports neither bracket
        // while a document type handler is set. (Brackets inside are declarations' own: an
        // entity value, a comment.)
        const std::string& s = b.m_subset;
        b.m_doctype->extra->internalSubset = QString::fromUtf8(s.data(), qsizetype(s.size()));
    }
    b.m_subset.clear();
}

// The external subset (the document's own, or the one assumed for it) is answered with the
// built-in entity table. External general entities are never fetched: they add nothing.
int XMLCALL XMLTreeBuilder::onExternalEntity(XML_Parser parser, const XML_Char* context,
                                             const XML_Char*, const XML_Char*, const XML_Char*) {
    XMLTreeBuilder& b = self(XML_GetUserData(parser));
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
int XMLCALL XMLTreeBuilder::onUnknownEncoding(void*, const XML_Char* name, XML_Encoding* info) {
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
