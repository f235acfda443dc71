#include "display/models/ResponsePlot.h"

#include "common/AudioFormat.h"
#include "dsp/DspLibrary.h"
#include "display/models/Drawing.h"
#include "display/models/PlotPalette.h"
#include "common/Rounding.h"

#include <algorithm>
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
    struct Run {
        int first, last;
    };
    constexpr Run runs[] = {{10, 90}, {100, 900}, {1000, 9000}, {10000, 20000}};
    for (const Run& run : runs) {
        for (int f = run.first; f <= run.last; f += run.first) {
            const auto x = static_cast<float>(100 * Log10(f) - X0);
            const RgbColor color = f == run.first ? DarkGreen : Green;
            if (isLabelled(f)) {
                Picture1.line(x, 0, x, static_cast<float>(Ly), color);
                DrawLabel(Picture1, frequencyLabel(f), x, static_cast<float>(Ly), kLabelSize,
                          Black);
            } else {
                Picture1.line(x, 0, x, static_cast<float>(100 * S), color);
            }
        }
    }

    // Zero line, over the yellow line at the same height.
    Picture1.line(static_cast<float>(x10), static_cast<float>(100 * C), Picture1.ScaleWidth(),
                  static_cast<float>(100 * C), Red);

    // Traces, later ones over earlier ones.
    for (int t = 0; t < store.GetTraceCount(); ++t)
        drawTrace(Picture1, store.traceX(t), store.traceY(t), store.pointCount(t),
                  settings.smooth, X0, 100 * C, TraceStore::traceColor(t));

    // Level labels over the traces, 50 twips above their grid lines, none
    // at the edges.
    const auto labelX = static_cast<float>(150.0 * Picture1.ScaleWidth() / Picture1.Width());
    for (int i = 3; i <= S - 3; i += 3) {
        const double top =
            audimera::nearest(100.0 * (S - i) - 50.0 * Picture1.ScaleHeight() / Picture1.Height());
        DrawLabel(Picture1, std::to_string(i - S / 2), labelX, static_cast<float>(top),
                  kLabelSize, Black);
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
