// A copy of a measurement's impulse response for the time-frequency
// analyses (Waterfall, Spectrogram, PhaseAnalysis): the samples, and the
// view on them that says where time 0 lies, the measurement's delay, its
// range and the band edges it was measured through (a log sweep's; none
// for a response opened from a file).
//
// Immutable once made, so an analysis on another thread may hold it (by
// shared_ptr) while the session moves on to a new measurement.
#pragma once

#include "signal/ImpulseView.h"

#include <memory>
#include <vector>

namespace audimera {

struct LogSweepRun;

class ImpulseData {
public:
    // Null when the run holds no impulse response.
    static std::shared_ptr<const ImpulseData> of(const LogSweepRun& run);

    const ImpulseView& view() const { return m_view; }

private:
    ImpulseData() = default;
    std::vector<float> m_samples;
    ImpulseView m_view;
};

} // namespace audimera
