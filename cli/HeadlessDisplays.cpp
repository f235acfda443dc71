#include "HeadlessDisplays.h"

HeadlessDisplays::HeadlessDisplays() : m_store(std::make_unique<TraceStore>()) {}

void HeadlessDisplays::AddPoint(double frequency, double dB)
{
    const int before = m_store->GetTraceCount() > 0 ? m_store->pointCount(m_store->GetTraceCount() - 1) : 0;
    m_store->AddPoint(frequency, dB);
    const int after = m_store->GetTraceCount() > 0 ? m_store->pointCount(m_store->GetTraceCount() - 1) : 0;
    if (after > before && onPoint)
        onPoint(CurvePoint{frequency, dB});
}

std::vector<CurvePoint> HeadlessDisplays::lastTrace() const
{
    std::vector<double> x, y;
    const int n = m_store->GetLastTraceData(x, y);
    std::vector<CurvePoint> points;
    points.reserve(static_cast<size_t>(n > 0 ? n : 0));
    for (int i = 0; i < n; ++i)
        points.push_back(CurvePoint{x[i], y[i] / 100});
    return points;
}
