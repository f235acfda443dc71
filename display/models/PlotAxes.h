// The axis pieces the log-sweep views and the time-frequency views share
// (internal to display/models): label text, twips in user units, the label
// row, the step of time lines and the response plot's logarithmic frequency
// grid, which a view may lay over any span of its own.
//
// UI thread only (or any single thread).
#pragma once

#include "common/Rounding.h"
#include "display/models/Drawing.h"
#include "display/models/LabelPlacer.h"
#include "display/models/PlotPalette.h"
#include "display/models/ResponsePlot.h"

#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace audimera::PlotAxes {

// A label's text: whole numbers without decimals, others with what they need.
inline std::string number(double value)
{
    if (std::abs(value - std::round(value)) < 1e-9)
        return std::to_string(static_cast<long long>(std::llround(value)));
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// User units per twip across and down.
inline double twipX(const DrawingSurface& s)
{
    return s.Width() > 0 ? s.ScaleWidth() / s.Width() : 0;
}
inline double twipY(const DrawingSurface& s)
{
    return s.Height() > 0 ? s.ScaleHeight() / s.Height() : 0;
}

// The label row: 150 twips above the bottom edge, as on the response plot.
inline float labelRow(const DrawingSurface& s)
{
    return static_cast<float>(nearest(s.ScaleHeight() - 150 * twipY(s)));
}

// A label 50 twips above the line at y, centred on x, where it fits.
inline void labelAbove(LabelPlacer& labels, DrawingSurface& s, const std::string& text, double x, double y,
                       RgbColor color)
{
    labels.place(text, static_cast<float>(x), static_cast<float>(nearest(y - 50 * twipY(s))), color);
}

// The step of time lines, ms: 1, 2 or 5 times a power of ten from 0.1 ms,
// the smallest that gives at most maxLines lines over spanMs.
inline double timeStepMs(double spanMs, double maxLines = 12)
{
    for (double decade = 0.1; decade < 1e9; decade *= 10)
        for (const double m : {1.0, 2.0, 5.0})
            if (spanMs / (m * decade) <= maxLines)
                return m * decade;
    return 1e9;
}

// A logarithmic frequency axis: user x = scale * log10(f) - offset, its
// grid drawn from lowHz to highHz. The default is the response plot's.
struct LogAxis {
    double scale = 100;
    double offset = ResponsePlot::leftX();
    double lowHz = 10;
    double highHz = 20000;
    float x(double f) const { return static_cast<float>(scale * Log10(f) - offset); }
    double frequencyAt(double userX) const { return std::pow(10.0, (userX + offset) / scale); }
    // The axis that puts lowHz at user x0 and highHz at x1.
    static LogAxis spanning(double lowHz, double highHz, double x0, double x1)
    {
        LogAxis axis;
        axis.scale = (x1 - x0) / (Log10(highHz) - Log10(lowHz));
        axis.offset = axis.scale * Log10(lowHz) - x0;
        axis.lowHz = lowHz;
        axis.highHz = highHz;
        return axis;
    }
};

inline std::string frequencyText(int f)
{
    return f < 1000 ? std::to_string(f) : std::to_string(f / 1000) + "k";
}

// The grid lines of a frequency axis, 1..9 of each decade within the axis'
// range, with labels on row at 1, 2 and 5 of each decade, thinned to the
// decades (then also the 2s) when they would run together. line(f, x,
// decade, labelled) draws each grid line (decade: f starts its decade;
// labelled: its label follows), before its label is placed.
template <typename Line>
void frequencyMarks(LabelPlacer& labels, const LogAxis& axis, float row, Line line)
{
    const auto inRange = [&](int f) { return f >= axis.lowHz && f <= axis.highHz; };
    int rank = 2;
    for (; rank > 0; --rank) {
        std::vector<int> chosen;
        for (int decade = 1; decade <= 10000; decade *= 10)
            for (const int m : {1, 2, 5})
                if ((m == 1 ? 0 : m == 2 ? 1 : 2) <= rank && inRange(m * decade))
                    chosen.push_back(m * decade);
        const auto labelAt = [&](int i) { return std::pair{frequencyText(chosen[i]), axis.x(chosen[i])}; };
        if (labels.rowFits(static_cast<int>(chosen.size()), labelAt, row))
            break;
    }
    for (int decade = 1; decade <= 10000; decade *= 10) {
        for (int m = 1; m <= 9; ++m) {
            const int f = m * decade;
            if (!inRange(f))
                continue;
            const float x = axis.x(f);
            const bool labelled = (m == 1 || (m == 2 && rank >= 1) || (m == 5 && rank >= 2))
                && labels.fits(frequencyText(f), x, row);
            line(f, x, m == 1, labelled);
            if (labelled)
                labels.place(frequencyText(f), x, row, PlotPalette::Black);
        }
    }
}

// The response plot's frequency grid over the surface's height.
inline void frequencyGrid(DrawingSurface& s, LabelPlacer& labels)
{
    const float row = labelRow(s);
    frequencyMarks(labels, LogAxis{}, row, [&](int, float x, bool decade, bool labelled) {
        s.line(x, 0, x, labelled ? row : s.ScaleHeight(), decade ? PlotPalette::DarkGreen : PlotPalette::Green);
    });
}

// x of f on the response plot's frequency axis.
inline float frequencyX(double f)
{
    return LogAxis{}.x(f);
}

// A curve of optional values over the response plot's frequency axis,
// broken where a value is missing.
template <typename ValueAt>
void frequencyCurve(DrawingSurface& s, std::size_t count, ValueAt valueAt, RgbColor color)
{
    bool drawing = false;
    for (std::size_t i = 0; i < count; ++i) {
        const auto [f, y] = valueAt(i);
        if (!y || !std::isfinite(*y)) {
            drawing = false;
            continue;
        }
        const float x = frequencyX(f);
        const auto py = static_cast<float>(*y);
        if (drawing)
            s.lineTo(x, py, color);
        else
            s.setPoint(x, py, color);
        drawing = true;
    }
}

} // namespace audimera::PlotAxes
