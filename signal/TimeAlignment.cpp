// The method: the envelope peak of the band-limited cross-correlation finds
// the delay roughly; its main lobe, gated, gives it to a fraction of a
// sample as the phase of the summed bin-to-bin steps of its spectrum.
//
// Both responses are zero-padded to one length N (at least the sum of their
// lengths, so the circular product is the linear cross-correlation's
// spectrum) and transformed: R (the reference) and X. Their cross-spectrum
// C[k] = X[k] conj(R[k]) over the band asked gives the cross-correlation
// and, through its Hilbert transform, its envelope. The envelope's peak
// integrates every bin coherently, so it stands clear of noise that buries
// any one bin (a short response in a long noisy file) and of a room's
// reverberation. The main lobe reaches from the peak to where the envelope's
// power first falls 20 dB below it (or to ten times its median, its noise,
// if that is higher), the wider side taken on both; the gate is flat over
// it and fades in a raised cosine over as far again, and Cg is the spectrum
// of the gated cross-correlation. Each step Cg[k + 1] conj(Cg[k]) turns by
// -2 pi tau / N for a response tau samples after the reference, whatever
// the magnitude, so
//
//     D = -N / (2 pi) arg( sum over the band of Cg[k + 1] conj(Cg[k]) ),
//
// which is the centroid of the gated cross-correlation's energy (no
// unwrapping: each step is far below pi). The gate is centred on the delay
// found and that repeated until it stays put, so a lobe symmetric about the
// delay (any pure delay, of any fraction of a sample, of a response of any
// band) is cut symmetrically and read exactly. A parabola through the
// peak's samples would be biased where the lobe is broad (a woofer's few
// octaves) and lopsided; the centroid of the whole cross-correlation, on the
// other hand, swings with noise and reverberation far from the peak, which
// the gate leaves out.
//
// What it reads when the delay differs with frequency: each step is
// -2 pi tau(f) / N with tau the group delay of the response minus that of
// the reference (in samples) at that bin, weighted by |Cg[k]| |Cg[k+1]|, so
// D is the mean group-delay difference weighted by the cross-spectrum's
// power on a linear frequency scale over the band,
//
//     D = integral tau(f) |C(f)|^2 df / integral |C(f)|^2 df,
//
// to within the energy the gate leaves out (a 2nd-order high-pass at 40 Hz
// against itself behind an LR4 low-pass at 800 Hz, 48 kHz: 0.003 ms). Two
// drivers through different crossovers are thus lined up where they share
// most energy.
//
// The band: the bins of the band asked where Cg's power stands 10 dB above
// its noise (the envelope's median, as the noise of the cross-correlation
// under the gate) and within 100 dB of its largest bin; only steps between
// two such bins count. The band reported runs from the lowest to the
// highest of them.
//
// The confidence: |sum Cg[k] e^(i 2 pi k D / N)| / sum |Cg[k]| over the
// band, how nearly the cross-spectrum is one delay: 1 when the response is
// the reference delayed (and filtered by anything of zero phase), lower as
// their phases part (a crossover's rotation, noise).
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
constexpr double GateBelowPeak = 1e-2; // the envelope's power, 20 dB
constexpr int MaxPasses = 8;
constexpr double GateAboveNoise = 10;  // times the envelope's median power

Error bad(std::string text)
{
    return Error::of(Failure::BadInput, std::move(text));
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
    std::vector<char> inBand(bins, 0);
    for (std::size_t k = 1; k + 1 < bins; ++k)
        inBand[k] = double(k) * binHz >= band.lowHz && double(k) * binHz <= high;

    // The band-limited cross-correlation c and its Hilbert transform: the
    // envelope is their root sum of squares.
    std::vector<double> c(n), envelope(n);
    for (int part = 0; part < 2; ++part) {
        for (std::size_t k = 0; k < bins; ++k) {
            const std::complex<double> product = inBand[k] ? x[k] * std::conj(r[k]) : 0.0;
            fft.spectrum()[k] = part == 0 ? product : std::complex<double>(product.imag(), -product.real());
        }
        fft.inverse();
        for (std::size_t t = 0; t < n; ++t) {
            envelope[t] += fft.time()[t] * fft.time()[t];
            if (part == 0)
                c[t] = fft.time()[t];
        }
    }
    const std::size_t peak = std::size_t(std::max_element(envelope.begin(), envelope.end()) - envelope.begin());
    if (!(envelope[peak] > 0))
        return bad("The responses share nothing in the band");
    std::vector<double> sorted = envelope;
    std::nth_element(sorted.begin(), sorted.begin() + long(n / 2), sorted.end());
    const double median = sorted[n / 2];
    const double threshold = std::max(GateBelowPeak * envelope[peak], GateAboveNoise * median);

    // The gate's half-width: to where the envelope first falls to the
    // threshold on either side of the peak, the wider of the two; it stays
    // flat that far from its centre and fades over as far again.
    const long long half = (long long)n / 2;
    long long right = 1, left = 1;
    while (right < half && envelope[(peak + std::size_t(right)) % n] > threshold)
        ++right;
    while (left < half && envelope[(peak + n - std::size_t(left)) % n] > threshold)
        ++left;
    const double width = double(std::max<long long>({left, right, 4}));
    const bool gating = 4 * width < double(n);

    // The delay from the gated spectrum, with the gate centred on the delay
    // found before (first the peak) until it stays put: a main lobe
    // symmetric about the delay is then cut symmetrically.
    std::vector<std::complex<double>> gated(bins);
    std::vector<char> used(bins, 0);
    std::complex<double> steps = 0;
    std::size_t first = bins, last = 0;
    double centre = double(peak) > double(half) ? double(peak) - double(n) : double(peak);
    double delay = centre;
    for (int pass = 0; pass < MaxPasses; ++pass) {
        double gateEnergy = 0;
        for (std::size_t t = 0; t < n; ++t) {
            const double d = std::abs(std::remainder(double(t) - centre, double(n)));
            const double w = !gating || d <= width ? 1.0
                             : d >= 2 * width  ? 0.0
                                               : 0.5 + 0.5 * std::cos(Pi * (d - width) / width);
            fft.time()[t] = c[t] * w;
            gateEnergy += w * w;
        }
        fft.forward();
        std::copy(fft.spectrum(), fft.spectrum() + bins, gated.begin());

        // The envelope's noise is exponential with its median ln 2 times
        // its mean, the sum of c's and its transform's: c holds half of it.
        const double noisePerBin = median / (2 * std::log(2.0)) * gateEnergy;
        double largest = 0;
        for (std::size_t k = 0; k < bins; ++k)
            largest = std::max(largest, std::norm(gated[k]));
        steps = 0;
        first = bins, last = 0;
        for (std::size_t k = 0; k < bins; ++k)
            used[k] = inBand[k] && std::norm(gated[k]) > std::max(AboveNoise * noisePerBin, BelowLargest * largest);
        for (std::size_t k = 0; k + 1 < bins; ++k) {
            if (!used[k] || !used[k + 1])
                continue;
            steps += gated[k + 1] * std::conj(gated[k]);
            first = std::min(first, k);
            last = k + 1;
        }
        if (first >= last || !(std::abs(steps) > 0))
            return bad("The responses share no band where they stand above their noise");
        delay = -std::arg(steps) * double(n) / (2 * Pi);
        if (!gating || std::abs(delay - centre) < 1e-6)
            break;
        // Within the lobe found: a gate that wandered off it would measure
        // something else.
        const double lobe = double(peak) > double(half) ? double(peak) - double(n) : double(peak);
        centre = std::clamp(delay, lobe - width, lobe + width);
    }

    Alignment a;
    a.delaySamples = delay;
    a.delayMs = a.delaySamples * 1000.0 / double(rate);
    a.lowHz = double(first) * binHz;
    a.highHz = double(last) * binHz;
    std::complex<double> lined = 0;
    double magnitudes = 0;
    for (std::size_t k = first; k <= last; ++k) {
        if (!used[k])
            continue;
        lined += gated[k] * std::polar(1.0, 2 * Pi * double(k) * a.delaySamples / double(n));
        magnitudes += std::abs(gated[k]);
    }
    a.confidence = std::clamp(std::abs(lined) / magnitudes, 0.0, 1.0);
    return a;
}

} // namespace audimera
