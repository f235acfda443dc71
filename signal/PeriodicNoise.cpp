#include "signal/PeriodicNoise.h"

#include "signal/RealFft.h"
#include "signal/UniformRandom.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>

namespace audimera {

namespace {

constexpr std::size_t MinPeriod = 16;
constexpr std::size_t MaxPeriod = std::size_t(1) << 20;
constexpr double TwoPi = 6.28318530717958647692;

} // namespace

Result<std::vector<float>> PeriodicNoise::make(const PeriodicNoiseSettings& settings)
{
    const std::size_t n = settings.period;
    if (n < MinPeriod || n > MaxPeriod)
        return Error::of(Failure::BadInput, "The noise's period must be 16 to 1048576 samples.");
    if (!std::isfinite(settings.rmsDbfs) || settings.rmsDbfs > 0)
        return Error::of(Failure::BadInput, "The noise's level must be a number of dB below full scale.");

    RealFft fft(n);
    std::complex<double>* bins = fft.spectrum();
    std::fill(bins, bins + fft.bins(), std::complex<double>());
    // The seed widened through the generator's own spreading, so seeds 1
    // and 2 give unrelated noise.
    UniformRandom random(UniformRandom::DefaultSeed ^ settings.seed);
    // Every bin strictly below Nyquist: k < n / 2.
    const std::size_t lastBin = (n - 1) / 2;
    for (std::size_t k = 1; k <= lastBin; ++k) {
        const double power = settings.colour == NoiseColour::White ? 1.0 : std::log((k + 0.5) / (k - 0.5));
        bins[k] = std::polar(std::sqrt(power), TwoPi * random.next());
    }
    fft.inverse();

    // Scale to the RMS asked for; the sum of squares over the whole period
    // is exact whatever the colour (Parseval), so measure it in time.
    const double* time = fft.time();
    double sumSquares = 0;
    for (std::size_t i = 0; i < n; ++i)
        sumSquares += time[i] * time[i];
    const double rms = std::sqrt(sumSquares / static_cast<double>(n));
    const double scale = std::pow(10.0, settings.rmsDbfs / 20) / rms;
    std::vector<float> samples(n);
    double peak = 0;
    for (std::size_t i = 0; i < n; ++i) {
        samples[i] = static_cast<float>(time[i] * scale);
        peak = std::max(peak, std::abs(static_cast<double>(samples[i])));
    }
    if (peak > 1.0) {
        char text[128];
        std::snprintf(text, sizeof text,
                      "Noise at %.1f dBFS RMS would reach past full scale; its peaks reach %.1f dBFS.",
                      settings.rmsDbfs, 20 * std::log10(peak));
        return Error::of(Failure::BadInput, text);
    }
    return samples;
}

} // namespace audimera
