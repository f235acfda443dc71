// An in-place radix-2 FFT for the benchmarks' quality reports (spectra of a
// few output blocks; speed does not matter here). The length must be a power
// of two. Forward: X[k] = sum x[n] e^(-2 pi i k n / N).
#pragma once

#include <complex>
#include <utility>
#include <vector>

namespace audimera::bench {

inline void fft(std::vector<std::complex<double>>& a)
{
    using Complex = std::complex<double>;
    constexpr double Pi = 3.14159265358979323846;
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const Complex w = std::polar(1.0, -2.0 * Pi / double(len));
        for (size_t i = 0; i < n; i += len) {
            Complex wk = 1.0;
            for (size_t j = 0; j < len / 2; ++j) {
                const Complex u = a[i + j], v = a[i + j + len / 2] * wk;
                a[i + j] = u + v;
                a[i + j + len / 2] = u - v;
                wk *= w;
            }
        }
    }
}

} // namespace audimera::bench
