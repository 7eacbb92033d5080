#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// A feed, and the site it belongs to, live at http and https addresses only: Qt would also read
// file: and data: URLs, which no setting or feed may point the program at.

// The URL's scheme is http or https.
bool isHttp(const QUrl& url);

// The text as a web address: an absolute http or https URL with a host (blanks around the text do
// not count). Nothing otherwise.
std::optional<QUrl> webAddress(const QString& text);
