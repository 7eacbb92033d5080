#include "DBusMenuIds.h"

#include <QAction>

#include <algorithm>

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
    m_mostInUse = std::max(m_mostInUse, m_ids.size());
    return id;
}

void DBusMenuIds::forget(QAction* action) {
    const auto found = m_ids.constFind(action);
    if (found == m_ids.constEnd())
        return;
    const int id = *found;
    m_ids.erase(found);
    m_actions.remove(id);
    const QVariant identity = m_identities.take(id);
    if (identity.isValid()) {
        m_retired.insert(id, identity);
        m_retiredOrder.append(id);
        if (m_retiredOrder.size() > m_mostInUse)
            m_retired.remove(m_retiredOrder.takeFirst());
    }
    Q_EMIT forgotten(id);
}
