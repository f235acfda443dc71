#include "engine/LiveAnalysis.h"

#include <cstdio>

namespace audimera {

std::string SplCalibration::describe() const
{
    char text[64];
    if (source == Source::Calibrator)
        std::snprintf(text, sizeof text, "%.1f dB calibrator", referenceDb);
    else
        std::snprintf(text, sizeof text, "%.1f dBFS/Pa (sensitivity)", dbfsPerPascal);
    return std::string(text) + " on " + (description.empty() ? device : description) + ", " + madeAt;
}

} // namespace audimera
