#include "signal/LogSweep.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>

namespace audimera {

namespace {

// A frequency for a message in plain digits: four significant ones, never
// an exponent ("16000 Hz", not "1.6e+04 Hz").
std::string hz(double f)
{
    char text[64];
    const int decimals = std::abs(f) >= 1000 ? 0 : std::abs(f) >= 100 ? 1 : std::abs(f) >= 10 ? 2 : 3;
    std::snprintf(text, sizeof text, "%.*f", decimals, f);
    std::string plain = text;
    // Trailing zeros of the fraction say nothing: 8.000 is 8.
    if (plain.find('.') != std::string::npos) {
        plain.erase(plain.find_last_not_of('0') + 1);
        if (plain.back() == '.')
            plain.pop_back();
    }
    return plain + " Hz";
}

// The L of a sweep from m / L to f2 that lasts exactly seconds: the root of
// L ln(f2 L / m) = seconds, which grows with L above m / f2.
double solveRateConstant(double m, double f2, double seconds)
{
    double low = m / f2;
    double high = std::max(seconds, low * 2);
    while (high * std::log(f2 * high / m) < seconds)
        high *= 2;
    for (int i = 0; i < 200 && high - low > 1e-15 * high; ++i) {
        const double mid = 0.5 * (low + high);
        (mid * std::log(f2 * mid / m) < seconds ? low : high) = mid;
    }
    return 0.5 * (low + high);
}

// A 2nd-order Butterworth section by the bilinear transform, corner
// pre-warped: b0, b1, b2, a1, a2 (a0 = 1).
void butterworth(double corner, double rate, bool highPass, double* c)
{
    const double k = std::tan(std::numbers::pi * corner / rate);
    const double norm = 1 / (1 + std::numbers::sqrt2 * k + k * k);
    const double b0 = highPass ? norm : k * k * norm;
    c[0] = b0;
    c[1] = highPass ? -2 * b0 : 2 * b0;
    c[2] = b0;
    c[3] = 2 * (k * k - 1) * norm;
    c[4] = (1 - std::numbers::sqrt2 * k + k * k) * norm;
}

std::complex<double> sectionAt(const double* c, std::complex<double> z1) // z1 = z^-1
{
    return (c[0] + z1 * (c[1] + z1 * c[2])) / (1.0 + z1 * (c[3] + z1 * c[4]));
}

} // namespace

std::size_t LogSweep::lengthFor(double seconds, int rate)
{
    if (!(seconds > 0) || rate <= 0 || !std::isfinite(seconds))
        return 0;
    const double exponent = std::round(std::log2(seconds * rate));
    return exponent < 0 || exponent > 62 ? 0 : std::size_t(1) << static_cast<int>(exponent);
}

audimera::Result<LogSweep> LogSweep::make(const LogSweepShape& shape)
{
    if (shape.rate < MinRate || shape.rate > MaxRate)
        return audimera::Error{"The sweep's rate must lie from " + std::to_string(MinRate) + " to "
                               + std::to_string(MaxRate) + " Hz"};
    if (shape.length < MinLength || shape.length > MaxLength)
        return audimera::Error{"The sweep's length must lie from " + std::to_string(MinLength) + " (2^15) to "
                               + std::to_string(MaxLength) + " (2^20) samples"};
    if (!(shape.start >= MinFrequency) || !(shape.stop <= MaxFrequency) || !(shape.start < shape.stop))
        return audimera::Error{"The sweep's range must lie from 10 to 22050 Hz, its start below its stop"};
    if (shape.stop > shape.rate / 2.0)
        return audimera::Error{"The sweep's range must end at half the rate (" + hz(shape.rate / 2.0)
                               + ") or below"};
    if (!(shape.levelDb >= MinLevelDb && shape.levelDb <= MaxLevelDb))
        return audimera::Error{"The sweep's level must lie from -100 to 0 dB re full scale"};

    LogSweep sweep;
    sweep.m_shape = shape;
    sweep.m_amplitude = std::pow(10.0, shape.levelDb / 20);
    const double rate = shape.rate;
    const double seconds = static_cast<double>(shape.length) / rate;
    const double f2 = rate / 2;
    const double wanted = shape.start / 16;
    const double m = std::max(1.0, std::floor(wanted * seconds / std::log(f2 / wanted)));
    const double L = solveRateConstant(m, f2, seconds);
    const double f1 = m / L;
    if (shape.start < f1 * std::cbrt(2.0))
        return audimera::Error{"A sweep of " + std::to_string(shape.length) + " samples starts at " + hz(f1)
                               + ": start the range at " + hz(std::ceil(f1 * std::cbrt(2.0)))
                               + " or above, or make the sweep longer"};
    sweep.m_f1 = f1;
    sweep.m_f2 = f2;
    sweep.m_L = L;

    const auto n = shape.length;
    // The high-pass corner, and the fade-in up to it.
    const double highPass = std::min(shape.start, std::max(shape.start / 4, 2.5 * f1));
    const double fadeIn = L * std::log(highPass / f1) * rate;
    // The fade-out: from just above stop, kept clear of f2, at least
    // MinFadeOut samples.
    const double top = std::max(shape.stop, std::min(shape.stop * std::exp2(1.0 / 12), f2 * std::exp2(-1.0 / 12)));
    // (The fade counts from the last sample, one before f2 is reached.)
    const double fadeOut = std::max(static_cast<double>(MinFadeOut), L * std::log(f2 / top) * rate - 1);
    sweep.m_fadeIn = fadeIn;
    sweep.m_fadeOut = fadeOut;
    sweep.m_fullBottom = highPass;
    sweep.m_fullTop = f2 * std::exp(-(fadeOut + 1) / (L * rate));
    sweep.m_edges = {highPass, sweep.m_fullTop * std::pow(f2 / sweep.m_fullTop, 0.25)};
    butterworth(highPass, rate, true, sweep.m_highPass);
    butterworth(sweep.m_edges.lowPassHz, rate, false, sweep.m_lowPass);
    sweep.m_samples.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rate;
        // m exp(t / L) cycles: only the fraction matters, kept exact.
        const double cycles = m * std::exp(t / L);
        double value = sweep.m_amplitude * std::sin(2 * std::numbers::pi * (cycles - std::floor(cycles)));
        const double fromStart = static_cast<double>(i);
        const double toEnd = static_cast<double>(n - 1 - i);
        if (fromStart < fadeIn)
            value *= 0.5 * (1 - std::cos(std::numbers::pi * fromStart / fadeIn));
        if (toEnd < fadeOut)
            value *= 0.5 * (1 - std::cos(std::numbers::pi * toEnd / fadeOut));
        sweep.m_samples[i] = static_cast<float>(value);
    }
    return sweep;
}

double LogSweep::harmonicLead(int k) const
{
    return m_L * std::log(static_cast<double>(k)) * m_shape.rate;
}

double LogSweep::envelopeAt(double frequencyHz) const
{
    if (!(frequencyHz >= m_f1 && frequencyHz <= m_f2))
        return 0;
    const double i = m_L * std::log(frequencyHz / m_f1) * m_shape.rate; // samples from the start
    const double toEnd = static_cast<double>(length() - 1) - i;
    // (Within a millionth of a sample of a fade's end counts as its end.)
    double envelope = 1;
    if (i < m_fadeIn - 1e-6)
        envelope *= 0.5 * (1 - std::cos(std::numbers::pi * i / m_fadeIn));
    if (toEnd < m_fadeOut - 1e-6)
        envelope *= 0.5 * (1 - std::cos(std::numbers::pi * std::max(0.0, toEnd) / m_fadeOut));
    return envelope;
}

std::string LogSweep::bandEdgeDescription() const
{
    char text[160];
    const double low = m_edges.lowPassHz;
    std::snprintf(text, sizeof text,
                  "2nd-order Butterworth high-pass at %.3g Hz and low-pass at %.3g kHz, minimum phase", m_edges.highPassHz,
                  low / 1000);
    return text;
}

std::complex<double> LogSweep::bandEdgeResponse(double frequencyHz) const
{
    const std::complex<double> z1 = std::polar(1.0, -2 * std::numbers::pi * frequencyHz / m_shape.rate);
    return sectionAt(m_highPass, z1) * sectionAt(m_lowPass, z1);
}

std::vector<double> LogSweep::bandEdgeImpulse(std::size_t samples) const
{
    std::vector<double> h(samples, 0.0);
    if (samples > 0)
        h[0] = 1;
    bandEdgeFilter(h);
    return h;
}

void LogSweep::bandEdgeFilter(std::vector<double>& signal) const
{
    for (const double* c : {m_highPass, m_lowPass}) {
        double z1 = 0, z2 = 0; // transposed direct form II
        for (double& v : signal) {
            const double out = c[0] * v + z1;
            z1 = c[1] * v - c[3] * out + z2;
            z2 = c[2] * v - c[4] * out;
            v = out;
        }
    }
}

std::complex<double> LogSweep::analyticInverse(std::size_t k, std::size_t n) const
{
    if (k == 0)
        return 0;
    const double rate = m_shape.rate;
    const double scale = 2.0 / (m_amplitude * rate * std::sqrt(m_L));
    const double f = static_cast<double>(k) * rate / static_cast<double>(n);
    // The phase in cycles, reduced before the multiplication by 2 pi so
    // that it stays exact for long sweeps.
    double cycles = f * m_L * (1 - std::log(f / m_f1)) - 0.125;
    cycles -= std::floor(cycles);
    return std::polar(scale * std::sqrt(f), -2 * std::numbers::pi * cycles);
}

void LogSweep::inverseSpectrum(std::size_t n, std::complex<double>* bins) const
{
    RealFft fft(n);
    inverseSpectrum(fft, bins);
}

void LogSweep::inverseSpectrum(RealFft& fft, std::complex<double>* bins) const
{
    // Where the band edges over the sweep's level would pass noise at more
    // than this gain re a full-level bin, the inverse is tapered.
    constexpr double MaxGain = 1;
    const std::size_t n = fft.size();
    double* time = fft.time();
    const std::size_t count = std::min(n, m_samples.size());
    std::copy(m_samples.begin(), m_samples.begin() + static_cast<std::ptrdiff_t>(count), time);
    std::fill(time + count, time + n, 0.0);
    fft.forward();
    const std::complex<double>* x = fft.spectrum();
    for (std::size_t k = 0; k < fft.bins(); ++k) {
        const double f = static_cast<double>(k) * m_shape.rate / static_cast<double>(n);
        const std::complex<double> edges = bandEdgeResponse(f);
        const double level = std::abs(x[k] * analyticInverse(k, n)); // the sweep's envelope there, about
        if (k == 0 || x[k] == 0.0 || edges == 0.0) {
            bins[k] = 0;
            continue;
        }
        bins[k] = edges / x[k];
        if (const double gain = std::abs(edges) / level; gain > MaxGain)
            bins[k] *= (MaxGain / gain) * (MaxGain / gain);
    }
}

} // namespace audimera
