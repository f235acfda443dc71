#include "signal/PhaseAnalysis.h"

namespace audimera {

// Placeholder until the analysis lands.
Result<PhaseResult> analysePhase(const ImpulseView&, const PhaseSettings&, const AnalysisProgress&)
{
    return Error::of(Failure::BadInput, "not built yet");
}

} // namespace audimera
