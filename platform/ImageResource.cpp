#include "ImageResource.h"

#include <QFile>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

#include <memory>

namespace {

// The sizes offered: the tray may send the whole pixmap to the panel on every change, so none
// above 64 px.
constexpr int offeredSizes[] = {16, 22, 24, 32, 48, 64};

// Renders a picture the first time a size is asked for, and keeps it: start-up renders only
// what the panel shows, and a blink reuses the same pixmaps.
class ResourceIconEngine : public QIconEngine {
public:
    explicit ResourceIconEngine(std::shared_ptr<QSvgRenderer> renderer)
        : m_renderer(std::move(renderer)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        painter->drawPixmap(rect, pixmap(rect.size(), mode, state));
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode /*mode*/, QIcon::State /*state*/) override {
        const QSize offered = nearestOffered(size);
        auto found = m_pixmaps.constFind(offered.width());
        if (found == m_pixmaps.constEnd()) {
            QPixmap rendered(offered);
            rendered.fill(Qt::transparent);
            QPainter painter(&rendered);
            m_renderer->render(&painter);
            painter.end();
            found = m_pixmaps.insert(offered.width(), rendered);
        }
        return *found;
    }

    QSize actualSize(const QSize& size, QIcon::Mode /*mode*/, QIcon::State /*state*/) override {
        return nearestOffered(size);
    }

    QList<QSize> availableSizes(QIcon::Mode /*mode*/, QIcon::State /*state*/) override {
        QList<QSize> sizes;
        for (const int side : offeredSizes)
            sizes.append(QSize(side, side));
        return sizes;
    }

    QIconEngine* clone() const override { return new ResourceIconEngine(*this); }
    QString key() const override { return QStringLiteral("pinglark-resource"); }

private:
    // The smallest offered size that covers the request, or the largest one.
    static QSize nearestOffered(const QSize& size) {
        const int wanted = qMax(size.width(), size.height());
        for (const int side : offeredSizes)
            if (side >= wanted)
                return QSize(side, side);
        return QSize(std::end(offeredSizes)[-1], std::end(offeredSizes)[-1]);
    }

    std::shared_ptr<QSvgRenderer> m_renderer;
    QHash<int, QPixmap> m_pixmaps;
};

} // namespace

QIcon imageNamed(const QString& baseName) {
    const QString path = QStringLiteral(":/images/%1.svg").arg(baseName);
    if (!QFile::exists(path))
        return {};
    auto renderer = std::make_shared<QSvgRenderer>(path);
    if (!renderer->isValid())
        return {};
    return QIcon(new ResourceIconEngine(std::move(renderer)));
}
