#include "display/models/TraceStore.h"

#include "common/Log10.h"

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
{
}

bool TraceStore::AddTrace()
{
    if (m_traceCount >= MaxTraces)
        return false;
    m_pointCount[m_traceCount] = 0;
    ++m_traceCount;
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
    m_pointCount[t] = i + 1;
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
