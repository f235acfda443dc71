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
// whole f1 L that lies at most four octaves below start while the sweep
// fills N / R seconds exactly (a short sweep, whose L is small, starts
// higher: at 1 / L, which must lie a third of an octave below start).
//
// Every impulse response deconvolved from the sweep passes through one
// stated filter, the band edges, and through nothing else: a perfect
// loopback gives exactly the band edges' own impulse response. They are a
// high-pass and a low-pass, each a 2nd-order Butterworth section made by the
// bilinear transform (corners pre-warped), so minimum phase: nothing comes
// before the impulse, and the response can be computed anywhere by running
// the two biquads on a unit impulse (bandEdgeImpulse()).
// - High-pass corner: a quarter of start, or 2.5 f1 when that is higher
//   (but never above start). The sweep fades in (half Hann in time) from f1
//   up to that corner; at f1 the high-pass is down 16 dB or more (unless
//   held at start). A 2nd order at a quarter of start keeps a loopback's
//   energy more than 1 ms after its peak below 0.1 % with the default range
//   and length (0.076 % at 44.1 kHz, 0.072 % at 48, 0.061 % at 96); a
//   short sweep starts higher and its corner follows (0.25 % at 2^15
//   samples and 44.1 kHz). A lower corner would need the sweep to start
//   lower still, spending longer below the range, and lets in more of the
//   noise below it; a sharper edge rings longer.
// - Low-pass corner: a quarter of the way (in log frequency) from the
//   fade-out's start to f2. The sweep is at full level from the high-pass
//   corner up to fullLevelTop(), the lower of f2 2^(-1/12) and stop 2^(1/12)
//   but never below stop, then fades out to f2 over at least MinFadeOut
//   samples (which moves the fade's start lower; below stop only when stop
//   lies within those samples of f2). The low-pass has its double zero at
//   f2, where the fade-out goes to zero as fast, so the band edges over
//   the sweep's spectrum stay near 1 in the fade; a corner nearer f2 would
//   ring for longer than 1 ms, one further down would eat into stop (it is
//   0.18 dB down at 20 kHz at 44.1 kHz).
// The deconvolution divides by the played sweep's own DFT, so the band
// edges are all that is left of the sweep. Only where the band edges over
// the sweep's level would pass noise at more than the gain of a full-level
// bin (in the fade-in, and below f1 where there is no sweep) is the inverse
// tapered, by the square of the excess; what that takes from a loopback's
// response lies below -100 dB re its peak.
//
// Units: frequencies in Hz, times in seconds unless named in samples, the
// level as the peak in dB re full scale (1.0).
//
// Immutable once made; any thread may read it.
#pragma once

#include "common/Result.h"
#include "signal/RealFft.h"

#include <complex>
#include <cstddef>
#include <string>
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
    static constexpr std::size_t DefaultLength = std::size_t(1) << 18; // at 44.1 and 48 kHz
    static constexpr double DefaultSeconds = 6;
    static constexpr std::size_t MinFadeOut = 256; // samples
    static constexpr double MinFrequency = 10;
    static constexpr double MaxFrequency = 22050;
    static constexpr double MinLevelDb = -100;
    static constexpr double MaxLevelDb = 0;
    static constexpr int MinRate = 8000;
    static constexpr int MaxRate = 192000;

    // The default length at rate Hz: the power of two nearest
    // DefaultSeconds (2^18 at 44.1 and 48 kHz, 2^19 at 96 kHz).
    static std::size_t defaultLength(int rate) { return lengthFor(DefaultSeconds, rate); }
    // The power of two of samples nearest (in the logarithm) seconds at rate
    // Hz: sweeps are powers of two long; 0 for a duration that is not
    // positive. Not clamped: make() refuses one outside the bounds.
    static std::size_t lengthFor(double seconds, int rate);

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

    // The sweep's amplitude envelope, 0 to 1, at the moment its
    // instantaneous frequency is frequencyHz: the fade-in, 1, the fade-out;
    // 0 outside [f1, f2]. A harmonic made at f (when the fundamental was at
    // envelopeAt(f) times amplitude()) comes out of the deconvolution at
    // k f divided by envelopeAt(k f).
    double envelopeAt(double frequencyHz) const;
    // Where the sweep is at full level: [fullLevelBottom(), fullLevelTop()]
    // holds [start, stop] unless stop lies within MinFadeOut samples of f2.
    double fullLevelBottom() const { return m_fullBottom; }
    double fullLevelTop() const { return m_fullTop; }

    // The band edges every impulse response of this sweep passes through.
    struct BandEdges {
        static constexpr int Order = 2; // of each section
        double highPassHz = 0;
        double lowPassHz = 0;
    };
    BandEdges bandEdges() const { return m_edges; }
    // The band edges in words, for the summaries: "2nd-order
    // Butterworth high-pass at 5 Hz and low-pass at 21.1 kHz, minimum phase".
    std::string bandEdgeDescription() const;
    // The band edges' response at frequencyHz (the two biquads' transfer
    // function on the unit circle).
    std::complex<double> bandEdgeResponse(double frequencyHz) const;
    // The band edges' first samples of impulse response (the biquads run on
    // a unit impulse): what a perfect loopback gives at delay 0.
    std::vector<double> bandEdgeImpulse(std::size_t samples) const;
    // signal through the band edges, in place, from rest: what a device
    // whose impulse response is signal gives, measured with this sweep.
    void bandEdgeFilter(std::vector<double>& signal) const;

    // The signal to play, full scale 1.0.
    const std::vector<float>& samples() const { return m_samples; }

    // How far (samples, fractional) the impulse response of harmonic order
    // k >= 1 lies before the linear one: L ln k times the rate.
    double harmonicLead(int k) const;

    // The sweep's inverse with the band edges, on the n / 2 + 1 bins of an
    // n-point DFT (n >= length()): the band edges over the n-point DFT of
    // the played samples, tapered where that would pass noise above a
    // full-level bin's gain (see above). Scaled so that the n-point DFT of a
    // recording times these bins, transformed back, is the impulse response
    // in the recording's own units. bins must hold n / 2 + 1 values; the
    // second overload works in fft's buffers (its size is n).
    void inverseSpectrum(std::size_t n, std::complex<double>* bins) const;
    void inverseSpectrum(RealFft& fft, std::complex<double>* bins) const;

    // The stationary-phase approximation of that inverse without the band
    // edges, 2 sqrt(f / L) exp(-j (2 pi f L (1 - ln(f / f1)) - pi / 4)) / A in
    // the same scale, at bin k of n: the inverse of the sweep at full level.
    std::complex<double> analyticInverse(std::size_t k, std::size_t n) const;

private:
    LogSweep() = default;

    LogSweepShape m_shape;
    double m_amplitude = 0;
    double m_f1 = 0;
    double m_f2 = 0;
    double m_L = 0;
    double m_fadeIn = 0;  // samples
    double m_fadeOut = 0; // samples
    double m_fullBottom = 0;
    double m_fullTop = 0;
    BandEdges m_edges;
    double m_highPass[5] = {}; // b0, b1, b2, a1, a2
    double m_lowPass[5] = {};
    std::vector<float> m_samples;
};

} // namespace audimera
