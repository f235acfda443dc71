#include "signal/SignalSynthesis.h"

#include "common/Rounding.h"
#include "signal/UniformRandom.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace audimera {

using audimera::nearestInt;
using audimera::nearestSample;

namespace {

int periodDivisor(bool by20)
{
    return by20 ? 20 : 1;
}

int32_t playbackRate(double freq, int k)
{
    return nearestInt(freq * 100 / k);
}

} // namespace

int32_t GenSineWave(int16_t* Buffer, double Freq, bool By20)
{
    const int k = periodDivisor(By20);
    // Pi to 15 digits on purpose: the table values are defined with it.
    const double step = (k + k) * 3.14159265358979 / 100;
    for (int i = 0; i < ToneTablePlayed; ++i)
        Buffer[i] = nearestSample(std::sin(i * step) * SinePeak);
    return playbackRate(Freq, k);
}

int32_t GenSquareWave(int16_t* Buffer, double Freq, bool By20)
{
    const int k = periodDivisor(By20);
    // High where nearest(2 i k / 100) is even. Rounding halves to even puts
    // the edges so that the table starts in the middle of a high half: with
    // k = 1 the high halves are 51 samples long and the low halves 49.
    for (int i = 0; i < ToneTablePlayed; ++i) {
        // nearest(i k / 50) in integers, exact and much faster than in doubles.
        const int n = i * k;
        int x = n / 50;
        const int rest = n % 50;
        if (rest > 25 || (rest == 25 && x % 2 != 0))
            ++x;
        Buffer[i] = x % 2 == 0 ? SquarePeak : -SquarePeak;
    }
    return playbackRate(Freq, k);
}

int32_t GenTriangleWave(int16_t* Buffer, double Freq, bool By20)
{
    const int k = periodDivisor(By20);
    for (int i = 0; i < ToneTablePlayed; ++i) {
        const int v = 200 * ((i * k) % 100);
        Buffer[i] = static_cast<int16_t>(v < 10000 ? v - 5000 : 15000 - v);
    }
    return playbackRate(Freq, k);
}

void InitWhitePinkBuffers(int16_t* WhiteNoiseBuffer, int16_t* PinkNoiseBuffer,
                          LowPassStep lowPass)
{
    int16_t* const w = WhiteNoiseBuffer;
    int16_t* const p = PinkNoiseBuffer;
    UniformRandom random;
    const auto fullScaleNoise = [&random] { return nearestSample(random.next() * 65520 - 32760); };

    w[0] = 0;
    for (int i = 1; i < ToneTablePlayed; ++i)
        w[i] = fullScaleNoise();

    // The filter sees the full-scale sequence, starting with the unplayed
    // last entry, before the white table is halved.
    p[0] = nearestSample(lowPass(w[ToneTablePlayed], 0, 0));
    for (int i = 1; i < ToneTablePlayed; ++i)
        p[i] = nearestSample(lowPass(w[i], 0, 0));

    w[0] = fullScaleNoise();

    int peak = 0;
    for (int i = 0; i < ToneTablePlayed; ++i) {
        w[i] = nearestSample(w[i] / 2.0);
        peak = std::max(peak, std::abs(static_cast<int>(p[i])));
    }

    // A filter that outputs only zeros leaves a silent table rather than
    // dividing by zero.
    if (peak == 0)
        return;
    const double scale = static_cast<double>(PinkNoisePeak) / peak;
    for (int i = 0; i < ToneTablePlayed; ++i)
        p[i] = nearestSample(p[i] * scale);
}

} // namespace audimera
