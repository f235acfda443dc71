#include "signal/Spectrogram.h"

namespace audimera {

// Placeholder until the analysis lands.
Result<SpectrogramResult> spectrogram(const ImpulseView&, const SpectrogramSettings&, const AnalysisProgress&)
{
    return Error::of(Failure::BadInput, "not built yet");
}

} // namespace audimera
