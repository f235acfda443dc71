// The plot windows as the main window's measurement logic sees them: the
// response plot, redrawn from the measurement document, and the waveform
// and spectrum of an analysed block. UI thread only.
#pragma once

#include <cstdint>

namespace audimera {

class Displays {
public:
    virtual ~Displays() = default;

    // Clears the response plot and draws the document's traces with its
    // plot settings.
    virtual void TraceResponse() = 0;

    // Input waveform window: OsciWidth samples of RecBuffer from First,
    // OsciHeight the vertical scale, Off the offset removed, CheckSat draws
    // the block as bad.
    virtual void DrawCurve(int OsciWidth, int OsciHeight, const int16_t* RecBuffer, int First,
                           bool CheckSat, int Off) = 0;

    // FFT window: FFTIn holds the analysed section from index 0, FFTOUT is
    // the zeroed work array of the same length.
    virtual void TraceFFT(const int16_t* FFTIn, float* FFTOUT, bool Satured) = 0;
};

} // namespace audimera
