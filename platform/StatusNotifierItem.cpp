#include "StatusNotifierItem.h"

#include "DBusMenuExporter.h"
#include "ImageResource.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
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

const QString watcherInterface = QStringLiteral("org.kde.StatusNotifierWatcher");
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
// Tries at a free name: another item of this process may hold org.kde.StatusNotifierItem-<pid>-1.
constexpr int nameAttempts = 16;

int nextInstance = 1;

} // namespace

// --- The D-Bus face -----------------------------------------------------------------------------

class StatusNotifierItemAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_CLASSINFO("D-Bus Introspection",
                "  <interface name=\"org.kde.StatusNotifierItem\">\n"
                "    <property name=\"Category\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"Id\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"Title\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"Status\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"WindowId\" type=\"i\" access=\"read\"/>\n"
                "    <property name=\"IconThemePath\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"Menu\" type=\"o\" access=\"read\"/>\n"
                "    <property name=\"ItemIsMenu\" type=\"b\" access=\"read\"/>\n"
                "    <property name=\"IconName\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"IconPixmap\" type=\"a(iiay)\" access=\"read\"/>\n"
                "    <property name=\"OverlayIconName\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"OverlayIconPixmap\" type=\"a(iiay)\" access=\"read\"/>\n"
                "    <property name=\"AttentionIconName\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"AttentionIconPixmap\" type=\"a(iiay)\" access=\"read\"/>\n"
                "    <property name=\"AttentionMovieName\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"ToolTip\" type=\"(sa(iiay)ss)\" access=\"read\"/>\n"
                "    <method name=\"ContextMenu\">\n"
                "      <arg name=\"x\" type=\"i\" direction=\"in\"/>\n"
                "      <arg name=\"y\" type=\"i\" direction=\"in\"/>\n"
                "    </method>\n"
                "    <method name=\"Activate\">\n"
                "      <arg name=\"x\" type=\"i\" direction=\"in\"/>\n"
                "      <arg name=\"y\" type=\"i\" direction=\"in\"/>\n"
                "    </method>\n"
                "    <method name=\"SecondaryActivate\">\n"
                "      <arg name=\"x\" type=\"i\" direction=\"in\"/>\n"
                "      <arg name=\"y\" type=\"i\" direction=\"in\"/>\n"
                "    </method>\n"
                "    <method name=\"Scroll\">\n"
                "      <arg name=\"delta\" type=\"i\" direction=\"in\"/>\n"
                "      <arg name=\"orientation\" type=\"s\" direction=\"in\"/>\n"
                "    </method>\n"
                "    <signal name=\"NewTitle\"/>\n"
                "    <signal name=\"NewIcon\"/>\n"
                "    <signal name=\"NewAttentionIcon\"/>\n"
                "    <signal name=\"NewOverlayIcon\"/>\n"
                "    <signal name=\"NewToolTip\"/>\n"
                "    <signal name=\"NewStatus\">\n"
                "      <arg name=\"status\" type=\"s\"/>\n"
                "    </signal>\n"
                "  </interface>\n")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconThemePath READ iconThemePath)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(SniIconPixmapList IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ emptyText)
    Q_PROPERTY(SniIconPixmapList OverlayIconPixmap READ noPixmap)
    Q_PROPERTY(QString AttentionIconName READ emptyText)
    Q_PROPERTY(SniIconPixmapList AttentionIconPixmap READ noPixmap)
    Q_PROPERTY(QString AttentionMovieName READ emptyText)
    Q_PROPERTY(SniToolTip ToolTip READ toolTip)

public:
    explicit StatusNotifierItemAdaptor(StatusNotifierItem* item)
        : QDBusAbstractAdaptor(item), m_item(item) {
        setAutoRelaySignals(true);
    }

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return m_item->id(); }
    QString title() const { return m_item->title(); }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString emptyText() const { return {}; }
    QString iconThemePath() const { return m_item->iconThemePath(); }
    QString iconName() const { return m_item->iconName(); }
    QDBusObjectPath menu() const { return QDBusObjectPath(StatusNotifierItem::menuPath); }
    bool itemIsMenu() const { return true; }
    SniIconPixmapList iconPixmap() const { return m_item->iconPixmap(); }
    SniIconPixmapList noPixmap() const { return {}; }
    SniToolTip toolTip() const { return m_item->toolTip(); }

public Q_SLOTS:
    void ContextMenu(int x, int y) { Q_EMIT m_item->contextMenuRequested(QPoint(x, y)); }
    void Activate(int x, int y) { Q_EMIT m_item->activateRequested(QPoint(x, y)); }
    void SecondaryActivate(int x, int y) {
        Q_EMIT m_item->secondaryActivateRequested(QPoint(x, y));
    }
    void Scroll(int delta, const QString& orientation) {
        Q_UNUSED(delta);
        Q_UNUSED(orientation);
    }

Q_SIGNALS:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

private:
    StatusNotifierItem* m_item;
};

// --- The item -----------------------------------------------------------------------------------

StatusNotifierItem::StatusNotifierItem(const QDBusConnection& connection, QObject* parent)
    : QObject(parent), m_connection(connection),
      m_menu(new DBusMenuExporter(connection, menuPath, this)) {
    registerDBusTypes();
    new StatusNotifierItemAdaptor(this);
    m_pixmaps = pixmapsFor(QIcon());
    m_iconKey = 0;
    m_iconName = imageName(QStringLiteral("blank"));
}

StatusNotifierItem::~StatusNotifierItem() {
    // Leave the bus quietly: whoever listens may be going away too.
    const QSignalBlocker quiet(this);
    withdraw();
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
    // A panel may start its watcher before its host: the item waits for the host to arrive.
    m_connection.connect(watcherService, watcherPath, watcherInterface,
                         QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(probe()));
    m_connection.connect(watcherService, watcherPath, watcherInterface,
                         QStringLiteral("StatusNotifierHostUnregistered"), this, SLOT(probe()));
    probe();
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

void StatusNotifierItem::setToolTip(const QString& toolTip) {
    if (toolTip == m_toolTip)
        return;
    m_toolTip = toolTip;
    if (m_state == State::Registered)
        Q_EMIT NewToolTip();
}

void StatusNotifierItem::setToolTipDescription(const QString& description) {
    if (description == m_toolTipDescription)
        return;
    m_toolTipDescription = description;
    if (m_state == State::Registered)
        Q_EMIT NewToolTip();
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

void StatusNotifierItem::probe() {
    const quint64 probe = ++m_probe;
    QDBusMessage message = QDBusMessage::createMethodCall(
        watcherService, watcherPath, propertiesInterface, QStringLiteral("Get"));
    message << watcherInterface << QStringLiteral("IsStatusNotifierHostRegistered");
    // Asking must not start a watcher that the desktop does not run.
    message.setAutoStartService(false);
    auto* call = new QDBusPendingCallWatcher(m_connection.asyncCall(message, probeTimeoutMs), this);
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
    if (m_serviceName.isEmpty()) {
        const qint64 pid = QCoreApplication::applicationPid();
        for (int attempt = 0; attempt < nameAttempts && m_serviceName.isEmpty(); ++attempt) {
            const QString name =
                QStringLiteral("org.kde.StatusNotifierItem-%1-%2").arg(pid).arg(nextInstance++);
            const auto reply = m_connection.interface()->registerService(
                name, QDBusConnectionInterface::DontQueueService,
                QDBusConnectionInterface::DontAllowReplacement);
            if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered)
                m_serviceName = name;
        }
        if (m_serviceName.isEmpty()) {
            qWarning("Status item: no free StatusNotifierItem name on the session bus");
            withdraw();
            return;
        }
    }
    if (!m_objectRegistered) {
        // Made once the item is about to be shown, and only where a panel can show it.
        m_iconThemePath = ::iconThemePath();
        m_menu->setIconThemePath(m_iconThemePath);
        m_objectRegistered =
            m_connection.registerObject(itemPath, this, QDBusConnection::ExportAdaptors);
        if (!m_objectRegistered || !m_menu->publish()) {
            qWarning("Status item: cannot export the item on the session bus");
            withdraw();
            return;
        }
    }

    const quint64 probe = m_probe;
    QDBusMessage message =
        QDBusMessage::createMethodCall(watcherService, watcherPath, watcherInterface,
                                       QStringLiteral("RegisterStatusNotifierItem"));
    message << m_serviceName;
    message.setAutoStartService(false);
    auto* call = new QDBusPendingCallWatcher(m_connection.asyncCall(message, probeTimeoutMs), this);
    connect(
        call, &QDBusPendingCallWatcher::finished, this, [this, probe](QDBusPendingCallWatcher* w) {
            w->deleteLater();
            if (probe != m_probe)
                return;
            if (w->isError()) {
                qWarning("Status item: the panel refused it: %s", qPrintable(w->error().message()));
                withdraw();
                return;
            }
            m_watcherRestarted = false;
            setState(State::Registered);
        });
}

void StatusNotifierItem::withdraw() {
    if (m_objectRegistered) {
        m_connection.unregisterObject(itemPath);
        m_objectRegistered = false;
    }
    m_menu->unpublish();
    if (!m_serviceName.isEmpty()) {
        // The watcher forgets an item whose name leaves the bus.
        m_connection.interface()->unregisterService(m_serviceName);
        m_serviceName.clear();
    }
    setState(State::Unavailable);
}

void StatusNotifierItem::setState(State state) {
    if (state == m_state)
        return;
    m_state = state;
    Q_EMIT stateChanged(state);
}

#include "StatusNotifierItem.moc"
