// The stepped sweep: from its settings to the end of the run. Calibrates on
// silence and white noise unless a reference is held, then plays one sine
// per frequency of the plan, records a block after 200 ms, and reports each
// point (level corrected, in dB, and the tone's distortion) to the observer. It yields to the host
// after each pass's set-up, while a block is recorded, after a skipped block
// and after each point; a stop is noticed through Running.
#pragma once

#include "engine/CorrectionTable.h"
#include "signal/FrequencyPlan.h"
#include "engine/MeasuringRun.h"

#include <optional>
#include <string>

namespace audimera {

// What a sweep is read from, once, when it starts.
struct SweepSettings {
    // The plan: FrequencyPlan::RangePlan (geometric from start to stop),
    // Bands15Plan, Bands31Plan or UserFilePlan (the list in userFile).
    int plan = FrequencyPlan::RangePlan;
    double start = 20;    // Hz: the range's first frequency; every plan needs at least 1
    double stop = 20000;  // Hz, rounded half to even: no plan goes above it (at most 20000)
    std::string userFile; // the frequency list of UserFilePlan
    // Tones above this frequency (Hz) play from the table of 20 periods per
    // 100 samples, those at or below it from one period per 100 samples; the
    // tone restarts only at the first point and when the table changes.
    double by20Above = 1000;
    // The play device's level (hundredths of a dB, 0 full, -10000 silent),
    // set before anything plays; none: the level it has.
    std::optional<int> outputLevel;
    // Subtracted from every level, with the flags as they are at each point;
    // none: levels are not corrected.
    const CorrectionTable* corrections = nullptr;
    // How each point's level is measured. Distortion is measured at every
    // point whichever it is.
    LevelDetector detector = LevelDetector::MeanMagnitude;
    // The record input the blocks take (Mix: as the device mixes them, the
    // documented behaviour). Where the device measures both inputs' levels,
    // a tone point after which one input is over 30 dB quieter than the
    // other over the run so far tells the observer (inputNoted).
    RecordChannel channel = RecordChannel::Mix;
};

class SteppedSweep : public MeasuringRun {
public:
    SteppedSweep(MeasurementState& state, Host& host, SoundDevice& sound, RunObserver& observer);

    // Runs the sweep (RunTrace from its first step) and returns how it ended.
    // Refusals (frequency limits, an unreadable list, no room for a trace)
    // are told the user through the host; a refused or ended run has called
    // observer.runEnded().
    RunEnd run(const SweepSettings& settings);

private:
    FrequencyPlan m_plan;
};

} // namespace audimera
