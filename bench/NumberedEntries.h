#pragma once

#include "FeedFixture.h"

// Entries "Entry <n>" with links http://veltrano.invalid/entries/<n> and creator "Author <n>",
// for n = first, first + 1, … (count of them).
inline QList<FeedFixture::Entry> numbered(int count, int first = 1) {
    QList<FeedFixture::Entry> entries;
    for (int n = first; n < first + count; ++n)
        entries.append({QStringLiteral("Entry %1").arg(n),
                        QStringLiteral("http://veltrano.invalid/entries/%1").arg(n),
                        QStringLiteral("Author %1").arg(n)});
    return entries;
}
