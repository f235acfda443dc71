// The input waveform picture, without the window: a few periods of the last
// recorded block, centred on their mean, over a grey centre line, green, or
// red when the block is flagged bad. From 80 Hz each sample is held flat for
// one step (a staircase) so that the individual samples show when a period
// spans only a few of them; below 80 Hz the samples are joined by straight
// lines.
//
// The user scale carries the geometry: one unit per sample across,
// twice the peak plus 10 % down. The samples are copied into a buffer
// allocated at construction, at the caller's indices, so a redraw after a
// resize needs nothing from the caller and DrawCurve allocates nothing.
// UI thread only.
#pragma once

#include "common/AudioFormat.h"

#include "display/models/DrawingSurface.h"

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace audimera {

class WaveformPlot {
public:
    // Indices a copied block may use: a whole record buffer (0..30000).
    static constexpr int SampleCapacity = audimera::RecordSamples + 1;
    // From this test frequency on the samples are drawn as a staircase.
    static constexpr double StaircaseFrequency = 80;

    static constexpr RgbColor BackColor = rgbColor(0, 0, 0);
    static constexpr RgbColor WaveColor = rgbColor(0, 255, 0);
    static constexpr RgbColor BadWaveColor = rgbColor(255, 0, 0);
    static constexpr RgbColor CentreLineColor = rgbColor(128, 128, 128);

    // A black surface of no size (one container unit per pixel) at its
    // default scale, nothing to show yet.
    WaveformPlot();
    WaveformPlot(const WaveformPlot&) = delete;
    WaveformPlot& operator=(const WaveformPlot&) = delete;

    // Where Redraw reads the test frequency in Hz (the measurement's
    // Frequency). Without a source the frequency counts as 0: a polyline.
    void setFrequencySource(std::function<double()> source) { m_frequency = std::move(source); }

    // Takes RecBuffer[First .. First + OsciWidth] (the caller guarantees
    // those indices) and draws OsciWidth sample steps, OsciHeight the peak
    // absolute amplitude, Off the value on the centre line, in red when
    // CheckSat. With OsciWidth or OsciHeight below 1 the picture is left
    // blank and the previous scale kept.
    void DrawCurve(int OsciWidth, int OsciHeight, const int16_t* RecBuffer, int First,
                   bool CheckSat, int Off);

    // Draws the current state at the current scale: the centre line, then,
    // once a block is held, its samples from WaveFirst to WaveFirst +
    // ScaleWidth.
    void Redraw();

    DrawingSurface& surface() { return m_surface; }
    const DrawingSurface& surface() const { return m_surface; }

    int WaveFirst() const { return m_waveFirst; }
    int WaveOffset() const { return m_waveOffset; }
    int WaveWidth() const { return m_waveWidth; }
    int WaveHeight() const { return m_waveHeight; }
    bool WaveSaturated() const { return m_waveSaturated; }

private:
    float yOf(int sample, float scaleHeight) const;

    DrawingSurface m_surface;
    std::vector<int16_t> m_waveSamples; // at the caller's indices
    int m_copiedEnd = -1;               // last index copied from the caller
    int m_waveFirst = -1;
    int m_waveOffset = 0;
    int m_waveWidth = 100;
    int m_waveHeight = 100;
    bool m_waveSaturated = false;
    std::function<double()> m_frequency;
};

} // namespace audimera
