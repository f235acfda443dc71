// The measurement state of the main window that the sweep and the
// continuous signal share: the documented fields, the sample tables and the
// results of the last block analysis. The tables are allocated once, with
// the state; nothing here allocates afterwards. UI thread only.
#pragma once

#include "common/AudioFormat.h"
#include <cstdint>
#include <vector>

namespace audimera {

struct MeasurementState {
    static constexpr int ToneSamples = audimera::ToneSamples + 1;     // the first ToneSamples played
    static constexpr int RecordSamples = audimera::RecordSamples + 1; // the first RecordSamples recorded

    MeasurementState();
    MeasurementState(const MeasurementState&) = delete;
    MeasurementState& operator=(const MeasurementState&) = delete;

    // Fills the white and pink noise tables (start-up; calls Audidsp's LowPass44).
    void InitWhitePinkBuffers();

    // --- Kept between runs for as long as the program runs.
    bool Running = false;     // a sweep runs; cleared to stop it
    bool Playing = false;     // the continuous signal plays; cleared to stop it
    bool LogSweeping = false; // a log sweep (its own window) runs; cleared to stop it
    double Frequency = 0;     // Hz: the point measured or the signal played
    double Calib = 0;         // reference mean magnitude; 0: not calibrated
    double Noise = 0;         // peak magnitude of the calibration silence; 0: not measured
    double SNR = 0;           // dB, of the last analysed block
    double StepFactor = 1.26; // the range plan's step
    double LastFreq = 0;      // what the play table holds: Hz, -5 pink, -6 white, 0 nothing valid
    double StartFreq = 0;     // Hz
    int32_t StopFreq = 0;     // Hz
    int32_t GenIndex = 0;     // the plan (sweep) or the signal (generator) selected

    // --- Sample tables.
    std::vector<int16_t> ToneBuffer;
    std::vector<int16_t> WhiteNoiseBuffer;
    std::vector<int16_t> PinkNoiseBuffer;
    std::vector<int16_t> RecBuffer;
    std::vector<int16_t> FFTIn;
    std::vector<float> FFTOUT;

    // --- Results of the last AnalyseBlock.
    int32_t SampleStart = 0;
    int32_t PeakLevel = 0;
    double MeanLevel = 0;
    int32_t MaxStep = 0;
    bool Satured = false;
};

} // namespace audimera
