// The log sweep's excitation: a synchronized exponential sine sweep
//   x(t) = A sin(2 pi f1 L exp(t / L)),  0 <= t < T,
// whose instantaneous frequency f1 exp(t / L) rises from f1 to f2 over the
// whole played buffer. f1 L is a whole number, so the phase is a whole
// number of cycles wherever the frequency is f1 times a power of two, and
// the k-th harmonic of the sweep is the sweep itself advanced by L ln k:
// sin(k theta(t)) = sin(theta(t + L ln k)). Deconvolved, a distortion of
// order k therefore lands as its own impulse response L ln k before the
// linear one, with the right phase (Novak, Simon and Lotton, 2015).
//
// Choice of the parameters, for a buffer of N samples at rate R and a
// reported range [start, stop]: f2 is R / 2, f1 the highest frequency with a
// whole f1 L that lies at most an octave below start while the sweep fills
// N / R seconds exactly (so f1 may lie between a quarter and half of start,
// and never within a third of an octave of it). The sweep fades in (half
// Hann) over the first half of its way from f1 to start and fades out over
// its way from stop (or a sixth of an octave below f2, whichever is lower;
// at least 32 samples) to f2, so the reported range is swept at full level.
//
// Units: frequencies in Hz, times in seconds unless named in samples, the
// level as the peak in dB re full scale (1.0).
//
// Immutable once made; any thread may read it.
#pragma once

#include "common/Result.h"

#include <complex>
#include <cstddef>
#include <vector>

namespace audimera {

struct LogSweepShape {
    int rate = 44100;            // Hz
    std::size_t length = 262144; // samples played
    double start = 20;           // the reported range, Hz
    double stop = 20000;
    double levelDb = -6;         // peak, dB re full scale
};

class LogSweep {
public:
    static constexpr std::size_t MinLength = std::size_t(1) << 15;
    static constexpr std::size_t MaxLength = std::size_t(1) << 20;
    static constexpr std::size_t DefaultLength = std::size_t(1) << 18;
    static constexpr double MinFrequency = 10;
    static constexpr double MaxFrequency = 22050;
    static constexpr double MinLevelDb = -100;
    static constexpr double MaxLevelDb = 0;
    static constexpr int MinRate = 8000;
    static constexpr int MaxRate = 192000;

    // The sweep for shape, or what is wrong with shape (lengths, range and
    // level outside the bounds above, a range above half the rate or one
    // that a sweep of that length cannot reach).
    static audimera::Result<LogSweep> make(const LogSweepShape& shape);

    const LogSweepShape& shape() const { return m_shape; }
    int rate() const { return m_shape.rate; }
    std::size_t length() const { return m_samples.size(); }
    double amplitude() const { return m_amplitude; }
    double f1() const { return m_f1; }
    double f2() const { return m_f2; }
    double rateConstant() const { return m_L; } // L, seconds

    // The signal to play, full scale 1.0.
    const std::vector<float>& samples() const { return m_samples; }

    // How far (samples, fractional) the impulse response of harmonic order
    // k >= 1 lies before the linear one: L ln k times the rate.
    double harmonicLead(int k) const;

    // The analytic inverse of the sweep's spectrum (stationary phase:
    // 2 sqrt(f / L) exp(-j (2 pi f L (1 - ln(f / f1)) - pi / 4)) / A) on the
    // n / 2 + 1 bins of an n-point DFT, scaled so that the n-point DFT of a
    // recording times these bins, transformed back, is the impulse response
    // in the recording's own units (a perfect loopback gives a unit impulse
    // at its delay, band-limited). bins must hold n / 2 + 1 values.
    //
    // It is multiplied by a 4th-order Butterworth high-pass at the range's
    // start, minimum phase: the sweep's lower band edge (its fade-in) then
    // rings after the impulse instead of on both sides of it, where a
    // window that stops short of the 2nd harmonic's response would cut it
    // off. The analysis divides the high-pass out with the rest of the
    // sweep's own response.
    void inverseSpectrum(std::size_t n, std::complex<double>* bins) const;

private:
    LogSweep() = default;

    LogSweepShape m_shape;
    double m_amplitude = 0;
    double m_f1 = 0;
    double m_f2 = 0;
    double m_L = 0;
    std::vector<float> m_samples;
};

} // namespace audimera
