// The response plot's curves: up to 8 traces of up to 22051 points each,
// held as x = 100 * Log10(frequency in Hz) and y = 100 * level in dB, plus
// the exact frequencies of the most recent trace for saving (and its phases,
// when a loaded file had them, for exporting). Allocated whole
// at creation; adding points never allocates. Plain data owned by the
// measurement document (no toolkit). UI thread only.
#pragma once

#include "common/AudioFormat.h"
#include "engine/RgbColor.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace audimera {

class TraceStore {
public:
    static constexpr int MaxTraces = audimera::MaxTraces;
    static constexpr int MaxPoints = audimera::MaxTracePoints;

    // What the user is told when AddTrace finds the store full.
    static constexpr std::string_view TooManyTracesMessage =
        "You can't trace more than 8 curves, click on 'Clear' to erase current curves.";
    static_assert(MaxTraces == 8, "the message above states the limit");

    TraceStore();

    // Opens a new empty trace and returns true; false when MaxTraces are in
    // use (the store is unchanged and the caller tells the user).
    bool AddTrace();

    // Appends (frequency in Hz, level in dB) to the most recent trace. Does
    // nothing with no trace open or when that trace is full.
    void AddPoint(double Frequency, double dBA);
    // The same with the point's phase in degrees (a loaded FRD file's); kept
    // for the most recent trace only, for exporting it.
    void AddPoint(double Frequency, double dBA, double phaseDeg);

    // The phases of the most recent trace, one per point, NaN where a point
    // has none; false (phase left alone) when no point of it has one.
    bool lastTracePhase(std::vector<double>& phase) const;

    // Forgets every trace; the next one gets the first colour again.
    void ClearAllTraces();

    int GetTraceCount() const { return m_traceCount; }

    // Copies the most recent trace out: Tx the frequencies in Hz as given to
    // AddPoint, Ty the levels in hundredths of a dB. Both are resized to the
    // point count, which is returned. With no trace or an empty last trace
    // returns 0 and leaves Tx and Ty alone.
    int32_t GetLastTraceData(std::vector<double>& Tx, std::vector<double>& Ty) const;

    // Points held by trace t (0 for an index not in use).
    int pointCount(int t) const;

    // The stored coordinates of trace t, pointCount(t) values each.
    const double* traceX(int t) const { return &m_traceX[static_cast<size_t>(t) * MaxPoints]; }
    const double* traceY(int t) const { return &m_traceY[static_cast<size_t>(t) * MaxPoints]; }

    // The drawing colour of trace index t (fixed by the index).
    static RgbColor traceColor(int t);

private:
    int32_t m_traceCount = 0;
    int32_t m_pointCount[MaxTraces] = {};
    std::vector<double> m_traceX;  // trace t at [t * MaxPoints, ...)
    std::vector<double> m_traceY;
    std::vector<double> m_lastTraceFreq;
    std::vector<double> m_lastTracePhase; // NaN: none
    bool m_lastTraceHasPhase = false;
};

} // namespace audimera
