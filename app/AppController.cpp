#include "AppController.h"

#include "FeedMenuItem.h"
#include "FeedReader.h"
#include "ImageResource.h"
#include "LaunchAtLogin.h"
#include "PreferenceKeys.h"
#include "UserDefaults.h"
#include "XMLTree.h"

#include <QApplication>
#include <QDesktopServices>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QSet>

#include <cmath>
#include <utility>

namespace {

// Periods the refresh timer can really keep: under a second it would spin, and a QTimer holds
// at most 2^31 - 1 ms (about 24.8 days).
constexpr double minimumPeriodSeconds = 1.0;
constexpr double maximumPeriodSeconds = 24.0 * 24 * 60 * 60;
constexpr float defaultPeriodSeconds = 1800.0f;
// Sleep: the system bus is asked a second after start-up, once the panel has the item. A refresh
// that fell due during sleep waits a moment after the wake-up, for the network to come back.
constexpr int sleepWatchDelayMs = 1000;
constexpr qint64 resumeRefreshDelayMs = 2000;

} // namespace

SiteAddresses SiteAddresses::forSite(const QString& siteUrl) {
    QString site = siteUrl;
    while (site.endsWith(u'/'))
        site.chop(1);
    return {QUrl(site + QStringLiteral("/notifications/veltrano.xml")),
            QUrl(site + QStringLiteral("/go/rss_info"))};
}

SiteAddresses SiteAddresses::builtIn() {
    return forSite(QStringLiteral(PINGLARK_SITE_URL));
}

AppController::AppController(const SiteAddresses& site, QObject* parent)
    : QObject(parent), m_builtIn(site), m_site(site) {
    buildMainMenu();
    m_download.setCacheDirectory(FeedCache::defaultDirectory());
    connect(&m_download, &FeedDownload::finished, this, &AppController::downloadFinished);
    connect(this, &AppController::refreshFinished, this, &AppController::describeLastUpdate);
    connect(&m_systemEvents, &SystemEvents::resumed, this, &AppController::resumedFromSleep);
    connect(&m_systemEvents, &SystemEvents::networkOnline, this, [this] {
        // The last refresh failed: the network coming back is worth a refresh of its own.
        if (!m_lastFailure.isEmpty())
            updateData();
    });
}

AppController::~AppController() {
    if (m_blinkTimer)
        m_blinkTimer->stop();
    m_blinkTimer.reset();
    if (m_dataTimer)
        m_dataTimer->stop();
    m_dataTimer.reset();
    m_preferencesController.reset();
    m_statusItem.reset();
    m_lastItemHash.reset();
}

// The main menu: the fixed items below the feed's entries. Entries are inserted above them.
void AppController::buildMainMenu() {
    m_barMenu = std::make_unique<QMenu>();
    m_barMenu->setToolTipsVisible(true);
    m_barMenu->addSeparator();
    m_homeMenuItem = m_barMenu->addAction(QString());
    connect(m_homeMenuItem, &QAction::triggered, this, &AppController::onHomeClick);
    m_barMenu->addSeparator();
    m_preferencesMenuItem = m_barMenu->addAction(QStringLiteral("Preferences\u2026"));
    connect(m_preferencesMenuItem, &QAction::triggered, this, &AppController::openPrefs);
    m_launchAtLoginMenuItem = m_barMenu->addAction(QStringLiteral("Launch at Login"));
    m_launchAtLoginMenuItem->setCheckable(true);
    connect(m_launchAtLoginMenuItem, &QAction::triggered, this, &AppController::enabledAutoStart);
    m_barMenu->addSeparator();
    m_aboutMenuItem = m_barMenu->addAction(QString());
    connect(m_aboutMenuItem, &QAction::triggered, this, &AppController::showAbout);
    m_quitMenuItem = m_barMenu->addAction(QString());
    connect(m_quitMenuItem, &QAction::triggered, qApp, &QCoreApplication::quit);

    connect(m_barMenu.get(), &QMenu::aboutToShow, this, [this] {
        m_menuOpen = true;
        // Another copy of the program, or the user, may have changed the login items.
        m_launchAtLoginMenuItem->setChecked(
            LaunchAtLogin::followDesktopSwitches(QCoreApplication::applicationFilePath()));
        menuNeedsUpdate(m_barMenu.get());
    });
    connect(m_barMenu.get(), &QMenu::aboutToHide, this, &AppController::menuClosed);
}

void AppController::awakeFromNib() {
    UserDefaults defaults = UserDefaults::standardUserDefaults();
    if (!defaults.boolForKey(PreferenceKeys::HasRun)) {
        defaults.setBool(true, PreferenceKeys::HasRun);
        // The first run shows what the store says: sources off.
        defaults.setFloat(0.0f, PreferenceKeys::ShowSource);
        m_showSource = false;
        defaults.setFloat(1.0f, PreferenceKeys::TrimTitle);
        m_trimTitle = true;
    } else {
        m_showSource = defaults.boolForKey(PreferenceKeys::ShowSource);
        m_trimTitle = defaults.boolForKey(PreferenceKeys::TrimTitle);
    }

    m_statusItem = std::make_unique<StatusItem>();
    m_statusItem->setHighlightMode(true);
    m_icon = imageNamed(QStringLiteral("plinth_bar"));
    m_statusItem->setImage(m_icon);
    m_statusItem->setAlternateImage(imageNamed(QStringLiteral("plinth_bar_alt")));
    m_newIcon = imageNamed(QStringLiteral("new_entry_icon"));
    m_newIconClicked = imageNamed(QStringLiteral("new_entry_icon_clicked"));
    m_blankIcon = imageNamed(QStringLiteral("blank_entry_icon"));
    m_statusItem->setMenu(m_barMenu.get());
    m_statusItem->setEnabled(true);
    m_statusItem->setToolTip(applicationName);
    // Some tray hosts open the menu without announcing it: a click on the item stops the
    // blinking too.
    connect(m_statusItem.get(), &StatusItem::activated, this,
            [this] { menuNeedsUpdate(m_barMenu.get()); });

    m_site.feed = feedAddressInForce();
    showHome(std::nullopt, std::nullopt);
    m_aboutMenuItem->setText(QStringLiteral("About %1").arg(applicationName));
    m_quitMenuItem->setText(QStringLiteral("Quit %1").arg(applicationName));

    updateDataRefreshInterval();
    m_firstCheck = true;
    updateData();
    QTimer::singleShot(sleepWatchDelayMs, &m_systemEvents, &SystemEvents::watchSleep);
}

void AppController::openURL(const std::optional<QString>& address) {
    if (!address)
        return;
    // Links come from a document on the network: only web addresses go to the desktop. (Feeds
    // often indent the text of their link elements: the blanks around an address do not count.)
    if (const std::optional<QUrl> url = FeedDownload::webAddress(*address))
        QDesktopServices::openUrl(*url);
}

void AppController::onHomeClick() {
    openURL(m_site.home.toString());
}

void AppController::showAbout() {
    auto* box = new QMessageBox(
        QMessageBox::Information, QStringLiteral("About %1").arg(applicationName),
        QStringLiteral("%1 %2").arg(applicationName, QStringLiteral(PINGLARK_VERSION)),
        QMessageBox::Ok);
    box->setInformativeText(QStringLiteral("The newest Veltrano news, one click away."));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIconPixmap(m_icon.pixmap(48, 48));
    box->show();
    box->raise();
    box->activateWindow();
}

// --- Refresh scheduling -------------------------------------------------------------------

void AppController::updateDataRefreshInterval() {
    UserDefaults defaults = UserDefaults::standardUserDefaults();
    double period = defaultPeriodSeconds;
    if (!defaults.contains(PreferenceKeys::DataRefreshInterval))
        defaults.setFloat(defaultPeriodSeconds, PreferenceKeys::DataRefreshInterval);
    else
        period = defaults.floatForKey(PreferenceKeys::DataRefreshInterval);

    if (m_dataTimer)
        m_dataTimer->stop();
    m_dataTimer.reset();
    // A stored 0 is "Never"; a negative period, or text that is not a number, runs no timer.
    if (!(period > 0.0))
        return;

    period = std::clamp(period, minimumPeriodSeconds, maximumPeriodSeconds);
    const int periodMs = static_cast<int>(std::llround(period * 1000.0));
    m_dataTimer = std::make_unique<QTimer>();
    m_dataTimer->setInterval(periodMs);
    QTimer* timer = m_dataTimer.get();
    connect(timer, &QTimer::timeout, this, [this, timer, periodMs] {
        // A wake-up may have shortened the period that ends now; the next one is whole again.
        if (timer->interval() != periodMs)
            timer->setInterval(periodMs);
        m_periodStart = m_systemEvents.now();
        updateData(timer);
    });
    m_dataTimer->start();
    m_periodStart = m_systemEvents.now();
}

void AppController::resumedFromSleep() {
    if (!m_dataTimer)
        return;
    // Qt's timers stand still while the machine sleeps: what is left of the current period comes
    // from the clock that counted the sleep.
    const qint64 left = m_dataTimer->interval() - (m_systemEvents.now() - m_periodStart).count();
    m_dataTimer->start(static_cast<int>(std::max(left, resumeRefreshDelayMs)));
    m_periodStart = m_systemEvents.now();
}

void AppController::updateData(QTimer* /*timer*/) {
    updateData();
}

// --- One refresh ----------------------------------------------------------------------------

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
        const std::optional<QByteArray> body = *std::exchange(m_heldRefresh, std::nullopt);
        finishRefresh(body);
    });
}

void AppController::downloadFinished(const DownloadResult& result) {
    m_lastAttempt = QDateTime::currentDateTime();
    m_lastFailure = result.cause;
    if (!result.body) {
        qWarning("Could not update the feed from %s: %s",
                 qUtf8Printable(m_site.feed.toDisplayString()), qUtf8Printable(result.cause));
        m_systemEvents.watchNetwork();
    }
    // The menu never changes under the user's pointer: what arrives while it is open waits for
    // it to close.
    if (m_menuOpen) {
        m_heldRefresh = result.body;
        return;
    }
    m_heldRefresh.reset();
    finishRefresh(result.body);
}

void AppController::describeLastUpdate() {
    if (!m_statusItem || !m_lastAttempt.isValid())
        return;
    const auto when = [](const QDateTime& time) {
        const QLocale locale;
        const QString clock = locale.toString(time.time(), QLocale::ShortFormat);
        if (time.date() == QDate::currentDate())
            return QStringLiteral("at %1").arg(clock);
        return QStringLiteral("on %1 at %2")
            .arg(locale.toString(time.date(), QLocale::ShortFormat), clock);
    };
    if (m_lastFailure.isEmpty()) {
        m_lastUpdate = m_lastAttempt;
        m_statusItem->setToolTipDescription(QStringLiteral("Updated %1").arg(when(m_lastUpdate)));
        return;
    }
    QString text =
        QStringLiteral("Could not update %1: %2").arg(when(m_lastAttempt), m_lastFailure);
    if (m_lastUpdate.isValid())
        text += QStringLiteral(" (last updated %1)").arg(when(m_lastUpdate));
    m_statusItem->setToolTipDescription(text);
}

void AppController::finishRefresh(const std::optional<QByteArray>& body) {
    // The document's tree is let go as soon as it is read, before the menu is built: both at
    // once would add their peaks.
    std::optional<FeedContent> feed;
    if (const std::optional<XMLTree> tree =
            body ? XMLTree::treeWithData(*body, m_site.feed) : std::nullopt)
        feed = readFeed(*tree, m_site.feed);
    if (!feed) {
        qWarning("Invalid data feed format: RSS element not found.");
        if (m_lastFailure.isEmpty())
            m_lastFailure = QStringLiteral("not a readable feed");
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
        entry->setToolTip(source.value_or(QString()));
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
    m_firstCheck = false;
    Q_EMIT refreshFinished();
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
    auto* placeholder = new FeedMenuItem(placeholderTitle, m_barMenu.get());
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

// --- Preferences --------------------------------------------------------------------------

void AppController::openPrefs() {
    if (!m_preferencesController) {
        m_preferencesController = std::make_unique<PreferenceController>();
        m_preferencesController->setDelegate(this);
        m_preferencesController->setBuiltInFeedAddress(m_builtIn.feed.toString());
        // The first request builds the window and sets its controls from the store.
        m_preferencesController->window()->setWindowTitle(
            QStringLiteral("%1 Preferences").arg(applicationName));
    }
    QWidget* window = m_preferencesController->window();
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

void AppController::onPreferencesUpdate(PreferenceController* /*sender*/) {
    // Every save restarts the countdown to the next refresh, whether the period changed or not.
    updateDataRefreshInterval();
    UserDefaults defaults = UserDefaults::standardUserDefaults();
    const bool showSource = defaults.boolForKey(PreferenceKeys::ShowSource);
    const bool trimTitle = defaults.boolForKey(PreferenceKeys::TrimTitle);
    if (showSource != m_showSource || trimTitle != m_trimTitle) {
        m_trimTitle = trimTitle;
        m_showSource = showSource;
        updateMenuView();
    }
    applyFeedAddress();
}

// --- The feed address -----------------------------------------------------------------------

QUrl AppController::feedAddressInForce() const {
    const QString stored = UserDefaults::standardUserDefaults()
                               .stringForKey(PreferenceKeys::FeedURL)
                               .value_or(QString());
    if (stored.trimmed().isEmpty())
        return m_builtIn.feed;
    if (const std::optional<QUrl> address = FeedDownload::webAddress(stored))
        return *address;
    // The user's text stays in the settings as written, for them to mend.
    qWarning("FeedURL \"%s\" is not an absolute http or https address: reading the built-in feed",
             qUtf8Printable(stored));
    return m_builtIn.feed;
}

void AppController::useFeedAddress(const QString& address) {
    if (!FeedDownload::webAddress(address)) {
        qWarning("Feed address \"%s\" refused: it is not an absolute http or https address",
                 qUtf8Printable(address));
        return;
    }
    UserDefaults::standardUserDefaults().setString(address.trimmed(), PreferenceKeys::FeedURL);
    // A save in the window must not put the old address back. (The window is built with its
    // controller.)
    if (m_preferencesController)
        m_preferencesController->loadFeedAddress();
    applyFeedAddress();
}

void AppController::applyFeedAddress() {
    const QUrl address = feedAddressInForce();
    if (address == m_site.feed)
        return;
    m_site.feed = address;
    // Nothing of the old feed carries over: a fetch of it in flight, or its result waiting for
    // the menu to close, brings nothing, and the new feed's first refresh marks nothing new and
    // does not blink.
    m_download.cancel();
    m_heldRefresh.reset();
    m_firstCheck = true;
    toggleBlink(false);
    showHome(std::nullopt, std::nullopt);
    updateData();
}

void AppController::showHome(const std::optional<QString>& feedTitle,
                             const std::optional<QString>& siteLink) {
    if (m_site.feed == m_builtIn.feed) {
        m_site.home = m_builtIn.home;
        m_homeMenuItem->setText(QStringLiteral("Veltrano Feeds"));
        m_homeMenuItem->setEnabled(true);
        return;
    }
    // Until the feed has said what it is called, its host stands for it.
    const QString title = feedTitle && !feedTitle->trimmed().isEmpty()
                              ? displayTitle(*feedTitle, std::nullopt, true, false)
                              : m_site.feed.host();
    m_homeMenuItem->setText(FeedMenuItem::actionText(title));
    m_site.home = siteLink ? FeedDownload::webAddress(*siteLink).value_or(QUrl()) : QUrl();
    m_homeMenuItem->setEnabled(!m_site.home.isEmpty());
}

void AppController::enabledAutoStart(bool enabled) {
    LaunchAtLogin::enabledAutoStart(enabled, QCoreApplication::applicationFilePath());
    m_launchAtLoginMenuItem->setChecked(
        LaunchAtLogin::isAutoStartEnabled(QCoreApplication::applicationFilePath()));
}

// --- Blinking -------------------------------------------------------------------------------

void AppController::toggleBlink(bool on) {
    if (m_blinkTimer) {
        m_blinkTimer->stop();
        m_blinkTimer.reset();
    }
    if (on) {
        m_blinkTimer = std::make_unique<QTimer>();
        m_blinkTimer->setInterval(blinkPhaseMs);
        m_blinkTimer->setTimerType(Qt::PreciseTimer);
        QTimer* timer = m_blinkTimer.get();
        connect(timer, &QTimer::timeout, this, [this, timer] { doBlink(timer); });
        m_blinkTimer->start();
    } else if (m_statusItem) {
        m_statusItem->setImage(m_icon);
    }
}

void AppController::doBlink(QTimer* /*timer*/) {
    if (!m_statusItem)
        return;
    if (m_statusItem->hasImage())
        m_statusItem->setImage(QIcon());
    else
        m_statusItem->setImage(m_icon);
}
