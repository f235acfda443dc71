// Designing an equaliser for a measured response: the target it aims at,
// the automatic fit of peaking and shelving filters (EqFilter) that brings
// the response toward it over a range, and the figures of how close it got.
//
// Target: flat, a house curve read from a file (any curve or calibration
// file the correction loader reads), or a built-in shape (a tilt in
// dB/octave about 1 kHz plus a bass shelf of a gain below a corner). It is
// placed at the response's mean level over the fit range (in dB on the
// log-frequency grid), or at levelDb when one is set.
//
// Fit: on a log-frequency grid (FitPointsPerOctave) over [lowHz, highHz],
// on the response smoothed first (1/6 octave below 200 Hz, 1/3 above: the
// mean level in dB over [f 2^(-1/2N), f 2^(1/2N)]), least squares in dB of
// (response + EQ - target), the EQ's curve smoothed alike, so that a
// narrow peak is met by a filter as narrow as itself. Filters are placed
// one at a time at the largest remaining deviation the limits let a filter
// reduce (its Q from the deviation's width), refined alone, then all
// refined together (Levenberg-Marquardt on ln f, gain and ln Q) within the
// limits: each filter's gain from -maxCutDb to maxBoostDb (0: cuts only),
// Q from MinQ to MaxQ, its frequency within the range; the summed EQ is
// held to the same boost and cut (a small excess where filters overlap is
// possible unless the boost is 0). A filter whose gain ends below
// DropBelowDb is dropped and the rest refined again. The fit uses peaking
// filters only: a tilt or a shelf belongs in the target, and a wide peak of
// Q 0.5 at the range's end does a shelf's work there. Deterministic: the
// same input gives the same filters (no random starts, a fixed order).
// The method is described in the help page.
//
// Pure. Any thread.
#pragma once

#include "common/Result.h"
#include "curves/CurvePoints.h"
#include "signal/EqFilter.h"

#include <optional>
#include <string>
#include <vector>

namespace audimera {

struct EqTarget {
    enum class Kind { Flat, File, Shape };
    Kind kind = Kind::Flat;
    // Kind::File: the house curve's points (Hz, dB), ascending; read by
    // loadHouseCurve().
    std::vector<CurvePoint> curve;
    // Kind::Shape.
    double tiltDbPerOctave = 0;  // about 1 kHz
    double bassShelfDb = 0;      // below bassShelfHz (a 2nd-order shelf's shape)
    double bassShelfHz = 100;
    // Where the target sits: the response's mean over the fit range when
    // unset.
    std::optional<double> levelDb;

    // The target's shape at hz, before it is placed (dB).
    double shapeAt(double hz) const;
};

// Reads a house curve ("frequency level" lines, or any file the correction
// loader reads) into target.curve; the failure says why (kind File or
// BadInput).
Status loadHouseCurve(const std::string& path, EqTarget& target);

struct EqFitSettings {
    static constexpr int MaxFilters = 20;
    static constexpr double MinQ = 0.5;
    static constexpr double MaxQ = 15;
    static constexpr double DropBelowDb = 0.3;
    static constexpr int FitPointsPerOctave = 48;
    static constexpr double MaxLimitDb = 30; // the most maxBoostDb or maxCutDb may be
    double lowHz = 20;
    double highHz = 500;
    int filters = 10;       // 1 to MaxFilters
    double maxBoostDb = 3;  // 0: cuts only
    double maxCutDb = 15;
    double rate = 48000;    // the rate the filters run at
};

struct EqFit {
    std::vector<EqFilter> filters; // ascending in frequency
    double targetLevelDb = 0;      // where the target was placed
    // Over the fit range, on the fit's grid, response + EQ against the
    // target (both smoothed as the fit smooths them): RMS and largest
    // deviation in dB; and the same before the EQ.
    double rmsDb = 0;
    double maxDb = 0;
    double rmsBeforeDb = 0;
    double maxBeforeDb = 0;
};

// Fails with BadInput (the message says which): a response with too few
// points in the range (fewer than 2 per octave), a level or frequency that
// is not finite, a range outside 20 Hz-20 kHz, outside the response or not
// below half the rate, settings out of their limits (filters 1 to
// MaxFilters, boost and cut 0 to MaxLimitDb and not both 0, rate 8 to
// 768 kHz), or a target that is not finite or a house curve without
// points. The response's points may come in any order. Takes up to about
// a second for 20 filters over the whole audio range.
Result<EqFit> fitEq(const std::vector<CurvePoint>& response, const EqTarget& target, const EqFitSettings& settings);

// The target placed as fitEq places it (for the plot), at hz.
double targetLevelAt(const EqTarget& target, double placedLevelDb, double hz);

// The response plus the EQ at the response's own frequencies (the
// predicted result).
std::vector<CurvePoint> predictedResponse(const std::vector<CurvePoint>& response,
                                          const std::vector<EqFilter>& filters, double rate);

} // namespace audimera
