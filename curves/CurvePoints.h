// The points curve and exchange files hold, for their readers and writers
// alike: a curve point (frequency, level) and a response point with its
// phase where one was measured.
//
// Units: frequency in Hz, level in dB, phase in degrees.
#pragma once

#include <optional>

namespace audimera {

struct CurvePoint {
    double frequency;
    double level;
};

struct ResponsePoint {
    double frequency;              // Hz
    double level;                  // dB
    std::optional<double> phase;   // degrees, none when not measured
};

} // namespace audimera
