#include "display/models/WaveformPlot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace audimera {

namespace {

// 256 x 88 pixels, the window's first size.
constexpr int W = 256;
constexpr int H = 88;
constexpr int First = 1000;

class WaveformPlotTest : public ::testing::Test {
protected:
    WaveformPlotTest() : rec(WaveformPlot::SampleCapacity, 0)
    {
        plot.surface().setSize(W, H);
        plot.setFrequencySource([this] { return frequency; });
    }

    // Four steps over the width (64 pixels each) and a peak of 1000 (0.04
    // pixels per unit): 0, 1000, 1000, -1000, 0 from First.
    void drawSteps(bool bad = false)
    {
        const int16_t steps[] = {0, 1000, 1000, -1000, 0};
        std::copy(std::begin(steps), std::end(steps), rec.begin() + First);
        plot.DrawCurve(4, 1000, rec.data(), First, bad, 0);
    }

    uint32_t at(int c, int r) { return plot.surface().pixelColor(c, r); }
    bool blank()
    {
        for (int r = 0; r < H; ++r)
            for (int c = 0; c < W; ++c)
                if (at(c, r) != WaveformPlot::BackColor)
                    return false;
        return true;
    }
    // Rows of column c in the given colour.
    std::vector<int> rowsOf(int c, RgbColor color)
    {
        std::vector<int> rows;
        for (int r = 0; r < H; ++r)
            if (at(c, r) == color)
                rows.push_back(r);
        return rows;
    }

    WaveformPlot plot;
    std::vector<int16_t> rec;
    double frequency = 1000;
};

constexpr RgbColor Green = WaveformPlot::WaveColor;
constexpr RgbColor Grey = WaveformPlot::CentreLineColor;

} // namespace

TEST_F(WaveformPlotTest, StaircaseFromEightyHertzPolylineBelow)
{
    // Sample values 1000, 0 and -1000 fall on rows 4, 44 and 84.
    for (double f : {80.0, 1000.0, 20000.0}) {
        SCOPED_TRACE(f);
        frequency = f;
        drawSteps();
        // Sample 0 is held flat on the centre line up to x = 1, then the
        // staircase rises straight up to 1000.
        EXPECT_EQ(rowsOf(32, Green), std::vector<int>{44});
        for (int r = 6; r <= 42; r += 4)
            EXPECT_EQ(at(64, r), Green) << r;
        EXPECT_EQ(rowsOf(160, Green), std::vector<int>{4});
        for (int r = 6; r <= 82; r += 4)
            EXPECT_EQ(at(192, r), Green) << r;
        EXPECT_EQ(rowsOf(224, Green), std::vector<int>{84});
    }
    for (double f : {79.99, 50.0}) {
        SCOPED_TRACE(f);
        frequency = f;
        drawSteps();
        // Straight from (0, 44) to (64, 4): half way up at column 32.
        const std::vector<int> rows = rowsOf(32, Green);
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_NEAR(rows[0], 24, 1);
        EXPECT_EQ(at(32, 44), Grey);
        EXPECT_EQ(at(64, 24), WaveformPlot::BackColor);
        // From 1000 down to -1000 across the fourth step: mid-way on the
        // centre line at column 160.
        EXPECT_NEAR(rowsOf(160, Green).at(0), 44, 1);
    }
}

TEST_F(WaveformPlotTest, GeometryAndCentreLine)
{
    // Peak 1000 around an offset of 20: 2200 units high, 1020 at y = 100,
    // 20 on the centre line at y = 1100.
    rec[First] = 1020;
    for (int i = First + 1; i <= First + 176; ++i)
        rec[i] = 20;
    plot.DrawCurve(176, 1000, rec.data(), First, false, 20);
    EXPECT_EQ(plot.surface().ScaleWidth(), 176.0f);
    EXPECT_EQ(plot.surface().ScaleHeight(), 2200.0f);
    EXPECT_EQ(plot.WaveHeight(), 2000);
    EXPECT_EQ(plot.WaveOffset(), 20);
    EXPECT_EQ(at(0, 4), Green);      // y = 100
    EXPECT_EQ(at(200, 44), Green);   // y = 1100, over the centre line
    EXPECT_EQ(at(W - 1, 44), Green); // sample First + 176 ends at the right edge

    // The window keeps its own copy: later writes to the caller's buffer do
    // not reach a redraw.
    const QImage before = plot.surface().image().copy();
    std::fill(rec.begin(), rec.end(), int16_t{-30000});
    plot.Redraw();
    EXPECT_EQ(plot.surface().image(), before);
}

TEST_F(WaveformPlotTest, BadBlockIsRedOverAGreyCentreLine)
{
    drawSteps(true);
    EXPECT_EQ(at(160, 4), WaveformPlot::BadWaveColor);
    EXPECT_EQ(at(160, 44), Grey);
    EXPECT_TRUE(rowsOf(100, Green).empty());
    drawSteps(false);
    EXPECT_EQ(at(160, 4), Green);
}

TEST_F(WaveformPlotTest, BlankWindowKeepsThePreviousScale)
{
    {
        SCOPED_TRACE("before any block: the centre line alone");
        plot.Redraw();
        EXPECT_EQ(rowsOf(10, Grey), std::vector<int>{44});
        EXPECT_TRUE(rowsOf(10, Green).empty());
        EXPECT_EQ(plot.WaveFirst(), -1);
    }
    drawSteps();
    for (auto [width, height] : {std::pair{0, 1000}, std::pair{4, 0}, std::pair{-3, -3}}) {
        SCOPED_TRACE(testing::Message() << width << " x " << height);
        plot.DrawCurve(width, height, rec.data(), First, false, 0);
        EXPECT_TRUE(blank());
        EXPECT_EQ(plot.surface().ScaleWidth(), 4.0f);
        EXPECT_EQ(plot.surface().ScaleHeight(), 2200.0f);
        EXPECT_EQ(plot.WaveWidth(), 4);
        EXPECT_EQ(plot.WaveHeight(), 2000);
    }
    // A later redraw (a resize) shows the centre line again.
    plot.Redraw();
    EXPECT_EQ(at(10, 44), Grey);
}

} // namespace audimera
