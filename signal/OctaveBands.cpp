#include "signal/OctaveBands.h"

namespace audimera {

bool OctaveBands::validFraction(int fraction)
{
    return fraction == 1 || fraction == 3 || fraction == 6 || fraction == 12 || fraction == 24 || fraction == 48;
}

std::vector<OctaveBand> OctaveBands::plan(int, double, double, double)
{
    return {}; // placeholder
}

} // namespace audimera
