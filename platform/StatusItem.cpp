#include "StatusItem.h"

#include <QCursor>
#include <QMenu>
#include <QPixmap>
#include <QSystemTrayIcon>

StatusItem::StatusItem(QObject* parent) : QObject(parent), m_tray(new QSystemTrayIcon(this)) {
    // A transparent picture stands for "no image": a tray icon without any pixmap is not shown
    // at all by some panels, which would make the item jump around while it blinks.
    QPixmap transparent(22, 22);
    transparent.fill(Qt::transparent);
    m_blank = QIcon(transparent);

    connect(m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (!m_enabled)
                    return;
                Q_EMIT activated();
                // A click with the primary button opens the menu too, as in any status area;
                // the context-menu button opens it through the tray itself.
                if (reason == QSystemTrayIcon::Trigger)
                    popUpMenu();
            });
}

StatusItem::~StatusItem() = default;

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
    m_tray->setContextMenu(m_enabled ? menu : nullptr);
    showCurrentImage();
}

void StatusItem::setEnabled(bool enabled) {
    m_enabled = enabled;
    m_tray->setContextMenu(enabled ? m_menu.data() : nullptr);
    if (enabled && !m_tray->isVisible())
        m_tray->show();
}

void StatusItem::setToolTip(const QString& toolTip) {
    m_toolTip = toolTip;
    m_tray->setToolTip(toolTip);
}

QIcon StatusItem::shownImage() const {
    if (m_highlighted && m_highlightMode && !m_alternateImage.isNull())
        return m_alternateImage;
    return m_image.isNull() ? m_blank : m_image;
}

void StatusItem::popUpMenu() {
    if (m_menu && m_enabled && !m_menu->isVisible())
        m_menu->popup(QCursor::pos());
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
    m_tray->setIcon(shown);
}
