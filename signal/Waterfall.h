// Cumulative spectral decay (a waterfall) of an impulse response: the
// spectra of the response from successive start times, each windowed by a
// half-Hann rise of riseMs before the start and a window of windowMs after
// it whose last third is a half-Hann taper; past the response's end the
// samples are zero. Time 0 is the response's peak.
//
// Each slice's spectrum is read at log-spaced frequencies (pointsPerOctave
// from lowHz to highHz, both included): with smoothing (1/N octave, 0 none)
// the power mean over the band of 1/N octave centred on the point, without
// it the power interpolated between the bins about the point (also where the
// band holds no bin). Levels are dB re the highest level of the first slice
// (0 dB; re the highest of all slices when the first is silent, as when it
// starts well before the response), floored at -rangeDb (the level range
// drawn). Slice starts are rounded to whole samples; timesMs are the
// rounded starts.
//
// Pure, allocates once per analysis (one FFTW plan of the window's length,
// zero-padded to a good length). Progress is offered after every slice and
// handed on at most every 10 ms. Any thread.
#pragma once

#include "common/Result.h"
#include "signal/ImpulseView.h"

#include <vector>

namespace audimera {

struct WaterfallSettings {
    double startMs = 0;     // the first slice's start, ms from the peak
    double endMs = 300;     // the last slice's start
    int slices = 30;        // >= 2
    double windowMs = 300;  // after each start; its last third tapered
    double riseMs = 0.5;    // half-Hann rise before each start
    int smoothing = 0;      // 1/N octave; 0: none
    double lowHz = 20;
    double highHz = 20000;  // clamped below half the rate
    double rangeDb = 50;    // levels floored at -rangeDb
    int pointsPerOctave = 48;
};

struct WaterfallResult {
    std::vector<double> frequencies;           // Hz, ascending, log-spaced
    std::vector<double> timesMs;               // each slice's start, ascending
    std::vector<std::vector<double>> levelsDb; // [slice][frequency], dB re the first slice's highest
    double rangeDb = 50;
};

// Fails with BadInput for an empty, silent or not finite view, a peak
// outside it, settings out of their ranges (the message says which), or a
// time range that holds none of the response; with Cancelled when progress
// says so.
Result<WaterfallResult> waterfall(const ImpulseView& impulse, const WaterfallSettings& settings,
                                  const AnalysisProgress& progress = {});

} // namespace audimera
