#include "DBusMenuIds.h"

#include <QAction>

int DBusMenuIds::idFor(QAction* action) {
    const auto found = m_ids.constFind(action);
    if (found != m_ids.constEnd())
        return *found;
    connect(action, &QObject::destroyed, this, [this, action] { forget(action); });
    return assign(action);
}

bool DBusMenuIds::renewIfChanged(QAction* action) {
    if (action->data() == m_identities.value(idFor(action)))
        return false;
    forget(action);
    assign(action);
    return true;
}

int DBusMenuIds::assign(QAction* action) {
    const int id = m_nextId++;
    m_ids.insert(action, id);
    m_actions.insert(id, action);
    m_identities.insert(id, action->data());
    return id;
}

void DBusMenuIds::forget(QAction* action) {
    const auto found = m_ids.constFind(action);
    if (found == m_ids.constEnd())
        return;
    const int id = *found;
    m_ids.erase(found);
    m_actions.remove(id);
    m_identities.remove(id);
    Q_EMIT forgotten(id);
}
