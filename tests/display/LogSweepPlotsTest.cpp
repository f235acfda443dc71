// The log-sweep views drawn on a surface of the response window's first size:
// one pixel check per view where a curve's colour must win over the grid,
// the level axis' choice, and the views at twice the pixel density.
#include "display/models/Drawing.h"
#include "display/models/LogSweepPlots.h"
#include "display/models/ResponsePlot.h"

#include <gtest/gtest.h>

#include <cmath>

namespace audimera {

namespace {

constexpr int WidthPx = 792;
constexpr int HeightPx = 211;

DrawingSurface surface(double ratio = 1)
{
    DrawingSurface s(LogSweepPlots::UnitsPerPixel);
    s.setDevicePixelRatio(ratio);
    s.setSize(WidthPx * LogSweepPlots::UnitsPerPixel, HeightPx * LogSweepPlots::UnitsPerPixel);
    return s;
}

float frequencyX(double f)
{
    return static_cast<float>(100 * Log10(f) - ResponsePlot::leftX());
}

uint32_t at(const DrawingSurface& s, float x, float y)
{
    return s.pixelColor(static_cast<int>(s.toPixelX(x)), static_cast<int>(s.toPixelY(y)));
}

// A flat response at level dB with the phase at phase degrees, 20 Hz to 20 kHz.
std::vector<ResponsePoint> flat(double level, double phase)
{
    std::vector<ResponsePoint> points;
    for (double f = 20; f <= 20000; f *= std::pow(2.0, 1.0 / 12))
        points.push_back({f, level, phase});
    return points;
}

} // namespace

TEST(LogSweepPlotsTest, LevelAxisHoldsEveryLevelInTheSmallestSpan)
{
    struct Case {
        double low, high;
        int span;
        double top;
    };
    for (const Case& c : {Case{-0.2, 0.3, 12, 6}, Case{-17, -8, 12, -6}, Case{-20, -9, 24, 0}, Case{-10, 10, 24, 12},
                          Case{-40, 5, 48, 6}, Case{-200, 0, 96, -54}}) {
        const LogSweepPlots::LevelAxis axis = LogSweepPlots::levelAxis({{100, c.low, {}}, {1000, c.high, {}}});
        EXPECT_EQ(axis.span, c.span) << c.low << " " << c.high;
        EXPECT_DOUBLE_EQ(axis.top, c.top) << c.low << " " << c.high;
    }
}

TEST(LogSweepPlotsTest, ResponseViewDrawsMagnitudeOverPhaseOnTheGrid)
{
    for (const double ratio : {1.0, 2.0}) {
        DrawingSurface s = surface(ratio);
        // 0 dB: the axis is 12 dB high, 0 dB at 6 dB below the top (y 600);
        // the phase at 90 degrees lies a quarter down (y 300).
        LogSweepPlots::drawResponse(s, flat(0, 90));
        EXPECT_EQ(s.pixelWidth(), static_cast<int>(WidthPx * ratio));
        EXPECT_EQ(at(s, frequencyX(1000), 600), LogSweepPlots::MagnitudeColor) << ratio;
        EXPECT_EQ(at(s, frequencyX(1000), 300), LogSweepPlots::PhaseColor) << ratio;
        // The 1 kHz grid line (dark green) where no curve is, and none below 10 Hz.
        EXPECT_EQ(at(s, frequencyX(1000), 900), rgbColor(0, 128, 0)) << ratio;
        EXPECT_EQ(at(s, frequencyX(8), 600), s.backColor()) << ratio;
    }
}

TEST(LogSweepPlotsTest, ImpulseViewDrawsTheEnergyCurveAndTheGate)
{
    DrawingSurface s = surface();
    // 1 ms a sample: peak at 0 ms, the gate at 90 ms, the axis to 112.5 ms.
    std::vector<float> impulse(100, 0.0f);
    impulse[10] = 0.5f;
    impulse[11] = 0.05f; // -20 dB re the peak
    LogSweepPlots::drawImpulse(s, impulse, 10, 1000, 90);
    const LogSweepPlots::TimeAxis axis = LogSweepPlots::timeAxis(impulse, 10, 1000, 90);
    EXPECT_DOUBLE_EQ(axis.firstMs, -10);
    EXPECT_DOUBLE_EQ(axis.lastMs, 112.5);
    // Auto: twice the last time above -60 dB re the peak (20 ms), from a
    // quarter of that before the peak.
    std::vector<float> tail(1000, 0.0f);
    tail[100] = 1;
    tail[120] = 0.002f;
    const LogSweepPlots::TimeAxis automatic = LogSweepPlots::timeAxis(tail, 100, 1000, 0);
    EXPECT_DOUBLE_EQ(automatic.firstMs, -10);
    EXPECT_DOUBLE_EQ(automatic.lastMs, 40);
    const auto tx = [&](double ms) { return static_cast<float>(100 * (ms - axis.firstMs)); };
    // The gate (purple) in the energy panel, between its grid lines.
    EXPECT_EQ(at(s, tx(90), 15000), LogSweepPlots::GateColor);
    // The energy curve at 1 ms reads -20 dB: y 12000, over the yellow line there.
    EXPECT_EQ(at(s, tx(1), 12000), LogSweepPlots::EnergyColor);
    // The linear curve reaches the top at the peak.
    EXPECT_EQ(at(s, tx(0), 0), LogSweepPlots::ImpulseColor);
    EXPECT_DOUBLE_EQ(LogSweepPlots::timeAt(axis, tx(42)), 42);
}

TEST(LogSweepPlotsTest, DistortionViewDrawsEachHarmonicAndThd)
{
    DrawingSurface s = surface();
    std::vector<DistortionPoint> rows;
    for (double f = 20; f <= 20000; f *= std::pow(2.0, 1.0 / 12)) {
        DistortionPoint d{f, {}, {}};
        d.harmonicDb[0] = -30;
        d.harmonicDb[1] = -50;
        d.harmonicDb[2] = -70;
        d.harmonicDb[3] = -85;
        d.thdPercent = 10; // -20 dB
        rows.push_back(d);
    }
    LogSweepPlots::drawDistortion(s, rows);
    const float x = frequencyX(1000);
    EXPECT_EQ(at(s, x, 3000), LogSweepPlots::HarmonicColors[0]);
    EXPECT_EQ(at(s, x, 5000), LogSweepPlots::HarmonicColors[1]);
    EXPECT_EQ(at(s, x, 7000), LogSweepPlots::HarmonicColors[2]);
    EXPECT_EQ(at(s, x, 8500), LogSweepPlots::HarmonicColors[3]);
    EXPECT_EQ(at(s, x, 2000), LogSweepPlots::ThdColor);
    EXPECT_NEAR(LogSweepPlots::frequencyAt(x), 1000, 1e-3);
}

} // namespace audimera
