#include "signal/EqFilter.h"

#include <algorithm>
#include <cmath>

namespace audimera {

namespace {

constexpr double Pi = 3.14159265358979323846;

} // namespace

std::complex<double> Biquad::response(double hz, double rate) const
{
    const std::complex<double> z1 = std::polar(1.0, -2 * Pi * hz / rate); // z^-1
    const std::complex<double> z2 = z1 * z1;
    return (b0 + b1 * z1 + b2 * z2) / (1.0 + a1 * z1 + a2 * z2);
}

Biquad biquadOf(const EqFilter& f, double rate)
{
    if (!f.enabled || !(rate > 0) || !(f.hz > 0) || !(f.hz < rate / 2) || !(f.q > 0) || !std::isfinite(f.gainDb))
        return {};
    const double a = std::pow(10.0, f.gainDb / 40);
    const double w0 = 2 * Pi * f.hz / rate;
    const double cosW = std::cos(w0), sinW = std::sin(w0);
    double alpha = sinW / (2 * f.q);
    if (f.type != EqFilter::Type::Peaking && f.shelfSlope)
        alpha = sinW / 2 * std::sqrt(std::max(0.0, (a + 1 / a) * (1 / f.q - 1) + 2));
    double b0, b1, b2, a0, a1, a2;
    switch (f.type) {
    case EqFilter::Type::Peaking:
        b0 = 1 + alpha * a;
        b1 = -2 * cosW;
        b2 = 1 - alpha * a;
        a0 = 1 + alpha / a;
        a1 = -2 * cosW;
        a2 = 1 - alpha / a;
        break;
    case EqFilter::Type::LowShelf: {
        const double s = 2 * std::sqrt(a) * alpha;
        b0 = a * ((a + 1) - (a - 1) * cosW + s);
        b1 = 2 * a * ((a - 1) - (a + 1) * cosW);
        b2 = a * ((a + 1) - (a - 1) * cosW - s);
        a0 = (a + 1) + (a - 1) * cosW + s;
        a1 = -2 * ((a - 1) + (a + 1) * cosW);
        a2 = (a + 1) + (a - 1) * cosW - s;
        break;
    }
    case EqFilter::Type::HighShelf:
    default: {
        const double s = 2 * std::sqrt(a) * alpha;
        b0 = a * ((a + 1) + (a - 1) * cosW + s);
        b1 = -2 * a * ((a - 1) + (a + 1) * cosW);
        b2 = a * ((a + 1) + (a - 1) * cosW - s);
        a0 = (a + 1) - (a - 1) * cosW + s;
        a1 = 2 * ((a - 1) - (a + 1) * cosW);
        a2 = (a + 1) - (a - 1) * cosW - s;
        break;
    }
    }
    return {b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0};
}

std::complex<double> eqResponse(const std::vector<EqFilter>& filters, double hz, double rate)
{
    std::complex<double> h = 1.0;
    for (const EqFilter& f : filters)
        if (f.enabled)
            h *= biquadOf(f, rate).response(hz, rate);
    return h;
}

double eqGainDb(const std::vector<EqFilter>& filters, double hz, double rate)
{
    return 20 * std::log10(std::max(std::abs(eqResponse(filters, hz, rate)), 1e-30));
}

double eqPreampDb(const std::vector<EqFilter>& filters, double rate)
{
    const double top = std::min(20000.0, 0.499 * rate);
    double highest = 0;
    for (double hz = 20; hz <= top; hz *= std::exp2(1.0 / 96))
        highest = std::max(highest, eqGainDb(filters, hz, rate));
    // A narrow peak may fall between the grid's points.
    for (const EqFilter& f : filters)
        if (f.enabled && f.hz >= 20 && f.hz <= top)
            for (double step : {0.995, 1.0, 1.005})
                highest = std::max(highest, eqGainDb(filters, f.hz * step, rate));
    return -highest;
}

} // namespace audimera
