#include "signal/PeriodicNoise.h"

namespace audimera {

Result<std::vector<float>> PeriodicNoise::make(const PeriodicNoiseSettings&)
{
    return Error::of(Failure::Other, "not built yet"); // placeholder
}

} // namespace audimera
