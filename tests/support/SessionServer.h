#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <csignal>
#include <memory>

// The servers of a private desktop session, for the suites and benchmarks that play a desktop: a
// bus (dbus-daemon) and a virtual X display (Xvfb). They are started here and nowhere else (the
// scripts have tools/desktop.sh). Each runs as a child that dies with the process that started
// it, even one that ctest kills at its timeout, and ends with its object.
class SessionServer {
public:
    // A bus of the session kind, whatever it stands for; nothing when dbus-daemon did not start.
    // Its errors go to errorLog when one is given.
    static std::unique_ptr<SessionServer> bus(const QString& errorLog = {});
    // An X server on a display of its own, 800x600 at 24 bits.
    static std::unique_ptr<SessionServer> display(const QString& errorLog = {});
    ~SessionServer();
    SessionServer(const SessionServer&) = delete;
    SessionServer& operator=(const SessionServer&) = delete;

    // What clients are given: the bus address, or the display name (":N").
    QString address() const { return m_address; }

    // Makes a process started afterwards die with this one, by this signal: SIGTERM for one that
    // must end children of its own, which SIGKILL would leave behind.
    static void dieWithParent(QProcess& process, int signal = SIGKILL);
    // Ends a process: SIGTERM, and SIGKILL when it is still there after graceMs.
    static void end(QProcess& process, int graceMs = 5000);

private:
    SessionServer() = default;
    // Starts the server; true once it wrote where to reach it (its first line) within 15 s.
    bool start(const QString& program, const QStringList& arguments, const QString& errorLog);

    QProcess m_process;
    QString m_address;
};
