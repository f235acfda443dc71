// What the sweep and the continuous signal share: the ports they run
// through (the state, the host, the sound device, the observer), playing a
// table and recording a block while the run is wanted, analysing the block
// and handing it to the observer's waveform and spectrum, and ending the run
// itself. Sequential code on the UI thread; the host's yields run the
// user's handlers re-entrantly, and a run notices a stop only through
// Running or Playing.
#pragma once

#include "engine/Host.h"
#include "engine/MeasurementState.h"
#include "engine/RunObserver.h"
#include "devices/SoundDevice.h"

#include <string>
#include <string_view>

namespace audimera {

class MeasuringRun {
public:
    // The question asked when the calibration's white noise comes back too weak.
    static constexpr const char* LowSignalQuestion =
        "Warning: input level too low or too much noise.\r\n\r\n"
        "Adjust record level and play volume. Continue anyway ?";
    // The settling time before each record in a calibration or sweep pass.
    static constexpr int SettleMs = 200;

protected:
    MeasuringRun(MeasurementState& state, Host& host, SoundDevice& sound, RunObserver& observer);
    MeasuringRun(const MeasuringRun&) = delete;
    MeasuringRun& operator=(const MeasuringRun&) = delete;

    // PlayLoop that ends the run with a message when the device fails.
    bool playLoop(const int16_t* table, int rate);
    // Records one block into RecBuffer while wanted (Running or Playing)
    // holds, yielding and sleeping 1 ms between polls. True when a whole
    // block arrived and is still wanted; false when the run was stopped
    // meanwhile or the device failed (the run has then ended with a message).
    bool recordBlock(const bool& wanted);
    // AnalyseBlock on RecBuffer at Frequency, its results into the state;
    // then the block to the waveform and the spectrum when they are shown.
    void analyseBlock(bool tonePass);

    // The tone table now plays at rate (by20: the "x20" table); the fits
    // use the frequency that sounds. noTone: noise or nothing plays.
    void tonePlayed(int rate, bool by20);
    void noTone() { m_toneFrequency = 0; }
    // The analysed section of RecBuffer fitted to the tone that plays
    // (after analyseBlock); false, with nothing fitted, when no tone plays.
    bool fitBlock();
    // The block's level before corrections, in dB against Calib, by
    // detector; the narrow band needs fitBlock() first.
    double measuredLevel(LevelDetector detector) const;
    const ToneFit& lastFit() const { return m_fit; }
    // Ends the run for why: playback stopped, Running and Playing cleared,
    // the observer told.
    void end(RunEnd why);

    MeasurementState& m_state;
    Host& m_host;
    SoundDevice& m_sound;
    RunObserver& m_observer;
    RunEnd m_end = RunEnd::None; // of the run going on, or of the last one

private:
    double m_toneFrequency = 0; // Hz, exactly as played; 0: no tone
    ToneFit m_fit;
    void deviceFailed(std::string_view what, const std::string& reason);
};

// Stops whatever runs, as the first steps of the Stop button: playback
// stopped, Running, Playing and LogSweeping cleared.
void stopRun(MeasurementState& state, SoundDevice& sound);

} // namespace audimera
