// The live analyser's plot, drawn on a DrawingSurface in the look of the
// response plot (its logarithmic frequency axis, 7.5 Hz to 22049 Hz, grid
// colours and stroke-font labels), so a window paints it and a test reads
// its pixels:
//
// - bands (SpectrumFrame::bands not empty): a bar per band from its lower
//   to its upper edge, filled from its level down to the frequency labels'
//   row (paler where the band is narrower than the transform resolves, so
//   a tone in it reads low), a pixel
//   apart where the bars are wide enough; peak hold as a short red mark
//   across each band;
// - the transform's line: one polyline through the bins (the first bin
//   above 0 Hz on), peak hold as a red polyline;
// - the frozen reference, bands or line, as a grey outline: over bars,
//   under a line;
// - the level axis: `top` dB at the top edge, `span` dB down to the bottom,
//   a yellow line every span / 12 dB, labelled where they fit, thinned as
//   the other plots are (the stroke font has no unit: the window says it).
//
// Levels are drawn as the frames hold them (dBFS, or dB SPL when the run
// was calibrated); the frozen reference's plus referenceOffsetDb, so one
// frozen before a calibration changed lies where it would lie now.
//
// The surface is in twips (LogSweepPlots::UnitsPerPixel to a pixel); each
// draw sets its user scale: x as the response plot's frequency axis, y in
// hundredths of a dB from the top. Allocates only the label boxes it is
// given. UI thread only (or any single thread).
#pragma once

#include "display/models/DrawingSurface.h"
#include "engine/RgbColor.h"
#include "signal/SpectrumAnalyser.h"

#include <QRectF>

#include <cstddef>
#include <optional>
#include <vector>

namespace audimera {

namespace AnalyserPlot {

constexpr RgbColor BarColor = rgbColor(0, 0, 200);
// A band narrower than the transform resolves (SpectrumFrame::resolved).
constexpr RgbColor UnresolvedBarColor = rgbColor(150, 150, 230);
constexpr RgbColor LineColor = rgbColor(0, 0, 0);
constexpr RgbColor PeakColor = rgbColor(255, 0, 0);
constexpr RgbColor ReferenceColor = rgbColor(128, 128, 128);

struct View {
    const SpectrumFrame* frame = nullptr;     // what is shown now; null or empty: the axes only
    const SpectrumFrame* reference = nullptr; // the frozen copy; null: none
    bool peakHold = false;                    // draw frame->peakDb
    double referenceOffsetDb = 0;             // added to the reference's levels
    double top = 0;                           // dB at the top edge
    double span = 120;                        // dB from the top to the bottom edge, > 0
    // Where the placed labels' boxes are kept between draws (none allocated
    // once it holds enough).
    std::vector<QRectF>* labelBoxes = nullptr;
};

void draw(DrawingSurface& surface, const View& view);

// For the read-out under the mouse, at user coordinates of a drawn surface:
// the frequency in Hz at x, the level in dB at y (view's top and span).
double frequencyAt(double userX);
double levelAt(const View& view, double userY);

// The index of what frame shows at hz: the band whose edges hold it, or the
// bin nearest it; none outside the bands or the bins.
std::optional<std::size_t> indexAt(const SpectrumFrame& frame, double hz);

} // namespace AnalyserPlot

} // namespace audimera
