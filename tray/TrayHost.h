#pragma once

#include <QObject>

class QIcon;
class QMenu;
class QPoint;
class QString;

// What shows the program's item on the panel: a StatusNotifierItem of its own over D-Bus, or a
// QSystemTrayIcon. StatusItem chooses one and hands it everything the item shows.
class TrayHost : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // A null icon leaves the item blank.
    virtual void setIcon(const QIcon& icon) = 0;
    // The tooltip's title, and plain text below it (empty for none).
    virtual void setToolTip(const QString& title, const QString& description) = 0;
    // The menu that a click opens; null for none.
    virtual void setMenu(QMenu* menu) = 0;
    // Whether the item calls for attention (it blinks for new entries), for hosts that describe
    // the item to screen readers.
    virtual void setNeedsAttention(bool /*on*/) {}

Q_SIGNALS:
    // The item was clicked. openMenu: the click is one that opens the menu. A null position
    // stands for the mouse pointer's.
    void activated(const QPoint& position, bool openMenu);
};
