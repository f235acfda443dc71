// How the response plot draws the document's traces, as chosen in the main
// window's lists (ComboDBRange, ComboSmooth). Applied only when drawing: the
// stored points never change with them.
#pragma once

#include "common/AudioFormat.h"

#include <array>
#include <string_view>

namespace audimera {

// An item of a list: its text and its item data.
struct ListItem {
    std::string_view text;
    int data;
};

struct PlotSettings {
    // The lists' items. ComboDBRange: the plot's total height in dB.
    // ComboSmooth: the B-spline order (1 draws straight lines).
    static constexpr std::array<ListItem, 4> DBRangeItems = {{
        {"+/- 6 dB", 12}, {"+/- 12 dB", 24}, {"+/- 24 dB", 48}, {"+/- 48 dB", 96}}};
    static constexpr std::array<ListItem, 4> SmoothItems = {{
        {"0 (none)", 1}, {"1 (sharp)", 2}, {"2 (light)", 3}, {"3 (strong)", 4}}};

    int dbSpan = 48; // S: the plot's total height in dB (12, 24, 48 or 96)
    int smooth = 2;  // Smooth: B-spline order, 1 draws straight lines
    // dB at the plot's middle: 0 as the lists give it (S dB centred on
    // 0 dB); Fit Range to Traces moves it, in steps of 6 dB, to show traces
    // that lie outside every centred range.
    int dbCentre = 0;
    // Per trace (index as the trace store's), set from the Traces panel: dB
    // added to its levels, and whether it is drawn at all.
    std::array<double, MaxTraces> traceOffsetDb{};
    std::array<bool, MaxTraces> traceShown{true, true, true, true, true, true, true, true};
};

} // namespace audimera
