// AppController: the feed address in force (built in, or the user's) and the home item that goes
// with it.

#include "AppController.h"

#include "FeedMenuItem.h"
#include "PreferenceKeys.h"
#include "UserDefaults.h"
#include "WebAddress.h"

#include <QAction>

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

QUrl AppController::feedAddressInForce() const {
    const QString stored = UserDefaults::standardUserDefaults()
                               .stringForKey(PreferenceKeys::FeedURL)
                               .value_or(QString());
    if (stored.trimmed().isEmpty())
        return m_builtIn.feed;
    if (const std::optional<QUrl> address = webAddress(stored))
        return *address;
    // The user's text stays in the settings as written, for them to mend.
    qWarning("FeedURL \"%s\" is not an absolute http or https address: reading the built-in feed",
             qUtf8Printable(stored));
    return m_builtIn.feed;
}

void AppController::useFeedAddress(const QString& address) {
    if (!webAddress(address)) {
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
    // Nor does what the tooltip said of it.
    m_lastAttempt = {};
    m_lastFailure.clear();
    m_lastUpdate = {};
    if (m_statusItem)
        m_statusItem->setToolTipDescription(QString());
    toggleBlink(false);
    showHome(std::nullopt, std::nullopt);
    updateData();
}

void AppController::showHome(const std::optional<QString>& feedTitle,
                             const std::optional<QString>& siteLink) {
    if (m_site.feed == m_builtIn.feed) {
        m_site.home = m_builtIn.home;
        m_homeMenuItem->setText(tr("Veltrano Feeds"));
        m_homeMenuItem->setEnabled(true);
        return;
    }
    // Until the feed has said what it is called, its host stands for it.
    const QString title = feedTitle && !feedTitle->trimmed().isEmpty()
                              ? displayTitle(*feedTitle, std::nullopt, true, false)
                              : m_site.feed.host();
    m_homeMenuItem->setText(FeedMenuItem::actionText(title));
    m_site.home = siteLink ? webAddress(*siteLink).value_or(QUrl()) : QUrl();
    m_homeMenuItem->setEnabled(!m_site.home.isEmpty());
}
