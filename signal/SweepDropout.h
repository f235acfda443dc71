// Finds lost sound in a recorded sweep by judging it against what was
// played, not against fixed levels. The sound server may lose sound without
// saying so in ways a search for digital silence cannot see: a play-side gap
// heard through a loudspeaker and microphone is the room's noise, not zeros;
// a suspended sink cuts a stretch out of the recording, so everything after
// it comes early; a muted stream gives a tiny constant or silence to the end.
//
// The rule. The played sweep convolved with the measured linear response
// (its segment around the peak) predicts the recording through the sweep's
// band edges (LogSweep::bandEdgeImpulse(), which the measured response
// carries); what is left over is
// the residual: noise and distortion, which vary slowly along a sweep. Both
// are cut into blocks of BlockSeconds, or of half a period of the frequency
// played then if that is longer, overlapping by half.
// Only blocks where the sweep is at full level are judged: in its fades the
// band edges take the fundamental down and leave the harmonics, which would
// read as lost sound.
// The residual's floor is its block energy at FloorQuantile (a low quantile,
// so that a gap to the end of the sweep does not raise it). A block is lost
// sound when its residual is at least ResidualShare of the predicted
// signal's energy there (-15 dB: a gap leaves the whole prediction over; a
// skip of samples, which the measured response takes in as a step in its
// delay at the frequency played then, leaves -11.7 dB (11 ms cut by a
// suspended PulseAudio sink at 150 Hz) to 0 dB of it around the step; the
// harmonics of poly=0.1,0.05 at -6 dBFS leave -30 dB, the LADSPA low-pass
// at 2 kHz -46 dB, a perfect loopback -66 dB) and at least ExcessOverFloor above the floor
// (20 dB: where the prediction is near the noise, noise alone is no loss).
// Blocks whose prediction is below MinSignalShare of the median block's
// (the fades, a filter's stop band) are not judged. A clean
// recording's residual is its noise and distortion, both far below the
// prediction wherever the prediction stands above them; a clock offset is
// part of the measured response (each frequency is recorded at one time).
//
// Units: samples as floats, full scale 1.0; the response in recorded units
// per played unit. Pure function of its arguments; any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

namespace audimera {

namespace SweepDropout {

constexpr double BlockSeconds = 0.002;       // or half a period, if longer
constexpr double ResidualShare = 0.032;      // energy ratio, -15 dB
constexpr double ExcessOverFloor = 100.0;    // energy ratio, 20 dB
constexpr double FloorQuantile = 0.1;
constexpr double MinSignalShare = 1e-4;      // energy ratio, -40 dB

// The recording's frame where the first lost block begins, if there is one.
// recorded: frames frames, the channel's sample of frame i at
// recorded[i * stride]. played: the sweep, playFrames samples. response: the
// linear response's segment; its sample j is the output at recorded frame
// offset + j + i for played sample i (offset may be negative); its sample
// peak is the sweep's arrival, the first judged is offset + peak. edges: the
// band edges' impulse response, run over the recording. Played samples
// [judgedFrom, judgedTo) are judged: where the sweep is at full level. f1
// (Hz) and rateConstant (s): the sweep's instantaneous frequency at played
// sample i is f1 exp(i / (rateConstant rate)).
std::optional<std::size_t> find(const float* recorded, std::size_t frames, std::size_t stride,
                                 const float* played, std::size_t playFrames, const std::vector<double>& response,
                                 std::ptrdiff_t offset, std::size_t peak, const std::vector<double>& edges,
                                 std::size_t judgedFrom, std::size_t judgedTo, double f1, double rateConstant,
                                 int rate);

} // namespace SweepDropout

} // namespace audimera
