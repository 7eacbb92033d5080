#include "SingleInstance.h"

#include "instanceadaptor.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace {

// Times a later start tries again when the program it asked went away without answering (the
// name passes to whoever waits in line for it).
constexpr int handOverAttempts = 3;

} // namespace

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {
    new InstanceAdaptor(this);
    // Off the bus as soon as the program is on its way out, before its tear-down: a start from
    // then on must not ask a program that no longer answers.
    if (QCoreApplication::instance())
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this,
                &SingleInstance::release);
}

SingleInstance::~SingleInstance() {
    release();
}

bool SingleInstance::claim(const Request& request) {
    // The process's own connection to the session bus, not the status item's: it lasts as long as
    // the program, and when the program is killed the name goes with it.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return true;
    // Published before the name is taken, so that no request finds the name without the object.
    if (!bus.registerObject(objectPath, this, QDBusConnection::ExportAdaptors)) {
        qWarning("Single instance: cannot publish %s on the session bus", qPrintable(objectPath));
        return true;
    }
    m_bus = bus;
    // In line behind the running program rather than refused: should it go, the name comes here.
    const auto claimed =
        bus.interface()->registerService(serviceName, QDBusConnectionInterface::QueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (!claimed.isValid()) {
        qWarning("Single instance: the session bus refused %s: %s", qPrintable(serviceName),
                 qPrintable(claimed.error().message()));
        return true;
    }
    if (claimed.value() == QDBusConnectionInterface::ServiceRegistered)
        return true;

    // Another program holds the name: hand it the request. Should it not answer (it hangs, or
    // refuses the request), a program that works is better than none, and the name comes here
    // once that one goes.
    if (handOver(bus, request) != true)
        return true;
    qInfo("Pinglark runs already in this session: the request went to it");
    return false;
}

bool SingleInstance::tell(const Request& request) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    return !bus.isConnected() || handOver(bus, request) != false;
}

std::optional<bool> SingleInstance::handOver(QDBusConnection& bus, const Request& request) {
    for (int attempt = 0; attempt < handOverAttempts; ++attempt) {
        const QString owner = bus.interface()->serviceOwner(serviceName);
        if (owner.isEmpty() || owner == bus.baseService())
            return std::nullopt; // it went, or there was none (or the bus cannot say)
        // To the owner's own address: the answer comes from the program that was asked.
        QDBusMessage call =
            QDBusMessage::createMethodCall(owner, objectPath, interfaceName, request.method);
        call.setArguments(request.arguments);
        const QDBusMessage answer = bus.call(call, QDBus::Block, answerTimeoutMs);
        if (answer.type() == QDBusMessage::ReplyMessage)
            return true;
        if (bus.interface()->serviceOwner(serviceName).value() == owner) {
            qWarning("Single instance: the running Pinglark did not take the request (%s)",
                     qPrintable(answer.errorMessage()));
            return false;
        }
    }
    return std::nullopt;
}

void SingleInstance::release() {
    if (!m_bus)
        return;
    m_bus->unregisterObject(objectPath);
    if (m_bus->isConnected())
        m_bus->interface()->unregisterService(serviceName);
    m_bus.reset();
}
