// An impulse response as the time-frequency analyses read it (Waterfall,
// Spectrogram, PhaseAnalysis): the samples, their rate, where time 0 lies,
// and what the measurement itself put into the response, so the analyses
// can take it out again.
//
// The view does not own the samples: whoever runs an analysis on another
// thread hands it a view on a copy that lives as long as the analysis.
//
// Progress: the analyses call progress with the fraction done (0 to 1) now
// and then (at least every few tens of milliseconds of work); when it
// returns false they stop and fail with Failure::Cancelled and
// AnalysisCancelledMessage. An empty function never cancels.
#pragma once

#include <complex>
#include <cstddef>
#include <functional>

namespace audimera {

using AnalysisProgress = std::function<bool(double fraction)>;

constexpr const char* AnalysisCancelledMessage = "The analysis was stopped";

struct ImpulseView {
    const float* samples = nullptr;
    std::size_t size = 0;
    int rate = 0;
    // Index of the response's peak: time 0 of the waterfall's and the
    // spectrogram's time axes (as on the impulse view).
    std::size_t peak = 0;
    // When samples[0] was recorded, in samples after the excitation (the
    // played sweep's own timing): the zero of the group delay.
    double firstSampleTime = 0;
    // The measurement's delay in samples after the excitation (the delay
    // the response's phase is given relative to): what "delay removed"
    // takes off the group delay and the measured phase.
    double delaySamples = 0;
    // The range the response was measured over (Hz); outside it the
    // magnitude is the measurement's band edges, not the device.
    double lowHz = 20;
    double highHz = 20000;
    // Where the magnitude, with the stated filter divided out, is the
    // device's below lowHz too (a log sweep plays at full level from its
    // high-pass edge up): the minimum phase reads it down to here before it
    // extends the magnitude. 0: from lowHz.
    double trustedLowHz = 0;
    // The filter the response was measured through (a log sweep's band
    // edges), divided out of the measured phase and the group delay;
    // empty: none (an impulse response read from a file).
    std::function<std::complex<double>(double hz)> stated;
};

} // namespace audimera
