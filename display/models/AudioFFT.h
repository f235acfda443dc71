// The 16384-point radix-2 transform behind the FFT window.
//
// ComputeFFT is a decimation-in-time transform whose twiddle factors are
// advanced by a recurrence (two sines per pass), with every stored value in
// single precision: X[k] = sum x[n] e^(+2 pi i n k / N), unscaled. The real
// parts go to the caller's array, the imaginary parts stay here. Every
// block of a pass runs the same recurrence from (1, 0), so each pass
// advances it once into a scratch row and all its blocks reuse that row:
// the same bits as restarting it per block, at a fraction of the cost.
//
// All tables are allocated at construction; a transform allocates nothing.
// Not reentrant (one imaginary array per instance). UI thread only.
#pragma once

#include <cstdint>
#include <vector>

namespace audimera {

class AudioFFT {
public:
    static constexpr int Size = 16384;
    static constexpr int Bits = 14;

    // Allocates the bit-reversal table and the imaginary parts at full size.
    AudioFFT();

    // Fills the bit-reversal table: entry i is i with its low 14 bits in
    // reverse order. Run once at start-up; ComputeFFT also runs it on first
    // use if nobody did.
    void InitFFTTables();

    // value with its low bits + 1 bits in reverse order (InitFFTTables
    // passes 13 for the 14 bits of an index); higher bits are dropped.
    static int32_t ReverseBits(int32_t value, int bits);

    // Transforms input[0..16383]; output[0..16383] receives the real parts,
    // imaginary() the imaginary parts. output may not alias the input.
    void ComputeFFT(const int16_t* input, float* output);

    // Imaginary parts of the last transform, Size entries.
    const float* imaginary() const { return m_imaginary.data(); }
    // The bit-reversal table, Size entries.
    const int32_t* bitReversal() const { return m_bitReverse.data(); }

private:
    std::vector<int32_t> m_bitReverse;
    std::vector<float> m_imaginary;
    std::vector<float> m_twiddleRe; // one pass's twiddles, h entries
    std::vector<float> m_twiddleIm;
    bool m_prepared = false;
};

} // namespace audimera
