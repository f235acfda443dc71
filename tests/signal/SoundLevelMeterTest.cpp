#include "signal/SoundLevelMeter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

namespace audimera {

namespace {

using FW = FrequencyWeighting;
using TW = TimeWeighting;

// A 1 kHz sine of the amplitude pushed for the seconds given, its phase
// running on from sample `start`.
std::size_t pushSine(SoundLevelMeter& meter, int rate, double amplitude, double seconds, std::size_t start = 0)
{
    const std::size_t count = static_cast<std::size_t>(seconds * rate);
    std::vector<float> x(count);
    for (std::size_t i = 0; i < count; ++i)
        x[i] = static_cast<float>(amplitude * std::sin(2 * M_PI * 1000.0 * double(start + i) / rate));
    meter.push(x.data(), count);
    return start + count;
}

} // namespace

// IEC 61672-1's weightings at the nominal third-octave frequencies 10 Hz to
// 20 kHz (exact frequencies 1000 * 10^(k / 10)), rounded to 0.1 dB: the
// formula within 0.1 dB of them, the filter within 0.1 dB of the formula.
TEST(SoundLevelMeterTest, WeightingsMatchTheStandardsTable)
{
    const double a[34] = {-70.4, -63.4, -56.7, -50.5, -44.7, -39.4, -34.6, -30.2, -26.2, -22.5, -19.1, -16.1,
                          -13.4, -10.9, -8.6,  -6.6,  -4.8,  -3.2,  -1.9,  -0.8,  0.0,   0.6,   1.0,   1.2,
                          1.3,   1.2,   1.0,   0.5,   -0.1,  -1.1,  -2.5,  -4.3,  -6.6,  -9.3};
    const double c[34] = {-14.3, -11.2, -8.5, -6.2, -4.4, -3.0, -2.0, -1.3, -0.8, -0.5, -0.3, -0.2,
                          -0.1,  0.0,   0.0,  0.0,  0.0,  0.0,  0.0,  0.0,  0.0,  0.0,  -0.1, -0.2,
                          -0.3,  -0.5,  -0.8, -1.3, -2.0, -3.0, -4.4, -6.2, -8.5, -11.2};
    for (const int rate : {44100, 48000, 96000})
        for (const auto& [weighting, table] : {std::pair{FW::A, a}, std::pair{FW::C, c}}) {
            const SoundLevelMeter meter(rate, weighting, TW::Fast);
            double worst = 0;
            for (int k = -20; k <= 13; ++k) {
                const double hz = 1000 * std::pow(10.0, k / 10.0);
                const double formula = SoundLevelMeter::weightingDb(weighting, hz);
                EXPECT_NEAR(formula, table[k + 20], 0.1) << hz << " Hz";
                EXPECT_NEAR(meter.filterDb(hz), formula, 0.1) << rate << " Hz rate, " << hz << " Hz";
                worst = std::max(worst, std::abs(meter.filterDb(hz) - formula));
            }
            std::printf("%s at %d Hz: worst filter error %.4f dB\n", weighting == FW::A ? "A" : "C", rate, worst);
        }
}

// Calibrated with a 1 kHz sine read as 94.0 dB (Z), the sine 20 dB lower
// reads 74.0 dB in every weighting, once the level has settled, and as Leq;
// a full-scale sine's peak is 0 dB plus the offset.
TEST(SoundLevelMeterTest, CalibrationCarriesOver)
{
    struct Case {
        int rate;
        FW frequency;
        TW time;
    };
    for (const Case& c : {Case{48000, FW::Z, TW::Fast}, Case{48000, FW::A, TW::Fast}, Case{48000, FW::C, TW::Slow},
                          Case{44100, FW::A, TW::Slow}, Case{96000, FW::Z, TW::Slow}}) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, weighting " << "ACZ"[int(c.frequency)] << " "
                                        << (c.time == TW::Fast ? "Fast" : "Slow"));
        SoundLevelMeter calibration(c.rate, FW::Z, TW::Fast);
        pushSine(calibration, c.rate, 0.3, 1.0);
        const double offset = 94.0 - calibration.reading().leqDb;

        SoundLevelMeter meter(c.rate, c.frequency, c.time);
        meter.setOffset(offset);
        std::size_t at = pushSine(meter, c.rate, 0.03, 8.0); // eight Slow time constants
        meter.reset();
        at = pushSine(meter, c.rate, 0.03, 1.0, at);
        const SoundLevelReading r = meter.reading();
        EXPECT_NEAR(r.levelDb, 74.0, 0.1);
        EXPECT_NEAR(r.leqDb, 74.0, 0.1);
        EXPECT_NEAR(r.maxLevelDb, 74.0, 0.1);
        EXPECT_NEAR(r.seconds, 1.0, 1e-3);

        at = pushSine(meter, c.rate, 1.0, 0.1, at); // past the step's own transient
        meter.reset();
        pushSine(meter, c.rate, 1.0, 0.1, at);
        EXPECT_NEAR(meter.reading().peakDb, offset, 0.1);
    }
}

// After a step 20 dB down, the level falls at first at 10 log10(e) / tau dB/s
// (the floor 20 dB down slows it by under 2 % over the 3 dB timed).
TEST(SoundLevelMeterTest, LevelDecaysAtTheTimeWeightingsRate)
{
    struct Case {
        TW time;
        FW frequency;
        double dbPerSecond;
    };
    for (const Case& c : {Case{TW::Fast, FW::A, 34.7}, Case{TW::Slow, FW::Z, 4.3}, Case{TW::Fast, FW::C, 34.7}}) {
        constexpr int Rate = 48000;
        SoundLevelMeter meter(Rate, c.frequency, c.time);
        std::size_t at = pushSine(meter, Rate, 0.5, 10 * SoundLevelMeter::timeConstant(c.time));
        const double start = meter.reading().levelDb;
        double t05 = -1, t35 = -1;
        for (int step = 1; t35 < 0 && step < 40000; ++step) { // 0.25 ms steps
            at = pushSine(meter, Rate, 0.05, 0.00025, at);
            const double fall = start - meter.reading().levelDb;
            if (t05 < 0 && fall >= 0.5)
                t05 = step / 4000.0;
            if (fall >= 3.5)
                t35 = step / 4000.0;
        }
        const double rate = 3.0 / (t35 - t05);
        std::printf("decay %s: %.2f dB/s\n", c.time == TW::Fast ? "Fast" : "Slow", rate);
        EXPECT_NEAR(rate, c.dbPerSecond, 0.03 * c.dbPerSecond);
    }
}

} // namespace audimera
