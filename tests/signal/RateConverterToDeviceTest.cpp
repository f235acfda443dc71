// The rate converter the other way: from 44100 Hz to a play device's rate,
// as the log sweep plays on a sink that runs at another rate than its
// recording source.
#include "signal/RateConverter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace audimera {

namespace {

constexpr double Pi = 3.14159265358979323846;

TEST(RateConverterToDevice, TonesKeepLevelAndTimeUpTo20kHz)
{
    // Input sample n comes out at n * out / 44100 + delay(), the tone at its
    // level: flat within 0.01 dB and nothing else 100 dB up.
    const struct {
        int rate;
        double hz;
    } cases[] = {{48000, 1000}, {48000, 20000}, {96000, 997}, {96000, 20000}, {88200, 15000}};
    EXPECT_FALSE(RateConverter::supports(48000, 48000));
    for (const auto& c : cases) {
        ASSERT_TRUE(RateConverter::supports(44100, c.rate));
        RateConverter converter(44100, c.rate);
        const int count = 44100;
        std::vector<float> in(count);
        for (int n = 0; n < count; ++n)
            in[n] = float(0.5 * std::sin(2 * Pi * c.hz * n / 44100.0));
        std::vector<float> out(converter.maxOutputs(count));
        out.resize(converter.process(in.data(), count, out.data()));
        const double w = 2 * Pi * c.hz / c.rate;
        const int from = converter.settlingOutputs();
        const int to = int(out.size()) - 2 * converter.kernelReach() * c.rate / 44100;
        double worst = 0;
        for (int m = from; m < to; ++m)
            worst = std::max(worst, std::abs(out[m] - 0.5 * std::sin(w * (m - converter.delay()))));
        // 0.01 dB of 0.5 is 0.00058; the rest far below it.
        EXPECT_LT(worst, 6e-4) << c.rate << " Hz, tone " << c.hz;
    }
}

} // namespace

} // namespace audimera
