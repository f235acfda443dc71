// The response plot rendered without any window, for the headless command:
// the same drawing as the window, onto an image of a chosen pixel size.
#pragma once

#include "common/Result.h"
#include "display/models/DrawingSurface.h"
#include "display/models/PictureCaptions.h"
#include "display/models/ResponsePlot.h"
#include "engine/TraceStore.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <functional>
#include <string>
#include <string_view>

class QPainter;

namespace audimera {

class ResponseImage {
public:
    // The window's first inner size, in pixels.
    static constexpr int DefaultWidth = 792;
    static constexpr int DefaultHeight = 211;
    // A light grey like the usual desktop window background.
    static constexpr RgbColor DefaultBackground = rgbColor(240, 240, 240);

    // Draws store onto a widthPx x heightPx image (96-dpi pixels: the
    // surface is widthPx * 15 twips wide, so labels are 7 pixels to a cell).
    // A size that is not positive gives a null image. scale: device pixels
    // per pixel, as the window on a screen of that density draws it (lines
    // stay one device pixel wide, labels grow with the picture); the image
    // is scale times as wide and high. captions: an optional legend and
    // axis titles around a smaller plot (none: the plot alone, as ever).
    static QImage render(const TraceStore& store, const ResponseSettings& settings, int widthPx,
                         int heightPx, RgbColor background = DefaultBackground, double scale = 1,
                         const PictureCaptions& captions = {});

    // render() then a PNG written by CurveFile's save rules (a read-only
    // file refused, a failed write leaves an existing file untouched).
    // The error (kind File) reads "Error saving file '<path>' : <reason>".
    static Status writePng(const std::string& path, const TraceStore& store,
                                const ResponseSettings& settings, int widthPx, int heightPx,
                                RgbColor background = DefaultBackground, double scale = 1,
                                const PictureCaptions& captions = {});

    // Writes an image as PNG as above.
    static Status savePng(const QImage& image, const std::string& path);

    // An image's PNG bytes; the failure (kind File) says why it cannot be
    // encoded ("invalid image size" for a null image).
    static Result<std::string> pngBytes(const QImage& image);

    // The same drawing as an SVG document of widthPx x heightPx: the lines
    // the image is made of, one device pixel wide, at their exact (not
    // pixel-rounded) places, on the background; captions as render() draws
    // them, as SVG text. Empty for a size render() refuses.
    static QByteArray svg(const TraceStore& store, const ResponseSettings& settings, int widthPx,
                          int heightPx, RgbColor background = DefaultBackground,
                          const PictureCaptions& captions = {});

    // Into bytes: an SVG document of widthPx x heightPx filled with
    // background, then painted by paint in pixels; titled when title is not
    // empty. False when the painter could not finish it.
    static bool paintSvg(QByteArray& bytes, int widthPx, int heightPx, RgbColor background, const QString& title,
                         const std::function<void(QPainter&)>& paint);

    // svg() written as writePng() writes.
    static Status writeSvg(const std::string& path, const TraceStore& store,
                                const ResponseSettings& settings, int widthPx, int heightPx,
                                RgbColor background = DefaultBackground,
                                const PictureCaptions& captions = {});

    // A picture of widthPx x heightPx logical pixels (scale device pixels to
    // one) holding plot, an image drawn for captions.plotArea(), with the
    // captions around it. plot itself when there are none.
    static QImage withCaptions(const QImage& plot, const PictureCaptions& captions, int widthPx,
                               int heightPx, RgbColor background, double scale);

    // Parses "WxH" (positive integers, at most 16384 each). False otherwise.
    static bool parseSize(std::string_view text, int* widthPx, int* heightPx);
};

} // namespace audimera
