#include "engine/MeasurementDocument.h"

#include <cmath>
#include <string>

namespace audimera {

audimera::Status MeasurementDocument::openTrace()
{
    if (m_traces.AddTrace()) {
        setTraceName(m_traces.GetTraceCount() - 1, {});
        return {};
    }
    return audimera::Error{std::string(TraceStore::TooManyTracesMessage)};
}

void MeasurementDocument::setTraceName(int trace, std::string name)
{
    if (trace < 0 || trace >= TraceStore::MaxTraces)
        return;
    if (m_traceNames.size() <= static_cast<size_t>(trace))
        m_traceNames.resize(static_cast<size_t>(trace) + 1);
    m_traceNames[static_cast<size_t>(trace)] = std::move(name);
}

std::string MeasurementDocument::traceName(int trace) const
{
    if (trace >= 0 && static_cast<size_t>(trace) < m_traceNames.size() && !m_traceNames[static_cast<size_t>(trace)].empty())
        return m_traceNames[static_cast<size_t>(trace)];
    return "Trace " + std::to_string(trace + 1);
}

std::vector<CurvePoint> MeasurementDocument::lastTrace() const
{
    std::vector<double> x, y;
    const int n = m_traces.GetLastTraceData(x, y);
    std::vector<CurvePoint> points;
    points.reserve(static_cast<size_t>(n > 0 ? n : 0));
    for (int i = 0; i < n; ++i)
        points.push_back(CurvePoint{x[i], y[i] / 100});
    return points;
}

std::vector<ResponsePoint> MeasurementDocument::lastResponse() const
{
    std::vector<ResponsePoint> points;
    std::vector<double> phase;
    const bool phased = m_traces.lastTracePhase(phase);
    for (const CurvePoint& p : lastTrace()) {
        ResponsePoint point{p.frequency, p.level, std::nullopt};
        if (phased && !std::isnan(phase[points.size()]))
            point.phase = phase[points.size()];
        points.push_back(point);
    }
    return points;
}

} // namespace audimera
