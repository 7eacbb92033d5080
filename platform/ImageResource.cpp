#include "ImageResource.h"

#include <QFile>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

QIcon imageNamed(const QString& baseName) {
    const QString path = QStringLiteral(":/images/%1.svg").arg(baseName);
    if (!QFile::exists(path))
        return {};
    QSvgRenderer renderer(path);
    if (!renderer.isValid())
        return {};
    // Rendered once, here, at the sizes in use: the tray may send the whole pixmap to the panel
    // on every change, so no size above 64 px is offered.
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
