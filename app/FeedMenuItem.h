#pragma once

#include <QAction>
#include <QString>

#include <optional>

// A menu item that carries one feed entry: its raw title, link and source, each optional.
// The feed part of the menu is made of exactly these items (the "No Data Loaded" placeholder is
// one too, with all three fields absent); the menu's fixed items are plain actions.
class FeedMenuItem : public QAction {
    Q_OBJECT
public:
    explicit FeedMenuItem(const QString& title, QObject* parent = nullptr);

    const std::optional<QString>& feedTitle() const { return m_feedTitle; }
    const std::optional<QString>& feedLink() const { return m_feedLink; }
    const std::optional<QString>& feedSource() const { return m_feedSource; }
    void setFeedTitle(std::optional<QString> title) { m_feedTitle = std::move(title); }
    // The link is also the item's identity, its data(): a tray host that holds the item learns
    // that an item written over with another link is another item.
    void setFeedLink(std::optional<QString> link);
    void setFeedSource(std::optional<QString> source) { m_feedSource = std::move(source); }

    // The title the menu shows, exactly as built. Qt reads "&" in an action's text as a mnemonic
    // marker and a tab as the start of a shortcut column; setTitle() escapes both, so the menu
    // shows title() unchanged.
    QString title() const { return m_title; }
    void setTitle(const QString& title);

    // The action text that makes a menu show title as it is.
    static QString actionText(const QString& title);
    // The tooltip that shows text as it is. Qt lays out a tooltip that looks like markup as rich
    // text, images it names loaded from wherever they point; text from a feed is never markup.
    static QString toolTipText(const QString& text);

private:
    QString m_title;
    std::optional<QString> m_feedTitle;
    std::optional<QString> m_feedLink;
    std::optional<QString> m_feedSource;
};

// Whether action is exactly a FeedMenuItem (not merely derived from one).
bool isFeedMenuItem(const QAction* action);
