#include "StatusItem.h"

#include "StatusNotifierItem.h"
#include "TrayIcon.h"

#include <QCursor>
#include <QDBusConnection>

StatusItem::StatusItem(QObject* parent) : QObject(parent), m_notice([this] { return viaBus(); }) {}

StatusItem::~StatusItem() {
    // Off the bus before the menu and icons it reads from go.
    m_host = nullptr;
    delete m_sni;
    m_sni = nullptr;
    if (!m_busConnection.isEmpty())
        QDBusConnection::disconnectFromBus(m_busConnection);
}

void StatusItem::setHighlightMode(bool on) {
    m_highlightMode = on;
    showCurrentImage();
}

void StatusItem::setImage(const QIcon& image) {
    m_image = image;
    showCurrentImage();
}

void StatusItem::setAlternateImage(const QIcon& image) {
    m_alternateImage = image;
    showCurrentImage();
}

void StatusItem::setMenu(QMenu* menu) {
    if (m_menu)
        disconnect(m_menu, nullptr, this, nullptr);
    m_menu = menu;
    m_highlighted = false;
    if (menu) {
        connect(menu, &QMenu::aboutToShow, this, &StatusItem::menuShown);
        connect(menu, &QMenu::aboutToHide, this, &StatusItem::menuHidden);
    }
    if (m_host)
        m_host->setMenu(shownMenu());
    showCurrentImage();
}

void StatusItem::setEnabled(bool enabled) {
    m_enabled = enabled;
    if (m_host)
        m_host->setMenu(shownMenu());
    if (enabled && !m_onPanel)
        showOnPanel();
}

void StatusItem::setNeedsAttention(bool on) {
    m_needsAttention = on;
    if (m_host)
        m_host->setNeedsAttention(on);
}

void StatusItem::setToolTip(const QString& toolTip) {
    m_toolTip = toolTip;
    if (m_host)
        m_host->setToolTip(m_toolTip, m_toolTipDescription);
}

void StatusItem::setToolTipDescription(const QString& description) {
    m_toolTipDescription = description;
    if (m_host)
        m_host->setToolTip(m_toolTip, m_toolTipDescription);
}

QIcon StatusItem::shownImage() const {
    if (m_highlighted && m_highlightMode && !m_alternateImage.isNull())
        return m_alternateImage;
    return m_image;
}

bool StatusItem::isTrayIconShown() const {
    return m_tray && m_tray->isVisible();
}

bool StatusItem::isStatusNotifierRegistered() const {
    return m_sni && m_sni->state() == StatusNotifierItem::State::Registered;
}

bool StatusItem::viaBus() const {
    return m_sni && m_sni->state() != StatusNotifierItem::State::Unavailable;
}

void StatusItem::showOnPanel() {
    m_onPanel = true;
    // Without a session bus there is no panel to ask: straight to the tray icon. Otherwise
    // nothing shows until the bus has answered, so that a desktop with a watcher never sees a
    // second, short-lived icon.
    // A connection of the item's own: its objects' paths are fixed by the protocol, and its
    // names and objects leave the bus together with it.
    static int connections = 0;
    m_busConnection = QStringLiteral("pinglark-status-item-%1").arg(++connections);
    const QDBusConnection bus =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, m_busConnection);
    if (!bus.isConnected()) {
        QDBusConnection::disconnectFromBus(m_busConnection);
        m_busConnection.clear();
        chooseHost();
        return;
    }
    m_notice.setBusConnection(m_busConnection);
    m_sni = new StatusNotifierItem(bus, this);
    connect(m_sni, &StatusNotifierItem::stateChanged, this, &StatusItem::chooseHost);
    connect(m_sni, &TrayHost::activated, this, &StatusItem::activatedAt);
    chooseHost();
    m_sni->start();
}

void StatusItem::chooseHost() {
    if (viaBus()) {
        if (m_tray)
            m_tray->hide();
        use(m_sni);
        return;
    }
    if (!m_tray) {
        m_tray = new TrayIcon(this);
        connect(m_tray, &TrayHost::activated, this, &StatusItem::activatedAt);
    }
    use(m_tray);
    m_tray->show();
    m_notice.arm();
}

void StatusItem::use(TrayHost* host) {
    if (host == m_host)
        return;
    m_host = host;
    host->setIcon(shownImage());
    host->setToolTip(m_toolTip, m_toolTipDescription);
    host->setMenu(shownMenu());
    host->setNeedsAttention(m_needsAttention);
}

void StatusItem::activatedAt(const QPoint& position, bool openMenu) {
    if (!m_enabled)
        return;
    Q_EMIT activated();
    if (openMenu && m_menu && !m_menu->isVisible())
        m_menu->popup(position.isNull() ? QCursor::pos() : position);
}

void StatusItem::menuShown() {
    m_highlighted = true;
    showCurrentImage();
}

void StatusItem::menuHidden() {
    m_highlighted = false;
    showCurrentImage();
}

void StatusItem::showCurrentImage() {
    // Hand the panel a picture only when it really changes: some panels receive every pixmap
    // over D-Bus, and the item blinks.
    const QIcon shown = shownImage();
    if (shown.cacheKey() == m_shownKey)
        return;
    m_shownKey = shown.cacheKey();
    if (m_host)
        m_host->setIcon(shown);
}
