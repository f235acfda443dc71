#include "signal/ResponseAverage.h"

#include "signal/ClockOffset.h"
#include "signal/RealFft.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace audimera {

namespace {

constexpr double Pi = std::numbers::pi;

// The floor under a magnitude before its logarithm: 300 dB below the
// largest, so that a response's zero (a high-pass at 0 Hz) stays finite in
// the Db mean and in the cepstrum without touching anything measurable.
constexpr double LogFloor = 1e-15;

Error bad(std::string text)
{
    return Error::of(Failure::BadInput, std::move(text));
}

// The smallest even length >= n that FFTW transforms fast.
std::size_t evenLength(std::size_t n)
{
    std::size_t length = RealFft::goodLength(std::max<std::size_t>(n, 2));
    while (length % 2 != 0)
        length = RealFft::goodLength(length + 1);
    return length;
}

} // namespace

std::string averageModeName(AverageMode mode)
{
    return mode == AverageMode::Rms ? "rms" : mode == AverageMode::Db ? "db" : "vector";
}

Result<AverageMode> parseAverageMode(const std::string& text)
{
    if (text == "rms")
        return AverageMode::Rms;
    if (text == "db")
        return AverageMode::Db;
    if (text == "vector")
        return AverageMode::Vector;
    return Error::of(Failure::BadInput, "Unknown average mode '" + text + "': rms, db or vector");
}

Result<GridResponse> ResponseAverage::ofGrids(const std::vector<GridResponse>& responses, AverageMode mode)
{
    if (responses.empty())
        return bad("Nothing to average");
    const std::vector<double>& grid = responses.front().frequencies;
    for (const GridResponse& r : responses) {
        if (r.frequencies.size() != grid.size() || r.magnitude.size() != grid.size()
            || (!r.phaseDeg.empty() && r.phaseDeg.size() != grid.size()))
            return bad("The responses are not on the same frequencies, or hold a different number of values");
        for (std::size_t k = 0; k < grid.size(); ++k) {
            if (!(std::abs(r.frequencies[k] - grid[k]) <= 1e-9 * std::abs(grid[k])))
                return bad("The responses are not on the same frequencies");
            if (!(r.magnitude[k] > 0 && std::isfinite(r.magnitude[k])))
                return bad("A magnitude is not a finite number above 0");
            if (!r.phaseDeg.empty() && !std::isfinite(r.phaseDeg[k]))
                return bad("A phase is not a finite number");
        }
        if (mode == AverageMode::Vector && r.phaseDeg.empty())
            return bad("The vector average needs the phase of every response");
    }
    const double n = double(responses.size());
    GridResponse average{grid, std::vector<double>(grid.size()), {}};
    if (mode == AverageMode::Vector)
        average.phaseDeg.resize(grid.size());
    for (std::size_t k = 0; k < grid.size(); ++k) {
        double power = 0, logSum = 0;
        std::complex<double> sum = 0;
        for (const GridResponse& r : responses) {
            power += r.magnitude[k] * r.magnitude[k];
            logSum += std::log(r.magnitude[k]);
            if (mode == AverageMode::Vector)
                sum += std::polar(r.magnitude[k], r.phaseDeg[k] * Pi / 180);
        }
        if (mode == AverageMode::Rms) {
            average.magnitude[k] = std::sqrt(power / n);
        } else if (mode == AverageMode::Db) {
            average.magnitude[k] = std::exp(logSum / n);
        } else {
            average.magnitude[k] = std::abs(sum / n);
            average.phaseDeg[k] = std::arg(sum) * 180 / Pi;
        }
    }
    return average;
}

Result<std::vector<float>> ResponseAverage::ofImpulses(const std::vector<std::vector<float>>& impulses, int rate,
                                                       AverageMode mode, const std::vector<double>& shiftsSamples)
{
    if (impulses.empty())
        return bad("Nothing to average");
    if (rate < 1)
        return bad("The rate must be at least 1 Hz");
    if (!shiftsSamples.empty() && shiftsSamples.size() != impulses.size())
        return bad("One shift is needed for each impulse response");
    std::size_t longest = 0;
    for (const std::vector<float>& impulse : impulses) {
        if (impulse.empty())
            return bad("An impulse response holds no samples");
        if (!std::all_of(impulse.begin(), impulse.end(), [](float x) { return std::isfinite(x); }))
            return bad("An impulse response holds a value that is not a finite number");
        longest = std::max(longest, impulse.size());
    }
    double largestShift = 0;
    for (double s : shiftsSamples) {
        if (!std::isfinite(s))
            return bad("A shift is not a finite number");
        largestShift = std::max(largestShift, std::abs(s));
    }
    if (largestShift > double(longest))
        return bad("A shift is longer than the impulse responses");

    // Twice the longest (and the largest shift): a shift's circular wrap and
    // the minimum phase's time aliasing fall into the padding, which is cut
    // off again at the end.
    const std::size_t n = evenLength(2 * longest + std::size_t(std::ceil(largestShift)));
    RealFft fft(n);
    const std::size_t bins = fft.bins();
    std::vector<std::complex<double>> sum(bins);
    std::vector<double> power(bins), logSum(bins);
    for (std::size_t i = 0; i < impulses.size(); ++i) {
        const std::vector<float>& impulse = impulses[i];
        std::copy(impulse.begin(), impulse.end(), fft.time());
        std::fill(fft.time() + impulse.size(), fft.time() + n, 0.0);
        fft.forward();
        const std::complex<double>* x = fft.spectrum();
        const double shift = shiftsSamples.empty() ? 0.0 : shiftsSamples[i];
        for (std::size_t k = 0; k < bins; ++k) {
            if (mode == AverageMode::Vector) {
                // e^(-i w shift): positive shifts move the response later. The
                // bin at half the rate keeps its real part, so the result
                // stays real.
                const std::complex<double> turned =
                    shift == 0 ? x[k] : x[k] * std::polar(1.0, -2 * Pi * double(k) * shift / double(n));
                sum[k] += k == bins - 1 ? std::complex<double>(turned.real(), 0) : turned;
            } else if (mode == AverageMode::Rms) {
                power[k] += std::norm(x[k]);
            } else {
                logSum[k] += std::log(std::abs(x[k]) + 1e-300);
            }
        }
    }
    const double count = double(impulses.size());
    if (mode == AverageMode::Vector) {
        for (std::size_t k = 0; k < bins; ++k)
            fft.spectrum()[k] = sum[k] / count;
    } else {
        std::vector<std::complex<double>> magnitude(bins);
        double peak = 0;
        for (std::size_t k = 0; k < bins; ++k) {
            magnitude[k] = mode == AverageMode::Rms ? std::sqrt(power[k] / count) : std::exp(logSum[k] / count);
            peak = std::max(peak, magnitude[k].real());
        }
        if (!(peak > 0))
            return std::vector<float>(longest, 0.0f);
        for (std::complex<double>& m : magnitude)
            m = std::max(m.real(), peak * LogFloor);
        const std::vector<double> phase = ClockOffset::minimumPhaseOf(magnitude, 0, bins - 1, fft);
        for (std::size_t k = 0; k < bins; ++k)
            fft.spectrum()[k] = std::polar(magnitude[k].real(), phase[k]);
    }
    fft.inverse();
    std::vector<float> result(longest);
    for (std::size_t i = 0; i < longest; ++i)
        result[i] = float(fft.time()[i]);
    return result;
}

} // namespace audimera
