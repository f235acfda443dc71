// Conversions from double to integer used throughout Audimera.
#pragma once

#include <cmath>
#include <cstdint>

namespace audimera {

// Nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4, -2.5 -> -2).
inline double nearest(double x)
{
    // Independent of the current floating-point rounding mode.
    const double r = std::round(x); // halves away from zero
    if (std::abs(r - x) == 0.5 && std::fmod(r, 2.0) != 0.0)
        return r - std::copysign(1.0, x);
    return r;
}

// nearest() as a 32-bit integer; values beyond the range saturate.
inline int32_t nearestInt(double x)
{
    const double r = nearest(x);
    if (!(r > -2147483648.0))
        return INT32_MIN;
    if (r > 2147483647.0)
        return INT32_MAX;
    return static_cast<int32_t>(r);
}

// nearest() as a 16-bit sample, saturating at the 16-bit limits.
inline int16_t nearestSample(double x)
{
    const double r = nearest(x);
    if (r >= 32767.0)
        return 32767;
    if (r <= -32768.0)
        return -32768;
    return static_cast<int16_t>(r);
}

} // namespace audimera
