#include "devices/SoundChain.h"
#include "tests/signal/ChainParsing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace audimera {

namespace {

constexpr double Pi = 3.14159265358979323846;


// Steady-state gain in dB of a chain for a sine at hz, by a least-squares fit
// after the start-up transient.
double measuredDb(SoundChain chain, double hz)
{
    const int settle = 44100, count = 44100;
    std::vector<double> x(settle + count);
    for (size_t m = 0; m < x.size(); ++m)
        x[m] = 10000.0 * std::sin(2.0 * Pi * hz * double(m) / 44100.0);
    chain.process(x);
    double cc = 0, ss = 0, cs = 0, yc = 0, ys = 0;
    for (int m = settle; m < settle + count; ++m) {
        const double c = std::cos(2.0 * Pi * hz * m / 44100.0), s = std::sin(2.0 * Pi * hz * m / 44100.0);
        cc += c * c, ss += s * s, cs += c * s, yc += x[m] * c, ys += x[m] * s;
    }
    const double det = cc * ss - cs * cs;
    const double a = (yc * ss - ys * cs) / det, b = (ys * cc - yc * cs) / det;
    return 20.0 * std::log10(std::hypot(a, b) / 10000.0);
}

TEST(SoundChain, ParsesItemsInTheOrderWritten)
{
    EXPECT_TRUE(chainOf("").isEmpty());
    EXPECT_TRUE(chainOf("   ").isEmpty());
    EXPECT_EQ(chainOf("gain=-6, lowpass=1000 ,noise=-90,delay=2.5,drop=100,clip=30000,silence,mute").size(), 8);
    EXPECT_EQ(chainOf(" gain = +3 ").size(), 1);
    EXPECT_EQ(chainOf("highpass2=20,lowpass2=2e4").size(), 2);

    // Order matters: gain then clip is not clip then gain.
    std::vector<double> a{800.0, -800.0}, b{800.0, -800.0};
    SoundChain gainFirst = chainOf("gain=6.0205999132796,clip=1000");
    SoundChain clipFirst = chainOf("clip=1000,gain=6.0205999132796");
    gainFirst.process(a);
    clipFirst.process(b);
    EXPECT_EQ(a, (std::vector<double>{1000.0, -1000.0}));
    EXPECT_NEAR(b[0], 1600.0, 1e-9);
    EXPECT_NEAR(b[1], -1600.0, 1e-9);
}

TEST(SoundChain, RejectsBadTextNamingTheItem)
{
    EXPECT_NE(errorOf("gain=1,reverb=3").find("'reverb=3'"), std::string::npos);
    EXPECT_NE(errorOf("gain=1,echo").find("'echo'"), std::string::npos);
    for (const char* item : {"gain=abc", "gain=", "gain", "gain=1.5.2", "gain=nan", "gain=inf", "gain=6 dB",
                             "lowpass=0", "lowpass=22050", "highpass=-5", "lowpass2=3e5", "noise=3",
                             "delay=-1", "delay=20000", "drop=1", "drop=2.5", "drift=1001", "drift=x", "clip=-1", "silence=1",
                             "mute=0"}) {
        const std::string error = errorOf(std::string("lowpass=100,") + item);
        EXPECT_NE(error.find(std::string("'") + item + "'"), std::string::npos) << error;
    }
    // A comma is a separator, never a decimal mark.
    EXPECT_NE(errorOf("gain=-6,5").find("'5'"), std::string::npos);
    EXPECT_NE(errorOf("gain=1,,delay=1").find("2"), std::string::npos);
    EXPECT_FALSE(errorOf("gain=1,").empty());
}

TEST(SoundChain, GainClipSilenceAndTheAnalyticMagnitude)
{
    std::vector<double> x{1000.0, -2000.0, 12345.5};
    SoundChain gain = chainOf("gain=-6");
    gain.process(x);
    const double g = std::pow(10.0, -6.0 / 20.0);
    EXPECT_EQ(x, (std::vector<double>{1000.0 * g, -2000.0 * g, 12345.5 * g}));

    std::vector<double> y{-5000.0, 200.0, 5000.0};
    SoundChain clip = chainOf("clip=300");
    clip.process(y);
    EXPECT_EQ(y, (std::vector<double>{-300.0, 200.0, 300.0}));
    SoundChain silence = chainOf("mute");
    silence.process(y);
    EXPECT_EQ(y, (std::vector<double>(3, 0.0)));

    const double corner = 20.0 * std::log10(std::sqrt(0.5)); // -3.0103
    EXPECT_NEAR(chainOf("lowpass=1000").magnitudeDb(1000), corner, 1e-12);
    EXPECT_NEAR(chainOf("highpass=50").magnitudeDb(50), corner, 1e-12);
    EXPECT_NEAR(chainOf("lowpass2=5000").magnitudeDb(5000), corner, 1e-12);
    EXPECT_NEAR(chainOf("highpass2=30").magnitudeDb(30), corner, 1e-12);
    EXPECT_NEAR(chainOf("gain=-6,lowpass=1000,noise=-60,delay=3,drop=9,clip=9000").magnitudeDb(1000), -6 + corner,
                1e-12);
    EXPECT_NEAR(chainOf("lowpass=1000").magnitudeDb(1), 0.0, 1e-5);
    EXPECT_LT(chainOf("lowpass2=1000").magnitudeDb(10000), chainOf("lowpass=1000").magnitudeDb(10000) - 15);
    EXPECT_EQ(chainOf("").magnitudeDb(1234), 0.0);
    EXPECT_EQ(chainOf("gain=3,silence").magnitudeDb(1234), -INFINITY);
}

TEST(SoundChain, FiltersMatchTheirAnalyticMagnitude)
{
    const struct {
        const char* text;
        double hz;
    } cases[] = {{"lowpass=1000", 1000},   {"lowpass=1000", 300},    {"lowpass=1000", 15000},
                 {"highpass=100", 100},    {"highpass=100", 25},     {"lowpass2=2000", 2000},
                 {"lowpass2=2000", 8000},  {"highpass2=50", 50},     {"highpass2=50", 200},
                 {"highpass=40,lowpass2=12000,gain=-3", 12000}};
    for (const auto& c : cases) {
        const SoundChain chain = chainOf(c.text);
        EXPECT_NEAR(measuredDb(chain, c.hz), chain.magnitudeDb(c.hz), 0.001) << c.text << " at " << c.hz;
    }
    EXPECT_NEAR(measuredDb(chainOf("lowpass=1000"), 1000), -3.0103, 0.0005);
}

TEST(SoundChain, NoiseHasItsLevelAndRepeatsFromTheSeed)
{
    SoundChain chain = chainOf("noise=-40");
    std::vector<double> x(200000, 0.0);
    chain.process(x);
    double sum = 0, power = 0;
    for (double v : x)
        sum += v, power += v * v;
    EXPECT_NEAR(std::sqrt(power / x.size()), 327.68, 327.68 * 0.01);
    EXPECT_NEAR(sum / x.size(), 0.0, 3.0);

    std::vector<double> again(200000, 0.0);
    chainOf("noise=-40").process(again);
    EXPECT_EQ(again, x) << "a fresh chain gives the same noise";
    std::vector<double> next(1000, 0.0);
    chain.process(next);
    EXPECT_NE(std::vector<double>(x.begin(), x.begin() + 1000), next) << "a running chain goes on";
    chain.reset();
    next.assign(1000, 0.0);
    chain.process(next);
    EXPECT_EQ(std::vector<double>(x.begin(), x.begin() + 1000), next) << "reset restarts it";
}

TEST(SoundChain, DelayAndDropCarryAcrossBlocks)
{
    // 1 ms is nearest(44.1) = 44 samples of silence, then the input.
    SoundChain delay = chainOf("delay=1");
    std::vector<double> all;
    for (int block = 0; block < 3; ++block) {
        std::vector<double> x(30);
        for (int i = 0; i < 30; ++i)
            x[i] = 1 + block * 30 + i;
        delay.process(x);
        all.insert(all.end(), x.begin(), x.end());
    }
    for (int m = 0; m < 90; ++m)
        EXPECT_EQ(all[m], m < 44 ? 0.0 : double(m - 44 + 1)) << m;
    std::vector<double> same{1, 2, 3};
    chainOf("delay=0").process(same);
    EXPECT_EQ(same, (std::vector<double>{1, 2, 3}));

    // Every third sample goes, counted across block boundaries.
    SoundChain drop = chainOf("drop=3");
    std::vector<double> first{0, 1, 2, 3, 4}, second{5, 6, 7, 8, 9};
    drop.process(first);
    drop.process(second);
    EXPECT_EQ(first, (std::vector<double>{0, 1, 3, 4}));
    EXPECT_EQ(second, (std::vector<double>{6, 7, 9}));
}

} // namespace

} // namespace audimera

namespace audimera {

namespace {

// drift=PPM: a sine of hz comes out as the sine of hz / (1 + ppm 1e-6) at
// the same times (no delay), sample by sample, whatever the blocks it is
// fed in; the stream grows by that factor.
TEST(SoundChain, DriftResamplesAsAClockThatFarApartWouldRecord)
{
    double worst = 0;
    for (const double ppm : {-100.0, -50.0, 50.0, 1000.0}) {
        for (const double hz : {100.0, 10000.0, 19000.0}) {
            for (const std::size_t block : {std::size_t(1000), std::size_t(4096)}) {
                SoundChain chain = chainOf("drift=" + std::to_string(ppm));
                std::vector<double> out;
                std::size_t fed = 0;
                while (fed < 100000) {
                    std::vector<double> x(block);
                    for (std::size_t i = 0; i < block; ++i)
                        x[i] = 10000.0 * std::sin(2.0 * Pi * hz * double(fed + i) / 44100.0);
                    fed += block;
                    chain.process(x);
                    out.insert(out.end(), x.begin(), x.end());
                }
                const double ratio = 1 + ppm * 1e-6;
                // Written once the input reaches 64 samples beyond.
                EXPECT_NEAR(double(out.size()), (double(fed) - 64) * ratio, 2.0) << ppm << " ppm";
                double error = 0;
                for (std::size_t m = 1000; m < out.size(); ++m)
                    error = std::max(error, std::abs(out[m] - 10000.0 * std::sin(2.0 * Pi * hz * double(m) /
                                                                                 ratio / 44100.0)));
                EXPECT_LT(error, 0.1) << ppm << " ppm, " << hz << " Hz, blocks of " << block;
                worst = std::max(worst, error / 10000.0);
            }
        }
    }
    EXPECT_DOUBLE_EQ(chainOf("drift=50,gain=-6,drift=-20").driftPpm(), (1.00005 * 0.99998 - 1) * 1e6);
    std::printf("[ figures  ] drift's interpolator, 100 Hz..19 kHz: largest error %.1f dB re the sine\n",
                20 * std::log10(worst));
}

} // namespace

} // namespace audimera
