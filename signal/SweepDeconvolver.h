// Turns the recording of a LogSweep into impulse responses: the recording's
// DFT times the sweep's inverse spectrum (the band edges over the played
// sweep's own DFT, LogSweep::inverseSpectrum()), transformed back. The
// result is circular, n samples long (n >= the recording, with small prime
// factors): the linear impulse response starts at the delay d, the one of
// harmonic order k at d - harmonicLead(k), wrapped round to the end when
// the delay is shorter.
//
// The sweep deconvolved by itself (selfResponse) is what a perfect loopback
// gives at delay 0: the band edges' impulse response (LogSweep::
// bandEdgeImpulse()), to -100 dB re its peak, which the analysis divides
// out of magnitude and phase.
//
// Transforms of every length used are planned once and kept, with the
// sweep's inverse spectrum and self response at that length, so repeated
// measurements with the same sweep and recording length plan and allocate
// nothing.
//
// Threads: one object is used by one thread at a time.
#pragma once

#include "signal/LogSweep.h"
#include "signal/RealFft.h"

#include <complex>
#include <cstddef>
#include <map>
#include <memory>
#include <vector>

namespace audimera {

class SweepDeconvolver {
public:
    explicit SweepDeconvolver(LogSweep sweep);

    const LogSweep& sweep() const { return m_sweep; }

    // The length of the circular response for a recording of frames frames.
    static std::size_t responseLength(std::size_t frames) { return RealFft::goodLength(frames); }

    // Deconvolves one channel of a recording: frames samples taken every
    // stride floats from samples. response gets responseLength(frames)
    // values.
    void deconvolve(const float* samples, std::size_t frames, std::size_t stride, std::vector<double>& response);

    // The sweep deconvolved by itself on n points (n from responseLength()).
    const std::vector<double>& selfResponse(std::size_t n);

    // The transform of length n, planned on first use.
    RealFft& fft(std::size_t n);

private:
    // frames samples (every stride-th of samples), zero-padded to n, times
    // the inverse spectrum on n points, into response (n values).
    void filter(const float* samples, std::size_t frames, std::size_t stride, std::size_t n,
                std::vector<double>& response);
    struct Length {
        std::vector<std::complex<double>> inverse; // n / 2 + 1 bins
        std::vector<double> self;                  // empty until asked for
    };
    Length& length(std::size_t n);

    LogSweep m_sweep;
    std::map<std::size_t, std::unique_ptr<RealFft>> m_ffts;
    std::map<std::size_t, Length> m_lengths;
};

} // namespace audimera
