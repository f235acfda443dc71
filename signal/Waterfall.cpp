#include "signal/Waterfall.h"

namespace audimera {

// Placeholder until the analysis lands.
Result<WaterfallResult> waterfall(const ImpulseView&, const WaterfallSettings&, const AnalysisProgress&)
{
    return Error::of(Failure::BadInput, "not built yet");
}

} // namespace audimera
