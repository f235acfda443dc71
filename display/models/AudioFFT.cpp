#include "display/models/AudioFFT.h"

#include <cmath>

namespace audimera {

AudioFFT::AudioFFT()
    : m_bitReverse(Size, 0),
      m_imaginary(Size, 0.0f),
      m_twiddleRe(Size / 2, 0.0f),
      m_twiddleIm(Size / 2, 0.0f)
{
}

void AudioFFT::InitFFTTables()
{
    for (int i = 0; i < Size; ++i)
        m_bitReverse[i] = ReverseBits(i, Bits - 1);
    m_prepared = true;
}

int32_t AudioFFT::ReverseBits(int32_t value, int bits)
{
    int32_t reversed = 0;
    for (int i = 0; i <= bits; ++i) {
        reversed = (reversed << 1) | (value & 1);
        value >>= 1;
    }
    return reversed;
}

void AudioFFT::ComputeFFT(const int16_t* input, float* output)
{
    if (!m_prepared)
        InitFFTTables();

    float* const re = output;
    float* const im = m_imaginary.data();
    for (int i = 0; i < Size; ++i) {
        const int j = m_bitReverse[i];
        re[j] = input[i];
        im[j] = 0.0f;
    }

    // 2 pi as the single-precision constant the twiddle angles start from.
    const float twoPi = 6.2831854820251465f;

    // Each product and sum is formed in double and rounded once when it is
    // stored as a float, so the result does not depend on how the compiler
    // would otherwise order single-precision operations.
    for (int h = 1, m = 2; m <= Size; h = m, m *= 2) {
        const float d = static_cast<float>(static_cast<double>(twoPi) / m);
        const double halfSine = std::sin(static_cast<double>(d) / 2);
        const float a = static_cast<float>(2 * halfSine * halfSine);
        const float b = static_cast<float>(std::sin(static_cast<double>(d)));
        const double da = a;
        const double db = b;

        // The recurrence gives every block of the pass the same twiddles, so
        // they are advanced once per pass and reused.
        float wr = 1.0f;
        float wi = 0.0f;
        for (int j = 0; j < h; ++j) {
            m_twiddleRe[j] = wr;
            m_twiddleIm[j] = wi;
            const double dwr = wr;
            const double dwi = wi;
            const float t = static_cast<float>(dwi * db + dwr * da);
            wi = static_cast<float>(dwi - (da * dwi - db * dwr));
            wr = wr - t;
        }
        for (int s = 0; s < Size; s += m) {
            for (int j = s; j < s + h; ++j) {
                const int k = j + h;
                const double dwr = m_twiddleRe[j - s];
                const double dwi = m_twiddleIm[j - s];
                const float tr = static_cast<float>(dwr * re[k] - dwi * im[k]);
                const float ti = static_cast<float>(dwr * im[k] + dwi * re[k]);
                re[k] = re[j] - tr;
                im[k] = im[j] - ti;
                re[j] = re[j] + tr;
                im[j] = im[j] + ti;
            }
        }
    }
}

} // namespace audimera
