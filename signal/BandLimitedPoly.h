// The simulated chain's poly item without aliasing: y = x + A2 x^2 + A3 x^3
// (x and y on full scale, 1.0 = 32768), with the products of x^2 and x^3
// that lie above half the sample rate removed instead of folded back, as a
// continuous-time non-linearity followed by an ideal converter would give.
//
// The square and the cube are formed at twice the rate: x is interpolated
// there, the polynomial's non-linear part taken, and the result low-pass
// filtered and decimated. At twice the rate x^2 fits below the new half rate
// and x^3's part above it folds only to above the old half rate, where the
// decimating filter removes it. Both filters are one linear-phase
// Kaiser-windowed sinc: flat within 0.0001 dB up to 0.4535 of the rate
// (20 kHz at 44.1 kHz), 100 dB down from half the rate. The linear part x
// passes unfiltered and exact, delayed by Latency samples to line up with the
// distortion, so the item as a whole is the polynomial delayed by Latency
// samples: a steady sine comes out with the harmonics polyHarmonic() gives
// (those below half the rate), Latency samples late.
//
// Cost: about 560 multiply-adds per sample. Threads: one thread at a time
// per object; process() allocates only when its buffers first grow.
#pragma once

#include <vector>

namespace audimera {

class BandLimitedPoly {
public:
    // Half the filters' length at twice the rate; the delay in samples.
    static constexpr int Latency = 138;

    BandLimitedPoly(double a2 = 0, double a3 = 0);

    // Back to silence before the next sample.
    void reset();

    // Runs samples (16-bit scale) through, in place.
    void process(std::vector<double>& samples);

private:
    double m_a2, m_a3;
    // The last Latency + 1 inputs and the last 2 Latency + 1 non-linear
    // values at twice the rate, each stored twice (rings read in one piece).
    std::vector<double> m_x, m_w;
    int m_xAt = 0, m_wAt = 0;
};

} // namespace audimera
