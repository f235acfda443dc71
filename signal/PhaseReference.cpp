#include "signal/PhaseReference.h"

#include "signal/ClockOffset.h"

#include <cmath>
#include <numbers>

namespace audimera::PhaseReference {

namespace {
// A point's noise starts to lower its weight when it scatters the phase by
// more than this, radians (0.6 degrees).
constexpr double NoiseFloor = 0.01;
} // namespace

std::optional<Delay> minimumPhaseDelay(const std::vector<std::complex<double>>& transfer,
                                        const std::vector<double>& noise, double binHz, double low, double high)
{
    const auto measured = ClockOffset::measuredBins(transfer, noise, binHz, low, high);
    if (!measured || measured->second < 2 * measured->first)
        return std::nullopt;
    const auto [lowBin, highBin] = *measured;
    const std::vector<double> minimum = ClockOffset::minimumPhaseOf(transfer, lowBin, highBin);
    const double rate = 2 * binHz * double(transfer.size() - 1);

    // Weighted sums for the line phase = c + s f over the points.
    struct Point {
        double f, phase, w;
    };
    std::vector<Point> points;
    double sw = 0, sf = 0, sp = 0, sff = 0, sfp = 0;
    double previous = 0, unwrapped = 0;
    const double fLow = double(lowBin) * binHz, fHigh = double(highBin) * binHz;
    const int count = int(std::floor(24 * std::log2(fHigh / fLow))) + 1;
    for (int i = 0; i < count; ++i) {
        const double f = fLow * std::exp2(i / 24.0);
        const auto a = std::max(lowBin, std::size_t(std::llround(f / binHz / std::exp2(1 / 48.0))));
        const auto b = std::min(highBin, std::max(a, std::size_t(std::llround(f / binHz * std::exp2(1 / 48.0)))));
        std::complex<double> excess = 0;
        double magnitude = 0, frequency = 0, noisePower = 0;
        for (std::size_t k = a; k <= b; ++k) {
            excess += transfer[k] * std::polar(1.0, -minimum[k]);
            magnitude += std::abs(transfer[k]);
            frequency += double(k) * binHz;
            noisePower += noise[k];
        }
        const double n = double(b - a + 1);
        const double phase = std::arg(excess);
        unwrapped = i == 0 ? phase : unwrapped + std::remainder(phase - previous, 2 * std::numbers::pi);
        previous = phase;
        // The noise's phase variance, radians squared.
        const double variance = std::norm(excess) > 0 ? noisePower / (2 * std::norm(excess)) : HUGE_VAL;
        const double w = magnitude / n / (1 + variance / (NoiseFloor * NoiseFloor)), x = frequency / n;
        sw += w;
        sf += w * x;
        sp += w * unwrapped;
        sff += w * x * x;
        sfp += w * x * unwrapped;
        points.push_back({x, unwrapped, w});
    }
    const double det = sw * sff - sf * sf;
    if (!(det > 0))
        return std::nullopt;
    const double slope = (sw * sfp - sf * sp) / det; // radians per Hz: -2 pi D / rate
    const double intercept = (sp - slope * sf) / sw;
    // The slope's variance from the points' scatter about the line.
    double scatter = 0;
    for (const Point& q : points)
        scatter += q.w * (q.phase - intercept - slope * q.f) * (q.phase - intercept - slope * q.f);
    const double variance = points.size() > 2 ? scatter / double(points.size() - 2) * sw / det : 0;
    const double toSamples = rate / (2 * std::numbers::pi);
    return Delay{-slope * toSamples, std::sqrt(std::max(variance, 0.0)) * toSamples};
}

} // namespace audimera::PhaseReference
