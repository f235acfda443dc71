// How the response plot draws the document's traces, as chosen in the main
// window's lists (ComboDBRange, ComboSmooth). Applied only when drawing: the
// stored points never change with them.
#pragma once

namespace audimera {

struct PlotSettings {
    int dbSpan = 48; // S: the plot's total height in dB (12, 24, 48 or 96)
    int smooth = 2;  // Smooth: B-spline order, 1 draws straight lines
    // dB at the plot's middle: 0 as the lists give it (S dB centred on
    // 0 dB); Fit Range to Traces moves it, in steps of 6 dB, to show traces
    // that lie outside every centred range.
    int dbCentre = 0;
};

} // namespace audimera
