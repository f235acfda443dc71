// The plain B-spline summation, written straight from the definition: every
// curve point sums the full Cox-de Boor recursion over every control point.
// Slow (res * nIn * 2^(t-1)); kept as the reference the library must match.
#pragma once

#include <cstddef>
#include <vector>

namespace audimera {

namespace reference {

inline double basisWeight(int k, int t, const std::vector<int>& u, double v)
{
    if (t == 1)
        return (u[k] <= v && v < u[k + 1]) ? 1.0 : 0.0;
    const int a = u[k + t - 1] - u[k];
    const int b = u[k + t] - u[k + 1];
    if (a == 0 && b == 0)
        return 0.0;
    if (a == 0)
        return (u[k + t] - v) / b * basisWeight(k + 1, t - 1, u, v);
    if (b == 0)
        return (v - u[k]) / a * basisWeight(k, t - 1, u, v);
    const double first = (v - u[k]) / a * basisWeight(k, t - 1, u, v);
    return first + (u[k + t] - v) / b * basisWeight(k + 1, t - 1, u, v);
}

// Fills xOut/yOut with res points; returns the count.
inline int getBSpline(int res, const double* xIn, const double* yIn, int nIn, double* xOut,
                      double* yOut, int order)
{
    const int t = order < 1 ? 1 : (order > 10 ? 10 : order);
    const int n = nIn - 1;
    std::vector<int> u(static_cast<std::size_t>(n + t + 1));
    for (int j = 0; j <= n + t; ++j)
        u[j] = j < t ? 0 : (j <= n ? j - t + 1 : n - t + 2);
    double step = 0;
    if (res > 1)
        step = static_cast<double>(n - t + 2) / static_cast<double>(res - 1);
    double v = 0;
    for (int i = 0; i <= res - 2; ++i) {
        double x = 0, y = 0;
        for (int k = 0; k <= n; ++k) {
            const double w = basisWeight(k, t, u, v);
            x += w * xIn[k];
            y += w * yIn[k];
        }
        xOut[i] = x;
        yOut[i] = y;
        v += step;
    }
    xOut[res - 1] = xIn[n];
    yOut[res - 1] = yIn[n];
    return res;
}

} // namespace reference

} // namespace audimera
