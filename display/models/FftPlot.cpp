#include "display/models/FftPlot.h"

#include "display/models/Drawing.h"
#include "display/models/LabelPlacer.h"

#include <iterator>

#include <cmath>
#include <string_view>

namespace audimera {

namespace {

// Grid lines: 10 to 90, 100 to 900, 1000 to 9000 Hz, then 10 and 20 kHz.
constexpr int GridFrequencies[] = {
    10,   20,   30,   40,   50,   60,   70,   80,   90,   100,  200,   300,   400,  500,
    600,  700,  800,  900,  1000, 2000, 3000, 4000, 5000, 6000, 7000,  8000,  9000, 10000,
    20000,
};

struct GridLabel {
    int frequency;
    std::string_view text;
};

constexpr GridLabel GridLabels[] = {
    {10, "10"},  {20, "20"},  {50, "50"},  {100, "100"}, {200, "200"},  {500, "500"},
    {1000, "1k"}, {2000, "2k"}, {5000, "5k"}, {10000, "10k"}, {20000, "20k"},
};

} // namespace

FftPlot::FftPlot()
    : m_picture(1.0),
      m_binX(LastBin + 1, 0.0f)
{
    m_labelBoxes.reserve(std::size(GridLabels));
    m_picture.setBackColor(BackColor);
    for (int k = 1; k <= LastBin; ++k)
        m_binX[k] = xOfBin(k);
}

float FftPlot::xOfFrequency(double frequency)
{
    return static_cast<float>(100 * Log10(frequency / 9));
}

float FftPlot::xOfBin(int k)
{
    // The bin frequency k * 44100 / 16384 divided by 9.
    return static_cast<float>(100 * Log10(k * SampleRate / 147456));
}

float FftPlot::scaleWidth()
{
    return static_cast<float>(100 * (Log10(SampleRate / 2) - Log10(9)));
}

double FftPlot::magnitude(const float* FFTOUT, int k) const
{
    const double re = FFTOUT[k];
    const double im = m_fft.imaginary()[k];
    return std::sqrt(re * re + im * im);
}

void FftPlot::DrawGrid()
{
    if (!hasHeight())
        return;
    m_picture.clear();

    const float width = scaleWidth();
    const double pixels = m_picture.Height();
    const auto base = static_cast<float>(m_FFTPeak);
    m_picture.setScaleWidth(width);
    m_picture.setScaleHeight(static_cast<float>(m_FFTPeak + LabelStrip * m_FFTPeak / pixels));
    const auto labelTop = static_cast<float>(m_FFTPeak + 2 * m_FFTPeak / pixels);

    for (int f : GridFrequencies) {
        const float x = xOfFrequency(f);
        m_picture.line(x, 0, x, base, GridColor);
    }
    // Left to right, each where it fits: a narrow window drops the ones
    // that would run together.
    LabelPlacer labels(m_picture, 1, m_labelBoxes);
    for (const GridLabel& label : GridLabels)
        labels.place(label.text, xOfFrequency(label.frequency), labelTop, LabelColor);
    m_picture.line(0, base, width, base, GridColor);
}

void FftPlot::TraceFFT(const int16_t* FFTIn, float* FFTOUT, bool Satured)
{
    const RgbColor color = Satured ? BadSpectrumColor : SpectrumColor;

    m_fft.ComputeFFT(FFTIn, FFTOUT);

    double peak = 1;
    for (int k = FirstBin; k <= LastBin; ++k) {
        const double m = magnitude(FFTOUT, k);
        if (m > peak)
            peak = m;
    }
    m_FFTPeak = std::sqrt(peak);

    if (!hasHeight())
        return;
    DrawGrid();

    // The first point stands at 10 Hz but carries bin 3 (about 8 Hz).
    auto y = [&](int k) { return static_cast<float>(m_FFTPeak - std::sqrt(magnitude(FFTOUT, k))); };
    m_picture.setPoint(xOfFrequency(10), y(FirstBin), color);
    for (int k = FirstBin + 1; k <= LastBin; ++k)
        m_picture.lineTo(m_binX[k], y(k), color);
}

} // namespace audimera
