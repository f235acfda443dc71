// What a saved picture may carry besides the plot: a legend (names in
// their colours) and axis titles. Without any, a picture is the plot alone,
// exactly as the window shows it; with them, the plot is drawn a little
// smaller inside the same picture size, the titles outside it and the
// legend in a framed box over its top-right corner.
//
// Titles and names use a system font (they are free text, which the plots'
// stroke font cannot write), so painting them needs a QGuiApplication.
// Sizes are in logical pixels. UI thread only (or any single thread).
#pragma once

#include "engine/RgbColor.h"
#include "engine/PlotSettings.h"
#include "engine/TraceStore.h"

#include <QRect>

#include <string>
#include <vector>

class QPainter;

namespace audimera {

struct PictureCaptions {
    struct Entry {
        std::string name;
        RgbColor color = 0;
    };
    std::vector<Entry> legend;
    std::string xTitle;  // under the plot
    std::string yTitle;  // along the left edge, read upwards
    std::string y2Title; // along the right edge (a secondary axis)

    bool empty() const { return legend.empty() && xTitle.empty() && yTitle.empty() && y2Title.empty(); }

    // The response plot's: one entry per trace of store in its colour,
    // named names[t] ("Trace N" where a name is missing or empty), and its
    // two axis titles.
    // plot: leaves out the traces it hides.
    static PictureCaptions forResponse(const TraceStore& store, const std::vector<std::string>& names,
                                       const PlotSettings* plot = nullptr);

    // Where the plot goes in a widthPx x heightPx picture: all of it
    // without captions, else inside the titles' bands.
    QRect plotArea(int widthPx, int heightPx) const;

    // Paints the titles around plotArea() and the legend over its corner.
    void paint(QPainter& painter, int widthPx, int heightPx, RgbColor background) const;

    // Makes text paintable in a program that has no QGuiApplication (the
    // headless command): starts one, once, on the offscreen platform, so
    // no display is needed. Does nothing where one exists.
    static void prepareFonts();
};

} // namespace audimera
