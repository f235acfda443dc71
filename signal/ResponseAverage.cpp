#include "signal/ResponseAverage.h"

namespace audimera {

// Placeholders until the averages are built.
std::string averageModeName(AverageMode mode)
{
    return mode == AverageMode::Rms ? "rms" : mode == AverageMode::Db ? "db" : "vector";
}

Result<AverageMode> parseAverageMode(const std::string& text)
{
    if (text == "rms")
        return AverageMode::Rms;
    if (text == "db")
        return AverageMode::Db;
    if (text == "vector")
        return AverageMode::Vector;
    return Error::of(Failure::BadInput, "Unknown average mode '" + text + "': rms, db or vector");
}

Result<GridResponse> ResponseAverage::ofGrids(const std::vector<GridResponse>&, AverageMode)
{
    return Error::of(Failure::Other, "not built yet");
}

Result<std::vector<float>> ResponseAverage::ofImpulses(const std::vector<std::vector<float>>&, int, AverageMode,
                                                       const std::vector<double>&)
{
    return Error::of(Failure::Other, "not built yet");
}

} // namespace audimera
