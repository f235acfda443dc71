// The base-10 logarithm of every dB and axis computation: never an error,
// exactly -1000 for arguments that are not positive.
#pragma once

#include <cmath>

namespace audimera {

inline double Log10(double x)
{
    if (!(x > 0))
        return -1000.0;
    // The quotient is formed in extended precision and rounded once, so that
    // values such as Log10(1000) = 2.9999999999999947 come out the same on
    // every machine rather than off by one in the last place.
    return static_cast<double>(std::log(static_cast<long double>(x)) / static_cast<long double>(2.30258509299405));
}

} // namespace audimera
