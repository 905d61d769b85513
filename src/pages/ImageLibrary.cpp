#include "ImageLibrary.h"

#include "platform/Bundle.h"
#include "platform/Log.h"

#include <QHash>
#include <QPainter>
#include <QSvgRenderer>

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

} // namespace

void ImageLibrary::setDirectory(const std::filesystem::path &directory)
{
    configuredDirectory() = directory;
}

std::filesystem::path ImageLibrary::directory()
{
    return configuredDirectory();
}

bool ImageLibrary::contains(const QString &name)
{
    return QSvgRenderer(fileOf(name)).isValid();
}

QPixmap ImageLibrary::pixmap(const QString &name, QSize size)
{
    static QHash<QString, QPixmap> cache;
    const QString file = fileOf(name);
    const QString key = file + QLatin1Char('@') + QString::number(size.width()) + QLatin1Char('x')
                        + QString::number(size.height());
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
    constexpr qreal scale = 2.0;
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
