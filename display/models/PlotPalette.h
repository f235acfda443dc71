// The colours of the response plot, which the log sweep's views share so
// that both look alike.
#pragma once

#include "engine/RgbColor.h"

namespace audimera::PlotPalette {

constexpr RgbColor Yellow = rgbColor(255, 255, 0);
constexpr RgbColor DarkGreen = rgbColor(0, 128, 0);
constexpr RgbColor Green = rgbColor(0, 255, 0);
constexpr RgbColor Red = rgbColor(255, 0, 0);
constexpr RgbColor Black = rgbColor(0, 0, 0);

} // namespace audimera::PlotPalette
