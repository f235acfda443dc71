#include "signal/OctaveBands.h"

#include <cmath>
#include <cstdio>

namespace audimera {

namespace {

const double G = std::pow(10.0, 0.3); // the octave ratio, base 10

// The preferred numbers of a decade in hundredths, thirds x = 0..9 of it.
constexpr int DecadeHundredths[] = {100, 125, 160, 200, 250, 315, 400, 500, 630, 800};

// A frequency rounded to three significant figures.
double threeFigures(double hz)
{
    if (!(hz > 0))
        return hz;
    const double scale = std::pow(10.0, std::floor(std::log10(hz)) - 2);
    return std::round(hz / scale) * scale;
}

} // namespace

bool OctaveBands::validFraction(int fraction)
{
    return fraction == 1 || fraction == 3 || fraction == 6 || fraction == 12 || fraction == 24 || fraction == 48;
}

double OctaveBands::nominalThirdHz(int x)
{
    const int inDecade = ((x % 10) + 10) % 10;
    const int decade = (x - inDecade) / 10; // 0: 1000..8000 Hz
    // hundredths * 10^(decade + 1): one correctly rounded operation.
    const int exponent = decade + 1;
    double power = 1;
    for (int i = 0; i < std::abs(exponent); ++i)
        power *= 10;
    return exponent >= 0 ? DecadeHundredths[inDecade] * power : DecadeHundredths[inDecade] / power;
}

std::string OctaveBands::nominalLabel(double nominalHz)
{
    char text[16];
    if (nominalHz < 1000)
        std::snprintf(text, sizeof text, "%g", nominalHz);
    else
        std::snprintf(text, sizeof text, "%gk", nominalHz / 1000);
    return text;
}

std::vector<OctaveBand> OctaveBands::plan(int fraction, double lowHz, double highHz, double nyquistHz)
{
    std::vector<OctaveBand> bands;
    if (!validFraction(fraction) || !(lowHz > 0) || !(highHz >= lowHz) || !std::isfinite(highHz))
        return bands;
    // Exponents of G in units of 1 / (2b): the mid-band at 2x (odd b) or
    // 2x + 1 (even b), the edges one unit either side. Both neighbours
    // compute a shared edge from the same exponent, so their edges meet
    // exactly.
    const int b = fraction;
    const int twoB = 2 * b;
    const int offset = b % 2 == 0 ? 1 : 0;
    const auto at = [&](int units) { return 1000 * std::pow(G, static_cast<double>(units) / twoB); };
    const bool nominal = b == 1 || b == 3;
    // Every x whose nominal or three-figure label could lie within the
    // range: a margin of one band either side of the exact frequencies.
    const int first = static_cast<int>(std::floor(std::log(lowHz / 1000) / std::log(G) * b)) - 1;
    const int last = static_cast<int>(std::ceil(std::log(highHz / 1000) / std::log(G) * b)) + 1;
    for (int x = first; x <= last; ++x) {
        const int units = 2 * x + offset;
        OctaveBand band;
        band.centreHz = at(units);
        band.lowerHz = at(units - 1);
        band.upperHz = at(units + 1);
        const double stated = nominal ? nominalThirdHz(x * (3 / b)) : threeFigures(band.centreHz);
        if (stated < lowHz || stated > highHz || !(band.upperHz < nyquistHz))
            continue;
        band.label = nominalLabel(stated);
        bands.push_back(std::move(band));
    }
    return bands;
}

} // namespace audimera
