#pragma once

#include "DesktopNotification.h"
#include "FeedDownload.h"
#include "PreferenceController.h"
#include "StatusItem.h"
#include "SystemEvents.h"

#include <QDateTime>
#include <QIcon>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <optional>

class FeedMenuItem;
struct FeedContent;
class QAction;
class QMenu;

// Where the feed and the home page live. The built-in ones are fixed when the program is built.
struct SiteAddresses {
    QUrl feed; // ends in /notifications/veltrano.xml
    QUrl home; // ends in /go/rss_info
    static SiteAddresses forSite(const QString& siteUrl);
    static SiteAddresses builtIn();
};

// The application controller: owns the status item, its images and the two timers, runs the
// feed refresh into the status menu, and reacts to the menu and the preferences window.
class AppController : public QObject, public PreferenceDelegate {
    Q_OBJECT
public:
    static inline const QString applicationName = QStringLiteral("Pinglark");
    static constexpr const char* placeholderTitle = QT_TR_NOOP("No Data Loaded");
    static constexpr int blinkPhaseMs = 750;
    static constexpr int trimLength = 35;

    explicit AppController(const SiteAddresses& site = SiteAddresses::builtIn(),
                           QObject* parent = nullptr);
    ~AppController() override;

    // Start-up: first-run settings, the status item, the fixed items' titles, the refresh timer,
    // then the first refresh.
    void awakeFromNib();

    // Opening addresses.
    void openURL(const std::optional<QString>& address);
    void onHomeClick();

    // Refresh scheduling.
    void updateDataRefreshInterval();
    void updateData(QTimer* timer);
    // The machine woke up: a refresh that fell due while it slept runs within a few seconds, and
    // the refresh timer counts what is left of its period on a clock that counted the sleep.
    void resumedFromSleep();

    // One refresh: download, then (when the reply is complete) the menu in one go.
    void updateData();
    // The rest of a refresh once the download is over: the document (or nothing, when the
    // download failed) into the menu. from is the address it finally came from (the feed's
    // when empty), charset the encoding its server named, if any.
    void finishRefresh(const std::optional<QByteArray>& body, const QUrl& from = {},
                       const QByteArray& charset = {});
    void clearMenu();
    void setNoDataMenu();

    // Presentation.
    void updateMenuView();
    void menuNeedsUpdate(QMenu* menu);
    void onFeedClick(FeedMenuItem* entry);

    // The preferences window: opened from the menu; a save applies the stored settings.
    void openPrefs();
    void onPreferencesUpdate(PreferenceController* sender) override;
    // Notifications of new entries instead of a tray (the no-tray notice offers them): on, kept
    // in the settings, and shown by the preferences window.
    void notifyInsteadOfTray();

    // A feed address handed over by a later start: kept in the settings and read at once. An
    // address that is not an absolute http(s) URL is refused with a log line.
    void useFeedAddress(const QString& address);
    // The feed read now: the user's (FeedURL), or the built-in one.
    const QUrl& feedAddress() const { return m_site.feed; }

    // Launching at login: adds this program to the login items, or takes it out.
    void enabledAutoStart(bool enabled);

    // The blinking status icon.
    void toggleBlink(bool on);
    void doBlink(QTimer* timer);

    // State, for the menu's owner and for tests.
    QMenu* barMenu() const { return m_barMenu.get(); }
    StatusItem* statusItem() const { return m_statusItem.get(); }
    QTimer* blinkTimer() const { return m_blinkTimer.get(); }
    QTimer* dataTimer() const { return m_dataTimer.get(); }
    const std::optional<QString>& lastItemHash() const { return m_lastItemHash; }
    bool firstCheck() const { return m_firstCheck; }
    const QIcon& icon() const { return m_icon; }
    const QIcon& newIcon() const { return m_newIcon; }
    const QIcon& newIconClicked() const { return m_newIconClicked; }
    const QIcon& blankIcon() const { return m_blankIcon; }
    QAction* homeMenuItem() const { return m_homeMenuItem; }
    QAction* aboutMenuItem() const { return m_aboutMenuItem; }
    QAction* quitMenuItem() const { return m_quitMenuItem; }
    QAction* launchAtLoginMenuItem() const { return m_launchAtLoginMenuItem; }
    QAction* preferencesMenuItem() const { return m_preferencesMenuItem; }
    PreferenceController* preferencesController() const { return m_preferencesController.get(); }
    bool showSource() const { return m_showSource; }
    bool trimTitle() const { return m_trimTitle; }
    bool notifyNewEntries() const { return m_notifyNewEntries; }
    bool isRefreshing() const { return m_download.isRunning(); }
    FeedDownload& download() { return m_download; }
    SystemEvents& systemEvents() { return m_systemEvents; }

    // The title an entry shows for the given options.
    static QString displayTitle(const QString& feedTitle, const std::optional<QString>& source,
                                bool trimTitle, bool showSource);

Q_SIGNALS:
    // A refresh has brought the menu up to date (or shown the placeholder).
    void refreshFinished();

private:
    void buildMainMenu();
    void showAbout();
    void menuClosed();
    // The download is over: says why it failed, if it did, and hands the body on.
    void downloadFinished(const DownloadResult& result);
    // The status item's tooltip says when the feed was last updated, or why it was not.
    void describeLastUpdate();
    // The feed address the settings ask for; the built-in one when they ask for none, or for
    // one that is not an absolute http(s) URL (which is logged).
    QUrl feedAddressInForce() const;
    // Reads the feed address from the settings again; a changed one applies at once, as a
    // first check.
    void applyFeedAddress();
    // The home item: the built-in site's page for the built-in feed; for a feed of the user's,
    // its title and site link, as far as a refresh has read them.
    void showHome(const std::optional<QString>& feedTitle, const std::optional<QString>& siteLink);
    // The desktop notification of a refresh's new entries (newest first) in the feed read.
    void notifyOf(const QList<qsizetype>& fresh, const FeedContent& feed);

    // The status item and its menu, the two timers, what the refresh remembers of the feed, the
    // images, the preferences window, the fixed items and the display options in force.
    std::unique_ptr<StatusItem> m_statusItem;
    std::unique_ptr<QMenu> m_barMenu;
    std::unique_ptr<QTimer> m_blinkTimer;
    std::unique_ptr<QTimer> m_dataTimer;
    std::optional<QString> m_lastItemHash;
    bool m_firstCheck = false;
    QIcon m_icon;
    QIcon m_newIcon;
    QIcon m_newIconClicked;
    QIcon m_blankIcon;
    std::unique_ptr<PreferenceController> m_preferencesController;
    QAction* m_homeMenuItem = nullptr;
    QAction* m_aboutMenuItem = nullptr;
    QAction* m_quitMenuItem = nullptr;
    bool m_showSource = false;
    bool m_trimTitle = false;

    // Linux plumbing: where the feed lives (built in, and in force), the download in flight, and
    // a download's result that waits for the menu to close (the data, or nothing when it failed).
    const SiteAddresses m_builtIn;
    SiteAddresses m_site;
    QAction* m_launchAtLoginMenuItem = nullptr;
    QAction* m_preferencesMenuItem = nullptr;
    FeedDownload m_download;
    bool m_menuOpen = false;
    // When the last download ended, why it brought no feed (empty when it did), and when a
    // refresh last read the feed.
    QDateTime m_lastAttempt;
    QString m_lastFailure;
    QDateTime m_lastUpdate;
    // Ends with the day on which the tooltip was last written.
    QTimer m_dayChange;
    // What a download brought while the menu was open: applied when the menu closes.
    std::optional<DownloadResult> m_heldRefresh;
    // Sleep and the network: when the refresh timer's current period began (on the clock that
    // counts sleep).
    SystemEvents m_systemEvents;
    std::chrono::milliseconds m_periodStart{};

    // Notifications of new entries: whether they are on, the one shown (replaced by the next),
    // the link its default action opens, and what identifies each entry of the last feed read in
    // this run (its link, else its title), which a notification's entries are new to. A failed
    // refresh empties the menu, but not this.
    bool m_notifyNewEntries = false;
    std::unique_ptr<DesktopNotification> m_notification;
    std::optional<QString> m_notifiedLink;
    QSet<QString> m_lastReadEntries;
};
