// The spectrum plot of the FFT window, without the window: the transform of
// each analysed block, its vertical scale FFTPeak, and the drawing of the
// grid and spectrum on a pixel-based surface (Picture1).
//
// Horizontal axis: x = 100 * Log10(f / 9), 9 Hz at the left edge, 22050 Hz
// at the right. Vertical axis: the square root of each bin's magnitude
// |X[k]| = sqrt(re^2 + im^2), the strongest of bins 3 to 8192 at the top
// edge and zero on the base line, with a 14-pixel strip for the labels
// below it. A measured tone starts at a zero crossing and is nearly a pure
// sine, whose transform is almost purely imaginary, so the real part alone
// would hide it.
//
// Everything is allocated at construction; TraceFFT allocates nothing.
// UI thread only.
#pragma once

#include "common/AudioFormat.h"
#include "display/models/AudioFFT.h"
#include "display/models/DrawingSurface.h"

#include <cstdint>
#include <vector>

namespace audimera {

class FftPlot {
public:
    static constexpr int FirstBin = 3;   // bins 0 to 2 (DC and below 8 Hz) are left out
    static constexpr int LastBin = 8192; // 22050 Hz
    static constexpr double SampleRate = audimera::SampleRate;
    static constexpr int LabelStrip = 14; // pixels under the base line

    static constexpr RgbColor BackColor = rgbColor(0, 0, 0);
    static constexpr RgbColor SpectrumColor = rgbColor(255, 200, 0);
    static constexpr RgbColor BadSpectrumColor = rgbColor(255, 0, 0);
    static constexpr RgbColor GridColor = rgbColor(128, 128, 128);
    static constexpr RgbColor LabelColor = rgbColor(255, 255, 255);

    // A black surface of no size (one container unit per pixel), FFTPeak 100.
    FftPlot();
    FftPlot(const FftPlot&) = delete;
    FftPlot& operator=(const FftPlot&) = delete;

    // Transforms FFTIn[0..16383] (FFTOUT[0..16383] receives the real parts),
    // sets FFTPeak from the strongest of bins 3 to 8192 and redraws grid and
    // spectrum, red when Satured, amber otherwise. While the surface has no
    // height the scale is still updated but nothing is drawn.
    void TraceFFT(const int16_t* FFTIn, float* FFTOUT, bool Satured);

    // Clears Picture1, sets its scale from FFTPeak and its height, and draws
    // the grid lines, labels and base line. Does nothing while the surface
    // has no height (the scale would divide by it).
    void DrawGrid();

    double FFTPeak() const { return m_FFTPeak; }

    DrawingSurface& Picture1() { return m_picture; }
    const DrawingSurface& Picture1() const { return m_picture; }

    // The transform and its tables (InitFFTTables is the start-up step).
    AudioFFT& audioFFT() { return m_fft; }

    // |X[k]| of the last transform.
    double magnitude(const float* FFTOUT, int k) const;

    // Horizontal position of a frequency in Hz, and of bin k.
    static float xOfFrequency(double frequency);
    static float xOfBin(int k);
    // The user width: 9 Hz to 22050 Hz.
    static float scaleWidth();

private:
    bool hasHeight() const { return m_picture.Height() > 0; }

    DrawingSurface m_picture;
    std::vector<QRectF> m_labelBoxes; // the label placer's, kept between redraws
    AudioFFT m_fft;
    std::vector<float> m_binX; // xOfBin(k), computed once
    double m_FFTPeak = 100;
};

} // namespace audimera
