// Draws the frequency response plot of a TraceStore onto a DrawingSurface:
// a logarithmic frequency axis from 7.5 Hz to 22049 Hz, a level axis S dB
// high centred on 0 dB (or on the settings' dbCentre), the grid with
// stroke-font labels thinned to what fits, the red zero line
// and the traces in their colours, optionally smoothed by a B-spline at
// drawing time. Widget-free: the window and the headless PNG writer share it.
// UI thread only.
#pragma once

#include "engine/PlotSettings.h"
#include "display/models/DrawingSurface.h"
#include "engine/PlotSettings.h"
#include "engine/TraceStore.h"

#include <QRectF>

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace audimera {

// What the main window's lists choose for a redraw: the document's.
using ResponseSettings = PlotSettings;

class ResponsePlot {
public:
    // Room for the largest smoothed trace (7 * 22050 points) with margin.
    static constexpr int SplineCapacity = 441001;

    // Surface units of the response plot: twips, 15 to a 96-dpi pixel.
    static constexpr double TwipsPerPixel = 15.0;

    // The items of ComboDBRange and ComboSmooth: their texts and item data.
    static constexpr const auto& DBRangeItems = PlotSettings::DBRangeItems;
    static constexpr const auto& SmoothItems = PlotSettings::SmoothItems;

    // S for a ComboDBRange index (0 -> 12 ... 3 -> 96); 0 for no valid index.
    static int dbSpanForIndex(int comboIndex);
    // Smooth for a ComboSmooth index (0 -> 1 ... 3 -> 4); 1 for no valid index.
    static int smoothForIndex(int comboIndex);
    // Settings from the two list indices (also the headless command's
    // --smooth level, which is the ComboSmooth index).
    static ResponseSettings settingsForIndices(int dbRangeIndex, int smoothIndex);
    // The ComboDBRange index for a "+/- N dB" range (6, 12, 24, 48); -1 otherwise.
    static int dbRangeIndexForPlusMinus(int plusMinusDb);

    // The B-spline routine's signature (that of Audidsp's GetBSpline).
    using SplineFunction = void (*)(int32_t res, const double* xIn, const double* yIn, int32_t nIn,
                                    double* xOut, double* yOut, int32_t* outCount, int32_t order);

    // Allocates the spline buffers once. spline: the routine that smooths
    // traces; null means Audidsp's GetBSpline, bound on first use (tests
    // pass a stand-in).
    explicit ResponsePlot(SplineFunction spline = nullptr);

    // Clears Picture1 and draws grid, labels and every trace of store.
    // Sets the surface's user scale; its outer size (in twips) and
    // background are the caller's. A dbSpan that is not positive leaves the
    // surface cleared.
    void TraceResponse(DrawingSurface& Picture1, const TraceStore& store,
                       const ResponseSettings& settings);

    // Points of the last smoothed curve drawn (SplineCount), 0 when the last
    // trace drawn was not smoothed. For tests.
    int32_t splineCount() const { return m_splineCount; }

    // Plot geometry: the stored x of the left and right edges.
    static double leftX();  // X0 = 100 * Log10(7.5)
    static double rightX(); // X1 = 100 * Log10(22049)

private:
    void drawTrace(DrawingSurface& picture, const double* x, const double* y, int n, int smooth,
                   double x0, double c100, RgbColor color);

    SplineFunction m_spline;
    std::vector<double> m_splineX;
    std::vector<double> m_splineY;
    int32_t m_splineCount = 0;
    std::vector<QRectF> m_labelBoxes; // the label placer's, kept between redraws
};

} // namespace audimera
