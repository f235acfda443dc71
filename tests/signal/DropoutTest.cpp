#include "signal/Dropout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <optional>
#include <vector>

namespace audimera {

namespace {

constexpr int Rate = 48000;
constexpr std::size_t Lead = 2000; // silence before and after the sweep
constexpr std::size_t SweepFrames = 48000;

// A stereo recording: silence, an exponential sweep 20 Hz..20 kHz at peak
// level on both channels (each scaled), silence.
std::vector<float> recording(double left, double right)
{
    std::vector<float> frames(2 * (Lead + SweepFrames + Lead), 0.0f);
    const double k = std::log(1000.0);
    const double t = double(SweepFrames) / Rate;
    for (std::size_t i = 0; i < SweepFrames; ++i) {
        const double phase = 2 * std::numbers::pi * 20 * t / k * (std::exp(k * (double(i) / Rate) / t) - 1);
        const double v = 0.5 * std::sin(phase);
        frames[2 * (Lead + i)] = float(left * v);
        frames[2 * (Lead + i) + 1] = float(right * v);
    }
    return frames;
}

void silence(std::vector<float>& frames, std::size_t channel, std::size_t from, std::size_t count)
{
    for (std::size_t i = from; i < from + count; ++i)
        frames[2 * i + channel] = 0.0f;
}

// The recording with count samples of channel silenced at Lead + 30000.
std::vector<float> gap(double left, double right, std::size_t channel, std::size_t count)
{
    auto f = recording(left, right);
    silence(f, channel, Lead + 30000, count);
    return f;
}

struct Case {
    const char* name;
    std::function<std::vector<float>()> make;
    std::optional<std::size_t> dropout;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class DropoutCases : public ::testing::TestWithParam<Case> {};

} // namespace

TEST_P(DropoutCases, FindsTheFirstDeadStretchOfALoudSignal)
{
    const std::vector<float> frames = GetParam().make();
    EXPECT_EQ(Dropout::find(frames.data(), frames.size() / 2, 2), GetParam().dropout);
}

INSTANTIATE_TEST_SUITE_P(
    Recordings, DropoutCases,
    ::testing::Values(
        Case{"clean sweep between silences", [] { return recording(1, 1); }, std::nullopt},
        Case{"one server cycle lost on the left", [] {
                 auto f = recording(1, 1);
                 silence(f, 0, Lead + 30000, 256);
                 return f;
             },
             Lead + 30000},
        Case{"on the right, the earlier of two", [] {
                 auto f = recording(1, 1);
                 silence(f, 0, Lead + 30000, 256);
                 silence(f, 1, Lead + 20000, 64);
                 return f;
             },
             Lead + 20000},
        Case{"shorter than a run", [] {
                 auto f = recording(1, 1);
                 silence(f, 0, Lead + 30000, Dropout::MinRunFrames - 1);
                 return f;
             },
             std::nullopt},
        Case{"exactly the shortest run", [] { return gap(1, 1, 0, Dropout::MinRunFrames); }, Lead + 30000},
        Case{"a gap on a quiet right is not judged", [] { return gap(1, 0.001, 1, 256); }, std::nullopt},
        Case{"a gap on a loud right beside a quiet left", [] { return gap(0.001, 1, 1, 256); }, Lead + 30000},
        Case{"a half-wave-rectified 100 Hz sine", [] {
                 std::vector<float> f(2 * Rate);
                 for (std::size_t i = 0; i < f.size(); ++i)
                     f[i] = float(std::max(0.0, 0.5 * std::sin(std::numbers::pi * 100 * double(i / 2 * 2) / Rate)));
                 return f;
             },
             std::nullopt},
        Case{"reference channel silent throughout", [] { return recording(1, 0); }, std::nullopt},
        Case{"a quiet recording is not judged", [] {
                 auto f = recording(0.001, 0.001);
                 silence(f, 0, Lead + 30000, 256);
                 return f;
             },
             std::nullopt},
        Case{"cut off before its end", [] {
                 auto f = recording(1, 1);
                 silence(f, 0, Lead + SweepFrames - 100, 100);
                 return f;
             },
             std::nullopt}),
    [](const ::testing::TestParamInfo<Case>& info) {
        std::string name;
        for (const char* c = info.param.name; *c; ++c)
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        return name;
    });

// A slow sine rounded to 16 bits stays at 0 for a while at each zero
// crossing; at any level and rate that is no dropout.
TEST(Dropout, SixteenBitLowFrequencySinesAreNoDropouts)
{
    for (const int rate : {44100, 96000, 192000}) {
        for (double level = 1.0 / 32768; level <= 1.0; level *= 2) {
            std::vector<float> frames(static_cast<std::size_t>(rate));
            for (std::size_t i = 0; i < frames.size(); ++i) {
                const double v = level * std::sin(2 * std::numbers::pi * 5 * double(i) / rate);
                frames[i] = float(std::round(v * 32767) / 32768);
            }
            EXPECT_EQ(Dropout::find(frames.data(), frames.size(), 1), std::nullopt) << rate << " Hz, " << level;
        }
    }
}

} // namespace audimera
