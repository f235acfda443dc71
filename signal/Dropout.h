// Finds a dropout in a recording: a moment where a loud signal stopped dead.
// A sound server that falls behind (PipeWire skipping a cycle of its graph,
// say) can put a stretch of digital silence into a recording without telling
// the program: the sound stays in place, only that stretch is gone. Played
// through a loopback it looks like any other recording, and a sweep measured
// through it shows ripple of several dB that nothing else explains.
//
// A dropout here is a run of at least MinRunFrames samples of exactly 0 on
// one channel, with the signal on both sides of it loud: the RMS of the
// FlankFrames samples before the run and of those after it at least FlankRms
// (re full scale 1.0), and the signal stopping dead there: one of the
// EdgeFrames samples next to the run, on either side, at least EdgeShare of
// that side's flank RMS. A signal that really passes through silence does it
// smoothly: a sine loud enough to pass the flank test stays at exactly 0 for
// fewer than 8 samples even at 5 Hz and 192000 Hz in 16 bits, and a quiet
// one fails the flank test; a half-wave-rectified sine reaches its zeros in
// small steps (at 100 Hz and 44100 Hz the two samples next to them are below
// a twentieth of the flank's RMS). Silence at a recording's ends, and a channel
// silent throughout (the reference channel unplugged), are not dropouts.
//
// Units: samples as floats, full scale 1.0, interleaved frames. Pure
// function of its arguments; any thread.
#pragma once

#include <cstddef>
#include <optional>

namespace audimera {

namespace Dropout {

constexpr std::size_t MinRunFrames = 32;
constexpr std::size_t FlankFrames = 256;
constexpr double FlankRms = 1.0 / 256.0; // -48 dB re full scale
constexpr std::size_t EdgeFrames = 2;
constexpr double EdgeShare = 0.25;

// The frame where the first dropout in frames (count frames of channels
// interleaved samples) begins, if there is one.
std::optional<std::size_t> find(const float* frames, std::size_t count, std::size_t channels);

} // namespace Dropout

} // namespace audimera
