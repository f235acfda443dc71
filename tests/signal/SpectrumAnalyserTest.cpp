#include "signal/OctaveBands.h"
#include "signal/PeriodicNoise.h"
#include "signal/SpectrumAnalyser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace audimera {

namespace {

std::vector<float> sine(double amplitude, double hz, int rate, std::size_t count)
{
    std::vector<float> x(count);
    for (std::size_t i = 0; i < count; ++i)
        x[i] = static_cast<float>(amplitude * std::sin(2 * M_PI * hz * i / rate + 0.3));
    return x;
}

SpectrumFrame analyse(const SpectrumSettings& settings, int rate, const std::vector<float>& x, double correctionDb = 0)
{
    EXPECT_TRUE(SpectrumAnalyser::check(settings, rate).ok()) << SpectrumAnalyser::check(settings, rate).message();
    SpectrumAnalyser analyser(settings, rate);
    analyser.setCorrection([=](double hz) { return hz > 0 ? correctionDb : 99.0; }); // DC lies in no band
    analyser.push(x.data(), x.size());
    return analyser.frame();
}

} // namespace

// A sine at a band's mid-band frequency reads its RMS level in that band,
// plus the correction (1.5 dB with the flat-top window); a band narrower
// than the window resolves (1/24 octave at 63 Hz is 1.2 bins wide here) is
// flagged, as it reads low.
TEST(SpectrumAnalyser, SineAtBandCentreReadsItsLevel)
{
    const struct { int fraction; double hz; int rate; int fft; } cases[] = {
        {1, 63, 48000, 32768},    {3, 63, 44100, 131072},  {3, 1000, 48000, 8192}, {6, 250, 44100, 65536},
        {12, 1000, 48000, 32768}, {24, 2000, 48000, 65536}, {24, 10000, 44100, 8192},
        {24, 63, 48000, 32768},
    };
    double worst = 0;
    for (const auto& c : cases)
        for (bool flatTop : {false, true}) {
            const AnalyserWindow window = flatTop ? AnalyserWindow::FlatTop : AnalyserWindow::Hann;
            const auto plan = OctaveBands::plan(c.fraction, c.hz / 1.1, c.hz * 1.1, c.rate / 2.0);
            const auto band = std::min_element(plan.begin(), plan.end(), [&](const auto& a, const auto& b) {
                return std::abs(std::log(a.centreHz / c.hz)) < std::abs(std::log(b.centreHz / c.hz));
            });
            const auto frame = analyse({c.fft, window, c.fraction, band->centreHz / 1.012, band->centreHz * 1.012}, c.rate,
                                       sine(0.5, band->centreHz, c.rate, c.fft), flatTop ? 1.5 : 0);
            ASSERT_EQ(frame.levelsDb.size(), 1u);
            ASSERT_EQ(frame.resolved.size(), 1u);
            const double error = frame.levelsDb[0] - (flatTop ? 1.5 : 0) - 20 * std::log10(0.5 / std::sqrt(2.0));
            const bool narrow = c.fraction == 24 && c.hz == 63;
            EXPECT_EQ(frame.resolved[0], !narrow) << band->label;
            if (narrow)
                continue;
            EXPECT_NEAR(error, 0, 0.1) << "1/" << c.fraction << " " << band->label << " at " << c.rate << " window " << flatTop;
            worst = std::max(worst, std::abs(error));
        }
    std::printf("sine at a band's centre: worst deviation %.2g dB\n", worst);
}

// Periodic noise of the transform's length through the rectangular window:
// pink gives every third the power of 1/f over it, white every bin the same.
TEST(SpectrumAnalyser, PeriodicNoiseIsFlat)
{
    const double total = std::pow(10.0, -20 / 10.0); // -20 dBFS RMS
    for (NoiseColour colour : {NoiseColour::Pink, NoiseColour::White}) {
        const auto noise = PeriodicNoise::make({colour, 32768, -20.0, 7});
        ASSERT_TRUE(noise.ok()) << noise.message();
        const bool pink = colour == NoiseColour::Pink;
        const auto frame = analyse({32768, AnalyserWindow::Rectangular, pink ? 3 : 0, 50, 16000}, 48000, *noise);
        double worst = 0;
        for (std::size_t i = pink ? 0 : 1; i < (pink ? frame.bands.size() : 16384); ++i) {
            const double expected = pink ? total * std::log(std::pow(10.0, 0.1)) / std::log(32767.0) : total / 16383;
            worst = std::max(worst, std::abs(frame.levelsDb[i] - 10 * std::log10(expected)));
        }
        EXPECT_LT(worst, 0.1);
        EXPECT_EQ(frame.bands.size(), pink ? 26u : 0u);
        std::printf("periodic %s noise: worst deviation %.2g dB\n", pink ? "pink, thirds 50 Hz-16 kHz" : "white, line", worst);
    }
    EXPECT_FALSE(PeriodicNoise::make({NoiseColour::Pink, 8}).ok());
    EXPECT_FALSE(PeriodicNoise::make({NoiseColour::White, 4096, -1.0}).ok()); // its peaks pass full scale
}

// Mid-band frequencies and edges from the formula, nominal and three-figure
// labels, and adjacent bands sharing their edges.
TEST(OctaveBands, PlanFollowsTheStandard)
{
    const struct { int fraction; int units; const char* label; } cases[] = {
        {1, -10, "31.5"}, {3, 0, "1k"}, {3, 2, "1.25k"}, {3, 22, "12.5k"}, {6, 1, "1.06k"}, {48, 1, "1.01k"}, {24, -159, "101"},
    };
    const double G = std::pow(10.0, 0.3);
    for (const auto& c : cases) {
        const auto plan = OctaveBands::plan(c.fraction, 10, 20000, 24000);
        const auto band = std::find_if(plan.begin(), plan.end(), [&](const auto& b) { return b.label == c.label; });
        ASSERT_NE(band, plan.end()) << c.label;
        EXPECT_NEAR(band->centreHz, 1000 * std::pow(G, c.units / (2.0 * c.fraction)), 1e-9 * band->centreHz) << c.label;
        EXPECT_NEAR(band->lowerHz, band->centreHz * std::pow(G, -0.5 / c.fraction), 1e-9 * band->centreHz) << c.label;
        EXPECT_NEAR(band->upperHz, band->centreHz * std::pow(G, 0.5 / c.fraction), 1e-9 * band->centreHz) << c.label;
        for (std::size_t i = 1; i < plan.size(); ++i)
            EXPECT_EQ(plan[i].lowerHz, plan[i - 1].upperHz) << "1/" << c.fraction << " " << plan[i].label;
    }
}

// A step in level through each averaging, and the peak hold. Each 1 s
// block holds exactly one transform (hop 48000 past a transform of 8192).
TEST(SpectrumAnalyser, AveragingAndPeakHold)
{
    const double p0 = 0.1 * 0.1 / 2, p1 = 0.4 * 0.4 / 2, resetPeak = -1;
    const struct { AnalyserAveraging averaging; std::vector<double> blocks; double level; double peak; } cases[] = {
        {AnalyserAveraging::None, {0.4, 0.1}, p0, p1},
        {AnalyserAveraging::None, {0.4, 0.1, resetPeak, 0.1}, p0, p0},
        {AnalyserAveraging::Exponential, {0.1, 0.4, 0.4, 0.4, 0.4, 0.4, 0.4, 0.4, 0.4}, p1 + (p0 - p1) / M_E, p1 + (p0 - p1) / M_E},
        {AnalyserAveraging::Running, {0.4, 0.1, 0.1, 0.1}, (p1 + 3 * p0) / 4, p1},
    };
    for (const auto& c : cases) {
        SpectrumSettings settings{8192, AnalyserWindow::Hann, 1, 1000, 1000, c.averaging, 8.0, 1.0};
        SpectrumAnalyser analyser(settings, 48000);
        for (double amplitude : c.blocks) {
            if (amplitude == resetPeak) {
                analyser.resetPeak();
                continue;
            }
            const auto x = sine(amplitude, 1000, 48000, 48000);
            EXPECT_EQ(analyser.push(x.data(), x.size()), 1u);
        }
        const auto frame = analyser.frame();
        EXPECT_NEAR(frame.levelsDb.at(0), 10 * std::log10(c.level), 0.01) << int(c.averaging);
        EXPECT_NEAR(frame.peakDb.at(0), 10 * std::log10(c.peak), 0.01) << int(c.averaging);
    }
}

TEST(SpectrumAnalyser, CheckRefusesWhatItCannotRun)
{
    const struct { int fft; int fraction; double updates; bool ok; } cases[] = {
        {32768, 48, 10, true}, {4096, 3, 10, false}, {12288, 3, 10, false}, {262144, 3, 10, false},
        {32768, 2, 10, false}, {32768, 3, 0.5, false}, {32768, 3, 101, false}, {32768, 3, NAN, false},
    };
    for (const auto& c : cases) {
        const Status status = SpectrumAnalyser::check({c.fft, AnalyserWindow::Hann, c.fraction, 20, 20000,
                                                       AnalyserAveraging::None, 1.0, c.updates}, 48000);
        EXPECT_EQ(status.ok(), c.ok) << c.fft << " 1/" << c.fraction << " " << c.updates;
        EXPECT_EQ(status.kind(), c.ok ? Failure::Other : Failure::BadInput);
    }
}

} // namespace audimera
