#include "display/models/ResponsePlot.h"

#include "common/AudioFormat.h"
#include "dsp/DspLibrary.h"
#include "display/models/Drawing.h"
#include "display/models/LabelPlacer.h"
#include "display/models/PlotPalette.h"
#include "common/Rounding.h"

#include <algorithm>
#include <iterator>
#include <utility>
#include <string>

namespace audimera {

namespace {

using namespace PlotPalette;

// Labels are 15 twips to the font unit: one pixel at 96 dpi.
constexpr double kLabelSize = 15;

// Frequencies whose grid line stops above the label row to make room for a label.
bool isLabelled(int f)
{
    switch (f) {
    case 10: case 20: case 50: case 100: case 200: case 500:
    case 1000: case 2000: case 5000: case 10000: case 20000:
        return true;
    default:
        return false;
    }
}

std::string frequencyLabel(int f)
{
    return f < 1000 ? std::to_string(f) : std::to_string(f / 1000) + "k";
}

// Which labels go first when the row is thinned: 0 the decades, 1 the 2s,
// 2 the 5s.
int frequencyRank(int f)
{
    while (f >= 10)
        f /= 10;
    return f == 1 ? 0 : f == 2 ? 1 : 2;
}

// The most ranks whose labels leave room between neighbours on the row.
template <typename XOf>
int labelRank(const LabelPlacer& labels, XOf xOf, float row)
{
    constexpr int labelled[] = {10, 20, 50, 100, 200, 500, 1000, 2000, 5000, 10000, 20000};
    for (int rank = 2; rank > 0; --rank) {
        int chosen[std::size(labelled)];
        int count = 0;
        for (const int f : labelled)
            if (frequencyRank(f) <= rank)
                chosen[count++] = f;
        const auto labelAt = [&](int i) { return std::pair{frequencyLabel(chosen[i]), xOf(chosen[i])}; };
        if (labels.rowFits(count, labelAt, row))
            return rank;
    }
    return 0;
}

} // namespace

int ResponsePlot::dbSpanForIndex(int comboIndex)
{
    if (comboIndex < 0 || comboIndex >= static_cast<int>(DBRangeItems.size()))
        return 0;
    return DBRangeItems[comboIndex].data;
}

int ResponsePlot::smoothForIndex(int comboIndex)
{
    if (comboIndex < 0 || comboIndex >= static_cast<int>(SmoothItems.size()))
        return 1;
    return SmoothItems[comboIndex].data;
}

ResponseSettings ResponsePlot::settingsForIndices(int dbRangeIndex, int smoothIndex)
{
    return {dbSpanForIndex(dbRangeIndex), smoothForIndex(smoothIndex)};
}

int ResponsePlot::dbRangeIndexForPlusMinus(int plusMinusDb)
{
    for (size_t i = 0; i < DBRangeItems.size(); ++i) {
        if (DBRangeItems[i].data == 2 * plusMinusDb)
            return static_cast<int>(i);
    }
    return -1;
}

double ResponsePlot::leftX()
{
    return 100 * Log10(7.5);
}

double ResponsePlot::rightX()
{
    return 100 * Log10(audimera::SampleRate / 2 - 1);
}

ResponsePlot::ResponsePlot(SplineFunction spline)
    : m_spline(spline ? spline : &Audidsp::GetBSpline), m_splineX(SplineCapacity),
      m_splineY(SplineCapacity)
{
    m_labelBoxes.reserve(64);
}

void ResponsePlot::TraceResponse(DrawingSurface& Picture1, const TraceStore& store,
                                 const ResponseSettings& settings)
{
    const int S = settings.dbSpan;
    m_splineCount = 0;
    if (S <= 0) {
        Picture1.clear();
        return;
    }
    const double C = S / 2.0;
    const double X0 = leftX();
    const double X1 = rightX();
    const double x10 = 100 * Log10(10) - X0; // the grid starts at 10 Hz

    Picture1.setScaleWidth(static_cast<float>(X1 - X0));
    Picture1.setScaleHeight(static_cast<float>(S * 100));
    Picture1.clear();

    // Level grid, top and bottom edges included.
    for (int i = 0; i <= S; i += 3)
        Picture1.line(static_cast<float>(x10), static_cast<float>(100 * i),
                      static_cast<float>(X1 - X0), static_cast<float>(100 * i), Yellow);

    // Label row, 150 twips above the bottom edge.
    const double Ly = audimera::nearest(Picture1.ScaleHeight()
                                        - 150.0 * Picture1.ScaleHeight() / Picture1.Height());

    // Frequency grid in decades: 10-90, 100-900, 1000-9000, 10000-20000.
    // Labels at 1, 2 and 5 of each decade, thinned to the decades (then
    // also the 2s) when they would run together; a line whose label is
    // left out runs to the bottom.
    LabelPlacer labels(Picture1, kLabelSize, m_labelBoxes);
    struct Run {
        int first, last;
    };
    constexpr Run runs[] = {{10, 90}, {100, 900}, {1000, 9000}, {10000, 20000}};
    const auto frequencyX = [&](int f) { return static_cast<float>(100 * Log10(f) - X0); };
    const int rank = labelRank(labels, [&](int f) { return frequencyX(f); }, static_cast<float>(Ly));
    for (const Run& run : runs) {
        for (int f = run.first; f <= run.last; f += run.first) {
            const float x = frequencyX(f);
            const RgbColor color = f == run.first ? DarkGreen : Green;
            if (isLabelled(f) && frequencyRank(f) <= rank
                && labels.fits(frequencyLabel(f), x, static_cast<float>(Ly))) {
                Picture1.line(x, 0, x, static_cast<float>(Ly), color);
                labels.place(frequencyLabel(f), x, static_cast<float>(Ly), Black);
            } else {
                Picture1.line(x, 0, x, static_cast<float>(100 * S), color);
            }
        }
    }

    // Zero line, over the yellow line at the same height (where the plot
    // holds 0 dB: a range fitted to the traces may not).
    const double top = C + settings.dbCentre; // dB at the top edge
    if (top >= 0 && top <= S)
        Picture1.line(static_cast<float>(x10), static_cast<float>(100 * top), Picture1.ScaleWidth(),
                      static_cast<float>(100 * top), Red);

    // Traces, later ones over earlier ones.
    // Each with the Traces panel's offset, unless hidden there.
    static_assert(TraceStore::MaxTraces == static_cast<int>(std::tuple_size_v<decltype(settings.traceShown)>));
    for (int t = 0; t < store.GetTraceCount(); ++t)
        if (settings.traceShown[static_cast<std::size_t>(t)])
            drawTrace(Picture1, store.traceX(t), store.traceY(t), store.pointCount(t), settings.smooth, X0,
                      100 * (top - settings.traceOffsetDb[static_cast<std::size_t>(t)]), TraceStore::traceColor(t));

    // Level labels over the traces, 50 twips above their grid lines, none
    // at the edges; every 3 dB where they fit, else every 6, 12... dB, in
    // a column far enough in for the widest.
    // Levels i dB above the bottom edge, i = first, first + every, ...
    const int every = 3 * labels.rowStride(300);
    const int first = 3 + ((S / 2 - 3) % every); // the lowest with i - S/2 a multiple of every
    const int count = first <= S - 3 ? (S - 3 - first) / every + 1 : 0;
    // Whole numbers: short enough to stay in the string's own buffer.
    const auto text = [&](int k) { return std::to_string(first + k * every - S / 2 + settings.dbCentre); };
    const float labelX =
        labels.leftColumn(count, text, static_cast<float>(150.0 * Picture1.ScaleWidth() / Picture1.Width()));
    for (int k = 0; k < count; ++k) {
        const double labelTop = audimera::nearest(100.0 * (S - first - k * every)
                                                  - 50.0 * Picture1.ScaleHeight() / Picture1.Height());
        labels.place(text(k), labelX, static_cast<float>(labelTop), Black);
    }
}

void ResponsePlot::drawTrace(DrawingSurface& picture, const double* x, const double* y, int n,
                             int smooth, double x0, double c100, RgbColor color)
{
    if (n <= 0)
        return;
    const double* px = x;
    const double* py = y;
    int count = n;
    m_splineCount = 0;
    if (n > 3 && smooth > 1) {
        // Seven curve points per interval; orders above 4 are not offered.
        const int order = std::min(smooth, 4);
        int32_t splineCount = 0;
        try {
            m_spline(7 * n - 7, x, y, n, m_splineX.data(), m_splineY.data(), &splineCount,
                     order);
            m_splineCount = std::clamp<int32_t>(splineCount, 0, SplineCapacity);
        } catch (const DspError&) {
            // The program refuses to start without the library; should it go
            // missing anyway, the measured points are still shown.
        }
        // No curve (the library could not get working memory, or is gone):
        // the measured points are drawn straight instead.
        if (m_splineCount > 0) {
            px = m_splineX.data();
            py = m_splineY.data();
            count = m_splineCount;
        }
    }
    if (count <= 0)
        return;
    picture.setPoint(static_cast<float>(px[0] - x0), static_cast<float>(c100 - py[0]), color);
    picture.polylineTo(
        count - 1,
        [&](int k) {
            return std::pair<float, float>(static_cast<float>(px[k + 1] - x0), static_cast<float>(c100 - py[k + 1]));
        },
        color);
}

} // namespace audimera
