#include "engine/BlockAnalysis.h"

#include "common/AudioFormat.h"
#include "common/Log10.h"
#include "common/Rounding.h"

#include <cstdlib>

namespace audimera {

using namespace BlockAnalysis;
using audimera::Log10;
using audimera::nearestInt;

namespace {
constexpr int FullScale = 32767;
constexpr double BadWaveMeanGate = 400;
constexpr double BadWaveMaxFrequency = 4000;
constexpr double BadWaveRatio = 0.4;
constexpr double FourPeriods = 4.0 * audimera::SampleRate; // samples in four periods of 1 Hz
constexpr double CalibrationDivisor = 1.16;
} // namespace

BlockResult AnalyseBlock(int16_t* rec, double frequency, bool tonePass, int16_t* fftIn, float* fftOut)
{
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
    const auto measure = [&](int i) {
        if (rec[i] == -32768)
            rec[i] = -32767;
        const int d = std::abs(static_cast<int>(rec[i]) - static_cast<int>(rec[i - 1]));
        if (d > maxStep)
            maxStep = d;
        const int a = std::abs(static_cast<int>(rec[i]));
        sum += a;
        if (a > peak)
            peak = a;
    };
    if (fftIn && fftOut) {
        for (int i = S; i <= E; ++i) {
            measure(i);
            fftIn[i - S] = rec[i];
            fftOut[i - S] = 0;
        }
    } else {
        for (int i = S; i <= E; ++i)
            measure(i);
    }

    BlockResult block;
    block.SampleStart = S;
    block.MaxStep = maxStep;
    block.MeanLevel = sum / (E - S);
    block.PeakLevel = peak == 0 ? 1 : peak;
    block.Satured = block.PeakLevel == FullScale;
    if (block.MeanLevel > BadWaveMeanGate && tonePass && frequency <= BadWaveMaxFrequency &&
        block.MaxStep / (2.0 * block.PeakLevel) > BadWaveRatio)
        block.Satured = true;
    return block;
}

WaveformView waveformView(const int16_t* rec, const BlockResult& block, double frequency)
{
    const int E = SectionEnd;
    const int S = block.SampleStart;
    // Four periods of the tone, or as much of the section as there is.
    int n = frequency > 0 ? nearestInt(FourPeriods / frequency) : E - S;
    if (n > E - S || n < 0)
        n = E - S;
    if (n < 1)
        n = 1;
    double sum = 0;
    int peak = 3;
    for (int i = S; i <= S + n - 1; ++i) {
        sum += rec[i];
        const int a = std::abs(static_cast<int>(rec[i]));
        if (a > peak)
            peak = a;
    }
    return WaveformView{n, peak, nearestInt(sum / n)};
}

double signalToNoise(int32_t peakLevel, double noise)
{
    return 20 * (Log10(peakLevel) - Log10(noise));
}

double blockLevel(double meanLevel, double calib)
{
    return 20 * Log10(meanLevel / calib);
}

double calibrationReference(double meanLevel)
{
    return 2 * meanLevel / CalibrationDivisor;
}

} // namespace audimera
