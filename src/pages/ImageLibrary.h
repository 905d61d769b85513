#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

#include <filesystem>

// The client's artwork: SVG files in the bundle's Resources/images, drawn at the finest pixel
// ratio among the screens so they stay crisp on HiDPI screens. Names are those the screens use ("titlebar_close",
// "mainwork_start@2x.png"); a name that has no file gives an empty picture.
class ImageLibrary
{
public:
    static void setDirectory(const std::filesystem::path &directory);

    static bool contains(const QString &name);
    // The picture at its own size (the SVG's), or at the size given.
    static QPixmap pixmap(const QString &name, QSize size = {});
    static QIcon icon(const QString &name, QSize size = {});
};
