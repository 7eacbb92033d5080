#include "DBusMenuExporter.h"

#include "dbusmenuadaptor.h"

#include <QAction>
#include <QActionEvent>
#include <QGuiApplication>
#include <QMenu>

#include <algorithm>
#include <utility>

DBusMenuExporter::DBusMenuExporter(const QDBusConnection& connection, const QString& objectPath,
                                   QObject* parent)
    : QObject(parent), m_connection(connection), m_objectPath(objectPath) {
    registerDBusTypes();
    new DBusMenuAdaptor(this);
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(0);
    connect(&m_flushTimer, &QTimer::timeout, this, &DBusMenuExporter::flush);
    connect(&m_ids, &DBusMenuIds::forgotten, this, [this](int id) {
        m_told.remove(id);
        m_changedItems.remove(id);
    });
}

DBusMenuExporter::~DBusMenuExporter() {
    // The program is going away with its menus: nobody is told that they closed.
    m_openings.forgetAll();
    unpublish();
    for (QMenu* menu : std::as_const(m_watchedMenus))
        menu->removeEventFilter(this);
}

bool DBusMenuExporter::publish() {
    if (m_published)
        return true;
    if (!m_connection.registerObject(m_objectPath, this, QDBusConnection::ExportAdaptors))
        return false;
    m_published = true;
    // A host that reads the menu now starts from nothing.
    m_told.clear();
    return true;
}

void DBusMenuExporter::unpublish() {
    if (!m_published)
        return;
    m_connection.unregisterObject(m_objectPath);
    m_published = false;
}

void DBusMenuExporter::setMenu(QMenu* menu) {
    if (menu == m_menu)
        return;
    for (QMenu* watched : std::as_const(m_watchedMenus)) {
        watched->removeEventFilter(this);
        disconnect(watched, nullptr, this, nullptr);
    }
    m_watchedMenus.clear();
    m_menu = menu;
    if (menu)
        watchMenu(menu);
    m_changedMenus.insert(rootId);
    schedule();
}

QString DBusMenuExporter::textDirection() const {
    return QGuiApplication::layoutDirection() == Qt::RightToLeft ? QStringLiteral("rtl")
                                                                 : QStringLiteral("ltr");
}

// --- The interface's methods --------------------------------------------------------------------

uint DBusMenuExporter::GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                                 DBusMenuLayoutItem& layout) {
    if (!this->layout(parentId, recursionDepth, propertyNames, layout)) {
        refuse(QStringLiteral("No menu item %1").arg(parentId));
    } else if (parentId == rootId && calledFromDBus() && !m_readers.contains(message().service())) {
        m_reader = message().service();
        m_readers.insert(m_reader);
        m_readerTakes = QDeadlineTimer(takingLimit);
    }
    return m_revision;
}

DBusMenuItemList DBusMenuExporter::GetGroupProperties(const QList<int>& ids,
                                                      const QStringList& propertyNames) {
    DBusMenuItemList items;
    for (const int id : ids) {
        if (id == rootId) {
            items.append({id, DBusMenuItemProperties::filtered(DBusMenuItemProperties::ofRoot(),
                                                               propertyNames)});
            continue;
        }
        QAction* action = m_ids.action(id);
        if (!action || !isExported(action))
            continue;
        const QVariantMap properties = m_properties.of(action);
        remember(id, properties);
        items.append({id, DBusMenuItemProperties::filtered(properties, propertyNames)});
    }
    return items;
}

QDBusVariant DBusMenuExporter::GetProperty(int id, const QString& name) {
    const DBusMenuItemList items = GetGroupProperties({id}, {name});
    if (items.isEmpty() || !items.first().properties.contains(name)) {
        refuse(QStringLiteral("No property %1 of menu item %2").arg(name).arg(id));
        return QDBusVariant(QVariant(0));
    }
    return QDBusVariant(items.first().properties.value(name));
}

void DBusMenuExporter::Event(int id, const QString& eventId, const QDBusVariant& /*data*/,
                             uint /*timestamp*/) {
    m_reader.clear();
    if (!handleEvent(id, eventId))
        refuse(QStringLiteral("No menu item %1").arg(id));
}

QList<int> DBusMenuExporter::EventGroup(const DBusMenuEventList& events) {
    m_reader.clear();
    QList<int> idErrors;
    for (const DBusMenuEvent& event : events) {
        if (!handleEvent(event.id, event.eventId))
            idErrors.append(event.id);
    }
    return idErrors;
}

bool DBusMenuExporter::AboutToShow(int id) {
    bool known = false;
    const bool needUpdate = aboutToShow(id, !takesMenu(), &known);
    if (!known)
        refuse(QStringLiteral("No menu item %1").arg(id));
    return needUpdate;
}

QList<int> DBusMenuExporter::AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
    const bool opens = !takesMenu();
    QList<int> updatesNeeded;
    for (const int id : ids) {
        bool known = false;
        if (aboutToShow(id, opens, &known))
            updatesNeeded.append(id);
        if (!known)
            idErrors.append(id);
    }
    return updatesNeeded;
}

bool DBusMenuExporter::takesMenu() {
    const bool takes = calledFromDBus() && !m_reader.isEmpty() && message().service() == m_reader &&
                       !m_readerTakes.hasExpired();
    m_reader.clear();
    return takes;
}

void DBusMenuExporter::refuse(const QString& message) {
    if (calledFromDBus())
        sendErrorReply(QDBusError::InvalidArgs, message);
}

// --- Which menu, which item ----------------------------------------------------------------------

int DBusMenuExporter::menuId(QMenu* menu) {
    return menu == m_menu ? rootId : m_ids.idFor(menu->menuAction());
}

QMenu* DBusMenuExporter::menuFor(int id) const {
    if (id == rootId)
        return m_menu;
    QAction* action = m_ids.action(id);
    if (!action || !isExported(action))
        return nullptr;
    QMenu* menu = action->menu();
    return menu && m_watchedMenus.contains(menu) ? menu : nullptr;
}

bool DBusMenuExporter::isExported(QAction* action) const {
    const QList<QObject*> holders = action->associatedObjects();
    return std::any_of(holders.cbegin(), holders.cend(), [this](QObject* holder) {
        auto* menu = qobject_cast<QMenu*>(holder);
        return menu && m_watchedMenus.contains(menu);
    });
}

bool DBusMenuExporter::isKnown(int id) const {
    return id == rootId || (m_ids.action(id) && isExported(m_ids.action(id)));
}

// --- Following the menu -------------------------------------------------------------------------

void DBusMenuExporter::watchMenu(QMenu* menu) {
    if (m_watchedMenus.contains(menu))
        return;
    m_watchedMenus.insert(menu);
    menu->installEventFilter(this);
    connect(menu, &QObject::destroyed, this, [this, menu] {
        m_watchedMenus.remove(menu);
        m_openings.forget(menu);
        m_changedMenus.insert(rootId);
        schedule();
    });
    const QList<QAction*> actions = menu->actions();
    for (QAction* action : actions) {
        if (QMenu* submenu = action->menu())
            watchMenu(submenu);
    }
}

bool DBusMenuExporter::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::ActionAdded && type != QEvent::ActionRemoved &&
        type != QEvent::ActionChanged)
        return false;
    auto* menu = static_cast<QMenu*>(watched);
    if (!m_watchedMenus.contains(menu))
        return false;
    QAction* action = static_cast<QActionEvent*>(event)->action();
    if (type == QEvent::ActionChanged) {
        QMenu* submenu = action->menu();
        if (submenu && !m_watchedMenus.contains(submenu)) {
            // The action became a submenu: its place in the tree changed.
            watchMenu(submenu);
            m_changedMenus.insert(menuId(menu));
        } else if (m_ids.renewIfChanged(action)) {
            // It stands for something else now: a new item in the old one's place.
            m_changedMenus.insert(menuId(menu));
        } else {
            m_changedItems.insert(m_ids.idFor(action));
        }
    } else {
        if (type == QEvent::ActionAdded && action->menu())
            watchMenu(action->menu());
        m_changedMenus.insert(menuId(menu));
    }
    schedule();
    return false;
}

bool DBusMenuExporter::handleEvent(int id, const QString& eventId) {
    if (!isKnown(id)) {
        QAction* now = eventId == u"clicked" ? successor(id) : nullptr;
        if (now)
            click(now);
        return now != nullptr;
    }
    if (eventId == u"clicked") {
        click(m_ids.action(id));
    } else if (eventId == u"opened") {
        if (QMenu* menu = menuFor(id))
            m_openings.begin(menu, true);
    } else if (eventId == u"closed") {
        if (QMenu* menu = menuFor(id))
            m_openings.end(menu);
    }
    return true;
}

QAction* DBusMenuExporter::successor(int id) const {
    const QVariant identity = m_ids.identity(id);
    if (!identity.isValid())
        return nullptr;
    for (QMenu* menu : m_watchedMenus) {
        const QList<QAction*> actions = menu->actions();
        for (QAction* action : actions) {
            if (action->data() == identity)
                return action;
        }
    }
    return nullptr;
}

void DBusMenuExporter::click(QAction* action) {
    if (action && action->isEnabled() && action->isVisible() && !action->isSeparator() &&
        !action->menu())
        action->trigger();
}

bool DBusMenuExporter::aboutToShow(int id, bool opens, bool* known) {
    *known = isKnown(id);
    QMenu* menu = menuFor(id);
    if (!menu)
        return false;
    // Announce what changed before, so that only the opening's own changes count below.
    if (m_flushTimer.isActive())
        flush();
    if (opens)
        m_openings.begin(menu, false);
    // The program may bring items up to date as the menu opens (a check mark, say): the host
    // hears of it before this call returns, and fetches the menu again.
    const bool changed = !m_changedMenus.isEmpty() || !m_changedItems.isEmpty();
    if (changed)
        flush();
    return changed;
}
