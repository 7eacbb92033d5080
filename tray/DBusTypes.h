#pragma once

// The structures that travel over D-Bus in the status item's interfaces, org.kde.StatusNotifierItem
// and com.canonical.dbusmenu, with their marshalling. The interface descriptions in dbus/ name
// them for the generated adaptors.

#include <QByteArray>
#include <QDBusArgument>
#include <QDBusVariant>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariantMap>

// --- com.canonical.dbusmenu ---

// (ia{sv}av): an item, its properties and its children, each child a variant holding the same.
struct DBusMenuLayoutItem {
    int id = 0;
    QVariantMap properties;
    QList<DBusMenuLayoutItem> children;
};
Q_DECLARE_METATYPE(DBusMenuLayoutItem)

// (ia{sv}): an item's properties.
struct DBusMenuItem {
    int id = 0;
    QVariantMap properties;
};
Q_DECLARE_METATYPE(DBusMenuItem)
using DBusMenuItemList = QList<DBusMenuItem>;

// (ias): names of an item's properties that went back to their defaults.
struct DBusMenuItemKeys {
    int id = 0;
    QStringList properties;
};
Q_DECLARE_METATYPE(DBusMenuItemKeys)
using DBusMenuItemKeysList = QList<DBusMenuItemKeys>;

// (isvu): one event of EventGroup.
struct DBusMenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
Q_DECLARE_METATYPE(DBusMenuEvent)
using DBusMenuEventList = QList<DBusMenuEvent>;

// --- org.kde.StatusNotifierItem ---

// (iiay): one picture, ARGB32 in network byte order.
struct SniIconPixmap {
    int width = 0;
    int height = 0;
    QByteArray bytes;
};
Q_DECLARE_METATYPE(SniIconPixmap)
using SniIconPixmapList = QList<SniIconPixmap>;

// (sa(iiay)ss): icon name, pictures, title, description.
struct SniToolTip {
    QString iconName;
    SniIconPixmapList pixmaps;
    QString title;
    QString description;
};
Q_DECLARE_METATYPE(SniToolTip)

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuLayoutItem& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuLayoutItem& item);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItem& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItem& item);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItemKeys& keys);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItemKeys& keys);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuEvent& event);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuEvent& event);
QDBusArgument& operator<<(QDBusArgument& argument, const SniIconPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& argument, SniIconPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& argument, const SniToolTip& toolTip);
const QDBusArgument& operator>>(const QDBusArgument& argument, SniToolTip& toolTip);

// Registers the types above with Qt D-Bus; safe to call more than once.
void registerDBusTypes();
