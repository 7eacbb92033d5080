// Two budgets of the real program on a virtual desktop whose panel is a stand-in
// StatusNotifierWatcher on a private session bus:
// - start-up: from exec to the item registered with the panel, median of 10 (goal <= 50 ms);
// - blink: bytes crossing the bus per second while the icon blinks, with the panel reading the
//   picture after every change: as a pixmap, as hosts that cannot look names up do (goal
//   <= 5 KB/s), and by name (goal <= 1 KB/s).
// Prints both figures; exits non-zero when a goal is missed.

#include "Desktop.h"
#include "FeedFixture.h"
#include "HttpServer.h"
#include "NumberedEntries.h"
#include "Watcher.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

using namespace e2e;

namespace {

constexpr double startupGoalMs = 50;
constexpr double pixmapBlinkGoalBytesPerSecond = 5 * 1024;
constexpr double namedBlinkGoalBytesPerSecond = 1024;

// Reads the item's picture whenever it says it changed, as a panel does: the pixmap, or the name
// (to be looked up in the item's IconThemePath, which never changes). LXQt's panel reads the
// folder again with every name, one more call and answer of about 370 bytes; XFCE's and waybar's
// read every property at once (GetAll), pixmap included.
class IconReader : public QObject {
    Q_OBJECT
public:
    IconReader(QDBusConnection bus, QString service) : m_bus(bus), m_service(std::move(service)) {}
    int changes = 0;
    bool byName = false;
public Q_SLOTS:
    void newIcon() {
        ++changes;
        QDBusMessage get = QDBusMessage::createMethodCall(
            m_service, QStringLiteral("/StatusNotifierItem"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        get.setArguments({QStringLiteral("org.kde.StatusNotifierItem"),
                          byName ? QStringLiteral("IconName") : QStringLiteral("IconPixmap")});
        m_bus.asyncCall(get);
    }

private:
    QDBusConnection m_bus;
    QString m_service;
};

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTemporaryDir home;
    Desktop desktop(home.path());
    if (const QString error = desktop.startSession(); !error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 2;
    }
    QDBusConnection panel =
        QDBusConnection::connectToBus(desktop.busAddress(), QStringLiteral("panel"));
    Watcher watcher;
    panel.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                         QDBusConnection::ExportAdaptors);
    panel.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    panel.registerService(
        QStringLiteral("org.kde.StatusNotifierHost-%1").arg(app.applicationPid()));

    HttpServer server;
    if (const QString problem = desktop.serveFeed(server, "DataRefreshInterval=2\n");
        !problem.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(problem));
        return 2;
    }
    server.serve(feedPath, FeedFixture::rdf(numbered(15, 2)));

    // Start-up, ten times.
    QList<double> startups;
    for (int run = 0; run < 10; ++run) {
        // Timed where the registration arrives, not by polling for it.
        watcher.services.clear();
        QEventLoop loop;
        QTimer::singleShot(15000, &loop, &QEventLoop::quit);
        QElapsedTimer clock;
        double registeredMs = 0;
        const auto registered =
            QObject::connect(&watcher, &Watcher::StatusNotifierItemRegistered, &loop, [&] {
                registeredMs = double(clock.nsecsElapsed()) / 1e6;
                loop.quit();
            });
        clock.start();
        if (desktop.startApp())
            loop.exec();
        QObject::disconnect(registered);
        if (watcher.services.isEmpty()) {
            std::fprintf(stderr, "the item never registered: %s\n",
                         qPrintable(desktop.log(QStringLiteral("pinglark"))));
            return 2;
        }
        startups.append(registeredMs);
        desktop.stopApp();
    }
    std::sort(startups.begin(), startups.end());
    const double startup = (startups[4] + startups[5]) / 2;

    // The blink: a new top entry, then the bus watched for a while.
    watcher.services.clear();
    desktop.startApp();
    waitFor([&] { return !watcher.services.isEmpty(); }, 15000);
    IconReader reader(panel, watcher.services.value(0));
    panel.connect(watcher.services.value(0), QStringLiteral("/StatusNotifierItem"),
                  QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("NewIcon"), &reader,
                  SLOT(newIcon()));
    server.serve(feedPath, FeedFixture::rdf(numbered(16, 1)));
    if (!waitFor([&] { return reader.changes >= 2; }, 15000)) {
        std::fprintf(stderr, "the icon never blinked\n");
        return 2;
    }
    // Bytes on the bus per second, and icon changes, while the panel reads the picture one way.
    const int seconds = 6;
    const auto measureBlink = [&](bool byName, int* changes) {
        reader.byName = byName;
        const QString capture = home.path() + QStringLiteral("/bus.pcap");
        QProcess monitor;
        monitor.setStandardOutputFile(capture);
        monitor.start(
            QStringLiteral("dbus-monitor"),
            {QStringLiteral("--address"), desktop.busAddress(), QStringLiteral("--pcap")});
        monitor.waitForStarted();
        waitFor([] { return false; }, 1000);
        const qint64 before = QFileInfo(capture).size();
        const int changesBefore = reader.changes;
        waitFor([] { return false; }, seconds * 1000);
        const qint64 bytes = QFileInfo(capture).size() - before;
        *changes = reader.changes - changesBefore;
        monitor.terminate();
        monitor.waitForFinished();
        return double(bytes) / seconds;
    };
    int pixmapChanges = 0;
    int namedChanges = 0;
    const double pixmapPerSecond = measureBlink(false, &pixmapChanges);
    const double namedPerSecond = measureBlink(true, &namedChanges);
    // The names were really there to be read.
    QDBusMessage getName = QDBusMessage::createMethodCall(
        watcher.services.value(0), QStringLiteral("/StatusNotifierItem"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    getName.setArguments(
        {QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("IconName")});
    const QString iconName =
        panel.call(getName).arguments().value(0).value<QDBusVariant>().variant().toString();
    desktop.stopApp();

    std::printf("start-up to the item registered on D-Bus: median %.1f ms of 10 (fastest %.1f, "
                "slowest %.1f; goal <= %.0f ms)\n",
                startup, startups.first(), startups.last(), startupGoalMs);
    std::printf("blinking, the panel reading pixmaps: %.0f bytes/s on the bus over %d s, %d icon "
                "changes (goal <= %.0f)\n",
                pixmapPerSecond, seconds, pixmapChanges, pixmapBlinkGoalBytesPerSecond);
    std::printf("blinking, the panel reading names: %.0f bytes/s on the bus over %d s, %d icon "
                "changes (goal <= %.0f)\n",
                namedPerSecond, seconds, namedChanges, namedBlinkGoalBytesPerSecond);
    int status = 0;
    if (startup > startupGoalMs) {
        std::printf("MISSED: start-up\n");
        status = 1;
    }
    if (pixmapPerSecond > pixmapBlinkGoalBytesPerSecond || pixmapChanges < 4) {
        std::printf("MISSED: blink cost with pixmaps\n");
        status = 1;
    }
    if (namedPerSecond > namedBlinkGoalBytesPerSecond || namedChanges < 4 || iconName.isEmpty()) {
        std::printf("MISSED: blink cost with names\n");
        status = 1;
    }
    return status;
}

#include "desktop_budget.moc"
