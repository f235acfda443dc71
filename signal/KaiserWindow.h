// The windowed-sinc pieces shared by the table player and the rate
// converter: the normalised sinc, the Kaiser window and its beta for a
// wanted stop-band attenuation. Plain double arithmetic, used only while
// kernels are built (never on the audio thread).
#pragma once

#include <cmath>

namespace audimera::kaiser {

inline constexpr double Pi = 3.14159265358979323846;

// Modified Bessel function of the first kind, order 0 (power series).
inline double besselI0(double x)
{
    double sum = 1.0, term = 1.0;
    const double q = x * x / 4.0;
    for (int k = 1; k < 200; ++k) {
        term *= q / (double(k) * k);
        sum += term;
        if (term < sum * 1e-17)
            break;
    }
    return sum;
}

// Kaiser's beta for a stop band stopbandDb down (above 50 dB).
inline double beta(double stopbandDb)
{
    return 0.1102 * (stopbandDb - 8.7);
}

// The Kaiser window at x in [-1, 1] (0 outside).
inline double window(double x, double beta)
{
    if (std::abs(x) >= 1.0)
        return 0.0;
    return besselI0(beta * std::sqrt(1.0 - x * x)) / besselI0(beta);
}

// sin(pi x) / (pi x), 1 at 0.
inline double sinc(double x)
{
    return x == 0.0 ? 1.0 : std::sin(Pi * x) / (Pi * x);
}

} // namespace audimera::kaiser
