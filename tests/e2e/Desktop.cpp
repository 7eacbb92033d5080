#include "Desktop.h"

#include "DataFile.h"

#include <QColor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <utility>

namespace e2e {

namespace {

// Whether a folder may be emptied for a session: an absolute path that holds neither the current
// folder nor the home folder (an unset variable must not empty the folder a test runs in).
bool mayEmpty(const QString& folder) {
    // (Qt gives both paths cleaned.)
    const QString prefix = QDir::cleanPath(folder + "/x").chopped(1); // ends with '/'
    return QDir::isAbsolutePath(folder) && !(QDir::currentPath() + '/').startsWith(prefix) &&
           !(QDir::homePath() + '/').startsWith(prefix);
}

// The smallest rectangle around the pixels of the area that pass the test.
QRect areaWhere(const QRect& area, const std::function<bool(QPoint)>& test) {
    QRect found;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (test({x, y}))
                found |= QRect(x, y, 1, 1);
    return found;
}

} // namespace

QRect changedArea(const QImage& before, const QImage& after, const QRect& area) {
    return areaWhere(area.intersected(before.rect()).intersected(after.rect()),
                     [&](QPoint p) { return before.pixel(p) != after.pixel(p); });
}

QStringList fixtureLines(const QString& fileName) {
    return dataLines(QStringLiteral(E2E_FIXTURES "/") + fileName);
}

QList<QStringList> fixtureRows(const QString& fileName, qsizetype fields) {
    static const QRegularExpression bar("\\s*\\|\\s*");
    QList<QStringList> rows;
    for (const QString& line : fixtureLines(fileName)) {
        rows.append(line.split(bar));
        if (rows.last().size() != fields)
            qFatal("not %d fields in %s: %s", int(fields), qPrintable(fileName), qPrintable(line));
    }
    return rows;
}

QRect newEntryDot(const QImage& picture, const QRect& area) {
    return areaWhere(area.intersected(picture.rect()), [&](QPoint p) {
        const QColor c = picture.pixelColor(p);
        return c.blue() > 150 && c.red() < 120 && c.green() < 170;
    });
}

bool refreshWith(HttpServer& server, const QList<FeedFixture::Entry>& newEntries) {
    server.serve(feedPath, FeedFixture::rdf(newEntries + firstEntries));
    const int before = server.requestCount(feedPath);
    const bool answered = waitFor([&] {
        return server.requestCount(feedPath) > before && server.lastRequest(feedPath)->completed;
    });
    QTest::qWait(300); // read by the program
    return answered;
}

Desktop::Desktop(const QString& home) : m_home(mayEmpty(home) ? home : QString()) {
    if (m_home.isEmpty()) {
        m_refused = "not a session folder to empty: \"" + home +
                    "\" (PINGLARK_E2E_HOME, which ctest sets, names a folder of its own)";
        return;
    }
    QDir(m_home).removeRecursively();
    for (const char* folder : {"config/Veltrano", "runtime", "data", "cache", "bin"})
        QDir().mkpath(m_home + "/" + folder);
    QFile::setPermissions(m_home + "/runtime",
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    // The desktop's URL opener, as Qt finds it on PATH: it writes down each call, one line of
    // tab-separated arguments per call.
    const QString opener = m_home + "/bin/xdg-open";
    writeAll(opener, "#!/bin/sh\n"
                     "{ printf 'xdg-open'; for a in \"$@\"; do printf '\\t%s' \"$a\"; done; "
                     "printf '\\n'; } >>'" +
                         QFile::encodeName(m_home) + "/opened.log'\n");
    QFile::setPermissions(opener, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

Desktop::~Desktop() {
    stopApp();
    if (m_app)
        qInfo().noquote() << "pinglark's output:\n" << log("pinglark");
    for (std::unique_ptr<QProcess>& child : m_children)
        SessionServer::end(*child);
}

QString Desktop::startSession(const QStringList& tools) {
    QStringList missing;
    for (const QString& tool : QStringList{"Xvfb", "dbus-daemon"} + tools)
        if (QStandardPaths::findExecutable(tool).isEmpty())
            missing.append(tool);
    if (!m_refused.isEmpty() || !missing.isEmpty())
        return m_refused +
               (missing.isEmpty() ? "" : "missing (tools/install-deps.sh installs them): ") +
               missing.join(", ");
    m_xvfb = SessionServer::display(m_home + "/xvfb.log");
    if (!m_xvfb)
        return "Xvfb did not start (see xvfb.log)";
    m_display = m_xvfb->address();
    run("xsetroot", {"-solid", "#3a4150"}); // a desktop colour, for pictures of the session
    m_bus = SessionServer::bus(m_home + "/dbus.log");
    return m_bus ? QString() : "dbus-daemon did not start (see dbus.log)";
}

QString Desktop::serveFeed(HttpServer& server, const QByteArray& generalSection) {
    server.serve(feedPath, FeedFixture::rdf(firstEntries));
    writeAll(m_home + "/config/Veltrano/Pinglark.conf", "[General]\n" + generalSection);
    return server.listen(feedPort)
               ? QString()
               : QStringLiteral("port %1 is taken (is `make run` running?)").arg(feedPort);
}

std::unique_ptr<QProcess> Desktop::process(const QString& logName, int deathSignal) const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Nothing of the session the test itself may run in.
    for (const char* name :
         {"DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DISPLAY", "XAUTHORITY", "XDG_CURRENT_DESKTOP",
          "XDG_SESSION_TYPE", "XDG_SESSION_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION",
          "GNOME_DESKTOP_SESSION_ID", "SESSION_MANAGER", "BROWSER", "QT_QPA_PLATFORM",
          "QT_QPA_PLATFORMTHEME", "QT_STYLE_OVERRIDE", "XDG_CONFIG_DIRS", "AT_SPI_BUS_ADDRESS"})
        env.remove(name);
    env.insert("DISPLAY", m_display);
    env.insert("DBUS_SESSION_BUS_ADDRESS", busAddress());
    env.insert("HOME", m_home);
    env.insert("XDG_RUNTIME_DIR", m_home + "/runtime");
    for (const QString folder : {"config", "data", "cache"})
        env.insert("XDG_" + folder.toUpper() + "_HOME", m_home + "/" + folder);
    env.insert("PATH", m_home + "/bin:" + env.value("PATH", "/usr/bin:/bin"));
    auto process = std::make_unique<QProcess>();
    SessionServer::dieWithParent(*process, deathSignal);
    process->setProcessEnvironment(env);
    if (!logName.isEmpty()) {
        process->setProcessChannelMode(QProcess::MergedChannels);
        process->setStandardOutputFile(m_home + "/" + logName + ".log");
    }
    return process;
}

QProcess* Desktop::start(const QString& program, const QStringList& arguments,
                         const QString& logName, int deathSignal) {
    m_children.push_back(process(logName, deathSignal));
    m_children.back()->start(program, arguments);
    m_children.back()->waitForStarted(10000);
    return m_children.back().get();
}

std::optional<QByteArray> Desktop::run(const QString& program, const QStringList& arguments,
                                       int timeoutMs) const {
    const std::unique_ptr<QProcess> command = process(); // still running at the end: killed
    command->start(program, arguments);
    const bool ok = command->waitForFinished(timeoutMs) &&
                    command->exitStatus() == QProcess::NormalExit && command->exitCode() == 0;
    return ok ? std::optional(command->readAllStandardOutput()) : std::nullopt;
}

QString Desktop::log(const QString& logName) const {
    return QString::fromUtf8(readAll(m_home + "/" + logName + ".log"));
}

bool Desktop::statusNotifierHost() const {
    const QString watcher = "org.kde.StatusNotifierWatcher";
    QDBusMessage get = QDBusMessage::createMethodCall(watcher, "/StatusNotifierWatcher",
                                                      "org.freedesktop.DBus.Properties", "Get");
    get << watcher << "IsStatusNotifierHostRegistered";
    get.setAutoStartService(false);
    const QDBusMessage answer =
        QDBusConnection::connectToBus(busAddress(), "desktop").call(get, QDBus::Block, 5000);
    return answer.arguments().value(0).value<QDBusVariant>().variant().toBool();
}

bool Desktop::startApp() {
    m_app = start(PINGLARK_BINARY, {}, "pinglark");
    return m_app->state() == QProcess::Running;
}

QRect Desktop::startAppAndFindIcon(const QRect& area) {
    const QImage empty = settledScreenshot(area);
    QRect icon;
    // (A tray may draw its empty edge first, and hold still a moment before the icon.)
    const bool found = startApp() && waitFor([&] {
                           icon = changedArea(empty, settledScreenshot(area), area);
                           return icon.width() >= 12 && icon.height() >= 12;
                       });
    return found ? icon : QRect();
}

int Desktop::stopApp() {
    if (m_app)
        SessionServer::end(*m_app, 10000);
    return m_app && m_app->exitStatus() == QProcess::NormalExit ? m_app->exitCode() : -1;
}

QList<QStringList> Desktop::openerCalls() const {
    waitFor([&] { return !log("opened").isEmpty(); });
    QList<QStringList> calls;
    for (const QString& line : log("opened").split('\n', Qt::SkipEmptyParts))
        calls.append(line.split('\t').mid(1)); // after "xdg-open"
    return calls;
}

QList<Window> Desktop::windows(const QString& pattern, const char* by, bool onlyVisible) const {
    const QRegularExpression shell(
        "WINDOW=(\\d+)\\nX=(-?\\d+)\\nY=(-?\\d+)\\nWIDTH=(\\d+)\\nHEIGHT=(\\d+)");
    // (xdotool fails when a search finds nothing.)
    const QString answer =
        QString::fromLatin1(run("xdotool", {"search", onlyVisible ? "--onlyvisible" : "--all", by,
                                            pattern, "getwindowgeometry", "--shell", "%@"})
                                .value_or(""));
    QList<Window> found;
    for (const QRegularExpressionMatch& m : shell.globalMatch(answer))
        found.append(
            {m.captured(1).toULongLong(), QRect(m.captured(2).toInt(), m.captured(3).toInt(),
                                                m.captured(4).toInt(), m.captured(5).toInt())});
    return found;
}

bool Desktop::click(QPoint at) const {
    return run("xdotool",
               {"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1"})
        .has_value();
}

QImage Desktop::screenshot() const {
    const std::optional<QByteArray> png = run("import", {"-window", "root", "png:-"}, 30000);
    return png ? QImage::fromData(*png, "PNG") : QImage();
}

QImage Desktop::settledScreenshot(const QRect& area) const {
    QImage previous, now;
    const bool settled = waitFor([&] {
        previous = std::exchange(now, screenshot());
        return !now.isNull() && now.copy(area) == previous.copy(area);
    });
    return settled ? now : QImage();
}

bool Desktop::keep(const QImage& picture, const QString& fileName, const QRect& menu,
                   int margin) const {
    QRect area = picture.rect();
    if (!menu.isNull())
        area.setCoords(menu.left() - margin, 0, area.right(), menu.bottom() + 24);
    const QImage part = picture.copy(area & picture.rect());
    // (A suite that keeps several pictures gives the README the one of that name.)
    const QString readme = qEnvironmentVariable("PINGLARK_E2E_SCREENSHOT");
    return part.save(m_home + "/" + fileName) &&
           (QFileInfo(readme).fileName() != fileName || part.save(readme));
}

} // namespace e2e
