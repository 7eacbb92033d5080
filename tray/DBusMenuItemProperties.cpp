#include "DBusMenuItemProperties.h"

#include <QAction>
#include <QActionGroup>
#include <QBuffer>
#include <QIcon>
#include <QMenu>
#include <QPixmap>

namespace {

// Item icons as pictures: twice the 16 px that hosts show beside a label, so that they stay sharp
// on a panel at twice the scale.
constexpr int itemIconSize = 32;
// A handful of distinct icons is usual; a program that made a new one for every item would
// otherwise grow the cache without end.
constexpr qsizetype iconCacheLimit = 64;

const QString labelKey = QStringLiteral("label");
const QString enabledKey = QStringLiteral("enabled");
const QString visibleKey = QStringLiteral("visible");
const QString typeKey = QStringLiteral("type");
const QString iconDataKey = QStringLiteral("icon-data");
const QString toggleTypeKey = QStringLiteral("toggle-type");
const QString toggleStateKey = QStringLiteral("toggle-state");
const QString childrenDisplayKey = QStringLiteral("children-display");

} // namespace

QVariantMap DBusMenuItemProperties::ofRoot() {
    return {{childrenDisplayKey, QStringLiteral("submenu")}};
}

QVariantMap DBusMenuItemProperties::filtered(const QVariantMap& properties,
                                             const QStringList& names) {
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

QVariantMap DBusMenuItemProperties::of(const QAction* action) const {
    QVariantMap properties;
    properties.insert(visibleKey, action->isVisible());
    if (action->isSeparator()) {
        properties.insert(typeKey, QStringLiteral("separator"));
        return properties;
    }
    properties.insert(labelKey, labelFromActionText(action->text()));
    properties.insert(enabledKey, action->isEnabled());
    if (!action->icon().isNull() && action->isIconVisibleInMenu()) {
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

QString DBusMenuItemProperties::labelFromActionText(const QString& text) {
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

QByteArray DBusMenuItemProperties::iconData(const QIcon& icon) const {
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
