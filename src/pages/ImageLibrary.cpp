#include "ImageLibrary.h"

#include "ArtworkFiles.h"

#include "platform/Bundle.h"
#include "platform/Log.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QImageReader>
#include <QScreen>
#include <QSvgRenderer>

#include <algorithm>

namespace {

constexpr char logCategory[] = "ImageLibrary";

std::filesystem::path &configuredDirectory()
{
    static std::filesystem::path directory = Platform::Bundle::main().resourcePath() / "images";
    return directory;
}

QString inDirectory(const QString &file)
{
    return QString::fromStdString((configuredDirectory() / file.toStdString()).string());
}

// The SVG's name without a suffix: "mainwork_start@2x.png" is "mainwork_start".
QString baseOf(const QString &name)
{
    QString base = name;
    return base.remove(QLatin1String("@2x.png")).remove(QLatin1String(".png"));
}

QString fileOf(const QString &name)
{
    return inDirectory(baseOf(name) + QLatin1String(".svg"));
}

// The finest pixel ratio among the screens, so a picture is sharp wherever the window goes and no
// larger than any screen needs.
qreal screenScale()
{
    qreal scale = 1.0;
    for (const QScreen *screen : QGuiApplication::screens())
        scale = std::max(scale, screen->devicePixelRatio());
    return scale;
}

// The picture rendered at build time for the screen's ratio, or nothing when there is none or it
// is not what it should be: the SVG is the source either way.
QPixmap prerendered(const QString &name, QSize size, qreal screenRatio)
{
    const qreal ratio = ArtworkFiles::ratioFor(screenRatio);
    if (ratio == 0)
        return {};
    const QString file = inDirectory(ArtworkFiles::fileName(baseOf(name), size, ratio));
    if (!QFileInfo::exists(file))
        return {};
    QImageReader reader(file, "png");
    // Of other pixels than the size asks for, it would be drawn stretched: take it as damaged.
    if (!size.isEmpty() && reader.size() != ArtworkFiles::pixelSize(size, ratio)) {
        Platform::Log::system(Platform::LogLevel::Error,
                              logCategory,
                              "wrong size, drawing the SVG instead: " + file.toStdString());
        return {};
    }
    QImage image;
    if (!reader.read(&image)) {
        Platform::Log::system(Platform::LogLevel::Error,
                              logCategory,
                              "unreadable, drawing the SVG instead: " + file.toStdString() + ": "
                                  + reader.errorString().toStdString());
        return {};
    }
    QPixmap picture = QPixmap::fromImage(std::move(image));
    picture.setDevicePixelRatio(ratio);
    return picture;
}

} // namespace

void ImageLibrary::setDirectory(const std::filesystem::path &directory)
{
    configuredDirectory() = directory;
}

bool ImageLibrary::contains(const QString &name)
{
    return QSvgRenderer(fileOf(name)).isValid();
}

QPixmap ImageLibrary::pixmap(const QString &name, QSize size)
{
    return pixmap(name, size, screenScale());
}

QPixmap ImageLibrary::pixmap(const QString &name, QSize size, qreal pixelRatio)
{
    static QHash<QString, QPixmap> cache;
    const QString file = fileOf(name);
    const QString key = file + QLatin1Char('@') + QString::number(size.width()) + QLatin1Char('x')
                        + QString::number(size.height()) + QLatin1Char('*')
                        + QString::number(pixelRatio);
    if (const auto cached = cache.constFind(key); cached != cache.constEnd())
        return *cached;

    QPixmap picture = prerendered(name, size, pixelRatio);
    if (picture.isNull()) {
        QSvgRenderer renderer(file);
        if (!renderer.isValid()) {
            Platform::Log::system(Platform::LogLevel::Error,
                                  logCategory,
                                  "no artwork for " + name.toStdString());
            return {};
        }
        if (size.isEmpty())
            size = renderer.defaultSize();
        picture = QPixmap::fromImage(
            ArtworkFiles::render(renderer, ArtworkFiles::pixelSize(size, pixelRatio)));
        picture.setDevicePixelRatio(pixelRatio);
    }
    cache.insert(key, picture);
    return picture;
}

QIcon ImageLibrary::icon(const QString &name, QSize size)
{
    return QIcon(pixmap(name, size));
}
