#include "display/models/LogSweepPlots.h"

#include "display/models/PlotAxes.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace audimera {

namespace LogSweepPlots {

namespace {

using namespace PlotAxes;
using namespace PlotPalette;
constexpr double LabelSize = UnitsPerPixel;

} // namespace

LevelAxis levelAxis(const std::vector<ResponsePoint>& response)
{
    if (response.empty())
        return {};
    double low = response.front().level, high = low;
    for (const ResponsePoint& p : response) {
        if (!std::isfinite(p.level))
            continue;
        low = std::min(low, p.level);
        high = std::max(high, p.level);
    }
    const double centre = 6 * std::round((low + high) / 12);
    for (const int span : {12, 24, 48, 96})
        if (high <= centre + span / 2.0 && low >= centre - span / 2.0)
            return {span, centre + span / 2.0};
    return {96, centre + 48};
}

namespace {

// The response view's axes for axis: the user scale, the level lines, the
// frequency grid and 0 dB (the played level) in red where it is on the plot.
void responseAxes(DrawingSurface& s, const LevelAxis& axis, LabelPlacer& labels)
{
    const float x10 = frequencyX(10);
    const double step = axis.span / 8.0; // dB between level lines
    for (int i = 0; i <= 8; ++i)
        s.line(x10, static_cast<float>(i * step * 100), s.ScaleWidth(), static_cast<float>(i * step * 100), Yellow);
    frequencyGrid(s, labels);
    if (axis.top >= 0 && axis.top <= axis.span)
        s.line(x10, static_cast<float>(axis.top * 100), s.ScaleWidth(), static_cast<float>(axis.top * 100), Red);
}

void scaleFor(DrawingSurface& s, const LevelAxis& axis)
{
    s.setScaleWidth(static_cast<float>(ResponsePlot::rightX() - ResponsePlot::leftX()));
    s.setScaleHeight(static_cast<float>(100.0 * axis.span));
    s.clear();
}

void magnitudeCurve(DrawingSurface& s, const LevelAxis& axis, const std::vector<ResponsePoint>& response,
                    RgbColor color)
{
    frequencyCurve(
        s, response.size(),
        [&](std::size_t i) {
            return std::pair{response[i].frequency, std::optional<double>((axis.top - response[i].level) * 100)};
        },
        color);
}

// Level labels on the left (and with phase the phase labels on the right),
// none at the edges; on every line where they fit, else every 2nd or 4th,
// in a column far enough in for the widest ("-4.5" lost its minus sign).
void levelLabels(DrawingSurface& s, LabelPlacer& labels, const LevelAxis& axis, bool phase)
{
    const double step = axis.span / 8.0;
    const int every = labels.rowStride(step * 100);
    std::vector<std::string> levels;
    for (int i = every; i < 8; i += every)
        levels.push_back(number(axis.top - i * step));
    const double leftX = labels.leftColumn(
        static_cast<int>(levels.size()), [&](int k) { return levels[k]; }, static_cast<float>(150 * twipX(s)));
    const double rightX = s.ScaleWidth() - 300 * twipX(s);
    for (int i = every; i < 8; i += every) {
        const double y = i * step * 100;
        labelAbove(labels, s, number(axis.top - i * step), leftX, y, Black);
        if (phase && i % 2 == 0)
            labelAbove(labels, s, number(180 - i * 45), rightX, y, PhaseColor);
    }
}

} // namespace

void drawResponse(DrawingSurface& s, const std::vector<ResponsePoint>& response)
{
    const LevelAxis axis = levelAxis(response);
    const double height = 100.0 * axis.span;
    scaleFor(s, axis);
    std::vector<QRectF> boxes;
    LabelPlacer labels(s, LabelSize, boxes);
    responseAxes(s, axis, labels);

    // Phase first, so the magnitude lies over it.
    bool drawing = false;
    double last = 0;
    for (const ResponsePoint& p : response) {
        if (!p.phase) {
            drawing = false;
            continue;
        }
        const float x = frequencyX(p.frequency);
        const auto y = static_cast<float>((180 - *p.phase) / 360 * height);
        if (drawing && std::abs(*p.phase - last) <= 180)
            s.lineTo(x, y, PhaseColor);
        else
            s.setPoint(x, y, PhaseColor);
        drawing = true;
        last = *p.phase;
    }
    magnitudeCurve(s, axis, response, MagnitudeColor);
    levelLabels(s, labels, axis, true);
}

void drawOverlay(DrawingSurface& s, const std::vector<OverlayCurve>& curves)
{
    std::vector<ResponsePoint> all;
    for (const OverlayCurve& c : curves)
        all.insert(all.end(), c.response.begin(), c.response.end());
    const LevelAxis axis = levelAxis(all);
    scaleFor(s, axis);
    std::vector<QRectF> boxes;
    LabelPlacer labels(s, LabelSize, boxes);
    responseAxes(s, axis, labels);
    for (const OverlayCurve& c : curves)
        magnitudeCurve(s, axis, c.response, c.color);
    levelLabels(s, labels, axis, false);
}

double gateLimitHz(double gateSeconds)
{
    return gateSeconds > 0 && std::isfinite(gateSeconds) ? 1.0 / gateSeconds : 0.0;
}

void drawGateLimit(DrawingSurface& s, double hz)
{
    if (!(hz > 0) || !std::isfinite(hz))
        return;
    const float x = frequencyX(hz);
    if (x <= frequencyX(10) || x >= s.ScaleWidth())
        return;
    // The line stops above the frequency labels; its value sits beside its
    // top, on the side with room.
    s.line(x, 0, x, labelRow(s), GateColor);
    const std::string text = number(std::round(hz)) + " Hz";
    const double half = 4.0 * static_cast<double>(text.size()) * LabelSize * twipX(s);
    const double labelX = x + half < s.ScaleWidth() ? x + half : x - half;
    DrawLabel(s, text, static_cast<float>(labelX), static_cast<float>(60 * twipY(s)), LabelSize, GateColor);
}

TimeAxis timeAxis(const std::vector<float>& impulse, std::size_t peak, int rate, double gateMs)
{
    if (rate <= 0 || impulse.empty() || peak >= impulse.size())
        return {};
    const double end = 1000.0 * static_cast<double>(impulse.size() - peak) / rate;
    double last = 1.25 * gateMs;
    if (!(gateMs > 0)) {
        const double loud = 1e-3 * std::abs(static_cast<double>(impulse[peak]));
        std::size_t tail = peak;
        for (std::size_t i = impulse.size(); i-- > peak;)
            if (std::abs(static_cast<double>(impulse[i])) >= loud) {
                tail = i;
                break;
            }
        last = std::min(std::max(2000.0 * static_cast<double>(tail - peak) / rate, 10.0), end);
    }
    const double first = std::max(-1000.0 * static_cast<double>(peak) / rate, -last / 4);
    return {first, last};
}

void drawImpulse(DrawingSurface& s, const std::vector<float>& impulse, std::size_t peak, int rate, double gateMs)
{
    const TimeAxis axis = timeAxis(impulse, peak, rate, gateMs);
    const double span = axis.lastMs - axis.firstMs;
    // x: hundredths of a ms from the axis' start; y: the linear panel over
    // 0..10000 (+1 at the top), the energy panel over 10000..20000 (0 dB at
    // its top, -100 dB at the bottom).
    s.setScaleWidth(static_cast<float>(100 * span));
    s.setScaleHeight(20000);
    s.clear();
    const auto tx = [&](double ms) { return static_cast<float>(100 * (ms - axis.firstMs)); };

    for (const double v : {1.0, 0.5, -0.5, -1.0})
        s.line(0, static_cast<float>(5000 - 5000 * v), s.ScaleWidth(), static_cast<float>(5000 - 5000 * v), Yellow);
    for (int db = 20; db < 100; db += 20)
        s.line(0, static_cast<float>(10000 + 100 * db), s.ScaleWidth(), static_cast<float>(10000 + 100 * db), Yellow);
    const double stepMs = timeStepMs(span);
    const float row = labelRow(s);
    std::vector<QRectF> boxes;
    LabelPlacer labels(s, LabelSize, boxes);
    for (double t = std::ceil(axis.firstMs / stepMs) * stepMs; t <= axis.lastMs; t += stepMs) {
        if (std::abs(t) < stepMs / 2)
            continue;
        s.line(tx(t), 0, tx(t), row, Green);
        labels.place(number(std::round(t / stepMs) * stepMs), tx(t), row, Black);
    }
    s.line(0, 5000, s.ScaleWidth(), 5000, Red);
    s.line(tx(0), 0, tx(0), row, Red);
    s.line(0, 10000, s.ScaleWidth(), 10000, Black);
    const double gateAt = gateMs > 0 || rate <= 0 || peak >= impulse.size()
        ? gateMs
        : 1000.0 * static_cast<double>(impulse.size() - peak) / rate;
    if (gateAt > 0 && gateAt <= axis.lastMs)
        s.line(tx(gateAt), 0, tx(gateAt), s.ScaleHeight(), GateColor);

    if (!impulse.empty() && rate > 0) {
        double reference = std::abs(static_cast<double>(impulse[std::min(peak, impulse.size() - 1)]));
        if (!(reference > 0))
            reference = 1;
        const auto timeOf = [&](std::size_t i) {
            return 1000.0 * (static_cast<double>(i) - static_cast<double>(peak)) / rate;
        };
        const auto count = static_cast<int>(impulse.size());
        s.moveTo(tx(timeOf(0)), static_cast<float>(5000 - 5000 * impulse[0] / reference));
        s.polylineTo(
            count,
            [&](int i) {
                const auto k = static_cast<std::size_t>(i);
                return std::pair{tx(timeOf(k)), static_cast<float>(5000 - 5000 * impulse[k] / reference)};
            },
            ImpulseColor);
        const auto energyY = [&](std::size_t k) {
            const double ratio = std::abs(static_cast<double>(impulse[k])) / reference;
            const double db = ratio > 0 ? std::max(20 * std::log10(ratio), -100.0) : -100.0;
            return static_cast<float>(10000 - 100 * std::min(db, 0.0));
        };
        s.moveTo(tx(timeOf(0)), energyY(0));
        s.polylineTo(
            count, [&](int i) { return std::pair{tx(timeOf(static_cast<std::size_t>(i))), energyY(static_cast<std::size_t>(i))}; },
            EnergyColor);
    }
    const char* const linear[] = {"1", "0.5", "-0.5"};
    const double leftX = labels.leftColumn(3, [&](int k) { return std::string_view(linear[k]); },
                                           static_cast<float>(200 * twipX(s)));
    labelAbove(labels, s, "1", leftX, 0 + 50 * twipY(s) + 1, Black);
    labelAbove(labels, s, "0.5", leftX, 2500, Black);
    labelAbove(labels, s, "-0.5", leftX, 7500, Black);
    const int every = labels.rowStride(2000);
    for (int db = 20 * every; db < 100; db += 20 * every)
        labelAbove(labels, s, "-" + std::to_string(db) + "dB", leftX + 150 * twipX(s), 10000 + 100 * db, EnergyColor);
}

void drawDistortion(DrawingSurface& s, const std::vector<DistortionPoint>& distortion)
{
    // y: hundredths of a dB below the fundamental, 0 dB at the top.
    s.setScaleWidth(static_cast<float>(ResponsePlot::rightX() - ResponsePlot::leftX()));
    s.setScaleHeight(10000);
    s.clear();
    const float x10 = frequencyX(10);
    for (int db = 10; db < 100; db += 10)
        s.line(x10, static_cast<float>(100 * db), s.ScaleWidth(), static_cast<float>(100 * db), Yellow);
    std::vector<QRectF> boxes;
    LabelPlacer labels(s, LabelSize, boxes);
    frequencyGrid(s, labels);
    frequencyCurve(
        s, distortion.size(),
        [&](std::size_t i) {
            const std::optional<double>& thd = distortion[i].thdPercent;
            return std::pair{distortion[i].frequency,
                             thd && *thd > 0 ? std::optional<double>(-100 * 20 * std::log10(*thd / 100)) : std::nullopt};
        },
        ThdColor);
    for (int k = 0; k < 4; ++k)
        frequencyCurve(
            s, distortion.size(),
            [&](std::size_t i) {
                const std::optional<double>& db = distortion[i].harmonicDb[k];
                return std::pair{distortion[i].frequency, db ? std::optional<double>(-100 * *db) : std::nullopt};
            },
            HarmonicColors[k]);
    const int every = 10 * labels.rowStride(1000);
    const double leftX =
        labels.leftColumn(1, [](int) { return std::string_view("-90"); }, static_cast<float>(150 * twipX(s)));
    const double rightX = s.ScaleWidth() - 300 * twipX(s);
    const char* percents[] = {"10", "1", "0.1", "0.01"};
    for (int db = every; db < 100; db += every) {
        labelAbove(labels, s, "-" + std::to_string(db), leftX, 100 * db, Black);
        if (db % 20 == 0)
            labelAbove(labels, s, percents[db / 20 - 1], rightX, 100 * db, ThdColor);
    }
}

double decayLastMs(const RoomBand* band)
{
    if (!band || band->truncation <= 0)
        return 1000;
    return 1000 * band->truncation * 1.1;
}

void drawDecay(DrawingSurface& s, const RoomBand* band)
{
    const double lastMs = decayLastMs(band);
    // x: hundredths of a ms from the start; y: hundredths of a dB down, 0 dB
    // at the top.
    s.setScaleWidth(static_cast<float>(100 * lastMs));
    s.setScaleHeight(static_cast<float>(-100 * DecayFloorDb));
    s.clear();
    const auto tx = [](double ms) { return static_cast<float>(100 * ms); };
    const auto ty = [](double db) { return static_cast<float>(-100 * std::clamp(db, DecayFloorDb, 0.0)); };
    for (double db = -10; db > DecayFloorDb; db -= 10)
        s.line(0, ty(db), s.ScaleWidth(), ty(db), Yellow);
    const double stepMs = timeStepMs(lastMs);
    const float row = labelRow(s);
    std::vector<QRectF> boxes;
    LabelPlacer labels(s, LabelSize, boxes);
    for (double t = stepMs; t <= lastMs; t += stepMs) {
        s.line(tx(t), 0, tx(t), row, Green);
        labels.place(number(t), tx(t), row, Black);
    }
    if (band) {
        // The fitted lines over their own ranges, then the curve over them.
        const RoomFit* fits[3] = {&band->edtFit, &band->t20Fit, &band->t30Fit};
        const double ranges[3][2] = {{0, -10}, {-5, -25}, {-5, -35}};
        for (int i = 0; i < 3; ++i) {
            const RoomFit& f = *fits[i];
            if (!f.valid || !(f.slope < 0))
                continue;
            const double t0 = (ranges[i][0] - f.intercept) / f.slope, t1 = (ranges[i][1] - f.intercept) / f.slope;
            s.line(tx(1000 * t0), ty(ranges[i][0]), tx(1000 * t1), ty(ranges[i][1]), FitColors[i]);
        }
        if (!band->decayDb.empty() && band->decayStep > 0) {
            const auto count = static_cast<int>(band->decayDb.size());
            s.moveTo(0, ty(band->decayDb[0]));
            s.polylineTo(
                count,
                [&](int i) {
                    return std::pair{tx(1000 * band->decayStep * i), ty(band->decayDb[static_cast<std::size_t>(i)])};
                },
                DecayColor);
        }
        if (band->truncation > 0)
            s.line(tx(1000 * band->truncation), 0, tx(1000 * band->truncation), s.ScaleHeight(), GateColor);
    }
    const double leftX = labels.leftColumn(
        7, [](int k) { return std::string_view(k == 0 ? "-10dB" : "-70dB"); }, static_cast<float>(200 * twipX(s)));
    const int every = labels.rowStride(1000);
    for (int db = 10 * every; db < -DecayFloorDb; db += 10 * every)
        labelAbove(labels, s, "-" + std::to_string(db) + "dB", leftX, 100.0 * db, Black);
}

double decayTimeAt(double userX)
{
    return userX / 100;
}

double decayLevelAt(double userY)
{
    return -userY / 100;
}

double frequencyAt(double userX)
{
    return std::pow(10.0, (userX + ResponsePlot::leftX()) / 100);
}

double timeAt(const TimeAxis& axis, double userX)
{
    return axis.firstMs + userX / 100;
}

} // namespace LogSweepPlots

} // namespace audimera
