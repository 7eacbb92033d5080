#include "FeedMenuItem.h"

#include <QTextDocument>

#include <typeinfo>

FeedMenuItem::FeedMenuItem(const QString& title, QObject* parent) : QAction(parent) {
    setTitle(title);
}

void FeedMenuItem::setFeedLink(std::optional<QString> link) {
    setData(link ? QVariant(*link) : QVariant());
    m_feedLink = std::move(link);
}

void FeedMenuItem::setTitle(const QString& title) {
    m_title = title;
    setText(actionText(title));
}

QString FeedMenuItem::actionText(const QString& title) {
    QString text;
    text.reserve(title.size() + 4);
    for (const QChar c : title) {
        if (c == u'&')
            text += u"&&";
        else if (c == u'\t')
            text += u' '; // a menu has no tab stops: the gap shows as a space
        else
            text += c;
    }
    return text;
}

QString FeedMenuItem::toolTipText(const QString& text) {
    return text.isEmpty() ? QString() : Qt::convertFromPlainText(text);
}

bool isFeedMenuItem(const QAction* action) {
    return action && typeid(*action) == typeid(FeedMenuItem);
}
