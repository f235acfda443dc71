// The response plot rendered without any window, for the headless command:
// the same drawing as the window, onto an image of a chosen pixel size.
#pragma once

#include "display/models/DrawingSurface.h"
#include "display/models/ResponsePlot.h"
#include "display/models/TraceStore.h"

#include <QImage>

#include <string>
#include <string_view>

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
    // A size that is not positive gives a null image.
    static QImage render(const TraceStore& store, const ResponseSettings& settings, int widthPx,
                         int heightPx, RgbColor background = DefaultBackground);

    // render() then a PNG written through a temporary file and a rename, so
    // a failed write leaves an existing file untouched. Returns "" or an
    // error text "Error saving file '<path>' : <reason>".
    static std::string writePng(const std::string& path, const TraceStore& store,
                                const ResponseSettings& settings, int widthPx, int heightPx,
                                RgbColor background = DefaultBackground);

    // Writes an image as PNG as above.
    static std::string savePng(const QImage& image, const std::string& path);

    // Parses "WxH" (positive integers, at most 16384 each). False otherwise.
    static bool parseSize(std::string_view text, int* widthPx, int* heightPx);
};

} // namespace audimera
