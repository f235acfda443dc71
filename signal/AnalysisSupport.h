// What the time-frequency analyses (Waterfall, Spectrogram, PhaseAnalysis)
// share: progress and its refusal, the impulse view's checks, the
// log-spaced frequencies and reading a power spectrum at one of them.
// Internal to the signal library.
#pragma once

#include "common/Result.h"
#include "signal/ImpulseView.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace audimera {

class RealFft;

namespace analysis {

// A power this low counts as silence; levels are floored at its dB.
constexpr double SilentPower = 1e-300;
// The highest frequency asked for is clamped to this share of the rate.
constexpr double HighestOfRate = 0.499;

// Hands progress on at most every 10 ms, always the first time.
class ProgressGate {
public:
    explicit ProgressGate(const AnalysisProgress& progress) : m_progress(progress) {}

    // False when progress says stop.
    bool at(double fraction);
    bool done() { return !m_progress || m_progress(1.0); }

private:
    const AnalysisProgress& m_progress;
    std::chrono::steady_clock::time_point m_last;
    bool m_called = false;
};

Error badInput(std::string text);
// Failure::Cancelled with AnalysisCancelledMessage.
Error cancelled();

// The view's samples, rate and peak usable, the samples finite and not all
// zero.
std::optional<Error> checkView(const ImpulseView& impulse);

// The checks the analyses' settings share, their messages naming the
// analysis what ("waterfall", "spectrogram").
std::optional<Error> checkWindow(double windowMs, int rate, const std::string& what);
std::optional<Error> checkTimeRange(double startMs, double endMs, const std::string& what);
std::optional<Error> checkLevelsAndFrequencies(double rangeDb, int pointsPerOctave, double lowHz, double highHz,
                                               int rate, const std::string& what);

// lowHz to highHz, both included, at most 1 / perOctave octave apart.
std::vector<double> logFrequencies(double lowHz, double highHz, int perOctave);

// How a frequency reads a power spectrum: over the bins first to last of
// its band (inBand), or else the power interpolated between bin below and
// the next.
struct BandReading {
    std::size_t first = 0;
    std::size_t last = 0;
    std::size_t below = 0;
    double fraction = 0;
    bool inBand = false;
};

// The reading at hz of a spectrum of bins bins binHz apart; its band
// 1 / perOctave octave wide centred on hz, none when perOctave is 0 or the
// band holds no bin.
BandReading bandReading(double hz, double binHz, std::size_t bins, int perOctave);

// The power interpolated between the bins about the reading's frequency.
double interpolatedPower(const std::vector<double>& power, const BandReading& reading);

// Into power (fft.bins() long): the power spectrum of the impulse's samples
// from index from on (silence outside the response) times window,
// zero-padded to the transform's length.
void windowedPower(RealFft& fft, const ImpulseView& impulse, long long from, const std::vector<double>& window,
                   std::vector<double>& power);

} // namespace analysis

} // namespace audimera
