#pragma once

#include "NoTrayNotice.h"

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>

class StatusNotifierItem;
class TrayHost;
class TrayIcon;

// The program's item in the panel's status area: an image (or none, which leaves the item
// blank), an alternate image shown while its menu is open, a menu, a tooltip (a title and an
// optional description below it).
//
// Where the desktop's panel runs a StatusNotifierWatcher with a host, the item is a
// StatusNotifierItem of its own over D-Bus, with the menu exported as com.canonical.dbusmenu,
// so that the host shows every label exactly as the menu does; elsewhere (no session bus, no
// watcher, an XEmbed panel) it is a QSystemTrayIcon. It follows the panel: a watcher that appears
// later takes over from the QSystemTrayIcon, and one that goes away hands back to it. Where there
// is neither, the item waits for one to appear, and says so once (NoTrayNotice).
//
// The item tracks its menu itself: while the menu is open (between aboutToShow and aboutToHide)
// it is "highlighted" and shows the alternate image, whatever image() is. A QMenu of its own
// reports its closing itself; for a D-Bus host, DBusMenuOpenings decides when the menu counts as
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

    // Whether the item calls for attention (it blinks for new entries): hosts that describe the
    // item to screen readers say so.
    void setNeedsAttention(bool on);

    void setToolTip(const QString& toolTip);
    QString toolTip() const { return m_toolTip; }
    // Plain text under the tooltip's title; empty for none.
    void setToolTipDescription(const QString& description);
    QString toolTipDescription() const { return m_toolTipDescription; }

    // Whether the menu is open now.
    bool isHighlighted() const { return m_highlighted; }
    // What the panel shows now: the alternate image while highlighted, else image(); a null icon
    // while the item is blank.
    QIcon shownImage() const;

    // How the panel hosts the item now. Before the item is first enabled, and while the
    // session bus is asked about a watcher, neither.
    bool isTrayIconShown() const;
    bool isStatusNotifierRegistered() const;
    // The D-Bus item, once the item has been enabled on a session bus; else null.
    StatusNotifierItem* statusNotifierItem() const { return m_sni; }

    // How long the item waits for a tray before it says that there is none. Tests shorten it.
    static constexpr std::chrono::milliseconds noTrayGrace = NoTrayNotice::defaultGrace;
    void setNoTrayGrace(std::chrono::milliseconds grace) { m_notice.setGrace(grace); }
    NoTrayNotice& noTrayNotice() { return m_notice; }

Q_SIGNALS:
    // The item was clicked or otherwise activated in the panel. Some panels open the menu
    // without announcing it, so this is the earliest news that the user looked at the item.
    void activated();

private:
    void showOnPanel();
    // The one place that decides what shows the item: the D-Bus item unless it is unavailable.
    void chooseHost();
    // Makes host the one in use, and hands it everything the item shows.
    void use(TrayHost* host);
    bool viaBus() const;
    QMenu* shownMenu() const { return m_enabled ? m_menu.data() : nullptr; }
    void activatedAt(const QPoint& position, bool openMenu);
    void menuShown();
    void menuHidden();
    void showCurrentImage();

    StatusNotifierItem* m_sni = nullptr;
    TrayIcon* m_tray = nullptr;
    TrayHost* m_host = nullptr;
    QString m_busConnection;
    // Enabled at least once: the item is on the panel from then on.
    bool m_onPanel = false;
    QPointer<QMenu> m_menu;
    QIcon m_image;
    QIcon m_alternateImage;
    QString m_toolTip;
    QString m_toolTipDescription;
    bool m_highlightMode = false;
    bool m_highlighted = false;
    bool m_enabled = false;
    bool m_needsAttention = false;
    qint64 m_shownKey = -1;
    NoTrayNotice m_notice;
};
