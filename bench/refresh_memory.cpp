// What a refresh costs in memory when the feed means harm, and whether memory stays flat over
// many refreshes.
//
// Peaks: each body below is served from this process over 127.0.0.1 to a fresh process of this
// program, which starts a controller, lets its first refresh download, parse and fill the menu,
// and reports its peak resident memory (VmHWM). Goal: at most 150 MB for every body that the
// 8 MiB download cap lets through; a large ordinary feed must still be read.
// Flat: in a fresh process too, resident memory grows by less than 512 kB over 5,000 refreshes of
// which a third fail, and over 4,000 real downloads that fail in four different ways, once 1,000
// of each have let the allocator and Qt's caches settle. (Their live heap does not grow at all:
// the margin is for the allocator. A leak of 150 bytes a refresh is caught.)
//
// Prints every figure; exits non-zero when a goal is missed.

#include "AppController.h"
#include "FeedFixture.h"
#include "FeedMenuItem.h"
#include "HostileFeeds.h"
#include "HttpServer.h"
#include "NumberedEntries.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QMenu>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>

using namespace std::chrono_literals;

namespace {

using namespace HostileFeeds;

constexpr qint64 peakGoalKb = 150 * 1024;
constexpr qint64 growthGoalKb = 512;
const QString feedPath = QStringLiteral("/notifications/veltrano.xml");

// A figure of /proc/self/status, in kB: VmHWM (peak resident memory) or VmRSS (resident now).
qint64 memoryKb(const QByteArray& field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

// The feed part of the menu: the number of entries, or -1 for the placeholder alone.
int entries(const AppController& app) {
    int count = 0;
    for (QAction* action : app.barMenu()->actions()) {
        if (!isFeedMenuItem(action))
            continue;
        if (!static_cast<FeedMenuItem*>(action)->feedTitle())
            return -1;
        ++count;
    }
    return count;
}

// Runs until the controller's refresh in flight has finished; false when it took over a minute.
bool awaitRefresh(AppController& app, const std::function<void()>& start) {
    QEventLoop loop;
    QObject::connect(&app, &AppController::refreshFinished, &loop, [&] { loop.exit(0); });
    // A timer of this call's own: QTimer::singleShot() would keep one alive for the whole minute
    // after the call returned, and a few hundred bytes a refresh would pass for growth.
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] { loop.exit(1); });
    deadline.start(60s);
    start();
    return loop.exec() == 0;
}

// The child: one refresh from the site, then "<peak kB> <entries>" on standard output.
int refreshOnce(const QString& site) {
    AppController app(SiteAddresses::forSite(site));
    if (!awaitRefresh(app, [&] { app.awakeFromNib(); }))
        return 1;
    std::printf("%lld %d\n", memoryKb("VmHWM"), entries(app));
    return 0;
}

// Settings, cache and runtime folders of its own, and no desktop to talk to.
QProcessEnvironment privateEnvironment(const QString& home) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
    for (const char* folder : {"HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"})
        env.insert(QString::fromLatin1(folder), home);
    return env;
}

struct Peak {
    qint64 kb = 0;
    int entries = 0;
};

// Runs this program with args in a fresh process with folders of its own; its exit code and
// standard output, or nothing when it crashed or took over two minutes. Its errors pass through.
std::optional<std::pair<int, QByteArray>> runChild(const QStringList& args) {
    QTemporaryDir home;
    QProcess child;
    child.setProcessEnvironment(privateEnvironment(home.path()));
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QEventLoop loop;
    QObject::connect(&child, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&child, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    child.start(QCoreApplication::applicationFilePath(), args);
    QTimer::singleShot(120s, &loop, &QEventLoop::quit);
    loop.exec();
    if (child.state() != QProcess::NotRunning) {
        child.kill();
        child.waitForFinished();
        return std::nullopt;
    }
    if (child.exitStatus() != QProcess::NormalExit)
        return std::nullopt;
    return std::pair{child.exitCode(), child.readAllStandardOutput()};
}

// Serves body and runs one refresh of it in a fresh process.
std::optional<Peak> peakOf(HttpServer& server, const std::function<void(HttpServer&)>& serve) {
    serve(server);
    const auto result =
        runChild({QStringLiteral("--refresh"), server.url(QStringLiteral("/")).toString()});
    const QList<QByteArray> figures =
        result ? result->second.trimmed().split(' ') : QList<QByteArray>();
    if (!result || result->first != 0 || figures.size() != 2)
        return std::nullopt;
    return Peak{figures[0].toLongLong(), figures[1].toInt()};
}

// How much resident memory grows over `count` refreshes, after `settle` more have let allocator
// pools and caches settle; nothing when a refresh did not finish.
std::optional<qint64> residentGrowth(const std::function<bool(int)>& refresh, int settle,
                                     int count) {
    qint64 settled = 0;
    for (int i = 0; i < settle + count; ++i) {
        if (i == settle)
            settled = memoryKb("VmRSS");
        if (!refresh(i))
            return std::nullopt;
    }
    return memoryKb("VmRSS") - settled;
}

bool report(const char* what, std::optional<qint64> growth) {
    if (!growth) {
        std::printf("  %-50s a refresh never finished\n", what);
        return false;
    }
    std::printf("  %-48s %7lld kB  (goal < %lld kB)\n", what, *growth, growthGoalKb);
    return *growth < growthGoalKb;
}

// Resident memory over many refreshes in this process, which has done nothing else: parsed
// directly, and downloaded.
bool memoryStaysFlat() {
    HttpServer server;
    if (!server.listen())
        return false;
    const QByteArray older = FeedFixture::rdf(numbered(3, 2));
    const QByteArray newer = FeedFixture::rdf(numbered(4, 1));
    const QByteArray broken = "<rdf:RDF><item>";
    server.serve(feedPath, older);
    AppController app(SiteAddresses::forSite(server.url(QStringLiteral("/")).toString()));
    if (!awaitRefresh(app, [&] { app.awakeFromNib(); }))
        return report("first refresh", std::nullopt);
    const auto settleEvents = [] {
        // What the event loop does between two refreshes, replaced entries freed too.
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    };

    bool ok = report("growth over 5,000 refreshes, a third failing",
                     residentGrowth(
                         [&](int i) {
                             app.finishRefresh(i % 3 == 0 ? broken : i % 2 ? newer : older);
                             settleEvents();
                             return entries(app) != 0;
                         },
                         1000, 5000));

    // Real refreshes over the network, each failing a different way: an error status, a body
    // over the cap, a redirect loop, a server that closes without answering.
    HttpServer::Response closeAtOnce;
    closeAtOnce.raw = QByteArray();
    ok &= report("growth over 4,000 failed downloads",
                 residentGrowth(
                     [&](int i) {
                         if (i % 4 == 0)
                             server.serveStatus(feedPath, 500);
                         else if (i % 4 == 1)
                             server.setRoute(feedPath, {.contentType = "text/plain",
                                                        .generatedSize = bodyCap + 1024 * 1024});
                         else if (i % 4 == 2)
                             server.redirect(feedPath, server.url(feedPath).toEncoded());
                         else
                             server.setRoute(feedPath, closeAtOnce);
                         if (!awaitRefresh(app, [&] { app.updateData(); }))
                             return false;
                         server.clearRequests(); // the test server's own records
                         settleEvents();
                         return entries(app) == -1;
                     },
                     1000, 4000));
    return ok;
}

} // namespace

int main(int argc, char* argv[]) {
    const bool child = argc > 1 && std::strncmp(argv[1], "--", 2) == 0;
    QTemporaryDir home;
    if (!child) {
        const QProcessEnvironment env = privateEnvironment(home.path());
        for (const QString& name : env.keys())
            qputenv(name.toLocal8Bit().constData(), env.value(name).toLocal8Bit());
    }
    QApplication application(argc, argv);
    // The refreshes here fail on purpose; their log lines say nothing new.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    if (argc == 3 && std::strcmp(argv[1], "--refresh") == 0)
        return refreshOnce(QString::fromLocal8Bit(argv[2]));
    if (argc == 2 && std::strcmp(argv[1], "--flat") == 0)
        return memoryStaysFlat() ? 0 : 1;

    HttpServer server;
    if (!server.listen()) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1\n");
        return 2;
    }
    struct Case {
        const char* name;
        QByteArray body;
        bool mustRead; // an ordinary feed: its entries must reach the menu
        // Bodies far past the download cap are made by the server as they are sent.
        qint64 generated = 0;
        bool gzip = false;
    };
    const Case cases[] = {
        {"ordinary feed, 30 entries", FeedFixture::rdf(numbered(30)), true},
        {"ordinary feed, short entries up to the cap", largeFeedBody(), true},
        {"RSS 1.0, tiny entries up to the cap", tinyEntries(false), true},
        {"RSS 2.0, tiny entries up to the cap", tinyEntries(true), true},
        {"deep: 1,000,000 nested elements", upToCap(Where::Title, nested(1000000)), false},
        {"flat: empty elements", upToCap(Where::Root, "<a/>"), false},
        {"1,000 attributes per element", upToCap(Where::Root, attributes(1000)), false},
        {"one element, attributes of distinct names", upToCap(Where::Root, attributes(800000)),
         false},
        {"processing instructions", upToCap(Where::Root, "<?a?>"), false},
        {"text and undeclared entities", upToCap(Where::Root, "x&a;"), false},
        {"entities of 100 elements each",
         upToCap(Where::Root, "&e;", entityDeclaration(QByteArray("<a/>").repeated(100))), false},
        {"title of entities of 50 characters each",
         upToCap(Where::Title, "&e;", entityDeclaration(QByteArray(50, 'x'))), false},
        {"100 MB body", {}, false, 100 * 1024 * 1024},
        {"100 MB gzip bomb", {}, false, 100 * 1024 * 1024, true},
    };
    bool ok = true;
    std::printf("peak resident memory of one refresh (goal <= %lld kB):\n", peakGoalKb);
    for (const Case& c : cases) {
        const std::optional<Peak> peak = peakOf(server, [&c](HttpServer& s) {
            if (c.generated)
                s.setRoute(
                    feedPath,
                    {.contentType = "text/plain", .gzip = c.gzip, .generatedSize = c.generated});
            else
                s.serve(feedPath, c.body);
        });
        if (!peak) {
            std::printf("  %-48s the refresh never finished\n", c.name);
            ok = false;
            continue;
        }
        const QByteArray outcome = peak->entries < 0
                                       ? QByteArray("placeholder")
                                       : QByteArray::number(peak->entries) + " entries";
        std::printf("  %-48s %7lld kB  (%.1f MB body, %s)\n", c.name, peak->kb,
                    double(c.generated ? c.generated : c.body.size()) / (1024 * 1024),
                    outcome.constData());
        if (peak->kb > peakGoalKb) {
            std::printf("MISSED: peak memory\n");
            ok = false;
        }
        if (c.mustRead && peak->entries <= 0) {
            std::printf("MISSED: an ordinary feed was not read\n");
            ok = false;
        }
    }
    std::printf("resident memory over many refreshes:\n");
    std::fflush(stdout);
    const auto flat = runChild({QStringLiteral("--flat")});
    std::printf("%s", flat ? flat->second.constData() : "  the check never finished\n");
    ok &= flat && flat->first == 0;
    return ok ? 0 : 1;
}
