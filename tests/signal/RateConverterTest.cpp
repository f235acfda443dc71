#include "signal/RateConverter.h"
#include "signal/SignalSynthesis.h"
#include "signal/TablePlayer.h"

#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numeric>
#include <stdexcept>
#include <vector>

namespace audimera {

namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr int Out = RateConverter::OutputRate;

// The record rates of real devices, and an odd one whose ratio needs more
// kernel phases than are kept exactly (47999 / 44100 = 6857 / 6300).
constexpr int ConvertedRates[] = {48000, 88200, 96000, 192000, 47999};

std::vector<float> sine(int rate, double hz, int count, double amplitude = 1.0)
{
    std::vector<float> x(count);
    for (int n = 0; n < count; ++n)
        x[n] = float(amplitude * std::sin(2.0 * Pi * hz * n / rate));
    return x;
}

// Converts everything, in pieces of the given size.
std::vector<float> convert(RateConverter& converter, const std::vector<float>& in, int piece = 441)
{
    std::vector<float> out;
    std::vector<float> part(converter.maxOutputs(piece));
    for (size_t n = 0; n < in.size(); n += piece) {
        const int count = int(std::min<size_t>(piece, in.size() - n));
        const int written = converter.process(in.data() + n, count, part.data());
        EXPECT_LE(written, converter.maxOutputs(count));
        out.insert(out.end(), part.begin(), part.begin() + written);
    }
    return out;
}

struct Fit {
    double gainDb;
    double phase;      // radians, against the input delayed by delay()
    double residualDb; // RMS of everything else, re the tone's RMS
};

// Fits a cos + b sin of the tone, timed from the input's sample 0 delayed by
// delay() output samples, to the settled outputs.
Fit fitTone(const std::vector<float>& y, double hz, int delay, int from, double amplitude = 1.0)
{
    const double w = 2.0 * Pi * hz / Out;
    double cc = 0, ss = 0, cs = 0, yc = 0, ys = 0;
    for (size_t m = from; m < y.size(); ++m) {
        const double c = std::cos(w * (double(m) - delay)), s = std::sin(w * (double(m) - delay));
        cc += c * c, ss += s * s, cs += c * s, yc += y[m] * c, ys += y[m] * s;
    }
    const double det = cc * ss - cs * cs;
    const double a = (yc * ss - ys * cs) / det, b = (ys * cc - yc * cs) / det;
    double power = 0;
    for (size_t m = from; m < y.size(); ++m) {
        const double r = y[m] - a * std::cos(w * (double(m) - delay)) - b * std::sin(w * (double(m) - delay));
        power += r * r;
    }
    power /= double(y.size() - from);
    return {20.0 * std::log10(std::hypot(a, b) / amplitude), std::atan2(a, b),
            10.0 * std::log10(power / (amplitude * amplitude / 2))};
}

TEST(RateConverter, ConvertsEveryDeviceRateButTheMeasurementsOwn)
{
    for (int rate : {8000, 22050, 32000, 44099, 44101, 48000, 88200, 96000, 176400, 192000})
        EXPECT_TRUE(RateConverter::supports(rate)) << rate;
    // 44100 is recorded as it is, with no converter at all.
    for (int rate : {44100, 7999, 192001, 0})
        EXPECT_FALSE(RateConverter::supports(rate)) << rate;
    EXPECT_THROW(RateConverter(44100), std::invalid_argument);
    EXPECT_THROW(RateConverter(400000), std::invalid_argument);
}

TEST(RateConverter, FlatToTwentyKilohertzWithTheStatedDelayAndClean)
{
    const double tones[] = {20, 100, 1000, 5000, 10000, 16000, 19000, 20000};
    for (int rate : ConvertedRates) {
        RateConverter converter(rate);
        for (double hz : tones) {
            converter.reset();
            const std::vector<float> y = convert(converter, sine(rate, hz, rate / 2));
            const Fit fit = fitTone(y, hz, converter.delay(), converter.settlingOutputs());
            EXPECT_LT(std::abs(fit.gainDb), 0.01) << rate << " Hz input, tone " << hz;
            // A tenth of an output sample would be 0.03 rad at 20 Hz... and
            // 2.8 rad at 20 kHz; the delay is exact, so the phase stays 0.
            EXPECT_LT(std::abs(fit.phase), 1e-4) << rate << " Hz input, tone " << hz;
            EXPECT_LT(fit.residualDb, -100.0) << rate << " Hz input, tone " << hz;
        }
    }
}

TEST(RateConverter, NothingFoldsBackBelowTwentyKilohertz)
{
    // Input from 24.1 kHz up would land below 20 kHz; it must be 100 dB
    // down. (At 48000 Hz nothing up to the input's half rate folds that far.)
    for (int rate : {88200, 96000, 192000, 47999}) {
        RateConverter converter(rate);
        for (double hz : {24100.0, 25000.0, 30000.0, 44100.0, 0.49 * rate, 90000.0}) {
            if (hz < 24100.0 || hz >= 0.5 * rate)
                continue;
            converter.reset();
            const std::vector<float> y = convert(converter, sine(rate, hz, rate / 4));
            double power = 0;
            for (size_t m = converter.settlingOutputs(); m < y.size(); ++m)
                power += double(y[m]) * y[m];
            power /= double(y.size() - converter.settlingOutputs());
            EXPECT_LT(10.0 * std::log10(power / 0.5), -100.0) << rate << " Hz input, tone " << hz;
        }
    }
}

TEST(RateConverter, RatesBelowTheOutputsAreFlatWithoutImages)
{
    // Up to 0.4535 of the input rate; the images above half of it are gone.
    const struct {
        int rate;
        double hz;
    } cases[] = {{8000, 3600}, {22050, 10000}, {32000, 14500}, {32000, 1000}};
    for (const auto& c : cases) {
        RateConverter converter(c.rate);
        const std::vector<float> y = convert(converter, sine(c.rate, c.hz, c.rate / 2));
        const Fit fit = fitTone(y, c.hz, converter.delay(), converter.settlingOutputs());
        EXPECT_LT(std::abs(fit.gainDb), 0.01) << c.rate << " Hz input, tone " << c.hz;
        EXPECT_LT(std::abs(fit.phase), 1e-4) << c.rate << " Hz input, tone " << c.hz;
        EXPECT_LT(fit.residualDb, -100.0) << c.rate << " Hz input, tone " << c.hz;
    }
}

TEST(RateConverter, ClickComesOutAtItsStatedPosition)
{
    for (int rate : ConvertedRates) {
        RateConverter converter(rate);
        // A click at an input sample that falls on an output sample; then one
        // between output samples, whose two neighbours share it by distance.
        const int down = rate / std::gcd(rate, Out);
        const int up = Out / std::gcd(rate, Out);
        const int n = down * ((2 * converter.kernelReach()) / down + 3);
        std::vector<float> x(n + 4 * converter.kernelReach() + 2 * down, 0.0f);
        x[n] = 1.0f;
        const std::vector<float> y = convert(converter, x, 97);
        const int at = int(int64_t(n) * up / down) + converter.delay();
        ASSERT_LT(at + 20, int(y.size())) << rate;
        const auto peak = std::max_element(y.begin(), y.end(), [](float a, float b) { return std::abs(a) < std::abs(b); });
        EXPECT_EQ(peak - y.begin(), at) << rate << " Hz input";
        // Linear phase: the response is symmetric about the stated position.
        for (int j = 1; j <= 20; ++j)
            EXPECT_NEAR(y[at - j], y[at + j], 1e-6) << rate << " Hz input, " << j << " samples off";
        // Its sum over the output is the gain for DC, scaled by the rates.
        double sum = 0;
        for (float v : y)
            sum += v;
        EXPECT_NEAR(sum, double(Out) / rate, 1e-5) << rate;
    }
}

TEST(RateConverter, PiecesAndResetDoNotChangeTheOutput)
{
    for (int rate : {48000, 96000, 47999}) {
        std::vector<float> x = sine(rate, 997.0, 3 * RateConverter::ChunkSamples + 123);
        uint32_t seed = 7;
        for (float& v : x) { // some noise too, so that every tap shows
            seed = seed * 1664525u + 1013904223u;
            v += float(int32_t(seed) / 4294967296.0);
        }
        RateConverter converter(rate);
        const std::vector<float> whole = convert(converter, x, int(x.size()));
        for (int piece : {1, 7, 441, RateConverter::ChunkSamples + 1}) {
            converter.reset();
            EXPECT_EQ(convert(converter, x, piece), whole) << rate << " Hz, pieces of " << piece;
        }
        RateConverter fresh(rate);
        EXPECT_EQ(convert(fresh, x, 300), whole) << rate;
    }
}

TEST(RateConverter, SettledOutputsHoldOnlyInputGivenSinceReset)
{
    // The same sound with and without other (loud) sound before it: from
    // settlingOutputs() on, the outputs are the same bit for bit; the one
    // before still differs, so no output is dropped needlessly.
    for (int rate : {48000, 96000, 192000, 47999}) {
        RateConverter converter(rate);
        const int down = rate / std::gcd(rate, Out);
        const int up = Out / std::gcd(rate, Out);
        const int before = down * (1 + 2 * converter.kernelReach() / down); // a whole number of output samples
        std::vector<float> sound = sine(rate, 3000.0, 8000);
        std::vector<float> earlier(before, 10000.0f);
        earlier.insert(earlier.end(), sound.begin(), sound.end());
        const std::vector<float> alone = convert(converter, sound);
        converter.reset();
        const std::vector<float> after = convert(converter, earlier);
        const int shift = int(int64_t(before) * up / down);
        const int settled = converter.settlingOutputs();
        for (size_t m = settled; m < alone.size(); ++m)
            ASSERT_EQ(alone[m], after[m + shift]) << rate << " Hz, output " << m;
        EXPECT_NE(alone[settled - 1], after[settled - 1 + shift]) << rate;
    }
}

TEST(RateConverter, InputNeededIsExactlyWhatTheOutputsTake)
{
    for (int rate : {48000, 88200, 192000, 8000, 47999}) {
        RateConverter converter(rate);
        for (int64_t outputs : {int64_t(1), int64_t(converter.settlingOutputs()), int64_t(30000 + 601)}) {
            const int64_t needed = converter.inputNeeded(outputs);
            const std::vector<float> x(needed, 0.25f);
            converter.reset();
            const std::vector<float> fewer(x.begin(), x.end() - 1);
            EXPECT_LT(int64_t(convert(converter, fewer).size()), outputs) << rate;
            converter.reset();
            EXPECT_GE(int64_t(convert(converter, x).size()), outputs) << rate;
        }
    }
}

TEST(RateConverter, ProcessingAndResetAllocateNothing)
{
    RateConverter converter(96000);
    const std::vector<float> x = sine(96000, 1000.0, 20000);
    std::vector<float> out(converter.maxOutputs(int(x.size())));
    const long long before = allocations::count.load();
    converter.reset();
    converter.process(x.data(), int(x.size()), out.data());
    converter.process(x.data(), 5, out.data());
    EXPECT_EQ(allocations::count.load(), before);
}

// The calibration reads the white-noise table's mean magnitude. Its samples
// are uniformly spread, and a loopback at 44100 Hz hands them back as they
// were. Played at 48000 Hz and converted back, the noise loses what the two
// filters take above 20 kHz, and, unless the recorded samples fall on the
// played ones, it reads lower still, because band-limited values between
// uniform samples spread like Gaussian noise (0.71 dB less mean magnitude
// for the same power). That second part is the detector's, not the
// converters': the same noise half a sample late at 44100 Hz, with nothing
// converted, reads the same.
double meanMagnitudeDb(const float* x, int count)
{
    double sum = 0;
    for (int n = 0; n < count; ++n)
        sum += std::abs(x[n]);
    return 20.0 * std::log10(sum / count);
}

std::vector<float> playedNoise(const std::vector<int16_t>& table, int outputRate, int count)
{
    TablePlayer player;
    player.setTable(table.data());
    player.setOutputRate(outputRate);
    player.setRate(Out);
    player.start();
    std::vector<float> y(count);
    player.render(y.data(), count);
    return y;
}

TEST(RateConverter, CalibrationNoiseLosesOnlyItsTopBandOnTheGrid)
{
    std::vector<int16_t> white(TablePlayer::TableSamples + 1), pink(TablePlayer::TableSamples + 1);
    InitWhitePinkBuffers(white.data(), pink.data(), [](double, double, int32_t) { return 0.0; });
    constexpr int Block = 20000;
    std::vector<float> table(white.begin(), white.begin() + Block);
    const double played = meanMagnitudeDb(table.data(), Block);

    // 48000 Hz out and back; the record stream starts D device samples
    // after the play stream: on the grid every 160 samples (147 of ours).
    const std::vector<float> device = playedNoise(white, 48000, 80000);
    RateConverter converter(48000);
    auto converted = [&](int lateBy) {
        converter.reset();
        const std::vector<float> in(device.begin() + lateBy, device.end());
        const std::vector<float> out = convert(converter, in);
        const int first = converter.settlingOutputs() + 2000;
        return meanMagnitudeDb(out.data() + first, Block);
    };
    const double onGrid = converted(160);
    const double halfway = converted(80); // 80 * 147 / 160 = 73.5 of ours

    // 44100 Hz, nothing converted, half a sample late: every other sample of
    // the table played at twice its rate.
    const std::vector<float> doubled = playedNoise(white, 2 * Out, 2 * (Block + 4000));
    std::vector<float> late(Block);
    for (int n = 0; n < Block; ++n)
        late[n] = doubled[2 * (n + 2000) + 1];
    const double nativeHalfway = meanMagnitudeDb(late.data(), Block);

    std::printf("calibration noise re played: converted on the grid %+.3f dB, half a sample off %+.3f dB; "
                "44100 Hz half a sample late %+.3f dB\n",
                onGrid - played, halfway - played, nativeHalfway - played);
    EXPECT_NEAR(onGrid - played, 0.0, 0.15) << "what the transition bands take";
    EXPECT_LT(halfway - played, -0.3);
    EXPECT_NEAR(halfway, nativeHalfway, 0.1);
}

} // namespace

} // namespace audimera
