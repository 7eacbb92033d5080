#pragma once

// What the application suites share: a private settings folder, a feed served over real HTTP on
// 127.0.0.1, a controller pointed at it, and a few ways to look at its menu.

#include "AppController.h"
#include "FeedMenuItem.h"
#include "HttpServer.h"

#include <QDesktopServices>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

struct FeedEntry {
    std::optional<QString> title;
    std::optional<QString> link;
    std::optional<QString> creator;
};

inline QString xmlEscaped(const QString& text) {
    return text.toHtmlEscaped();
}

// An RSS 1.0 document with a channel element and the given items as children of rdf:RDF.
inline QByteArray rdfFeed(const QList<FeedEntry>& entries, const QString& extraChildren = {}) {
    QString doc =
        QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                       "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"\n"
                       "         xmlns=\"http://purl.org/rss/1.0/\" "
                       "xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
                       "  <channel rdf:about=\"http://news.example/\"><title>Channel title</title>"
                       "<link>http://news.example/</link></channel>\n");
    doc += extraChildren;
    for (const FeedEntry& entry : entries) {
        doc += QStringLiteral("  <item>");
        if (entry.title)
            doc += QStringLiteral("<title>%1</title>").arg(xmlEscaped(*entry.title));
        if (entry.link)
            doc += QStringLiteral("<link>%1</link>").arg(xmlEscaped(*entry.link));
        if (entry.creator)
            doc += QStringLiteral("<dc:creator>%1</dc:creator>").arg(xmlEscaped(*entry.creator));
        doc += QStringLiteral("</item>\n");
    }
    doc += QStringLiteral("</rdf:RDF>\n");
    return doc.toUtf8();
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
        QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("javascript"), this, "open");
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

    AppHarness() {
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        if (!server.listen())
            qFatal("cannot listen on 127.0.0.1");
    }

    QString site() const { return server.url(QStringLiteral("/")).toString(); }
    void serveFeed(const QList<FeedEntry>& entries, const QString& extra = {}) {
        server.serve(feedPath, rdfFeed(entries, extra));
    }

    // Makes the controller (not yet started).
    AppController& make() {
        app = std::make_unique<AppController>(SiteAddresses::forSite(site()));
        return *app;
    }

    // Makes and starts the controller, and waits for its first refresh.
    AppController& start() {
        make();
        QSignalSpy done(app.get(), &AppController::refreshFinished);
        app->awakeFromNib();
        if (!done.wait(10000))
            qFatal("the first refresh never finished");
        return *app;
    }

    // Runs one refresh to its end; false when it did not finish in time.
    bool refresh(int timeoutMs = 10000) {
        QSignalSpy done(app.get(), &AppController::refreshFinished);
        app->updateData();
        return done.wait(timeoutMs);
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
    // Which image each entry shows: "new", "clicked", "blank" or "other".
    QStringList marks() const {
        QStringList result;
        for (FeedMenuItem* item : feedItems()) {
            const qint64 key = item->icon().cacheKey();
            result.append(key == app->newIcon().cacheKey()          ? QStringLiteral("new")
                          : key == app->newIconClicked().cacheKey() ? QStringLiteral("clicked")
                          : key == app->blankIcon().cacheKey()      ? QStringLiteral("blank")
                                                                    : QStringLiteral("other"));
        }
        return result;
    }
    bool blinking() const { return app->blinkTimer() && app->blinkTimer()->isActive(); }

    QTemporaryDir config;
    HttpServer server;
    std::unique_ptr<AppController> app;
};
