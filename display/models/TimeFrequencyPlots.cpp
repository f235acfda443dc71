#include "display/models/TimeFrequencyPlots.h"

#include "display/models/LogSweepPlots.h"
#include "display/models/PlotAxes.h"
#include "display/models/ResponseImage.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <vector>

namespace audimera::TimeFrequencyPlots {

namespace {

using namespace PlotAxes;
using namespace PlotPalette;
constexpr double LabelSize = LogSweepPlots::UnitsPerPixel;

// The waterfall and the spectrogram are laid out on 10000 x 10000 user
// units whatever the surface's size, so a read-out needs no surface.
constexpr float Extent = 10000;

// Waterfall: the first slice's plane (0 dB at FrontTop, the floor at
// FrontBottom); the last slice's plane lies DepthX right, DepthY up.
constexpr double FrontLeft = 900, FrontRight = 7300, FrontTop = 3200, FrontBottom = 9000;
constexpr double DepthX = 2400, DepthY = -2800;

// Spectrogram: the image and, right of it, the colour scale.
constexpr double ImageLeft = 1000, ImageRight = 8200, ImageTop = 400, ImageBottom = 8700;
constexpr double ScaleLeft = 8600, ScaleRight = 8900;

// The phase and delay views: hundredths of a degree, +180 at the top; the
// delay axis over DelayHeight units.
constexpr double PhaseHeight = 36000, DelayHeight = 10000;

RgbColor mix(RgbColor a, RgbColor b, double t)
{
    const auto channel = [&](int shift) {
        const double va = (a >> shift) & 0xff, vb = (b >> shift) & 0xff;
        return static_cast<int>(std::lround(va + (vb - va) * t));
    };
    return rgbColor(channel(0), channel(8), channel(16));
}

// A label centred on the point (x, y): cells are ten font units high.
void labelCentred(LabelPlacer& labels, DrawingSurface& s, const std::string& text, double x, double y,
                  RgbColor color)
{
    labels.place(text, static_cast<float>(x), static_cast<float>(nearest(y - 5 * LabelSize * twipY(s))), color);
}

// The waterfall's and the spectrogram's Extent x Extent units, cleared.
void squareSurface(DrawingSurface& s)
{
    s.setScaleWidth(Extent);
    s.setScaleHeight(Extent);
    s.clear();
}

QRgb qtColor(RgbColor color)
{
    return qRgb(color & 0xff, (color >> 8) & 0xff, (color >> 16) & 0xff);
}

// The dB between level marks over a level range.
double levelStep(double range)
{
    return range <= 30 ? 5 : range <= 60 ? 10 : 20;
}

// The level marks, 0 dB down to -range levelStep() apart, at y(db) over a
// scale height long: a tick from x tickFrom to tickTo at each, as many
// labelled at x labelX as fit.
template <typename LevelY>
void levelMarks(DrawingSurface& s, LabelPlacer& labels, double range, double height, LevelY y, double tickFrom,
                double tickTo, double labelX)
{
    const double step = levelStep(range);
    const int every = labels.rowStride(step / range * height);
    int n = 0;
    for (double db = 0; db > -range - 1e-9; db -= step, ++n) {
        s.line(static_cast<float>(tickFrom), static_cast<float>(y(db)), static_cast<float>(tickTo),
               static_cast<float>(y(db)), Black);
        if (n % every == 0)
            labelCentred(labels, s, db == 0 ? "0dB" : number(db), labelX, y(db), Black);
    }
}

// The frequency axis of a result spanning lowHz..highHz over user x0..x1; a
// sensible one for fewer than two frequencies.
LogAxis spanAxis(const std::vector<double>& frequencies, double x0, double x1)
{
    double low = 20, high = 20000;
    if (frequencies.size() >= 2 && frequencies.front() > 0 && frequencies.back() > frequencies.front()) {
        low = frequencies.front();
        high = frequencies.back();
    }
    return LogAxis::spanning(low, high, x0, x1);
}

// Index i such that values[i] <= v <= values[i + 1], values ascending
// with at least two; nullopt outside.
std::optional<std::size_t> bracket(const std::vector<double>& values, double v)
{
    if (values.size() < 2 || !(v >= values.front()) || !(v <= values.back()))
        return std::nullopt;
    const auto it = std::upper_bound(values.begin(), values.end(), v);
    const auto i = static_cast<std::size_t>(it - values.begin());
    return std::min(i == 0 ? 0 : i - 1, values.size() - 2);
}

// ---- Waterfall ----

struct WaterfallGeometry {
    LogAxis axis;
    double range = 50;
    double firstMs = 0, lastMs = 300;

    explicit WaterfallGeometry(const WaterfallResult* r)
        : axis(spanAxis(r ? r->frequencies : std::vector<double>{}, FrontLeft, FrontRight))
    {
        if (r && r->rangeDb > 0)
            range = r->rangeDb;
        if (r && !r->timesMs.empty()) {
            firstMs = r->timesMs.front();
            lastMs = r->timesMs.back();
        }
    }
    // Depth of a slice starting at ms: 0 at the first, 1 at the last.
    double depth(double ms) const { return lastMs > firstMs ? (ms - firstMs) / (lastMs - firstMs) : 0; }
    double levelY(double db) const
    {
        return FrontBottom - (std::max(db, -range) + range) / range * (FrontBottom - FrontTop);
    }
};

bool drawable(const WaterfallResult* r)
{
    if (!r || r->frequencies.size() < 2 || r->timesMs.empty() || r->levelsDb.size() != r->timesMs.size())
        return false;
    return std::all_of(r->levelsDb.begin(), r->levelsDb.end(),
                       [&](const std::vector<double>& slice) { return slice.size() == r->frequencies.size(); });
}

// ---- Spectrogram ----

struct SpectrogramGeometry {
    std::size_t columns = 0, rows = 0;
    double firstMs = -10, lastMs = 500, lowHz = 20, highHz = 20000, range = 60;

    explicit SpectrogramGeometry(const SpectrogramResult* r)
    {
        if (r && r->rangeDb > 0)
            range = r->rangeDb;
        if (!r || r->frequencies.empty() || r->timesMs.empty()
            || r->levelsDb.size() != r->frequencies.size() * r->timesMs.size())
            return;
        columns = r->timesMs.size();
        rows = r->frequencies.size();
        firstMs = r->timesMs.front();
        lastMs = r->timesMs.back();
        lowHz = r->frequencies.front();
        highHz = r->frequencies.back();
    }
    // Cells of equal size: column c is centred on its time, row r on its
    // frequency (log spaced); a lone column or row fills the image.
    double timeX(double ms) const
    {
        const double width = ImageRight - ImageLeft;
        if (columns < 2 || !(lastMs > firstMs))
            return ImageLeft + 0.5 * width;
        return ImageLeft + ((ms - firstMs) / (lastMs - firstMs) * static_cast<double>(columns - 1) + 0.5)
            / static_cast<double>(columns) * width;
    }
    double frequencyY(double hz) const
    {
        const double height = ImageBottom - ImageTop;
        const double share = highHz > lowHz ? std::log(hz / lowHz) / std::log(highHz / lowHz) : 0.5;
        if (rows < 2)
            return ImageBottom - share * height;
        return ImageBottom - (share * static_cast<double>(rows - 1) + 0.5) / static_cast<double>(rows) * height;
    }
};

// ---- Phase and delay ----

std::optional<double> phaseOf(const PhasePoint& p, PhaseCurve curve)
{
    switch (curve) {
    case PhaseCurve::Measured:
        return p.measuredDeg;
    case PhaseCurve::Minimum:
        return p.minimumDeg;
    case PhaseCurve::Excess:
        return p.excessDeg;
    }
    return std::nullopt;
}

std::optional<double> delayOf(const PhaseResult& r, const PhasePoint& p, DelayCurve curve, bool delayRemoved)
{
    std::optional<double> v = curve == DelayCurve::GroupDelay ? p.groupDelayMs : p.excessGroupDelayMs;
    if (v && delayRemoved)
        *v -= r.delayMs;
    if (v && !std::isfinite(*v))
        return std::nullopt;
    return v;
}

// The frame of the phase and delay views: the response plot's frequency
// axis over a height of user units, its level lines at lineYs.
void frequencyFrame(DrawingSurface& s, double height, const std::vector<double>& lineYs)
{
    s.setScaleWidth(static_cast<float>(ResponsePlot::rightX() - ResponsePlot::leftX()));
    s.setScaleHeight(static_cast<float>(height));
    s.clear();
    const float x10 = frequencyX(10);
    for (const double y : lineYs)
        s.line(x10, static_cast<float>(y), s.ScaleWidth(), static_cast<float>(y), Yellow);
}

// The value of a curve of optional values at hz, linear in log frequency
// between two present neighbours not further apart than maxStep (a wrap),
// else the nearer neighbour's when present.
template <typename ValueAt>
std::optional<double> curveAt(const std::vector<PhasePoint>& points, double hz, ValueAt valueAt, double maxStep)
{
    if (points.empty() || !(hz >= points.front().hz) || !(hz <= points.back().hz))
        return std::nullopt;
    if (points.size() == 1)
        return valueAt(points.front());
    const auto it = std::upper_bound(points.begin(), points.end(), hz,
                                     [](double f, const PhasePoint& p) { return f < p.hz; });
    const std::size_t i = std::min(static_cast<std::size_t>(std::max<std::ptrdiff_t>(it - points.begin() - 1, 0)),
                                   points.size() - 2);
    const PhasePoint &a = points[i], &b = points[i + 1];
    const std::optional<double> va = valueAt(a), vb = valueAt(b);
    const double t = b.hz > a.hz ? std::log(hz / a.hz) / std::log(b.hz / a.hz) : 0;
    if (va && vb && std::abs(*vb - *va) <= maxStep)
        return *va + (*vb - *va) * t;
    return t < 0.5 ? va : vb;
}

// The reading at the user point of a phase or delay view height units high:
// its frequency and the curve's value there in field; none outside the view
// or where the curve has no value.
template <typename ValueAt>
std::optional<Reading> curveReading(const std::vector<PhasePoint>& points, double userX, double userY, double height,
                                    ValueAt valueAt, double maxStep, double Reading::*field)
{
    if (!(userY >= 0 && userY <= height))
        return std::nullopt;
    const double hz = LogSweepPlots::frequencyAt(userX);
    const std::optional<double> v = curveAt(points, hz, valueAt, maxStep);
    if (!v)
        return std::nullopt;
    Reading reading;
    reading.hz = hz;
    reading.*field = *v;
    return reading;
}

double niceStep(double span)
{
    const double decade = std::pow(10.0, std::floor(std::log10(span)));
    for (const double m : {1.0, 2.0, 5.0, 10.0})
        if (m * decade >= span)
            return m * decade;
    return 10 * decade;
}

} // namespace

RgbColor sliceColor(std::size_t slice, std::size_t slices)
{
    if (slice == 0)
        return FrontSliceColor;
    return mix(NearSliceColor, FarSliceColor,
               slices > 2 ? static_cast<double>(slice - 1) / static_cast<double>(slices - 2) : 0);
}

RgbColor spectrogramColor(double db, double rangeDb)
{
    static constexpr RgbColor Stops[] = {rgbColor(30, 0, 70), rgbColor(90, 0, 170), rgbColor(210, 0, 120),
                                         rgbColor(255, 110, 0), rgbColor(255, 250, 170)};
    constexpr int Last = static_cast<int>(std::size(Stops)) - 1;
    double share = rangeDb > 0 && std::isfinite(db) ? (db + rangeDb) / rangeDb : 0;
    share = std::clamp(share, 0.0, 1.0) * Last;
    const int k = std::min(static_cast<int>(share), Last - 1);
    return mix(Stops[k], Stops[k + 1], share - k);
}

void drawWaterfall(DrawingSurface& s, const WaterfallResult* result)
{
    const WaterfallGeometry g(result);
    squareSurface(s);
    std::vector<QRectF> boxes;
    LabelPlacer labels(s, LabelSize, boxes);
    const auto at = [](double x, double y, double depth) {
        return QPointF(x + depth * DepthX, y + depth * DepthY);
    };
    const auto line = [&](QPointF a, QPointF b, RgbColor color) {
        s.line(static_cast<float>(a.x()), static_cast<float>(a.y()), static_cast<float>(b.x()),
               static_cast<float>(b.y()), color);
    };

    // The floor (frequency lines into the depth, time lines across) and the
    // walls' level lines, all behind the slices.
    const float row = static_cast<float>(FrontBottom + 60 * twipY(s));
    frequencyMarks(labels, g.axis, row, [&](int, float x, bool decade, bool) {
        line(at(x, FrontBottom, 0), at(x, FrontBottom, 1), decade ? DarkGreen : Green);
    });
    const double span = g.lastMs - g.firstMs;
    const double stepMs = timeStepMs(span > 0 ? span : 1, 6);
    const int every = labels.rowStride(std::abs(DepthY) * stepMs / (span > 0 ? span : 1));
    int tick = 0;
    for (double t = std::ceil(g.firstMs / stepMs) * stepMs; span > 0 && t <= g.lastMs + 1e-9 * span;
         t += stepMs, ++tick) {
        const double d = g.depth(t);
        line(at(FrontLeft, FrontBottom, d), at(FrontRight, FrontBottom, d), Yellow);
        const QPointF edge = at(FrontRight, FrontBottom, d);
        line(edge, QPointF(edge.x() + 100 * twipX(s), edge.y()), Black);
        if (tick % every == 0)
            labelCentred(labels, s, number(std::round(t / stepMs) * stepMs),
                         edge.x() + (100 + 5.0 * 7 * LabelSize / 2) * twipX(s), edge.y(), Black);
    }
    const double dbStep = levelStep(g.range);
    for (double db = -dbStep; db > -g.range + 1e-9; db -= dbStep) {
        line(at(FrontLeft, g.levelY(db), 0), at(FrontLeft, g.levelY(db), 1), Yellow);
        line(at(FrontLeft, g.levelY(db), 1), at(FrontRight, g.levelY(db), 1), Yellow);
    }
    line(at(FrontLeft, FrontTop, 0), at(FrontLeft, FrontTop, 1), Yellow);
    line(at(FrontLeft, FrontTop, 1), at(FrontRight, FrontTop, 1), Yellow);
    line(at(FrontLeft, FrontBottom, 1), at(FrontLeft, FrontTop, 1), Yellow);
    line(at(FrontRight, FrontBottom, 1), at(FrontRight, FrontTop, 1), Yellow);

    // The slices back to front, each hiding what lies behind it.
    if (drawable(result)) {
        std::vector<QPointF> points(result->frequencies.size());
        for (std::size_t k = result->timesMs.size(); k-- > 0;) {
            const double d = g.depth(result->timesMs[k]);
            const std::vector<double>& levels = result->levelsDb[k];
            for (std::size_t i = 0; i < points.size(); ++i) {
                const double db = std::isfinite(levels[i]) ? levels[i] : -g.range;
                points[i] = at(g.axis.x(result->frequencies[i]), g.levelY(db), d);
            }
            s.fillUnder(points, static_cast<float>(FrontBottom + d * DepthY), s.backColor());
            s.moveTo(static_cast<float>(points[0].x()), static_cast<float>(points[0].y()));
            s.polylineTo(
                static_cast<int>(points.size()),
                [&](int i) {
                    const QPointF& p = points[static_cast<std::size_t>(i)];
                    return std::pair{static_cast<float>(p.x()), static_cast<float>(p.y())};
                },
                sliceColor(k, result->timesMs.size()));
        }
    }

    // The front frame and the level labels.
    line(at(FrontLeft, FrontTop, 0), at(FrontLeft, FrontBottom, 0), Black);
    line(at(FrontLeft, FrontBottom, 0), at(FrontRight, FrontBottom, 0), Black);
    line(at(FrontRight, FrontBottom, 0), at(FrontRight, FrontBottom, 1), Black);
    const double leftX = labels.leftColumn(
        1, [&](int) { return number(-g.range); }, static_cast<float>(FrontLeft - 300 * twipX(s)));
    levelMarks(s, labels, g.range, FrontBottom - FrontTop, [&](double db) { return g.levelY(db); },
               FrontLeft - 80 * twipX(s), FrontLeft, leftX);
}

std::optional<Reading> waterfallAt(const WaterfallResult& result, double userX, double userY)
{
    if (!drawable(&result))
        return std::nullopt;
    const WaterfallGeometry g(&result);
    for (std::size_t k = 0; k < result.timesMs.size(); ++k) {
        const double d = g.depth(result.timesMs[k]);
        const double x = userX - d * DepthX, y = userY - d * DepthY;
        if (!(x >= FrontLeft && x <= FrontRight) || !(y <= FrontBottom))
            continue;
        const double hz = g.axis.frequencyAt(x);
        const std::vector<double>& f = result.frequencies;
        const std::optional<std::size_t> i = bracket(f, std::clamp(hz, f.front(), f.back()));
        if (!i)
            continue;
        const double x0 = g.axis.x(f[*i]), x1 = g.axis.x(f[*i + 1]);
        const double t = x1 > x0 ? std::clamp((x - x0) / (x1 - x0), 0.0, 1.0) : 0;
        const auto level = [&](std::size_t j) {
            const double v = result.levelsDb[k][j];
            return std::isfinite(v) ? std::max(v, -g.range) : -g.range;
        };
        const double db = level(*i) + (level(*i + 1) - level(*i)) * t;
        if (y >= g.levelY(db) - 1)
            return Reading{hz, result.timesMs[k], db, 0};
    }
    return std::nullopt;
}

void drawSpectrogram(DrawingSurface& s, const SpectrogramResult* result)
{
    const SpectrogramGeometry g(result);
    squareSurface(s);
    std::vector<QRectF> boxes;
    LabelPlacer labels(s, LabelSize, boxes);

    if (g.columns > 0) {
        QImage image(static_cast<int>(g.columns), static_cast<int>(g.rows), QImage::Format_RGB32);
        for (std::size_t r = 0; r < g.rows; ++r) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(g.rows - 1 - r)));
            for (std::size_t c = 0; c < g.columns; ++c) {
                line[c] = qtColor(spectrogramColor(result->levelAt(c, r), g.range));
            }
        }
        s.drawImage(static_cast<float>(ImageLeft), static_cast<float>(ImageTop), static_cast<float>(ImageRight),
                    static_cast<float>(ImageBottom), image);
    }
    // The colour scale, 0 dB at the top.
    constexpr int ScaleSteps = 257; // its ends exactly 0 dB and -rangeDb
    QImage scale(1, ScaleSteps, QImage::Format_RGB32);
    for (int i = 0; i < ScaleSteps; ++i) {
        scale.setPixel(0, i, qtColor(spectrogramColor(-g.range * i / (ScaleSteps - 1), g.range)));
    }
    s.drawImage(static_cast<float>(ScaleLeft), static_cast<float>(ImageTop), static_cast<float>(ScaleRight),
                static_cast<float>(ImageBottom), scale);

    const auto frame = [&](double x0, double y0, double x1, double y1) {
        const auto fx0 = static_cast<float>(x0), fy0 = static_cast<float>(y0);
        const auto fx1 = static_cast<float>(x1), fy1 = static_cast<float>(y1);
        s.line(fx0, fy0, fx1, fy0, Black);
        s.lineTo(fx1, fy1, Black);
        s.lineTo(fx0, fy1, Black);
        s.lineTo(fx0, fy0, Black);
    };
    frame(ImageLeft, ImageTop, ImageRight, ImageBottom);
    frame(ScaleLeft, ImageTop, ScaleRight, ImageBottom);

    // Time under the image, frequency on its left (decades first, then the
    // 2s and 5s where they fit), levels right of the scale.
    const double span = g.lastMs - g.firstMs;
    const double stepMs = timeStepMs(span > 0 ? span : 1, 10);
    const float tickY = static_cast<float>(ImageBottom + 80 * twipY(s));
    const float row = static_cast<float>(ImageBottom + 120 * twipY(s));
    for (double t = std::ceil(g.firstMs / stepMs) * stepMs; span > 0 && t <= g.lastMs + 1e-9 * span; t += stepMs) {
        const auto x = static_cast<float>(g.timeX(t));
        s.line(x, static_cast<float>(ImageBottom), x, tickY, Black);
        labels.place(number(std::round(t / stepMs) * stepMs), x, row, Black);
    }
    const double tickX = ImageLeft - 80 * twipX(s);
    const double textX = ImageLeft - 300 * twipX(s);
    for (const int m : {1, 2, 5})
        for (int decade = 1; decade <= 10000; decade *= 10) {
            const int f = m * decade;
            if (f < g.lowHz || f > g.highHz)
                continue;
            const double y = g.frequencyY(f);
            s.line(static_cast<float>(tickX), static_cast<float>(y), static_cast<float>(ImageLeft),
                   static_cast<float>(y), Black);
            labelCentred(labels, s, frequencyText(f), textX, y, Black);
        }
    const double height = ImageBottom - ImageTop;
    levelMarks(s, labels, g.range, height, [&](double db) { return ImageTop - db / g.range * height; }, ScaleRight,
               ScaleRight + 60 * twipX(s), ScaleRight + 350 * twipX(s));
}

std::optional<Reading> spectrogramAt(const SpectrogramResult& result, double userX, double userY)
{
    const SpectrogramGeometry g(&result);
    if (g.columns == 0 || !(userX >= ImageLeft && userX < ImageRight) || !(userY > ImageTop && userY <= ImageBottom))
        return std::nullopt;
    const auto column = std::min(static_cast<std::size_t>((userX - ImageLeft) / (ImageRight - ImageLeft)
                                                          * static_cast<double>(g.columns)),
                                 g.columns - 1);
    const auto row = std::min(static_cast<std::size_t>((ImageBottom - userY) / (ImageBottom - ImageTop)
                                                       * static_cast<double>(g.rows)),
                              g.rows - 1);
    return Reading{result.frequencies[row], result.timesMs[column], result.levelAt(column, row), 0};
}

void drawPhase(DrawingSurface& s, const PhaseResult* result, PhaseCurve curve)
{
    std::vector<double> lines;
    for (int i = 1; i < 8; ++i)
        lines.push_back(i * PhaseHeight / 8);
    std::vector<QRectF> boxes;
    frequencyFrame(s, PhaseHeight, lines);
    LabelPlacer labels(s, LabelSize, boxes);
    frequencyGrid(s, labels);
    s.line(frequencyX(10), static_cast<float>(PhaseHeight / 2), s.ScaleWidth(), static_cast<float>(PhaseHeight / 2),
           Red);
    const RgbColor color = PhaseColors[static_cast<int>(curve)];
    if (result) {
        bool drawing = false;
        double last = 0;
        for (const PhasePoint& p : result->points) {
            const std::optional<double> v = phaseOf(p, curve);
            if (!v || !std::isfinite(*v) || !(p.hz > 0)) {
                drawing = false;
                continue;
            }
            const float x = frequencyX(p.hz);
            const auto y = static_cast<float>((180 - *v) * 100);
            if (drawing && std::abs(*v - last) <= 180)
                s.lineTo(x, y, color);
            else
                s.setPoint(x, y, color);
            drawing = true;
            last = *v;
        }
    }
    const int every = labels.rowStride(PhaseHeight / 8);
    const double leftX =
        labels.leftColumn(1, [](int) { return std::string_view("-135"); }, static_cast<float>(150 * twipX(s)));
    for (int i = every; i < 8; i += every)
        labelAbove(labels, s, number(180 - i * 45), leftX, i * PhaseHeight / 8, Black);
}

std::optional<Reading> phaseAt(const PhaseResult& result, PhaseCurve curve, double userX, double userY)
{
    return curveReading(
        result.points, userX, userY, PhaseHeight, [&](const PhasePoint& p) { return phaseOf(p, curve); }, 180,
        &Reading::degrees);
}

DelayAxis delayAxis(const PhaseResult* result, DelayCurve curve, bool delayRemoved)
{
    double low = 0, high = 0;
    bool any = false;
    if (result)
        for (const PhasePoint& p : result->points)
            if (const std::optional<double> v = delayOf(*result, p, curve, delayRemoved)) {
                low = any ? std::min(low, *v) : *v;
                high = any ? std::max(high, *v) : *v;
                any = true;
            }
    if (!any)
        return {};
    const double least = std::max(0.01 * std::max(std::abs(low), std::abs(high)), 0.01);
    if (high - low < least) {
        const double middle = (low + high) / 2;
        low = middle - least / 2;
        high = middle + least / 2;
    }
    const double step = niceStep((high - low) / 6);
    return {std::floor(high / step + 1e-9) * step + step, std::ceil(low / step - 1e-9) * step - step, step};
}

void drawGroupDelay(DrawingSurface& s, const PhaseResult* result, DelayCurve curve, bool delayRemoved)
{
    const DelayAxis axis = delayAxis(result, curve, delayRemoved);
    const double perMs = DelayHeight / (axis.topMs - axis.bottomMs);
    const auto yOf = [&](double ms) { return (axis.topMs - ms) * perMs; };
    const int count = static_cast<int>(std::lround((axis.topMs - axis.bottomMs) / axis.stepMs));
    std::vector<double> lines;
    for (int i = 1; i < count; ++i)
        lines.push_back(i * axis.stepMs * perMs);
    std::vector<QRectF> boxes;
    frequencyFrame(s, DelayHeight, lines);
    LabelPlacer labels(s, LabelSize, boxes);
    frequencyGrid(s, labels);
    if (axis.topMs > 0 && axis.bottomMs < 0)
        s.line(frequencyX(10), static_cast<float>(yOf(0)), s.ScaleWidth(), static_cast<float>(yOf(0)), Red);
    if (result)
        frequencyCurve(
            s, result->points.size(),
            [&](std::size_t i) {
                const PhasePoint& p = result->points[i];
                const std::optional<double> v = p.hz > 0 ? delayOf(*result, p, curve, delayRemoved) : std::nullopt;
                return std::pair{p.hz > 0 ? p.hz : 1.0, v ? std::optional<double>(yOf(*v)) : std::nullopt};
            },
            DelayColors[static_cast<int>(curve)]);
    std::vector<std::string> texts;
    for (int i = 1; i < count; ++i)
        texts.push_back(number(std::round((axis.topMs - i * axis.stepMs) / axis.stepMs) * axis.stepMs));
    const int every = labels.rowStride(axis.stepMs * perMs);
    const double leftX = labels.leftColumn(
        static_cast<int>(texts.size()), [&](int k) { return std::string_view(texts[static_cast<std::size_t>(k)]); },
        static_cast<float>(150 * twipX(s)));
    for (int i = every; i < count; i += every)
        labelAbove(labels, s, texts[static_cast<std::size_t>(i - 1)], leftX, i * axis.stepMs * perMs, Black);
}

std::optional<Reading> groupDelayAt(const PhaseResult& result, DelayCurve curve, bool delayRemoved, double userX,
                                    double userY)
{
    return curveReading(
        result.points, userX, userY, DelayHeight,
        [&](const PhasePoint& p) { return delayOf(result, p, curve, delayRemoved); }, 1e300, &Reading::ms);
}

Result<std::string> pictureBytes(const std::function<void(DrawingSurface&)>& draw, int widthPx, int heightPx,
                                 PictureFormat format)
{
    constexpr int MaxSide = 16384;
    if (widthPx <= 0 || heightPx <= 0 || widthPx > MaxSide || heightPx > MaxSide)
        return Error::of(Failure::File,
                         "invalid picture size " + std::to_string(widthPx) + "x" + std::to_string(heightPx));
    const double unit = LogSweepPlots::UnitsPerPixel;
    DrawingSurface surface(unit);
    surface.setBackColor(ResponseImage::DefaultBackground);
    std::vector<DrawingSurface::Stroke> strokes;
    if (format == PictureFormat::Svg)
        surface.setRecording(&strokes);
    surface.setSize(widthPx * unit, heightPx * unit);
    draw(surface);
    surface.setRecording(nullptr);
    if (format == PictureFormat::Png)
        return ResponseImage::pngBytes(surface.image());

    QByteArray bytes;
    if (!ResponseImage::paintSvg(bytes, widthPx, heightPx, ResponseImage::DefaultBackground, QString(),
                                 [&](QPainter& painter) { DrawingSurface::paintRecording(painter, strokes); }))
        return Error::of(Failure::File, "the SVG picture could not be written");
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

} // namespace audimera::TimeFrequencyPlots
