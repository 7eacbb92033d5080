#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <QMenu>

#include <chrono>
class QSystemTrayIcon;
class StatusNotifierItem;

// The program's item in the panel's status area: an image (or none, which leaves the item
// blank), an alternate image shown while its menu is open, a menu, a tooltip (a title and an
// optional description below it).
//
// Where the desktop's panel runs a StatusNotifierWatcher with a host, the item is a
// StatusNotifierItem of its own over D-Bus, with the menu exported as com.canonical.dbusmenu,
// so that the host shows every label exactly as the menu does; elsewhere (no session bus, no
// watcher, an XEmbed panel) it is a QSystemTrayIcon. It follows the panel: a watcher that appears
// later takes over from the QSystemTrayIcon, and one that goes away hands back to it.
//
// Where there is neither (GNOME without its AppIndicator extension, or a panel that has not
// started yet), the item waits for one to appear. When none has come after a grace period, it
// says so once: a line on stderr, and a desktop notification where the desktop shows them.
//
// The item tracks its menu itself: while the menu is open (between aboutToShow and aboutToHide)
// it is "highlighted" and shows the alternate image, whatever image() is. A QMenu of its own
// reports its closing itself; for a D-Bus host, DBusMenuExporter decides when the menu counts as
// open and closed.
class StatusItem : public QObject {
    Q_OBJECT
public:
    explicit StatusItem(QObject* parent = nullptr);
    ~StatusItem() override;

    void setHighlightMode(bool on);
    bool highlightMode() const { return m_highlightMode; }

    // A null icon means no image: the item is blank.
    void setImage(const QIcon& image);
    QIcon image() const { return m_image; }
    bool hasImage() const { return !m_image.isNull(); }

    void setAlternateImage(const QIcon& image);
    QIcon alternateImage() const { return m_alternateImage; }

    void setMenu(QMenu* menu);
    QMenu* menu() const { return m_menu; }

    void setEnabled(bool enabled);
    bool isEnabled() const { return m_enabled; }

    void setToolTip(const QString& toolTip);
    QString toolTip() const { return m_toolTip; }
    // Plain text under the tooltip's title; empty for none.
    void setToolTipDescription(const QString& description);
    QString toolTipDescription() const { return m_toolTipDescription; }

    // Whether the menu is open now.
    bool isHighlighted() const { return m_highlighted; }
    // What the panel shows now: the alternate image while highlighted, else image() (or blank).
    QIcon shownImage() const;

    // Opens the menu below the mouse pointer, as a click on the item does.
    void popUpMenu();

    // How the panel hosts the item now. Before the item is first enabled, and while the
    // session bus is asked about a watcher, neither.
    bool isTrayIconShown() const;
    bool isStatusNotifierRegistered() const;
    // The D-Bus item, once the item has been enabled on a session bus; else null.
    StatusNotifierItem* statusNotifierItem() const { return m_sni; }

    // How long the item waits for a tray before it says that there is none. Tests shorten it.
    static constexpr std::chrono::milliseconds noTrayGrace{5000};
    void setNoTrayGrace(std::chrono::milliseconds grace) { m_noTrayTimer.setInterval(grace); }

Q_SIGNALS:
    // The item was clicked or otherwise activated in the panel. Some panels open the menu
    // without announcing it, so this is the earliest news that the user looked at the item.
    void activated();

private:
    void showOnPanel();
    void chooseHost();
    // Says once that no tray shows the item, when none does.
    void reportMissingTray();
    QSystemTrayIcon* tray();
    void activatedAt(const QPoint& position, bool openMenu);
    // The picture shown now, or a null icon for none.
    QIcon currentImage() const;
    void menuShown();
    void menuHidden();
    void showCurrentImage();
    // The tray icon's tooltip: the title, and the description on a line of its own.
    QString trayToolTip() const;

    QSystemTrayIcon* m_tray = nullptr;
    StatusNotifierItem* m_sni = nullptr;
    QString m_busConnection;
    // Enabled at least once: the item is on the panel from then on.
    bool m_onPanel = false;
    QPointer<QMenu> m_menu;
    QIcon m_image;
    QIcon m_alternateImage;
    QIcon m_blank;
    QString m_toolTip;
    QString m_toolTipDescription;
    bool m_highlightMode = false;
    bool m_highlighted = false;
    bool m_enabled = false;
    qint64 m_shownKey = -1;
    QTimer m_noTrayTimer;
    bool m_missingTrayReported = false;
};
