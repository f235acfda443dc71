// The drawing routines every plot shares: Log10 and DrawLabel, which writes
// short axis labels (20, 1k, -3, 0.5, dB, Hz) with a built-in stroke font so
// that no system font ever appears in a plot.
#pragma once

#include "display/models/DrawingSurface.h"
#include "common/Log10.h"

#include <string_view>

namespace audimera {

using audimera::Log10;

// Writes text centred on x with the top of its character cells at y (user
// units). size is the length of one font unit in the surface's container
// units (15 on the twip-based response plot, 1 on a pixel surface). Each
// character takes a cell 7 font units wide; "." takes none and is drawn as
// a dot after the previous glyph, though it counts as a cell for centring.
// Characters outside 0-9 . - + d B H z k draw nothing but take a cell.
void DrawLabel(DrawingSurface& surface, std::string_view text, float x, float y, double size,
               RgbColor color);

// The device-pixel box the ink of DrawLabel(surface, text, x, y, size)
// covers (each stroke's end pixels included); empty for a label that draws
// nothing.
QRectF LabelBox(const DrawingSurface& surface, std::string_view text, float x, float y, double size);

} // namespace audimera
