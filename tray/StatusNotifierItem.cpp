#include "StatusNotifierItem.h"

#include "DBusMenuExporter.h"
#include "ImageResource.h"
#include "statusnotifieritemadaptor.h"
#include "statusnotifierwatcherproxy.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QSignalBlocker>
#include <QtEndian>

#include <algorithm>

namespace {

const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

// The size panels most often draw status icons at; hosts scale it to theirs. Every blink phase
// sends the whole picture to the panel: one 22 px picture keeps a blinking icon under 5 KB/s on
// the bus, where four sizes (16 to 32 px) cost about 7 KB/s.
constexpr int panelSizes[] = {22};
constexpr int blankSize = 16;
// A watcher that does not answer within this time is treated as absent.
constexpr int probeTimeoutMs = 5000;
// The few pictures a status item switches between (icon, alternate, blank).
constexpr qsizetype pixmapCacheLimit = 8;
// How soon after registering the item looks itself up in the watcher's list.
constexpr std::chrono::milliseconds listedCheck{1000};
// The pause before registering again after a drop, doubled with each drop up to the longest.
constexpr std::chrono::milliseconds firstRetry{1000};
constexpr std::chrono::milliseconds longestRetry{60000};

} // namespace

StatusNotifierItem::StatusNotifierItem(const QDBusConnection& connection, QObject* parent)
    : TrayHost(parent), m_connection(connection),
      m_menu(new DBusMenuExporter(connection, menuPath, this)), m_retryDelay(firstRetry) {
    registerDBusTypes();
    new StatusNotifierItemAdaptor(this);
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &StatusNotifierItem::registerWithWatcher);
    m_pixmaps = pixmapsFor(QIcon());
    m_iconKey = 0;
    m_iconName = imageName(QStringLiteral("blank"));
}

StatusNotifierItem::~StatusNotifierItem() {
    // Leave the bus quietly: whoever listens may be going away too.
    const QSignalBlocker quiet(this);
    withdraw();
    if (m_objectRegistered)
        m_connection.unregisterObject(itemPath);
    m_menu->unpublish();
}

void StatusNotifierItem::start() {
    if (m_started)
        return;
    m_started = true;
    if (!m_connection.isConnected()) {
        setState(State::Unavailable);
        return;
    }
    m_watcher = new QDBusServiceWatcher(watcherService, m_connection,
                                        QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) {
                watcherOwnerChanged(newOwner);
            });
    m_watcherProxy =
        new StatusNotifierWatcherProxy(watcherService, watcherPath, m_connection, this);
    m_watcherProxy->setTimeout(probeTimeoutMs);
    // A panel may start its watcher before its host: the item waits for the host to arrive.
    connect(m_watcherProxy, &StatusNotifierWatcherProxy::StatusNotifierHostRegistered, this,
            &StatusNotifierItem::probe);
    connect(m_watcherProxy, &StatusNotifierWatcherProxy::StatusNotifierHostUnregistered, this,
            &StatusNotifierItem::probe);
    connect(m_watcherProxy, &StatusNotifierWatcherProxy::StatusNotifierItemUnregistered, this,
            [this](const QString& entry) {
                if (m_state != State::Unavailable && names(entry))
                    dropped();
            });
    probe();
}

void StatusNotifierItem::Activate(int x, int y) {
    // The user looked at the item all the same.
    Q_EMIT activated(QPoint(x, y), false);
    // A host that draws the item's menu shows it when Activate fails (Plasma, on a left click):
    // every click gives the one menu, the host's, rather than a QMenu of another style over the
    // panel. UnknownMethod rather than NotSupported: GNOME Shell's AppIndicator extension then
    // stops asking, and opens the menu on a single click without waiting for a double one.
    if (calledFromDBus())
        sendErrorReply(QDBusError::UnknownMethod,
                       QStringLiteral("Activate: the item's menu is all it offers"));
}

QString StatusNotifierItem::id() const {
    const QString desktopName = QGuiApplication::desktopFileName();
    return desktopName.isEmpty() ? QCoreApplication::applicationName().toLower() : desktopName;
}

QString StatusNotifierItem::title() const {
    return QGuiApplication::applicationDisplayName();
}

SniToolTip StatusNotifierItem::toolTip() const {
    return {QString(), {}, m_toolTip, m_toolTipDescription.toHtmlEscaped()};
}

void StatusNotifierItem::setIcon(const QIcon& icon) {
    const qint64 key = icon.isNull() ? 0 : icon.cacheKey();
    if (key == m_iconKey)
        return;
    m_iconKey = key;
    m_iconName = icon.isNull() ? imageName(QStringLiteral("blank")) : icon.name();
    const auto cached = m_pixmapCache.constFind(key);
    if (cached != m_pixmapCache.constEnd()) {
        m_pixmaps = *cached;
    } else {
        m_pixmaps = pixmapsFor(icon);
        if (m_pixmapCache.size() >= pixmapCacheLimit)
            m_pixmapCache.clear();
        m_pixmapCache.insert(key, m_pixmaps);
    }
    if (m_state == State::Registered)
        Q_EMIT NewIcon();
}

void StatusNotifierItem::setToolTip(const QString& title, const QString& description) {
    if (title == m_toolTip && description == m_toolTipDescription)
        return;
    m_toolTip = title;
    m_toolTipDescription = description;
    if (m_state == State::Registered)
        Q_EMIT NewToolTip();
}

void StatusNotifierItem::setNeedsAttention(bool on) {
    if (on == m_needsAttention)
        return;
    m_needsAttention = on;
    // Hosts read the icon's description again with the icon.
    if (m_state == State::Registered)
        Q_EMIT NewIcon();
}

void StatusNotifierItem::setMenu(QMenu* menu) {
    m_menu->setMenu(menu);
}

SniIconPixmapList StatusNotifierItem::pixmapsFor(const QIcon& icon) {
    const auto encode = [](const QImage& image) {
        const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
        SniIconPixmap pixmap{argb.width(), argb.height(), {}};
        pixmap.bytes.resize(qsizetype(argb.width()) * argb.height() * 4);
        uchar* out = reinterpret_cast<uchar*>(pixmap.bytes.data());
        for (int y = 0; y < argb.height(); ++y) {
            const auto* line = reinterpret_cast<const quint32*>(argb.constScanLine(y));
            for (int x = 0; x < argb.width(); ++x, out += 4)
                qToBigEndian(line[x], out);
        }
        return pixmap;
    };

    SniIconPixmapList pixmaps;
    if (icon.isNull()) {
        // Some hosts drop an item that has no picture at all, and the others around it would
        // shift on every blink: a blank item is a transparent picture.
        QImage blank(blankSize, blankSize, QImage::Format_ARGB32);
        blank.fill(Qt::transparent);
        pixmaps.append(encode(blank));
        return pixmaps;
    }
    for (const int size : panelSizes) {
        const QPixmap rendered = icon.pixmap(QSize(size, size), 1.0);
        if (rendered.isNull())
            continue;
        // An icon without a scalable source gives its largest picture for every bigger size.
        const bool seen = std::any_of(pixmaps.cbegin(), pixmaps.cend(), [&](const auto& p) {
            return p.width == rendered.width() && p.height == rendered.height();
        });
        if (!seen)
            pixmaps.append(encode(rendered.toImage()));
    }
    return pixmaps;
}

QDBusPendingCall StatusNotifierItem::askWatcher(const QString& property) const {
    QDBusMessage message = QDBusMessage::createMethodCall(
        watcherService, watcherPath, propertiesInterface, QStringLiteral("Get"));
    message << m_watcherProxy->interface() << property;
    // Asking must not start a watcher that the desktop does not run.
    message.setAutoStartService(false);
    return m_connection.asyncCall(message, probeTimeoutMs);
}

void StatusNotifierItem::probe() {
    const quint64 probe = ++m_probe;
    auto* call = new QDBusPendingCallWatcher(
        askWatcher(QStringLiteral("IsStatusNotifierHostRegistered")), this);
    connect(call, &QDBusPendingCallWatcher::finished, this,
            [this, probe](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                if (probe != m_probe)
                    return;
                const QDBusPendingReply<QDBusVariant> reply = *w;
                if (reply.isError() || !reply.value().variant().toBool())
                    withdraw();
                else if (m_state != State::Registered || m_watcherRestarted)
                    registerWithWatcher();
                // Otherwise another host came or went: this watcher knows the item already.
            });
}

void StatusNotifierItem::watcherOwnerChanged(const QString& newOwner) {
    if (newOwner.isEmpty()) {
        // The panel went away: nothing on the bus shows the item any more.
        ++m_probe;
        withdraw();
    } else {
        // A watcher arrived, or the panel restarted: its list of items starts empty.
        m_watcherRestarted = true;
        probe();
    }
}

void StatusNotifierItem::registerWithWatcher() {
    m_retry.stop();
    m_serviceName = m_connection.baseService();
    // On its way to the panel again: whoever shows the item hands it what it shows now, before
    // the panel can read it.
    if (m_state == State::Unavailable)
        setState(State::Pending);
    if (!m_objectRegistered) {
        // Made once the item is about to be shown, and only where a panel can show it.
        m_iconThemePath = ::iconThemePath();
        const bool exported =
            m_connection.registerObject(itemPath, this, QDBusConnection::ExportAdaptors);
        if (!exported || !m_menu->publish()) {
            if (exported)
                m_connection.unregisterObject(itemPath);
            qWarning("Status item: cannot export the item on the session bus");
            withdraw();
            return;
        }
        m_objectRegistered = true;
    }

    const quint64 probe = m_probe;
    const quint64 registration = ++m_registration;
    auto* call = new QDBusPendingCallWatcher(
        m_watcherProxy->RegisterStatusNotifierItem(m_serviceName), this);
    connect(call, &QDBusPendingCallWatcher::finished, this,
            [this, probe, registration](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                if (probe != m_probe || registration != m_registration)
                    return;
                if (w->isError()) {
                    qWarning("Status item: the panel refused it: %s",
                             qPrintable(w->error().message()));
                    withdraw();
                    return;
                }
                m_watcherRestarted = false;
                m_listed.start();
                setState(State::Registered);
                QTimer::singleShot(listedCheck, this,
                                   [this, registration] { checkListed(registration); });
            });
}

bool StatusNotifierItem::names(const QString& entry) const {
    return !m_serviceName.isEmpty() &&
           (entry == m_serviceName || entry.startsWith(m_serviceName + QLatin1Char('/')));
}

void StatusNotifierItem::checkListed(quint64 registration) {
    if (registration != m_registration || m_state != State::Registered)
        return;
    auto* call = new QDBusPendingCallWatcher(
        askWatcher(QStringLiteral("RegisteredStatusNotifierItems")), this);
    connect(call, &QDBusPendingCallWatcher::finished, this,
            [this, registration](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                const QDBusPendingReply<QDBusVariant> reply = *w;
                // A watcher that cannot say is taken at its word.
                if (registration != m_registration || m_state != State::Registered ||
                    reply.isError())
                    return;
                const QStringList listed = reply.value().variant().toStringList();
                if (std::none_of(listed.cbegin(), listed.cend(),
                                 [this](const QString& entry) { return names(entry); }))
                    dropped();
            });
}

void StatusNotifierItem::dropped() {
    if (m_retry.isActive())
        return;
    // A registration that lasted starts the pauses over.
    if (m_listed.isValid() && m_listed.elapsed() >= longestRetry.count())
        m_retryDelay = firstRetry;
    m_listed.invalidate();
    // What the watcher answers to the dropped registration no longer counts.
    ++m_registration;
    qInfo("Status item: the panel dropped it; registering again in %lld s",
          qint64(std::chrono::duration_cast<std::chrono::seconds>(m_retryDelay).count()));
    setState(State::Pending);
    m_retry.start(m_retryDelay);
    m_retryDelay = std::min(m_retryDelay * 2, longestRetry);
}

void StatusNotifierItem::withdraw() {
    // The objects stay: the watcher may list the item still, and a host that reads the list
    // before the item registers again finds it there.
    m_retry.stop();
    m_retryDelay = firstRetry;
    m_listed.invalidate();
    ++m_registration;
    m_serviceName.clear();
    setState(State::Unavailable);
}

void StatusNotifierItem::setState(State state) {
    if (state == m_state)
        return;
    m_state = state;
    Q_EMIT stateChanged(state);
}
