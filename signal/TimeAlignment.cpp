#include "signal/TimeAlignment.h"

#include <cmath>

namespace audimera {

double TimeAlignment::metres(double ms, double temperatureC)
{
    return ms / 1000.0 * 331.3 * std::sqrt(1.0 + temperatureC / 273.15);
}

Result<Alignment> TimeAlignment::delay(const std::vector<float>&, const std::vector<float>&, int, const AlignmentBand&)
{
    return Error::of(Failure::Other, "not built yet"); // placeholder
}

} // namespace audimera
