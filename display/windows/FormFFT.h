// The FFT window: the spectrum of each analysed block on a logarithmic
// frequency grid, drawn by FftPlot on Picture1, a retained surface covering
// the whole inner area (in pixels). It offers the FFT half of the engine's
// display operations; the main window routes them here. Closing it only
// hides it. UI thread only.
#pragma once

#include "display/windows/FormWindow.h"

#include "display/models/DrawingSurface.h"
#include "display/models/FftPlot.h"

#include <QWidget>

#include <cstdint>

namespace audimera {

class FormFFT : public FormWindow {
    Q_OBJECT

public:
    // The first inner size, in pixels.
    static constexpr int InitialWidth = 640;
    static constexpr int InitialHeight = 260;

    // The window starts with its first size, placed fully on its screen,
    // hidden, with FFTPeak 100 and the empty grid drawn.
    explicit FormFFT(QWidget* parent = nullptr);

    // Fills the transform's bit-reversal table: the start-up step that
    // prepares the FFT tables.
    void InitFFTTables();

    // The engine's call after each analysed block: FFTIn[0..16383] is
    // transformed (FFTOUT[0..16383] receives the real parts), FFTPeak set
    // and the window redrawn, red when Satured. Nothing is drawn while the
    // window has no height.
    void TraceFFT(const int16_t* FFTIn, float* FFTOUT, bool Satured);

    // Clears Picture1 and draws the grid at the current FFTPeak.
    void DrawGrid();

    double FFTPeak() const { return m_plot.FFTPeak(); }



    const DrawingSurface& picture() const { return m_plot.Picture1(); }


protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // Gives Picture1 the whole inner area at the current pixel ratio.
    void fitPicture();

    FftPlot m_plot;
};

} // namespace audimera
