#include "signal/ClockOffset.h"

#include "signal/KaiserWindow.h"
#include "signal/RealFft.h"

#include <algorithm>
#include <numbers>

namespace audimera::ClockOffset {

namespace {

constexpr double Pi = std::numbers::pi;
constexpr double StopbandDb = 120;
// Extrapolated log-magnitudes stay within this many nepers of the edge's.
constexpr double MaxExtrapolation = 25;
// Where the magnitude counts as measured: signal over noise (power) of the
// transfer function, 20 dB.
constexpr double MinSnr = 100;
// What the fit's model leaves of a point's phase at best, radians.
constexpr double PhaseFloor = 1e-4;

// log|t| over all bins: measured within [lowBin, highBin], continued
// beyond as a straight line in ln tan(pi f / rate) fitted over the half
// octave inside each edge, so the cepstrum sees no step. (That variable
// makes the continuation exact for filters made by the bilinear transform,
// whose skirts fall as a power of tan(pi f / rate), and it is ln f at low
// frequencies.)
std::vector<double> logMagnitude(const std::vector<std::complex<double>>& t, std::size_t lowBin,
                                 std::size_t highBin)
{
    const double last = double(t.size() - 1); // the bin at half the rate
    const auto u = [&](std::size_t k) { return std::log(std::tan(Pi / 2 * std::min(double(k), last - 0.5) / last)); };
    std::vector<double> m(t.size());
    for (std::size_t k = lowBin; k <= highBin; ++k)
        m[k] = std::log(std::max(std::abs(t[k]), 1e-300));
    auto slopeOver = [&](std::size_t a, std::size_t b) {
        double sx = 0, sy = 0, sxx = 0, sxy = 0, n = 0;
        for (std::size_t k = a; k <= b; ++k) {
            const double x = u(k);
            sx += x;
            sy += m[k];
            sxx += x * x;
            sxy += x * m[k];
            ++n;
        }
        const double d = n * sxx - sx * sx;
        return d > 0 ? (n * sxy - sx * sy) / d : 0.0;
    };
    const auto halfOctave = [](std::size_t k) { return std::max<std::size_t>(1, std::size_t(double(k) * 0.29)); };
    const double lowSlope = slopeOver(lowBin, std::min(highBin, lowBin + halfOctave(lowBin)));
    const double highSlope = slopeOver(highBin - std::min(highBin - lowBin, halfOctave(highBin)), highBin);
    for (std::size_t k = 1; k < lowBin; ++k)
        m[k] = m[lowBin] + std::clamp(lowSlope * (u(k) - u(lowBin)), -MaxExtrapolation, MaxExtrapolation);
    m[0] = lowBin > 0 ? m[std::min<std::size_t>(1, lowBin)] : m[0];
    for (std::size_t k = highBin + 1; k < t.size(); ++k)
        m[k] = m[highBin] + std::clamp(highSlope * (u(k) - u(highBin)), -MaxExtrapolation, MaxExtrapolation);
    return m;
}

// The minimum phase belonging to the log-magnitude m on the bins of a
// real DFT (the folded real cepstrum).
std::vector<double> minimumPhase(const std::vector<double>& m, RealFft& fft)
{
    const std::size_t n = fft.size();
    for (std::size_t k = 0; k < m.size(); ++k)
        fft.spectrum()[k] = m[k];
    fft.inverse();
    double* c = fft.time();
    for (std::size_t i = 1; i < n / 2; ++i)
        c[i] *= 2;
    for (std::size_t i = n / 2 + 1; i < n; ++i)
        c[i] = 0;
    fft.forward();
    std::vector<double> phase(m.size());
    for (std::size_t k = 0; k < m.size(); ++k)
        phase[k] = fft.spectrum()[k].imag();
    return phase;
}

constexpr int Unknowns = 6;

// Solves the system a x = b (Gauss with pivoting); false when singular.
bool solve(double a[Unknowns][Unknowns], double b[Unknowns])
{
    constexpr int n = Unknowns;
    for (int i = 0; i < n; ++i) {
        int pivot = i;
        for (int r = i + 1; r < n; ++r)
            if (std::abs(a[r][i]) > std::abs(a[pivot][i]))
                pivot = r;
        if (!(std::abs(a[pivot][i]) > 0))
            return false;
        std::swap(a[i], a[pivot]);
        std::swap(b[i], b[pivot]);
        for (int r = i + 1; r < n; ++r) {
            const double f = a[r][i] / a[i][i];
            for (int c = i; c < n; ++c)
                a[r][c] -= f * a[i][c];
            b[r] -= f * b[i];
        }
    }
    for (int i = n - 1; i >= 0; --i) {
        for (int c = i + 1; c < n; ++c)
            b[i] -= a[i][c] * b[c];
        b[i] /= a[i][i];
    }
    return true;
}

} // namespace

Interpolator::Interpolator() : m_table(std::size_t(Phases + 1) * Taps)
{
    const double beta = kaiser::beta(StopbandDb);
    for (int p = 0; p <= Phases; ++p)
        for (int k = 0; k < Taps; ++k) {
            const double d = double(p) / Phases + (Reach - 1) - k; // distance from the position
            m_table[std::size_t(p) * Taps + k] = kaiser::sinc(d) * kaiser::window(d / Reach, beta);
        }
}

const Interpolator& Interpolator::instance()
{
    static const Interpolator interpolator;
    return interpolator;
}

void toPlayClock(const float* recorded, std::size_t frames, int channels, double ppm, std::vector<float>& out)
{
    const double ratio = 1 + ppm * 1e-6;
    const auto outFrames = frames > 0 ? std::size_t(std::floor(double(frames - 1) / ratio)) + 1 : 0;
    out.assign(outFrames * std::size_t(channels), 0.0f);
    const Interpolator& interpolator = Interpolator::instance();
    const auto last = static_cast<int64_t>(frames);
    for (int c = 0; c < channels; ++c) {
        const auto x = [&](int64_t i) {
            return i >= 0 && i < last ? double(recorded[std::size_t(i) * std::size_t(channels) + std::size_t(c)])
                                      : 0.0;
        };
        for (std::size_t n = 0; n < outFrames; ++n)
            out[n * std::size_t(channels) + std::size_t(c)] = float(interpolator.at(x, double(n) * ratio));
    }
}

std::vector<double> segmentNoise(const std::vector<double>& response, std::size_t from, std::size_t count,
                                 std::size_t fftSize, double windowEnergy)
{
    const std::size_t m = RealFft::goodLength(std::max<std::size_t>(count, 16));
    RealFft fft(m);
    double hannEnergy = 0;
    for (std::size_t i = 0; i < m; ++i) {
        const double v = i < count ? 0.5 - 0.5 * std::cos(2 * Pi * (double(i) + 0.5) / double(count)) : 0.0;
        fft.time()[i] = v * response[(from + i) % response.size()];
        hannEnergy += v * v;
    }
    fft.forward();
    std::vector<double> sum(fft.bins() + 1, 0.0);
    for (std::size_t j = 0; j < fft.bins(); ++j)
        sum[j + 1] = sum[j] + std::norm(fft.spectrum()[j]);
    std::vector<double> noise(fftSize / 2 + 1);
    for (std::size_t k = 0; k < noise.size(); ++k) {
        const auto j = std::size_t(std::llround(double(k) * double(m) / double(fftSize)));
        const std::size_t a = j > 8 ? j - 8 : 0, b = std::min(fft.bins() - 1, j + 8);
        noise[k] = (sum[b + 1] - sum[a]) / double(b - a + 1) / hannEnergy * windowEnergy;
    }
    return noise;
}

std::optional<std::pair<std::size_t, std::size_t>> measuredBins(const std::vector<std::complex<double>>& transfer,
                                                                const std::vector<double>& noise, double binHz,
                                                                double low, double high)
{
    if (transfer.size() < 16 || noise.size() != transfer.size() || !(binHz > 0) || !(low > 0) || !(high > low))
        return std::nullopt;
    const std::size_t lowBin = std::max<std::size_t>(1, std::size_t(std::ceil(low / binHz)));
    const std::size_t highBin = std::min(transfer.size() - 2, std::size_t(std::floor(high / binHz)));
    if (highBin < lowBin + 8)
        return std::nullopt;
    // Signal-to-noise ratio of the transfer function, smoothed over a sixth
    // of an octave; the magnitude counts as measured only where it stays
    // above MinSnr from the middle of the range outwards (a low-pass's skirt
    // sinks into the noise: above that, its magnitude is continued).
    std::vector<double> power(transfer.size() + 1, 0.0), noisePower(transfer.size() + 1, 0.0);
    for (std::size_t k = 0; k < transfer.size(); ++k) {
        power[k + 1] = power[k] + std::norm(transfer[k]);
        noisePower[k + 1] = noisePower[k] + noise[k];
    }
    const auto snrAt = [&](std::size_t k) {
        const std::size_t a = std::max<std::size_t>(1, std::size_t(double(k) / 1.06));
        const std::size_t b = std::min(transfer.size() - 1, std::max(a, std::size_t(double(k) * 1.06)));
        const double n = noisePower[b + 1] - noisePower[a];
        return n > 0 ? (power[b + 1] - power[a]) / n : HUGE_VAL;
    };
    const auto middle = std::size_t(std::sqrt(double(lowBin) * double(highBin)));
    if (!(snrAt(middle) >= MinSnr))
        return std::nullopt;
    std::size_t validLow = middle, validHigh = middle;
    while (validLow > lowBin && snrAt(validLow - 1) >= MinSnr)
        --validLow;
    while (validHigh < highBin && snrAt(validHigh + 1) >= MinSnr)
        ++validHigh;
    return std::pair{validLow, validHigh};
}

std::vector<double> minimumPhaseOf(const std::vector<std::complex<double>>& transfer, std::size_t lowBin,
                                   std::size_t highBin)
{
    RealFft fft(2 * (transfer.size() - 1));
    return minimumPhase(logMagnitude(transfer, lowBin, highBin), fft);
}

std::vector<double> minimumPhaseOf(const std::vector<std::complex<double>>& transfer, std::size_t lowBin,
                                   std::size_t highBin, RealFft& fft)
{
    return minimumPhase(logMagnitude(transfer, lowBin, highBin), fft);
}

std::optional<Estimate> estimate(const std::vector<std::complex<double>>& transfer,
                                 const std::vector<double>& noise, double binHz, double sweepL, double f1,
                                 double low, double high, bool minimumPhase)
{
    if (!(high > 2 * low))
        return std::nullopt;
    const std::optional<std::pair<std::size_t, std::size_t>> measured =
        measuredBins(transfer, noise, binHz, low, high);
    if (!measured)
        return std::nullopt;
    const auto [lowBin, highBin] = *measured;
    std::vector<double> minimum;
    if (minimumPhase)
        minimum = minimumPhaseOf(transfer, lowBin, highBin);

    // The fit's band: two octaves above the lower edge to 1.5 times below the
    // upper one, where the minimum phase hardly feels the continued
    // magnitude; at least three octaves.
    const double fitLow = double(std::min(highBin, lowBin * 4)) * binHz;
    const double fitHigh = double(highBin) * binHz / 1.5;
    if (!(fitHigh >= 8 * fitLow))
        return std::nullopt;

    // Points every 1/24 octave: the complex mean of the excess response
    // (the measured one without its minimum phase) over the point's band,
    // its phase unwrapped from point to point, and the phase's variance from
    // the noise (plus a floor for what the model leaves).
    struct Point {
        double f, phase, variance;
    };
    std::vector<Point> points;
    double previous = 0, unwrapped = 0;
    const int count = int(std::floor(24 * std::log2(fitHigh / fitLow))) + 1;
    for (int i = 0; i < count; ++i) {
        const double f = fitLow * std::exp2(i / 24.0);
        const auto a = std::size_t(std::llround(f / binHz / std::exp2(1 / 48.0)));
        const auto b = std::max(a, std::size_t(std::llround(f / binHz * std::exp2(1 / 48.0))));
        std::complex<double> sum = 0;
        double noiseSum = 0, frequencySum = 0;
        for (std::size_t k = a; k <= b; ++k) {
            sum += transfer[k] * std::polar(1.0, minimumPhase ? -minimum[k] : 0.0);
            noiseSum += noise[k];
            frequencySum += double(k) * binHz;
        }
        const double n = double(b - a + 1);
        const double snr = noiseSum > 0 ? std::norm(sum) / noiseSum : HUGE_VAL;
        const double phase = std::arg(sum);
        unwrapped = points.empty() ? phase : unwrapped + std::remainder(phase - previous, 2 * Pi);
        previous = phase;
        points.push_back({frequencySum / n, unwrapped, 1 / (2 * snr) + PhaseFloor * PhaseFloor});
    }

    // Weighted least squares for
    // c - 2 pi f D - 2 pi eps L f ln(f / f1) + a / f + b f^3 + c f^5: the
    // last three take up what the magnitude outside the measured band
    // (unknown, and continued) does to the minimum phase inside it, whose
    // odd series in f begins with those terms (the f term goes with the
    // delay). The columns are scaled to order 1; eps is column 2.
    const double scale2 = 2 * Pi * sweepL * fitHigh * std::log(fitHigh / f1);
    const int used = minimumPhase ? Unknowns : 3;
    auto basis = [&](double f, double (&v)[Unknowns]) {
        v[0] = 1;
        v[1] = -2 * Pi * f / fitHigh;
        v[2] = -2 * Pi * sweepL * f * std::log(f / f1) / scale2;
        v[3] = used > 3 ? fitLow / f : 0;
        v[4] = used > 4 ? std::pow(f / fitHigh, 3) : 0;
        v[5] = used > 5 ? std::pow(f / fitHigh, 5) : 0;
    };
    double a[Unknowns][Unknowns] = {}, b[Unknowns] = {};
    for (const Point& p : points) {
        double v[Unknowns];
        basis(p.f, v);
        for (int i = 0; i < Unknowns; ++i) {
            for (int j = 0; j < Unknowns; ++j)
                a[i][j] += v[i] * v[j] / p.variance;
            b[i] += v[i] * p.phase / p.variance;
        }
    }
    for (int i = used; i < Unknowns; ++i)
        a[i][i] = 1; // the unused columns: 0 = 0
    double normal[Unknowns][Unknowns];
    std::copy(&a[0][0], &a[0][0] + Unknowns * Unknowns, &normal[0][0]);
    double x[Unknowns];
    std::copy(b, b + Unknowns, x);
    if (!solve(normal, x))
        return std::nullopt;
    double chiSquare = 0;
    for (const Point& p : points) {
        double v[Unknowns];
        basis(p.f, v);
        double model = 0;
        for (int i = 0; i < Unknowns; ++i)
            model += x[i] * v[i];
        chiSquare += (p.phase - model) * (p.phase - model) / p.variance;
    }
    // The covariance from the noise, widened when the points scatter more
    // than the noise explains.
    const double degrees = std::max(1.0, double(points.size()) - used);
    double inverse[Unknowns][Unknowns];
    std::copy(&a[0][0], &a[0][0] + Unknowns * Unknowns, &inverse[0][0]);
    double unit[Unknowns] = {0, 0, 1};
    if (!solve(inverse, unit))
        return std::nullopt;
    const double varianceEps = std::max(0.0, unit[2] * std::max(1.0, chiSquare / degrees));
    Estimate e;
    e.ppm = x[2] / scale2 * 1e6;
    e.uncertaintyPpm = std::sqrt(varianceEps) / scale2 * 1e6;
    return e;
}

} // namespace audimera::ClockOffset
