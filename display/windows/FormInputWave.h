// The input waveform window ("Input Wave Form"): a few periods of the block
// just recorded, drawn by WaveformPlot on a retained surface covering the
// whole inner area. It offers the waveform half of the engine's display
// operations; the main window routes them here. Closing it only hides it.
// UI thread only.
#pragma once

#include "display/windows/FormWindow.h"

#include "display/models/DrawingSurface.h"
#include "display/models/WaveformPlot.h"

#include <QWidget>

#include <cstdint>
#include <functional>

namespace audimera {

class FormInputWave : public FormWindow {
    Q_OBJECT

public:
    // The first inner size, in twips (256 x 88 pixels at 96 dpi).
    static constexpr int InitialWidthTwips = 3840;
    static constexpr int InitialHeightTwips = 1320;
    static constexpr double TwipsPerPixel = 15;

    // The window starts with its first size, placed fully on its screen,
    // hidden, showing the centre line alone.
    explicit FormInputWave(QWidget* parent = nullptr);

    // Where Redraw reads the test frequency in Hz (the measurement's
    // Frequency): a staircase from 80 Hz, a polyline below.
    void setFrequencySource(std::function<double()> source);

    // The engine's call after each analysed block: shows RecBuffer[First ..
    // First + OsciWidth], OsciHeight the peak amplitude, Off the value on
    // the centre line, red when CheckSat. A width or peak below 1 leaves the
    // window blank.
    void DrawCurve(int OsciWidth, int OsciHeight, const int16_t* RecBuffer, int First,
                   bool CheckSat, int Off);

    // Draws the held block again at the current scale and size.
    void Redraw();



    const WaveformPlot& plot() const { return m_plot; }
    const DrawingSurface& picture() const { return m_plot.surface(); }


protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // Gives the surface the whole inner area at the current pixel ratio.
    void fitPicture();

    WaveformPlot m_plot;
};

} // namespace audimera
