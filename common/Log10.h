// The base-10 logarithm of every dB and axis computation: never an error,
// exactly -1000 for arguments that are not positive.
#pragma once

#include <cmath>

namespace audimera {

inline double Log10(double x)
{
    if (!(x > 0))
        return -1000.0;
    return std::log(x) / 2.30258509299405;
}

} // namespace audimera
