#include "TrayIcon.h"

#include <QCursor>
#include <QPixmap>
#include <QSystemTrayIcon>

TrayIcon::TrayIcon(QObject* parent) : TrayHost(parent), m_icon(new QSystemTrayIcon(this)) {
    // A transparent picture stands for "no image": a tray icon without any pixmap is not shown
    // at all by some panels, which would make the item jump around while it blinks.
    QPixmap transparent(22, 22);
    transparent.fill(Qt::transparent);
    m_blank = QIcon(transparent);
    connect(m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                // A click with the primary button opens the menu too, as in any status area;
                // the context-menu button opens it through the tray itself.
                Q_EMIT activated(QCursor::pos(), reason == QSystemTrayIcon::Trigger);
            });
}

void TrayIcon::setIcon(const QIcon& icon) {
    m_icon->setIcon(icon.isNull() ? m_blank : icon);
}

void TrayIcon::setToolTip(const QString& title, const QString& description) {
    // Qt reads a tooltip as rich text only when its first line looks like markup: the title
    // keeps the description plain.
    m_icon->setToolTip(description.isEmpty() ? title : title + QChar(u'\n') + description);
}

void TrayIcon::setMenu(QMenu* menu) {
    m_icon->setContextMenu(menu);
}

void TrayIcon::show() {
    m_icon->show();
}

void TrayIcon::hide() {
    m_icon->hide();
}

bool TrayIcon::isVisible() const {
    return m_icon->isVisible();
}
