#include "Desktop.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>

namespace e2e {

bool waitFor(const std::function<bool()>& predicate, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!predicate()) {
        if (deadline.hasExpired())
            return predicate();
        // The event loop runs between two looks, so that timers on this thread (the feed
        // server's) keep their pace.
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

namespace {

void stop(std::unique_ptr<QProcess>& process, int graceMs = 5000) {
    if (!process || process->state() == QProcess::NotRunning)
        return;
    process->terminate();
    if (!process->waitForFinished(graceMs)) {
        process->kill();
        process->waitForFinished(5000);
    }
}

// Whether a folder may be emptied for a session: an absolute path that holds neither the current
// folder nor the home folder (an unset variable must not empty the folder a test runs in).
bool mayEmpty(const QString& folder) {
    if (folder.isEmpty() || QDir::isRelativePath(folder))
        return false;
    QString path = QDir::cleanPath(folder);
    if (!path.endsWith('/'))
        path += '/';
    for (const QString& kept : {QDir::currentPath(), QDir::homePath()})
        if ((QDir::cleanPath(kept) + '/').startsWith(path))
            return false;
    return true;
}

} // namespace

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
    QFile opener(m_home + "/bin/xdg-open");
    opener.open(QIODevice::WriteOnly);
    opener.write("#!/bin/sh\n"
                 "{ printf 'xdg-open'; for a in \"$@\"; do printf '\\t%s' \"$a\"; done; "
                 "printf '\\n'; } >>'" +
                 QFile::encodeName(m_home) + "/opened.log'\n");
    opener.close();
    opener.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

Desktop::~Desktop() {
    stopApp();
    for (std::unique_ptr<QProcess>& child : m_children)
        stop(child);
}

bool Desktop::startDisplay(QString* error) {
    if (!m_refused.isEmpty()) {
        *error = m_refused;
        return false;
    }
    m_xvfb = SessionServer::display(m_home + "/xvfb.log");
    if (!m_xvfb) {
        *error = "Xvfb did not start (see " + m_home + "/xvfb.log)";
        return false;
    }
    m_display = m_xvfb->address();
    // A desktop colour, so that pictures of the session look like a desktop.
    run("xsetroot", {"-solid", "#3a4150"});
    return true;
}

QString Desktop::startSession(const QStringList& tools) {
    QStringList missing;
    for (const QString& tool : QStringList{"Xvfb", "dbus-daemon"} + tools)
        if (QStandardPaths::findExecutable(tool).isEmpty())
            missing.append(tool);
    if (!missing.isEmpty())
        return "missing (tools/install-deps.sh installs them): " + missing.join(", ");
    QString error;
    if (startDisplay(&error))
        startBus(&error);
    return error;
}

bool Desktop::startBus(QString* error) {
    if (!m_refused.isEmpty()) {
        *error = m_refused;
        return false;
    }
    m_bus = SessionServer::bus(m_home + "/dbus.log");
    if (!m_bus)
        *error = "dbus-daemon did not start (see " + m_home + "/dbus.log)";
    m_busAddress = m_bus ? m_bus->address() : QString();
    return m_bus != nullptr;
}

void Desktop::writeSettings(const QByteArray& generalSection) {
    QFile file(m_home + "/config/Veltrano/Pinglark.conf");
    file.open(QIODevice::WriteOnly);
    file.write("[General]\n" + generalSection);
}

QProcessEnvironment Desktop::environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Nothing of the session the test itself may run in.
    for (const char* name :
         {"DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DISPLAY", "XAUTHORITY", "XDG_CURRENT_DESKTOP",
          "XDG_SESSION_TYPE", "XDG_SESSION_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION",
          "GNOME_DESKTOP_SESSION_ID", "SESSION_MANAGER", "BROWSER", "QT_QPA_PLATFORM",
          "QT_QPA_PLATFORMTHEME", "QT_STYLE_OVERRIDE", "XDG_CONFIG_DIRS"})
        env.remove(name);
    env.insert("DISPLAY", m_display);
    env.insert("DBUS_SESSION_BUS_ADDRESS", m_busAddress);
    env.insert("HOME", m_home);
    env.insert("XDG_CONFIG_HOME", m_home + "/config");
    env.insert("XDG_RUNTIME_DIR", m_home + "/runtime");
    env.insert("XDG_DATA_HOME", m_home + "/data");
    env.insert("XDG_CACHE_HOME", m_home + "/cache");
    env.insert("PATH", m_home + "/bin:" + env.value("PATH", "/usr/bin:/bin"));
    return env;
}

std::unique_ptr<QProcess> Desktop::newChild(const QString& program, const QStringList& arguments,
                                            const QString& logName) const {
    auto process = std::make_unique<QProcess>();
    SessionServer::dieWithParent(*process);
    process->setProcessEnvironment(environment());
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setStandardOutputFile(m_home + "/" + logName + ".log");
    process->start(program, arguments);
    process->waitForStarted(10000);
    return process;
}

QProcess* Desktop::start(const QString& program, const QStringList& arguments,
                         const QString& logName) {
    m_children.push_back(newChild(program, arguments, logName));
    return m_children.back().get();
}

std::optional<QByteArray> Desktop::run(const QString& program, const QStringList& arguments,
                                       int timeoutMs) const {
    QProcess process;
    SessionServer::dieWithParent(process);
    process.setProcessEnvironment(environment());
    process.start(program, arguments);
    // (Still running at the time: killed as `process` goes.)
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

bool Desktop::startApp(const QString& binary, QString* error) {
    m_app = newChild(binary, {}, "pinglark");
    const bool running = m_app->state() == QProcess::Running;
    if (!running)
        *error = binary + " did not start: " + m_app->errorString();
    return running;
}

QString Desktop::log(const QString& logName) const {
    QFile log(m_home + "/" + logName + ".log");
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}

int Desktop::stopApp() {
    if (!m_app)
        return -1;
    stop(m_app, 10000); // killed: a crash exit
    return m_app->exitStatus() == QProcess::NormalExit ? m_app->exitCode() : -1;
}

bool Desktop::appExitsCleanly() {
    return waitFor([&] { return m_app->state() == QProcess::NotRunning; }) &&
           m_app->exitStatus() == QProcess::NormalExit && m_app->exitCode() == 0;
}

QList<QStringList> Desktop::openerCalls() const {
    QList<QStringList> calls;
    for (const QString& line : log("opened").split('\n', Qt::SkipEmptyParts))
        calls.append(line.split('\t').mid(1)); // after "xdg-open"
    return calls;
}

QList<Window> Desktop::geometries(const QStringList& xdotoolArguments) const {
    const QRegularExpression shell(
        "WINDOW=(\\d+)\\nX=(-?\\d+)\\nY=(-?\\d+)\\nWIDTH=(\\d+)\\nHEIGHT=(\\d+)");
    // (xdotool fails when a search finds nothing.)
    const QString answer = QString::fromLatin1(run("xdotool", xdotoolArguments).value_or(""));
    QList<Window> found;
    for (const QRegularExpressionMatch& m : shell.globalMatch(answer))
        found.append(
            {m.captured(1).toULongLong(), QRect(m.captured(2).toInt(), m.captured(3).toInt(),
                                                m.captured(4).toInt(), m.captured(5).toInt())});
    return found;
}

QList<Window> Desktop::windows(const QString& pattern, bool onlyVisible, const char* by) const {
    return geometries(QStringList{"search"} +
                      (onlyVisible ? QStringList{"--onlyvisible"} : QStringList()) +
                      QStringList{by, pattern, "getwindowgeometry", "--shell", "%@"});
}

std::optional<Window> Desktop::window(qulonglong id) const {
    const QList<Window> found = geometries({"getwindowgeometry", "--shell", QString::number(id)});
    return found.isEmpty() ? std::nullopt : std::optional(found.first());
}

bool Desktop::docked(qulonglong id) const {
    const QString tree = QString::fromLatin1(
        run("xwininfo", {"-id", QString::number(id), "-tree"}).value_or(QByteArray()));
    const auto idAfter = [&](const QString& label) {
        const QRegularExpressionMatch match =
            QRegularExpression(label + ": (0x[0-9a-f]+)").match(tree);
        return match.hasMatch() ? match.captured(1).toULongLong(nullptr, 16) : 0;
    };
    const qulonglong parent = idAfter("Parent window id");
    const qulonglong root = idAfter("Root window id");
    return parent != 0 && root != 0 && parent != root;
}

bool Desktop::click(QPoint at, int button) const {
    return run("xdotool", {"mousemove", QString::number(at.x()), QString::number(at.y()), "click",
                           QString::number(button)})
        .has_value();
}

QImage Desktop::screenshot() const {
    const std::optional<QByteArray> png = run("import", {"-window", "root", "png:-"}, 30000);
    return png ? QImage::fromData(*png, "PNG") : QImage();
}

} // namespace e2e
