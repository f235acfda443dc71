// The log-sweep window's three views, drawn on a DrawingSurface in the look
// of the response plot (grid colours, stroke-font labels, aliased one-pixel
// lines), so a window paints them and a test reads their pixels:
//
// - Response: magnitude over the response plot's logarithmic frequency axis
//   (7.5 Hz to 22049 Hz, the same grid), the level axis on the left (a span
//   of 12, 24, 48 or 96 dB centred on a multiple of 6 dB, chosen to hold
//   every level), and the phase on a secondary axis on the right (+180 at
//   the top, -180 at the bottom), not joined across a wrap. An overlay
//   draws several magnitudes on the same axes, without phase.
// - Impulse: the linear impulse response, normalised to its peak, above its
//   energy-time curve (0 to -100 dB re the peak), over time in ms from the
//   peak; the gate as a vertical line.
// - Decay: a band's decay curve (Schroeder, 10 log10 E(t)/E(0)) over time
//   in ms from the response's start, 0 to -80 dB, with the lines fitted for
//   EDT, T20 and T30 over their ranges and the truncation point.
// - Distortion: H2..H5 in dB re the fundamental (0 at the top, -100 at the
//   bottom) over the same frequency axis, and THD on the right-hand axis in
//   percent (100 % at 0 dB, 0.001 % at -100 dB).
//
// Surfaces are in twips (ResponsePlot::TwipsPerPixel to a pixel), like the
// response plot, so labels have its size. Each draw sets the surface's user
// scale; its outer size and background are the caller's.
//
// UI thread only (or any single thread).
#pragma once

#include "curves/ExchangeFiles.h"
#include "display/models/DrawingSurface.h"
#include "signal/RoomAcoustics.h"
#include "engine/RgbColor.h"

#include <cstddef>
#include <vector>

namespace audimera {

namespace LogSweepPlots {

constexpr double UnitsPerPixel = 15.0; // twips, as the response plot

constexpr RgbColor MagnitudeColor = rgbColor(0, 0, 0);
constexpr RgbColor PhaseColor = rgbColor(0, 0, 255);
constexpr RgbColor ImpulseColor = rgbColor(0, 0, 0);
constexpr RgbColor EnergyColor = rgbColor(0, 0, 255);
constexpr RgbColor GateColor = rgbColor(200, 0, 200);
constexpr RgbColor HarmonicColors[4] = {rgbColor(0, 0, 255), rgbColor(255, 0, 0), rgbColor(0, 128, 128),
                                        rgbColor(200, 0, 200)};
constexpr RgbColor ThdColor = rgbColor(0, 0, 0);
constexpr RgbColor DecayColor = rgbColor(0, 0, 0);
constexpr RgbColor FitColors[3] = {rgbColor(0, 128, 0), rgbColor(0, 0, 255), rgbColor(255, 0, 0)}; // EDT, T20, T30

// The level axis of the response view.
struct LevelAxis {
    int span = 48;     // dB, the plot's height
    double top = 24;   // dB at the top edge
};
// The smallest span of 12, 24, 48, 96 dB, centred on a multiple of 6 dB
// nearest the mid-range of the levels, that holds every level (96 dB when
// none does); 48 dB around 0 without points.
LevelAxis levelAxis(const std::vector<ResponsePoint>& response);

void drawResponse(DrawingSurface& surface, const std::vector<ResponsePoint>& response);

// Several magnitudes over the response view's axes, each in its colour and
// drawn in order (the last on top), without phase: the level axis is
// levelAxis() of all their points together.
struct OverlayCurve {
    RgbColor color = MagnitudeColor;
    std::vector<ResponsePoint> response;
};
void drawOverlay(DrawingSurface& surface, const std::vector<OverlayCurve>& curves);

// The lowest frequency an impulse response gated to gateSeconds after its
// peak resolves: about 1 / gate, in Hz (0 without a gate).
double gateLimitHz(double gateSeconds);
// Over a drawn response view: the gate's lowest frequency hz as a vertical
// line in GateColor from the top, labelled with its value in Hz; nothing
// for hz <= 0 or left of the axis. Below it the curve shows the gate's
// window, not the device.
void drawGateLimit(DrawingSurface& surface, double hz);

// The time axis of the impulse view, ms from the peak. With a gate: to a
// quarter beyond it. Without (gateMs 0, "Auto"): to twice the time at which
// the response last reaches -60 dB re its peak, at least 10 ms, at most its
// end. It begins at the impulse's first sample or a quarter of its end
// before the peak, whichever is later.
struct TimeAxis {
    double firstMs = 0;
    double lastMs = 1;
};
TimeAxis timeAxis(const std::vector<float>& impulse, std::size_t peak, int rate, double gateMs);

// gateMs: the gate set, 0 for Auto, whose end (the impulse's end) is drawn
// where it lies on the axis.
void drawImpulse(DrawingSurface& surface, const std::vector<float>& impulse, std::size_t peak, int rate,
                 double gateMs);

void drawDistortion(DrawingSurface& surface, const std::vector<DistortionPoint>& distortion);

// The decay view's axes: ms from the start, 0 to lastMs (a little past the
// truncation point); 0 dB at the top, DecayFloorDb at the bottom.
constexpr double DecayFloorDb = -80;
double decayLastMs(const RoomBand* band);
// band: the band shown; nullptr draws the empty axes.
void drawDecay(DrawingSurface& surface, const RoomBand* band);

// For a read-out under the mouse: the frequency (Hz) at user x of a
// frequency view, the time (ms from the peak) at user x of the impulse view.
double frequencyAt(double userX);
double timeAt(const TimeAxis& axis, double userX);
// The decay view: ms from the start at user x, dB at user y.
double decayTimeAt(double userX);
double decayLevelAt(double userY);

} // namespace LogSweepPlots

} // namespace audimera
