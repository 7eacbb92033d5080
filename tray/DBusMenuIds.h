#pragma once

#include <QHash>
#include <QObject>
#include <QVariant>

class QAction;

// The item ids by which a tray host knows a menu's actions. An action keeps its id for as long as
// it exists and stands for the same thing: its data() is its identity. Ids are never given twice,
// so an id the host holds names one action standing for one thing. An id that no longer names an
// action (it came to stand for something else, or went) is retired; what a retired id stood for
// is remembered for the latest ones, as many as the most ids ever in use at once (one rewrite of
// the whole menu).
class DBusMenuIds : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // The action's id; a new one for an action seen for the first time.
    int idFor(QAction* action);
    // Gives the action a new id when it has come to stand for something else since it got its
    // id, and then says true. The old id is retired.
    bool renewIfChanged(QAction* action);
    // The action an id names, or null.
    QAction* action(int id) const { return m_actions.value(id, nullptr); }
    // What an id stands for (its action's data() when the id was given), or stood for when it was
    // retired; invalid for an id never given, retired long ago, or that stood for nothing.
    QVariant identity(int id) const { return m_identities.value(id, m_retired.value(id)); }

Q_SIGNALS:
    // The id names nothing any more.
    void forgotten(int id);

private:
    int assign(QAction* action);
    void forget(QAction* action);

    QHash<QAction*, int> m_ids;
    QHash<int, QAction*> m_actions;
    // Each id's action's data() when the id was given: what the id stands for.
    QHash<int, QVariant> m_identities;
    // What the latest retired ids stood for, and those ids, oldest first.
    QHash<int, QVariant> m_retired;
    QList<int> m_retiredOrder;
    qsizetype m_mostInUse = 0;
    int m_nextId = 1;
};
