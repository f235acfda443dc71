// Analysis of one recorded block: where the analysed section starts (the
// rising zero crossing nearest sample 4000 in a tone pass), the peak and mean
// sample magnitude of the section, the largest step between neighbouring
// samples, and whether the block is saturated or malformed; and the levels
// derived from them. Plain arithmetic: no state, no controls, no windows;
// allocates nothing. Any thread.
#pragma once

#include <cstdint>

namespace audimera {

namespace BlockAnalysis {
constexpr int SectionEnd = 29999;        // the last analysed sample (E)
constexpr int NominalStart = 4000;       // where the trigger search starts
constexpr int FallbackStart = 1000;      // the start when no crossing is found after 4000
constexpr int FftMinimumSection = 16001; // E - SampleStart the FFT window needs
} // namespace BlockAnalysis

struct BlockResult {
    int32_t SampleStart = 0; // the first analysed sample (S)
    int32_t PeakLevel = 1;   // largest magnitude in the section, at least 1
    double MeanLevel = 0;    // sum of the magnitudes / (E - S)
    int32_t MaxStep = 0;     // largest |x[i] - x[i - 1]| in the section
    bool Satured = false;    // full scale reached, or a tone's wave too broken for a sine

    // Whether the section is long enough for the FFT window.
    bool longEnoughForFft() const { return BlockAnalysis::SectionEnd - SampleStart >= BlockAnalysis::FftMinimumSection; }
};

// Analyses samples[0..SectionEnd] of a block recorded while frequency (Hz)
// played. tonePass: a tone is measured, so the section starts at the trigger
// point and a wave whose largest step exceeds 0.4 x 2 x PeakLevel (mean
// magnitude above 400, at most 4000 Hz) counts as malformed; in the
// calibration passes the section starts at 4000. Samples of -32768 in the
// section become -32767 in place. fftIn and fftOut, when given (RecordSamples
// entries), receive the section from index 0 and as many zeros, in the same
// pass.
BlockResult AnalyseBlock(int16_t* samples, double frequency, bool tonePass, int16_t* fftIn = nullptr,
                         float* fftOut = nullptr);

// What the waveform window shows of an analysed block: OsciWidth samples
// from SampleStart (four periods of frequency, at most the section), the
// vertical scale OsciHeight (their largest magnitude, at least 3) and the
// offset Off (their mean, rounded) that the window takes away.
struct WaveformView {
    int OsciWidth = 1;
    int OsciHeight = 3;
    int Off = 0;
};
WaveformView waveformView(const int16_t* samples, const BlockResult& block, double frequency);

// Signal-to-noise ratio in dB: 20 Log10(PeakLevel / Noise).
double signalToNoise(int32_t peakLevel, double noise);
// The level in dB before corrections: 20 Log10(MeanLevel / Calib).
double blockLevel(double meanLevel, double calib);
// The 0 dB reference from a white-noise block: 2 x MeanLevel / 1.16.
double calibrationReference(double meanLevel);

} // namespace audimera
