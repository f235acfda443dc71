// The method: the slope of the cross-spectrum's phase, read as the phase of
// the sum of its bin-to-bin steps.
//
// Both responses are zero-padded to one length N (at least the sum of their
// lengths, so the circular product is the linear cross-correlation's
// spectrum) and transformed: R (the reference) and X. Their cross-spectrum
// C[k] = X[k] conj(R[k]) of a response that is the reference D samples
// later is |R[k]|^2 e^(-i 2 pi k D / N), so each step C[k + 1] conj(C[k])
// turns by -2 pi D / N whatever the magnitude. The delay is
//
//     D = -N / (2 pi) arg( sum over the band of C[k + 1] conj(C[k]) ),
//
// exact for a pure delay of any fraction of a sample within +-N / 2
// (no unwrapping: each step is far below pi), and as exact for a response
// that holds only a few octaves (a woofer behind its low-pass) as for a
// full-range one: only the bins of the band count. A fitted peak of the
// cross-correlation would be biased there, where the peak is broad and
// lopsided, and sinks into its own side lobes.
//
// What it reads when the delay differs with frequency: each step is
// -2 pi tau(f) / N with tau the group delay of the response minus that of
// the reference (in samples) at that bin, and the sum weights it by
// |C[k]| |C[k+1]|, so D is the mean group-delay difference weighted by the
// cross-spectrum's power on a linear frequency scale over the band:
//
//     D = integral tau(f) |C(f)|^2 df / integral |C(f)|^2 df
//
// (to within the steps' spread, below 1e-6 sample for any response a few
// hundred samples long). Two equal drivers through different crossovers are
// thus lined up where they share most energy, at the delay a listener's
// ear integrates over that band.
//
// The band: the bins where both responses stand 10 dB above their noise
// (the power of the last tenth of each response, taken as noise spread over
// the whole, so a tail that still decays only narrows the band) and within
// 100 dB of their own largest bin, inside the band asked for; only steps
// between two such bins count. The band reported runs from the lowest to
// the highest of them.
//
// The confidence: the normalised cross-correlation at the delay found, over
// the band: |sum C[k] e^(i 2 pi k D / N)| / sqrt(sum |X|^2 sum |R|^2); 1 when
// the response is the reference scaled and delayed, lower as their shapes
// (or the noise) differ.
#include "signal/TimeAlignment.h"

#include "signal/RealFft.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace audimera {

namespace {

constexpr double Pi = std::numbers::pi;
constexpr double AboveNoise = 10;      // power ratio, 10 dB
constexpr double BelowLargest = 1e-10; // power ratio, 100 dB

Error bad(std::string text)
{
    return Error::of(Failure::BadInput, std::move(text));
}

// The noise power a bin of a transform of x holds: the mean square of x's
// last tenth times x's length.
double noisePerBin(const std::vector<float>& x)
{
    const std::size_t tail = x.size() / 10;
    if (tail == 0)
        return 0;
    double sum = 0;
    for (std::size_t i = x.size() - tail; i < x.size(); ++i)
        sum += double(x[i]) * double(x[i]);
    return sum / double(tail) * double(x.size());
}

} // namespace

double TimeAlignment::metres(double ms, double temperatureC)
{
    return ms / 1000.0 * 331.3 * std::sqrt(1.0 + temperatureC / 273.15);
}

Result<Alignment> TimeAlignment::delay(const std::vector<float>& reference, const std::vector<float>& response,
                                       int rate, const AlignmentBand& band)
{
    if (reference.empty() || response.empty())
        return bad("An impulse response holds no samples");
    if (rate < 1)
        return bad("The rate must be at least 1 Hz");
    if (!(band.lowHz >= 0 && band.highHz >= 0 && (band.highHz == 0 || band.highHz > band.lowHz)))
        return bad("The band must run from a lower to a higher frequency, both at least 0 Hz");
    for (const std::vector<float>* x : {&reference, &response})
        if (!std::all_of(x->begin(), x->end(), [](float v) { return std::isfinite(v); }))
            return bad("An impulse response holds a value that is not a finite number");

    std::size_t n = RealFft::goodLength(std::max<std::size_t>(reference.size() + response.size(), 2));
    while (n % 2 != 0)
        n = RealFft::goodLength(n + 1);
    RealFft fft(n);
    const std::size_t bins = fft.bins();
    auto spectrum = [&](const std::vector<float>& x) {
        std::copy(x.begin(), x.end(), fft.time());
        std::fill(fft.time() + x.size(), fft.time() + n, 0.0);
        fft.forward();
        return std::vector<std::complex<double>>(fft.spectrum(), fft.spectrum() + bins);
    };
    const std::vector<std::complex<double>> r = spectrum(reference), x = spectrum(response);

    const double binHz = double(rate) / double(n);
    const double high = band.highHz > 0 ? band.highHz : double(rate) / 2;
    double largestR = 0, largestX = 0;
    for (std::size_t k = 0; k < bins; ++k) {
        largestR = std::max(largestR, std::norm(r[k]));
        largestX = std::max(largestX, std::norm(x[k]));
    }
    const double floorR = std::max(AboveNoise * noisePerBin(reference), BelowLargest * largestR);
    const double floorX = std::max(AboveNoise * noisePerBin(response), BelowLargest * largestX);
    std::vector<char> used(bins, 0);
    for (std::size_t k = 0; k < bins; ++k) {
        const double f = double(k) * binHz;
        used[k] = f >= band.lowHz && f <= high && std::norm(r[k]) > floorR && std::norm(x[k]) > floorX;
    }

    std::complex<double> steps = 0;
    std::size_t first = bins, last = 0;
    for (std::size_t k = 0; k + 1 < bins; ++k) {
        if (!used[k] || !used[k + 1])
            continue;
        steps += x[k + 1] * std::conj(r[k + 1]) * std::conj(x[k] * std::conj(r[k]));
        first = std::min(first, k);
        last = k + 1;
    }
    if (first >= last || !(std::abs(steps) > 0))
        return bad("The responses share no band where both stand above their noise");

    Alignment a;
    a.delaySamples = -std::arg(steps) * double(n) / (2 * Pi);
    a.delayMs = a.delaySamples * 1000.0 / double(rate);
    a.lowHz = double(first) * binHz;
    a.highHz = double(last) * binHz;
    std::complex<double> lined = 0;
    double powerR = 0, powerX = 0;
    for (std::size_t k = first; k <= last; ++k) {
        if (!used[k])
            continue;
        lined += x[k] * std::conj(r[k]) * std::polar(1.0, 2 * Pi * double(k) * a.delaySamples / double(n));
        powerR += std::norm(r[k]);
        powerX += std::norm(x[k]);
    }
    a.confidence = std::clamp(std::abs(lined) / std::sqrt(powerR * powerX), 0.0, 1.0);
    return a;
}

} // namespace audimera
