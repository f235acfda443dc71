#include "display/models/FftPlot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace audimera {

namespace {

constexpr int N = AudioFFT::Size;
constexpr int W = 600; // pixels
constexpr int H = 214;
const double Pi = std::acos(-1.0);

class FftPlotTest : public ::testing::Test {
protected:
    FftPlotTest() : in(N, 0), out(N, 0.0f) { plot.Picture1().setSize(W, H); }

    // amplitude x sin(2 pi k0 n / N + phase), added to the input.
    void addTone(double amplitude, int k0, double phase)
    {
        for (int n = 0; n < N; ++n)
            in[n] = static_cast<int16_t>(
                in[n] + std::lround(amplitude * std::sin(2 * Pi * k0 * n / N + phase)));
    }

    void trace(bool satured = false) { plot.TraceFFT(in.data(), out.data(), satured); }

    DrawingSurface& picture() { return plot.Picture1(); }
    int col(float x) { return static_cast<int>(std::floor(picture().toPixelX(x))); }
    int row(float y) { return static_cast<int>(std::floor(picture().toPixelY(y))); }
    uint32_t at(int c, int r) { return picture().pixelColor(c, r); }
    int baseRow() { return row(static_cast<float>(plot.FFTPeak())); }

    // Whether column c holds colour between rows r1 and r2 (inclusive).
    bool columnHas(int c, int r1, int r2, RgbColor color)
    {
        for (int r = r1; r <= r2; ++r)
            if (at(c, r) == color)
                return true;
        return false;
    }

    FftPlot plot;
    std::vector<int16_t> in;
    std::vector<float> out;
};

} // namespace

// A measured tone starts at a rising zero crossing: a sine, whose transform
// is almost purely imaginary. Its bin must still reach the top edge, as a
// cosine's does.
TEST_F(FftPlotTest, ToneAtBinReachesTopEdgeWhateverItsPhase)
{
    const int k0 = 372; // 1001.3 Hz
    for (double phase : {0.0, Pi / 2, 0.7}) {
        SCOPED_TRACE(phase);
        std::fill(in.begin(), in.end(), 0);
        addTone(32767, k0, phase);
        trace();

        // |X[k0]| = A N / 2 for a full-scale tone.
        EXPECT_NEAR(plot.FFTPeak(), std::sqrt(32767.0 * N / 2), 0.01 * std::sqrt(32767.0 * N / 2));
        const int peakCol = col(FftPlot::xOfBin(k0));
        EXPECT_EQ(at(peakCol, 0), FftPlot::SpectrumColor);
        for (int c = 0; c < W; ++c) {
            if (at(c, 0) == FftPlot::SpectrumColor) {
                EXPECT_LE(std::abs(c - peakCol), 1) << "another peak at column " << c;
            }
        }
        // Far from the tone the spectrum lies near the base line.
        EXPECT_TRUE(columnHas(col(FftPlot::xOfFrequency(100)), baseRow() - 3, baseRow(),
                              FftPlot::SpectrumColor));
    }
}

TEST_F(FftPlotTest, ScaleComesFromBinsThreeToHalfTheRate)
{
    {
        SCOPED_TRACE("silence: FFTPeak 1, the spectrum on the base line");
        trace();
        EXPECT_EQ(plot.FFTPeak(), 1.0);
        EXPECT_FLOAT_EQ(picture().ScaleHeight(), static_cast<float>(1 + 14.0 / H));
        EXPECT_EQ(baseRow(), H - 14);
        const int c = col(FftPlot::xOfFrequency(150)); // between two grid lines
        EXPECT_EQ(at(c, baseRow()), FftPlot::SpectrumColor);
        EXPECT_EQ(at(c, baseRow() - 5), FftPlot::BackColor);
    }
    {
        SCOPED_TRACE("DC and bin 2 are stronger but never set the scale");
        std::fill(in.begin(), in.end(), 8000);
        addTone(6000, 2, 0);
        addTone(1000, 200, 0.3);
        trace();
        EXPECT_NEAR(plot.FFTPeak(), std::sqrt(1000.0 * N / 2), 0.01 * std::sqrt(1000.0 * N / 2));
        EXPECT_EQ(at(col(FftPlot::xOfBin(200)), 0), FftPlot::SpectrumColor);
    }
    {
        SCOPED_TRACE("bin 8192, the right edge, does set it");
        for (int n = 0; n < N; ++n)
            in[n] = static_cast<int16_t>(n % 2 ? -5000 : 5000);
        trace();
        EXPECT_NEAR(plot.FFTPeak(), std::sqrt(5000.0 * N), 1e-3 * std::sqrt(5000.0 * N));
        // Bin 8192 lies on the right edge itself; the climb to it fills the
        // last column.
        EXPECT_TRUE(columnHas(W - 1, 1, baseRow() - 1, FftPlot::SpectrumColor));
    }
}

TEST_F(FftPlotTest, SpectrumSpansTenHertzToTheRightEdgeInItsColour)
{
    addTone(20000, 1000, 0);
    for (bool satured : {false, true}) {
        SCOPED_TRACE(satured);
        trace(satured);
        const RgbColor color = satured ? FftPlot::BadSpectrumColor : FftPlot::SpectrumColor;
        const RgbColor other = satured ? FftPlot::SpectrumColor : FftPlot::BadSpectrumColor;
        EXPECT_EQ(at(col(FftPlot::xOfBin(1000)), 0), color);
        EXPECT_TRUE(columnHas(W - 1, baseRow() - 3, baseRow(), color));
        const int first = col(FftPlot::xOfFrequency(10));
        EXPECT_TRUE(columnHas(first, 0, baseRow(), color));
        for (int c = 0; c < W; ++c) {
            ASSERT_FALSE(columnHas(c, 0, H - 1, other)) << c;
            if (c < first) {
                ASSERT_FALSE(columnHas(c, 0, H - 1, color)) << "left of 10 Hz at " << c;
            }
        }
    }
}

TEST_F(FftPlotTest, GridLinesLabelsAndBaseLine)
{
    plot.DrawGrid(); // FFTPeak 100 as at load
    EXPECT_FLOAT_EQ(picture().ScaleWidth(), static_cast<float>(100 * std::log10(22050.0 / 9)));
    EXPECT_FLOAT_EQ(picture().ScaleHeight(), static_cast<float>(100 + 1400.0 / H));
    const int base = baseRow();
    ASSERT_EQ(base, H - 14);

    {
        SCOPED_TRACE("grid lines from the top to the base line, none in between");
        for (int f : {10, 90, 100, 1000, 5000, 10000, 20000}) {
            const int c = col(FftPlot::xOfFrequency(f));
            for (int r = 0; r <= base; ++r)
                ASSERT_EQ(at(c, r), FftPlot::GridColor) << f << " Hz, row " << r;
        }
        const int c1k = col(FftPlot::xOfFrequency(1000));
        EXPECT_EQ(at(c1k - 2, base / 2), FftPlot::BackColor);
        EXPECT_EQ(at(c1k + 2, base / 2), FftPlot::BackColor);
        EXPECT_EQ(at(col(FftPlot::xOfFrequency(1500)), base / 2), FftPlot::BackColor);
        EXPECT_EQ(at(col(FftPlot::xOfFrequency(1000)), base + 1), FftPlot::BackColor);
    }
    {
        SCOPED_TRACE("base line across the whole width");
        for (int c = 0; c < W; c += 7)
            ASSERT_EQ(at(c, base), FftPlot::GridColor) << c;
        EXPECT_EQ(at(W - 1, base), FftPlot::GridColor);
    }
    {
        SCOPED_TRACE("labels one pixel per font unit, tops 2 pixels under the base line");
        const float unit = picture().ScaleWidth() / W;
        const int top = row(static_cast<float>(100 + 2 * 100.0 / H));
        EXPECT_EQ(top, base + 2);
        // "1k": two cells centred on 1 kHz; the 1's strokes at column 5 of
        // the first cell, the k's left bar at column 1 of the second.
        const float x1k = FftPlot::xOfFrequency(1000);
        const int one = col(x1k - 7 * unit + 5 * unit);
        const int bar = col(x1k + 1 * unit);
        for (int r = top + 2; r <= top + 7; ++r) {
            EXPECT_EQ(at(one, r), FftPlot::LabelColor) << r;
            EXPECT_EQ(at(bar, r), FftPlot::LabelColor) << r;
        }
        EXPECT_EQ(at(one - 2, top + 3), FftPlot::BackColor);
        // "500": three cells; the middle 0's left bar at column 1 of its cell.
        const float x500 = FftPlot::xOfFrequency(500);
        EXPECT_EQ(at(col(x500 - 3.5f * unit + 1 * unit), top + 6), FftPlot::LabelColor);
        // No label at 30 Hz.
        const int c30 = col(FftPlot::xOfFrequency(30));
        EXPECT_FALSE(columnHas(c30, top, H - 1, FftPlot::LabelColor));
    }
}

TEST_F(FftPlotTest, NothingIsDrawnWhileThePictureHasNoHeight)
{
    picture().setSize(W, 0);
    addTone(32767, 500, 0);
    trace(); // must neither divide by the height nor draw
    EXPECT_NEAR(plot.FFTPeak(), std::sqrt(32767.0 * N / 2), 0.01 * std::sqrt(32767.0 * N / 2));
    EXPECT_EQ(picture().ScaleHeight(), 1.0f);
    EXPECT_TRUE(std::isfinite(picture().ScaleHeight()));
    plot.DrawGrid();
    EXPECT_EQ(picture().ScaleHeight(), 1.0f);

    // Once the window has a height again the grid follows the last scale.
    picture().setSize(W, H);
    plot.DrawGrid();
    EXPECT_FLOAT_EQ(picture().ScaleHeight(),
                    static_cast<float>(plot.FFTPeak() + 14 * plot.FFTPeak() / H));
    EXPECT_EQ(at(col(FftPlot::xOfFrequency(1000)), 10), FftPlot::GridColor);
}

} // namespace audimera
