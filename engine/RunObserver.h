// What a running sweep or continuous signal asks of and reports to whoever
// shows it: the main window's form logic, or the headless command. The runs
// call it at the documented points, in the documented order; everything is
// in measurement terms (Hz, dB). UI thread only.
#pragma once

#include "common/Result.h"
#include "engine/ToneFit.h"

#include <cstdint>
#include <string>

namespace audimera {

// How a run ended.
enum class RunEnd {
    None,              // nothing ran yet
    Completed,         // the plan's last point was measured
    Stopped,           // stopped from outside the run (Stop, the signal button, shut-down)
    Refused,           // bad frequencies: the run did not start
    PlanFailed,        // the frequency list could not be read
    TraceRefused,      // no room for another trace
    LowSignalDeclined, // the low-signal question was answered No
    DeviceFailed,      // the sound device failed
    RetriesRefused,    // a bad tone block was not to be measured again (measuringAgain())
};

// How a run ended as a status: success for Completed, else a failure of the
// kind that fits (Stopped: Cancelled, Refused: BadInput, PlanFailed: File,
// TraceRefused: Other, LowSignalDeclined: LowSignal, DeviceFailed: Device,
// RetriesRefused: Clipped). What the user was told is said where it
// happened; the text here only names the end.
inline Status runOutcome(RunEnd end)
{
    switch (end) {
    case RunEnd::Completed:
        return {};
    case RunEnd::Stopped:
        return Error::of(Failure::Cancelled, "The run was stopped");
    case RunEnd::Refused:
        return Error::of(Failure::BadInput, "The frequencies are not valid");
    case RunEnd::PlanFailed:
        return Error::of(Failure::File, "The frequency list could not be read");
    case RunEnd::LowSignalDeclined:
        return Error::of(Failure::LowSignal, "The signal is too low");
    case RunEnd::DeviceFailed:
        return Error::of(Failure::Device, "The sound device failed");
    case RunEnd::RetriesRefused:
        return Error::of(Failure::Clipped, "A block still clips or is malformed");
    case RunEnd::TraceRefused:
    case RunEnd::None:
        break;
    }
    return Error::of(Failure::Other, end == RunEnd::None ? "Nothing ran" : "No room for another trace");
}

// What the play table sounds.
enum class Sound { Silence, WhiteNoise, PinkNoise, Tone };

// The signal the continuous generator is to play.
struct SignalChoice {
    enum Kind { Sine = 0, Square, Triangle, PinkNoise, WhiteNoise, Silence };
    int kind = Sine;        // anything else is refused with "Uh ?"
    double frequency = 100; // Hz, of the three tones
    bool by20 = false;      // tones from the 20-period table (the "x20" range)
};

class RunObserver {
public:
    virtual ~RunObserver() = default;

    // --- Choices the user may change while a run goes on, asked afresh
    // where the run reads them.

    // For every tone block: whether a saturated or malformed one is measured
    // again (true) or taken as it is.
    virtual bool measuresBadBlocksAgain() const = 0;
    // A tone block at frequency (Hz) was saturated or malformed and is to
    // be measured again: retry counts the blocks measured again at that
    // frequency, from 1. false ends the run (RunEnd::RetriesRefused). The
    // window always measures again, as documented; the headless command
    // says so and stops after a limit.
    virtual bool measuringAgain(double frequency, int retry)
    {
        (void)frequency, (void)retry;
        return true;
    }
    // For every block: whether the waveform and the spectrum are shown.
    virtual bool showsWaveform() const { return false; }
    virtual bool showsSpectrum() const { return false; }
    // Before each step of the range plan: its factor (1.01 to 2.00).
    virtual double stepFactor() const = 0;
    // Whenever the continuous signal is (re)applied: what to play.
    virtual SignalChoice signalChoice() { return {}; }

    // --- Reports.

    // A sweep's points need a trace: opens one, or fails with what the user
    // is told (the sweep then ends).
    virtual audimera::Status openTrace() = 0;
    // The play table now sounds `sound` (a tone: at frequency Hz).
    virtual void playing(Sound sound, double frequency) { (void)sound, (void)frequency; }
    // A sweep's tone pass begins: point `point` of `points` of a list plan,
    // or 0 of 0 on the range plan.
    virtual void sweepProgress(int point, int points) { (void)point, (void)points; }
    // The calibration's white-noise block: its signal-to-noise ratio (dB).
    virtual void calibrationMeasured(double snr) { (void)snr; }
    // A sweep measured frequency (Hz): its corrected level and the block's
    // signal-to-noise ratio (dB). The point belongs to the trace opened last.
    virtual void pointMeasured(double frequency, double level, double snr) = 0;
    // The continuous signal measured a good block: corrected level and SNR (dB).
    virtual void levelMeasured(double level, double snr) { (void)level, (void)snr; }
    // The distortion of a measured tone at frequency (Hz): reported for each
    // sweep point just before pointMeasured, and for each good block of the
    // signal generator just before levelMeasured (empty when it plays no
    // sine).
    virtual void distortionMeasured(double frequency, const Distortion& distortion)
    {
        (void)frequency, (void)distortion;
    }
    // An analysed block for the waveform window (when showsWaveform()):
    // OsciWidth samples of RecBuffer from First, scale OsciHeight, offset
    // Off; CheckSat marks the block bad.
    virtual void DrawCurve(int OsciWidth, int OsciHeight, const int16_t* RecBuffer, int First, bool CheckSat,
                           int Off)
    {
        (void)OsciWidth, (void)OsciHeight, (void)RecBuffer, (void)First, (void)CheckSat, (void)Off;
    }
    // An analysed section for the spectrum window (when showsSpectrum() and
    // the section is long enough): FFTIn from index 0, FFTOUT zeroed.
    virtual void TraceFFT(const int16_t* FFTIn, float* FFTOUT, bool Satured)
    {
        (void)FFTIn, (void)FFTOUT, (void)Satured;
    }
    // The run ended itself for why (never for a stop from outside): playback
    // is stopped and Running and Playing are cleared; the observer restores
    // what it shows, as the Stop button does.
    // InputLevels::note() of the run so far when it changed (empty: none).
    virtual void inputNoted(const std::string& note) { (void)note; }
    virtual void runEnded(RunEnd why) { (void)why; }
};

} // namespace audimera
