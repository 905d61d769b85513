#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

#include <filesystem>

// The client's artwork: SVG files in the bundle's Resources/images, and PNGs rendered from them
// at build time (tools/artwork, names in ArtworkFiles.h) for the sizes the screens ask for. A
// picture is for the finest pixel ratio among the screens, so it stays crisp on HiDPI screens:
// the PNG for the nearest ratio at or above it when there is one, else drawn from the SVG. Names
// are those the screens use ("titlebar_close", "mainwork_start@2x.png"); a name that has no file
// gives an empty picture.
class ImageLibrary
{
public:
    static void setDirectory(const std::filesystem::path &directory);

    static bool contains(const QString &name);
    // The picture at its own size (the SVG's), or at the size given.
    static QPixmap pixmap(const QString &name, QSize size = {});
    // The same for a screen of the given pixel ratio.
    static QPixmap pixmap(const QString &name, QSize size, qreal pixelRatio);
    static QIcon icon(const QString &name, QSize size = {});
};
