#pragma once

#include <QString>

// The keys of the per-user settings store.
namespace PreferenceKeys {
// true once the program has started once; absent before.
inline const QString HasRun = QStringLiteral("HasRun");
// show each entry's source (its author) beside its title.
inline const QString ShowSource = QStringLiteral("ShowSource");
// shorten long entry titles.
inline const QString TrimTitle = QStringLiteral("TrimTitle");
// refresh period in seconds; 0 means never.
inline const QString DataRefreshInterval = QStringLiteral("DataRefreshInterval");
// the address of a feed of the user's (absolute http or https); absent or empty: the built-in feed.
inline const QString FeedURL = QStringLiteral("FeedURL");
// show a desktop notification when a refresh brings new entries; absent: off.
inline const QString NotifyNewEntries = QStringLiteral("NotifyNewEntries");
} // namespace PreferenceKeys
