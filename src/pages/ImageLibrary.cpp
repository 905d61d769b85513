#include "ImageLibrary.h"

#include "platform/Bundle.h"
#include "platform/Log.h"

#include <QGuiApplication>
#include <QHash>
#include <QPainter>
#include <QScreen>
#include <QSvgRenderer>

#include <algorithm>

namespace {

std::filesystem::path &configuredDirectory()
{
    static std::filesystem::path directory = Platform::Bundle::main().resourcePath() / "images";
    return directory;
}

QString fileOf(const QString &name)
{
    QString base = name;
    base.remove(QLatin1String("@2x.png")).remove(QLatin1String(".png"));
    return QString::fromStdString((configuredDirectory() / (base.toStdString() + ".svg")).string());
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
    static QHash<QString, QPixmap> cache;
    const QString file = fileOf(name);
    const qreal scale = screenScale();
    const QString key = file + QLatin1Char('@') + QString::number(size.width()) + QLatin1Char('x')
                        + QString::number(size.height()) + QLatin1Char('*')
                        + QString::number(scale);
    if (const auto cached = cache.constFind(key); cached != cache.constEnd())
        return *cached;

    QSvgRenderer renderer(file);
    if (!renderer.isValid()) {
        Platform::Log::system(Platform::LogLevel::Error,
                              "ImageLibrary",
                              "no artwork for " + name.toStdString());
        return {};
    }
    if (size.isEmpty())
        size = renderer.defaultSize();
    QPixmap picture(size * scale);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();
    picture.setDevicePixelRatio(scale);
    cache.insert(key, picture);
    return picture;
}

QIcon ImageLibrary::icon(const QString &name, QSize size)
{
    return QIcon(pixmap(name, size));
}
