// Averages of several measured responses into one: pure functions on
// sample arrays and spectra.
//
// Averages, of N responses on one frequency grid:
// - Rms (power): |H| = sqrt(mean |H_i|^2); the phase is not kept.
// - Db: 20 log10 |H| = mean of 20 log10 |H_i|; the phase is not kept.
// - Vector (complex): H = mean H_i, magnitude and phase; responses that
//   arrive at different times cancel where they are out of phase, so each
//   may first be shifted to line up with the first (align).
// Two flat responses of +6 and -6 dB average to +3.26 dB (Rms) and 0 dB (Db).
//
// Any thread; nothing is kept between calls.
#pragma once

#include "common/Result.h"

#include <complex>
#include <cstddef>
#include <string>
#include <vector>

namespace audimera {

enum class AverageMode { Rms, Db, Vector };

// "rms", "db", "vector" and back; parse fails with BadInput.
std::string averageModeName(AverageMode mode);
Result<AverageMode> parseAverageMode(const std::string& text);

// A response on a frequency grid: magnitude (linear) and, where known,
// phase in degrees (empty: none).
struct GridResponse {
    std::vector<double> frequencies; // Hz, ascending
    std::vector<double> magnitude;   // linear, > 0
    std::vector<double> phaseDeg;    // empty, or one per frequency
};

class ResponseAverage {
public:
    // Averages responses given on the same grid (BadInput when the grids
    // differ, fewer than one is given, or Vector is asked of a response
    // without phase). Vector keeps the phase; the others leave it empty.
    static Result<GridResponse> ofGrids(const std::vector<GridResponse>& responses, AverageMode mode);

    // Averages impulse responses at one rate (each zero-padded to the
    // longest): Rms and Db on their spectra's magnitudes, Vector on the
    // complex spectra, each shifted by shiftsSamples[i] (fractional, applied
    // as a linear phase; positive: later; empty: none) first: minus
    // TimeAlignment::delay of each against the first lines them up. A shift
    // longer than the longest response is BadInput. The result is an impulse
    // response again (for Rms and Db the minimum-phase one of the averaged
    // magnitude), as long as the longest.
    static Result<std::vector<float>> ofImpulses(const std::vector<std::vector<float>>& impulses, int rate,
                                                 AverageMode mode, const std::vector<double>& shiftsSamples = {});
};

} // namespace audimera
