#include "DBusMenuExporter.h"

#include <QAction>
#include <QActionEvent>
#include <QActionGroup>
#include <QBuffer>
#include <QDBusAbstractAdaptor>
#include <QDBusMetaType>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QPixmap>

#include <algorithm>
#include <optional>
#include <utility>

namespace {

// Item 0 is the menu itself.
constexpr int rootId = 0;
// Menus nested deeper than this are not exported (and a menu that contains itself ends here).
constexpr int maximumNesting = 16;
// Item icons as pictures, for hosts that do not look names up: twice the 16 px that hosts show
// beside a label, so that they stay sharp on a panel at twice the scale.
constexpr int itemIconSize = 32;
// A handful of distinct icons is usual; a program that made a new one for every item would
// otherwise grow the cache without end.
constexpr qsizetype iconCacheLimit = 64;

const QString labelKey = QStringLiteral("label");
const QString enabledKey = QStringLiteral("enabled");
const QString visibleKey = QStringLiteral("visible");
const QString typeKey = QStringLiteral("type");
const QString iconDataKey = QStringLiteral("icon-data");
const QString iconNameKey = QStringLiteral("icon-name");
const QString toggleTypeKey = QStringLiteral("toggle-type");
const QString toggleStateKey = QStringLiteral("toggle-state");
const QString childrenDisplayKey = QStringLiteral("children-display");

QVariantMap rootProperties() {
    return {{childrenDisplayKey, QStringLiteral("submenu")}};
}

QVariantMap filtered(const QVariantMap& properties, const QStringList& names) {
    if (names.isEmpty())
        return properties;
    QVariantMap result;
    for (const QString& name : names) {
        const auto found = properties.constFind(name);
        if (found != properties.constEnd())
            result.insert(name, *found);
    }
    return result;
}

template <typename T> QList<T> sorted(const QSet<T>& set) {
    QList<T> list(set.cbegin(), set.cend());
    std::sort(list.begin(), list.end());
    return list;
}

} // namespace

// --- Wire types ---------------------------------------------------------------------------------

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuLayoutItem& item) {
    argument.beginStructure();
    argument << item.id << item.properties;
    argument.beginArray(qMetaTypeId<QDBusVariant>());
    for (const DBusMenuLayoutItem& child : item.children)
        argument << QDBusVariant(QVariant::fromValue(child));
    argument.endArray();
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuLayoutItem& item) {
    argument.beginStructure();
    argument >> item.id >> item.properties;
    item.children.clear();
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant variant;
        argument >> variant;
        const QVariant value = variant.variant();
        if (value.canConvert<QDBusArgument>())
            item.children.append(qdbus_cast<DBusMenuLayoutItem>(value.value<QDBusArgument>()));
        else if (value.canConvert<DBusMenuLayoutItem>())
            item.children.append(value.value<DBusMenuLayoutItem>());
    }
    argument.endArray();
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItem& item) {
    argument.beginStructure();
    argument << item.id << item.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItem& item) {
    argument.beginStructure();
    argument >> item.id >> item.properties;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItemKeys& keys) {
    argument.beginStructure();
    argument << keys.id << keys.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItemKeys& keys) {
    argument.beginStructure();
    argument >> keys.id >> keys.properties;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuEvent& event) {
    argument.beginStructure();
    argument << event.id << event.eventId << event.data << event.timestamp;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuEvent& event) {
    argument.beginStructure();
    argument >> event.id >> event.eventId >> event.data >> event.timestamp;
    argument.endStructure();
    return argument;
}

void registerDBusMenuTypes() {
    static const bool registered = [] {
        qDBusRegisterMetaType<DBusMenuLayoutItem>();
        qDBusRegisterMetaType<DBusMenuItem>();
        qDBusRegisterMetaType<DBusMenuItemList>();
        qDBusRegisterMetaType<DBusMenuItemKeys>();
        qDBusRegisterMetaType<DBusMenuItemKeysList>();
        qDBusRegisterMetaType<DBusMenuEvent>();
        qDBusRegisterMetaType<DBusMenuEventList>();
        qDBusRegisterMetaType<QList<int>>();
        // Signal and slot signatures name the lists by their aliases.
        qRegisterMetaType<DBusMenuItemList>("DBusMenuItemList");
        qRegisterMetaType<DBusMenuItemKeysList>("DBusMenuItemKeysList");
        qRegisterMetaType<DBusMenuEventList>("DBusMenuEventList");
        return true;
    }();
    Q_UNUSED(registered);
}

// --- The D-Bus face -----------------------------------------------------------------------------

class DBusMenuAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_CLASSINFO("D-Bus Introspection",
                "  <interface name=\"com.canonical.dbusmenu\">\n"
                "    <property name=\"Version\" type=\"u\" access=\"read\"/>\n"
                "    <property name=\"TextDirection\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"Status\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"IconThemePath\" type=\"as\" access=\"read\"/>\n"
                "    <method name=\"GetLayout\">\n"
                "      <arg name=\"parentId\" type=\"i\" direction=\"in\"/>\n"
                "      <arg name=\"recursionDepth\" type=\"i\" direction=\"in\"/>\n"
                "      <arg name=\"propertyNames\" type=\"as\" direction=\"in\"/>\n"
                "      <arg name=\"revision\" type=\"u\" direction=\"out\"/>\n"
                "      <arg name=\"layout\" type=\"(ia{sv}av)\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <method name=\"GetGroupProperties\">\n"
                "      <arg name=\"ids\" type=\"ai\" direction=\"in\"/>\n"
                "      <arg name=\"propertyNames\" type=\"as\" direction=\"in\"/>\n"
                "      <arg name=\"properties\" type=\"a(ia{sv})\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <method name=\"GetProperty\">\n"
                "      <arg name=\"id\" type=\"i\" direction=\"in\"/>\n"
                "      <arg name=\"name\" type=\"s\" direction=\"in\"/>\n"
                "      <arg name=\"value\" type=\"v\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <method name=\"Event\">\n"
                "      <arg name=\"id\" type=\"i\" direction=\"in\"/>\n"
                "      <arg name=\"eventId\" type=\"s\" direction=\"in\"/>\n"
                "      <arg name=\"data\" type=\"v\" direction=\"in\"/>\n"
                "      <arg name=\"timestamp\" type=\"u\" direction=\"in\"/>\n"
                "    </method>\n"
                "    <method name=\"EventGroup\">\n"
                "      <arg name=\"events\" type=\"a(isvu)\" direction=\"in\"/>\n"
                "      <arg name=\"idErrors\" type=\"ai\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <method name=\"AboutToShow\">\n"
                "      <arg name=\"id\" type=\"i\" direction=\"in\"/>\n"
                "      <arg name=\"needUpdate\" type=\"b\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <method name=\"AboutToShowGroup\">\n"
                "      <arg name=\"ids\" type=\"ai\" direction=\"in\"/>\n"
                "      <arg name=\"updatesNeeded\" type=\"ai\" direction=\"out\"/>\n"
                "      <arg name=\"idErrors\" type=\"ai\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <signal name=\"ItemsPropertiesUpdated\">\n"
                "      <arg name=\"updatedProps\" type=\"a(ia{sv})\" direction=\"out\"/>\n"
                "      <arg name=\"removedProps\" type=\"a(ias)\" direction=\"out\"/>\n"
                "    </signal>\n"
                "    <signal name=\"LayoutUpdated\">\n"
                "      <arg name=\"revision\" type=\"u\" direction=\"out\"/>\n"
                "      <arg name=\"parent\" type=\"i\" direction=\"out\"/>\n"
                "    </signal>\n"
                "    <signal name=\"ItemActivationRequested\">\n"
                "      <arg name=\"id\" type=\"i\" direction=\"out\"/>\n"
                "      <arg name=\"timestamp\" type=\"u\" direction=\"out\"/>\n"
                "    </signal>\n"
                "  </interface>\n")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    explicit DBusMenuAdaptor(DBusMenuExporter* exporter)
        : QDBusAbstractAdaptor(exporter), m_exporter(exporter) {
        setAutoRelaySignals(true);
    }

    uint version() const { return 3; }
    QString textDirection() const {
        return QGuiApplication::layoutDirection() == Qt::RightToLeft ? QStringLiteral("rtl")
                                                                     : QStringLiteral("ltr");
    }
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const {
        const QString path = m_exporter->iconThemePath();
        return path.isEmpty() ? QStringList() : QStringList(path);
    }

public Q_SLOTS:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   DBusMenuLayoutItem& layout) {
        if (!m_exporter->layout(parentId, recursionDepth, propertyNames, layout))
            m_exporter->refuse(QStringLiteral("No menu item %1").arg(parentId));
        return m_exporter->revision();
    }

    DBusMenuItemList GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames) {
        return m_exporter->groupProperties(ids, propertyNames);
    }

    QDBusVariant GetProperty(int id, const QString& name) {
        const DBusMenuItemList items = m_exporter->groupProperties({id}, {name});
        if (items.isEmpty() || !items.first().properties.contains(name)) {
            m_exporter->refuse(QStringLiteral("No property %1 of menu item %2").arg(name).arg(id));
            return QDBusVariant(QVariant(0));
        }
        return QDBusVariant(items.first().properties.value(name));
    }

    void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp) {
        Q_UNUSED(data);
        Q_UNUSED(timestamp);
        if (!m_exporter->handleEvent(id, eventId))
            m_exporter->refuse(QStringLiteral("No menu item %1").arg(id));
    }

    QList<int> EventGroup(const DBusMenuEventList& events) {
        QList<int> idErrors;
        for (const DBusMenuEvent& event : events) {
            if (!m_exporter->handleEvent(event.id, event.eventId))
                idErrors.append(event.id);
        }
        return idErrors;
    }

    bool AboutToShow(int id) {
        bool known = false;
        const bool needUpdate = m_exporter->aboutToShow(id, &known);
        if (!known)
            m_exporter->refuse(QStringLiteral("No menu item %1").arg(id));
        return needUpdate;
    }

    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
        QList<int> updatesNeeded;
        for (const int id : ids) {
            bool known = false;
            if (m_exporter->aboutToShow(id, &known))
                updatesNeeded.append(id);
            if (!known)
                idErrors.append(id);
        }
        return updatesNeeded;
    }

Q_SIGNALS:
    void LayoutUpdated(uint revision, int parent);
    void ItemsPropertiesUpdated(const DBusMenuItemList& updatedProps,
                                const DBusMenuItemKeysList& removedProps);
    void ItemActivationRequested(int id, uint timestamp);

private:
    DBusMenuExporter* m_exporter;
};

// --- The exporter -------------------------------------------------------------------------------

DBusMenuExporter::DBusMenuExporter(const QDBusConnection& connection, const QString& objectPath,
                                   QObject* parent)
    : QObject(parent), m_connection(connection), m_objectPath(objectPath) {
    registerDBusMenuTypes();
    new DBusMenuAdaptor(this);
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(0);
    connect(&m_flushTimer, &QTimer::timeout, this, &DBusMenuExporter::flush);
    m_openingTimer.setSingleShot(true);
    m_openingTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_openingTimer, &QTimer::timeout, this, &DBusMenuExporter::endExpiredOpenings);
}

DBusMenuExporter::~DBusMenuExporter() {
    // The program is going away with its menus: nobody is told that they closed.
    m_openings.clear();
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

QString DBusMenuExporter::labelFromActionText(const QString& text) {
    const qsizetype tab = text.indexOf(u'\t');
    const QStringView shown = tab < 0 ? QStringView(text) : QStringView(text).left(tab);
    QString label;
    label.reserve(shown.size() + 2);
    bool mnemonicWritten = false;
    for (qsizetype i = 0; i < shown.size(); ++i) {
        QChar c = shown[i];
        if (c == u'&') {
            if (i + 1 == shown.size())
                break; // a trailing marker marks nothing
            c = shown[++i];
            // Qt shows the first marked character underlined; the others are plain text.
            if (c != u'&' && c != u'_' && !mnemonicWritten) {
                label += u'_';
                mnemonicWritten = true;
            }
        }
        if (c == u'_')
            label += u"__";
        else
            label += c;
    }
    return label;
}

QVariantMap DBusMenuExporter::propertiesOf(int id) const {
    if (id == rootId)
        return rootProperties();
    QAction* action = actionFor(id);
    return action ? computeProperties(action) : QVariantMap();
}

int DBusMenuExporter::idFor(QAction* action) {
    const auto found = m_ids.constFind(action);
    if (found != m_ids.constEnd())
        return *found;
    connect(action, &QObject::destroyed, this, [this, action] { forget(action); });
    return assignId(action);
}

// Ids are never given twice, so an id the host holds names one action standing for one thing.
int DBusMenuExporter::assignId(QAction* action) {
    const int id = m_nextId++;
    m_ids.insert(action, id);
    m_actions.insert(id, action);
    m_identities.insert(id, action->data());
    return id;
}

void DBusMenuExporter::forget(QAction* action) {
    const auto found = m_ids.constFind(action);
    if (found == m_ids.constEnd())
        return;
    const int id = *found;
    m_ids.erase(found);
    m_actions.remove(id);
    m_identities.remove(id);
    m_told.remove(id);
    m_changedItems.remove(id);
}

QAction* DBusMenuExporter::actionFor(int id) const {
    return m_actions.value(id, nullptr);
}

int DBusMenuExporter::menuId(QMenu* menu) {
    return menu == m_menu ? rootId : idFor(menu->menuAction());
}

QMenu* DBusMenuExporter::menuFor(int id) const {
    if (id == rootId)
        return m_menu;
    QAction* action = actionFor(id);
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

QVariantMap DBusMenuExporter::computeProperties(QAction* action) const {
    QVariantMap properties;
    properties.insert(visibleKey, action->isVisible());
    if (action->isSeparator()) {
        properties.insert(typeKey, QStringLiteral("separator"));
        return properties;
    }
    properties.insert(labelKey, labelFromActionText(action->text()));
    properties.insert(enabledKey, action->isEnabled());
    if (!action->icon().isNull() && action->isIconVisibleInMenu()) {
        // Hosts do not say which they use: a host that finds the name draws the icon at its own
        // size and scale, the others take the picture.
        const QString name = action->icon().name();
        if (!name.isEmpty() && !m_iconThemePath.isEmpty())
            properties.insert(iconNameKey, name);
        const QByteArray png = iconData(action->icon());
        if (!png.isEmpty())
            properties.insert(iconDataKey, png);
    }
    if (action->isCheckable()) {
        const QActionGroup* group = action->actionGroup();
        const bool radio = group && group->exclusionPolicy() != QActionGroup::ExclusionPolicy::None;
        properties.insert(toggleTypeKey,
                          radio ? QStringLiteral("radio") : QStringLiteral("checkmark"));
        properties.insert(toggleStateKey, action->isChecked() ? 1 : 0);
    }
    if (action->menu())
        properties.insert(childrenDisplayKey, QStringLiteral("submenu"));
    return properties;
}

QByteArray DBusMenuExporter::iconData(const QIcon& icon) const {
    const qint64 key = icon.cacheKey();
    const auto found = m_iconCache.constFind(key);
    if (found != m_iconCache.constEnd())
        return *found;
    QByteArray png;
    const QPixmap pixmap = icon.pixmap(QSize(itemIconSize, itemIconSize), 1.0);
    if (!pixmap.isNull()) {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        pixmap.save(&buffer, "PNG");
    }
    if (m_iconCache.size() >= iconCacheLimit)
        m_iconCache.clear();
    m_iconCache.insert(key, png);
    return png;
}

void DBusMenuExporter::watchMenu(QMenu* menu) {
    if (m_watchedMenus.contains(menu))
        return;
    m_watchedMenus.insert(menu);
    menu->installEventFilter(this);
    connect(menu, &QObject::destroyed, this, [this, menu] {
        m_watchedMenus.remove(menu);
        m_openings.remove(menu);
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
        } else if (action->data() != m_identities.value(idFor(action))) {
            // It stands for something else now: a new item in the old one's place.
            forget(action);
            assignId(action);
            m_changedMenus.insert(menuId(menu));
        } else {
            m_changedItems.insert(idFor(action));
        }
    } else {
        if (type == QEvent::ActionAdded && action->menu())
            watchMenu(action->menu());
        m_changedMenus.insert(menuId(menu));
    }
    schedule();
    return false;
}

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
        QAction* action = actionFor(id);
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

        const QVariantMap now = computeProperties(action);
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

void DBusMenuExporter::buildLayout(QMenu* menu, int depth, const QStringList& names,
                                   QList<DBusMenuLayoutItem>& out) {
    const QList<QAction*> actions = menu->actions();
    out.reserve(actions.size());
    for (QAction* action : actions) {
        DBusMenuLayoutItem item;
        item.id = idFor(action);
        const QVariantMap properties = computeProperties(action);
        remember(item.id, properties);
        item.properties = filtered(properties, names);
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
        out.properties = filtered(rootProperties(), names);
        menu = m_menu;
    } else {
        QAction* action = actionFor(parentId);
        if (!action || !isExported(action))
            return false;
        const QVariantMap properties = computeProperties(action);
        remember(parentId, properties);
        out.properties = filtered(properties, names);
        menu = menuFor(parentId);
    }
    // A depth of -1 means all levels; the nesting limit stops a menu that contains itself.
    if (menu && depth != 0)
        buildLayout(menu, depth < 0 ? -1 : std::min(depth, maximumNesting), names, out.children);
    return true;
}

DBusMenuItemList DBusMenuExporter::groupProperties(const QList<int>& ids,
                                                   const QStringList& names) {
    DBusMenuItemList items;
    for (const int id : ids) {
        if (id == rootId) {
            items.append({id, filtered(rootProperties(), names)});
            continue;
        }
        QAction* action = actionFor(id);
        if (!action || !isExported(action))
            continue;
        const QVariantMap properties = computeProperties(action);
        remember(id, properties);
        items.append({id, filtered(properties, names)});
    }
    return items;
}

bool DBusMenuExporter::handleEvent(int id, const QString& eventId) {
    if (id != rootId && !(actionFor(id) && isExported(actionFor(id))))
        return false;
    if (eventId == u"clicked") {
        QAction* action = actionFor(id);
        if (action && action->isEnabled() && action->isVisible() && !action->isSeparator() &&
            !action->menu())
            action->trigger();
    } else if (eventId == u"opened") {
        if (QMenu* menu = menuFor(id))
            beginOpening(menu, true);
    } else if (eventId == u"closed") {
        if (QMenu* menu = menuFor(id))
            endOpening(menu);
    }
    return true;
}

bool DBusMenuExporter::aboutToShow(int id, bool* known) {
    *known = id == rootId || (actionFor(id) && isExported(actionFor(id)));
    QMenu* menu = menuFor(id);
    if (!menu)
        return false;
    // Announce what changed before, so that only the opening's own changes count below.
    if (m_flushTimer.isActive())
        flush();
    beginOpening(menu, false);
    // The program may bring items up to date as the menu opens (a check mark, say): the host
    // hears of it before this call returns, and fetches the menu again.
    const bool changed = !m_changedMenus.isEmpty() || !m_changedItems.isEmpty();
    if (changed)
        flush();
    return changed;
}

void DBusMenuExporter::setOpeningLimits(std::chrono::milliseconds unconfirmed,
                                        std::chrono::milliseconds limit) {
    m_unconfirmedOpeningLimit = unconfirmed;
    m_openingLimit = limit;
}

void DBusMenuExporter::beginOpening(QMenu* menu, bool confirmed) {
    const bool opens = !m_openings.contains(menu);
    Opening& opening = m_openings[menu];
    if (opens) {
        opening.menu = menu;
        opening.limit = QDeadlineTimer(m_openingLimit);
    }
    opening.confirmed = opening.confirmed || confirmed;
    const auto rest = opening.confirmed ? m_openingLimit : m_unconfirmedOpeningLimit;
    opening.end = std::min(QDeadlineTimer(rest), opening.limit);
    scheduleOpenings();
    if (opens)
        Q_EMIT menu->aboutToShow();
}

void DBusMenuExporter::endOpening(QMenu* menu) {
    const auto found = m_openings.constFind(menu);
    if (found == m_openings.constEnd())
        return;
    const QPointer<QMenu> closed = found->menu;
    m_openings.erase(found);
    scheduleOpenings();
    if (closed)
        Q_EMIT closed->aboutToHide();
}

void DBusMenuExporter::endExpiredOpenings() {
    QList<QMenu*> expired;
    for (auto it = m_openings.cbegin(); it != m_openings.cend(); ++it) {
        if (it->end.hasExpired())
            expired.append(it.key());
    }
    for (QMenu* menu : std::as_const(expired))
        endOpening(menu);
    scheduleOpenings();
}

void DBusMenuExporter::scheduleOpenings() {
    std::optional<QDeadlineTimer> first;
    for (const Opening& opening : std::as_const(m_openings)) {
        if (!first || opening.end < *first)
            first = opening.end;
    }
    if (!first) {
        m_openingTimer.stop();
        return;
    }
    m_openingTimer.start(
        std::chrono::ceil<std::chrono::milliseconds>(first->remainingTimeAsDuration()));
}

void DBusMenuExporter::refuse(const QString& message) {
    if (calledFromDBus())
        sendErrorReply(QDBusError::InvalidArgs, message);
}

#include "DBusMenuExporter.moc"
