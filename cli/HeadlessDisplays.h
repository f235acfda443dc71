// The plot windows of the headless command: a trace store in memory, and a
// progress line on the error stream for every measured point.
#pragma once

#include "CurveFile.h"
#include "Displays.h"

#include <functional>
#include <vector>

class HeadlessDisplays : public Displays {
public:
    static constexpr int MaxTraces = 8;
    static constexpr int MaxPoints = 22051;

    // Called after each point is appended.
    std::function<void(const CurvePoint&)> onPoint;

    bool AddTrace() override;
    void AddPoint(double frequency, double dB) override;
    void TraceResponse() override {}
    int GetTraceCount() const override { return static_cast<int>(m_traces.size()); }
    void DrawCurve(int, int, const int16_t*, int, bool, int) override {}
    void TraceFFT(const int16_t*, float*, bool) override {}

    const std::vector<CurvePoint>& lastTrace() const;

private:
    std::vector<std::vector<CurvePoint>> m_traces;
};
