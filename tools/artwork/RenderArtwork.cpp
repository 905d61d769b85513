// Renders one SVG of the artwork to PNG at the given sizes, at every pixel ratio the client looks
// for, so the client need not draw SVG at start-up. Run by the build (tools/artwork/CMakeLists.txt):
//   orvane-render-artwork <ratios> <svg> <output-directory> <size>...
// <ratios> is the build's list ("1,1.25,1.5,2,3"), checked against the client's; a size is
// "<width>x<height>" in points or "natural" for the SVG's own size.

#include "pages/ArtworkFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QSaveFile>

#include <cstdio>

namespace {

int fail(const QString &message)
{
    std::fprintf(stderr, "orvane-render-artwork: %s\n", qPrintable(message));
    return 1;
}

bool sameRatios(const QString &list)
{
    const QStringList given = list.split(QLatin1Char(','));
    if (given.size() != qsizetype(ArtworkFiles::ratios.size()))
        return false;
    for (qsizetype i = 0; i < given.size(); ++i) {
        bool ok = false;
        if (given[i].toDouble(&ok) != ArtworkFiles::ratios[size_t(i)] || !ok)
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    // Text in the artwork needs the font database, which needs a platform; a build has no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() < 5)
        return fail(QStringLiteral("usage: orvane-render-artwork <ratios> <svg> <output-directory> "
                                   "<size>..."));
    if (!sameRatios(arguments[1]))
        return fail(
            QStringLiteral("the build's ratios %1 are not those of src/pages/ArtworkFiles.h")
                .arg(arguments[1]));

    const QString svg = arguments[2];
    QSvgRenderer renderer(svg);
    if (!renderer.isValid())
        return fail(QStringLiteral("%1 is not a valid SVG").arg(svg));
    const QDir output(arguments[3]);
    if (!output.mkpath(QStringLiteral(".")))
        return fail(QStringLiteral("cannot create %1").arg(output.path()));
    const QString base = QFileInfo(svg).completeBaseName();

    static const QRegularExpression sizePattern(QStringLiteral("^([1-9][0-9]*)x([1-9][0-9]*)$"));
    for (const QString &sizeText : arguments.mid(4)) {
        QSize size;
        if (sizeText != QLatin1String("natural")) {
            const QRegularExpressionMatch match = sizePattern.match(sizeText);
            if (!match.hasMatch())
                return fail(QStringLiteral("%1 is not a size").arg(sizeText));
            size = QSize(match.captured(1).toInt(), match.captured(2).toInt());
        }
        for (const qreal ratio : ArtworkFiles::ratios) {
            const QImage image = ArtworkFiles::render(
                renderer,
                ArtworkFiles::pixelSize(size.isEmpty() ? renderer.defaultSize() : size, ratio));

            // Written whole or not at all, so an interrupted build leaves no half picture.
            QSaveFile file(output.filePath(ArtworkFiles::fileName(base, size, ratio)));
            if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.commit())
                return fail(QStringLiteral("cannot write %1").arg(file.fileName()));
        }
    }
    return 0;
}
