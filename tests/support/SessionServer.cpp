#include "SessionServer.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRandomGenerator>

#include <csignal>
#include <sys/prctl.h>

std::unique_ptr<SessionServer> SessionServer::bus(const QString& errorLog) {
    std::unique_ptr<SessionServer> server(new SessionServer);
    const bool started =
        server->start("dbus-daemon", {"--session", "--nofork", "--print-address=1"}, errorLog);
    return started ? std::move(server) : nullptr;
}

std::unique_ptr<SessionServer> SessionServer::display(const QString& errorLog) {
    // A display number of its own, away from the low ones desktops and other tools take. Xvfb
    // writes it on the descriptor given once it accepts connections; a number taken meanwhile
    // makes it exit, and another one is tried. (Without -noreset, Xvfb would forget the root
    // window's colour whenever its last client disconnects.)
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int number = 200 + int(QRandomGenerator::global()->bounded(700));
        if (QFile::exists(QString("/tmp/.X%1-lock").arg(number)))
            continue;
        std::unique_ptr<SessionServer> server(new SessionServer);
        const QString name = QString(":%1").arg(number);
        if (server->start("Xvfb",
                          {name, "-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten",
                           "tcp", "-noreset"},
                          errorLog) &&
            server->m_address == name.mid(1)) {
            server->m_address = name;
            return server;
        }
    }
    return nullptr;
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

void SessionServer::dieWithParent(QProcess& process) {
    process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
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
