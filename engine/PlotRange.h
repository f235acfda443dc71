// Where the traces lie against the response plot's level range, and the
// range that shows them all, each trace as drawn: with its offset, and not
// at all when hidden (PlotSettings::traceOffsetDb, traceShown). Pure functions on the document's store and
// plot settings; levels in dB (the store keeps hundredths). Any thread.
#pragma once

#include "engine/PlotSettings.h"
#include "engine/TraceStore.h"

#include <string>

namespace audimera::PlotRange {

// dB at the plot's top and bottom edges.
double topDb(const PlotSettings& settings);
double bottomDb(const PlotSettings& settings);

// How far trace t lies wholly outside the shown range: the gap in dB from
// the edge to its nearest point, positive above the top edge, negative
// below the bottom edge. 0 when any finite point of it is on the plot, or
// it has none.
double outsideBy(const TraceStore& store, int trace, const PlotSettings& settings);

// The status line's note on such a trace ("Trace 'x' lies 22 dB above the
// plot"); "" when by is 0. Whole dB, "less than 1 dB" below one.
std::string outsideNote(const std::string& name, double by);

// Settings that show every finite level of every trace: the smallest span
// of the dB-range list that holds them centred on 0 dB, as the list draws
// it; else the smallest that holds them centred on the multiple of 6 dB
// nearest their mid-range; else 96 dB there. The smoothing stays; without
// finite levels nothing changes.
PlotSettings fitted(const TraceStore& store, PlotSettings settings);

} // namespace audimera::PlotRange
