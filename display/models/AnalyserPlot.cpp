#include "display/models/AnalyserPlot.h"

#include "display/models/LogSweepPlots.h"
#include "display/models/PlotAxes.h"

#include <algorithm>
#include <cmath>

namespace audimera {

namespace AnalyserPlot {

namespace {

using namespace PlotAxes;
using namespace PlotPalette;
constexpr int LevelLines = 12;

// y of a level in dB, kept a little outside the surface at either edge so
// that a level far off (or -400, "nothing yet") draws along the edge.
float levelY(const View& view, const DrawingSurface& s, double db)
{
    const double y = (view.top - db) * 100;
    if (!std::isfinite(y))
        return y > 0 || std::isnan(y) ? s.ScaleHeight() + 1 : -1.0F;
    return static_cast<float>(std::clamp(y, -1.0, static_cast<double>(s.ScaleHeight()) + 1));
}

// The bars of a band frame; each bar's top from levels.
void drawBars(DrawingSurface& s, const View& view, const SpectrumFrame& frame)
{
    const double pixelX = s.ScaleWidth() / std::max(1, s.pixelWidth()); // user units per device pixel
    // Down to the frequency labels' row, which stays clear.
    const float base = labelRow(s);
    std::vector<QPointF> top(2);
    for (std::size_t i = 0; i < frame.bands.size() && i < frame.levelsDb.size(); ++i) {
        double x0 = frequencyX(frame.bands[i].lowerHz), x1 = frequencyX(frame.bands[i].upperHz);
        // A pixel between bars wide enough to show it.
        if (x1 - x0 >= 4 * pixelX)
            x1 -= pixelX;
        const float y = std::min(levelY(view, s, frame.levelsDb[i]), base);
        top[0] = QPointF(x0, y);
        top[1] = QPointF(x1, y);
        const bool resolved = i >= frame.resolved.size() || frame.resolved[i];
        s.fillUnder(top, base, resolved ? BarColor : UnresolvedBarColor);
    }
}

// A mark across each band at levels[i] (peak hold, the frozen reference's
// outline when joined).
void drawBandMarks(DrawingSurface& s, const View& view, const SpectrumFrame& frame, const std::vector<double>& levels,
                   RgbColor color, bool joined, double offset = 0)
{
    for (std::size_t i = 0; i < frame.bands.size() && i < levels.size(); ++i) {
        const float x0 = frequencyX(frame.bands[i].lowerHz), x1 = frequencyX(frame.bands[i].upperHz);
        const float y = levelY(view, s, levels[i] + offset);
        if (joined && i > 0)
            s.lineTo(x0, y, color);
        else
            s.moveTo(x0, y);
        s.lineTo(x1, y, color);
    }
}

// The transform's line through levels (one per bin of frame). Where many
// lines share a device pixel column (most of them, above a few hundred Hz)
// the column gets one vertical run from its first level through its lowest
// and highest to its last, which is what the polyline would colour there,
// at a fraction of the cost.
void drawLine(DrawingSurface& s, const View& view, const SpectrumFrame& frame, const std::vector<double>& levels,
              RgbColor color, double offset = 0)
{
    const std::size_t n = std::min(frame.frequencies.size(), levels.size());
    std::size_t i = 0;
    while (i < n && !(frame.frequencies[i] > 0))
        ++i;
    if (i >= n)
        return;
    const double pixelX = s.ScaleWidth() / std::max(1, s.pixelWidth()); // user units per device pixel
    const LogAxis axis;
    bool first = true;
    while (i < n) {
        const float x = axis.x(frame.frequencies[i]);
        const float y = levelY(view, s, levels[i] + offset);
        if (first)
            s.moveTo(x, y);
        else
            s.lineTo(x, y, color);
        first = false;
        // The lines up to the next device pixel column.
        const double columnEnd = axis.frequencyAt((std::floor(x / pixelX) + 1) * pixelX);
        float low = y, high = y, last = y;
        std::size_t j = i + 1;
        for (; j < n && frame.frequencies[j] < columnEnd; ++j) {
            last = levelY(view, s, levels[j] + offset);
            low = std::min(low, last);
            high = std::max(high, last);
        }
        if (j > i + 1) {
            s.lineTo(x, low, color);
            s.lineTo(x, high, color);
            s.lineTo(x, last, color);
        }
        i = j;
    }
}

// The frozen reference's outline.
void drawReference(DrawingSurface& s, const View& view, const SpectrumFrame& frame)
{
    if (frame.bands.empty())
        drawLine(s, view, frame, frame.levelsDb, ReferenceColor, view.referenceOffsetDb);
    else
        drawBandMarks(s, view, frame, frame.levelsDb, ReferenceColor, true, view.referenceOffsetDb);
}

} // namespace

void draw(DrawingSurface& s, const View& view)
{
    const double span = view.span > 0 ? view.span : 120;
    s.setScaleWidth(static_cast<float>(ResponsePlot::rightX() - ResponsePlot::leftX()));
    s.setScaleHeight(static_cast<float>(100 * span));
    s.clear();
    const float x10 = frequencyX(10);
    const double step = span / LevelLines;
    for (int i = 0; i <= LevelLines; ++i)
        s.line(x10, static_cast<float>(i * step * 100), s.ScaleWidth(), static_cast<float>(i * step * 100), Yellow);
    std::vector<QRectF> ownBoxes;
    LabelPlacer labels(s, LogSweepPlots::UnitsPerPixel, view.labelBoxes ? *view.labelBoxes : ownBoxes);
    frequencyGrid(s, labels);

    // The reference under a line, over bars (which would hide it).
    const SpectrumFrame* frame = view.frame && !view.frame->levelsDb.empty() ? view.frame : nullptr;
    const SpectrumFrame* reference =
        view.reference && !view.reference->levelsDb.empty() ? view.reference : nullptr;
    const bool bars = frame && !frame->bands.empty();
    if (reference && !bars)
        drawReference(s, view, *reference);
    if (frame) {
        if (bars)
            drawBars(s, view, *frame);
        else
            drawLine(s, view, *frame, frame->levelsDb, LineColor);
    }
    if (reference && bars)
        drawReference(s, view, *reference);
    if (frame && view.peakHold) {
        if (frame->bands.empty())
            drawLine(s, view, *frame, frame->peakDb, PeakColor);
        else
            drawBandMarks(s, view, *frame, frame->peakDb, PeakColor, false);
    }

    // Level labels on the left, none at the edges, every line where they
    // fit, else every 2nd or 4th.
    const int every = labels.rowStride(step * 100);
    std::vector<std::string> texts;
    for (int i = every; i < LevelLines; i += every)
        texts.push_back(number(std::round((view.top - i * step) * 10) / 10));
    const double leftX = labels.leftColumn(
        static_cast<int>(texts.size()), [&](int k) { return texts[static_cast<std::size_t>(k)]; },
        static_cast<float>(150 * twipX(s)));
    for (int i = every, k = 0; i < LevelLines; i += every, ++k)
        labelAbove(labels, s, texts[static_cast<std::size_t>(k)], leftX, i * step * 100, Black);
}

double frequencyAt(double userX)
{
    return LogAxis{}.frequencyAt(userX);
}

double levelAt(const View& view, double userY)
{
    return view.top - userY / 100;
}

std::optional<std::size_t> indexAt(const SpectrumFrame& frame, double hz)
{
    if (!(hz > 0))
        return std::nullopt;
    if (!frame.bands.empty()) {
        for (std::size_t i = 0; i < frame.bands.size(); ++i)
            if (hz >= frame.bands[i].lowerHz && hz < frame.bands[i].upperHz)
                return i;
        return std::nullopt;
    }
    if (frame.frequencies.empty() || !(frame.binHz > 0))
        return std::nullopt;
    const double k = std::round((hz - frame.frequencies.front()) / frame.binHz);
    if (k < 0 || k >= static_cast<double>(frame.frequencies.size()))
        return std::nullopt;
    return static_cast<std::size_t>(k);
}

} // namespace AnalyserPlot

} // namespace audimera
