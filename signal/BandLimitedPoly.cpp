#include "signal/BandLimitedPoly.h"

#include "signal/KaiserWindow.h"

namespace audimera {

namespace {

constexpr int K = BandLimitedPoly::Latency;
constexpr int Taps = 2 * K + 1;
constexpr int XLength = K + 1;
constexpr int WLength = Taps;

// The low-pass at twice the rate, centred on tap K: cut-off midway between
// 0.4535 and 0.5 of the original rate, Kaiser for 100 dB. Its even and odd
// taps each sum to 1/2, so the interpolation passes DC exactly in both
// phases (and has a zero at the original rate) and the decimation too.
struct Kernel {
    double taps[Taps];
    // Interpolation: even and odd output phases over the last K + 1 inputs,
    // oldest first, gain 2 included.
    double even[XLength], odd[XLength];

    Kernel()
    {
        const double cutoff = (0.4535 + 0.5) / 2 / 2; // of twice the rate
        const double beta = kaiser::beta(100);
        double sums[2] = {0, 0};
        for (int k = 0; k < Taps; ++k) {
            taps[k] = 2 * cutoff * kaiser::sinc(2 * cutoff * (k - K)) * kaiser::window(double(k - K) / (K + 1), beta);
            sums[k % 2] += taps[k];
        }
        for (int k = 0; k < Taps; ++k)
            taps[k] *= 0.5 / sums[k % 2];
        // Output 2n is sum_j taps[2j] x[n - j], output 2n + 1 sum_j taps[2j + 1]
        // x[n - j]; input x[n - j] sits at K - j in the window.
        for (int i = 0; i < XLength; ++i) {
            even[i] = 2 * taps[2 * (K - i)];
            odd[i] = i > 0 ? 2 * taps[2 * (K - i) + 1] : 0.0;
        }
    }
};

const Kernel& kernel()
{
    static const Kernel k;
    return k;
}

// Sum of a[i] b[i] over n, four partial sums side by side.
double dot(const double* a, const double* b, int n)
{
    double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        s0 += a[i] * b[i];
        s1 += a[i + 1] * b[i + 1];
        s2 += a[i + 2] * b[i + 2];
        s3 += a[i + 3] * b[i + 3];
    }
    for (; i < n; ++i)
        s0 += a[i] * b[i];
    return (s0 + s1) + (s2 + s3);
}

// Writes v into a ring of length n stored twice; afterwards the last n
// values, oldest first, start at ring[at].
void push(std::vector<double>& ring, int& at, int n, double v)
{
    ring[size_t(at)] = ring[size_t(at + n)] = v;
    at = at + 1 == n ? 0 : at + 1;
}

} // namespace

BandLimitedPoly::BandLimitedPoly(double a2, double a3)
    : m_a2(a2), m_a3(a3)
{
}

void BandLimitedPoly::reset()
{
    m_x.assign(2 * XLength, 0.0);
    m_w.assign(2 * WLength, 0.0);
    m_xAt = m_wAt = 0;
}

void BandLimitedPoly::process(std::vector<double>& samples)
{
    if (m_x.empty())
        reset();
    const Kernel& h = kernel();
    const auto bent = [&](double x) { // the non-linear part, full scale in and out
        const double u = x / 32768.0;
        return u * u * (m_a2 + m_a3 * u);
    };
    for (double& x : samples) {
        push(m_x, m_xAt, XLength, x);
        const double* window = &m_x[size_t(m_xAt)];
        const double delayed = window[0];
        push(m_w, m_wAt, WLength, bent(dot(h.even, window, XLength)));
        const double distortion = dot(h.taps, &m_w[size_t(m_wAt)], WLength);
        push(m_w, m_wAt, WLength, bent(dot(h.odd, window, XLength)));
        x = delayed + 32768.0 * distortion;
    }
}

} // namespace audimera
