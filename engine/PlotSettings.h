// How the response plot draws the document's traces, as chosen in the main
// window's lists (ComboDBRange, ComboSmooth). Applied only when drawing: the
// stored points never change with them.
#pragma once

namespace audimera {

struct PlotSettings {
    int dbSpan = 48; // S: the plot's total height in dB (12, 24, 48 or 96)
    int smooth = 2;  // Smooth: B-spline order, 1 draws straight lines
};

} // namespace audimera
