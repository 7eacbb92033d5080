#include "WebAddress.h"

bool isHttp(const QUrl& url) {
    return url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
}

std::optional<QUrl> webAddress(const QString& text) {
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || !isHttp(url) || url.host().isEmpty())
        return std::nullopt;
    return url;
}
