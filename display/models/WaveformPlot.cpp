#include "display/models/WaveformPlot.h"

#include "common/Rounding.h"

#include <algorithm>
#include <cstring>

namespace audimera {

using audimera::nearestInt;

WaveformPlot::WaveformPlot()
    : m_surface(1.0),
      m_waveSamples(SampleCapacity, 0)
{
    m_surface.setBackColor(BackColor);
}

void WaveformPlot::DrawCurve(int OsciWidth, int OsciHeight, const int16_t* RecBuffer, int First,
                             bool CheckSat, int Off)
{
    // Only the stretch that can be drawn is copied: the caller vouches for
    // First .. First + OsciWidth and for nothing beyond.
    m_copiedEnd = -1;
    if (RecBuffer && First >= 0 && First < SampleCapacity) {
        const int64_t end = std::min<int64_t>(int64_t{First} + std::max(OsciWidth, 0),
                                              SampleCapacity - 1);
        std::memcpy(&m_waveSamples[First], RecBuffer + First,
                    static_cast<size_t>(end - First + 1) * sizeof(int16_t));
        m_copiedEnd = static_cast<int>(end);
    }
    m_waveSaturated = CheckSat;
    m_waveFirst = First;

    m_surface.clear();
    if (OsciWidth < 1 || OsciHeight < 1)
        return;

    m_waveWidth = OsciWidth;
    m_waveHeight = nearestInt(2.0 * OsciHeight);
    m_surface.setScaleWidth(static_cast<float>(m_waveWidth));
    m_surface.setScaleHeight(static_cast<float>(m_waveHeight * 1.1));
    m_waveOffset = Off;
    Redraw();
}

float WaveformPlot::yOf(int sample, float scaleHeight) const
{
    // Larger values higher up, the offset on the centre line.
    return static_cast<float>(static_cast<double>(m_waveOffset) - sample + scaleHeight / 2.0);
}

void WaveformPlot::Redraw()
{
    const RgbColor color = m_waveSaturated ? BadWaveColor : WaveColor;
    m_surface.clear();
    const float sw = m_surface.ScaleWidth();
    const float sh = m_surface.ScaleHeight();
    m_surface.line(0, sh / 2, sw, sh / 2, CentreLineColor);
    if (m_waveFirst < 0 || m_waveFirst > m_copiedEnd)
        return;

    const int first = m_waveFirst;
    const int16_t* s = m_waveSamples.data();
    m_surface.setPoint(0, yOf(s[first], sh), color);

    const int last = static_cast<int>(
        std::min<int64_t>(int64_t{first} + nearestInt(sw), m_copiedEnd));
    const double frequency = m_frequency ? m_frequency() : 0.0;
    if (frequency < StaircaseFrequency) {
        for (int i = first + 1; i <= last; ++i)
            m_surface.lineTo(static_cast<float>(i - first), yOf(s[i], sh), color);
    } else {
        for (int i = first + 1; i <= last; ++i) {
            const auto x = static_cast<float>(i - first);
            m_surface.lineTo(x, yOf(s[i - 1], sh), color);
            m_surface.lineTo(x, yOf(s[i], sh), color);
        }
    }
}

} // namespace audimera
