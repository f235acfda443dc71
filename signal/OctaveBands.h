// Fractional-octave bands after IEC 61260-1, base 10, for the live
// analyser: G = 10^(3/10), reference 1000 Hz; the mid-band frequencies are
// fm = 1000 G^(x/b) for odd b and fm = 1000 G^((2x+1)/(2b)) for even b, the
// band edges fm G^(-+1/(2b)). Octaves and thirds carry their nominal
// labels ("31.5", "1k", "1.25k"); finer bands a label of three significant
// figures.
//
// Pure; any thread.
#pragma once

#include <string>
#include <vector>

namespace audimera {

struct OctaveBand {
    double centreHz = 0; // exact mid-band frequency
    double lowerHz = 0;
    double upperHz = 0;
    std::string label;
};

class OctaveBands {
public:
    // The fractions the analyser offers: 1/1, 1/3, 1/6, 1/12, 1/24, 1/48.
    static bool validFraction(int fraction);

    // Every 1/fraction-octave band whose mid-band frequency lies within
    // lowHz..highHz and whose upper edge lies below nyquistHz, ascending.
    // The mid-band frequency compared is the one the label states (the
    // nominal one for octaves and thirds, so 20..20000 holds the 20 Hz and
    // 20 kHz thirds). Empty for a fraction not offered.
    static std::vector<OctaveBand> plan(int fraction, double lowHz, double highHz, double nyquistHz);

    // The nominal mid-band frequency in Hz of the third-octave band x
    // (x = 0: 1000 Hz; octaves are the thirds of x divisible by 3): the
    // preferred numbers 10, 12.5, 16, 20, 25, 31.5, 40, 50, 63, 80 of every
    // decade, as the nearest double to the decimal value.
    static double nominalThirdHz(int x);

    // A nominal frequency's label: "31.5", "1k", "1.25k", "12.5k".
    static std::string nominalLabel(double nominalHz);
};

} // namespace audimera
