// The Log Sweep window's time-frequency views, drawn on a DrawingSurface in
// the look of the other log-sweep views (LogSweepPlots: grid colours,
// stroke-font labels, the response plot's logarithmic frequency axis and
// PlotPalette's colours), so a window paints them, a test reads their
// pixels and the command saves them as PNG or SVG:
//
// - Waterfall: the slices of a WaterfallResult as a 3-D waterfall, the
//   first slice in front, later ones set back up and to the right; each
//   slice hides what lies behind it (drawn back to front, the area under
//   each curve filled with the background). Frequency on a log axis, level
//   on the left axis (the result's range), time along the depth axis.
// - Spectrogram: a SpectrogramResult as an image (time across, log
//   frequency up), levels through a colour scale from -rangeDb to 0 dB,
//   drawn with its labels beside the image.
// - Phase: measured, minimum or excess phase in degrees (+180 to -180) over
//   the log frequency axis, masked points not drawn, not joined across a
//   wrap.
// - Group delay: group delay or excess group delay in ms over the same
//   axis, with or without the measurement's delay; the ms axis fitted to
//   the values drawn.
//
// Surfaces are in twips (LogSweepPlots::UnitsPerPixel), sharp at any device
// pixel ratio (lines one device pixel wide, labels at their physical size).
//
// Read-outs: the value under user (x, y) of a drawn view, for the window's
// cursor label; none where the mouse is off the data.
//
// UI thread only (or any single thread).
#pragma once

#include "display/models/DrawingSurface.h"
#include "signal/PhaseAnalysis.h"
#include "signal/Spectrogram.h"
#include "signal/Waterfall.h"

#include "common/Result.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace audimera {

namespace TimeFrequencyPlots {

enum class PhaseCurve { Measured, Minimum, Excess };
enum class DelayCurve { GroupDelay, ExcessGroupDelay };

// The curves' colours: phase by PhaseCurve, delay by DelayCurve; the
// waterfall's first slice in FrontSliceColor, the others shaded from
// NearSliceColor (the second) to FarSliceColor (the last).
constexpr RgbColor PhaseColors[3] = {rgbColor(0, 0, 255), rgbColor(0, 128, 128), rgbColor(200, 0, 200)};
constexpr RgbColor DelayColors[2] = {rgbColor(0, 0, 255), rgbColor(200, 0, 200)};
constexpr RgbColor FrontSliceColor = rgbColor(0, 0, 0);
constexpr RgbColor NearSliceColor = rgbColor(0, 0, 160);
constexpr RgbColor FarSliceColor = rgbColor(0, 170, 255);
RgbColor sliceColor(std::size_t slice, std::size_t slices);

// The spectrogram's colour scale: db from -rangeDb (dark violet) through
// purple, red and orange to 0 dB (pale yellow); clamped to that range.
RgbColor spectrogramColor(double db, double rangeDb);

// The group delay view's ms axis (top to bottom, lines every stepMs),
// fitted to the values drawn: a 1-2-5 step giving at most six steps over
// their span, the ends a step beyond the extreme values. The span is at
// least 1 % of the largest value (or 0.01 ms), centred on the values, so a
// flat delay is drawn flat in the middle.
struct DelayAxis {
    double topMs = 1;
    double bottomMs = 0;
    double stepMs = 0.125;
};
DelayAxis delayAxis(const PhaseResult* result, DelayCurve curve, bool delayRemoved);

// result nullptr draws the empty axes.
void drawWaterfall(DrawingSurface& surface, const WaterfallResult* result);
void drawSpectrogram(DrawingSurface& surface, const SpectrogramResult* result);
void drawPhase(DrawingSurface& surface, const PhaseResult* result, PhaseCurve curve);
void drawGroupDelay(DrawingSurface& surface, const PhaseResult* result, DelayCurve curve, bool delayRemoved);

// Read-outs invert the drawing: the waterfall reads the slice seen at
// (x, y), the frontmost whose area under its curve holds the point (its
// start time, the frequency at x and its level there, interpolated as the
// curve is drawn); the spectrogram the cell under the point; phase and
// group delay the curve's value at the frequency under x (anywhere inside
// the plot's height). delayRemoved subtracts PhaseResult::delayMs from
// either delay curve.
struct Reading {
    double hz = 0;
    double ms = 0;  // waterfall, spectrogram: time from the peak; group delay: the delay
    double db = 0;  // waterfall, spectrogram: level
    double degrees = 0; // phase
};
std::optional<Reading> waterfallAt(const WaterfallResult& result, double userX, double userY);
std::optional<Reading> spectrogramAt(const SpectrogramResult& result, double userX, double userY);
std::optional<Reading> phaseAt(const PhaseResult& result, PhaseCurve curve, double userX, double userY);
std::optional<Reading> groupDelayAt(const PhaseResult& result, DelayCurve curve, bool delayRemoved, double userX,
                                    double userY);

// A view drawn by draw on a surface of widthPx x heightPx logical pixels
// (twips surface, device pixel ratio 1; SVG: the lines as strokes with
// their exact coordinates, filled areas and images as they are drawn), as
// the bytes of a PNG or SVG file. The failure (kind File) says why it
// cannot be made.
enum class PictureFormat { Png, Svg };
Result<std::string> pictureBytes(const std::function<void(DrawingSurface&)>& draw, int widthPx, int heightPx,
                                 PictureFormat format);

} // namespace TimeFrequencyPlots

} // namespace audimera
