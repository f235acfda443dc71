// The live analyser's spectrum: the recorded samples as they come, a
// transform of the last fftLength samples at every hop, averaged and shown
// as the transform's line or as fractional-octave bands (OctaveBands).
//
// Levels are in dB re full scale 1.0 RMS: a sine of peak amplitude A reads
// 20 log10(A / sqrt 2) (a full-scale sine -3.01 dB), whatever the window.
// - Each transform's bins are powers P_k = 2 |X_k|^2 / (S1^2 B), S1 the sum
//   of the window's samples and B its equivalent noise bandwidth in bins
//   (N S2 / S1^2): noise reads its power per bin, and a sine's bins sum to
//   its power (A^2 / 2).
// - The line: each bin at P_k B, so a sine's peak bin reads its level
//   (exactly with the flat-top window, within 1.42 dB with Hann, 3.92 dB
//   with the rectangular window between bins).
// - A band: 10 log10 of the powers summed over its bins, a bin at the
//   band's edge counted for the share of its width (f_k -+ half a bin)
//   inside the band, as a band filter's skirt would. A band narrower than a
//   bin shows the bin its mid-band frequency lies in (P_k B).
// - Corrections (microphone, sound card) in dB per frequency, added to the
//   bins before the bands are summed.
// Averaging of the bins' powers: none (the last transform), exponential
// with a time constant (each transform weighs 1 - exp(-hop / (tau rate))),
// or running (the mean of every transform since the reset). Peak hold keeps
// each shown level's highest value since the reset.
//
// One transform of fftLength per hop (the rate over updatesPerSecond,
// rounded; the transforms overlap when the hop is shorter), planned once:
// the first when fftLength samples have come, then one every hop samples.
// The windows are periodic (DFT-even): Hann, the 5-term flat-top
// (0.21557895, 0.41663158, 0.277263158, 0.083578947, 0.006947368) and the
// rectangular. push() allocates nothing.
//
// Threads: one object is used by one thread at a time.
#pragma once

#include "common/Result.h"
#include "signal/OctaveBands.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

namespace audimera {

enum class AnalyserWindow { Hann, FlatTop, Rectangular };
enum class AnalyserAveraging { None, Exponential, Running };

struct SpectrumSettings {
    int fftLength = 32768;               // a power of two, 8192 to 131072
    AnalyserWindow window = AnalyserWindow::Hann;
    int fraction = 0;                    // 0: the transform's line; 1, 3, 6, 12, 24, 48: bands
    double lowHz = 20.0;                 // the bands' mid-band frequencies shown
    double highHz = 20000.0;
    AnalyserAveraging averaging = AnalyserAveraging::None;
    double timeConstant = 1.0;           // s, for Exponential (0.125, 1, 8 offered)
    double updatesPerSecond = 10.0;      // transforms per second of audio, 1 to 100
};

// What the analyser shows now.
struct SpectrumFrame {
    std::vector<double> frequencies; // Hz: the bins' (line) or the mid-band frequencies (bands)
    std::vector<double> levelsDb;    // dB re full scale RMS, averaged, corrected
    std::vector<double> peakDb;      // the peak hold of levelsDb
    std::vector<OctaveBand> bands;   // empty for the line
    // Per band: wide enough for the transform to stand behind its level
    // (at least resolutionBins() bins). A narrower band takes power from a
    // window's main lobe that is wider than itself, so a tone in it reads
    // low (by up to 2.3 dB with Hann, 4.9 dB with the flat-top window): it
    // is shown flagged, and a longer transform resolves it. Empty for the
    // line.
    std::vector<bool> resolved;
    double binHz = 0;                // the transform's resolution
    std::size_t transforms = 0;      // transforms in the average (1 without averaging)
};

class SpectrumAnalyser {
public:
    // BadInput with the reason for settings the analyser cannot run at rate.
    static Status check(const SpectrumSettings& settings, int rate);
    // The window's equivalent noise bandwidth in bins (Hann 1.5, flat-top
    // about 3.77, rectangular 1).
    static double noiseBandwidth(AnalyserWindow window, int fftLength);
    // The narrowest band, in bins, whose level a tone at its centre reads
    // within 0.1 dB: 5 with Hann, 10 with the flat-top window, 2 with the
    // rectangular one (meant for periodic signals of the transform's length).
    static double resolutionBins(AnalyserWindow window);

    // settings must pass check() at rate.
    SpectrumAnalyser(const SpectrumSettings& settings, int rate);
    ~SpectrumAnalyser();
    SpectrumAnalyser(const SpectrumAnalyser&) = delete;
    SpectrumAnalyser& operator=(const SpectrumAnalyser&) = delete;

    const SpectrumSettings& settings() const;
    int rate() const;

    // The correction in dB at a frequency in Hz (empty: none), read once per
    // bin here and whenever it is set again.
    void setCorrection(const std::function<double(double hz)>& correctionDb);

    // Takes count samples (full scale 1.0); returns how many transforms
    // they completed. Nothing is shown before the first fftLength samples.
    std::size_t push(const float* samples, std::size_t count);

    // Forgets the average and the peak hold (the samples kept stay): the
    // frame is empty until the next transform, which starts both again.
    void reset();
    // The peak hold starts again from the levels now.
    void resetPeak();

    // The levels now; empty before the first transform.
    SpectrumFrame frame() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m;
};

} // namespace audimera
