// Pictures rendered at build time, and the SVG they fall back on.

#include "pages/ImageLibrary.h"
#include "pages/ArtworkFiles.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>

namespace {

constexpr QRgb svgBlue = 0xff0000ff;
constexpr QRgb pngGreen = 0xff00ff00;

class ImageLibraryTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_directory.isValid());
        // A 10 x 8 point SVG, all blue.
        QFile svg(m_directory.filePath(QStringLiteral("probe.svg")));
        ASSERT_TRUE(svg.open(QIODevice::WriteOnly));
        svg.write(R"(<svg xmlns="http://www.w3.org/2000/svg" width="10" height="8" )"
                  R"(viewBox="0 0 10 8"><rect width="10" height="8" fill="#0000ff"/></svg>)");
        svg.close();
        ImageLibrary::setDirectory(m_directory.path().toStdString());
    }

    void TearDown() override
    {
        ImageLibrary::setDirectory(std::filesystem::path(ORVANE_BUNDLE_DIR)
                                   / "Contents/Resources/images");
    }

    // A green picture of the given pixels, where the build would put it.
    void writePng(const QString &name, QSize pixels)
    {
        QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
        image.fill(QColor::fromRgba(pngGreen));
        ASSERT_TRUE(image.save(m_directory.filePath(name), "PNG"));
    }

    static QRgb middle(const QPixmap &picture)
    {
        const QImage image = picture.toImage();
        return image.pixel(image.width() / 2, image.height() / 2);
    }

    QTemporaryDir m_directory;
};

} // namespace

TEST(ArtworkFiles, PicksTheNearestRatioAtOrAboveTheScreens)
{
    EXPECT_EQ(ArtworkFiles::ratioFor(1.0), 1.0);
    EXPECT_EQ(ArtworkFiles::ratioFor(1.1), 1.25);
    EXPECT_EQ(ArtworkFiles::ratioFor(1.25), 1.25);
    EXPECT_EQ(ArtworkFiles::ratioFor(1.75), 2.0);
    EXPECT_EQ(ArtworkFiles::ratioFor(2.5), 3.0);
    EXPECT_EQ(ArtworkFiles::ratioFor(3.5), 0.0);
    EXPECT_EQ(ArtworkFiles::fileName(QStringLiteral("a_b"), QSize(104, 26), 1.25),
              QStringLiteral("a_b-104x26@1.25x.png"));
    EXPECT_EQ(ArtworkFiles::fileName(QStringLiteral("a_b"), QSize(), 2),
              QStringLiteral("a_b-natural@2x.png"));
}

TEST_F(ImageLibraryTest, LoadsThePngForTheScreensRatioAndFallsBackOnTheSvg)
{
    writePng(QStringLiteral("probe-10x8@1.25x.png"), QSize(13, 10)); // 12.5 rounds up
    writePng(QStringLiteral("probe-natural@3x.png"), QSize(30, 24));
    writePng(QStringLiteral("probe-10x8@1x.png"), QSize(11, 8)); // not the size it says
    QFile garbage(m_directory.filePath(QStringLiteral("probe-10x8@1.5x.png")));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write("not a picture");
    garbage.close();

    // A 1.1 screen gets the 1.25 picture, under the name screens use for the SVG too.
    const QPixmap scaled = ImageLibrary::pixmap(QStringLiteral("probe@2x.png"), {10, 8}, 1.1);
    EXPECT_EQ(middle(scaled), pngGreen);
    EXPECT_EQ(scaled.size(), QSize(13, 10));
    EXPECT_EQ(scaled.devicePixelRatio(), 1.25);
    const QPixmap natural = ImageLibrary::pixmap(QStringLiteral("probe"), {}, 2.5);
    EXPECT_EQ(middle(natural), pngGreen);
    EXPECT_EQ(natural.deviceIndependentSize(), QSizeF(10, 8));

    // No picture for 2x, a wrong-sized one, an unreadable one, a screen finer than all ratios:
    // the SVG, at the screen's own ratio.
    for (const qreal ratio : {2.0, 1.0, 1.5, 4.0}) {
        const QPixmap drawn = ImageLibrary::pixmap(QStringLiteral("probe"), {10, 8}, ratio);
        EXPECT_EQ(middle(drawn), svgBlue) << ratio;
        EXPECT_EQ(drawn.size(), QSize(10, 8) * ratio) << ratio;
        EXPECT_EQ(drawn.devicePixelRatio(), ratio) << ratio;
    }
    EXPECT_TRUE(ImageLibrary::contains(QStringLiteral("probe")));
    EXPECT_FALSE(ImageLibrary::contains(QStringLiteral("absent")));
    EXPECT_TRUE(ImageLibrary::pixmap(QStringLiteral("absent"), {10, 8}, 1.0).isNull());
}

TEST(ImageLibrary, TheBuildRendersWhereTheClientLooks)
{
    // Named as the client names them, at the pixels it checks, for every ratio.
    const std::filesystem::path images = std::filesystem::path(ORVANE_BUNDLE_DIR)
                                         / "Contents/Resources/images";
    for (const qreal ratio : ArtworkFiles::ratios) {
        const QString file = QString::fromStdString(
            (images
             / ArtworkFiles::fileName(QStringLiteral("titlebar_logo"), QSize(104, 26), ratio)
                   .toStdString())
                .string());
        EXPECT_EQ(QImageReader(file).size(), ArtworkFiles::pixelSize(QSize(104, 26), ratio))
            << file.toStdString();
    }
}
