#include "display/models/TimeFrequencyPlots.h"

namespace audimera::TimeFrequencyPlots {

// Placeholders until the plots land.
void drawWaterfall(DrawingSurface&, const WaterfallResult*) {}
void drawSpectrogram(DrawingSurface&, const SpectrogramResult*) {}
void drawPhase(DrawingSurface&, const PhaseResult*, PhaseCurve) {}
void drawGroupDelay(DrawingSurface&, const PhaseResult*, DelayCurve, bool) {}
std::optional<Reading> waterfallAt(const WaterfallResult&, double, double) { return {}; }
std::optional<Reading> spectrogramAt(const SpectrogramResult&, double, double) { return {}; }
std::optional<Reading> phaseAt(const PhaseResult&, PhaseCurve, double, double) { return {}; }
std::optional<Reading> groupDelayAt(const PhaseResult&, DelayCurve, bool, double, double) { return {}; }

Result<std::string> pictureBytes(const std::function<void(DrawingSurface&)>&, int, int, PictureFormat)
{
    return Error::of(Failure::File, "not built yet");
}

} // namespace audimera::TimeFrequencyPlots
