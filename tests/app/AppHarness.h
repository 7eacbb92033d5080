#pragma once

// What the application suites share: a private settings and cache folder, a feed served over real
// HTTP on 127.0.0.1, a controller pointed at it, and a few ways to look at its menu.

#include "AppController.h"
#include "DataFile.h"
#include "FeedFixture.h"
#include "FeedMenuItem.h"
#include "HttpServer.h"
#include "PreferenceController.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

using FeedEntry = FeedFixture::Entry;

// Where a data file beside the suites is (name: its path from here).
inline QString dataPath(const QString& name) {
    return QFileInfo(QStringLiteral(__FILE__)).absolutePath() + u'/' + name;
}

inline FeedEntry entry(const QString& n) {
    return {QStringLiteral("Title %1").arg(n), QStringLiteral("http://news.example/%1").arg(n),
            QStringLiteral("Author %1").arg(n)};
}

// Records the addresses handed to the desktop instead of opening them.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    UrlRecorder() {
        for (const char* scheme : {"http", "https", "file", "javascript"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "open");
    }
    ~UrlRecorder() override {
        for (const char* scheme : {"http", "https", "file", "javascript"})
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl& url) { opened.append(url); }
};

class AppHarness {
public:
    static inline const QString feedPath = QStringLiteral("/notifications/veltrano.xml");

    explicit AppHarness(const QList<FeedEntry>& feed = {}) {
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        qputenv("XDG_CACHE_HOME", (config.path() + "/cache").toLocal8Bit());
        if (!server.listen())
            qFatal("cannot listen on 127.0.0.1");
        if (!feed.isEmpty())
            serveFeed(feed);
    }

    QString site() const { return server.url(QStringLiteral("/")).toString(); }
    void serveFeed(const QList<FeedEntry>& e) { server.serve(feedPath, FeedFixture::rdf(e)); }
    // Serves a failure at the feed's address (or at path), and expects what its refresh logs: why
    // the download failed (a pattern), then that no feed was read.
    void serveFailure(int status, const QString& cause = QStringLiteral(".+"),
                      const QString& path = feedPath) {
        server.serveStatus(path, status);
        const QString address = QRegularExpression::escape(server.url(path).toString());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Could not update the feed from " +
                                                              address + ": " + cause + '$'));
        QTest::ignoreMessage(QtWarningMsg, "Invalid data feed format: RSS element not found.");
    }

    // Makes the controller, not yet started.
    AppController& make() {
        app = std::make_unique<AppController>(SiteAddresses::forSite(site()));
        return *app;
    }
    // Makes and starts a controller, and waits for its first refresh.
    AppController& start() {
        make();
        if (!finished([this] { app->awakeFromNib(); }))
            qFatal("the first refresh never finished");
        return *app;
    }
    bool refresh() {
        return finished([this] { app->updateData(); });
    }
    // Runs what starts a refresh and waits for its end; false when it did not end in time.
    template <typename Start> bool finished(Start start) {
        QSignalSpy done(app.get(), &AppController::refreshFinished);
        start();
        return done.wait(10000);
    }

    // Opens the preferences window from the menu, sets the controls and clicks Save.
    void save(int period, bool showSource, bool trimTitle,
              const std::optional<QString>& feed = std::nullopt) {
        app->preferencesMenuItem()->trigger();
        PreferenceController* prefs = app->preferencesController();
        prefs->intervalCombo()->setCurrentIndex(period);
        prefs->showSourceButton()->setChecked(showSource);
        prefs->trimTitleButton()->setChecked(trimTitle);
        if (feed)
            prefs->feedAddressEdit()->setText(*feed);
        QTest::mouseClick(prefs->saveButton(), Qt::LeftButton);
    }

    // The feed part of the menu, top first.
    QList<FeedMenuItem*> feedItems() const {
        QList<FeedMenuItem*> items;
        for (QAction* action : app->barMenu()->actions())
            if (isFeedMenuItem(action))
                items.append(static_cast<FeedMenuItem*>(action));
        return items;
    }
    QStringList links() const {
        QStringList result;
        for (FeedMenuItem* item : feedItems())
            result.append(item->feedLink().value_or(QStringLiteral("<none>")));
        return result;
    }
    // Which image each entry shows ("new", "clicked", "blank" or "other"), then "blinking" while
    // the icon blinks.
    QString state() const {
        const QHash<qint64, QString> names{{app->newIcon().cacheKey(), "new"},
                                           {app->newIconClicked().cacheKey(), "clicked"},
                                           {app->blankIcon().cacheKey(), "blank"}};
        QStringList result;
        for (FeedMenuItem* item : feedItems())
            result.append(names.value(item->icon().cacheKey(), "other"));
        if (app->blinkTimer() && app->blinkTimer()->isActive())
            result.append(QStringLiteral("blinking"));
        return result.join(u' ');
    }

    QTemporaryDir config;
    HttpServer server;
    UrlRecorder urls; // what the program hands to the desktop to open
    std::unique_ptr<AppController> app;
};
