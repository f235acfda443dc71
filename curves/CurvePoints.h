// The points curve and exchange files hold, for their readers and writers
// alike: a curve point (frequency, level) and a response point with its
// phase where one was measured.
//
// Units: frequency in Hz, level in dB, phase in degrees.
#pragma once

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

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

// Level at hz of points ascending in frequency, joined by straight lines in
// log frequency and held beyond the ends.
inline double interpolateLog(const std::vector<CurvePoint>& points, double hz)
{
    if (points.empty())
        return 0;
    if (hz <= points.front().frequency)
        return points.front().level;
    if (hz >= points.back().frequency)
        return points.back().level;
    const auto above = std::upper_bound(points.begin(), points.end(), hz,
                                        [](double f, const CurvePoint& p) { return f < p.frequency; });
    const CurvePoint& b = *above;
    const CurvePoint& a = *(above - 1);
    if (!(b.frequency > a.frequency))
        return b.level;
    const double t = std::log(hz / a.frequency) / std::log(b.frequency / a.frequency);
    return a.level + t * (b.level - a.level);
}

} // namespace audimera
