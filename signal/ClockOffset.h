// The offset between a play clock and a record clock that run apart (a USB
// microphone beside the computer's own output, two cards): measured from a
// log sweep's response, and taken out of a recording by resampling it.
//
// Sign convention, used everywhere in the program: an offset of +PPM means
// the record clock runs at (1 + PPM 1e-6) times the play clock, so a second
// of played sound takes (1 + PPM 1e-6) seconds of recorded samples and a
// tone of f Hz is recorded at f / (1 + PPM 1e-6) Hz.
//
// How an offset shows in a log sweep, and how it is measured: the sweep
// x(t) = sin(2 pi f1 L exp(t / L)) recorded on the faster clock is the sweep
// stretched in time; its frequency f arrives eps L (ln(f / f1) + 1) seconds
// later than the nominal sweep's (eps = PPM 1e-6): deconvolved, the
// response carries an extra phase -2 pi eps L f ln(f / f1) (13 samples of
// delay spread over 20 Hz..20 kHz for 50 ppm and 6 s). A device's own
// phase can look alike, so without a reference the device is taken to be
// minimum phase apart from a delay: its minimum phase (from the measured
// magnitude, by the folded cepstrum) is taken out, and what is left is
// fitted as c - 2 pi f D - 2 pi eps L f ln(f / f1) by least squares over
// log-spaced frequencies. A direct loopback (a reference channel) is a pure
// delay, so its fit needs no such assumption and gives the offset exactly.
//
// Units: Hz, seconds, ppm; recordings in float.
//
// Plain functions: no state but a kernel table made once (thread-safe
// initialisation); any thread.
#pragma once

#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace audimera {
class RealFft;
}

namespace audimera::ClockOffset {

// The band-limited interpolator: a Kaiser-windowed sinc (cut-off at half
// the rate, 64 samples each side, window for 120 dB; flat within 0.0001 dB
// to 0.46 of the rate, what lies above 0.52 of it more than 100 dB down),
// read from a table of 1024 phases with linear interpolation between them.
class Interpolator {
public:
    static constexpr int Reach = 64; // samples used on each side of a position

    static const Interpolator& instance();

    // The band-limited signal x (x(i) for a whole i gives the sample, 0
    // outside) at position t in samples.
    template <class Samples>
    double at(const Samples& x, double t) const
    {
        const double base = std::floor(t);
        const double phase = (t - base) * Phases;
        const int row = static_cast<int>(phase);
        const double between = phase - row;
        const double* a = &m_table[static_cast<std::size_t>(row) * Taps];
        const double* b = a + Taps;
        const auto first = static_cast<int64_t>(base) - (Reach - 1);
        double sum = 0;
        for (int k = 0; k < Taps; ++k)
            sum += x(first + k) * (a[k] + between * (b[k] - a[k]));
        return sum;
    }

private:
    static constexpr int Taps = 2 * Reach;
    static constexpr int Phases = 1024;
    Interpolator();
    std::vector<double> m_table; // (Phases + 1) rows of Taps
};

// A recording of frames frames of channels interleaved floats, made on a
// record clock ppm apart from the play clock, put back on the play clock:
// out frame n is the recording at (1 + ppm 1e-6) n. out is resized.
void toPlayClock(const float* recorded, std::size_t frames, int channels, double ppm, std::vector<float>& out);

// The noise of a windowed segment's spectrum: the power spectrum of the
// count samples of the circular response from index from on (Hann window),
// smoothed over 17 bins and read on the bins of an fftSize-point DFT of a
// segment whose window has energy windowEnergy (sum of its squares). What
// estimate() takes as the noise of the numerator of its transfer function.
std::vector<double> segmentNoise(const std::vector<double>& response, std::size_t from, std::size_t count,
                                 std::size_t fftSize, double windowEnergy);

// Where a transfer function (as estimate() takes it) is measured: the bins
// from the middle of [low, high] Hz outwards over which it stands 20 dB
// above its noise (both smoothed over a sixth of an octave); none when the
// middle does not. A low-pass's skirt that sinks into the noise ends it.
std::optional<std::pair<std::size_t, std::size_t>> measuredBins(const std::vector<std::complex<double>>& transfer,
                                                                const std::vector<double>& noise, double binHz,
                                                                double low, double high);

// The minimum phase, radians on each bin, belonging to the magnitude of
// transfer as measured over bins [lowBin, highBin] and continued beyond as
// a straight line in ln tan(pi f / rate) (exact for the skirts of filters
// made by the bilinear transform), by the folded real cepstrum.
std::vector<double> minimumPhaseOf(const std::vector<std::complex<double>>& transfer, std::size_t lowBin,
                                   std::size_t highBin);
// The same in fft's buffers (its size 2 (transfer.size() - 1)), for a
// caller that has that transform already.
std::vector<double> minimumPhaseOf(const std::vector<std::complex<double>>& transfer, std::size_t lowBin,
                                   std::size_t highBin, RealFft& fft);

struct Estimate {
    double ppm = 0;           // see the sign convention above
    double uncertaintyPpm = 0; // one standard deviation, from the fit's scatter
};

// The offset from a log sweep's transfer function: transfer[k] at
// k * binHz (k = 0 .. size - 1, the DFT of the measured response's segment
// over that of the sweep's own response, both with their peaks at sample
// 0) and noise[k] the variance of its noise, for a sweep of rate constant
// sweepL seconds starting at f1 Hz, fitted within [low, high] Hz where the
// transfer function stands 20 dB above its noise (from the middle of the
// range outwards), and at least three octaves of it. Points every 1/24
// octave are weighted by their noise. minimumPhase: the path is taken to be
// minimum phase apart from a delay (no reference); otherwise to be a pure
// delay (a direct loopback). None when there is too little to fit.
std::optional<Estimate> estimate(const std::vector<std::complex<double>>& transfer,
                                 const std::vector<double>& noise, double binHz, double sweepL, double f1,
                                 double low, double high, bool minimumPhase);

} // namespace audimera::ClockOffset
