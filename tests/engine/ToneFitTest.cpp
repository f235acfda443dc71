// The least-squares tone fit on synthetic blocks: amplitudes, the narrow-band
// level against the mean magnitude, harmonics and THD, THD+N with noise.
#include "engine/BlockAnalysis.h"
#include "engine/ToneFit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace audimera {

namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr double Rate = 44100;
constexpr int End = BlockAnalysis::SectionEnd;

double dB(double ratio)
{
    return 20 * std::log10(ratio);
}

// A block of RecordSamples: DC plus sines (amplitude, harmonic number,
// phase), rounded to 16 bits, optionally with Gaussian noise.
std::vector<int16_t> block(double hz, double dc, std::vector<std::array<double, 3>> parts, double noise = 0,
                           double phase0 = 0)
{
    std::vector<int16_t> x(End + 1);
    std::mt19937 random(7);
    std::normal_distribution<double> gauss(0, noise > 0 ? noise : 1);
    for (int n = 0; n <= End; ++n) {
        double v = dc;
        for (const auto& [a, k, phase] : parts)
            v += a * std::sin(k * (2 * Pi * hz * n / Rate + phase0) + phase);
        if (noise > 0)
            v += gauss(random);
        x[n] = static_cast<int16_t>(std::lround(std::clamp(v, -32767.0, 32767.0)));
    }
    return x;
}

TEST(ToneFitTest, MeasuresATonesAmplitudeAndDcAtAnyFrequency)
{
    struct Case {
        double hz;
        int start;
        double amplitude;
        double dc;
        double phase;
    };
    // On and off whole-sample periods, from less than a period to 19999 Hz.
    for (const Case c : {Case{1.3, 4000, 12000, 0, 0.3}, Case{20, 3000, 16000, 150, 1.1}, Case{31.75, 1, 9000, -40, 2},
                         Case{1000, 3990, 16000, 0, 0}, Case{997.3, 4001, 500, 3, 0.7}, Case{3150, 3995, 16000, 0, 0.2},
                         Case{6300, 4000, 10000, -7, 2.5}, Case{19999, 3999, 3000, 0, 1}}) {
        const std::vector<int16_t> x = block(c.hz, c.dc, {{c.amplitude, 1, c.phase}});
        const ToneFit fit = fitTone(x.data(), c.start, End, c.hz, Rate);
        EXPECT_NEAR(dB(fit.amplitude[1] / c.amplitude), 0, 0.0005) << c.hz << " Hz";
        // A period of whole samples repeats its rounding errors, DC included.
        EXPECT_NEAR(fit.dc, c.dc, 0.5) << c.hz << " Hz";
        // Whole periods, as many as fit in the section.
        const double period = Rate / c.hz;
        const int periods = int((End - c.start + 1) / period);
        EXPECT_EQ(fit.periods, periods) << c.hz << " Hz";
        if (periods > 0) {
            EXPECT_LE(std::abs(fit.count - periods * period), 0.5) << c.hz << " Hz";
            // Only rounding to 16 bits is left.
            EXPECT_LT(fit.residualRms, 0.35) << c.hz << " Hz";
        } else {
            EXPECT_EQ(fit.count, End - c.start + 1);
        }
    }
}

TEST(ToneFitTest, NarrowBandLevelIsTheMeanMagnitudeOfAPerfectSineWhereverTheSamplesFall)
{
    // 3150 Hz has a period of 14 samples: the mean magnitude depends on the
    // phase the samples take, the fitted amplitude does not. At 1000 Hz
    // both agree.
    for (const double hz : {3150.0, 6300.0, 1000.0}) {
        double lowMean = HUGE_VAL, highMean = -HUGE_VAL;
        for (int p = 0; p < 16; ++p) {
            std::vector<int16_t> x = block(hz, 0, {{16000, 1, 0}}, 0, 2 * Pi * p / 16 / 14);
            const BlockResult documented = AnalyseBlock(x.data(), hz, true);
            const ToneFit fit = fitTone(x.data(), documented.SampleStart, End, hz, Rate);
            const double narrow = narrowBandMeanLevel(fit, documented.SampleStart, End);
            const double ideal = 2 / Pi * 16000 * (End - documented.SampleStart + 1) / (End - documented.SampleStart);
            EXPECT_NEAR(dB(narrow / ideal), 0, 0.001) << hz << " Hz, phase " << p;
            lowMean = std::min(lowMean, dB(documented.MeanLevel / ideal));
            highMean = std::max(highMean, dB(documented.MeanLevel / ideal));
        }
        if (hz == 1000) {
            EXPECT_LT(highMean - lowMean, 0.005);
            EXPECT_NEAR(lowMean, 0, 0.005);
        } else {
            EXPECT_GT(highMean - lowMean, 0.02) << hz << " Hz: the sampling moves the mean magnitude";
        }
    }
}

TEST(ToneFitTest, HarmonicsUpToTwentyKilohertzMakeTheThd)
{
    struct Case {
        double hz;
        int harmonics; // fitted
    };
    // H2 at -40 dB, H3 at -50 dB, H4 at -60 dB, H5 at -70 dB re 16000.
    const double h[] = {160, 50.6, 16, 5.06};
    for (const Case c : {Case{100, 5}, Case{1000, 5}, Case{4000, 5}, Case{4001, 4}, Case{5000, 4}, Case{9000, 2},
                         Case{10000, 2}, Case{10001, 1}, Case{15000, 1}}) {
        std::vector<std::array<double, 3>> parts = {{16000, 1, 0.4}};
        for (int k = 2; k <= 5; ++k)
            if (k * c.hz < 22050)
                parts.push_back({h[k - 2], double(k), 0.3 * k});
        const std::vector<int16_t> x = block(c.hz, 0, parts);
        const ToneFit fit = fitTone(x.data(), 4000, End, c.hz, Rate);
        ASSERT_EQ(fit.harmonics, c.harmonics) << c.hz;
        const Distortion d = distortionOf(fit);
        double squares = 0;
        for (int k = 2; k <= 5; ++k) {
            if (k <= c.harmonics) {
                ASSERT_TRUE(d.harmonicDb[k - 2].has_value()) << c.hz << " Hz H" << k;
                EXPECT_NEAR(*d.harmonicDb[k - 2], dB(h[k - 2] / 16000), 0.05) << c.hz << " Hz H" << k;
                squares += h[k - 2] * h[k - 2];
            } else {
                EXPECT_FALSE(d.harmonicDb[k - 2].has_value()) << c.hz << " Hz H" << k;
            }
        }
        // THD only with all of H2..H5.
        if (c.harmonics == 5) {
            ASSERT_TRUE(d.thdPercent.has_value());
            EXPECT_NEAR(*d.thdPercent, 100 * std::sqrt(squares) / 16000, 0.002) << c.hz;
        } else {
            EXPECT_FALSE(d.thdPercent.has_value()) << c.hz;
        }
        // THD+N holds every harmonic up to 20 kHz, fitted or not, over the
        // whole signal.
        // (The band's edge itself, 19..21 kHz, is left out.)
        double all = 0;
        bool atEdge = false;
        for (size_t i = 1; i < parts.size(); ++i) {
            atEdge = atEdge || std::abs(parts[i][1] * c.hz - 20000) < 1000;
            if (parts[i][1] * c.hz < 19000)
                all += parts[i][0] * parts[i][0];
        }
        ASSERT_TRUE(d.thdNoisePercent.has_value());
        if (!atEdge) {
            EXPECT_NEAR(*d.thdNoisePercent, 100 * std::sqrt(all / (all + 16000.0 * 16000)), 0.003) << c.hz;
        }
    }
}

TEST(ToneFitTest, NoiseGoesToThdPlusNoiseNotToTheTone)
{
    // White noise of RMS 500 against a tone of RMS 16000 / sqrt 2: THD+N
    // 4.42 % over the whole band, 4.20 % of it in 20 Hz..20 kHz and over
    // the whole signal; the tone's amplitude moves by far less than 0.01 dB.
    const std::vector<int16_t> x = block(440, 0, {{16000, 1, 0}}, 500);
    const ToneFit fit = fitTone(x.data(), 4000, End, 440, Rate);
    EXPECT_NEAR(dB(fit.amplitude[1] / 16000), 0, 0.01);
    const Distortion d = distortionOf(fit);
    const double band = 500 * std::sqrt(19980 / 22050.0);
    EXPECT_NEAR(*d.thdNoisePercent, 100 * band / std::hypot(band, 16000 / std::sqrt(2.0)), 0.03);
    EXPECT_LT(*d.thdPercent, 0.1);
}

TEST(ToneFitTest, ARecordClockApartFromThePlayClockMovesNeitherLevelNorThdPlusNoise)
{
    // A record clock (1 + ppm 1e-6) times the play clock records the tone at
    // hz / (1 + ppm 1e-6); it is fitted at the nominal hz.
    double worstDb = 0, worstThdN = 0;
    for (const double ppm : {-100.0, -50.0, -20.0, 0.0, 20.0, 50.0, 100.0}) {
        for (const double hz : {20.0, 1000.0, 10000.0, 19000.0}) {
            const double recorded = hz / (1 + ppm * 1e-6);
            const std::vector<int16_t> x = block(recorded, 0, {{16000, 1, 0.5}});
            const ToneFit fit = fitTone(x.data(), 4000, End, hz, Rate);
            const Distortion d = distortionOf(fit);
            const double errorDb = dB(fit.amplitude[1] / 16000);
            EXPECT_NEAR(errorDb, 0, 0.01) << ppm << " ppm, " << hz << " Hz";
            EXPECT_LT(*d.thdNoisePercent, 0.01) << ppm << " ppm, " << hz << " Hz";
            EXPECT_NEAR(fit.frequency, recorded, 1e-6 * hz) << ppm << " ppm, " << hz << " Hz";
            worstDb = std::max(worstDb, std::abs(errorDb));
            worstThdN = std::max(worstThdN, *d.thdNoisePercent);
        }
    }
    std::printf("[ figures  ] clock offsets to +-100 ppm, 20 Hz..19 kHz: level within %.5f dB, THD+N at most %.5f %%\n",
                worstDb, worstThdN);
}

TEST(ToneFitTest, SilenceHasNoToneAndNoDistortion)
{
    const std::vector<int16_t> x(End + 1, 0);
    const ToneFit fit = fitTone(x.data(), 4000, End, 1000, Rate);
    EXPECT_EQ(fit.amplitude[1], 0);
    EXPECT_EQ(narrowBandMeanLevel(fit, 4000, End), 0);
    const Distortion d = distortionOf(fit);
    EXPECT_FALSE(d.thdPercent.has_value());
    EXPECT_FALSE(d.thdNoisePercent.has_value());
    for (const auto& h : d.harmonicDb)
        EXPECT_FALSE(h.has_value());
}

TEST(ToneFitTest, PlayedFrequencyIsTheTablesAtTheDevicesRate)
{
    struct Case {
        int rate;
        bool by20;
        double hz;
    };
    // 31.752 Hz asks for rate 3175 and sounds 31.75 Hz; the device limits
    // the rate to 100..100000.
    for (const Case c : {Case{3175, false, 31.75}, Case{50, false, 1}, Case{100000, false, 1000},
                         Case{100001, true, 20000}, Case{63000, true, 12600}, Case{99, true, 20}})
        EXPECT_DOUBLE_EQ(playedToneFrequency(c.rate, c.by20), c.hz) << c.rate << (c.by20 ? " x20" : "");
}

} // namespace

} // namespace audimera
