#include "engine/EqExport.h"

namespace audimera::EqExport {

// Placeholders until the writers land.
Result<std::string> apoText(const std::vector<EqFilter>&, double) { return Error::of(Failure::BadInput, "not built yet"); }
Result<std::string> camillaYaml(const std::vector<EqFilter>&, double) { return Error::of(Failure::BadInput, "not built yet"); }
Result<std::string> pipewireConf(const std::vector<EqFilter>&, double) { return Error::of(Failure::BadInput, "not built yet"); }
Result<std::vector<float>> firTaps(const std::vector<EqFilter>&, double, std::size_t)
{
    return Error::of(Failure::BadInput, "not built yet");
}

} // namespace audimera::EqExport
