// The plot windows of the headless command: the response plot's trace
// store, without a window, and a callback for every measured point.
#pragma once

#include "CurveFile.h"
#include "Displays.h"
#include "TraceStore.h"

#include <functional>
#include <memory>
#include <vector>

class HeadlessDisplays : public Displays {
public:
    HeadlessDisplays();

    // Called after each point is appended.
    std::function<void(const CurvePoint&)> onPoint;

    bool AddTrace() override { return m_store->AddTrace(); }
    void AddPoint(double frequency, double dB) override;
    void TraceResponse() override {}
    int GetTraceCount() const override { return m_store->GetTraceCount(); }
    void DrawCurve(int, int, const int16_t*, int, bool, int) override {}
    void TraceFFT(const int16_t*, float*, bool) override {}

    // The newest trace: frequencies as measured, levels in dB.
    std::vector<CurvePoint> lastTrace() const;
    const TraceStore& store() const { return *m_store; }
    TraceStore& store() { return *m_store; }

private:
    std::unique_ptr<TraceStore> m_store; // big: allocated once, on the heap
};
