#include "ServerText.h"

#include <string_view>

QString plain(const QString& text, qsizetype maximumLength) {
    QString result;
    for (const QChar c : text)
        result += c.isPrint() ? c : QChar(u' ');
    result = result.simplified();
    if (result.size() > maximumLength)
        result = result.left(maximumLength - 1) + QChar(u'\u2026');
    return result;
}

QString addressText(const QUrl& url) {
    return plain(url.toString(QUrl::RemoveUserInfo | QUrl::FullyEncoded), 100);
}

namespace {

// A character of an HTTP token (RFC 9110 §5.6.2).
bool isTokenChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           (c != '\0' && std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos);
}

} // namespace

QByteArray charsetOf(const QByteArray& contentType) {
    const qsizetype size = contentType.size();
    qsizetype i = contentType.indexOf(';'); // type and subtype are tokens: no ';' in them
    const auto skipBlanks = [&] {
        while (i < size && (contentType[i] == ' ' || contentType[i] == '\t'))
            ++i;
    };
    const auto token = [&] {
        const qsizetype start = i;
        while (i < size && isTokenChar(contentType[i]))
            ++i;
        return contentType.mid(start, i - start);
    };
    while (i >= 0 && i < size && contentType[i] == ';') {
        ++i;
        skipBlanks();
        if (i == size || contentType[i] == ';')
            continue; // an empty parameter
        const QByteArray name = token();
        if (name.isEmpty() || i == size || contentType[i] != '=')
            return {};
        ++i;
        QByteArray value;
        if (i < size && contentType[i] == '"') {
            for (++i;; ++i) {
                if (i == size)
                    return {}; // the quotes are not closed
                if (contentType[i] == '"')
                    break;
                if (contentType[i] == '\\' && i + 1 < size)
                    ++i;
                value += contentType[i];
            }
            ++i;
        } else {
            value = token();
        }
        if (name.compare("charset", Qt::CaseInsensitive) == 0)
            return !value.isEmpty() && std::all_of(value.begin(), value.end(), isTokenChar)
                       ? value
                       : QByteArray();
        skipBlanks();
    }
    return {};
}
