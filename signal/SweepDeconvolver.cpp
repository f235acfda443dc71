#include "signal/SweepDeconvolver.h"

#include <algorithm>
#include <utility>

namespace audimera {

SweepDeconvolver::SweepDeconvolver(LogSweep sweep) : m_sweep(std::move(sweep)) {}

RealFft& SweepDeconvolver::fft(std::size_t n)
{
    std::unique_ptr<RealFft>& slot = m_ffts[n];
    if (!slot)
        slot = std::make_unique<RealFft>(n);
    return *slot;
}

SweepDeconvolver::Length& SweepDeconvolver::length(std::size_t n)
{
    Length& entry = m_lengths[n];
    if (entry.inverse.empty()) {
        entry.inverse.resize(n / 2 + 1);
        m_sweep.inverseSpectrum(fft(n), entry.inverse.data());
    }
    return entry;
}

void SweepDeconvolver::deconvolve(const float* samples, std::size_t frames, std::size_t stride,
                                  std::vector<double>& response)
{
    const std::size_t n = responseLength(frames);
    filter(samples, frames, stride, n, response);
}

void SweepDeconvolver::filter(const float* samples, std::size_t frames, std::size_t stride, std::size_t n,
                              std::vector<double>& response)
{
    RealFft& transform = fft(n);
    const Length& entry = length(n);
    double* time = transform.time();
    for (std::size_t i = 0; i < frames; ++i)
        time[i] = samples[i * stride];
    std::fill(time + frames, time + n, 0.0);
    transform.forward();
    std::complex<double>* bins = transform.spectrum();
    for (std::size_t k = 0; k < transform.bins(); ++k)
        bins[k] *= entry.inverse[k];
    transform.inverse();
    response.assign(time, time + n);
}

const std::vector<double>& SweepDeconvolver::selfResponse(std::size_t n)
{
    Length& entry = length(n);
    if (entry.self.empty()) {
        const std::vector<float>& x = m_sweep.samples();
        filter(x.data(), std::min(x.size(), n), 1, n, entry.self);
    }
    return entry.self;
}

} // namespace audimera
