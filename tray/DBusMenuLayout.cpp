// The menu's layout as the host reads it, and the news of what changed in it since.

#include "DBusMenuExporter.h"

#include <QAction>
#include <QMenu>

#include <algorithm>
#include <utility>

namespace {

// Menus nested deeper than this are not exported (and a menu that contains itself ends here).
constexpr int maximumNesting = 16;

template <typename T> QList<T> sorted(const QSet<T>& set) {
    QList<T> list(set.cbegin(), set.cend());
    std::sort(list.begin(), list.end());
    return list;
}

} // namespace

// --- Telling the host --------------------------------------------------------------------------

void DBusMenuExporter::schedule() {
    if (!m_flushTimer.isActive())
        m_flushTimer.start();
}

void DBusMenuExporter::remember(int id, const QVariantMap& properties) {
    if (m_published)
        m_told.insert(id, properties);
}

void DBusMenuExporter::flush() {
    m_flushTimer.stop();
    const QSet<int> changedMenus = std::exchange(m_changedMenus, {});
    const QSet<int> changedItems = std::exchange(m_changedItems, {});
    if (!m_published)
        return;

    if (!changedMenus.isEmpty()) {
        ++m_revision;
        for (const int id : sorted(changedMenus)) {
            if (id == rootId || menuFor(id))
                Q_EMIT LayoutUpdated(m_revision, id);
        }
    }

    DBusMenuItemList updated;
    DBusMenuItemKeysList removed;
    for (const int id : sorted(changedItems)) {
        QAction* action = m_ids.action(id);
        const auto told = m_told.constFind(id);
        // An item the host never saw needs no news; one whose menu it reads again neither.
        if (!action || told == m_told.constEnd() || !isExported(action))
            continue;
        const QList<QObject*> holders = action->associatedObjects();
        const bool refetched = std::any_of(holders.cbegin(), holders.cend(), [&](QObject* o) {
            auto* holder = qobject_cast<QMenu*>(o);
            return holder && m_watchedMenus.contains(holder) &&
                   changedMenus.contains(menuId(holder));
        });
        if (refetched)
            continue;

        const QVariantMap now = m_properties.of(action);
        DBusMenuItem changes{id, {}};
        DBusMenuItemKeys gone{id, {}};
        for (auto it = now.cbegin(); it != now.cend(); ++it) {
            const auto before = told->constFind(it.key());
            if (before == told->constEnd() || *before != it.value())
                changes.properties.insert(it.key(), it.value());
        }
        for (auto it = told->cbegin(); it != told->cend(); ++it) {
            if (!now.contains(it.key()))
                gone.properties.append(it.key());
        }
        if (!changes.properties.isEmpty())
            updated.append(changes);
        if (!gone.properties.isEmpty())
            removed.append(gone);
        m_told.insert(id, now);
    }
    if (!updated.isEmpty() || !removed.isEmpty())
        Q_EMIT ItemsPropertiesUpdated(updated, removed);
}

// --- What the host reads and does -------------------------------------------------------------

void DBusMenuExporter::buildLayout(QMenu* menu, int depth, const QStringList& names,
                                   QList<DBusMenuLayoutItem>& out) {
    const QList<QAction*> actions = menu->actions();
    out.reserve(actions.size());
    for (QAction* action : actions) {
        DBusMenuLayoutItem item;
        item.id = m_ids.idFor(action);
        const QVariantMap properties = m_properties.of(action);
        remember(item.id, properties);
        item.properties = DBusMenuItemProperties::filtered(properties, names);
        QMenu* submenu = action->menu();
        if (submenu) {
            watchMenu(submenu);
            if (depth != 1 && depth > -maximumNesting)
                buildLayout(submenu, depth - 1, names, item.children);
        }
        out.append(std::move(item));
    }
}

bool DBusMenuExporter::layout(int parentId, int depth, const QStringList& names,
                              DBusMenuLayoutItem& out) {
    // The host is about to learn the present state: what is pending is told in the same breath.
    if (m_flushTimer.isActive())
        flush();
    out = {};
    out.id = parentId;
    QMenu* menu = nullptr;
    if (parentId == rootId) {
        out.properties = DBusMenuItemProperties::filtered(DBusMenuItemProperties::ofRoot(), names);
        menu = m_menu;
    } else {
        QAction* action = m_ids.action(parentId);
        if (!action || !isExported(action))
            return false;
        const QVariantMap properties = m_properties.of(action);
        remember(parentId, properties);
        out.properties = DBusMenuItemProperties::filtered(properties, names);
        menu = menuFor(parentId);
    }
    // A depth of -1 means all levels; the nesting limit stops a menu that contains itself.
    if (menu && depth != 0)
        buildLayout(menu, depth < 0 ? -1 : std::min(depth, maximumNesting), names, out.children);
    return true;
}
