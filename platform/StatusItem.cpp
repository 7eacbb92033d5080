#include "StatusItem.h"

#include "StatusNotifierItem.h"

#include <QCursor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QGuiApplication>
#include <QMenu>
#include <QPixmap>
#include <QSystemTrayIcon>

StatusItem::StatusItem(QObject* parent) : QObject(parent) {
    // A transparent picture stands for "no image": a tray icon without any pixmap is not shown
    // at all by some panels, which would make the item jump around while it blinks.
    QPixmap transparent(22, 22);
    transparent.fill(Qt::transparent);
    m_blank = QIcon(transparent);
    m_noTrayTimer.setSingleShot(true);
    m_noTrayTimer.setInterval(noTrayGrace);
    connect(&m_noTrayTimer, &QTimer::timeout, this, &StatusItem::reportMissingTray);
}

StatusItem::~StatusItem() {
    // Off the bus before the menu and icons it reads from go.
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
    if (m_tray)
        m_tray->setContextMenu(m_enabled ? menu : nullptr);
    if (m_sni)
        m_sni->setMenu(m_enabled ? menu : nullptr);
    showCurrentImage();
}

void StatusItem::setEnabled(bool enabled) {
    m_enabled = enabled;
    if (m_tray)
        m_tray->setContextMenu(enabled ? m_menu.data() : nullptr);
    if (m_sni)
        m_sni->setMenu(enabled ? m_menu.data() : nullptr);
    if (enabled && !m_onPanel)
        showOnPanel();
}

void StatusItem::setToolTip(const QString& toolTip) {
    m_toolTip = toolTip;
    if (m_tray)
        m_tray->setToolTip(trayToolTip());
    if (m_sni)
        m_sni->setToolTip(toolTip);
}

void StatusItem::setToolTipDescription(const QString& description) {
    m_toolTipDescription = description;
    if (m_tray)
        m_tray->setToolTip(trayToolTip());
    if (m_sni)
        m_sni->setToolTipDescription(description);
}

QString StatusItem::trayToolTip() const {
    // Qt reads a tooltip as rich text only when its first line looks like markup: the title
    // keeps the description plain.
    return m_toolTipDescription.isEmpty() ? m_toolTip
                                          : m_toolTip + QChar(u'\n') + m_toolTipDescription;
}

QIcon StatusItem::currentImage() const {
    if (m_highlighted && m_highlightMode && !m_alternateImage.isNull())
        return m_alternateImage;
    return m_image;
}

QIcon StatusItem::shownImage() const {
    const QIcon image = currentImage();
    return image.isNull() ? m_blank : image;
}

bool StatusItem::isTrayIconShown() const {
    return m_tray && m_tray->isVisible();
}

bool StatusItem::isStatusNotifierRegistered() const {
    return m_sni && m_sni->state() == StatusNotifierItem::State::Registered;
}

void StatusItem::popUpMenu() {
    if (m_menu && m_enabled && !m_menu->isVisible())
        m_menu->popup(QCursor::pos());
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
    } else {
        m_sni = new StatusNotifierItem(bus, this);
        m_sni->setIcon(currentImage());
        m_sni->setToolTip(m_toolTip);
        m_sni->setToolTipDescription(m_toolTipDescription);
        m_sni->setMenu(m_enabled ? m_menu.data() : nullptr);
        connect(m_sni, &StatusNotifierItem::stateChanged, this, &StatusItem::chooseHost);
        connect(m_sni, &StatusNotifierItem::activateRequested, this,
                [this](const QPoint& position) { activatedAt(position, true); });
        connect(m_sni, &StatusNotifierItem::contextMenuRequested, this,
                [this](const QPoint& position) { activatedAt(position, true); });
        connect(m_sni, &StatusNotifierItem::secondaryActivateRequested, this,
                [this](const QPoint& position) { activatedAt(position, false); });
        m_sni->start();
    }
    chooseHost();
}

void StatusItem::chooseHost() {
    const bool viaBus = m_sni && m_sni->state() != StatusNotifierItem::State::Unavailable;
    if (viaBus) {
        if (m_tray)
            m_tray->hide();
        return;
    }
    tray()->show();
    if (!m_missingTrayReported && !m_noTrayTimer.isActive())
        m_noTrayTimer.start();
}

void StatusItem::reportMissingTray() {
    // An XEmbed tray that appears later takes the tray icon in by itself, and a watcher that
    // appears later gets the D-Bus item registered: the program goes on either way.
    const bool viaBus = m_sni && m_sni->state() != StatusNotifierItem::State::Unavailable;
    if (m_missingTrayReported || viaBus || QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_missingTrayReported = true;
    const QString text =
        QStringLiteral("%1 needs a panel with a system tray; on GNOME, enable the AppIndicator "
                       "extension")
            .arg(QGuiApplication::applicationDisplayName());
    qWarning("%s", qUtf8Printable(text));
    if (m_busConnection.isEmpty())
        return;
    QDBusMessage notify = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // Application, notification it replaces (none), icon, summary, body, actions, hints, and
    // the desktop's own timeout.
    notify << QGuiApplication::applicationDisplayName() << 0u << QGuiApplication::desktopFileName()
           << QStringLiteral("No system tray") << text << QStringList() << QVariantMap() << -1;
    // Sent without waiting for the answer: a desktop without notifications only answers with an
    // error.
    QDBusConnection(m_busConnection).send(notify);
}

QSystemTrayIcon* StatusItem::tray() {
    if (m_tray)
        return m_tray;
    m_tray = new QSystemTrayIcon(this);
    m_tray->setIcon(shownImage());
    m_tray->setToolTip(trayToolTip());
    m_tray->setContextMenu(m_enabled ? m_menu.data() : nullptr);
    connect(m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                // A click with the primary button opens the menu too, as in any status area;
                // the context-menu button opens it through the tray itself.
                activatedAt(QCursor::pos(), reason == QSystemTrayIcon::Trigger);
            });
    return m_tray;
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
    if (m_tray)
        m_tray->setIcon(shown);
    if (m_sni)
        m_sni->setIcon(currentImage());
}
