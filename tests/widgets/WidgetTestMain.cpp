// Widget tests run headless on Qt's offscreen platform, with the bundle's own artwork.

#include "pages/ImageLibrary.h"

#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ImageLibrary::setDirectory(std::filesystem::path(ORVANE_BUNDLE_DIR)
                               / "Contents/Resources/images");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
