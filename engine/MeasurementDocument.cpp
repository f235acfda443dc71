#include "engine/MeasurementDocument.h"

#include <cmath>
#include <string>

namespace audimera {

audimera::Status MeasurementDocument::openTrace()
{
    if (m_traces.AddTrace())
        return {};
    return audimera::Error{std::string(TraceStore::TooManyTracesMessage)};
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
