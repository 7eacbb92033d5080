#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class QAction;
class QIcon;

// What a tray host is told of one menu entry: the com.canonical.dbusmenu properties of a QAction
// (label, enabled, visible, separator, icon, check mark or radio button, submenu).
//
// Icons go as pictures alone (icon-data): hosts that get a name as well may look it up in the icon
// theme alone and draw nothing (GNOME Shell's AppIndicator extension does), while every host draws
// the picture.
class DBusMenuItemProperties {
public:
    QVariantMap of(const QAction* action) const;
    // The menu itself, item 0.
    static QVariantMap ofRoot();
    // Only the properties named; all of them when none is named.
    static QVariantMap filtered(const QVariantMap& properties, const QStringList& names);

    // A menu label for an action's text. Qt writes a literal "&" as "&&" and marks a mnemonic
    // with "&"; dbusmenu writes a literal "_" as "__" and marks a mnemonic with "_". Text after a
    // tab is Qt's shortcut column and no part of the label.
    static QString labelFromActionText(const QString& text);

private:
    QByteArray iconData(const QIcon& icon) const;

    mutable QHash<qint64, QByteArray> m_iconCache;
};
