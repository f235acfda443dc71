#include "EngineFixture.h"

#include <cmath>
#include <numbers>

namespace {

class BlockAnalysisTest : public ::testing::Test {
protected:
    EngineRig<SilentSoundDevice> rig;
    MeasurementEngine& e = *rig.engine;

    void fill(double amplitude, double frequency, double phase = 0)
    {
        for (int i = 0; i < 30000; ++i)
            e.RecBuffer[i] = static_cast<int16_t>(
                std::lround(amplitude * std::sin(2 * std::numbers::pi * frequency * i / 44100 + phase)));
    }
    void fillConstant(int16_t v)
    {
        for (int i = 0; i < 30000; ++i)
            e.RecBuffer[i] = v;
    }
};

TEST_F(BlockAnalysisTest, TriggerFindsTheRisingZeroCrossingNearSample4000)
{
    e.Frequency = 1000;
    fillConstant(100);
    e.RecBuffer[4000] = 0;
    e.AnalyseBlock(true);
    EXPECT_EQ(e.SampleStart, 4000);

    fillConstant(-5); // negative from 4000 to the end
    e.AnalyseBlock(true);
    EXPECT_EQ(e.SampleStart, 1000);

    fillConstant(7); // positive from 1 to 4000
    e.RecBuffer[0] = -1;
    e.AnalyseBlock(true);
    EXPECT_EQ(e.SampleStart, 1);

    fillConstant(7);
    e.RecBuffer[3990] = 0;
    e.AnalyseBlock(true);
    EXPECT_EQ(e.SampleStart, 3990);

    fillConstant(-7);
    e.RecBuffer[4100] = 3;
    e.AnalyseBlock(true);
    EXPECT_EQ(e.SampleStart, 4100);

    // A sine's section starts at a sample <= 0 followed by a positive one.
    fill(10000, 440, 1.0);
    e.AnalyseBlock(true);
    EXPECT_LE(e.RecBuffer[e.SampleStart], 0);
    EXPECT_GT(e.RecBuffer[e.SampleStart + 1], 0);
    EXPECT_LE(e.SampleStart, 4000);
    EXPECT_GT(e.SampleStart, 4000 - 101);
}

TEST_F(BlockAnalysisTest, CalibrationPassesStartAt4000WithoutBadWaveTest)
{
    e.Frequency = 1000;
    fill(10000, 1000);
    e.RecBuffer[5000] = 0;
    e.RecBuffer[5001] = 30000; // a big jump
    e.AnalyseBlock(false);
    EXPECT_EQ(e.SampleStart, 4000);
    EXPECT_FALSE(e.Satured);
    e.AnalyseBlock(true);
    EXPECT_TRUE(e.Satured);
}

TEST_F(BlockAnalysisTest, LevelsOfTheSection)
{
    e.Frequency = 1000;
    fillConstant(0);
    e.AnalyseBlock(false);
    EXPECT_EQ(e.PeakLevel, 1); // never 0
    EXPECT_EQ(e.MeanLevel, 0);
    EXPECT_EQ(e.MaxStep, 0);

    fillConstant(-300);
    e.RecBuffer[20000] = 500;
    e.AnalyseBlock(false);
    EXPECT_EQ(e.PeakLevel, 500);
    EXPECT_EQ(e.MaxStep, 800);
    // The divisor is one less than the number of samples summed.
    EXPECT_DOUBLE_EQ(e.MeanLevel, (300.0 * 25999 + 500) / 25999);

    // A full-scale sine: mean magnitude 2/pi of the peak.
    fill(16000, 1000);
    e.AnalyseBlock(true);
    EXPECT_NEAR(e.MeanLevel / 16000, 2 / std::numbers::pi, 2e-3);
    EXPECT_EQ(e.PeakLevel, 16000);
    // The section is copied for the FFT window, the work array zeroed.
    e.FFTOUT[5] = 3;
    e.AnalyseBlock(true);
    EXPECT_EQ(e.FFTIn[0], e.RecBuffer[e.SampleStart]);
    EXPECT_EQ(e.FFTIn[29999 - e.SampleStart], e.RecBuffer[29999]);
    EXPECT_EQ(e.FFTOUT[5], 0);
}

TEST_F(BlockAnalysisTest, SaturationAndMalformedWaves)
{
    e.Frequency = 1000;
    fill(10000, 1000);
    e.RecBuffer[12000] = -32768;
    e.AnalyseBlock(true);
    EXPECT_TRUE(e.Satured);
    EXPECT_EQ(e.RecBuffer[12000], -32767);
    EXPECT_EQ(e.PeakLevel, 32767);

    // A 1 kHz sine with one sample dropped to 0 near a peak.
    fill(10000, 1000);
    int peakAt = 10000;
    while (std::abs(e.RecBuffer[peakAt]) < 9900)
        ++peakAt;
    e.RecBuffer[peakAt] = 0;
    e.AnalyseBlock(true);
    EXPECT_GT(e.MaxStep / (2.0 * e.PeakLevel), 0.4);
    EXPECT_TRUE(e.Satured);

    // The same glitch at 5 kHz is never tested.
    e.Frequency = 5000;
    fill(10000, 5000);
    e.RecBuffer[10003] = 0;
    e.AnalyseBlock(true);
    EXPECT_FALSE(e.Satured);

    // Clean sines up to 4 kHz pass.
    for (double f : {20.0, 100.0, 1000.0, 3999.0}) {
        e.Frequency = f;
        fill(10000, f, 0.3);
        e.AnalyseBlock(true);
        EXPECT_FALSE(e.Satured) << f;
        EXPECT_LT(e.MaxStep / (2.0 * e.PeakLevel), 0.29) << f;
    }
}

TEST_F(BlockAnalysisTest, BadWaveGatesAreStrict)
{
    e.Frequency = 1000;
    // A square wave of magnitude 400: mean exactly 400, ratio 800/800 = 1.
    for (int i = 0; i < 30000; ++i)
        e.RecBuffer[i] = (i / 50) % 2 ? 400 : -400;
    e.RecBuffer[4000] = 0; // trigger at 4000 keeps the sum simple
    e.AnalyseBlock(false);
    // Not a tone pass: no test at all.
    EXPECT_FALSE(e.Satured);

    // Mean of exactly 400 over the section does not enable the test.
    for (int i = 0; i < 30000; ++i)
        e.RecBuffer[i] = (i % 2) ? 400 : -400;
    e.RecBuffer[4000] = 0;
    e.RecBuffer[29999] = 0;
    e.RecBuffer[29998] = 800; // keeps the magnitude sum at 400 * 25999
    e.AnalyseBlock(true);
    EXPECT_EQ(e.SampleStart, 4000);
    EXPECT_DOUBLE_EQ(e.MeanLevel, 400);
    EXPECT_FALSE(e.Satured);

    // A ratio of exactly 0.4 does not set it either: peak 1000, steps 800.
    const int16_t pattern[4] = {200, 1000, 200, -600};
    for (int i = 0; i < 30000; ++i)
        e.RecBuffer[i] = pattern[i % 4];
    e.AnalyseBlock(true);
    EXPECT_EQ(e.PeakLevel, 1000);
    EXPECT_EQ(e.MaxStep, 800);
    EXPECT_GT(e.MeanLevel, 400);
    EXPECT_FALSE(e.Satured);
    // One step more and it does.
    e.RecBuffer[20002] = -601;
    e.AnalyseBlock(true);
    EXPECT_TRUE(e.Satured);
}

TEST_F(BlockAnalysisTest, WaveformWindowShowsFourPeriodsWithOffset)
{
    fill(8000, 1000);
    for (int i = 0; i < 30000; ++i)
        e.RecBuffer[i] += 100;
    e.Frequency = 20000;
    e.AnalyseBlock(false);
    ASSERT_EQ(rig.displays.curves.size(), 1u);
    EXPECT_EQ(rig.displays.curves[0].width, 9);
    EXPECT_EQ(rig.displays.curves[0].first, 4000);

    e.Frequency = 20;
    e.AnalyseBlock(false);
    EXPECT_EQ(rig.displays.curves[1].width, 8820);

    e.Frequency = 1000;
    e.AnalyseBlock(false);
    const auto& c = rig.displays.curves[2];
    EXPECT_EQ(c.width, 176);
    EXPECT_NEAR(c.offset, 100, 50);
    EXPECT_GE(c.height, 7900);

    // A tone too low for the section: the width stops at the section's end.
    e.Frequency = 1;
    e.AnalyseBlock(false);
    EXPECT_EQ(rig.displays.curves[3].width, 29999 - 4000);

    // The box unticked: nothing drawn. The red flag needs the bad-wave box.
    rig.panel["CheckInput"].value = 0;
    e.AnalyseBlock(false);
    EXPECT_EQ(rig.displays.curves.size(), 4u);
    rig.panel["CheckInput"].value = 1;
    e.RecBuffer[5000] = 32767;
    e.AnalyseBlock(false);
    EXPECT_TRUE(rig.displays.curves.back().bad);
    rig.panel["CheckBadInputWave"].value = 0;
    e.AnalyseBlock(false);
    EXPECT_FALSE(rig.displays.curves.back().bad);
}

TEST_F(BlockAnalysisTest, FftWindowNeedsALongEnoughSection)
{
    e.Frequency = 100;
    fillConstant(-50);
    e.RecBuffer[13998] = 0;
    e.AnalyseBlock(true);
    EXPECT_EQ(e.SampleStart, 13998);
    EXPECT_EQ(rig.displays.ffts.size(), 1u);

    fillConstant(-50);
    e.RecBuffer[13999] = 0;
    e.AnalyseBlock(true);
    EXPECT_EQ(e.SampleStart, 13999);
    EXPECT_EQ(rig.displays.ffts.size(), 1u);

    // Saturation is passed on only with the bad-wave box ticked.
    fillConstant(-32767);
    e.RecBuffer[4000] = 0;
    e.AnalyseBlock(true);
    EXPECT_TRUE(rig.displays.ffts.back());
    rig.panel["CheckBadInputWave"].value = 0;
    e.AnalyseBlock(true);
    EXPECT_FALSE(rig.displays.ffts.back());
    rig.panel["CheckFFT"].value = 0;
    e.AnalyseBlock(true);
    EXPECT_EQ(rig.displays.ffts.size(), 3u);
}

TEST_F(BlockAnalysisTest, LevelFormulasAndCorrections)
{
    e.Noise = 10;
    e.PeakLevel = 10000;
    EXPECT_NEAR(e.signalToNoise(), 60, 1e-12);

    e.Calib = 2000;
    e.MeanLevel = 1000;
    e.Frequency = 1000;
    EXPECT_NEAR(e.correctedLevel(), -6.0206, 1e-4);
    e.CalibCurveAt(0, 2000) = 1.5;
    e.CalibCurveAt(2, 2000) = -0.25;
    e.CalibCurveAt(1, 2000) = 100; // not enabled
    e.CalibEnable[0] = true;
    e.CalibEnable[2] = true;
    EXPECT_NEAR(e.correctedLevel(), -6.0206 - 1.25, 1e-4);
    // The slot is twice the frequency, rounded half to even.
    e.Frequency = 1000.25; // 2000.5 -> 2000
    EXPECT_NEAR(e.correctedLevel(), 20 * std::log10(0.5) - 1.25, 1e-9);

    // Silence: Log10(0) is -1000, so a level of -20000 dB.
    e.CalibEnable = {};
    e.MeanLevel = 0;
    EXPECT_EQ(e.correctedLevel(), -20000);
}

} // namespace
