#include "engine/EqDesign.h"

#include "curves/CurvePoints.h"
#include "curves/FieldReader.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <locale>
#include <numbers>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>

namespace audimera {

namespace {

constexpr double LowestHz = 20;
constexpr double HighestHz = 20000;
// The smoothing: 1/6 octave below SmoothingSplitHz, 1/3 above, as half
// widths in steps of the 1/48-octave grid.
constexpr double SmoothingSplitHz = 200;
constexpr int FineHalfSteps = EqFitSettings::FitPointsPerOctave / 12;
constexpr int CoarseHalfSteps = EqFitSettings::FitPointsPerOctave / 6;
// How hard the summed EQ is held within the boost and cut limits (the
// weight of a dB beyond them against a dB of deviation from the target).
constexpr double LimitWeight = 10;
// Iterations of a refinement: of a new filter alone, of all filters after
// each one is placed, and of the last joint refinement.
constexpr int NewFilterIterations = 25;
constexpr int PlacingIterations = 12;
constexpr int FinalIterations = 300;

using Params = std::array<double, 3>; // ln Hz, gain dB, ln Q

std::string number(double v)
{
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out.precision(6);
    out << v;
    return out.str();
}

Error badInput(std::string text)
{
    return Error::of(Failure::BadInput, std::move(text));
}

// The analogue 2nd-order low shelf (Q 1/sqrt 2) of gainDb with its
// midpoint at cornerHz, at hz: gainDb far below, half of it at the corner.
double lowShelfDb(double gainDb, double cornerHz, double hz)
{
    if (gainDb == 0)
        return 0;
    const double a = std::pow(10.0, gainDb / 40);
    const double x2 = (hz / cornerHz) * (hz / cornerHz);
    const double num = (a - x2) * (a - x2) + 2 * a * x2;
    const double den = (1 - a * x2) * (1 - a * x2) + 2 * a * x2;
    return 10 * std::log10(a * a * num / den);
}

// A trace's mean level over a band of log frequency: its points joined by
// straight lines in log2 frequency, integrated; the part of a band beyond
// the trace's ends is left out.
class LogIntegral {
public:
    explicit LogIntegral(const std::vector<CurvePoint>& points)
    {
        m_x.reserve(points.size());
        m_y.reserve(points.size());
        m_sum.reserve(points.size());
        for (const CurvePoint& p : points) {
            const double x = std::log2(p.frequency);
            if (m_x.empty())
                m_sum.push_back(0);
            else
                m_sum.push_back(m_sum.back() + (x - m_x.back()) * (p.level + m_y.back()) / 2);
            m_x.push_back(x);
            m_y.push_back(p.level);
        }
    }

    // The mean over [xa, xb] (log2 Hz).
    double mean(double xa, double xb) const
    {
        xa = std::clamp(xa, m_x.front(), m_x.back());
        xb = std::clamp(xb, m_x.front(), m_x.back());
        if (xb - xa < 1e-12)
            return valueAt(xa);
        return (integralTo(xb) - integralTo(xa)) / (xb - xa);
    }

private:
    std::size_t segmentOf(double x) const
    {
        const auto it = std::upper_bound(m_x.begin(), m_x.end(), x);
        const std::size_t i = static_cast<std::size_t>(it - m_x.begin());
        return std::min(i == 0 ? 0 : i - 1, m_x.size() - 1);
    }
    double valueAt(double x) const
    {
        const std::size_t i = segmentOf(x);
        if (i + 1 >= m_x.size() || !(m_x[i + 1] > m_x[i]))
            return m_y[i];
        return m_y[i] + (x - m_x[i]) * (m_y[i + 1] - m_y[i]) / (m_x[i + 1] - m_x[i]);
    }
    double integralTo(double x) const
    {
        const std::size_t i = segmentOf(x);
        const double dx = x - m_x[i];
        return m_sum[i] + dx * (m_y[i] + valueAt(x)) / 2;
    }

    std::vector<double> m_x, m_y, m_sum;
};

// The fit's grid: FitPointsPerOctave a octave from lowHz, with Pad more
// points either side so that the smoothing window of every point of the
// range lies on it.
struct Grid {
    static constexpr int Pad = CoarseHalfSteps;
    std::vector<double> hz;    // the whole grid
    std::vector<double> sin2;  // sin^2(pi hz / rate) at each
    std::vector<int> half;     // per point of the range: its smoothing's half width in steps
    int points = 0;            // points in the range; range point k is grid point k + Pad

    Grid(double lowHz, double highHz, double rate)
    {
        const double step = 1.0 / EqFitSettings::FitPointsPerOctave;
        points = static_cast<int>(std::floor(std::log2(highHz / lowHz) / step + 1e-9)) + 1;
        for (int j = -Pad; j < points + Pad; ++j) {
            const double f = lowHz * std::exp2(j * step);
            hz.push_back(f);
            const double s = std::sin(std::numbers::pi * f / rate);
            sin2.push_back(s * s);
        }
        for (int k = 0; k < points; ++k)
            half.push_back(hz[k + Pad] < SmoothingSplitHz ? FineHalfSteps : CoarseHalfSteps);
    }

    // The response smoothed at range point k (its window's mean in dB).
    double smoothedResponse(const LogIntegral& response, int k) const
    {
        const double x = std::log2(hz[k + Pad]);
        const double h = half[k] * (1.0 / EqFitSettings::FitPointsPerOctave);
        return response.mean(x - h, x + h);
    }

    // A curve on the whole grid smoothed at range point k alike: the mean
    // of its points joined by straight lines over the window. prefix holds
    // the running sums of the curve (prefix[j] = sum of the first j).
    double smoothed(const std::vector<double>& curve, const std::vector<double>& prefix, int k) const
    {
        const int j = k + Pad, h = half[k];
        const double sum = prefix[j + h + 1] - prefix[j - h];
        return (sum - (curve[j - h] + curve[j + h]) / 2) / (2 * h);
    }
};

void prefixSums(const std::vector<double>& curve, std::vector<double>& prefix)
{
    prefix.resize(curve.size() + 1);
    prefix[0] = 0;
    for (std::size_t j = 0; j < curve.size(); ++j)
        prefix[j + 1] = prefix[j] + curve[j];
}

EqFilter filterOf(const Params& p)
{
    EqFilter f;
    f.type = EqFilter::Type::Peaking;
    f.hz = std::exp(p[0]);
    f.gainDb = p[1];
    f.q = std::exp(p[2]);
    return f;
}

// A peaking filter's gain in dB at every point of the grid, from its
// biquad at the rate: |b0 + b1 z + b2 z^2|^2 written in s = sin^2(w/2),
// which keeps its precision far below the rate.
void curveOf(const Params& p, double rate, const Grid& grid, std::vector<double>& out)
{
    const Biquad b = biquadOf(filterOf(p), rate);
    const double n0 = (b.b0 + b.b1 + b.b2) * (b.b0 + b.b1 + b.b2);
    const double n1 = 4 * (b.b0 * b.b1 + b.b1 * b.b2 + 4 * b.b0 * b.b2);
    const double n2 = 16 * b.b0 * b.b2;
    const double d0 = (1 + b.a1 + b.a2) * (1 + b.a1 + b.a2);
    const double d1 = 4 * (b.a1 + b.a1 * b.a2 + 4 * b.a2);
    const double d2 = 16 * b.a2;
    out.resize(grid.hz.size());
    for (std::size_t j = 0; j < out.size(); ++j) {
        const double s = grid.sin2[j];
        const double num = n0 - s * (n1 - s * n2);
        const double den = d0 - s * (d1 - s * d2);
        out[j] = 10 * std::log10(std::max(num, 1e-300) / std::max(den, 1e-300));
    }
}

// Solves m x = v in place for a symmetric positive definite m (n x n, row
// major) by Cholesky; false when m is not positive definite.
bool solveSpd(std::vector<double>& m, std::vector<double>& v, int n)
{
    for (int j = 0; j < n; ++j) {
        double d = m[j * n + j];
        for (int k = 0; k < j; ++k)
            d -= m[j * n + k] * m[j * n + k];
        if (!(d > 0))
            return false;
        d = std::sqrt(d);
        m[j * n + j] = d;
        for (int i = j + 1; i < n; ++i) {
            double s = m[i * n + j];
            for (int k = 0; k < j; ++k)
                s -= m[i * n + k] * m[j * n + k];
            m[i * n + j] = s / d;
        }
    }
    for (int i = 0; i < n; ++i) {
        double s = v[i];
        for (int k = 0; k < i; ++k)
            s -= m[i * n + k] * v[k];
        v[i] = s / m[i * n + i];
    }
    for (int i = n - 1; i >= 0; --i) {
        double s = v[i];
        for (int k = i + 1; k < n; ++k)
            s -= m[k * n + i] * v[k];
        v[i] = s / m[i * n + i];
    }
    return true;
}

// The fit's state: the filters, their curves on the grid, and the least
// squares problem of the smoothed response plus the smoothed EQ against the
// target, with the summed EQ held within the limits.
class Fitter {
public:
    Fitter(const Grid& grid, std::vector<double> base, std::vector<double> target, const EqFitSettings& settings)
        : m_grid(grid), m_base(std::move(base)), m_target(std::move(target)), m_rate(settings.rate),
          m_maxBoost(settings.maxBoostDb), m_maxCut(settings.maxCutDb),
          m_lower{std::log(settings.lowHz), -settings.maxCutDb, std::log(EqFitSettings::MinQ)},
          m_upper{std::log(settings.highHz), settings.maxBoostDb, std::log(EqFitSettings::MaxQ)},
          m_sum(grid.hz.size(), 0.0)
    {
    }

    int count() const { return static_cast<int>(m_params.size()); }
    const Params& params(int i) const { return m_params[static_cast<std::size_t>(i)]; }

    // Deviation of the smoothed response plus the smoothed EQ from the
    // target at each range point.
    std::vector<double> deviation() const
    {
        std::vector<double> prefix;
        prefixSums(m_sum, prefix);
        std::vector<double> r(static_cast<std::size_t>(m_grid.points));
        for (int k = 0; k < m_grid.points; ++k)
            r[k] = m_base[k] + m_grid.smoothed(m_sum, prefix, k) - m_target[k];
        return r;
    }
    // The summed EQ (not smoothed) at range point k.
    double eqAt(int k) const { return m_sum[static_cast<std::size_t>(k + Grid::Pad)]; }

    void add(Params p)
    {
        clamp(p);
        m_params.push_back(p);
        m_curves.emplace_back();
        curveOf(p, m_rate, m_grid, m_curves.back());
        for (std::size_t j = 0; j < m_sum.size(); ++j)
            m_sum[j] += m_curves.back()[j];
    }

    void remove(int i)
    {
        const auto at = static_cast<std::size_t>(i);
        for (std::size_t j = 0; j < m_sum.size(); ++j)
            m_sum[j] -= m_curves[at][j];
        m_params.erase(m_params.begin() + i);
        m_curves.erase(m_curves.begin() + i);
    }

    // Levenberg-Marquardt over the parameters of filters [first, count()),
    // the others held, each step kept within the limits (a parameter at a
    // limit that the gradient pushes beyond it is held for that step).
    void refine(int first, int maxIterations)
    {
        const int free = count() - first;
        if (free <= 0)
            return;
        const int n = 3 * free;
        std::vector<double> r = residuals(m_sum);
        double cost = costOf(r);
        double lambda = 1e-3;
        std::vector<std::vector<double>> jac(static_cast<std::size_t>(n), std::vector<double>(static_cast<std::size_t>(2 * m_grid.points)));
        std::vector<double> moved, diff, prefix, trialSum;
        std::vector<std::vector<double>> trialCurves(static_cast<std::size_t>(free));
        for (int iteration = 0; iteration < maxIterations && cost > 0; ++iteration) {
            jacobian(first, jac, moved, diff, prefix);
            // The limits' rows count only where the summed EQ passes them.
            const bool beyond = std::any_of(r.begin() + m_grid.points, r.end(), [](double v) { return v != 0; });
            const int rows = beyond ? 2 * m_grid.points : m_grid.points;
            std::vector<double> a(static_cast<std::size_t>(n * n)), g(static_cast<std::size_t>(n));
            for (int p = 0; p < n; ++p) {
                const double* jp = jac[p].data();
                for (int q = 0; q <= p; ++q) {
                    const double* jq = jac[q].data();
                    double s = 0;
                    for (int k = 0; k < rows; ++k)
                        s += jp[k] * jq[k];
                    a[p * n + q] = a[q * n + p] = s;
                }
                double s = 0;
                for (int k = 0; k < rows; ++k)
                    s += jp[k] * r[k];
                g[p] = s;
            }
            // Held: at a limit with the descent pointing beyond it.
            std::vector<int> active;
            for (int p = 0; p < n; ++p) {
                const double v = m_params[first + p / 3][p % 3];
                const bool atLower = v <= m_lower[p % 3] + 1e-12 && g[p] > 0;
                const bool atUpper = v >= m_upper[p % 3] - 1e-12 && g[p] < 0;
                if (!atLower && !atUpper)
                    active.push_back(p);
            }
            if (active.empty())
                break;
            const int m = static_cast<int>(active.size());
            double top = 0;
            for (int p : active)
                top = std::max(top, a[p * n + p]);
            bool improved = false;
            double gain = 0;
            for (int attempt = 0; attempt < 12 && !improved; ++attempt, lambda *= 4) {
                std::vector<double> sys(static_cast<std::size_t>(m * m)), step(static_cast<std::size_t>(m));
                for (int i = 0; i < m; ++i) {
                    for (int j = 0; j < m; ++j)
                        sys[i * m + j] = a[active[i] * n + active[j]];
                    sys[i * m + i] += lambda * (a[active[i] * n + active[i]] + 1e-9 * top + 1e-30);
                    step[i] = -g[active[i]];
                }
                if (!solveSpd(sys, step, m))
                    continue;
                std::vector<Params> trial(m_params.begin() + first, m_params.end());
                for (int i = 0; i < m; ++i)
                    trial[active[i] / 3][active[i] % 3] += step[i];
                trialSum = m_sum;
                for (int f = 0; f < free; ++f) {
                    clamp(trial[f]);
                    curveOf(trial[f], m_rate, m_grid, trialCurves[f]);
                    const std::vector<double>& old = m_curves[first + f];
                    for (std::size_t j = 0; j < trialSum.size(); ++j)
                        trialSum[j] += trialCurves[f][j] - old[j];
                }
                std::vector<double> trialR = residuals(trialSum);
                const double trialCost = costOf(trialR);
                if (trialCost < cost) {
                    gain = cost - trialCost;
                    for (int f = 0; f < free; ++f) {
                        m_params[first + f] = trial[f];
                        std::swap(m_curves[first + f], trialCurves[f]);
                    }
                    std::swap(m_sum, trialSum);
                    r = std::move(trialR);
                    cost = trialCost;
                    improved = true;
                    lambda = std::max(lambda / 16, 1e-9); // the loop multiplies by 4 once more
                }
            }
            if (!improved || gain <= 1e-10 * cost + 1e-14)
                break;
        }
    }

private:
    void clamp(Params& p) const
    {
        for (int i = 0; i < 3; ++i)
            p[i] = std::clamp(p[i], m_lower[i], m_upper[i]);
    }

    // The deviations at the range's points, then the summed EQ beyond its
    // limits there (weighted), for an EQ summed on the grid.
    std::vector<double> residuals(const std::vector<double>& sum) const
    {
        std::vector<double> prefix;
        prefixSums(sum, prefix);
        std::vector<double> r(static_cast<std::size_t>(2 * m_grid.points));
        for (int k = 0; k < m_grid.points; ++k) {
            r[k] = m_base[k] + m_grid.smoothed(sum, prefix, k) - m_target[k];
            r[m_grid.points + k] = LimitWeight * beyondLimits(sum[k + Grid::Pad]);
        }
        return r;
    }
    double beyondLimits(double eq) const
    {
        if (eq > m_maxBoost)
            return eq - m_maxBoost;
        if (eq < -m_maxCut)
            return eq + m_maxCut;
        return 0;
    }
    static double costOf(const std::vector<double>& r)
    {
        double s = 0;
        for (const double v : r)
            s += v * v;
        return s;
    }

    // The residuals' derivatives by each free parameter (forward
    // differences of the filter's own curve; the others do not move).
    void jacobian(int first, std::vector<std::vector<double>>& jac, std::vector<double>& moved,
                  std::vector<double>& diff, std::vector<double>& prefix) const
    {
        static constexpr double Steps[3] = {1e-6, 1e-5, 1e-6};
        const int points = m_grid.points;
        for (int f = first; f < count(); ++f) {
            for (int i = 0; i < 3; ++i) {
                Params p = m_params[f];
                // Step inward at an upper limit, so the curve is one the fit may use.
                const double h = p[i] + Steps[i] > m_upper[i] ? -Steps[i] : Steps[i];
                p[i] += h;
                curveOf(p, m_rate, m_grid, moved);
                diff.resize(moved.size());
                for (std::size_t j = 0; j < moved.size(); ++j)
                    diff[j] = (moved[j] - m_curves[f][j]) / h;
                prefixSums(diff, prefix);
                std::vector<double>& column = jac[static_cast<std::size_t>(3 * (f - first) + i)];
                for (int k = 0; k < points; ++k) {
                    column[k] = m_grid.smoothed(diff, prefix, k);
                    column[points + k] = beyondLimits(m_sum[k + Grid::Pad]) != 0 ? LimitWeight * diff[k + Grid::Pad] : 0;
                }
            }
        }
    }

    const Grid& m_grid;
    std::vector<double> m_base;
    std::vector<double> m_target;
    double m_rate;
    double m_maxBoost, m_maxCut;
    Params m_lower, m_upper;
    std::vector<Params> m_params;
    std::vector<std::vector<double>> m_curves; // each filter's gain on the grid, dB
    std::vector<double> m_sum;                 // their sum
};

// Places a new filter at the largest deviation the limits let a filter
// reduce: its gain the deviation's opposite, its Q from the width at
// which the deviation falls to half. None when every such deviation is
// below DropBelowDb.
std::optional<Params> nextFilter(const Fitter& fitter, const Grid& grid, const EqFitSettings& settings)
{
    const std::vector<double> r = fitter.deviation();
    int best = -1;
    for (int k = 0; k < grid.points; ++k) {
        const bool cut = r[k] > 0 && settings.maxCutDb > 0 && fitter.eqAt(k) > -settings.maxCutDb + EqFitSettings::DropBelowDb;
        const bool boost = r[k] < 0 && settings.maxBoostDb > 0
            && fitter.eqAt(k) < settings.maxBoostDb - EqFitSettings::DropBelowDb;
        if ((cut || boost) && (best < 0 || std::abs(r[k]) > std::abs(r[best])))
            best = k;
    }
    if (best < 0 || std::abs(r[best]) < EqFitSettings::DropBelowDb)
        return std::nullopt;
    const double peak = r[best];
    int lo = best, hi = best;
    while (lo > 0 && r[lo - 1] * peak > peak * peak / 2)
        --lo;
    while (hi + 1 < grid.points && r[hi + 1] * peak > peak * peak / 2)
        ++hi;
    // The cookbook's bandwidth between the half-gain (dB) points, in octaves.
    const double octaves = std::max(hi - lo + 1, 2) / double(EqFitSettings::FitPointsPerOctave);
    const double q = 1 / (2 * std::sinh(std::numbers::ln2 / 2 * octaves));
    return Params{std::log(grid.hz[best + Grid::Pad]), -peak, std::log(q)};
}

Status checkSettings(const EqFitSettings& s)
{
    if (s.filters < 1 || s.filters > EqFitSettings::MaxFilters)
        return badInput("The number of filters must be 1 to " + std::to_string(EqFitSettings::MaxFilters));
    if (!std::isfinite(s.maxBoostDb) || s.maxBoostDb < 0 || s.maxBoostDb > EqFitSettings::MaxLimitDb)
        return badInput("The maximum boost must be 0 to " + number(EqFitSettings::MaxLimitDb) + " dB");
    if (!std::isfinite(s.maxCutDb) || s.maxCutDb < 0 || s.maxCutDb > EqFitSettings::MaxLimitDb)
        return badInput("The maximum cut must be 0 to " + number(EqFitSettings::MaxLimitDb) + " dB");
    if (s.maxBoostDb == 0 && s.maxCutDb == 0)
        return badInput("With both the maximum boost and the maximum cut at 0 dB no filter can be fitted");
    if (!std::isfinite(s.rate) || s.rate < 8000 || s.rate > 768000)
        return badInput("The sample rate must be 8000 to 768000 Hz");
    if (!std::isfinite(s.lowHz) || !std::isfinite(s.highHz) || s.lowHz < LowestHz || s.highHz > HighestHz
        || !(s.lowHz < s.highHz))
        return badInput("The fit range must lie within 20 Hz to 20 kHz, its low end below its high end");
    if (!(s.highHz < s.rate / 2))
        return badInput("The fit range must end below half the sample rate (" + number(s.rate / 2) + " Hz)");
    return {};
}

Status checkTarget(const EqTarget& t)
{
    if (t.levelDb && !std::isfinite(*t.levelDb))
        return badInput("The target's level must be a finite number of dB");
    switch (t.kind) {
    case EqTarget::Kind::Flat:
        return {};
    case EqTarget::Kind::File:
        if (t.curve.empty())
            return badInput("The house curve has no points");
        for (std::size_t i = 0; i < t.curve.size(); ++i) {
            const CurvePoint& p = t.curve[i];
            if (!std::isfinite(p.frequency) || !std::isfinite(p.level) || !(p.frequency > 0))
                return badInput("The house curve's point " + std::to_string(i + 1) + " is not a finite level at a frequency above 0 Hz");
            if (i > 0 && p.frequency < t.curve[i - 1].frequency)
                return badInput("The house curve's frequencies must ascend");
        }
        return {};
    case EqTarget::Kind::Shape:
        if (!std::isfinite(t.tiltDbPerOctave) || !std::isfinite(t.bassShelfDb) || !std::isfinite(t.bassShelfHz)
            || !(t.bassShelfHz > 0))
            return badInput("The target's tilt and bass shelf must be finite numbers, the shelf's corner above 0 Hz");
        return {};
    }
    return {};
}

// The response in ascending frequency, or why it cannot be fitted.
Result<std::vector<CurvePoint>> checkResponse(const std::vector<CurvePoint>& response, const EqFitSettings& s)
{
    if (response.empty())
        return badInput("The trace to fit has no points");
    for (std::size_t i = 0; i < response.size(); ++i) {
        const CurvePoint& p = response[i];
        if (!std::isfinite(p.frequency) || !std::isfinite(p.level))
            return badInput("The trace has a value that is not a number at its point " + std::to_string(i + 1)
                            + ": the fit needs finite levels and frequencies");
        if (!(p.frequency > 0))
            return badInput("The trace has a frequency of 0 Hz or below at its point " + std::to_string(i + 1));
    }
    std::vector<CurvePoint> sorted = response;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const CurvePoint& a, const CurvePoint& b) { return a.frequency < b.frequency; });
    const double first = sorted.front().frequency, last = sorted.back().frequency;
    if (s.lowHz < first * (1 - 1e-9) || s.highHz > last * (1 + 1e-9))
        return badInput("The fit range " + number(s.lowHz) + " to " + number(s.highHz)
                        + " Hz lies outside the trace, which covers " + number(first) + " to " + number(last) + " Hz");
    const double octaves = std::log2(s.highHz / s.lowHz);
    const auto needed = static_cast<std::size_t>(std::max(2.0, std::ceil(2 * octaves - 1e-9)));
    const auto inRange = static_cast<std::size_t>(std::count_if(sorted.begin(), sorted.end(), [&](const CurvePoint& p) {
        return p.frequency >= s.lowHz * (1 - 1e-9) && p.frequency <= s.highHz * (1 + 1e-9);
    }));
    if (inRange < needed)
        return badInput("The trace has " + std::to_string(inRange) + " points in the fit range; the fit needs at least "
                        + std::to_string(needed) + " (2 an octave)");
    return sorted;
}

// Root mean square and largest magnitude.
std::pair<double, double> spreadOf(const std::vector<double>& r)
{
    double sum = 0, top = 0;
    for (const double v : r) {
        sum += v * v;
        top = std::max(top, std::abs(v));
    }
    return {r.empty() ? 0 : std::sqrt(sum / double(r.size())), top};
}

} // namespace

double EqTarget::shapeAt(double hz) const
{
    switch (kind) {
    case Kind::Flat:
        return 0;
    case Kind::File:
        return interpolateLog(curve, hz);
    case Kind::Shape:
        return tiltDbPerOctave * std::log2(hz / 1000) + lowShelfDb(bassShelfDb, bassShelfHz, hz);
    }
    return 0;
}

Status loadHouseCurve(const std::string& path, EqTarget& target)
{
    FieldReader reader;
    if (Status opened = reader.open(path); !opened)
        return Error::of(Failure::File, "Cannot read the house curve '" + path + "': " + opened.message());
    std::vector<CurvePoint> points;
    for (;;) {
        FieldReader::Record record;
        const FieldReader::Status status = reader.nextRecord(record);
        if (status == FieldReader::Status::End)
            break;
        if (status == FieldReader::Status::Error)
            return badInput("The house curve '" + path + "' does not read as frequency and level: " + reader.error());
        if (record.frequency > 0)
            points.push_back({record.frequency, record.level});
    }
    if (points.empty())
        return badInput("The house curve '" + path + "' has no points");
    // Ascending; of points at one frequency the last in the file counts.
    std::stable_sort(points.begin(), points.end(),
                     [](const CurvePoint& a, const CurvePoint& b) { return a.frequency < b.frequency; });
    std::vector<CurvePoint> kept;
    for (const CurvePoint& p : points) {
        if (!kept.empty() && kept.back().frequency == p.frequency)
            kept.back() = p;
        else
            kept.push_back(p);
    }
    target.kind = EqTarget::Kind::File;
    target.curve = std::move(kept);
    return {};
}

Result<EqFit> fitEq(const std::vector<CurvePoint>& response, const EqTarget& target, const EqFitSettings& settings)
{
    if (Status s = checkSettings(settings); !s)
        return s.error();
    if (Status t = checkTarget(target); !t)
        return t.error();
    Result<std::vector<CurvePoint>> sorted = checkResponse(response, settings);
    if (!sorted)
        return sorted.error();

    const Grid grid(settings.lowHz, settings.highHz, settings.rate);
    const LogIntegral integral(*sorted);
    std::vector<double> base(static_cast<std::size_t>(grid.points)), shape(base.size());
    double meanOffset = 0;
    for (int k = 0; k < grid.points; ++k) {
        base[k] = grid.smoothedResponse(integral, k);
        shape[k] = target.shapeAt(grid.hz[k + Grid::Pad]);
        meanOffset += base[k] - shape[k];
    }
    EqFit fit;
    fit.targetLevelDb = target.levelDb ? *target.levelDb : meanOffset / grid.points;
    for (double& t : shape)
        t += fit.targetLevelDb;

    Fitter fitter(grid, std::move(base), std::move(shape), settings);
    std::tie(fit.rmsBeforeDb, fit.maxBeforeDb) = spreadOf(fitter.deviation());

    // Greedy: each filter where the deviation is largest, refined alone,
    // then all refined together.
    while (fitter.count() < settings.filters) {
        const std::optional<Params> next = nextFilter(fitter, grid, settings);
        if (!next)
            break;
        fitter.add(*next);
        const int added = fitter.count() - 1;
        fitter.refine(added, NewFilterIterations);
        fitter.refine(0, PlacingIterations);
        if (std::abs(fitter.params(added)[1]) < EqFitSettings::DropBelowDb) {
            fitter.remove(added);
            break;
        }
    }
    // Joint refinement; filters too small to matter dropped and the rest
    // refined again, until none is dropped.
    for (int round = 0; round <= EqFitSettings::MaxFilters; ++round) {
        fitter.refine(0, FinalIterations);
        bool dropped = false;
        for (int i = fitter.count() - 1; i >= 0; --i) {
            if (std::abs(fitter.params(i)[1]) < EqFitSettings::DropBelowDb) {
                fitter.remove(i);
                dropped = true;
            }
        }
        if (!dropped)
            break;
    }

    for (int i = 0; i < fitter.count(); ++i)
        fit.filters.push_back(filterOf(fitter.params(i)));
    std::stable_sort(fit.filters.begin(), fit.filters.end(),
                     [](const EqFilter& a, const EqFilter& b) { return a.hz < b.hz; });
    std::tie(fit.rmsDb, fit.maxDb) = spreadOf(fitter.deviation());
    return fit;
}

double targetLevelAt(const EqTarget& target, double placedLevelDb, double hz)
{
    return placedLevelDb + target.shapeAt(hz);
}

std::vector<CurvePoint> predictedResponse(const std::vector<CurvePoint>& response, const std::vector<EqFilter>& filters,
                                          double rate)
{
    std::vector<CurvePoint> out = response;
    for (CurvePoint& p : out)
        p.level += eqGainDb(filters, p.frequency, rate);
    return out;
}

} // namespace audimera
