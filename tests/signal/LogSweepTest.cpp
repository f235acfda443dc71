// The log sweep's excitation and deconvolution: what a perfect loopback
// gives is the stated band-edge filter and nothing else; the sweep is at
// full level over the reported range; lengths follow the device's rate.
#include "signal/SweepDeconvolver.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

namespace audimera {

namespace {

struct Shape {
    int rate;
    std::size_t length;
    double start, stop;
    double maxTailPercent; // energy more than 1 ms after the peak
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
        std::printf("%d Hz, %zu samples, %g-%g Hz: %s; IR within %.1f dB re peak, %.3f %% after 1 ms\n", c.rate,
                    c.length, c.start, c.stop, sweep.bandEdgeDescription().c_str(), errorDb, tailPercent);
        EXPECT_LT(errorDb, -80) << c.rate << ' ' << c.length;
        EXPECT_LT(tailPercent, c.maxTailPercent) << c.rate << ' ' << c.length;
        // The self response is the same filter at delay 0.
        EXPECT_NEAR(deconvolver.selfResponse(h.size())[0], expected[0], 1e-4 * peak);

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
    struct Case {
        double seconds;
        int rate;
        std::size_t length;
    };
    for (const Case& c : {Case{6, 44100, 1 << 18}, Case{6, 48000, 1 << 18}, Case{6, 96000, 1 << 19},
                          Case{6, 192000, 1 << 20}, Case{5.9, 44100, 1 << 18}, Case{1, 44100, 1 << 15},
                          Case{0.5, 44100, 1 << 14}, Case{0, 44100, 0}, Case{-1, 44100, 0}})
        EXPECT_EQ(LogSweep::lengthFor(c.seconds, c.rate), c.length) << c.seconds << " s at " << c.rate;
    for (const int rate : {44100, 48000, 96000})
        EXPECT_EQ(LogSweep::defaultLength(rate), LogSweep::lengthFor(6, rate));
}

} // namespace

} // namespace audimera
