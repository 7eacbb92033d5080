#include "SessionServer.h"

#include <QDeadlineTimer>
#include <QFile>

#include <csignal>
#include <sys/prctl.h>

std::unique_ptr<SessionServer> SessionServer::bus(const QString& errorLog) {
    std::unique_ptr<SessionServer> server(new SessionServer);
    const bool started =
        server->start("dbus-daemon", {"--session", "--nofork", "--print-address=1"}, errorLog);
    return started ? std::move(server) : nullptr;
}

std::unique_ptr<SessionServer> SessionServer::display(const QString& errorLog) {
    // Xvfb picks a free display number itself and writes it on the descriptor given once it
    // accepts connections. (Without -noreset, it would forget the root window's colour whenever
    // its last client disconnects.)
    std::unique_ptr<SessionServer> server(new SessionServer);
    if (!server->start(
            "Xvfb",
            {"-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp", "-noreset"},
            errorLog))
        return nullptr;
    server->m_address.prepend(':');
    return server;
}

SessionServer::~SessionServer() {
    end(m_process);
}

void SessionServer::end(QProcess& process, int graceMs) {
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(graceMs)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

void SessionServer::dieWithParent(QProcess& process, int signal) {
    process.setChildProcessModifier([signal] { prctl(PR_SET_PDEATHSIG, signal); });
}

bool SessionServer::start(const QString& program, const QStringList& arguments,
                          const QString& errorLog) {
    dieWithParent(m_process);
    m_process.setStandardErrorFile(errorLog.isEmpty() ? QProcess::nullDevice() : errorLog,
                                   QIODevice::Append);
    m_process.start(program, arguments);
    QDeadlineTimer deadline(15000);
    while (!m_process.canReadLine() && !deadline.hasExpired() &&
           m_process.state() != QProcess::NotRunning)
        m_process.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
    m_address = QString::fromLatin1(m_process.readLine().trimmed());
    return !m_address.isEmpty();
}
