#pragma once

#include <QDeadlineTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>

class QMenu;

// Which menus a tray host shows now. The program hears of it as from a menu of its own: the
// QMenu's aboutToShow and aboutToHide signals, each once per opening.
//
// Hosts differ: LXQt's panel and KDE's call AboutToShow, then send "opened" and, when the menu
// goes, "closed"; GNOME's AppIndicator extension sends "opened" before AboutToShow; XFCE's panel
// and waybar only call AboutToShow (or AboutToShowGroup) and never say that the menu closed. So
// a menu counts as open from "opened" to "closed"; after an AboutToShow that no "opened" follows,
// for a moment only; and never longer than a minute, for a host whose "closed" never comes.
class DBusMenuOpenings : public QObject {
    Q_OBJECT
public:
    explicit DBusMenuOpenings(QObject* parent = nullptr);

    // How long a menu counts as open after an AboutToShow that no "opened" follows, and at most
    // after any opening. Tests shorten them.
    static constexpr std::chrono::milliseconds unconfirmedLimit{2000};
    static constexpr std::chrono::milliseconds limit{60000};
    void setLimits(std::chrono::milliseconds unconfirmed, std::chrono::milliseconds longest);

    // The host shows the menu: "opened" confirms it, AboutToShow alone does not.
    void begin(QMenu* menu, bool confirmed);
    void end(QMenu* menu);
    // Forgets a menu without a word: it is going away.
    void forget(QMenu* menu);
    void forgetAll() { m_openings.clear(); }

private:
    void endExpired();
    void schedule();

    struct Opening {
        QPointer<QMenu> menu;
        QDeadlineTimer limit; // the longest any opening lasts
        QDeadlineTimer end;
        bool confirmed = false;
    };
    QHash<QMenu*, Opening> m_openings;
    QTimer m_timer;
    std::chrono::milliseconds m_unconfirmedLimit = unconfirmedLimit;
    std::chrono::milliseconds m_limit = limit;
};
