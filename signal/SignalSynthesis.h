// Test-signal tables for the looping play buffer.
//
// A tone table always holds whole periods of a fixed length (100 samples, or
// 5 when By20 is set) and its pitch comes from the playback rate each tone
// generator returns, so within one period length the card only needs a new
// rate, not new data. The noise tables are built once and played at 44100
// samples per second.
#pragma once

#include "common/AudioFormat.h"

#include <cstdint>

namespace audimera {

// Entries of every sample table; indices 0..24999 are played, index 25000 is
// never written by the generators.
constexpr int ToneTableSize = audimera::ToneSamples + 1;
constexpr int ToneTablePlayed = ToneTableSize - 1;

// Peak values of the generated signals.
constexpr int SinePeak = 16000;
constexpr int SquarePeak = 8000;
constexpr int TrianglePeak = 5000;
constexpr int PinkNoisePeak = 32760;

// Each tone generator fills Buffer[0..24999] with whole periods of 100 / k
// samples (k = 20 when By20 is set, otherwise 1) and returns the playback
// rate that sounds Freq: nearest(Freq * 100 / k). The rate is not clamped.
int32_t GenSineWave(int16_t* Buffer, double Freq, bool By20);
// By20 is the state of the "x20" box at the moment of the call.
int32_t GenSquareWave(int16_t* Buffer, double Freq, bool By20);
int32_t GenTriangleWave(int16_t* Buffer, double Freq, bool By20);

// One step of a single-sample low-pass filter with its own lasting state;
// the signature of Audidsp's LowPass44.
using LowPassStep = double (*)(double x, double init, int32_t reset);

// Fills WhiteNoiseBuffer[0..24999] with white noise at about half scale
// (within +-16380) and PinkNoiseBuffer[0..24999] with that noise low-passed
// by lowPass and normalised to a peak of exactly 32760. The random sequence
// starts from UniformRandom::DefaultSeed on every call.
//
// lowPass is only stepped (reset flag 0), never reset, so the pink table
// depends on the filter state on entry: the program calls this once, right
// after the library is loaded (state zero). Callers that need the same table
// twice, such as tests, reset the filter first (LowPass44(0, 0, 1)).
// WhiteNoiseBuffer[25000] is read as the filter's first input and must be 0.
void InitWhitePinkBuffers(int16_t* WhiteNoiseBuffer, int16_t* PinkNoiseBuffer,
                          LowPassStep lowPass);

} // namespace audimera
