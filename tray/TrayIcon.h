#pragma once

#include "TrayHost.h"

#include <QIcon>

class QSystemTrayIcon;

// The program's item as a QSystemTrayIcon, for panels that host XEmbed tray icons.
class TrayIcon : public TrayHost {
    Q_OBJECT
public:
    explicit TrayIcon(QObject* parent = nullptr);

    void setIcon(const QIcon& icon) override;
    void setToolTip(const QString& title, const QString& description) override;
    void setMenu(QMenu* menu) override;

    void show();
    void hide();
    bool isVisible() const;

private:
    QSystemTrayIcon* m_icon;
    QIcon m_blank;
};
