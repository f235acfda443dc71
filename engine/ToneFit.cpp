#include "engine/ToneFit.h"

#include "common/Log10.h"
#include "signal/SoundDevice.h"

#include <cmath>

namespace audimera {

using namespace ToneAnalysis;

namespace {

constexpr double Pi = 3.14159265358979323846;
// The phasor is advanced by one multiplication per sample and set afresh
// from sin and cos this often, so its rounding never builds up.
constexpr int AnchorEvery = 4096;
constexpr int MaxUnknowns = HighestHarmonic + 1;

// Sum of cos(theta m) over the count indices m = n - (count - 1) / 2,
// n = 0..count-1 (the sum of sin(theta m) is 0): the window's Dirichlet
// kernel. theta lies in [0, 2 pi) here, so only 0 is singular.
double dirichlet(double theta, int count)
{
    if (theta == 0)
        return count;
    return std::sin(count * theta / 2) / std::sin(theta / 2);
}

// Solves the symmetric positive definite n x n system a x = b in place
// (Cholesky); false when a is not positive definite to working precision.
bool solve(double (&a)[MaxUnknowns][MaxUnknowns], double (&b)[MaxUnknowns], int n)
{
    for (int j = 0; j < n; ++j) {
        double d = a[j][j];
        for (int k = 0; k < j; ++k)
            d -= a[j][k] * a[j][k];
        if (!(d > 0))
            return false;
        a[j][j] = std::sqrt(d);
        for (int i = j + 1; i < n; ++i) {
            double s = a[i][j];
            for (int k = 0; k < j; ++k)
                s -= a[i][k] * a[j][k];
            a[i][j] = s / a[j][j];
        }
    }
    for (int i = 0; i < n; ++i) {
        double s = b[i];
        for (int k = 0; k < i; ++k)
            s -= a[i][k] * b[k];
        b[i] = s / a[i][i];
    }
    for (int i = n - 1; i >= 0; --i) {
        double s = b[i];
        for (int k = i + 1; k < n; ++k)
            s -= a[k][i] * b[k];
        b[i] = s / a[i][i];
    }
    return true;
}

// The data's side of the normal equations: sum x, sum x^2 (exact in 64-bit
// integers) and sum x cos(k w m), sum x sin(k w m) for k = 1..K, with m
// centred on the window.
struct Projections {
    int64_t sum = 0;
    int64_t sumSquares = 0;
    double cosine[MaxUnknowns] = {};
    double sine[MaxUnknowns] = {};
};

template <int K>
void project(const int16_t* x, int count, double w, Projections& p)
{
    const double centre = (count - 1) / 2.0;
    const double stepC = std::cos(w), stepS = std::sin(w);
    double c = 0, s = 0;
    double accC[K + 1] = {}, accS[K + 1] = {};
    int64_t sum = 0, sumSquares = 0;
    for (int n = 0; n < count; ++n) {
        if (n % AnchorEvery == 0) {
            c = std::cos(w * (n - centre));
            s = std::sin(w * (n - centre));
        }
        const int v = x[n];
        sum += v;
        sumSquares += int64_t(v) * v;
        const double xv = v;
        // e^{i k w m} for k = 1..K by multiplying up.
        double hc = c, hs = s;
        accC[1] += xv * hc;
        accS[1] += xv * hs;
        for (int k = 2; k <= K; ++k) {
            const double nc = hc * c - hs * s;
            const double ns = hc * s + hs * c;
            hc = nc;
            hs = ns;
            accC[k] += xv * hc;
            accS[k] += xv * hs;
        }
        const double nc = c * stepC - s * stepS;
        s = c * stepS + s * stepC;
        c = nc;
    }
    p.sum = sum;
    p.sumSquares = sumSquares;
    for (int k = 1; k <= K; ++k) {
        p.cosine[k] = accC[k];
        p.sine[k] = accS[k];
    }
}

void projectUpTo(int harmonics, const int16_t* x, int count, double w, Projections& p)
{
    switch (harmonics) {
    case 1: project<1>(x, count, w, p); break;
    case 2: project<2>(x, count, w, p); break;
    case 3: project<3>(x, count, w, p); break;
    case 4: project<4>(x, count, w, p); break;
    default: project<5>(x, count, w, p); break;
    }
}

} // namespace

ToneFit fitTone(const int16_t* samples, int first, int last, double frequency, double sampleRate)
{
    ToneFit fit;
    fit.frequency = frequency;
    fit.first = first;
    const int available = last - first + 1;
    if (available < 3 || !(frequency > 0) || !(frequency < sampleRate / 2))
        return fit;

    // Whole periods from the section's start; less than one: the section.
    const double period = sampleRate / frequency;
    fit.periods = static_cast<int>(std::floor(available / period));
    fit.count = fit.periods > 0 ? static_cast<int>(std::lround(fit.periods * period)) : available;
    if (fit.count > available)
        fit.count = available;
    const int L = fit.count;

    // Harmonics below the limit, and only when a whole period is there to
    // tell them apart from the tone and DC.
    int K = 1;
    if (fit.periods > 0)
        while (K < HighestHarmonic && (K + 1) * frequency < HarmonicLimitHz)
            ++K;
    fit.harmonics = K;

    const double w = 2 * Pi * frequency / sampleRate;
    Projections p;
    projectUpTo(K, samples + first, L, w, p);

    // Normal equations in two independent blocks (the window is centred, so
    // sines are orthogonal to DC and to every cosine): DC and cosines, sines.
    double even[MaxUnknowns][MaxUnknowns] = {};
    double odd[MaxUnknowns][MaxUnknowns] = {};
    double evenB[MaxUnknowns] = {};
    double oddB[MaxUnknowns] = {};
    even[0][0] = L;
    evenB[0] = double(p.sum);
    for (int j = 1; j <= K; ++j) {
        even[j][0] = even[0][j] = dirichlet(j * w, L);
        evenB[j] = p.cosine[j];
        oddB[j - 1] = p.sine[j];
        for (int k = 1; k <= j; ++k) {
            const double difference = dirichlet((j - k) * w, L);
            const double sum = dirichlet((j + k) * w, L);
            even[j][k] = even[k][j] = (difference + sum) / 2;
            odd[j - 1][k - 1] = odd[k - 1][j - 1] = (difference - sum) / 2;
        }
    }
    // Kept for the residual: the DC and tone corner of each block.
    const double g00 = even[0][0], g01 = even[0][1], g11 = even[1][1], h11 = odd[0][0];
    const double b0 = evenB[0], b1 = evenB[1], s1 = oddB[0];
    if (!solve(even, evenB, K + 1) || !solve(odd, oddB, K))
        return fit;

    fit.dc = evenB[0];
    for (int k = 1; k <= K; ++k)
        fit.amplitude[k] = std::hypot(evenB[k], oddB[k - 1]);

    // |x - DC - tone|^2 from the sums already made:
    // x.x - 2 v.b + v.G.v for v = (DC, cosine, sine of the tone).
    const double d = evenB[0], a = evenB[1], c = oddB[0];
    const double residual = double(p.sumSquares) - 2 * (d * b0 + a * b1 + c * s1) +
                            (d * d * g00 + 2 * d * a * g01 + a * a * g11 + c * c * h11);
    fit.residualRms = residual > 0 ? std::sqrt(residual / L) : 0;
    return fit;
}

double narrowBandMeanLevel(const ToneFit& fit, int sampleStart, int sectionEnd)
{
    const double divisor = sectionEnd - sampleStart;
    if (!(divisor > 0))
        return 0;
    return 2 * fit.amplitude[1] / Pi * ((divisor + 1) / divisor);
}

Distortion distortionOf(const ToneFit& fit)
{
    Distortion d;
    const double tone = fit.amplitude[1];
    if (!(tone > 0))
        return d;
    double squares = 0;
    for (int k = 2; k <= fit.harmonics; ++k) {
        const double a = fit.amplitude[k];
        d.harmonicDb[k - 2] = 20 * Log10(a / tone);
        squares += a * a;
    }
    if (fit.harmonics >= 2)
        d.thdPercent = 100 * std::sqrt(squares) / tone;
    d.thdNoisePercent = 100 * fit.residualRms / (tone / std::sqrt(2.0));
    return d;
}

double playedToneFrequency(int32_t rate, bool by20)
{
    return SoundDevice::clampRate(rate) * (by20 ? 20 : 1) / 100.0;
}

} // namespace audimera
