// A measured log-sweep impulse response against the exact one: the device's
// own impulse response through the band edges of the sweep that measured
// it (LogSweep::bandEdgeImpulse()), sample by sample after the whole-sample
// delay that fits best.
#pragma once

#include "engine/LogSweepMeasurement.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace audimera {

namespace pulsetest {

// The largest departure, in dB re the exact response's peak, over the part
// of r.impulse its window leaves whole; r measured with the default range
// and `length` samples at 44100 Hz, device the device's impulse response.
inline double departureFromBandEdgesDb(const LogSweepResults& r, std::size_t length, const std::vector<float>& device)
{
    LogSweepSettings settings;
    settings.length = length;
    const audimera::Result<LogSweep> sweep = LogSweep::make(settings.shape(r.rate));
    if (!sweep || r.impulse.empty())
        return INFINITY;
    const std::size_t n = r.impulse.size(), from = r.impulsePeak / 2, to = n - (n - r.impulsePeak) / 8;
    RealFft fft(RealFft::goodLength(2 * n + device.size()));
    std::vector<std::complex<double>> edges(fft.bins());
    const std::vector<double> b = sweep->bandEdgeImpulse(n);
    std::fill(std::copy(b.begin(), b.end(), fft.time()), fft.time() + fft.size(), 0.0);
    fft.forward();
    std::copy(fft.spectrum(), fft.spectrum() + fft.bins(), edges.begin());
    std::fill(std::copy(device.begin(), device.end(), fft.time()), fft.time() + fft.size(), 0.0);
    fft.forward();
    for (std::size_t k = 0; k < fft.bins(); ++k)
        fft.spectrum()[k] *= edges[k];
    fft.inverse();
    const std::vector<double> exact(fft.time(), fft.time() + n);
    double peak = 0;
    for (const double v : exact)
        peak = std::max(peak, std::abs(v));
    double best = INFINITY;
    for (std::size_t start = r.impulsePeak > 64 ? r.impulsePeak - 64 : 0; start <= r.impulsePeak; ++start) {
        double worst = 0;
        for (std::size_t i = from; i < to; ++i)
            worst = std::max(worst, std::abs(r.impulse[i] - (i >= start ? exact[i - start] : 0.0)));
        best = std::min(best, worst);
    }
    return 20 * std::log10(best / peak);
}

} // namespace pulsetest

} // namespace audimera
