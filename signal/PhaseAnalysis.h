// Group delay, minimum phase and excess phase of an impulse response.
//
// - Measured: the response's transfer function with the stated filter (the
//   sweep's band edges) divided out; its phase relative to the
//   measurement's delay (ImpulseView::delaySamples).
// - Group delay: -dphi/domega from the response itself, without unwrapping:
//   Re{FFT(t h) / FFT(h)}, averaged over each point's band weighted by
//   |H|^2; in ms after the excitation (firstSampleTime is its zero), or
//   with the measurement's delay removed.
// - Minimum phase: the Hilbert transform of ln|H| through the real cepstrum,
//   on a magnitude that keeps the measured one inside [lowHz, highHz] and is
//   extended outside it (how: see PhaseAnalysis.cpp), so the band edges of
//   the measurement do not turn the phase inside the range.
// - Excess phase: measured - minimum, wrapped to (-180, 180]; excess group
//   delay: its -dphi/domega.
//
// Points are log-spaced (pointsPerOctave, lowHz to highHz). A point whose
// magnitude lies more than maskDb below the highest in the range is masked:
// its phases and delays are empty, never a number that cannot be trusted.
//
// Pure, allocates once per analysis. Any thread.
#pragma once

#include "common/Result.h"
#include "signal/ImpulseView.h"

#include <optional>
#include <vector>

namespace audimera {

struct PhaseSettings {
    double lowHz = 20;     // clamped to the view's range
    double highHz = 20000;
    int pointsPerOctave = 48;
    double maskDb = 40;    // 0 or less: nothing masked
};

struct PhasePoint {
    double hz = 0;
    double magnitudeDb = 0; // re the highest in the range
    std::optional<double> measuredDeg;
    std::optional<double> minimumDeg;
    std::optional<double> excessDeg;
    std::optional<double> groupDelayMs;       // after the excitation
    std::optional<double> excessGroupDelayMs;
};

struct PhaseResult {
    std::vector<PhasePoint> points;
    double delayMs = 0; // the measurement's delay: groupDelayMs - delayMs is "delay removed"
};

// Fails as waterfall() does.
Result<PhaseResult> analysePhase(const ImpulseView& impulse, const PhaseSettings& settings,
                                 const AnalysisProgress& progress = {});

} // namespace audimera
