// Periodic test noise for the live analyser: one period of white or pink
// noise, played in a loop, whose period equals the analyser's transform
// length, so every bin of the transform is excited exactly and a
// rectangular window sees no leakage.
//
// The period is made in the frequency domain: every bin from the first to
// the last below Nyquist gets a random phase and a fixed magnitude (DC and
// Nyquist get none). White: equal power in every bin. Pink: each bin k gets
// the power of 1/f integrated over the bin's own width, ln((k + 1/2) /
// (k - 1/2)), so the power in any band, whole bins and the shares of the
// edge bins summed as the analyser sums them, is that of 1/f over the band.
// The period is scaled to the RMS level asked for.
//
// Pure and deterministic (the same seed gives the same samples); any thread.
#pragma once

#include "common/Result.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace audimera {

enum class NoiseColour { White, Pink };

struct PeriodicNoiseSettings {
    NoiseColour colour = NoiseColour::Pink;
    std::size_t period = 32768;  // samples; 16 to 2^20
    double rmsDbfs = -20.0;      // RMS level, dB re full scale 1.0 (a full-scale sine is -3.01)
    std::uint32_t seed = 1;
};

class PeriodicNoise {
public:
    // One period, full scale 1.0. BadInput for a period out of range or a
    // level that is not finite or would reach past full scale.
    static Result<std::vector<float>> make(const PeriodicNoiseSettings& settings);
};

} // namespace audimera
