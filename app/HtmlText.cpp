#include "HtmlText.h"

#include "XMLParserInternal.h"

#include <QByteArrayView>
#include <QHash>

#include <optional>
#include <utility>

namespace {

// The named character references of HTML 4 / XHTML 1.0, taken from the table the XML parser
// reads for undeclared entities, and the five that XML predefines.
const QHash<QString, char32_t>& namedCharacters() {
    static const QHash<QString, char32_t> table = [] {
        QHash<QString, char32_t> names{{QStringLiteral("amp"), U'&'},
                                       {QStringLiteral("lt"), U'<'},
                                       {QStringLiteral("gt"), U'>'},
                                       {QStringLiteral("quot"), U'"'},
                                       {QStringLiteral("apos"), U'\''}};
        // Declarations of the form <!ENTITY name "&#number;">.
        const QByteArrayView dtd(XMLXHTMLEntityDTD, qsizetype(XMLXHTMLEntityDTDSize));
        const QByteArrayView open("<!ENTITY ");
        for (qsizetype at = dtd.indexOf(open); at >= 0; at = dtd.indexOf(open, at)) {
            at += open.size();
            const qsizetype space = dtd.indexOf(' ', at);
            const qsizetype number = dtd.indexOf("&#", space) + 2;
            const qsizetype end = dtd.indexOf(';', number);
            names.insert(QString::fromLatin1(dtd.sliced(at, space - at)),
                         char32_t(dtd.sliced(number, end - number).toUInt()));
        }
        return names;
    }();
    return table;
}

// The character of the reference that starts at html[at] ('&'), and its length; nothing when
// it is not a complete reference.
std::optional<std::pair<char32_t, qsizetype>> characterReference(QStringView html, qsizetype at) {
    // The longest name in the table has 8 letters, a numeric reference at most 8 digits: the ';'
    // is looked for no further (a text of many '&' costs no more than one of any other kind).
    const qsizetype end = html.first(std::min(html.size(), at + 11)).indexOf(u';', at + 1);
    if (end < 0)
        return std::nullopt;
    const QStringView body = html.sliced(at + 1, end - at - 1);
    if (body.startsWith(u'#')) {
        const bool hex = body.size() > 1 && (body[1] == u'x' || body[1] == u'X');
        bool ok = false;
        const uint value = body.sliced(hex ? 2 : 1).toUInt(&ok, hex ? 16 : 10);
        if (!ok || body.sliced(hex ? 2 : 1).startsWith(u'+'))
            return std::nullopt;
        // What cannot be a character becomes the replacement character.
        const bool usable = value != 0 && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF);
        return std::pair{usable ? char32_t(value) : U'\uFFFD', end - at + 1};
    }
    const auto found = namedCharacters().constFind(body.toString());
    if (found == namedCharacters().cend())
        return std::nullopt;
    return std::pair{*found, end - at + 1};
}

} // namespace

QString plainText(QStringView html) {
    QString text;
    text.reserve(html.size());
    qsizetype at = 0;
    while (at < html.size()) {
        const QChar c = html[at];
        if (c == u'<' && at + 1 < html.size() &&
            (html[at + 1].isLetter() || html[at + 1] == u'/' || html[at + 1] == u'!' ||
             html[at + 1] == u'?')) {
            // To the '>' that ends the tag, over quoted attribute values. A quote opens one only
            // where a value starts, after '=': a stray one elsewhere is just a character.
            QChar quote;
            bool valueStarts = false;
            for (++at; at < html.size(); ++at) {
                const QChar d = html[at];
                if (!quote.isNull()) {
                    if (d == quote)
                        quote = QChar();
                } else if (d == u'>') {
                    break;
                } else if (valueStarts && (d == u'"' || d == u'\'')) {
                    quote = d;
                }
                if (quote.isNull() && !d.isSpace())
                    valueStarts = d == u'=';
            }
            ++at;
            continue;
        }
        if (c == u'&') {
            if (const auto reference = characterReference(html, at)) {
                const char32_t character = reference->first;
                text += QString::fromUcs4(&character, 1);
                at += reference->second;
                continue;
            }
        }
        text += c;
        ++at;
    }
    return text;
}
