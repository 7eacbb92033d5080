// What a document declares beside its content: the XML declaration, the document type with its
// internal subset, entities, and encodings that expat does not know itself.
//
// Encodings. expat reads UTF-8, UTF-16, ISO-8859-1 and US-ASCII itself. A document in any other
// encoding that the system can decode (windows-1252, KOI8-R, Shift_JIS, GB18030, Big5…) is
// turned into UTF-8 before expat sees it, and expat is told to read it so.
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

#include <QCoreApplication>
#include <QStringDecoder>

#include <algorithm>
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
    b.m_document->extra->standalone =
        b.m_writtenStandalone >= 0 ? b.m_writtenStandalone : standalone;
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

// --- What expat reads -------------------------------------------------------------------------

namespace {

// The XML declaration at the very start of a document in an ASCII-compatible encoding: where its
// encoding and standalone values lie in the bytes. Nothing when there is none, or when it is not
// one that could be read (expat then says what is wrong with it).
struct Declaration {
    QByteArrayView encoding;
    qsizetype standaloneAt = -1; // of the value
    QByteArrayView standalone;
};

bool isDeclarationSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::optional<Declaration> readDeclaration(QByteArrayView bytes) {
    // A declaration is short; one written with more room than this is left to expat.
    bytes = bytes.first(std::min<qsizetype>(bytes.size(), 1024));
    if (!bytes.startsWith("<?xml") || bytes.size() < 6 || !isDeclarationSpace(bytes[5]))
        return std::nullopt;
    Declaration declaration;
    qsizetype at = 5;
    for (;;) {
        while (at < bytes.size() && isDeclarationSpace(bytes[at]))
            ++at;
        if (bytes.sliced(at).startsWith("?>"))
            return declaration;
        const qsizetype name = at;
        while (at < bytes.size() && bytes[at] >= 'a' && bytes[at] <= 'z')
            ++at;
        const QByteArrayView key = bytes.sliced(name, at - name);
        while (at < bytes.size() && isDeclarationSpace(bytes[at]))
            ++at;
        if (key.isEmpty() || at >= bytes.size() || bytes[at] != '=')
            return std::nullopt;
        ++at;
        while (at < bytes.size() && isDeclarationSpace(bytes[at]))
            ++at;
        if (at >= bytes.size() || (bytes[at] != '"' && bytes[at] != '\''))
            return std::nullopt;
        const qsizetype value = at + 1;
        const qsizetype end = bytes.indexOf(bytes[at], value);
        if (end < 0)
            return std::nullopt;
        if (key == "encoding") {
            declaration.encoding = bytes.sliced(value, end - value);
        } else if (key == "standalone") {
            declaration.standaloneAt = value;
            declaration.standalone = bytes.sliced(value, end - value);
        }
        at = end + 1;
    }
}

// The encodings expat reads itself.
bool isExpatEncoding(QByteArrayView name) {
    for (const char* known :
         {"UTF-8", "UTF-16", "UTF-16BE", "UTF-16LE", "ISO-8859-1", "US-ASCII"}) {
        if (name.compare(known, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// An encoding's name as it may stand in a message: it comes from the document or the server.
QString encodingName(QByteArrayView name) {
    QString shown;
    for (const char c : name.first(std::min<qsizetype>(name.size(), 40)))
        shown += c > ' ' && c < 0x7f ? QChar(QLatin1Char(c)) : QChar(u'?');
    return shown;
}

} // namespace

std::optional<XMLSource> XMLSourceFor(const QByteArray& bytes, const QByteArray& charset,
                                      XMLReadError* error) {
    XMLSource source{bytes, {}, -1};
    // A byte order mark, or the zero bytes of UTF-16 text: expat tells the encoding itself.
    if (bytes.startsWith("\xEF\xBB\xBF") || bytes.startsWith("\xFE\xFF") ||
        bytes.startsWith("\xFF\xFE") || (bytes.size() >= 2 && (bytes[0] == 0 || bytes[1] == 0)))
        return source;
    const std::optional<Declaration> declaration = readDeclaration(bytes);
    QByteArray name = declaration && !declaration->encoding.isEmpty()
                          ? declaration->encoding.toByteArray()
                          : charset.trimmed();
    if (isExpatEncoding(name)) {
        // A charset from elsewhere only counts where the document declares none.
        if (!declaration || declaration->encoding.isEmpty())
            source.encoding = name;
    } else if (!name.isEmpty()) {
        // Any other encoding the system can decode is turned into UTF-8 here, whatever the
        // declaration then says.
        const auto refuse = [&](const char* phrase) {
            if (error)
                *error = {QString::fromUtf8(phrase).arg(encodingName(name)),
                          QCoreApplication::translate("XMLTree", phrase).arg(encodingName(name))};
            return std::nullopt;
        };
        QStringDecoder decoder(name.constData());
        if (!decoder.isValid())
            return refuse(QT_TRANSLATE_NOOP("XMLTree", "unknown encoding \"%1\""));
        const QString text = decoder.decode(bytes);
        if (decoder.hasError())
            //: %1 is the name of an encoding the feed's bytes do not follow, such as "Shift_JIS"
            return refuse(QT_TRANSLATE_NOOP("XMLTree", "text that is not %1"));
        source.bytes = text.toUtf8();
        source.encoding = QByteArrayLiteral("UTF-8");
    }
    // A standalone document may not use what its external subset declares, and the HTML entity
    // names a feed uses undeclared come from there: such a document is read as one that is not
    // standalone. (Its declaration is kept as written.)
    if (declaration && declaration->standalone == "yes" && XMLMayUseNamedEntities(source.bytes)) {
        // The declaration is ASCII: it lies at the same place in UTF-8.
        source.bytes.replace(declaration->standaloneAt, 3, "no");
        source.standalone = 1;
    }
    return source;
}
