#include "signal/PhaseReference.h"

#include "signal/ClockOffset.h"

#include <array>
#include <cmath>
#include <numbers>

namespace audimera::PhaseReference {

namespace {
// A point's noise starts to lower its weight when it scatters the phase by
// more than this, radians (0.6 degrees).
constexpr double NoiseFloor = 0.01;

// a x = b for a 3 x 3 system, by Gauss with pivoting; none when singular.
std::optional<std::array<double, 3>> solve(std::array<std::array<double, 3>, 3> a, std::array<double, 3> b)
{
    for (int i = 0; i < 3; ++i) {
        int pivot = i;
        for (int r = i + 1; r < 3; ++r)
            if (std::abs(a[r][i]) > std::abs(a[pivot][i]))
                pivot = r;
        if (!(std::abs(a[pivot][i]) > 0))
            return std::nullopt;
        std::swap(a[i], a[pivot]);
        std::swap(b[i], b[pivot]);
        for (int r = i + 1; r < 3; ++r) {
            const double f = a[r][i] / a[i][i];
            for (int c = i; c < 3; ++c)
                a[r][c] -= f * a[i][c];
            b[r] -= f * b[i];
        }
    }
    for (int i = 2; i >= 0; --i) {
        for (int c = i + 1; c < 3; ++c)
            b[i] -= a[i][c] * b[c];
        b[i] /= a[i][i];
    }
    return b;
}

// The fit over bins [lowBin, highBin], the magnitude continued beyond them.
std::optional<Delay> fit(const std::vector<std::complex<double>>& transfer, const std::vector<double>& noise,
                         double binHz, std::size_t lowBin, std::size_t highBin)
{
    const std::vector<double> minimum = ClockOffset::minimumPhaseOf(transfer, lowBin, highBin);
    const double rate = 2 * binHz * double(transfer.size() - 1);

    // The points, every 1/24 octave: the complex mean of the excess response
    // over the point's band, its phase unwrapped from point to point.
    struct Point {
        double f, phase, w;
    };
    std::vector<Point> points;
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
        points.push_back({frequency / n, unwrapped, magnitude / n / (1 + variance / (NoiseFloor * NoiseFloor))});
    }

    // Weighted least squares for c + s f + a / f: the last term takes up
    // what the magnitude continued below the band (from a noisy slope) does
    // to the minimum phase inside it, whose low-frequency series begins so;
    // s is column 1, scaled to order 1.
    const auto basis = [&](double f) { return std::array<double, 3>{1, f / fHigh, fLow / f}; };
    std::array<std::array<double, 3>, 3> normal{};
    std::array<double, 3> right{};
    for (const Point& q : points) {
        const auto v = basis(q.f);
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j)
                normal[i][j] += q.w * v[i] * v[j];
            right[i] += q.w * v[i] * q.phase;
        }
    }
    const std::optional<std::array<double, 3>> x = solve(normal, right);
    const std::optional<std::array<double, 3>> unit = solve(normal, {0, 1, 0}); // column 1 of the inverse
    if (!x || !unit)
        return std::nullopt;
    // The slope's variance from the points' scatter about the fit.
    double scatter = 0;
    for (const Point& q : points) {
        const auto v = basis(q.f);
        const double r = q.phase - ((*x)[0] * v[0] + (*x)[1] * v[1] + (*x)[2] * v[2]);
        scatter += q.w * r * r;
    }
    const double variance = points.size() > 3 ? scatter / double(points.size() - 3) * (*unit)[1] : 0;
    // s / fHigh radians per Hz is -2 pi D / rate.
    const double toSamples = rate / (2 * std::numbers::pi * fHigh);
    return Delay{-(*x)[1] * toSamples, std::sqrt(std::max(variance, 0.0)) * toSamples};
}

} // namespace

std::optional<Delay> minimumPhaseDelay(const std::vector<std::complex<double>>& transfer,
                                       const std::vector<double>& noise, double binHz, double low, double high)
{
    const auto measured = ClockOffset::measuredBins(transfer, noise, binHz, low, high);
    if (!measured || measured->second < 2 * measured->first)
        return std::nullopt;
    const auto [lowBin, highBin] = *measured;
    std::optional<Delay> delay = fit(transfer, noise, binHz, lowBin, highBin);
    // Where the noise ends the band well below the range's top, the
    // magnitude is continued over the rest: again from half an octave
    // lower, to see how much the delay owes to that continuation.
    if (delay && double(highBin) * binHz < high / 1.1) {
        const std::optional<Delay> lower =
            fit(transfer, noise, binHz, lowBin, std::max(2 * lowBin, std::size_t(double(highBin) / std::sqrt(2.0))));
        delay->uncertainty = lower ? std::hypot(delay->uncertainty, delay->samples - lower->samples) : HUGE_VAL;
    }
    return delay;
}

} // namespace audimera::PhaseReference
