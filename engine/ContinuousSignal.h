// The continuous signal: plays the chosen signal in a loop (calibrating on
// silence and white noise first unless a reference is held) and records and
// analyses block after block, reporting the live level to the observer,
// until Playing is cleared. The signal may change while it plays: the
// observer's choice is asked afresh whenever it is applied. It yields after
// each calibration pass's set-up, while a block is recorded, after each
// calibration pass, when a signal is applied and after every block.
#pragma once

#include "engine/CorrectionTable.h"
#include "engine/MeasuringRun.h"

namespace audimera {

// What the signal is read from, once, when it starts.
struct SignalSettings {
    // Subtracted from every level, with the flags as they are at each block;
    // none: levels are not corrected.
    const CorrectionTable* corrections = nullptr;
    // How the level of a sine is measured (the other signals have their mean
    // magnitude). A sine's distortion is measured whichever it is.
    LevelDetector detector = LevelDetector::MeanMagnitude;
};

class ContinuousSignal : public MeasuringRun {
public:
    ContinuousSignal(MeasurementState& state, Host& host, SoundDevice& sound, RunObserver& observer);

    // RunSignal from its second step (Frequency has been read): returns once
    // Playing is cleared, or after the low-signal question was answered No.
    RunEnd run(const SignalSettings& settings);

    // ApplySignal: plays the observer's choice unless it is what plays
    // already (LastFreq); silence stops playback.
    void ApplySignal();

    // True while the calibration passes play: the user's choices are then
    // only noted, and applied when the calibration ends.
    bool calibrating() const { return m_state.Playing && m_state.Calib == 0; }

    // Plays the table at rate (Hz, clamped by the device) without restarting
    // it; nothing while calibrating.
    void retune(int rate);

private:
    int m_toneKind = -1; // the SignalChoice tone the table holds; -1: none
    bool m_toneBy20 = false;
};

} // namespace audimera
