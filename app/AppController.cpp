// The application controller: start-up, the fixed menu items, opening addresses, the refresh
// timer, the preferences, launching at login and the blinking status icon. The refresh into the
// menu is in FeedRefresh.cpp, the feed address and the home item in FeedAddress.cpp.

#include "AppController.h"

#include "ImageResource.h"
#include "LaunchAtLogin.h"
#include "PreferenceKeys.h"
#include "UserDefaults.h"
#include "WaylandFrames.h"
#include "WebAddress.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDesktopServices>
#include <QGridLayout>
#include <QMenu>
#include <QMessageBox>

#include <algorithm>
#include <cmath>

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

AppController::AppController(const SiteAddresses& site, QObject* parent)
    : QObject(parent), m_builtIn(site), m_site(site) {
    buildMainMenu();
    m_download.setCacheDirectory(FeedCache::defaultDirectory());
    connect(&m_download, &FeedDownload::finished, this, &AppController::downloadFinished);
    connect(this, &AppController::refreshFinished, this, &AppController::describeLastUpdate);
    m_dayChange.setSingleShot(true);
    m_dayChange.setTimerType(Qt::VeryCoarseTimer);
    connect(&m_dayChange, &QTimer::timeout, this, &AppController::describeLastUpdate);
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
    m_preferencesMenuItem = m_barMenu->addAction(tr("Preferences\u2026"));
    connect(m_preferencesMenuItem, &QAction::triggered, this, &AppController::openPrefs);
    m_launchAtLoginMenuItem = m_barMenu->addAction(tr("Launch at Login"));
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
    m_notifyNewEntries = defaults.boolForKey(PreferenceKeys::NotifyNewEntries);
    m_notification = std::make_unique<DesktopNotification>(QDBusConnection::sessionBus());
    connect(m_notification.get(), &DesktopNotification::actionInvoked, this,
            [this](const QString& key) {
                if (key == DesktopNotification::defaultAction)
                    openURL(m_notifiedLink);
            });

    // The check mark shows what is in effect from the start: some tray hosts read the menu
    // without announcing that they show it.
    m_launchAtLoginMenuItem->setChecked(
        LaunchAtLogin::isAutoStartEnabled(QCoreApplication::applicationFilePath()));

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
    connect(&m_statusItem->noTrayNotice(), &NoTrayNotice::notificationsChosen, this,
            &AppController::notifyInsteadOfTray);

    m_site.feed = feedAddressInForce();
    showHome(std::nullopt, std::nullopt);
    m_aboutMenuItem->setText(tr("About %1").arg(applicationName));
    m_quitMenuItem->setText(tr("Quit %1").arg(applicationName));

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
    if (const std::optional<QUrl> url = webAddress(*address)) {
        // The browser does not inherit what we set for our own windows.
        const OwnWindowFramesSettingWithheld withheld;
        QDesktopServices::openUrl(*url);
    }
}

void AppController::onHomeClick() {
    openURL(m_site.home.toString());
}

void AppController::showAbout() {
    auto* box = new QMessageBox(
        QMessageBox::Information, tr("About %1").arg(applicationName),
        QStringLiteral("%1 %2").arg(applicationName, QStringLiteral(PINGLARK_VERSION)),
        QMessageBox::Ok);
    // Plain text, as a screen reader reads it, and never taken for markup.
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(tr("The newest Veltrano news, one click away."));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIconPixmap(m_icon.pixmap(48, 48));
    // A message box is only as wide as its text, and a window manager puts the title between
    // the frame's icon and its buttons, centred on KDE: room for the title and for three buttons
    // on either side of it (some two and a half lines each), so that the title is not cut short.
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout())) {
        const QFontMetrics metrics = box->fontMetrics();
        const int width = metrics.horizontalAdvance(box->windowTitle()) + 15 * metrics.height();
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }
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
    // The day may have changed while the timers stood still.
    describeLastUpdate();
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

// --- Preferences --------------------------------------------------------------------------

void AppController::openPrefs() {
    if (!m_preferencesController) {
        m_preferencesController = std::make_unique<PreferenceController>();
        m_preferencesController->setDelegate(this);
        m_preferencesController->setBuiltInFeedAddress(m_builtIn.feed.toString());
        // The first request builds the window and sets its controls from the store.
        m_preferencesController->window()->setWindowTitle(
            tr("%1 Preferences").arg(applicationName));
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
    m_notifyNewEntries = defaults.boolForKey(PreferenceKeys::NotifyNewEntries);
    applyFeedAddress();
}

void AppController::notifyInsteadOfTray() {
    UserDefaults::standardUserDefaults().setBool(true, PreferenceKeys::NotifyNewEntries);
    m_notifyNewEntries = true;
    if (m_preferencesController)
        m_preferencesController->loadNotifyNewEntries();
}

void AppController::enabledAutoStart(bool enabled) {
    LaunchAtLogin::enabledAutoStart(enabled, QCoreApplication::applicationFilePath());
    m_launchAtLoginMenuItem->setChecked(
        LaunchAtLogin::isAutoStartEnabled(QCoreApplication::applicationFilePath()));
}

// --- Blinking -------------------------------------------------------------------------------

void AppController::toggleBlink(bool on) {
    if (m_statusItem)
        m_statusItem->setNeedsAttention(on);
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
