#pragma once

#include <QImage>
#include <QPainter>
#include <QSize>
#include <QString>
#include <QSvgRenderer>

#include <array>

// The pictures tools/artwork renders from the SVG artwork at build time, one PNG per size the
// client asks for and pixel ratio, beside the SVG: "titlebar_logo-104x26@1.25x.png", or
// "page_4_merge-natural@2x.png" at the SVG's own size. The "-" keeps these apart from the names
// screens ask for, such as "mainwork_start@2x.png", which mean the SVG.
namespace ArtworkFiles {

inline constexpr std::array<qreal, 5> ratios = {1.0, 1.25, 1.5, 2.0, 3.0};

// The ratio to pick for a screen: the smallest at or above the screen's, so the picture is never
// scaled up; 0 when the screen is finer than all of them.
inline qreal ratioFor(qreal screenRatio)
{
    for (const qreal ratio : ratios) {
        if (ratio >= screenRatio - 1e-6)
            return ratio;
    }
    return 0;
}

inline QString fileName(const QString &base, QSize size, qreal ratio)
{
    const QString points = size.isEmpty() ? QStringLiteral("natural")
                                          : QString::number(size.width()) + QLatin1Char('x')
                                                + QString::number(size.height());
    return base + QLatin1Char('-') + points + QLatin1Char('@') + QString::number(ratio)
           + QStringLiteral("x.png");
}

// The pixels of a picture of the given size in points, rounded as QPixmap and QImage sizes are.
inline QSize pixelSize(QSize size, qreal ratio)
{
    return size * ratio;
}

// The whole SVG drawn into the whole image, antialiased on transparency: how the build renders
// the PNGs, and how the client draws a picture it has no PNG for, so the two look the same.
inline QImage render(QSvgRenderer &renderer, QSize pixels)
{
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    return image;
}

} // namespace ArtworkFiles
