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
    // Empty for a fraction not offered.
    static std::vector<OctaveBand> plan(int fraction, double lowHz, double highHz, double nyquistHz);
};

} // namespace audimera
