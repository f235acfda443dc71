#include "engine/ToneFit.h"

#include "common/Log10.h"
#include "devices/SoundDevice.h"

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
// kernel. Only 0 is singular here.
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

namespace {

// The least-squares fit of DC, cosines and sines of the tone and harmonics
// 2..K at w radians a sample over the count samples from x, the window
// centred. Coefficients: dc, cosine[k], sine[k]; false when the normal
// equations are singular. residual (when given) is |x - DC - tone|^2.
struct Coefficients {
    double dc = 0;
    double cosine[MaxUnknowns] = {};
    double sine[MaxUnknowns] = {};
};

bool fitAt(const int16_t* x, int count, double w, int K, Coefficients& out, double* residual = nullptr,
           int64_t* sum = nullptr)
{
    Projections p;
    projectUpTo(K, x, count, w, p);
    // Normal equations in two independent blocks (the window is centred, so
    // sines are orthogonal to DC and to every cosine): DC and cosines, sines.
    double even[MaxUnknowns][MaxUnknowns] = {};
    double odd[MaxUnknowns][MaxUnknowns] = {};
    double evenB[MaxUnknowns] = {};
    double oddB[MaxUnknowns] = {};
    const int L = count;
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
        return false;
    out.dc = evenB[0];
    for (int k = 1; k <= K; ++k) {
        out.cosine[k] = evenB[k];
        out.sine[k] = oddB[k - 1];
    }
    if (residual) {
        // |x - DC - tone|^2 from the sums already made:
        // x.x - 2 v.b + v.G.v for v = (DC, cosine, sine of the tone).
        const double d = evenB[0], a = evenB[1], c = oddB[0];
        *residual = double(p.sumSquares) - 2 * (d * b0 + a * b1 + c * s1)
                    + (d * d * g00 + 2 * d * a * g01 + a * a * g11 + c * c * h11);
    }
    if (sum)
        *sum = p.sum;
    return true;
}

double wrapPhase(double x)
{
    return x - 2 * Pi * std::floor((x + Pi) / (2 * Pi));
}

// The tone's frequency as recorded, in radians a sample, near w: the tone's
// phase fitted on `segments` equal parts of the window (DC and tone alone;
// each part's fit is exact at w, and its phase is the tone's at the part's
// centre to second order in the error) drifts by the frequency error times
// the distance between the parts' centres; a least-squares line through the
// unwrapped phases gives it. Unambiguous while the error moves the phase
// by less than half a cycle from one part to the next.
double frequencyFromPhaseDrift(const int16_t* x, int count, double w, int segments)
{
    double sumT = 0, sumU = 0, sumTT = 0, sumTU = 0;
    double previous = 0;
    int used = 0;
    for (int s = 0; s < segments; ++s) {
        const int from = int(int64_t(count) * s / segments);
        const int to = int(int64_t(count) * (s + 1) / segments);
        Coefficients c;
        if (!fitAt(x + from, to - from, w, 1, c))
            return w;
        if (!(std::hypot(c.cosine[1], c.sine[1]) > 0))
            return w;
        // a cos(w m) + b sin(w m) = A cos(w m + psi), m from the part's
        // centre; the phase a perfect tone at w would have there is taken out.
        const double centre = from + (to - from - 1) / 2.0;
        double u = wrapPhase(-std::atan2(c.sine[1], c.cosine[1]) - std::fmod(w * centre, 2 * Pi));
        if (used > 0)
            u = previous + wrapPhase(u - previous);
        previous = u;
        ++used;
        sumT += centre;
        sumU += u;
        sumTT += centre * centre;
        sumTU += centre * u;
    }
    const double denominator = used * sumTT - sumT * sumT;
    if (used < 2 || !(denominator > 0))
        return w;
    return w + (used * sumTU - sumT * sumU) / denominator;
}

// Biquad sections (transposed direct form II) of the THD+N band: 20 Hz to
// 20 kHz, a 2nd-order Butterworth high-pass and an 8th-order Butterworth
// low-pass (bilinear, corners pre-warped); no low-pass where 20 kHz is not
// below 0.49 of the rate.
struct Section {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    double z1 = 0, z2 = 0;
    double run(double x)
    {
        const double y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }
};

constexpr int BandSections = 5;

// Fills all BandSections sections (pass-through ones where there is no
// low-pass), so that the filter loop has a fixed length.
void bandSections(double sampleRate, Section (&s)[BandSections])
{
    int n = 0;
    {
        const double k = std::tan(Pi * ThdNoiseLowHz / sampleRate);
        const double q = std::sqrt(2.0);
        const double norm = 1 / (1 + q * k + k * k);
        s[n++] = {norm, -2 * norm, norm, 2 * (k * k - 1) * norm, (1 - q * k + k * k) * norm};
    }
    if (ThdNoiseHighHz < 0.49 * sampleRate) {
        const double k = std::tan(Pi * ThdNoiseHighHz / sampleRate);
        for (int i = 0; i < 4; ++i) {
            // The 8th-order Butterworth's pole pairs: 2 cos((2 i + 1) pi / 16).
            const double q = 2 * std::cos((2 * i + 1) * Pi / 16);
            const double norm = 1 / (1 + q * k + k * k);
            s[n++] = {k * k * norm, 2 * k * k * norm, k * k * norm, 2 * (k * k - 1) * norm,
                      (1 - q * k + k * k) * norm};
        }
    }
    while (n < BandSections)
        s[n++] = Section{};
}

// RMS of what DC and the tone leave, within the THD+N band.
double bandResidualRms(const int16_t* x, int count, double w, const Coefficients& c, double sampleRate)
{
    Section s[BandSections];
    bandSections(sampleRate, s);
    const double centre = (count - 1) / 2.0;
    const double stepC = std::cos(w), stepS = std::sin(w);
    double cs = 0, sn = 0, squares = 0;
    for (int n = 0; n < count; ++n) {
        if (n % AnchorEvery == 0) {
            cs = std::cos(w * (n - centre));
            sn = std::sin(w * (n - centre));
        }
        double r = x[n] - c.dc - c.cosine[1] * cs - c.sine[1] * sn;
        for (Section& section : s)
            r = section.run(r);
        squares += r * r;
        const double nc = cs * stepC - sn * stepS;
        sn = cs * stepS + sn * stepC;
        cs = nc;
    }
    return std::sqrt(squares / count);
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

    // Harmonics up to the limit, and only when a whole period is there to
    // tell them apart from the tone and DC.
    int K = 1;
    if (fit.periods > 0)
        while (K < HighestHarmonic && (K + 1) * frequency <= HarmonicLimitHz)
            ++K;
    fit.harmonics = K;

    // The frequency as recorded: from the phase drift over parts of at
    // least two periods each, twice (the second pass starts where the first
    // ended, so its second-order error is negligible); kept only within
    // MaxOffsetPpm of the nominal frequency.
    const int16_t* x = samples + first;
    const double nominal = 2 * Pi * frequency / sampleRate;
    double w = nominal;
    if (const int segments = std::min(8, fit.periods / 2); segments >= 2) {
        for (int pass = 0; pass < 2; ++pass)
            w = frequencyFromPhaseDrift(x, L, w, segments);
        if (!(std::abs(w / nominal - 1) <= MaxOffsetPpm * 1e-6))
            w = nominal;
    }
    fit.frequency = w * sampleRate / (2 * Pi);

    Coefficients c;
    double residual = 0;
    if (!fitAt(x, L, w, K, c, &residual))
        return fit;
    fit.dc = c.dc;
    for (int k = 1; k <= K; ++k)
        fit.amplitude[k] = std::hypot(c.cosine[k], c.sine[k]);
    fit.residualRms = residual > 0 ? std::sqrt(residual / L) : 0;
    fit.bandResidualRms = fit.amplitude[1] > 0 ? bandResidualRms(x, L, w, c, sampleRate) : 0;
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
    // THD only with every harmonic: one without H3 would hide odd-order
    // distortion.
    if (fit.harmonics == HighestHarmonic)
        d.thdPercent = 100 * std::sqrt(squares) / tone;
    const double noise = fit.bandResidualRms;
    d.thdNoisePercent = 100 * noise / std::sqrt(tone * tone / 2 + noise * noise);
    return d;
}

double playedToneFrequency(int32_t rate, bool by20)
{
    return SoundDevice::clampRate(rate) * (by20 ? 20 : 1) / 100.0;
}

} // namespace audimera
