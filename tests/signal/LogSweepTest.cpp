// The log sweep's excitation and deconvolution, and its lengths.
#include "engine/LogSweepMeasurement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

namespace audimera {

namespace {

struct Shape {
    int rate;
    std::size_t length;
    double start, stop, maxTailPercent; // energy more than 1 ms after the peak
};

// A perfect loopback at a whole delay, deconvolved as a measurement does
// (the sweep, then the tail recorded after it), against the band edges'
// impulse response from their biquads; the energy after 1 ms; the played
// samples never above the envelope, which is 1 over the reported range.
TEST(LogSweepTest, ALoopbackIsTheBandEdgeFilterAndTheRangeIsAtFullLevel)
{
    for (const Shape& c : {Shape{44100, 1 << 18, 20, 20000, 0.1}, Shape{48000, 1 << 18, 20, 20000, 0.1},
                           Shape{96000, 1 << 19, 20, 20000, 0.1}, Shape{44100, 1 << 15, 20, 20000, 0.3},
                           Shape{48000, 1 << 16, 100, 10000, 0.5}, Shape{44100, 1 << 17, 10, 21000, 0.15}}) {
        const audimera::Result<LogSweep> made = LogSweep::make({c.rate, c.length, c.start, c.stop, -6});
        ASSERT_TRUE(made.ok()) << made.message();
        const LogSweep& sweep = *made;
        const std::size_t delay = 300, frames = c.length + std::size_t(0.4 * c.rate);
        std::vector<float> recording(frames, 0.0f);
        std::copy(sweep.samples().begin(), sweep.samples().end(), recording.begin() + delay);
        SweepDeconvolver deconvolver(sweep);
        std::vector<double> h;
        deconvolver.deconvolve(recording.data(), frames, 1, h);
        const std::vector<double> expected = sweep.bandEdgeImpulse(h.size());
        double worst = 0, peak = 0, total = 0, tail = 0;
        for (std::size_t i = 0; i < h.size(); ++i) {
            const double e = i >= delay ? expected[i - delay] : 0;
            worst = std::max(worst, std::abs(h[i] - e));
            peak = std::max(peak, std::abs(e));
            total += h[i] * h[i];
            tail += i > delay + std::size_t(0.001 * c.rate) ? h[i] * h[i] : 0;
        }
        const double errorDb = 20 * std::log10(worst / peak), tailPercent = 100 * tail / total;
        EXPECT_LT(errorDb, -80) << c.rate << ' ' << c.length;
        EXPECT_LT(tailPercent, c.maxTailPercent) << c.rate << ' ' << c.length;
        EXPECT_EQ(sweep.envelopeAt(c.start), 1.0);
        EXPECT_EQ(sweep.envelopeAt(c.stop), 1.0);
        for (std::size_t i = 0; i < c.length; i += 7) {
            const double f = sweep.f1() * std::exp(double(i) / c.rate / sweep.rateConstant());
            ASSERT_LE(std::abs(sweep.samples()[i]), sweep.amplitude() * sweep.envelopeAt(f) + 1e-6) << f << " Hz";
        }
    }
}

TEST(LogSweepTest, LengthsArePowersOfTwoNearestTheirSeconds)
{
    const std::tuple<double, int, std::size_t> cases[] = {{6, 44100, 1 << 18}, {6, 48000, 1 << 18}, {6, 96000, 1 << 19},
        {6, 192000, 1 << 20}, {5.9, 44100, 1 << 18}, {1, 44100, 1 << 15}, {0.5, 44100, 1 << 14}, {0, 44100, 0}};
    for (const auto& [seconds, rate, length] : cases) {
        EXPECT_EQ(LogSweep::lengthFor(seconds, rate), length) << seconds << " s at " << rate;
        EXPECT_TRUE(seconds != 6 || LogSweepSettings{}.shape(rate).length == length) << rate; // the default
    }
}

} // namespace

} // namespace audimera
