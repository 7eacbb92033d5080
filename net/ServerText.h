#pragma once

// What a server sends, read as text.

#include <QByteArray>
#include <QString>
#include <QUrl>

// Text a server chose (a reason phrase, a redirect's target, what Qt makes of an odd answer) as
// it may go into a log line or a tooltip: printable characters only, on one line, and not too long.
QString plain(const QString& text, qsizetype maximumLength);

// An address as it may go into a log line or a tooltip: without its user name and password, and
// plain.
QString addressText(const QUrl& url);

// The charset parameter of a Content-Type value (RFC 9110 §8.3.1): `text/xml; charset="Shift_JIS"`
// gives Shift_JIS. The parameter's name is matched whatever its case, its value may be quoted, and
// other parameters may come before and after it (a quoted one may hold ";" or "charset=").
// Empty when there is none, when the parameters cannot be read, or when the value is no name an
// encoding could have (one that is not a token).
QByteArray charsetOf(const QByteArray& contentType);
