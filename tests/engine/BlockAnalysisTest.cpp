// The block analysis as plain arithmetic on a block, and how a run hands
// the analysed block to the waveform and spectrum windows.
#include "engine/BlockAnalysis.h"
#include "tests/engine/EngineFixture.h"

#include <cmath>
#include <numbers>
#include <vector>

namespace audimera {

namespace {

class BlockAnalysisTest : public ::testing::Test {
protected:
    std::vector<int16_t> rec = std::vector<int16_t>(30001);
    std::vector<int16_t> fftIn = std::vector<int16_t>(30001);
    std::vector<float> fftOut = std::vector<float>(30001);

    void fill(double amplitude, double frequency, double phase = 0)
    {
        for (int i = 0; i < 30000; ++i)
            rec[i] = static_cast<int16_t>(
                std::lround(amplitude * std::sin(2 * std::numbers::pi * frequency * i / 44100 + phase)));
    }
    void fillConstant(int16_t v)
    {
        for (int i = 0; i < 30000; ++i)
            rec[i] = v;
    }
    BlockResult analyse(double frequency, bool tonePass = true)
    {
        return AnalyseBlock(rec.data(), frequency, tonePass, fftIn.data(), fftOut.data());
    }
};

TEST_F(BlockAnalysisTest, TriggerFindsTheRisingZeroCrossingNearSample4000)
{
    struct Case {
        int16_t level;   // the whole block
        int at = -1;     // then this sample
        int16_t value = 0;
        int start;
    } cases[] = {
        {100, 4000, 0, 4000}, // on a zero: stays
        {-5, -1, 0, 1000},    // negative to the end: the fallback
        {7, 0, -1, 1},        // positive from 1 to 4000: the first sample
        {7, 3990, 0, 3990},   // the crossing before
        {-7, 4100, 3, 4100},  // the crossing after
    };
    for (const Case& c : cases) {
        fillConstant(c.level);
        if (c.at >= 0)
            rec[c.at] = c.value;
        EXPECT_EQ(analyse(1000).SampleStart, c.start) << c.level << " with " << c.value << " at " << c.at;
    }

    // A sine's section starts at a sample <= 0 followed by a positive one.
    fill(10000, 440, 1.0);
    const int S = analyse(1000).SampleStart;
    EXPECT_LE(rec[S], 0);
    EXPECT_GT(rec[S + 1], 0);
    EXPECT_LE(S, 4000);
    EXPECT_GT(S, 4000 - 101);
}

TEST_F(BlockAnalysisTest, CalibrationPassesStartAt4000WithoutBadWaveTest)
{
    fill(10000, 1000);
    rec[5000] = 0;
    rec[5001] = 30000; // a big jump
    const BlockResult calibration = analyse(1000, false);
    EXPECT_EQ(calibration.SampleStart, 4000);
    EXPECT_FALSE(calibration.Satured);
    EXPECT_TRUE(analyse(1000, true).Satured);
}

TEST_F(BlockAnalysisTest, LevelsOfTheSection)
{
    fillConstant(0);
    BlockResult b = analyse(1000, false);
    EXPECT_EQ(b.PeakLevel, 1); // never 0
    EXPECT_EQ(b.MeanLevel, 0);
    EXPECT_EQ(b.MaxStep, 0);

    fillConstant(-300);
    rec[20000] = 500;
    b = analyse(1000, false);
    EXPECT_EQ(b.PeakLevel, 500);
    EXPECT_EQ(b.MaxStep, 800);
    // The divisor is one less than the number of samples summed.
    EXPECT_DOUBLE_EQ(b.MeanLevel, (300.0 * 25999 + 500) / 25999);

    // A full-scale sine: mean magnitude 2/pi of the peak.
    fill(16000, 1000);
    b = analyse(1000);
    EXPECT_NEAR(b.MeanLevel / 16000, 2 / std::numbers::pi, 2e-3);
    EXPECT_EQ(b.PeakLevel, 16000);
    // The section is copied for the FFT window, the work array zeroed; the
    // same figures without the copy.
    fftOut[5] = 3;
    b = analyse(1000);
    EXPECT_EQ(fftIn[0], rec[b.SampleStart]);
    EXPECT_EQ(fftIn[29999 - b.SampleStart], rec[29999]);
    EXPECT_EQ(fftOut[5], 0);
    const BlockResult bare = AnalyseBlock(rec.data(), 1000, true);
    EXPECT_EQ(bare.SampleStart, b.SampleStart);
    EXPECT_EQ(bare.MeanLevel, b.MeanLevel);
}

TEST_F(BlockAnalysisTest, SaturationAndMalformedWaves)
{
    fill(10000, 1000);
    rec[12000] = -32768;
    BlockResult b = analyse(1000);
    EXPECT_TRUE(b.Satured);
    EXPECT_EQ(rec[12000], -32767);
    EXPECT_EQ(b.PeakLevel, 32767);

    // A 1 kHz sine with one sample dropped to 0 near a peak.
    fill(10000, 1000);
    int peakAt = 10000;
    while (std::abs(rec[peakAt]) < 9900)
        ++peakAt;
    rec[peakAt] = 0;
    b = analyse(1000);
    EXPECT_GT(b.MaxStep / (2.0 * b.PeakLevel), 0.4);
    EXPECT_TRUE(b.Satured);

    // The same glitch at 5 kHz is never tested.
    fill(10000, 5000);
    rec[10003] = 0;
    EXPECT_FALSE(analyse(5000).Satured);

    // Clean sines up to 4 kHz pass.
    for (double f : {20.0, 100.0, 1000.0, 3999.0}) {
        fill(10000, f, 0.3);
        b = analyse(f);
        EXPECT_FALSE(b.Satured) << f;
        EXPECT_LT(b.MaxStep / (2.0 * b.PeakLevel), 0.29) << f;
    }
}

TEST_F(BlockAnalysisTest, BadWaveGatesAreStrict)
{
    // A square wave of magnitude 400: mean exactly 400, ratio 800/800 = 1.
    for (int i = 0; i < 30000; ++i)
        rec[i] = (i / 50) % 2 ? 400 : -400;
    rec[4000] = 0; // trigger at 4000 keeps the sum simple
    EXPECT_FALSE(analyse(1000, false).Satured); // not a tone pass: no test at all

    // Mean of exactly 400 over the section does not enable the test.
    for (int i = 0; i < 30000; ++i)
        rec[i] = (i % 2) ? 400 : -400;
    rec[4000] = 0;
    rec[29999] = 0;
    rec[29998] = 800; // keeps the magnitude sum at 400 * 25999
    BlockResult b = analyse(1000);
    EXPECT_EQ(b.SampleStart, 4000);
    EXPECT_DOUBLE_EQ(b.MeanLevel, 400);
    EXPECT_FALSE(b.Satured);

    // A ratio of exactly 0.4 does not set it either: peak 1000, steps 800.
    const int16_t pattern[4] = {200, 1000, 200, -600};
    for (int i = 0; i < 30000; ++i)
        rec[i] = pattern[i % 4];
    b = analyse(1000);
    EXPECT_EQ(b.PeakLevel, 1000);
    EXPECT_EQ(b.MaxStep, 800);
    EXPECT_GT(b.MeanLevel, 400);
    EXPECT_FALSE(b.Satured);
    // One step more and it does.
    rec[20002] = -601;
    EXPECT_TRUE(analyse(1000).Satured);
}

TEST_F(BlockAnalysisTest, WaveformShowsFourPeriodsWithTheirOffset)
{
    fill(8000, 1000);
    for (int i = 0; i < 30000; ++i)
        rec[i] += 100;
    const BlockResult block = analyse(1000, false); // from 4000
    struct Case {
        double frequency;
        int width;
    } cases[] = {{20000, 9}, {20, 8820}, {1000, 176}, {1, 29999 - 4000}}; // too low: the section
    for (const Case& c : cases)
        EXPECT_EQ(waveformView(rec.data(), block, c.frequency).OsciWidth, c.width) << c.frequency;
    const WaveformView view = waveformView(rec.data(), block, 1000);
    EXPECT_NEAR(view.Off, 100, 50);
    EXPECT_GE(view.OsciHeight, 7900);
}

TEST_F(BlockAnalysisTest, FftWindowNeedsALongEnoughSection)
{
    fillConstant(-50);
    rec[13998] = 0;
    BlockResult b = analyse(100);
    EXPECT_EQ(b.SampleStart, 13998);
    EXPECT_TRUE(b.longEnoughForFft());
    fillConstant(-50);
    rec[13999] = 0;
    b = analyse(100);
    EXPECT_EQ(b.SampleStart, 13999);
    EXPECT_FALSE(b.longEnoughForFft());
}

TEST(LevelFormulasTest, SignalToNoiseLevelAndReference)
{
    EXPECT_NEAR(signalToNoise(10000, 10), 60, 1e-12);
    EXPECT_NEAR(blockLevel(1000, 2000), -6.0206, 1e-4);
    // Silence: Log10(0) is -1000, so a level of -20000 dB.
    EXPECT_EQ(blockLevel(0, 2000), -20000);
    EXPECT_DOUBLE_EQ(calibrationReference(580), 1000);
}

} // namespace

} // namespace audimera
