#include "DBusMenuOpenings.h"

#include <QMenu>

#include <algorithm>
#include <optional>

DBusMenuOpenings::DBusMenuOpenings(QObject* parent) : QObject(parent) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &DBusMenuOpenings::endExpired);
}

void DBusMenuOpenings::setLimits(std::chrono::milliseconds unconfirmed,
                                 std::chrono::milliseconds longest) {
    m_unconfirmedLimit = unconfirmed;
    m_limit = longest;
}

void DBusMenuOpenings::begin(QMenu* menu, bool confirmed) {
    const bool opens = !m_openings.contains(menu);
    Opening& opening = m_openings[menu];
    if (opens) {
        opening.menu = menu;
        opening.limit = QDeadlineTimer(m_limit);
    }
    opening.confirmed = opening.confirmed || confirmed;
    const auto rest = opening.confirmed ? m_limit : m_unconfirmedLimit;
    opening.end = std::min(QDeadlineTimer(rest), opening.limit);
    schedule();
    if (opens)
        Q_EMIT menu->aboutToShow();
}

void DBusMenuOpenings::end(QMenu* menu) {
    const auto found = m_openings.constFind(menu);
    if (found == m_openings.constEnd())
        return;
    const QPointer<QMenu> closed = found->menu;
    m_openings.erase(found);
    schedule();
    if (closed)
        Q_EMIT closed->aboutToHide();
}

void DBusMenuOpenings::forget(QMenu* menu) {
    m_openings.remove(menu);
}

void DBusMenuOpenings::endExpired() {
    QList<QMenu*> expired;
    for (auto it = m_openings.cbegin(); it != m_openings.cend(); ++it) {
        if (it->end.hasExpired())
            expired.append(it.key());
    }
    for (QMenu* menu : std::as_const(expired))
        end(menu);
    schedule();
}

void DBusMenuOpenings::schedule() {
    std::optional<QDeadlineTimer> first;
    for (const Opening& opening : std::as_const(m_openings)) {
        if (!first || opening.end < *first)
            first = opening.end;
    }
    if (!first) {
        m_timer.stop();
        return;
    }
    m_timer.start(std::chrono::ceil<std::chrono::milliseconds>(first->remainingTimeAsDuration()));
}
