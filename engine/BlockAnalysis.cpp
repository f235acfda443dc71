// Analysis of one recorded block: trigger point, peak and mean magnitude,
// saturation and malformed-wave test, and the levels derived from them.
#include "MeasurementEngine.h"

#include "Log10.h"
#include "Rounding.h"

#include <cstdlib>

using audimera::Log10;
using audimera::nearestInt;

namespace {
constexpr int SectionEnd = 29999;
constexpr int NominalStart = 4000;
constexpr int FallbackStart = 1000;
constexpr int FullScale = 32767;
constexpr double BadWaveMeanGate = 400;
constexpr double BadWaveMaxFrequency = 4000;
constexpr double BadWaveRatio = 0.4;
constexpr double FourPeriodsAt44100 = 176400;
constexpr int FftMinimumSection = 16001;
} // namespace

void MeasurementEngine::AnalyseBlock(bool tonePass)
{
    int16_t* rec = RecBuffer.data();
    const int E = SectionEnd;
    int S = NominalStart;

    if (tonePass) {
        // Start at the rising zero crossing nearest sample 4000.
        const int r = rec[NominalStart];
        if (r > 0) {
            S = 1;
            for (int i = NominalStart - 1; i >= 1; --i)
                if (rec[i] <= 0) {
                    S = i;
                    break;
                }
        } else if (r < 0) {
            S = E;
            for (int i = NominalStart + 1; i <= E; ++i)
                if (rec[i] >= 0) {
                    S = i;
                    break;
                }
        }
    }
    if (S < 1)
        S = 1;
    if (S >= E)
        S = FallbackStart;

    int maxStep = 0;
    int peak = 0;
    double sum = 0;
    for (int i = S; i <= E; ++i) {
        if (rec[i] == -32768)
            rec[i] = -32767;
        FFTIn[i - S] = rec[i];
        FFTOUT[i - S] = 0;
        const int d = std::abs(static_cast<int>(rec[i]) - static_cast<int>(rec[i - 1]));
        if (d > maxStep)
            maxStep = d;
        const int a = std::abs(static_cast<int>(rec[i]));
        sum += a;
        if (a > peak)
            peak = a;
    }

    SampleStart = S;
    MaxStep = maxStep;
    MeanLevel = sum / (E - S);
    PeakLevel = peak == 0 ? 1 : peak;
    Satured = PeakLevel == FullScale;
    if (MeanLevel > BadWaveMeanGate && tonePass && Frequency <= BadWaveMaxFrequency &&
        MaxStep / (2.0 * PeakLevel) > BadWaveRatio)
        Satured = true;

    const bool badWaveChecked = m_panel.value("CheckBadInputWave") == 1;

    if (m_panel.value("CheckInput") == 1) {
        // Four periods of the tone, or as much of the section as there is.
        int n = Frequency > 0 ? nearestInt(FourPeriodsAt44100 / Frequency) : E - S;
        if (n > E - S || n < 0)
            n = E - S;
        if (n < 1)
            n = 1;
        double sum2 = 0;
        int peak2 = 3;
        for (int i = S; i <= S + n - 1; ++i) {
            sum2 += rec[i];
            const int a = std::abs(static_cast<int>(rec[i]));
            if (a > peak2)
                peak2 = a;
        }
        const double offset = sum2 / n;
        m_displays.DrawCurve(n, peak2, rec, S, badWaveChecked && Satured, nearestInt(offset));
    }

    if (E - S >= FftMinimumSection && m_panel.value("CheckFFT") == 1)
        m_displays.TraceFFT(FFTIn.data(), FFTOUT.data(), badWaveChecked ? Satured : false);
}

double MeasurementEngine::signalToNoise() const
{
    return 20 * (Log10(PeakLevel) - Log10(Noise));
}

double MeasurementEngine::correctedLevel() const
{
    double level = 20 * Log10(MeanLevel / Calib);
    int k = nearestInt(2 * Frequency);
    if (k < 0)
        k = 0;
    if (k >= CorrectionSlots)
        k = CorrectionSlots - 1;
    for (int i = 0; i < CorrectionCount; ++i)
        if (CalibEnable[i])
            level -= CalibCurveAt(i, k);
    return level;
}
