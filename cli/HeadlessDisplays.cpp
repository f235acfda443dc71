#include "HeadlessDisplays.h"

bool HeadlessDisplays::AddTrace()
{
    if (m_traces.size() >= MaxTraces)
        return false;
    m_traces.emplace_back();
    m_traces.back().reserve(MaxPoints);
    return true;
}

void HeadlessDisplays::AddPoint(double frequency, double dB)
{
    if (m_traces.empty() || m_traces.back().size() >= MaxPoints)
        return;
    m_traces.back().push_back(CurvePoint{frequency, dB});
    if (onPoint)
        onPoint(m_traces.back().back());
}

const std::vector<CurvePoint>& HeadlessDisplays::lastTrace() const
{
    static const std::vector<CurvePoint> none;
    return m_traces.empty() ? none : m_traces.back();
}
