// The live analyser's and the sound level meter's run: what it is asked
// (LiveSettings), what it reports (LiveUpdate, to a LiveObserver) and the
// sound level meter's calibration (SplCalibration, kept per record device
// through a CalibrationStore).
//
// The run itself is MeasurementSession::runAnalyser: the record device is
// captured without end at its own rate (SoundDevice::startCapture), every
// sample goes to a SpectrumAnalyser and a SoundLevelMeter, and an update
// goes to the observer updatesPerSecond times a second of audio. It may
// play a test signal while it runs: periodic pink or white noise of the
// transform's length (PeriodicNoise, looped by the device at its own rate)
// or a sine.
//
// UI thread only.
#pragma once

#include "devices/SoundDevice.h"
#include "signal/PeriodicNoise.h"
#include "signal/SoundLevelMeter.h"
#include "signal/SpectrumAnalyser.h"

#include <optional>
#include <string>

namespace audimera {

class CorrectionTable;

// A calibration of the sound level meter: dB SPL = dBFS + offsetDb, for the
// record device it was made with.
struct SplCalibration {
    enum class Source { Calibrator, Sensitivity };
    std::string device;      // SoundDeviceInfo::name of the record device
    std::string description; // its description, to show
    double offsetDb = 0;
    Source source = Source::Calibrator;
    double referenceDb = 94.0;  // Calibrator: the calibrator's level, dB SPL
    double dbfsPerPascal = 0;   // Sensitivity: the card's input level of 1 Pa
    std::string madeAt;         // local time, "2026-12-08 21:30"

    // 1 Pa in dB SPL (re 20 uPa).
    static constexpr double PascalDb = 93.9794;
    static double offsetFromSensitivity(double dbfsPerPascal) { return PascalDb - dbfsPerPascal; }
    // What the window and the command say of it: "94.0 dB calibrator on
    // <description>, 2026-12-08 21:30" or "-38.0 dBFS/Pa (sensitivity) on ...".
    std::string describe() const;
};

// Where calibrations are kept (the program: its settings, per device; the
// command: none, or the offset given).
class CalibrationStore {
public:
    virtual ~CalibrationStore() = default;
    virtual std::optional<SplCalibration> load(const std::string& device) = 0;
    virtual void save(const SplCalibration& calibration) = 0;
};

enum class LiveSignal { None, PeriodicPink, PeriodicWhite, Sine };

struct LiveSettings {
    SpectrumSettings spectrum;
    RecordChannel channel = RecordChannel::Mix;
    // The meter's weightings.
    FrequencyWeighting weighting = FrequencyWeighting::Z;
    TimeWeighting timeWeighting = TimeWeighting::Fast;
    // The spectrum weighted too: the analogue weighting's gain
    // (SoundLevelMeter::weightingDb) added to every bin, as a correction is.
    bool weightedSpectrum = false;
    // dB SPL = dBFS + offset, the meter's readings and the spectrum's
    // levels alike; none: both read dBFS.
    std::optional<double> calibrationOffsetDb;
    // The curves added to the spectrum (the log sweep's boxes' kind: the
    // microphone and the sound card); null: none.
    const CorrectionTable* corrections = nullptr;
    // Played while analysing, on the play device in use.
    LiveSignal signal = LiveSignal::None;
    double signalDbfs = -20.0; // RMS of the noise; the sine's RMS too
    double sineHz = 1000.0;
    // Audio to analyse, s; 0: until stop().
    double seconds = 0;
};

struct LiveUpdate {
    SpectrumFrame spectrum;
    SoundLevelReading level;
    bool calibrated = false;  // level and spectrum in dB SPL, else dBFS
    double seconds = 0;       // audio analysed since the start
    bool gap = false;         // samples were lost since the last update (the average restarted)
    int rate = 0;             // the capture's rate
};

class LiveObserver {
public:
    virtual ~LiveObserver() = default;
    // Called on the UI thread inside the run, updatesPerSecond times a
    // second of audio (or less often when the machine falls behind).
    virtual void liveUpdate(const LiveUpdate& update) = 0;
};

} // namespace audimera
