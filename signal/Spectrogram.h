// Spectrogram of an impulse response: short-time spectra over the time
// range, time 0 at the response's peak.
//
// - Gaussian or Hann window of windowMs (the Gaussian's sigma a sixth of
//   it), moved by hops of windowMs (1 - overlap), each spectrum zero-padded
//   to at least twice the window; or
// - Wavelet: constant cycles per window, a Gaussian-windowed (Morlet-like)
//   analysis whose window at frequency f lasts cycles / f (its sigma a
//   sixth of that), read at the same hops.
//
// Rows are log-spaced frequencies (pointsPerOctave, lowHz to highHz); each
// row reads the band between its neighbours: the strongest bin in it, or
// the level interpolated between bins where the band is narrower than a
// bin. Levels are dB re the highest level in the image (0 dB), floored at
// -rangeDb. timesMs are the windows' centres.
//
// Pure, allocates once per analysis. Any thread.
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
    double binHz = 0;  // the transform's bin spacing (Gaussian, Hann)
    float levelAt(std::size_t column, std::size_t row) const
    {
        return levelsDb[column * frequencies.size() + row];
    }
};

// Fails as waterfall() does.
Result<SpectrogramResult> spectrogram(const ImpulseView& impulse, const SpectrogramSettings& settings,
                                      const AnalysisProgress& progress = {});

} // namespace audimera
