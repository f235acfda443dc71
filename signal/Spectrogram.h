// Spectrogram of an impulse response: short-time spectra over the time
// range, time 0 at the response's peak.
//
// - Gaussian or Hann window of windowMs (the Gaussian's sigma a sixth of
//   it), moved by hops of windowMs (1 - overlap), each spectrum zero-padded
//   to at least twice the window; or
// - Wavelet: constant cycles per window, a Gaussian-windowed (Morlet-like)
//   analysis whose window at frequency f lasts cycles / f (its sigma a
//   sixth of that), read at the same hops. Each row is the magnitude of the
//   response's analytic signal through that Gaussian, taken in frequency
//   (peak gain 1 at f, over 4 sigmas either side): a steady sine reads the
//   same level in every row at its frequency.
//
// Rows are log-spaced frequencies (pointsPerOctave, lowHz to highHz, both
// included). In the Gaussian and Hann spectra each row reads its band (half
// a row either side, up to the midpoints to its neighbours): the strongest
// bin in it, or the power interpolated between the bins about the row where
// the band holds no bin. Levels are dB re the highest level in the image
// (0 dB), floored at -rangeDb. timesMs are the windows' centres (an even
// window's centre lies half a sample after its middle sample).
//
// Pure, allocates once per analysis: the Gaussian and Hann one transform of
// twice the window; the wavelet one transform of the time range padded with
// five of the longest window's sigmas either side, and one short complex
// transform (a point per hop) reused by every row. Progress is offered
// after every column (wavelet: every row) and handed on at most every
// 10 ms. Any thread.
#pragma once

#include "common/Result.h"
#include "signal/ImpulseView.h"

#include <vector>

namespace audimera {

struct SpectrogramSettings {
    enum class Window { Gaussian, Hann, Wavelet };
    Window window = Window::Gaussian;
    double windowMs = 20;   // Gaussian and Hann
    double overlap = 0.95;  // 0 to 0.99
    double cycles = 6;      // Wavelet: cycles per window
    double startMs = -10;   // ms from the peak
    double endMs = 500;
    double lowHz = 20;
    double highHz = 20000;  // clamped below half the rate
    double rangeDb = 60;
    int pointsPerOctave = 48;
};

struct SpectrogramResult {
    std::vector<double> frequencies; // Hz, ascending, log-spaced (rows)
    std::vector<double> timesMs;     // window centres, ascending (columns)
    // levelsDb[column * frequencies.size() + row], dB re the highest.
    std::vector<float> levelsDb;
    double rangeDb = 60;
    double hopMs = 0;  // between columns
    double binHz = 0;  // the transform's bin spacing (Gaussian, Hann); 0 for the wavelet
    float levelAt(std::size_t column, std::size_t row) const
    {
        return levelsDb[column * frequencies.size() + row];
    }
};

// Fails as waterfall() does; also with BadInput when the image would hold
// more than 2^25 levels or the wavelet's transform would pass 2^26 points.
Result<SpectrogramResult> spectrogram(const ImpulseView& impulse, const SpectrogramSettings& settings,
                                      const AnalysisProgress& progress = {});

} // namespace audimera
