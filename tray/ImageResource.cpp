#include "ImageResource.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <QTemporaryDir>

#include <algorithm>
#include <memory>

namespace {

const QString resourceFolder = QStringLiteral(":/images");
const QString themeAppsFolder = QStringLiteral("hicolor/scalable/apps");

// The sizes offered: the tray may send the whole pixmap to the panel on every change, so none
// above 64 px.
constexpr int offeredSizes[] = {16, 22, 24, 32, 48, 64};

// Renders a picture the first time a size is asked for, and keeps it: start-up renders only
// what the panel shows, and a blink reuses the same pixmaps.
class ResourceIconEngine : public QIconEngine {
public:
    ResourceIconEngine(std::shared_ptr<QSvgRenderer> renderer, QString name)
        : m_renderer(std::move(renderer)), m_name(std::move(name)) {}

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
    QString iconName() override { return m_name; }

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
    QString m_name;
    QHash<int, QPixmap> m_pixmaps;
};

QString resourcePath(const QString& baseName) {
    return resourceFolder + QLatin1Char('/') + baseName + QStringLiteral(".svg");
}

QStringList resourceBaseNames() {
    QStringList names = QDir(resourceFolder).entryList({QStringLiteral("*.svg")}, QDir::Files);
    for (QString& name : names)
        name.chop(4);
    return names;
}

QString themeFile(const QString& folder, const QString& baseName) {
    return QStringLiteral("%1/%2/%3.svg").arg(folder, themeAppsFolder, imageName(baseName));
}

// The folder an installed program finds beside its own, when it holds every image.
QString installedThemeFolder() {
    const QString folder = QDir::cleanPath(QCoreApplication::applicationDirPath() +
                                           QStringLiteral("/" PINGLARK_ICON_THEME_FROM_BINARY));
    const QStringList images = resourceBaseNames();
    const bool complete =
        !images.isEmpty() && std::all_of(images.cbegin(), images.cend(), [&](const QString& image) {
            return QFileInfo::exists(themeFile(folder, image));
        });
    return complete ? folder : QString();
}

// A folder of the program's own in the runtime folder (private to the user, emptied at logout),
// removed when the program ends.
QString writtenThemeFolder() {
    QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (base.isEmpty() || !QFileInfo(base).isDir())
        base = QDir::tempPath();
    static QTemporaryDir written(base + QStringLiteral("/pinglark-XXXXXX"));
    // The folder is named "icons": older versions of KDE's panel look up names only in a folder
    // of that name.
    QString folder = written.filePath(QStringLiteral("icons"));
    bool complete = written.isValid() && QDir().mkpath(folder + QLatin1Char('/') + themeAppsFolder);
    const QStringList images = resourceBaseNames();
    for (const QString& image : images)
        complete = complete && QFile::copy(resourcePath(image), themeFile(folder, image));
    if (!complete) {
        qWarning("Status item: cannot write the tray's icons to %s", qUtf8Printable(base));
        return {};
    }
    return folder;
}

QIcon svgIcon(const QString& path, const QString& name) {
    if (!QFile::exists(path))
        return {};
    auto renderer = std::make_shared<QSvgRenderer>(path);
    if (!renderer->isValid())
        return {};
    return QIcon(new ResourceIconEngine(std::move(renderer), name));
}

} // namespace

QIcon imageNamed(const QString& baseName) {
    return svgIcon(resourcePath(baseName), imageName(baseName));
}

QIcon programIcon() {
    return svgIcon(QStringLiteral(":/pinglark.svg"), QStringLiteral("pinglark"));
}

QString imageName(const QString& baseName) {
    if (!QFile::exists(resourcePath(baseName)))
        return {};
    return QStringLiteral("pinglark-") + baseName;
}

QString iconThemePath() {
    static const QString path = [] {
        const QString installed = installedThemeFolder();
        return installed.isEmpty() ? writtenThemeFolder() : installed;
    }();
    return path;
}
