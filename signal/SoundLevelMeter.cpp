#include "signal/SoundLevelMeter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <vector>

namespace audimera {

namespace {

// IEC 61672-1's pole frequencies (Hz) and the normalisation constants that
// put A and C at 0 dB at 1 kHz.
constexpr double F1 = 20.598997;
constexpr double F2 = 107.65265;
constexpr double F3 = 737.86223;
constexpr double F4 = 12194.217;
constexpr double A1000 = -2.000;
constexpr double C1000 = -0.062;

constexpr double FloorDb = -400;

double powerDb(double meanSquare)
{
    return meanSquare > 0 ? 10 * std::log10(meanSquare) : FloorDb;
}

// The analogue weighting's power gain (linear, normalised) at hz.
double analoguePower(FrequencyWeighting weighting, double hz)
{
    const double f2 = hz * hz;
    switch (weighting) {
    case FrequencyWeighting::A: {
        const double g = F4 * F4 * f2 * f2 / ((f2 + F1 * F1) * (f2 + F4 * F4));
        return g * g / ((f2 + F2 * F2) * (f2 + F3 * F3)) * std::pow(10.0, -A1000 / 10);
    }
    case FrequencyWeighting::C: {
        const double g = F4 * F4 * f2 / ((f2 + F1 * F1) * (f2 + F4 * F4));
        return g * g * std::pow(10.0, -C1000 / 10);
    }
    case FrequencyWeighting::Z:
        break;
    }
    return 1;
}

using Complex = std::complex<double>;

// The roots of the polynomial c[0] + c[1] x + ... + c[n] x^n (c[n] != 0),
// by Durand-Kerner iteration; n is at most a few here.
std::vector<Complex> rootsOf(const std::vector<double>& c)
{
    const std::size_t n = c.size() - 1;
    std::vector<Complex> roots(n);
    for (std::size_t i = 0; i < n; ++i)
        roots[i] = std::pow(Complex(0.4, 0.9), static_cast<double>(i));
    auto value = [&](Complex x) {
        Complex v = 1;
        for (std::size_t k = n; k-- > 0;)
            v = v * x + c[k] / c[n];
        return v;
    };
    for (int iteration = 0; iteration < 500; ++iteration) {
        double change = 0;
        for (std::size_t i = 0; i < n; ++i) {
            Complex d = 1;
            for (std::size_t j = 0; j < n; ++j)
                if (j != i)
                    d *= roots[i] - roots[j];
            const Complex step = value(roots[i]) / d;
            roots[i] -= step;
            change = std::max(change, std::abs(step) / std::max(1.0, std::abs(roots[i])));
        }
        if (change < 1e-15)
            break;
    }
    return roots;
}

// Solves the symmetric positive system m x = v (Gaussian elimination with
// partial pivoting; m and v are overwritten).
std::vector<double> solve(std::vector<std::vector<double>> m, std::vector<double> v)
{
    const std::size_t n = v.size();
    for (std::size_t col = 0; col < n; ++col) {
        std::size_t pivot = col;
        for (std::size_t r = col + 1; r < n; ++r)
            if (std::abs(m[r][col]) > std::abs(m[pivot][col]))
                pivot = r;
        std::swap(m[col], m[pivot]);
        std::swap(v[col], v[pivot]);
        for (std::size_t r = col + 1; r < n; ++r) {
            const double f = m[r][col] / m[col][col];
            for (std::size_t k = col; k < n; ++k)
                m[r][k] -= f * m[col][k];
            v[r] -= f * v[col];
        }
    }
    std::vector<double> x(n);
    for (std::size_t r = n; r-- > 0;) {
        double s = v[r];
        for (std::size_t k = r + 1; k < n; ++k)
            s -= m[r][k] * x[k];
        x[r] = s / m[r][r];
    }
    return x;
}

// Points (radians per sample), their target power gains and their weights.
// A weight of zero or less is fixed at its magnitude; positive weights are
// reweighted.
struct FitPoints {
    std::vector<double> omega, target, weight;
};

// The autocorrelation r (of order `order`) of a real FIR whose power
// response P(w) = r0 + 2 sum r_k cos(k w) fits the targets with the least
// largest relative error over the reweighted points: weighted least squares
// on (P(w) - target) / target, which is linear
// in r, repeated with each free weight multiplied by its point's error
// (Lawson's iteration towards the minimax fit).
std::vector<double> fitPower(FitPoints points, int order)
{
    const std::size_t n = static_cast<std::size_t>(order) + 1, count = points.omega.size();
    // Each point's row: 1, 2 cos w, 2 cos 2w ... over its target.
    std::vector<double> rows(count * n);
    for (std::size_t i = 0; i < count; ++i)
        for (std::size_t c = 0; c < n; ++c)
            rows[i * n + c] = (c == 0 ? 1.0 : 2 * std::cos(static_cast<double>(c) * points.omega[i])) / points.target[i];
    std::vector<double> r(n, 0.0);
    for (int iteration = 0; iteration < 40; ++iteration) {
        std::vector<std::vector<double>> m(n, std::vector<double>(n, 0.0));
        std::vector<double> v(n, 0.0);
        for (std::size_t i = 0; i < count; ++i) {
            const double w = std::abs(points.weight[i]);
            const double* row = &rows[i * n];
            for (std::size_t a = 0; a < n; ++a) {
                v[a] += w * row[a];
                for (std::size_t b = 0; b <= a; ++b)
                    m[a][b] += w * row[a] * row[b];
            }
        }
        for (std::size_t a = 0; a < n; ++a)
            for (std::size_t b = a + 1; b < n; ++b)
                m[a][b] = m[b][a];
        r = solve(m, v);
        double total = 0, free = 0;
        for (std::size_t i = 0; i < count; ++i)
            if (points.weight[i] > 0) {
                double ratio = 0; // fitted / target
                for (std::size_t c = 0; c < n; ++c)
                    ratio += r[c] * rows[i * n + c];
                points.weight[i] *= std::abs(ratio - 1) + 1e-12;
                total += points.weight[i];
                ++free;
            }
        for (double& w : points.weight)
            if (w > 0)
                w *= free / total;
    }
    return r;
}

// The zeros of the minimum-phase FIR whose power response is P(w) above:
// r0 + sum r_k (z^k + z^-k) written as a polynomial in x = z + 1/z (through
// z^k + z^-k = V_k(x), V_0 = 2, V_1 = x, V_k+1 = x V_k - V_k-1); each of its
// roots gives the zero z + 1/z = x inside (or on) the unit circle.
// Conjugate zeros come out next to each other, complex ones first.
std::vector<Complex> minimumPhaseZeros(const std::vector<double>& r)
{
    const std::size_t n = r.size();
    std::vector<double> inX(n, 0.0), before(n, 0.0), now(n, 0.0);
    before[0] = 2;
    if (n > 1)
        now[1] = 1;
    inX[0] = r[0];
    for (std::size_t k = 1; k < n; ++k) {
        for (std::size_t d = 0; d < n; ++d)
            inX[d] += r[k] * now[d];
        std::vector<double> next(n, 0.0);
        for (std::size_t d = 0; d + 1 < n; ++d)
            next[d + 1] = now[d];
        for (std::size_t d = 0; d < n; ++d)
            next[d] -= before[d];
        before = now;
        now = next;
    }
    while (inX.size() > 1 && inX.back() == 0)
        inX.pop_back();
    std::vector<Complex> inside;
    if (inX.size() > 1)
        for (const Complex x : rootsOf(inX)) {
            const Complex root = std::sqrt(x * x - 4.0);
            const Complex z = (x - root) / 2.0;
            inside.push_back(std::abs(z) > 1 ? (x + root) / 2.0 : z);
        }
    std::vector<Complex> zeros;
    for (const Complex z : inside)
        if (z.imag() > 1e-9)
            zeros.insert(zeros.end(), {z, std::conj(z)});
    for (const Complex z : inside)
        if (std::abs(z.imag()) <= 1e-9)
            zeros.push_back(z.real());
    return zeros;
}

// One biquad in transposed direct form II, in double precision:
// y = b0 x + s1; s1 = b1 x - a1 y + s2; s2 = b2 x - a2 y.
struct Section {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    double s1 = 0, s2 = 0;

    Complex response(double omega) const
    {
        const Complex z1 = std::polar(1.0, -omega);
        return (b0 + z1 * (b1 + z1 * b2)) / (1.0 + z1 * (a1 + z1 * a2));
    }
};

} // namespace

struct SoundLevelMeter::Impl {
    // Two bilinear high-pass sections and the low-pass pair's two.
    static constexpr int MaxSections = 4;
    // The order of the low-pass pair's fitted numerator.
    static constexpr int FitOrder = 4;

    double rate = 48000;
    FrequencyWeighting frequency = FrequencyWeighting::A;
    TimeWeighting time = TimeWeighting::Fast;
    double offset = 0;

    std::array<Section, MaxSections> sections{};
    int sectionCount = 0;

    double step = 0;       // the one-pole average's step, 1 - exp(-1 / (tau rate))
    double average = 0;    // the time-weighted mean square
    double sum = 0;        // the weighted squares since the reset
    double samples = 0;    // samples since the reset
    double maxAverage = 0; // the highest time-weighted mean square since the reset
    double peak = 0;       // the highest |weighted sample| since the reset

    void design();
    double power(double hz) const
    {
        double p = 1;
        for (int s = 0; s < sectionCount; ++s)
            p *= std::norm(sections[s].response(2 * M_PI * hz / rate));
        return p;
    }
    void clear()
    {
        for (Section& s : sections)
            s.s1 = s.s2 = 0;
        average = 0;
        restart();
    }
    void restart()
    {
        sum = samples = peak = 0;
        maxAverage = average;
    }
};

// The weighting at the rate, as a cascade of biquads:
// - the high-pass pairs s^2 / (s + w1)^2 and, for A, s^2 / ((s + w2)(s + w3))
//   by the bilinear transform. Their zeros lie at DC and their poles far
//   below the band's top, where the transform's frequency warping changes
//   their gain by hundredths of a dB at most (which the fit below takes up).
// - the low-pass pair 1 / (s + w4)^2, which the bilinear transform would put
//   2 dB low at 20 kHz even at 96 kHz: its double pole by the matched z
//   transform (z = exp(-w4 / rate)) and a numerator of order FitOrder fitted
//   so that the whole cascade's power gain matches the analogue one
//   (fitPower), from 10 Hz to the band's top, min(20 kHz, 0.46 rate); held
//   at 1 kHz, where meters are calibrated; loosely held from the top to half
//   the rate, so that it stays positive and near the analogue response there.
//   Its minimum-phase factor (minimumPhaseZeros) makes two sections.
// Then the gain is set so that the filter matches the analogue weighting at
// 1 kHz exactly.
void SoundLevelMeter::Impl::design()
{
    sectionCount = 0;
    if (frequency == FrequencyWeighting::Z)
        return;
    const double k = 2.0 * rate;
    auto highPass = [&](double fa, double fb) {
        const double a = 2 * M_PI * fa, b = 2 * M_PI * fb;
        Section s;
        s.b0 = k * k / ((k + a) * (k + b));
        s.b1 = -2 * s.b0;
        s.b2 = s.b0;
        const double pa = (k - a) / (k + a), pb = (k - b) / (k + b);
        s.a1 = -(pa + pb);
        s.a2 = pa * pb;
        sections[sectionCount++] = s;
    };
    highPass(F1, F1);
    if (frequency == FrequencyWeighting::A)
        highPass(F2, F3);

    const double pole = std::exp(-2 * M_PI * F4 / rate);
    Section poles;
    poles.a1 = -2 * pole;
    poles.a2 = pole * pole;

    // The numerator's target: the analogue power over the high-pass sections'
    // and the poles' own. 400 points evenly spaced from 0 and 60 evenly in
    // log frequency from 10 Hz, up to the top, reweighted; 1 kHz with a large fixed weight;
    // 100 guard points above the band with a small fixed weight.
    const double top = std::min(20000.0, 0.46 * rate);
    FitPoints points;
    auto add = [&](double hz, double weight) {
        const double omega = 2 * M_PI * hz / rate;
        points.omega.push_back(omega);
        points.target.push_back(analoguePower(frequency, hz) / (power(hz) * std::norm(poles.response(omega))));
        points.weight.push_back(weight);
    };
    for (int i = 1; i <= 400; ++i)
        add(top * i / 400, 1);
    for (int i = 0; i < 60; ++i)
        add(10 * std::pow(top / 10, i / 60.0), 1);
    if (top > 1000)
        add(1000, -1e4);
    for (int i = 1; i <= 100; ++i)
        add(top + (0.499 * rate - top) * i / 100, -0.01);
    const std::vector<Complex> zeros = minimumPhaseZeros(fitPower(points, FitOrder));

    for (std::size_t i = 0; i < zeros.size() || i == 0; i += 2) {
        Section s = i == 0 ? poles : Section{};
        const Complex z1 = i < zeros.size() ? zeros[i] : 0.0;
        const Complex z2 = i + 1 < zeros.size() ? zeros[i + 1] : 0.0;
        s.b1 = -(z1 + z2).real();
        s.b2 = (z1 * z2).real();
        sections[sectionCount++] = s;
    }
    const double reference = top > 1000 ? 1000 : top / 2;
    const double gain = std::sqrt(analoguePower(frequency, reference) / power(reference));
    Section& last = sections[sectionCount - 1];
    last.b0 *= gain, last.b1 *= gain, last.b2 *= gain;
}

double SoundLevelMeter::weightingDb(FrequencyWeighting weighting, double hz)
{
    if (weighting == FrequencyWeighting::Z)
        return 0;
    return hz > 0 ? powerDb(analoguePower(weighting, hz)) : FloorDb;
}

double SoundLevelMeter::timeConstant(TimeWeighting w)
{
    return w == TimeWeighting::Fast ? 0.125 : 1.0;
}

SoundLevelMeter::SoundLevelMeter(int rate, FrequencyWeighting frequency, TimeWeighting time)
    : m(new Impl)
{
    m->rate = std::max(rate, 1000);
    setWeighting(frequency, time);
}

SoundLevelMeter::~SoundLevelMeter() = default;

double SoundLevelMeter::filterDb(double hz) const
{
    return powerDb(m->power(hz));
}

void SoundLevelMeter::setOffset(double offsetDb)
{
    m->offset = offsetDb;
}

double SoundLevelMeter::offset() const
{
    return m->offset;
}

void SoundLevelMeter::setWeighting(FrequencyWeighting frequency, TimeWeighting time)
{
    m->frequency = frequency;
    m->time = time;
    m->step = -std::expm1(-1 / (timeConstant(time) * m->rate));
    m->design();
    m->clear();
}

FrequencyWeighting SoundLevelMeter::frequencyWeighting() const
{
    return m->frequency;
}

TimeWeighting SoundLevelMeter::timeWeighting() const
{
    return m->time;
}

void SoundLevelMeter::push(const float* samples, std::size_t count)
{
    Impl& d = *m;
    const double step = d.step;
    double average = d.average, sum = 0, maxAverage = d.maxAverage, peak = d.peak;
    for (std::size_t i = 0; i < count; ++i) {
        double x = samples[i];
        for (int s = 0; s < d.sectionCount; ++s) {
            Section& f = d.sections[s];
            const double y = f.b0 * x + f.s1;
            f.s1 = f.b1 * x - f.a1 * y + f.s2;
            f.s2 = f.b2 * x - f.a2 * y;
            x = y;
        }
        const double square = x * x;
        average += step * (square - average);
        sum += square;
        maxAverage = std::max(maxAverage, average);
        peak = std::max(peak, std::abs(x));
    }
    // After long digital silence the states and the average decay towards
    // the subnormal numbers, whose arithmetic is slow: below 1e-150 (some
    // -1500 dB) they are zero.
    constexpr double Tiny = 1e-150;
    for (int s = 0; s < d.sectionCount; ++s) {
        Section& f = d.sections[s];
        if (std::abs(f.s1) < Tiny && std::abs(f.s2) < Tiny)
            f.s1 = f.s2 = 0;
    }
    d.average = average < Tiny ? 0 : average;
    d.sum += sum;
    d.samples += static_cast<double>(count);
    d.maxAverage = maxAverage;
    d.peak = peak;
}

void SoundLevelMeter::reset()
{
    m->restart();
}

SoundLevelReading SoundLevelMeter::reading() const
{
    auto level = [&](double meanSquare) { return meanSquare > 0 ? powerDb(meanSquare) + m->offset : FloorDb; };
    SoundLevelReading r;
    r.levelDb = level(m->average);
    r.leqDb = level(m->samples > 0 ? m->sum / m->samples : 0);
    r.maxLevelDb = level(m->maxAverage);
    r.peakDb = level(m->peak * m->peak);
    r.seconds = m->samples / m->rate;
    return r;
}

} // namespace audimera
