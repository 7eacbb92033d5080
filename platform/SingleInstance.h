#pragma once

#include <QCoreApplication>
#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantList>

#include <optional>

// One running program per desktop session. The program that starts first holds a well-known name
// on the session bus and answers requests there; a later start (the application menu while the
// autostarted one runs) finds the name taken, hands its request to the running program and ends,
// so that the panel never gets a second icon nor the feed a second poller.
//
// On the bus: the service `serviceName`, the object `objectPath`, the interface `interfaceName`
// (dbus/io.github.veltrano.pinglark.Instance.xml) with one method per request a later start can
// make.
//
// Without a session bus there is nobody to ask and nobody to answer: every start runs.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    static inline const QString serviceName = QStringLiteral("io.github.veltrano.pinglark");
    static inline const QString objectPath = QStringLiteral("/io/github/veltrano/pinglark");
    static inline const QString interfaceName =
        QStringLiteral("io.github.veltrano.pinglark.Instance");
    // How long a later start waits for the running program to answer.
    static constexpr int answerTimeoutMs = 5000;

    // What a later start asks of the running program: a method of the interface and its
    // arguments.
    struct Request {
        QString method;
        QVariantList arguments;
        static Request openPreferences() { return {QStringLiteral("OpenPreferences"), {}}; }
        static Request useFeed(const QString& address) {
            return {QStringLiteral("UseFeed"), {address}};
        }
        static Request quit() { return {QStringLiteral("Quit"), {}}; }
    };

    explicit SingleInstance(QObject* parent = nullptr);
    ~SingleInstance() override;

    // Claims the name on the session bus. True when this start is to run the program: it holds
    // the name now, or there is no bus, or the program holding the name did not answer in time
    // (then this start waits in line for the name, and gets it when that one goes). False when
    // the running program took `request`: this start has nothing more to do.
    bool claim(const Request& request);

    // Hands request to the program that runs in this session, if one does, and never claims the
    // name: this start does not become the program. False only when the running program did not
    // take the request.
    static bool tell(const Request& request);

    // Gives the name up (at the latest when the object goes): a start from now on runs.
    void release();

Q_SIGNALS:
    // A later start asked for the preferences window.
    void preferencesRequested();
    // A later start gave a feed address (as it was given: not checked here).
    void feedRequested(const QString& address);

private:
    // Asks the program that holds the name now to take the request: whether it did, or nothing
    // when the name has no owner (or only this start's own connection holds it).
    static std::optional<bool> handOver(QDBusConnection& bus, const Request& request);

    // The interface's methods, called by its adaptor.
    friend class InstanceAdaptor;
    void OpenPreferences() { Q_EMIT preferencesRequested(); }
    void UseFeed(const QString& address) { Q_EMIT feedRequested(address); }
    // (The answer goes out before the event loop ends.)
    void Quit() { QCoreApplication::quit(); }

    std::optional<QDBusConnection> m_bus;
};
