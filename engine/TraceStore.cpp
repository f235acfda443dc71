#include "engine/TraceStore.h"

#include "common/Log10.h"

#include <limits>

namespace audimera {

using audimera::Log10;

namespace {

constexpr RgbColor kTraceColors[TraceStore::MaxTraces] = {
    rgbColor(0, 0, 0),       // black
    rgbColor(0, 0, 255),     // blue
    rgbColor(255, 0, 0),     // red
    rgbColor(128, 128, 128), // grey
    rgbColor(200, 0, 200),   // purple
    rgbColor(0, 128, 128),   // teal
    rgbColor(0, 128, 0),     // dark green
    rgbColor(128, 255, 0),   // yellow-green
};

} // namespace

TraceStore::TraceStore()
    : m_traceX(static_cast<size_t>(MaxTraces) * MaxPoints)
    , m_traceY(static_cast<size_t>(MaxTraces) * MaxPoints)
    , m_lastTraceFreq(MaxPoints)
    , m_lastTracePhase(MaxPoints)
{
}

bool TraceStore::AddTrace()
{
    if (m_traceCount >= MaxTraces)
        return false;
    m_pointCount[m_traceCount] = 0;
    ++m_traceCount;
    m_lastTraceHasPhase = false;
    return true;
}

void TraceStore::AddPoint(double Frequency, double dBA)
{
    if (m_traceCount == 0)
        return;
    const int t = m_traceCount - 1;
    const int i = m_pointCount[t];
    if (i >= MaxPoints)
        return;
    const size_t at = static_cast<size_t>(t) * MaxPoints + i;
    m_lastTraceFreq[i] = Frequency;
    m_traceX[at] = Log10(Frequency) * 100;
    m_traceY[at] = dBA * 100;
    m_lastTracePhase[i] = std::numeric_limits<double>::quiet_NaN();
    m_pointCount[t] = i + 1;
}

void TraceStore::AddPoint(double Frequency, double dBA, double phaseDeg)
{
    const int t = m_traceCount - 1;
    const int before = pointCount(t);
    AddPoint(Frequency, dBA);
    if (pointCount(t) > before) {
        m_lastTracePhase[before] = phaseDeg;
        m_lastTraceHasPhase = true;
    }
}

bool TraceStore::lastTracePhase(std::vector<double>& phase) const
{
    const int n = pointCount(m_traceCount - 1);
    if (!m_lastTraceHasPhase || n < 1)
        return false;
    phase.assign(m_lastTracePhase.begin(), m_lastTracePhase.begin() + n);
    return true;
}

void TraceStore::ClearAllTraces()
{
    m_traceCount = 0;
}

int32_t TraceStore::GetLastTraceData(std::vector<double>& Tx, std::vector<double>& Ty) const
{
    if (m_traceCount < 1)
        return 0;
    const int t = m_traceCount - 1;
    const int n = m_pointCount[t];
    if (n < 1)
        return 0;
    const double* y = traceY(t);
    Tx.assign(m_lastTraceFreq.begin(), m_lastTraceFreq.begin() + n);
    Ty.assign(y, y + n);
    return n;
}

int TraceStore::pointCount(int t) const
{
    return t >= 0 && t < m_traceCount ? m_pointCount[t] : 0;
}

RgbColor TraceStore::traceColor(int t)
{
    return t >= 0 && t < MaxTraces ? kTraceColors[t] : kTraceColors[0];
}

} // namespace audimera
