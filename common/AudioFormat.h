// The sound format and the fixed sizes every part of Audimera agrees on,
// each defined once here. Rates in samples per second, lengths in samples.
#pragma once

namespace audimera {

// Recording rate and the rate of every table played (one channel, 16 bits).
inline constexpr int SampleRate = 44100;

// Samples in one played tone table (about 0.57 s), looped by the player.
inline constexpr int ToneSamples = 25000;

// Samples in one recorded block (about 0.68 s) that a sweep point analyses.
inline constexpr int RecordSamples = 30000;

// Traces the response plot shows at once.
inline constexpr int MaxTraces = 8;

// Points in one trace: one per hertz from 0 up to half the sample rate.
inline constexpr int MaxTracePoints = SampleRate / 2 + 1;

} // namespace audimera
