#include "engine/LogSweepMeasurement.h"

#include "engine/ToneFit.h"
#include "signal/ClockOffset.h"
#include "signal/PhaseReference.h"
#include "signal/SweepDropout.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <functional>
#include <numbers>

namespace audimera {

namespace {

using Complex = std::complex<double>;
constexpr double Pi = std::numbers::pi;

// The harmonics read out: H2..H5.
constexpr int FirstHarmonic = 2;
constexpr int LastHarmonic = 5;
// The lowest sweep envelope (0.1, -20 dB) at which a harmonic is read out:
// below it the scaling back to full level would lift the noise by more
// than 20 dB.
constexpr double MinHarmonicEnvelope = 0.1;

std::size_t wrap(std::ptrdiff_t i, std::size_t n)
{
    const auto m = static_cast<std::ptrdiff_t>(n);
    i %= m;
    return static_cast<std::size_t>(i < 0 ? i + m : i);
}

double blackman(double x, double halfWidth) // x in [-halfWidth, halfWidth]
{
    const double phase = Pi * (x / halfWidth + 1); // 0 .. 2 pi
    return 0.42 - 0.5 * std::cos(phase) + 0.08 * std::cos(2 * phase);
}

// The circular response h near index p, read between samples by a
// Blackman-windowed sinc (band-limited interpolation), at p + t.
double interpolate(const std::vector<double>& h, std::size_t p, double t)
{
    constexpr int Half = 64; // taps each side: the band edges reach within 1 kHz of half the rate
    double sum = 0;
    for (int j = -Half; j <= Half; ++j) {
        const double x = t - j;
        if (std::abs(x) >= Half + 1)
            continue;
        const double sinc = std::abs(x) < 1e-12 ? 1.0 : std::sin(Pi * x) / (Pi * x);
        sum += h[wrap(static_cast<std::ptrdiff_t>(p) + j, h.size())] * sinc * blackman(x, Half + 1);
    }
    return sum;
}

// Where the band-limited response peaks near its largest sample p, as an
// offset from p in samples (within +-1).
double fractionalPeak(const std::vector<double>& h, std::size_t p)
{
    const double sign = h[p] < 0 ? -1.0 : 1.0;
    auto value = [&](double t) { return sign * interpolate(h, p, t); };
    double best = 0;
    double bestValue = value(0);
    for (double t = -1; t <= 1.0001; t += 0.125) {
        const double v = value(t);
        if (v > bestValue) {
            bestValue = v;
            best = t;
        }
    }
    // Golden-section search around the best grid point.
    double a = best - 0.125, b = best + 0.125;
    const double g = (std::sqrt(5.0) - 1) / 2;
    double c = b - g * (b - a), d = a + g * (b - a);
    double fc = value(c), fd = value(d);
    for (int i = 0; i < 40; ++i) {
        if (fc > fd) {
            b = d;
            d = c;
            fd = fc;
            c = b - g * (b - a);
            fc = value(c);
        } else {
            a = c;
            c = d;
            fc = fd;
            d = a + g * (b - a);
            fd = value(d);
        }
    }
    return 0.5 * (a + b);
}

std::size_t largestAt(const std::vector<double>& h)
{
    std::size_t p = 0;
    double best = -1;
    for (std::size_t i = 0; i < h.size(); ++i) {
        const double a = std::abs(h[i]);
        if (a > best) {
            best = a;
            p = i;
        }
    }
    return p;
}

// Peak over the mean power of the response between a quarter and half its
// length after the peak, where neither the linear nor a harmonic response
// lies; in dB (-infinity for a silent response).
double impulseSnrDb(const std::vector<double>& h, std::size_t p)
{
    const std::size_t n = h.size();
    double power = 0;
    std::size_t count = 0;
    for (std::size_t i = n / 4; i < n / 2; ++i, ++count)
        power += h[wrap(static_cast<std::ptrdiff_t>(p + i), n)] * h[wrap(static_cast<std::ptrdiff_t>(p + i), n)];
    const double peak = h[p] * h[p];
    if (!(peak > 0))
        return -INFINITY;
    if (count == 0 || power <= 0)
        return INFINITY;
    return 10 * std::log10(peak / (power / static_cast<double>(count)));
}

// A window over a segment of `before` samples before a response's peak and
// `after` samples from it: rises (half Hann) over the first half of
// `before`, is 1 at the peak and after it, and falls to 0 at the segment's
// end over its last `fall` samples (half Hann; 0: the last eighth).
std::vector<double> makeWindow(std::size_t before, std::size_t after, std::size_t fall = 0)
{
    std::vector<double> w(before + after, 1.0);
    const std::size_t rise = before / 2;
    for (std::size_t i = 0; i < rise; ++i)
        w[i] = 0.5 * (1 - std::cos(Pi * (i + 0.5) / rise));
    fall = std::min(fall == 0 ? std::max<std::size_t>(after / 8, 1) : fall, after);
    for (std::size_t i = 0; i < fall; ++i) {
        // i counts back from the segment's end.
        const double x = (i + 0.5) / fall; // 0 at the end, 1 at the fall's start
        w[before + after - 1 - i] = 0.5 * (1 - std::cos(Pi * x));
    }
    return w;
}

// The DFT of the windowed segment of the circular response h around index
// peak, arranged so that the peak is sample 0 (its time shift taken out).
std::vector<Complex> segmentSpectrum(RealFft& fft, const std::vector<double>& h, std::ptrdiff_t peak,
                                     std::size_t before, const std::vector<double>& window)
{
    const std::size_t n = fft.size();
    double* time = fft.time();
    std::fill(time, time + n, 0.0);
    for (std::size_t j = 0; j < window.size(); ++j) {
        const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(j) - static_cast<std::ptrdiff_t>(before);
        time[wrap(offset, n)] = h[wrap(peak + offset, h.size())] * window[j];
    }
    fft.forward();
    return std::vector<Complex>(fft.spectrum(), fft.spectrum() + fft.bins());
}

// A per-bin quantity read at any frequency: linear between bins, and its
// mean over a band as the integral of that line.
class BinCurve {
public:
    explicit BinCurve(std::vector<double> values) : m_values(std::move(values)), m_integral(m_values.size(), 0.0)
    {
        for (std::size_t i = 1; i < m_values.size(); ++i)
            m_integral[i] = m_integral[i - 1] + 0.5 * (m_values[i - 1] + m_values[i]);
    }

    double at(double x) const
    {
        const auto [i, t] = split(x);
        return m_values[i] + (m_values[i + 1] - m_values[i]) * t;
    }

    // The mean over [a, b] (bin positions; the part outside the bins is
    // left out); the value at the middle for a band narrower than a
    // thousandth of a bin.
    double mean(double a, double b) const
    {
        const double last = static_cast<double>(m_values.size() - 1);
        a = std::clamp(a, 0.0, last);
        b = std::clamp(b, 0.0, last);
        if (b - a < 1e-3)
            return at(0.5 * (a + b));
        return (integral(b) - integral(a)) / (b - a);
    }

private:
    std::pair<std::size_t, double> split(double x) const
    {
        const double last = static_cast<double>(m_values.size() - 2);
        x = std::clamp(x, 0.0, last + 1);
        const double i = std::min(std::floor(x), last);
        return {static_cast<std::size_t>(i), x - i};
    }
    double integral(double x) const
    {
        const auto [i, t] = split(x);
        return m_integral[i] + m_values[i] * t + 0.5 * (m_values[i + 1] - m_values[i]) * t * t;
    }

    std::vector<double> m_values;
    std::vector<double> m_integral;
};

// The band of a smoothing of 1/n octave around bin position x.
std::pair<double, double> band(double x, int n)
{
    if (n <= 0)
        return {x, x};
    const double half = std::exp2(0.5 / n);
    return {x / half, x * half};
}

double energyOf(const std::vector<double>& window)
{
    double energy = 0;
    for (const double v : window)
        energy += v * v;
    return energy;
}

// The segment after a response's peak, {after, taper}: `room` samples, or
// with a gate its flat part and taper within them.
std::pair<std::size_t, std::size_t> gatedLength(const LogSweepSettings& settings, int rate, std::size_t room)
{
    std::size_t after = room;
    std::size_t taper = 0;
    // A gate is flat to gateMs after the peak, then tapers to 0.
    if (settings.gateMs > 0) {
        taper = static_cast<std::size_t>(std::llround(settings.taperMs() * rate / 1000));
        const auto flat = static_cast<std::size_t>(std::llround(settings.gateMs * rate / 1000));
        after = std::clamp<std::size_t>(flat + taper, 1, after);
        taper = std::max<std::size_t>(std::min(taper, after), 1);
    }
    return {after, taper};
}

// The windowed segment of the circular response h around index p, as the
// results keep it.
std::vector<float> windowedSegment(const std::vector<double>& h, std::size_t p, std::size_t before,
                                   const std::vector<double>& window)
{
    std::vector<float> segment(window.size());
    for (std::size_t j = 0; j < window.size(); ++j)
        segment[j] = static_cast<float>(
            h[wrap(static_cast<std::ptrdiff_t>(p + j) - static_cast<std::ptrdiff_t>(before), h.size())] * window[j]);
    return segment;
}

// Auto's delay: that at which the transfer function H / B, with `fraction`
// samples of the peak's delay taken out, lines up with its minimum phase;
// noise is H's per bin, binHz apart.
std::optional<PhaseReference::Delay> minimumPhaseDelay(const std::vector<Complex>& H, const std::vector<Complex>& B,
                                                       std::vector<double> noise, double fraction, double binHz,
                                                       int rate, const LogSweepSettings& settings)
{
    std::vector<Complex> transfer(H.size());
    for (std::size_t k = 0; k < transfer.size(); ++k) {
        const double f = static_cast<double>(k) * binHz;
        transfer[k] = B[k] != 0.0 ? H[k] / B[k] * std::polar(1.0, 2 * Pi * f * fraction / rate) : 0.0;
        noise[k] = std::norm(B[k]) > 0 ? noise[k] / std::norm(B[k]) : HUGE_VAL;
    }
    return PhaseReference::minimumPhaseDelay(transfer, noise, binHz, settings.start, settings.stop);
}

// The phase reference of results by settings' rule: the rule applied, its
// note and the delay the phase is given relative to (from
// results.delaySamples). lineUp gives Auto's delay; one beyond half the
// segment before the peak (`before` samples) is no line-up with this
// response's sound (a device far from minimum phase).
void choosePhaseReference(LogSweepResults& results, const LogSweepSettings& settings, bool referenced, int rate,
                          std::size_t before, const std::function<std::optional<PhaseReference::Delay>()>& lineUp)
{
    using PhaseRef = LogSweepSettings::PhaseRef;
    PhaseRef rule = settings.phaseRef;
    if (rule == PhaseRef::Reference && !referenced) {
        rule = PhaseRef::Auto;
        results.phaseRefNote = "no reference channel, so auto";
    } else if (rule == PhaseRef::Auto && referenced) {
        // The reference's timing is the exact one: no fit needed.
        rule = PhaseRef::Reference;
    }
    results.phaseRef = rule;
    results.phaseDelaySamples = results.delaySamples;
    if (rule == PhaseRef::Reference) {
        results.phaseDelaySamples = 0;
    } else if (rule == PhaseRef::Delay) {
        results.phaseDelaySamples = settings.phaseDelayMs * rate / 1000;
    } else if (rule == PhaseRef::Auto) {
        const std::optional<PhaseReference::Delay> extra = lineUp();
        if (extra && std::abs(extra->samples) < static_cast<double>(before) / 2) {
            results.phaseDelaySamples += extra->samples;
            // What the delay's uncertainty (three standard deviations)
            // could do to the phase at the top of the range.
            const double turn = 360 * 3 * extra->uncertainty * settings.stop / rate;
            if (turn > LogSweepMeasurement::MaxPhaseErrorDegrees) {
                char note[160];
                std::snprintf(note, sizeof note,
                              "its delay is known only to +-%.3f samples (3 sigma), which could turn the phase "
                              "by up to %.1f degrees at %g Hz", 3 * extra->uncertainty, turn, settings.stop);
                results.phaseRefNote = note;
            }
        } else {
            results.phaseRef = PhaseRef::Peak;
            results.phaseRefNote = extra ? "no delay lines the response up with its minimum phase, so peak"
                                         : "too little of the range above the noise for auto, so peak";
        }
    }
}

// The transfer function H / B per bin (binHz apart), with `shift` samples
// of delay taken out: |T|^2 and T, read between bins.
struct TransferCurves {
    BinCurve power, re, im;
};

TransferCurves transferCurves(const std::vector<Complex>& H, const std::vector<Complex>& B, double shift,
                              double binHz, int rate)
{
    const std::size_t bins = H.size();
    std::vector<double> power(bins), re(bins), im(bins);
    for (std::size_t k = 0; k < bins; ++k) {
        const double f = static_cast<double>(k) * binHz;
        const Complex t = B[k] != 0.0 ? H[k] / B[k] * std::polar(1.0, 2 * Pi * f * shift / rate) : 0.0;
        power[k] = std::norm(t);
        re[k] = t.real();
        im[k] = t.imag();
    }
    return {BinCurve(std::move(power)), BinCurve(std::move(re)), BinCurve(std::move(im))};
}

// Magnitude (less the corrections) and phase at frequencies fs, smoothed
// as settings say.
std::vector<ResponsePoint> readResponse(const std::vector<double>& fs, const TransferCurves& t, double binHz,
                                        const LogSweepSettings& settings)
{
    std::vector<ResponsePoint> response;
    response.reserve(fs.size());
    for (const double f : fs) {
        const auto [a, b] = band(f / binHz, settings.smoothing);
        double level = 10 * std::log10(std::max(t.power.mean(a, b), 1e-300));
        if (settings.corrections)
            level -= settings.corrections->levelAt(f);
        const double phase = std::atan2(t.im.mean(a, b), t.re.mean(a, b)) * 180 / Pi;
        response.push_back({f, level, phase});
    }
    return response;
}

} // namespace

audimera::Status LogSweepSettings::check(int rate) const
{
    if (const audimera::Result<LogSweep> sweep = LogSweep::make(shape(rate)); !sweep)
        return sweep.error();
    if (const audimera::Status analysis = checkAnalysis(); !analysis)
        return analysis;
    if (reference != Reference::None && channel != RecordChannel::Mix
        && (channel == RecordChannel::Left) == (reference == Reference::Left))
        return audimera::Error{"The record channel cannot be the reference channel: with a reference on one input "
                               "the other one is measured"};
    return {};
}

audimera::Status LogSweepSettings::checkAnalysis() const
{
    if (pointsPerOctave < 1 || pointsPerOctave > MaxPointsPerOctave)
        return audimera::Error{"The points per octave must lie from 1 to " + std::to_string(MaxPointsPerOctave)};
    constexpr int Smoothings[] = {0, 1, 3, 6, 12, 24, 48};
    if (std::find(std::begin(Smoothings), std::end(Smoothings), smoothing) == std::end(Smoothings))
        return audimera::Error{"The smoothing must be 0 (none) or 1/1, 1/3, 1/6, 1/12, 1/24 or 1/48 octave"};
    if (!(gateMs == 0 || (gateMs >= 0.1 && gateMs <= MaxGateMs)))
        return audimera::Error{"The gate must lie from 0.1 to 10000 ms (0 for none)"};
    if (!(gateTaperMs < 0 || gateTaperMs <= MaxGateMs))
        return audimera::Error{"The gate's taper must lie from 0 to 10000 ms"};
    if (!(phaseDelayMs >= -MaxPhaseDelayMs && phaseDelayMs <= MaxPhaseDelayMs))
        return audimera::Error{"The phase reference's delay must lie from -10000 to 10000 ms"};
    return {};
}

std::string LogSweepMeasurement::noReferenceMessage(LogSweepSettings::Reference reference)
{
    const char* side = reference == LogSweepSettings::Reference::Left ? "left" : "right";
    return std::string("The reference channel (") + side
           + ") carries nothing: it must be a direct loopback of the output to that record channel";
}

std::string LogSweepMeasurement::clockOffsetSummary(const LogSweepResults& r)
{
    if (!r.clockOffsetPpm)
        return "Clock offset: not estimated";
    char text[200];
    // No "-0.00".
    const double ppm = std::abs(*r.clockOffsetPpm) < 0.005 ? 0.0 : *r.clockOffsetPpm;
    std::snprintf(text, sizeof text, "Clock offset: %+.2f ppm (+-%.2f ppm, record re play, from the %s%s)", ppm,
                  r.clockOffsetUncertaintyPpm,
                  r.clockOffsetFromReference ? "reference" : "measured channel", r.clockOffsetTakenOut ? ", taken out" : "");
    return text;
}

std::vector<std::string> LogSweepMeasurement::frdComments(const LogSweepResults& r, const LogSweepSettings& measured,
                                                          const std::string& file)
{
    char delay[64];
    std::snprintf(delay, sizeof delay, "delay removed %.4f ms", r.delaySeconds() * 1000);
    const std::size_t slash = file.find_last_of('/');
    return {file.empty() ? "Audimera log sweep, " + std::to_string(measured.lengthAt(r.rate)) + " samples at "
                               + std::to_string(r.rate) + " Hz"
                         : "Audimera impulse response from '" + file.substr(slash == std::string::npos ? 0 : slash + 1)
                               + "' at " + std::to_string(r.rate) + " Hz",
            delay,
            clockOffsetSummary(r) + (r.phaseUnreliable ? "; phase unreliable" : ""),
            phaseReferenceSummary(r),
            "frequency (Hz), magnitude (dB), phase (degrees)"};
}

std::string LogSweepMeasurement::phaseReferenceSummary(const LogSweepResults& r)
{
    using PhaseRef = LogSweepSettings::PhaseRef;
    const char* rule = r.phaseRef == PhaseRef::Auto        ? "auto (best fit to the minimum phase)"
                       : r.phaseRef == PhaseRef::Peak      ? "peak (the impulse response's peak)"
                       : r.phaseRef == PhaseRef::Reference ? "reference (the reference channel's timing)"
                                                           : "fixed delay";
    char text[200];
    std::snprintf(text, sizeof text, "Phase reference: %s, delay %.4f ms (%.2f samples%s)", rule,
                  r.phaseDelaySeconds() * 1000, r.phaseDelaySamples, r.clockOffsetFromReference ? ", re the reference" : "");
    return r.phaseRefNote.empty() ? std::string(text) : std::string(text) + "; " + r.phaseRefNote;
}

std::vector<double> LogSweepMeasurement::frequencies(double start, double stop, int pointsPerOctave)
{
    const double octaves = std::log2(stop / start);
    const int steps = std::max(1, static_cast<int>(std::ceil(octaves * pointsPerOctave - 1e-9)));
    std::vector<double> f(static_cast<std::size_t>(steps) + 1);
    for (int i = 0; i <= steps; ++i)
        f[static_cast<std::size_t>(i)] = start * std::exp2(octaves * i / steps);
    f.back() = stop;
    return f;
}

SweepDeconvolver& LogSweepMeasurement::deconvolverFor(const LogSweep& sweep)
{
    const LogSweepShape& a = sweep.shape();
    if (m_deconvolver) {
        const LogSweepShape& b = m_deconvolver->sweep().shape();
        if (a.rate == b.rate && a.length == b.length && a.start == b.start && a.stop == b.stop
            && a.levelDb == b.levelDb)
            return *m_deconvolver;
    }
    m_deconvolver = std::make_unique<SweepDeconvolver>(sweep);
    return *m_deconvolver;
}

audimera::Result<LogSweepResults> LogSweepMeasurement::analyse(const LogSweep& sweep,
                                                               const LogSweepSettings& settings,
                                                               const float* recorded, std::size_t frames,
                                                               int channels)
{
    auto fail = [&](Failure kind, std::string message) -> audimera::Result<LogSweepResults> {
        return audimera::Error::of(kind, std::move(message));
    };

    const int rate = sweep.rate();
    if (const audimera::Status checked = settings.check(rate); !checked)
        return fail(Failure::BadInput, checked.message());
    const bool referenced = settings.reference != LogSweepSettings::Reference::None;
    m_referenceLead = 0;
    if (channels != (referenced ? 2 : 1))
        return fail(Failure::BadInput, "The recording has the wrong number of channels");
    if (frames < sweep.length())
        return fail(Failure::LowSignal, TooLateMessage);
    const std::size_t refChannel = settings.reference == LogSweepSettings::Reference::Right ? 1 : 0;
    const std::size_t measured = referenced ? 1 - refChannel : 0;

    LogSweepResults results;
    results.rate = rate;

    // Clipping first: a clipped recording has no linear response to find.
    // A sweep at 0 dBFS through a perfect path reaches the rails (32767/32768)
    // near each crest: at its lowest frequency f1 for up to
    // 2 acos(ClipLevel) rate / (2 pi f1) samples, 5.5 at 20 Hz and 44.1 kHz.
    // Clipping is a longer run at the rails than that, and at least ClipRun.
    const auto clipRun = std::max<std::size_t>(
        ClipRun, static_cast<std::size_t>(std::ceil(std::acos(ClipLevel) * rate / (Pi * sweep.f1()))) + 1);
    // A chain that clips below the rails leaves flat tops at the recording's
    // own peak P instead: runs of samples within FlatTopTolerance of P.
    // A clean crest stays that close for a while too. Take a sine crest of
    // amplitude A at f: its samples sit within a fraction e of A for
    // acos(1 - e) rate / (pi f) samples, and a window that wide holds at most
    // its floor plus 1 of them. The samples within the tolerance of P are
    // within e = FlatTopTolerance + (A - P) / A + q / P of their crest's top,
    // where A - P is at most what half a sample off the crest costs,
    // 1 - cos(pi f / rate), and q is the recording's step (1/32768 for one
    // made of 16-bit samples, whose crests repeat a value; 0 for floats).
    // The window is widest at the sweep's lowest frequency f1: 1.4 samples
    // at 20 Hz and 44.1 kHz for floats, 12.4 at the 1.6 Hz a default sweep
    // starts from, 98 there for 16-bit samples at -6 dBFS. A longer run is a flat
    // top. It takes FlatTopSamples samples beyond the clean length, in one
    // run or many (a clipped sweep has a flat top at each crest above the
    // clip level that is slow enough, hundreds or more; a heavily clipped
    // one is a single run), so that a stray coincidence is not clipping.
    auto stepOf = [&](std::size_t channel) {
        for (const int bits : {15, 23}) {
            bool onGrid = true;
            for (std::size_t i = 0; i < frames && onGrid; ++i) {
                const double scaled = std::ldexp(double(recorded[i * channels + channel]), bits);
                onGrid = scaled == std::nearbyint(scaled);
            }
            if (onGrid)
                return std::ldexp(1.0, -bits);
        }
        return 0.0;
    };
    auto flatTopped = [&](std::size_t channel, double peak) {
        const double e = FlatTopTolerance + (1 - std::cos(Pi * sweep.f1() / rate)) + stepOf(channel) / peak;
        if (!(peak > 0) || e >= 1) // nothing above a step: no crest to judge
            return false;
        const auto flatRun =
            static_cast<std::size_t>(std::floor(std::acos(1 - e) * rate / (Pi * sweep.f1()))) + 2;
        const double top = peak * (1 - FlatTopTolerance);
        std::size_t flat = 0, run = 0;
        for (std::size_t i = 0; i < frames; ++i) {
            run = std::abs(recorded[i * channels + channel]) >= top ? run + 1 : 0;
            flat += run >= flatRun ? 1 : 0;
        }
        return flat >= FlatTopSamples;
    };
    auto peakOf = [&](std::size_t channel, bool& clipped) {
        double peak = 0;
        std::size_t run = 0;
        clipped = false;
        for (std::size_t i = 0; i < frames; ++i) {
            const double v = std::abs(recorded[i * channels + channel]);
            peak = std::max(peak, v);
            run = v >= ClipLevel ? run + 1 : 0;
            clipped = clipped || run >= clipRun;
        }
        clipped = clipped || flatTopped(channel, peak);
        return peak;
    };
    bool measuredClipped = false, referenceClipped = false;
    const double measuredPeak = peakOf(measured, measuredClipped);
    results.peakDb = 20 * std::log10(std::max(measuredPeak, 1e-30));
    const double referencePeak = referenced ? peakOf(refChannel, referenceClipped) : 0;
    if (referenced)
        results.referencePeakDb = 20 * std::log10(std::max(referencePeak, 1e-30));
    if (measuredClipped || referenceClipped)
        return fail(Failure::Clipped, ClippedMessage);

    SweepDeconvolver& deconvolver = deconvolverFor(sweep);
    deconvolver.deconvolve(recorded + measured, frames, static_cast<std::size_t>(channels), m_response);
    const std::vector<double>& h = m_response;
    const std::size_t n = h.size();
    const std::size_t p = largestAt(h);
    results.impulseSnrDb = impulseSnrDb(h, p);
    if (!(results.impulseSnrDb >= MinImpulseSnrDb))
        return fail(Failure::LowSignal, NoSignalMessage);

    std::size_t q = 0; // the reference's peak
    if (referenced) {
        deconvolver.deconvolve(recorded + refChannel, frames, 2, m_reference);
        q = largestAt(m_reference);
        if (!(impulseSnrDb(m_reference, q) >= MinImpulseSnrDb))
            return fail(Failure::LowSignal, noReferenceMessage(settings.reference));
    }
    // The whole sweep must lie inside the recording.
    const std::size_t arrival = std::max(p, q);
    // A peak less than half the 2nd harmonic's lead before the response's
    // end is a negative delay: the recording began inside the sweep (a
    // server that renders ahead).
    if (arrival + sweep.length() > frames && static_cast<double>(n - arrival) < 0.5 * sweep.harmonicLead(2))
        return fail(Failure::LowSignal, StartedLateMessage);
    if (arrival + sweep.length() > frames)
        return fail(Failure::LowSignal, TooLateMessage);

    const std::vector<double>& self = deconvolver.selfResponse(n);
    const std::size_t selfPeak = largestAt(self);
    const std::vector<double>& base = referenced ? m_reference : self;
    const std::size_t baseAt = referenced ? q : selfPeak;
    m_referenceLead = static_cast<std::ptrdiff_t>(baseAt) - static_cast<std::ptrdiff_t>(selfPeak);
    const double fraction = fractionalPeak(h, p) - fractionalPeak(base, baseAt);
    results.delaySamples = static_cast<double>(p) - static_cast<double>(baseAt) + fraction;

    // The linear response's segment: half the way back to the 2nd harmonic,
    // forward to the gate or as far as the harmonics of the next turn allow.
    const auto before = static_cast<std::size_t>(0.5 * sweep.harmonicLead(2));
    const auto room = static_cast<std::size_t>(
        std::max(0.0, static_cast<double>(n) - sweep.harmonicLead(8) - 2.0 * static_cast<double>(before)));
    const bool gated = settings.gateMs > 0;
    const auto [after, taper] = gatedLength(settings, rate, std::min(room, n / 2));
    const std::vector<double> window = makeWindow(before, after, taper);
    RealFft& linearFft = deconvolver.fft(RealFft::goodLength(before + after));
    const auto at = [](std::size_t i) { return static_cast<std::ptrdiff_t>(i); };
    const std::vector<Complex> H = segmentSpectrum(linearFft, h, at(p), before, window);
    const std::vector<Complex> B = segmentSpectrum(linearFft, base, at(baseAt), before, window);
    const std::vector<Complex> S =
        referenced ? segmentSpectrum(linearFft, self, at(selfPeak), before, window) : B;

    // --- Clock offset: estimated from the responses above, then taken out
    // of the recording and the analysis run again on it (once).
    if (!m_correcting) {
        const std::vector<Complex>& measuredOrReference = referenced ? B : H;
        const std::vector<double>& response = referenced ? m_reference : h;
        const std::size_t responsePeak = referenced ? q : p;
        // Its noise from where impulseSnrDb reads it (a quarter to half the
        // response's length after the peak), per bin of the transfer function.
        std::vector<double> noise = ClockOffset::segmentNoise(response, responsePeak + n / 4, n / 4,
                                                              linearFft.size(), energyOf(window));
        std::vector<Complex> transfer(linearFft.bins());
        for (std::size_t k = 0; k < transfer.size(); ++k) {
            transfer[k] = S[k] != 0.0 ? measuredOrReference[k] / S[k] : 0.0;
            noise[k] = std::norm(S[k]) > 0 ? noise[k] / std::norm(S[k]) : HUGE_VAL;
        }
        const double binWidth = static_cast<double>(rate) / static_cast<double>(linearFft.size());
        std::optional<ClockOffset::Estimate> clock =
            ClockOffset::estimate(transfer, noise, binWidth, sweep.rateConstant(), sweep.f1(), settings.start,
                                  settings.stop, !referenced);
        if (clock && !(std::abs(clock->ppm) <= MaxClockOffsetPpm))
            clock.reset();
        const double phaseBound =
            clock ? 360 * 3 * clock->uncertaintyPpm * 1e-6 * sweep.rateConstant() * settings.stop / 3 : HUGE_VAL;
        const auto noteClock = [&](LogSweepResults& r) {
            r.clockOffsetFromReference = referenced;
            if (clock) {
                r.clockOffsetPpm = clock->ppm;
                r.clockOffsetUncertaintyPpm = clock->uncertaintyPpm;
            }
            r.clockOffsetTakenOut = &r != &results;
            // With a reference the measured channel is divided by it, which
            // cancels a clock they share: the phase stands either way.
            char note[200] = "";
            if (!referenced && !clock)
                std::snprintf(note, sizeof note,
                              "the clock offset between play and record could not be estimated (too little of the "
                              "range above the noise)");
            else if (!referenced && phaseBound > MaxPhaseErrorDegrees)
                std::snprintf(note, sizeof note,
                              "the clock offset between play and record is known only to +-%.2f ppm (3 sigma), "
                              "which could turn the phase by up to %.1f degrees",
                              3 * clock->uncertaintyPpm, phaseBound);
            r.phaseNote = note;
            r.phaseUnreliable = !r.phaseNote.empty();
        };
        if (clock && std::abs(clock->ppm) >= MinCorrectedPpm && std::abs(clock->ppm) >= 2 * clock->uncertaintyPpm) {
            ClockOffset::toPlayClock(recorded, frames, channels, clock->ppm, m_onPlayClock);
            m_correcting = true;
            audimera::Result<LogSweepResults> corrected =
                analyse(sweep, settings, m_onPlayClock.data(), m_onPlayClock.size() / std::size_t(channels),
                        channels);
            m_correcting = false;
            if (corrected) {
                noteClock(*corrected);
                return corrected;
            }
            // Sound lost is lost on either clock (a skip reads as an offset).
            if (corrected.kind() == Failure::LostSamples)
                return corrected.error();
            // The uncorrected analysis then, its phase marked.
            noteClock(results);
            results.phaseUnreliable = true;
            results.phaseNote = "the recording put back on the play clock could not be analysed (" + corrected.message()
                                + ")";
        } else {
            noteClock(results);
        }
    }
    // --- end of the clock offset.

    // --- Lost sound: the recording judged against the played sweep through
    // the measured linear response, ungated (SweepDropout). After the clock
    // offset, so that a recording put back on the play clock is judged.
    {
        const std::vector<double> whole = gated ? makeWindow(before, std::min(room, n / 2)) : window;
        std::vector<double> segment(whole.size());
        for (std::size_t j = 0; j < whole.size(); ++j)
            segment[j] = h[wrap(at(p) + at(j) - at(before), n)] * whole[j];
        const std::ptrdiff_t offset = at(p) - at(before); // h holds the band edges: no shift for them
        const auto playedAt = [&](double hz) { // the sweep's sample at hz
            return static_cast<std::size_t>(std::max(0.0, sweep.rateConstant() * rate * std::log(hz / sweep.f1())));
        };
        if (SweepDropout::find(recorded + measured, frames, static_cast<std::size_t>(channels),
                               sweep.samples().data(), sweep.length(), segment, offset, before,
                               sweep.bandEdgeImpulse(before + std::min(room, n / 2)),
                               playedAt(sweep.fullLevelBottom()), playedAt(sweep.fullLevelTop()), sweep.f1(),
                               sweep.rateConstant(), rate))
            return fail(Failure::LostSamples, SoundDevice::LostSamplesError);
    }
    // --- end of lost sound.

    results.impulse = windowedSegment(h, p, before, window);
    results.impulsePeak = before;
    results.impulseStartSamples = static_cast<double>(p) - static_cast<double>(before);

    const std::size_t bins = linearFft.bins();
    const double binHz = static_cast<double>(rate) / static_cast<double>(linearFft.size());

    // --- Phase reference: the delay the phase is given relative to. Auto
    // lines up the transfer function with the peak's delay taken out, its
    // noise read where impulseSnrDb reads it.
    choosePhaseReference(results, settings, referenced, rate, before, [&] {
        std::vector<double> noise = ClockOffset::segmentNoise(h, p + n / 4, n / 4, linearFft.size(), energyOf(window));
        return minimumPhaseDelay(H, B, std::move(noise), fraction, binHz, rate, settings);
    });
    // What is left to take out after the whole samples that went with the
    // segments' shift.
    const double shift = results.phaseDelaySamples - (static_cast<double>(p) - static_cast<double>(baseAt));
    // --- end of the phase reference.

    // Per bin: |T|^2 and T with the phase reference's delay taken out (the
    // whole samples of the peak's went with the segments' shift), and the
    // linear response over the sweep's own.
    const TransferCurves transfer = transferCurves(H, B, shift, binHz, rate);
    std::vector<double> fundamental(bins), linearRe(bins), linearIm(bins);
    for (std::size_t k = 0; k < bins; ++k) {
        const Complex linear = S[k] != 0.0 ? H[k] / S[k] : 0.0;
        fundamental[k] = std::norm(linear);
        linearRe[k] = linear.real();
        linearIm[k] = linear.imag();
    }
    const BinCurve fundamentalCurve(std::move(fundamental));
    const BinCurve linearReCurve(std::move(linearRe)), linearImCurve(std::move(linearIm));

    // The harmonics' segments: from 30% of the way back to the next higher
    // order to 60% of the way forward to the next lower one.
    std::vector<BinCurve> harmonicCurves;
    std::vector<double> harmonicBinHz;
    for (int k = FirstHarmonic; k <= LastHarmonic; ++k) {
        const double lead = sweep.harmonicLead(k);
        const auto pre = static_cast<std::size_t>(0.3 * (sweep.harmonicLead(k + 1) - lead));
        const auto post = static_cast<std::size_t>(0.6 * (lead - sweep.harmonicLead(k - 1)));
        std::vector<double> w(pre + post, 1.0);
        for (std::size_t i = 0; i < pre; ++i)
            w[i] = 0.5 * (1 - std::cos(Pi * (i + 0.5) / pre));
        const std::size_t fall = post / 2;
        for (std::size_t i = 0; i < fall; ++i)
            w[pre + post - 1 - i] = 0.5 * (1 - std::cos(Pi * (i + 0.5) / fall));
        RealFft& fft = deconvolver.fft(RealFft::goodLength(pre + post));
        const auto centre = static_cast<std::ptrdiff_t>(std::llround(static_cast<double>(p) - lead));
        const auto selfCentre = at(selfPeak);
        const std::vector<Complex> Hk = segmentSpectrum(fft, h, centre, pre, w);
        const std::vector<Complex> Sk = segmentSpectrum(fft, self, selfCentre, pre, w);
        // What of the linear response reaches this window (the sweep's own
        // response there, through the path) is taken out: short sweeps
        // would otherwise show it as distortion at their lowest octave.
        const std::vector<Complex> Lk =
            segmentSpectrum(fft, self, selfCentre - static_cast<std::ptrdiff_t>(std::llround(lead)), pre, w);
        const double toLinearBin = static_cast<double>(linearFft.size()) / static_cast<double>(fft.size());
        std::vector<double> level(Hk.size());
        for (std::size_t i = 0; i < Hk.size(); ++i) {
            const double x = static_cast<double>(i) * toLinearBin;
            const Complex leak = Complex(linearReCurve.at(x), linearImCurve.at(x)) * Lk[i];
            level[i] = Sk[i] != 0.0 ? std::norm((Hk[i] - leak) / Sk[i]) : 0.0;
        }
        harmonicCurves.emplace_back(std::move(level));
        harmonicBinHz.push_back(static_cast<double>(rate) / static_cast<double>(fft.size()));
    }

    const std::vector<double> fs = frequencies(settings.start, settings.stop, settings.pointsPerOctave);
    results.response = readResponse(fs, transfer, binHz, settings);
    results.distortion.reserve(fs.size());
    const double nyquist = rate / 2.0;
    for (const double f : fs) {
        const auto [a, b] = band(f / binHz, settings.smoothing);
        DistortionPoint d{f, {}, {}};
        const double h1 = fundamentalCurve.mean(a, b);
        double sum = 0;
        int measured = 0;
        for (int k = FirstHarmonic; k <= LastHarmonic; ++k) {
            // The narrow-band detector's limit: harmonics up to 20 kHz.
            if (k * f > ToneAnalysis::HarmonicLimitHz || k * f >= nyquist || !(h1 > 0))
                continue;
            // The harmonic made at f left the chain when the fundamental was
            // at envelopeAt(f): its recorded amplitude c (A env(t))^k comes
            // out of the deconvolution at k f divided by envelopeAt(k f).
            // Scaled back to a fundamental at full level it is multiplied by
            // envelopeAt(k f) / envelopeAt(f)^k. Where the sweep at k f is
            // below MinHarmonicEnvelope the harmonic is not measurable.
            const double envF = sweep.envelopeAt(f);
            const double envKf = sweep.envelopeAt(k * f);
            if (!(envKf >= MinHarmonicEnvelope) || !(envF >= MinHarmonicEnvelope))
                continue;
            const double scale = envKf / std::pow(envF, k);
            const std::size_t i = static_cast<std::size_t>(k - FirstHarmonic);
            const auto [ka, kb] = band(k * f / harmonicBinHz[i], settings.smoothing);
            const double ratio = harmonicCurves[i].mean(ka, kb) / h1 * scale * scale;
            d.harmonicDb[i] = 10 * std::log10(std::max(ratio, 1e-300));
            sum += ratio;
            ++measured;
        }
        // THD only with all of H2..H5: one without H3 would hide odd-order
        // distortion.
        if (measured == LastHarmonic - FirstHarmonic + 1)
            d.thdPercent = 100 * std::sqrt(sum);
        results.distortion.push_back(d);
    }
    return results;
}

audimera::Result<LogSweepResults> LogSweepMeasurement::analyseImpulse(const float* response, std::size_t n, int rate,
                                                                      const LogSweepSettings& settings)
{
    auto fail = [](std::string message) -> audimera::Result<LogSweepResults> {
        return audimera::Error::of(Failure::BadInput, std::move(message));
    };
    if (n == 0 || response == nullptr)
        return fail(EmptyImpulseMessage);
    if (rate <= 0)
        return fail("The impulse response's rate must be above 0 Hz");
    if (const audimera::Status checked = settings.checkAnalysis(); !checked)
        return fail(checked.message());
    LogSweepSettings s = settings;
    s.stop = std::min(s.stop, rate / 2.0);
    if (!(settings.start > 0) || !(settings.start < settings.stop))
        return fail("The range must start above 0 Hz and below its stop");
    if (!(s.start < s.stop)) {
        char text[160];
        std::snprintf(text, sizeof text, "The range (%g to %g Hz) lies above half the impulse response's rate (%g Hz)",
                      settings.start, settings.stop, rate / 2.0);
        return fail(text);
    }

    std::size_t p = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (!std::isfinite(response[i]))
            return fail("The impulse response holds a value that is not a finite number");
        p = std::abs(response[i]) > std::abs(response[p]) ? i : p;
    }
    const double peak = std::abs(response[p]);
    // The start (the first sample within 20 dB of the peak) and the noise:
    // the mean power of the response's last tenth, or its first where the
    // peak lies in the last, or none.
    std::size_t start = 0;
    while (std::abs(response[start]) < 0.1 * peak)
        ++start;
    const std::size_t tenth = std::max<std::size_t>(n / 10, 1);
    const std::size_t noiseFrom = p < n - tenth ? n - tenth : p >= tenth ? 0 : n;
    double noisePower = 0;
    for (std::size_t i = noiseFrom; i < std::min(noiseFrom + tenth, n); ++i)
        noisePower += double(response[i]) * response[i];
    noisePower /= static_cast<double>(tenth);

    LogSweepResults results;
    results.rate = rate;
    results.peakDb = 20 * std::log10(std::max(peak, 1e-30));
    results.impulseSnrDb = !(peak > 0) ? -INFINITY : noisePower > 0 ? 10 * std::log10(peak * peak / noisePower)
                                                                     : INFINITY;
    if (!(results.impulseSnrDb >= MinImpulseSnrDb))
        return fail(NoClearStartMessage);

    // The segment: from ImpulseLeadSeconds before the start (the window
    // rises over the half before that) to the end or the gate.
    const auto lead = static_cast<std::size_t>(std::llround(ImpulseLeadSeconds * rate));
    const std::size_t before = 2 * (p - start + lead);
    const auto [after, taper] = gatedLength(s, rate, std::max(n - p, MinImpulseAfter));
    // The response, then silence: the segment before the peak, the
    // interpolation about it and the noise never reach round to the other
    // end of it.
    std::vector<double> h(n + before + after + 256, 0.0);
    std::copy(response, response + n, h.begin());
    const double fraction = fractionalPeak(h, p);
    results.delaySamples = static_cast<double>(p) + fraction;

    const std::vector<double> window = makeWindow(before, after, taper);
    results.impulse = windowedSegment(h, p, before, window);
    results.impulsePeak = before;
    results.impulseStartSamples = static_cast<double>(p) - static_cast<double>(before);
    RealFft fft(RealFft::goodLength(std::max<std::size_t>(before + after, 2)));
    const double binHz = static_cast<double>(rate) / static_cast<double>(fft.size());
    const std::vector<Complex> H = segmentSpectrum(fft, h, static_cast<std::ptrdiff_t>(p), before, window);
    const std::vector<Complex> unit(H.size(), 1.0); // the response of a perfect path

    choosePhaseReference(results, s, false, rate, before, [&] {
        return minimumPhaseDelay(H, unit, ClockOffset::segmentNoise(h, noiseFrom, tenth, fft.size(), energyOf(window)),
                                 fraction, binHz, rate, s);
    });
    const double shift = results.phaseDelaySamples - static_cast<double>(p);
    results.response = readResponse(frequencies(s.start, s.stop, s.pointsPerOctave),
                                     transferCurves(H, unit, shift, binHz, rate), binHz, s);
    return results;
}

audimera::Result<LogSweepResults> LogSweepMeasurement::run(SoundDevice& device, const LogSweepSettings& settings,
                                                           RecordWaiter& waiter,
                                                           const std::function<void(double)>& progress)
{
    const int rate = device.duplexRate();
    if (const audimera::Status checked = settings.check(rate); !checked)
        return Error::of(Failure::BadInput, checked.message());
    const audimera::Result<LogSweep> sweep = LogSweep::make(settings.shape(rate));
    if (!sweep)
        return Error::of(Failure::BadInput, sweep.message());
    const bool referenced = settings.reference != LogSweepSettings::Reference::None;
    DuplexRequest request;
    request.play = sweep->samples().data();
    request.playFrames = sweep->length();
    request.rate = rate;
    request.playChannels = DuplexRequest::Channels::Both;
    request.recordFrames = sweep->length() + static_cast<std::size_t>(std::ceil(LogSweepSettings::TailSeconds * rate));
    request.recordChannels = referenced ? 2 : 1;
    request.recordChannel = settings.channel;
    request.progress = progress;
    const audimera::Result<Recorded> recorded = device.playAndRecord(request, m_recording, waiter);
    if (!recorded)
        return Error::of(recorded.message() == SoundDevice::LostSamplesError ? Failure::LostSamples : Failure::Device,
                         recorded.message());
    if (*recorded == Recorded::Cancelled)
        return Error::of(Failure::Cancelled, CancelledMessage);
    if (progress)
        progress(1.0);
    const std::size_t frames = m_recording.size() / static_cast<std::size_t>(request.recordChannels);
    audimera::Result<LogSweepResults> results =
        analyse(*sweep, settings, m_recording.data(), frames, request.recordChannels);
    if (results && !referenced)
        results->inputNote = device.lastInputLevels().note(settings.channel);
    return results;
}

} // namespace audimera
