// Finds lost sound in a recorded sweep by judging it against what was
// played, not against fixed levels. The sound server may lose sound without
// saying so in ways a search for digital silence cannot see: a play-side gap
// heard through a loudspeaker and microphone is the room's noise, not zeros;
// a suspended sink cuts a stretch out of the recording, so everything after
// it comes early; a muted stream gives a tiny constant or silence to the end.
//
// The rule. The played sweep convolved with the measured linear response
// (its segment around the peak, which carries the sweep's band edges,
// LogSweep::bandEdgeImpulse()) predicts the recording run through those band
// edges; what is left over is the residual: noise and distortion, which vary
// slowly along a sweep. Both are cut into blocks of BlockSeconds, or of half
// a period of the frequency played then if that is longer (a sine's energy
// over half a period does not depend on its phase), overlapping by half.
// Only blocks where the sweep is at full level are judged (in its fades the
// band edges take the fundamental down and leave the harmonics), and of
// those only the ones whose prediction is at least MinSignalShare of the
// median block's (not a filter's stop band). The residual's floor is its
// energy in the judged block at FloorQuantile (low, so that a gap to the end
// of the sweep does not raise it). A block is lost sound when its residual
// is at least
// - ResidualShare of the prediction's energy there (-15 dB): a gap leaves
//   the whole prediction over. A skip of samples the measured response
//   takes in as a step in its delay at the frequency played then, and
//   leaves -11.7 dB (11 ms cut by a suspended PulseAudio sink near 150 Hz)
//   to 0 dB around the step. Clean: the harmonics of poly=0.1,0.05 at
//   -6 dBFS leave -30 dB, the LADSPA 2 kHz low-pass -46 dB, a perfect
//   loopback -66 dB;
// - and ExcessOverFloor above the floor (20 dB): where the prediction is
//   near the noise, noise alone is no loss.
// Apart from that rule: exact zeros from inside the judged part to its end,
// at least two shortest blocks long, after a judged stretch with no run of
// zeros a shortest block long, are lost sound too. A sink muted or
// suspended for the rest of the sweep leaves them, and the measured
// response takes them in as a stop band; real inputs have noise, and a
// stop band below the last bit of a digital chain fades into them through
// shorter runs.
// And a step in the timing is lost sound: a skip of samples leaves the
// frequencies played after it early by the skip, which the measured
// response takes in as a step in its delay at the frequency played then,
// and which the residual rule sees only around the step. Each band's delay
// comes from the turn of the response's phase between neighbouring bins,
// within StepWindowSeconds of its peak; the median delay of the bands just
// above a place less that of those just below must stay under
// MaxStepSeconds (2.5 ms), and StepOverSpread times the spread of the
// delays on either side (their median distance from their median): a skip
// moves every band after it alike, while a room's reflections scatter the
// bands' delays by milliseconds without a step. The rule judges only a
// response that holds StepDirectShare of its energy within the window
// within StepDirectSeconds of its peak (a skip's copy lies there too):
// through a reverberant room or a reverb the bands' delays are the
// reverberation's, and step by tens of milliseconds in a sound recorded
// whole (swh-plugins' gverb: 30 ms at 630 Hz, 74 % of the energy near the
// peak; a suspended sink's 5 ms skip through a clean chain: 99.8 %); there
// the other rules judge alone. Clean: at most 0.46 ms through the simulated
// chains (a high-pass's rising delay at low frequencies), about 0.1 ms on
// the LADSPA filters; a suspended PulseAudio sink skips 5 to 7 ms.
// And a jump where the sweep plays low is lost sound: there a skip of
// samples leaves a step in the recording's value (and slope) that the
// timing rule cannot resolve and the residual rule may miss
// (the measured response takes it in over a band wider than the step), yet
// it rings through the band as a ripple of 0.2 to 0.8 dB and 1 to 10
// degrees (5 ms cut where a 2^16 or 2^18 sweep plays 5 to 15 Hz). Below
// MaxJumpHz a sweep is smooth over JumpSamples: the cubic fitted to the
// JumpSamples before a point, and that fitted to those after it, meet
// there in value and slope (times JumpSamples) within a small fraction of
// its amplitude. A place where they part in either
// by at least JumpShare of the local amplitude (the sweep's peak, from the
// recording's energy over a period), JumpOverNoise times their usual
// parting (the noise's) and JumpOverQuantum times the recording's quantum
// (its smallest step: a 16-bit sweep climbs in steps where it is slow) is
// lost sound. Clean: at most 0.68 of that threshold on the simulated chains.
// A clock offset is part of the measured response (each frequency is
// recorded at one time), or has been taken out before.
//
// Units: samples as floats, full scale 1.0; the response in recorded units
// per played unit. Pure function of its arguments; any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

namespace audimera {

namespace SweepDropout {

constexpr double BlockSeconds = 0.002;
constexpr double ResidualShare = 0.032;      // energy ratio, -15 dB
constexpr double ExcessOverFloor = 100.0;    // energy ratio, 20 dB
constexpr double FloorQuantile = 0.1;
constexpr double MinSignalShare = 1e-4;      // energy ratio, -40 dB
// The timing step: bands of 1/StepBandsPerOctave octave (at least
// MinStepBandBins bins of the window's spectrum) from MinStepHz,
// those with at least StepBandShare of the loudest one's energy and whose
// neighbouring bins agree (their product's sum at least StepCoherence of
// the band's energy: a delay, not noise), groups of
// StepGroupBands either side of a gap of StepGapBands, the response within
// StepWindowSeconds of its peak; lost at MaxStepSeconds.
constexpr double MinStepHz = 100.0;
constexpr double StepBandsPerOctave = 24.0;
constexpr std::size_t MinStepBandBins = 4;
constexpr std::size_t StepGroupBands = 6;
constexpr std::size_t StepGapBands = 3;
constexpr double StepWindowSeconds = 0.1;
constexpr double StepBandShare = 1e-2;       // energy ratio, -20 dB
constexpr double StepCoherence = 0.7;
constexpr double MaxStepSeconds = 0.0025;
constexpr double StepOverSpread = 4.0;
constexpr double StepDirectSeconds = 0.01;
constexpr double StepDirectShare = 0.95;
// The jump: cubics over JumpSamples either side, judged from the sweep's
// arrival to where it plays MaxJumpHz; lost at JumpShare of the local
// amplitude, JumpOverNoise times the median parting (a Gaussian noise's
// reaches 6.8 times) and JumpOverQuantum times one quantum's step.
constexpr std::size_t JumpSamples = 32;
constexpr double MaxJumpHz = 40.0;
constexpr double JumpShare = 0.005;
constexpr double JumpOverNoise = 10.0;
constexpr double JumpOverQuantum = 4.0;

// The largest step in the response's delay (samples; positive: the higher
// frequencies come later), between frequencies fromHz and toHz (Hz), and
// in *stepHz where it is. response and peak as for find(). Nothing when
// the range holds too few bands.
std::optional<double> largestTimingStep(const std::vector<double>& response, std::size_t peak, double fromHz,
                                        double toHz, int rate, double* stepHz = nullptr);

// The first place in frames [from, to) of the recording (frames frames,
// sample i at recorded[i * stride]) where the cubics fitted to the
// JumpSamples either side part in value or slope by at least JumpShare of
// the amplitude over periodSamples around it, JumpOverNoise times the
// median parting and JumpOverQuantum times what one quantum's step does:
// the frame after the jump. Nothing when there is none.
std::optional<std::size_t> findJump(const float* recorded, std::size_t frames, std::size_t stride,
                                    std::size_t from, std::size_t to, std::size_t periodSamples);

// The recording's frame where the first lost block begins, if there is one.
// recorded: frames frames, the channel's sample of frame i at
// recorded[i * stride]. played: the sweep, playFrames samples. response: the
// linear response's segment; its sample j is the output at recorded frame
// offset + j + i for played sample i (offset may be negative); its sample
// peak marks the sweep's arrival, at frame offset + peak. edges: the
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
