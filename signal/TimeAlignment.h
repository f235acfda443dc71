// The delay of one impulse response relative to a reference, to a fraction
// of a sample, robust to band-limited responses (a woofer behind a
// low-pass); the method, and what it reads for a response whose delay
// differs with frequency, are stated in TimeAlignment.cpp.
//
// Pure; any thread.
#pragma once

#include "common/Result.h"

#include <vector>

namespace audimera {

struct AlignmentBand {
    double lowHz = 0;  // 0: from the lowest frequency both hold above their noise
    double highHz = 0; // 0: to the highest
};

struct Alignment {
    double delaySamples = 0; // of the response after the reference's; positive: later
    double delayMs = 0;
    double lowHz = 0, highHz = 0; // the band it was read over
    double confidence = 0;        // 0..1, how well the two agree in that band
};

class TimeAlignment {
public:
    // Metres sound travels in ms at temperatureC (343 m/s at 20 °C:
    // 331.3 sqrt(1 + T / 273.15)).
    static double metres(double ms, double temperatureC = 20.0);
    static Result<Alignment> delay(const std::vector<float>& reference, const std::vector<float>& response, int rate,
                                   const AlignmentBand& band = {});
};

} // namespace audimera
