// A sound level meter on the recorded samples: frequency weighting A, C or
// Z (IEC 61672-1), time weighting Fast (125 ms) or Slow (1 s), the
// equivalent level since the reset and the peak.
//
// Weighting: the standard's analogue responses (poles at f1 = 20.598997,
// f2 = 107.65265, f3 = 737.86223 and f4 = 12194.217 Hz; A and C normalised
// to 0 dB at 1 kHz with A1000 = -2.000 dB and C1000 = -0.062 dB) as filters
// at the device's rate. weightingDb() is the analogue response itself,
// filterDb() the filter as run.
//
// The filter is a cascade of biquads in double precision (A four, C three):
// - the high-pass pairs s^2 / (s + w1)^2 and, for A, s^2 / ((s + w2)(s + w3))
//   by the bilinear transform: their poles lie far below the band's top,
//   where its frequency warping changes nothing that matters;
// - the low-pass pair 1 / (s + w4)^2, where the bilinear transform fails
//   (its warping puts 20 kHz 25 dB low at 44.1 kHz, 2 dB low at 96 kHz) and
//   the matched z transform alone errs the other way (5 dB high at 44.1 kHz,
//   1.2 dB at 96 kHz): its double pole by
//   the matched z transform, and a fourth-order numerator fitted at
//   construction so that the whole cascade's power gain matches the
//   analogue weighting with the least largest error in dB (a least-squares
//   fit of the numerator's power response, which is linear in its
//   autocorrelation, reweighted towards the minimax; then its minimum-phase
//   factor). The fit holds 1 kHz exactly, where meters are calibrated, and
//   keeps the response above the band near the analogue one (within about
//   1 dB to half the rate). A fitted IIR costs what the plain one does, is
//   causal with a short response, and reaches the top of the band, which
//   oversampling or a frequency-sampled FIR would only buy with far more work
//   per sample (an FIR for A also needs many thousand taps at 10 Hz).
// Band met within 0.1 dB: 10 Hz to min(20 kHz, 0.45 rate), so the whole of
// 10 Hz to 20 kHz from 44.1 kHz up. Largest errors in it: 0.037 dB at
// 44.1 kHz, 0.012 dB at 48 kHz, 0.004 dB at 96 kHz, at most 0.047 dB at any
// rate from 8 to 192 kHz. Below 8 kHz the same design runs and stays sane
// (no accuracy promised).
//
// Levels are in dB re full scale 1.0 RMS (a full-scale sine reads -3.01 dB)
// plus the calibration offset (dB SPL = dBFS + offset).
// - level: the weighted square, exponentially averaged with the time
//   constant (Fast 0.125 s, Slow 1 s: a one-pole average, which decays by
//   34.7 and 4.34 dB/s), now;
// - leq: the mean of the weighted square since the reset;
// - maxLevel: the highest level since the reset;
// - peak: the highest absolute weighted sample since the reset, dB re
//   full scale 1.0 (a full-scale sine reads 0 dB), plus the offset.
// A reading with nothing to show is -400 dB, without the offset.
//
// push() allocates nothing. Threads: one object, one thread at a time.
#pragma once

#include <cstddef>
#include <memory>

namespace audimera {

enum class FrequencyWeighting { A, C, Z };
enum class TimeWeighting { Fast, Slow };

// Below this level the meter and the analyser heard nothing at all: they
// give -400 and -300 dB for digital silence, far below any float's noise. What
// shows their readings shows such a level as silence, not as a number.
inline constexpr double SilenceDb = -250;
inline bool heardLevel(double db) { return db > SilenceDb && db < 1e300; }

struct SoundLevelReading {
    double levelDb = -400;
    double leqDb = -400;
    double maxLevelDb = -400;
    double peakDb = -400;
    double seconds = 0; // audio since the reset
};

class SoundLevelMeter {
public:
    // The analogue weighting's gain in dB at hz (> 0; -400 for hz <= 0 with
    // A or C); Z is 0 everywhere. Any thread.
    static double weightingDb(FrequencyWeighting weighting, double hz);
    // The time constant in seconds.
    static double timeConstant(TimeWeighting weighting);

    // rate: 8000 to 192000 Hz (rates below 1000 Hz are taken as 1000). Designs
    // the filter (allocates; about 0.4 ms).
    SoundLevelMeter(int rate, FrequencyWeighting frequency, TimeWeighting time);
    ~SoundLevelMeter();
    SoundLevelMeter(const SoundLevelMeter&) = delete;
    SoundLevelMeter& operator=(const SoundLevelMeter&) = delete;

    // The weighting filter's own gain in dB at hz, as run (to check it); 0
    // for Z.
    double filterDb(double hz) const;

    // dB added to every reading (the calibration: dB SPL = dBFS + offset).
    void setOffset(double offsetDb);
    double offset() const;

    // Designs the filter again and starts every reading afresh (the filter's
    // state, the time-weighted level, Leq, the maximum and the peak).
    void setWeighting(FrequencyWeighting frequency, TimeWeighting time);
    FrequencyWeighting frequencyWeighting() const;
    TimeWeighting timeWeighting() const;

    // Weights count samples (full scale 1.0) and updates every reading.
    // Allocates nothing.
    void push(const float* samples, std::size_t count);
    // Forgets Leq, the maximum and the peak (the time-weighted level goes on;
    // the maximum starts from it).
    void reset();
    SoundLevelReading reading() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m;
};

} // namespace audimera
