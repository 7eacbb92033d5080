// AppController: one refresh, from the download to the feed's entries in the status menu, the
// tooltip that says how the last one went, and how the entries show and are chosen.

#include "AppController.h"

#include "FeedMenuItem.h"
#include "FeedReader.h"
#include "XMLTree.h"

#include <QLocale>
#include <QMenu>
#include <QSet>

#include <algorithm>
#include <utility>

void AppController::updateData() {
    // One download at a time: a refresh that falls due while one is in flight is covered by it.
    if (m_download.isRunning())
        return;
    m_download.start(m_site.feed);
}

// The status item's menu closed, or counts as closed (some tray hosts never say so).
void AppController::menuClosed() {
    m_menuOpen = false;
    if (!m_heldRefresh)
        return;
    // After the chosen item (if any) has been handled: the refresh writes over the entries.
    QTimer::singleShot(0, this, [this] {
        if (m_menuOpen || !m_heldRefresh)
            return;
        const DownloadResult held = *std::exchange(m_heldRefresh, std::nullopt);
        finishRefresh(held.body, held.url, held.charset);
    });
}

void AppController::downloadFinished(const DownloadResult& result) {
    m_lastAttempt = QDateTime::currentDateTime();
    m_lastFailure = result.translatedCause;
    if (!result.body) {
        qWarning("Could not update the feed from %s: %s",
                 qUtf8Printable(m_site.feed.toDisplayString()), qUtf8Printable(result.cause));
        m_systemEvents.watchNetwork();
    }
    // The menu never changes under the user's pointer: what arrives while it is open waits for
    // it to close.
    if (m_menuOpen) {
        m_heldRefresh = result;
        return;
    }
    m_heldRefresh.reset();
    finishRefresh(result.body, result.url, result.charset);
}

void AppController::describeLastUpdate() {
    if (!m_statusItem || !m_lastAttempt.isValid())
        return;
    const auto when = [](const QDateTime& time) {
        const QLocale locale;
        const QString clock = locale.toString(time.time(), QLocale::ShortFormat);
        if (time.date() == QDate::currentDate())
            //: When the feed was read today; %1 is the time
            return tr("at %1").arg(clock);
        //: When the feed was read on another day; %1 is the date, %2 the time
        return tr("on %1 at %2").arg(locale.toString(time.date(), QLocale::ShortFormat), clock);
    };
    // A time of today goes without its day: once the day is over, the day is named.
    const QDateTime now = QDateTime::currentDateTime();
    m_dayChange.start(int(now.msecsTo(now.date().addDays(1).startOfDay())) + 1000);
    if (m_lastFailure.isEmpty()) {
        m_lastUpdate = m_lastAttempt;
        m_statusItem->setToolTipDescription(tr("Updated %1").arg(when(m_lastUpdate)));
        return;
    }
    QString text =
        //: %1 is when (see "at %1"), %2 why
        tr("Could not update %1: %2").arg(when(m_lastAttempt), m_lastFailure);
    if (m_lastUpdate.isValid())
        text += tr(" (last updated %1)").arg(when(m_lastUpdate));
    m_statusItem->setToolTipDescription(text);
}

void AppController::finishRefresh(const std::optional<QByteArray>& body, const QUrl& from,
                                  const QByteArray& charset) {
    // Relative links resolve against where the document came from, after any redirects.
    const QUrl& base = from.isEmpty() ? m_site.feed : from;
    // The document's tree is let go as soon as it is read, before the menu is built: both at
    // once would add their peaks.
    std::optional<FeedContent> feed;
    XMLReadError unreadable;
    if (const std::optional<XMLTree> tree =
            body ? XMLTree::treeWithData(*body, base, charset, &unreadable) : std::nullopt)
        feed = readFeed(*tree, base);
    if (!feed) {
        if (!unreadable.text.isEmpty())
            qWarning("Could not read the feed from %s: %s", qUtf8Printable(base.toDisplayString()),
                     qUtf8Printable(unreadable.text));
        qWarning("Invalid data feed format: RSS element not found.");
        if (m_lastFailure.isEmpty())
            m_lastFailure =
                unreadable.text.isEmpty() ? tr("not a readable feed") : unreadable.translated;
        clearMenu();
        setNoDataMenu();
        Q_EMIT refreshFinished();
        return;
    }
    showHome(feed->title, feed->siteLink);

    // The entries the menu shows now, and their links for the seen test. Qt's menus add and
    // remove items in time linear in the menu's length, so rebuilding a long menu from scratch
    // would be quadratic: the new entries are written into the old ones, top to bottom, and
    // only the difference in number is inserted or removed.
    QList<FeedMenuItem*> previous;
    QSet<QString> previousLinks;
    QAction* firstFixedItem = nullptr;
    for (QAction* action : m_barMenu->actions()) {
        if (!isFeedMenuItem(action)) {
            if (!firstFixedItem)
                firstFixedItem = action;
            continue;
        }
        auto* item = static_cast<FeedMenuItem*>(action);
        if (!item->feedTitle()) {
            // The placeholder.
            m_barMenu->removeAction(item);
            item->deleteLater();
            continue;
        }
        previous.append(item);
        if (item->feedLink())
            previousLinks.insert(*item->feedLink());
    }

    int inserted = 0;
    bool blink = false;
    // New to notifications: entries of this feed that the last one read in this run did not have.
    QSet<QString> readEntries;
    readEntries.reserve(feed->entries.size());
    QList<qsizetype> fresh;
    for (const FeedContent::Entry& item : feed->entries) {
        const std::optional<QString>& link = item.link;
        if (inserted == 0) {
            if (m_firstCheck) {
                m_lastItemHash = link;
            } else if (link && (!m_lastItemHash ||
                                link->compare(*m_lastItemHash, Qt::CaseInsensitive) != 0)) {
                // A top link where none was recorded counts as new too.
                blink = true;
                m_lastItemHash = link;
            }
        }

        const QString& title = item.title;
        const std::optional<QString>& source = item.source;
        const bool unseen = !link || !previousLinks.contains(*link);
        // An entry without a link is known by its title: it is not news at every refresh.
        const QString& identity = link ? *link : title;
        if (!m_firstCheck && !m_lastReadEntries.contains(identity))
            fresh.append(inserted);
        readEntries.insert(identity);

        FeedMenuItem* entry = nullptr;
        if (inserted < previous.size()) {
            entry = previous[inserted];
        } else {
            entry = new FeedMenuItem(title, m_barMenu.get());
            connect(entry, &QAction::triggered, this, [this, entry] { onFeedClick(entry); });
            m_barMenu->insertAction(firstFixedItem, entry);
        }
        entry->setEnabled(true);
        entry->setFeedTitle(title);
        entry->setFeedLink(link);
        entry->setFeedSource(source);
        entry->setToolTip(FeedMenuItem::toolTipText(source.value_or(QString())));
        entry->setIcon(!m_firstCheck && unseen ? m_newIcon : m_blankIcon);
        ++inserted;
    }
    for (qsizetype stale = inserted; stale < previous.size(); ++stale) {
        m_barMenu->removeAction(previous[stale]);
        previous[stale]->deleteLater();
    }

    if (inserted == 0)
        setNoDataMenu();
    else
        updateMenuView();
    if (blink)
        toggleBlink(true);
    m_lastReadEntries = std::move(readEntries);
    if (m_notifyNewEntries && m_notification && !fresh.isEmpty())
        notifyOf(fresh, *feed);
    m_firstCheck = false;
    Q_EMIT refreshFinished();
}

void AppController::notifyOf(const QList<qsizetype>& fresh, const FeedContent& feed) {
    // One line each: a title may hold line breaks of its own.
    const auto title = [&](qsizetype index) {
        return feed.entries[index].title.simplified();
    };
    QString summary;
    QString body;
    if (fresh.size() == 1) {
        summary = title(fresh.first());
        const QString feedTitle = feed.title.value_or(QString()).simplified();
        body = feedTitle.isEmpty() ? applicationName : feedTitle;
    } else {
        summary = tr("%n new entries", nullptr, int(fresh.size()));
        constexpr qsizetype shownTitles = 3;
        QStringList titles;
        for (qsizetype i = 0; i < std::min(fresh.size(), shownTitles); ++i)
            titles.append(title(fresh[i]));
        body = titles.join(u'\n');
    }
    // A click opens the newest of them.
    m_notifiedLink = feed.entries[fresh.first()].link;
    QList<DesktopNotification::Action> actions;
    if (m_notifiedLink)
        actions.append({DesktopNotification::defaultAction, tr("Open")});
    m_notification->show(summary, body, actions);
}

void AppController::clearMenu() {
    // Walk a copy of the list: removing an item never makes the walk skip the next one.
    const QList<QAction*> items = m_barMenu->actions();
    for (QAction* action : items) {
        if (!isFeedMenuItem(action))
            continue;
        m_barMenu->removeAction(action);
        // Freed once the refresh is over, not under a caller that may still hold it.
        action->deleteLater();
    }
}

void AppController::setNoDataMenu() {
    auto* placeholder = new FeedMenuItem(tr(placeholderTitle), m_barMenu.get());
    placeholder->setEnabled(false);
    m_barMenu->insertAction(m_barMenu->actions().value(0), placeholder);
}

// --- Presentation ---------------------------------------------------------------------------

QString AppController::displayTitle(const QString& feedTitle, const std::optional<QString>& source,
                                    bool trimTitle, bool showSource) {
    QString text = feedTitle;
    if (trimTitle && text.size() > trimLength) {
        qsizetype cut = trimLength;
        // Never show half a character: a cut inside a surrogate pair moves to the pair's start.
        if (text.at(cut - 1).isHighSurrogate() && text.at(cut).isLowSurrogate())
            --cut;
        text = text.left(cut) + QStringLiteral("...");
    }
    if (showSource)
        text = QStringLiteral("%1  <%2>").arg(text, source.value_or(QString()));
    return text;
}

void AppController::updateMenuView() {
    for (QAction* action : m_barMenu->actions()) {
        if (!isFeedMenuItem(action))
            continue;
        auto* entry = static_cast<FeedMenuItem*>(action);
        if (!entry->feedTitle())
            continue;
        entry->setTitle(
            displayTitle(*entry->feedTitle(), entry->feedSource(), m_trimTitle, m_showSource));
    }
}

void AppController::menuNeedsUpdate(QMenu* /*menu*/) {
    toggleBlink(false);
}

void AppController::onFeedClick(FeedMenuItem* entry) {
    const std::optional<QString> link = entry->feedLink();
    if (entry->icon().cacheKey() == m_newIcon.cacheKey())
        entry->setIcon(m_newIconClicked);
    openURL(link);
}
