// How the phase analysis works (see PhaseAnalysis.h for what it gives).
//
// One DFT length M (the response's length, at least a second, made good
// for FFTW), one RealFft, two forward transforms:
// - X: the response placed on the DFT's circle so that the sample nearest
//   the measurement's delay D is index 0 (sample i at i - j0, modulo M).
//   Only a fraction of a sample (phi = D - t0 - j0, t0 = firstSampleTime)
//   of D is then left to take out, which turns a point's phase by
//   2 pi f phi / rate and hardly at all over its band, so the complex mean
//   over the band stays coherent.
// - T: the same samples times their signed time i - j0. On the DFT's bins
//   Re{T / X} is exactly the group delay of the response after sample j0:
//   no unwrapping. A point's group delay is the |X|^2-weighted mean of it
//   over the point's band, sum Re{T conj X} / sum |X|^2, plus t0 + j0 (so
//   it counts from the excitation), less the stated filter's own group
//   delay at the band's weighted mean frequency (a central difference of
//   its phase, 1e-4 of the frequency either side).
//
// Magnitude: the power mean of |X| over the band over |stated|^2 at the
// band's weighted mean frequency, in dB re the highest point of the range
// asked for. Points more than maskDb below it keep their magnitude only.
//
// Minimum phase: ln|X / stated| per bin over the view's measured range
// [lowHz, highHz] (from trustedLowHz where the view has one), then ClockOffset::minimumPhaseOf in the same transform:
// outside the range the log-magnitude goes on as a straight line in
// ln tan(pi f / rate), its slope fitted over the half octave inside each
// edge and the line kept within 25 nepers (217 dB) of the edge's level;
// then the folded real cepstrum (the Hilbert transform of ln|H|). That
// variable is ln f at low frequencies, and makes the continuation exact
// for filters made by the bilinear transform, whose skirts fall as a power
// of tan(pi f / rate). So the band edges of the measurement (and the noise
// beyond the range) never reach the phase inside it: a flat device has a
// minimum phase of 0 up to the range's ends, and a low-pass whose skirt is
// measured keeps its own. The stated filter is read at bins 1/64 of their
// frequency apart and interpolated between (1e-5 dB off at 20 Hz; read
// every 16 bins instead, its curvature near the high-pass corner alone
// made the minimum phase's group delay ripple by 0.013 ms at 20 Hz). The
// minimum phase at a point is read between the bins about it; its group
// delay is the central difference across the point's band.
//
// Excess phase: measured - minimum, wrapped. Excess group delay: the group
// delay less the minimum phase's, so it counts from the excitation too (a
// pure delay's equals its group delay).
//
// Allocation: the RealFft, X, the magnitude handed to minimumPhaseOf (and
// its log-magnitude and phase) and the points.
#include "signal/PhaseAnalysis.h"

#include "signal/AnalysisSupport.h"
#include "signal/ClockOffset.h"
#include "signal/RealFft.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace audimera {

namespace {

using analysis::badInput;
using analysis::cancelled;
using Complex = std::complex<double>;
constexpr double Pi = std::numbers::pi;
// The fewest bins the minimum phase's group delay is read across.
constexpr std::size_t MinDelaySpan = 16;

// The stated filter is read for the minimum phase at bins this fraction of
// their frequency apart.
constexpr std::size_t StatedSpacing = 64;
// The shortest DFT, in seconds of samples: bins at most 1 Hz apart, so the
// lowest points' bands lie near a bin.
constexpr double MinSeconds = 1;
// A point with no energy at all: this far down, never -infinity.
constexpr double FloorDb = -300;

double wrapDegrees(double d)
{
    d = std::fmod(d, 360.0);
    if (d > 180)
        d -= 360;
    else if (d <= -180)
        d += 360;
    return d;
}

// The stated filter's group delay at hz, seconds.
double statedDelay(const std::function<Complex(double)>& stated, double hz)
{
    const double e = 1e-4 * hz;
    const Complex below = stated(hz - e);
    const Complex above = stated(hz + e);
    if (below == 0.0 || above == 0.0)
        return 0;
    return -std::arg(above / below) / (2 * Pi * 2 * e);
}

double statedGain(const std::function<Complex(double)>& stated, double hz)
{
    if (!stated)
        return 1;
    const double g = std::abs(stated(hz));
    return g > 0 ? g : 1;
}

} // namespace

Result<PhaseResult> analysePhase(const ImpulseView& impulse, const PhaseSettings& settings,
                                 const AnalysisProgress& progress)
{
    if (!impulse.samples || impulse.size < 2 || impulse.rate <= 0)
        return badInput("The impulse response is empty");
    if (!std::isfinite(impulse.delaySamples - impulse.firstSampleTime))
        return badInput("The impulse response's delay is not a number");
    if (settings.pointsPerOctave < 1)
        return badInput("The points per octave must be at least 1");
    const double rate = impulse.rate;
    const double nyquist = rate / 2;
    const double low = std::max(settings.lowHz, impulse.lowHz);
    const double high = std::min({settings.highHz, impulse.highHz, nyquist * 0.999});
    if (!(low > 0) || !(high > low))
        return badInput("The frequency range holds no frequencies of the impulse response");
    const auto step = [&](double fraction) { return !progress || progress(fraction); };
    if (!step(0))
        return cancelled();

    const std::size_t m = RealFft::goodLength(std::max({impulse.size, static_cast<std::size_t>(MinSeconds * rate), std::size_t(16)}));
    RealFft fft(m);
    const std::size_t bins = fft.bins();
    const std::size_t last = bins - 1;
    const double binHz = rate / static_cast<double>(m);
    const double t0 = impulse.firstSampleTime;
    const auto j0 = static_cast<int64_t>(std::llround(impulse.delaySamples - t0));
    const double phi = impulse.delaySamples - t0 - static_cast<double>(j0);
    // Sample i lies at index (base + i) modulo M, at signed time i - j0.
    const auto mm = static_cast<int64_t>(m);
    const auto base = static_cast<std::size_t>(((-j0 % mm) + mm) % mm);
    const auto place = [&](std::size_t i) {
        const std::size_t at = base + i;
        return std::pair{at >= m ? at - m : at, static_cast<double>(static_cast<int64_t>(i) - j0)};
    };

    // X, kept; the minimum phase in the transform's buffers; then T in
    // its spectrum.
    double* time = fft.time();
    std::fill(time, time + m, 0.0);
    for (std::size_t i = 0; i < impulse.size; ++i)
        time[place(i).first] = impulse.samples[i];
    fft.forward();
    const std::vector<Complex> x(fft.spectrum(), fft.spectrum() + bins);
    if (!step(0.25))
        return cancelled();

    // The minimum phase from |X / stated| over the measured range.
    const double measuredHigh = std::min(impulse.highHz, nyquist);
    const double measuredLow =
        impulse.trustedLowHz > 0 ? std::min(impulse.trustedLowHz, impulse.lowHz) : impulse.lowHz;
    const std::size_t lowBin = std::clamp<std::size_t>(static_cast<std::size_t>(std::ceil(measuredLow / binHz)), 1,
                                                       last - 1);
    const std::size_t highBin =
        std::clamp<std::size_t>(static_cast<std::size_t>(std::floor(measuredHigh / binHz)), lowBin, last - 1);
    std::vector<double> minimum;
    {
        std::vector<Complex> magnitude(bins, 0.0);
        // The stated filter at bins a fixed fraction of their frequency
        // apart (1/64, a 44th of an octave), linear between.
        std::size_t a = lowBin;
        double gainA = statedGain(impulse.stated, static_cast<double>(a) * binHz);
        while (a <= highBin) {
            const std::size_t b = std::min(a + std::max<std::size_t>(1, a / StatedSpacing), highBin);
            const double gainB = b > a ? statedGain(impulse.stated, static_cast<double>(b) * binHz) : gainA;
            const std::size_t end = b == highBin ? b + 1 : b;
            for (std::size_t k = a; k < end; ++k) {
                const double g = b > a ? gainA + (gainB - gainA) * static_cast<double>(k - a) / static_cast<double>(b - a)
                                       : gainA;
                magnitude[k] = std::sqrt(std::norm(x[k])) / g;
            }
            if (end > highBin)
                break;
            a = b;
            gainA = gainB;
        }
        minimum = ClockOffset::minimumPhaseOf(magnitude, lowBin, highBin, fft);
    }
    if (!step(0.6))
        return cancelled();
    std::fill(time, time + m, 0.0);
    for (std::size_t i = 0; i < impulse.size; ++i) {
        const auto [at, t] = place(i);
        time[at] = t * impulse.samples[i];
    }
    fft.forward();
    const Complex* tx = fft.spectrum();
    if (!step(0.8))
        return cancelled();

    // The points: sums over their bands first, the mask once the highest
    // level is known.
    const int ppo = settings.pointsPerOctave;
    const auto intervals = static_cast<int>(std::max(1.0, std::ceil(ppo * std::log2(high / low) - 1e-9)));
    const double halfBand = std::exp2(0.5 / ppo);
    PhaseResult result;
    result.delayMs = impulse.delaySamples / rate * 1000;
    result.points.resize(static_cast<std::size_t>(intervals) + 1);
    std::vector<double> power(result.points.size());
    double highest = 0;
    for (std::size_t i = 0; i < result.points.size(); ++i) {
        const double f = low * std::pow(high / low, static_cast<double>(i) / intervals);
        const auto a = std::clamp<std::size_t>(static_cast<std::size_t>(std::llround(f / halfBand / binHz)), 1, last);
        const auto b = std::clamp<std::size_t>(static_cast<std::size_t>(std::llround(f * halfBand / binHz)), a, last);
        double weight = 0, delay = 0, weightedHz = 0;
        Complex sum = 0;
        for (std::size_t k = a; k <= b; ++k) {
            const double w = std::norm(x[k]);
            weight += w;
            delay += (tx[k] * std::conj(x[k])).real();
            weightedHz += w * static_cast<double>(k) * binHz;
            sum += x[k];
        }
        PhasePoint& p = result.points[i];
        p.hz = f;
        const double centre = weight > 0 ? weightedHz / weight : f;
        const Complex stated = impulse.stated ? impulse.stated(centre) : Complex(1);
        const double gain = std::abs(stated) > 0 ? std::abs(stated) : 1;
        power[i] = weight / static_cast<double>(b - a + 1) / (gain * gain);
        highest = std::max(highest, power[i]);
        if (!(weight > 0))
            continue;
        const Complex measured = sum * std::polar(1.0, 2 * Pi * f * phi / rate) / (stated != 0.0 ? stated : 1.0);
        const double samples = delay / weight + t0 + static_cast<double>(j0);
        const double statedSeconds = impulse.stated ? statedDelay(impulse.stated, centre) : 0;
        const double groupDelay = (samples / rate - statedSeconds) * 1000;
        // The minimum phase between the bins about f; its group delay across
        // the band.
        const double at = std::min(f / binHz, static_cast<double>(last));
        const auto k0 = std::min(static_cast<std::size_t>(at), last - 1);
        const double minimumRad = minimum[k0] + (minimum[k0 + 1] - minimum[k0]) * (at - static_cast<double>(k0));
        // At least MinDelaySpan bins: the magnitude's ripple from bin to bin
        // (the response's window, its noise) turns the minimum phase a
        // little from bin to bin too, which a difference over one bin would
        // make a delay of.
        const std::size_t reach = std::max<std::size_t>((b - a + 2) / 2, MinDelaySpan / 2);
        const std::size_t mid = (a + b) / 2;
        const std::size_t ka = mid > reach ? mid - reach : 0, kb = std::min(mid + reach, last);
        const double minimumMs = -(minimum[kb] - minimum[ka]) / (2 * Pi * static_cast<double>(kb - ka) * binHz) * 1000;
        p.measuredDeg = std::arg(measured) * 180 / Pi;
        p.minimumDeg = wrapDegrees(minimumRad * 180 / Pi);
        p.excessDeg = wrapDegrees((std::arg(measured) - minimumRad) * 180 / Pi);
        p.groupDelayMs = groupDelay;
        p.excessGroupDelayMs = groupDelay - minimumMs;
        if (i % 64 == 63 && !step(0.8 + 0.2 * static_cast<double>(i) / static_cast<double>(result.points.size())))
            return cancelled();
    }
    const double floor = settings.maskDb > 0 ? highest * std::pow(10.0, -settings.maskDb / 10) : 0;
    for (std::size_t i = 0; i < result.points.size(); ++i) {
        PhasePoint& p = result.points[i];
        p.magnitudeDb = highest > 0 && power[i] > 0 ? std::max(10 * std::log10(power[i] / highest), FloorDb) : FloorDb;
        if (!(power[i] > floor) || !(power[i] > 0)) {
            p.measuredDeg.reset();
            p.minimumDeg.reset();
            p.excessDeg.reset();
            p.groupDelayMs.reset();
            p.excessGroupDelayMs.reset();
        }
    }
    if (!step(1))
        return cancelled();
    return result;
}

} // namespace audimera
