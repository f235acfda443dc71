// The equaliser's filters: peaking, low-shelf and high-shelf biquads after
// the W3C Audio EQ Cookbook (R. Bristow-Johnson), at a given sample rate,
// and the summed response of a list of them.
//
// A shelf's width is its Q, or its slope S (1 the steepest without a bump)
// when shelfSlope is set; the cookbook's alpha for it is
// sin(w0)/2 sqrt((A + 1/A)(1/S - 1) + 2). gainDb is the peak's or the
// shelf's gain; frequency is the peak's centre or the shelf's midpoint
// (half the gain in dB).
//
// Pure. Any thread.
#pragma once

#include <complex>
#include <vector>

namespace audimera {

struct EqFilter {
    enum class Type { Peaking, LowShelf, HighShelf };
    Type type = Type::Peaking;
    double hz = 1000;
    double gainDb = 0;
    double q = 1;            // Q; for a shelf with shelfSlope, its slope S
    bool shelfSlope = false; // shelves only
    bool enabled = true;

    bool operator==(const EqFilter&) const = default;
};

// Normalised biquad coefficients (a0 = 1):
// y[n] = b0 x[n] + b1 x[n-1] + b2 x[n-2] - a1 y[n-1] - a2 y[n-2].
struct Biquad {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;

    // The transfer function on the unit circle at hz.
    std::complex<double> response(double hz, double rate) const;
};

// The cookbook's coefficients of filter at rate. A filter that is off, or
// whose frequency does not lie strictly between 0 and half the rate, or
// whose Q (slope) is not positive, passes its input unchanged (b0 = 1).
Biquad biquadOf(const EqFilter& filter, double rate);

// The enabled filters' summed gain at hz, dB.
double eqGainDb(const std::vector<EqFilter>& filters, double hz, double rate);
// ... and their summed phase response, as a complex gain.
std::complex<double> eqResponse(const std::vector<EqFilter>& filters, double hz, double rate);

// The preamp that keeps the summed EQ from clipping: minus its highest
// gain from 20 Hz to 20 kHz (or half the rate), read on a 1/96-octave grid
// and about each filter's own frequency; 0 when it never boosts.
double eqPreampDb(const std::vector<EqFilter>& filters, double rate);

} // namespace audimera
