#include "Desktop.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <csignal>
#include <sys/prctl.h>

namespace e2e {

bool waitFor(const std::function<bool()>& predicate, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!predicate()) {
        if (deadline.hasExpired())
            return predicate();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

QStringList missingTools(const QStringList& tools) {
    QStringList missing;
    for (const QString& tool : tools)
        if (QStandardPaths::findExecutable(tool).isEmpty())
            missing.append(tool);
    return missing;
}

namespace {

// Children die with the test, even when ctest kills it at its timeout.
void dieWithParent(QProcess& process) {
    process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

void stop(std::unique_ptr<QProcess>& process) {
    if (!process || process->state() == QProcess::NotRunning)
        return;
    process->terminate();
    if (!process->waitForFinished(5000)) {
        process->kill();
        process->waitForFinished(5000);
    }
}

// The first line a child writes on its standard output (an address, a display number).
QByteArray firstLine(QProcess& process, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!process.canReadLine() && !deadline.hasExpired() &&
           process.state() != QProcess::NotRunning)
        process.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
    return process.readLine().trimmed();
}

} // namespace

Desktop::Desktop(const QString& home) : m_home(home) {
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
    stop(m_bus);
    stop(m_xvfb);
}

bool Desktop::startDisplay(QString* error) {
    // A display number of its own, away from the low ones desktops and other tools take. Xvfb
    // writes it on the descriptor given once it accepts connections; a number taken meanwhile
    // makes it exit, and another one is tried.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int number = 200 + int(QRandomGenerator::global()->bounded(700));
        if (QFile::exists(QString("/tmp/.X%1-lock").arg(number)))
            continue;
        m_xvfb = std::make_unique<QProcess>();
        dieWithParent(*m_xvfb);
        m_xvfb->setStandardErrorFile(m_home + "/xvfb.log", QIODevice::Append);
        m_xvfb->start("Xvfb", {":" + QString::number(number), "-displayfd", "1", "-screen", "0",
                               "800x600x24", "-nolisten", "tcp", "-noreset"});
        if (firstLine(*m_xvfb, 15000) != QByteArray::number(number)) {
            stop(m_xvfb);
            continue;
        }
        m_display = ":" + QString::number(number);
        if (run("xdpyinfo", {})) {
            // A desktop colour, so that pictures of the session look like a desktop. (Without
            // -noreset, Xvfb would forget it when xsetroot disconnects.)
            run("xsetroot", {"-solid", "#3a4150"});
            return true;
        }
        stop(m_xvfb);
    }
    *error = "Xvfb did not start (see " + m_home + "/xvfb.log)";
    return false;
}

bool Desktop::startBus(QString* error) {
    m_bus = std::make_unique<QProcess>();
    dieWithParent(*m_bus);
    m_bus->setStandardErrorFile(m_home + "/dbus.log");
    m_bus->start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    m_busAddress = QString::fromLatin1(firstLine(*m_bus, 15000));
    if (m_busAddress.isEmpty()) {
        *error = "dbus-daemon did not start (see " + m_home + "/dbus.log)";
        return false;
    }
    return true;
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
    dieWithParent(*process);
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
    dieWithParent(process);
    process.setProcessEnvironment(environment());
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

bool Desktop::startApp(const QString& binary, QString* error) {
    m_app = newChild(binary, {}, "pinglark");
    if (m_app->state() != QProcess::Running) {
        *error = binary + " did not start: " + m_app->errorString();
        return false;
    }
    return true;
}

QString Desktop::appLog() const {
    QFile log(m_home + "/pinglark.log");
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll());
}

int Desktop::stopApp() {
    if (!m_app)
        return -1;
    if (m_app->state() != QProcess::NotRunning) {
        m_app->terminate();
        if (!m_app->waitForFinished(10000)) {
            m_app->kill();
            m_app->waitForFinished(5000);
            return -1;
        }
    }
    return m_app->exitStatus() == QProcess::NormalExit ? m_app->exitCode() : -1;
}

QList<QStringList> Desktop::openerCalls() const {
    QList<QStringList> calls;
    QFile log(m_home + "/opened.log");
    if (!log.open(QIODevice::ReadOnly))
        return calls;
    for (const QByteArray& line : log.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        QStringList arguments = QString::fromUtf8(line).split('\t');
        arguments.removeFirst();
        calls.append(arguments);
    }
    return calls;
}

QList<Window> Desktop::windows(const QString& classPattern, bool onlyVisible) const {
    QStringList arguments{"search"};
    if (onlyVisible)
        arguments << "--onlyvisible";
    arguments << "--classname" << classPattern;
    QList<Window> found;
    const std::optional<QByteArray> ids = run("xdotool", arguments);
    if (!ids)
        return found; // xdotool fails when nothing matches
    for (const QByteArray& id : ids->split('\n'))
        if (const std::optional<Window> w = window(id.trimmed().toULongLong()))
            found.append(*w);
    return found;
}

QList<Window> Desktop::windowsNamed(const QString& namePattern) const {
    QList<Window> found;
    const std::optional<QByteArray> ids =
        run("xdotool", {"search", "--onlyvisible", "--name", namePattern});
    if (!ids)
        return found;
    for (const QByteArray& id : ids->split('\n'))
        if (const std::optional<Window> w = window(id.trimmed().toULongLong()))
            found.append(*w);
    return found;
}

std::optional<Window> Desktop::window(qulonglong id) const {
    if (id == 0)
        return std::nullopt;
    const std::optional<QByteArray> shell =
        run("xdotool", {"getwindowgeometry", "--shell", QString::number(id)});
    if (!shell)
        return std::nullopt;
    QHash<QByteArray, int> values;
    for (const QByteArray& line : shell->split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals > 0)
            values.insert(line.left(equals), line.mid(equals + 1).toInt());
    }
    return Window{id, QRect(values.value("X"), values.value("Y"), values.value("WIDTH"),
                            values.value("HEIGHT"))};
}

namespace {
qulonglong windowIdAfter(const QByteArray& text, const QString& label) {
    const QRegularExpression pattern(QRegularExpression::escape(label) + ": (0x[0-9a-f]+)");
    const QRegularExpressionMatch match = pattern.match(QString::fromLatin1(text));
    return match.hasMatch() ? match.captured(1).toULongLong(nullptr, 16) : 0;
}
} // namespace

qulonglong Desktop::parentOf(qulonglong id) const {
    const std::optional<QByteArray> tree = run("xwininfo", {"-id", QString::number(id), "-tree"});
    return tree ? windowIdAfter(*tree, "Parent window id") : 0;
}

qulonglong Desktop::rootWindow() const {
    const std::optional<QByteArray> tree = run("xwininfo", {"-root", "-tree"});
    return tree ? windowIdAfter(*tree, "Root window id") : 0;
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
