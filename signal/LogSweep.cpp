#include "signal/LogSweep.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>

namespace audimera {

namespace {

std::string hz(double f)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.4g Hz", f);
    return text;
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

} // namespace

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
    const double wanted = shape.start / 2;
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
    const double fadeIn = 0.5 * L * std::log(shape.start / f1) * rate;
    const double fadeOutFrom = std::min(shape.stop, f2 * std::pow(2.0, -1.0 / 6));
    const double fadeOut = std::max(32.0, L * std::log(f2 / fadeOutFrom) * rate);
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

void LogSweep::inverseSpectrum(std::size_t n, std::complex<double>* bins) const
{
    const double rate = m_shape.rate;
    const double scale = 2.0 / (m_amplitude * rate * std::sqrt(m_L));
    bins[0] = 0;
    const double edge = m_shape.start;
    for (std::size_t k = 1; k <= n / 2; ++k) {
        const double f = static_cast<double>(k) * rate / static_cast<double>(n);
        // The phase in cycles, reduced before the multiplication by 2 pi so
        // that it stays exact for long sweeps.
        double cycles = f * m_L * (1 - std::log(f / m_f1)) - 0.125;
        cycles -= std::floor(cycles);
        // The high-pass: 4th-order Butterworth, analogue, so minimum phase.
        const std::complex<double> s(0, f / edge);
        const std::complex<double> s2 = s * s;
        const std::complex<double> g = s2 * s2 / (s2 * s2 + 2.6131259297527530 * s2 * s + 3.4142135623730950 * s2
                                                  + 2.6131259297527530 * s + 1.0);
        bins[k] = g * std::polar(scale * std::sqrt(f), -2 * std::numbers::pi * cycles);
    }
}

} // namespace audimera
