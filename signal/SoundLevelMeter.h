// A sound level meter on the recorded samples: frequency weighting A, C or
// Z (IEC 61672-1), time weighting Fast (125 ms) or Slow (1 s), the
// equivalent level since the reset and the peak.
//
// Weighting: the standard's analogue responses (poles at 20.6, 107.7,
// 737.9 and 12194 Hz, A and C normalised to 0 dB at 1 kHz) as filters at
// the device's rate, matched to the analogue response within 0.1 dB from
// 10 Hz to 20 kHz at 44.1 kHz and above. weightingDb() is the analogue
// response itself.
//
// Levels are in dB re full scale 1.0 RMS (a full-scale sine reads -3.01 dB)
// plus the calibration offset (dB SPL = dBFS + offset).
// - level: the weighted square, exponentially averaged with the time
//   constant (Fast 0.125 s, Slow 1 s), now;
// - leq: the mean of the weighted square since the reset;
// - maxLevel: the highest level since the reset;
// - peak: the highest absolute weighted sample since the reset, dB re
//   full scale 1.0 (a full-scale sine reads 0 dB).
//
// push() allocates nothing. Threads: one object, one thread at a time.
#pragma once

#include <cstddef>
#include <memory>

namespace audimera {

enum class FrequencyWeighting { A, C, Z };
enum class TimeWeighting { Fast, Slow };

struct SoundLevelReading {
    double levelDb = -400;
    double leqDb = -400;
    double maxLevelDb = -400;
    double peakDb = -400;
    double seconds = 0; // audio since the reset
};

class SoundLevelMeter {
public:
    // The analogue weighting's gain in dB at hz (> 0); Z is 0 everywhere.
    static double weightingDb(FrequencyWeighting weighting, double hz);
    // The time constant in seconds.
    static double timeConstant(TimeWeighting weighting);

    // rate: 8000 to 192000 Hz.
    SoundLevelMeter(int rate, FrequencyWeighting frequency, TimeWeighting time);
    ~SoundLevelMeter();
    SoundLevelMeter(const SoundLevelMeter&) = delete;
    SoundLevelMeter& operator=(const SoundLevelMeter&) = delete;

    // The weighting filter's own gain in dB at hz, as run (to check it).
    double filterDb(double hz) const;

    // dB added to every reading.
    void setOffset(double offsetDb);
    double offset() const;

    // Changing a weighting starts the readings afresh.
    void setWeighting(FrequencyWeighting frequency, TimeWeighting time);
    FrequencyWeighting frequencyWeighting() const;
    TimeWeighting timeWeighting() const;

    void push(const float* samples, std::size_t count);
    // Forgets Leq, the maximum and the peak (the time-weighted level goes on).
    void reset();
    SoundLevelReading reading() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m;
};

} // namespace audimera
