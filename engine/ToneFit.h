// A known tone measured by least squares: DC, the tone (sine and cosine at
// the frequency it was recorded at) and its harmonics 2 to 5 up to 20 kHz,
// fitted together over a whole number of the tone's periods from the start
// of the analysed section. What it gives a stepped sweep and the signal
// generator:
//
// - the narrow-band level: the tone's amplitude alone, so neither where the
//   samples fall in the period (a period of a whole number of samples always
//   samples the same phases) nor noise and distortion move it the way they
//   move the mean magnitude. It is put on the mean magnitude's scale: the
//   mean magnitude that a perfect sine of that amplitude gives over the same
//   section, divisor included (see narrowBandMeanLevel);
// - distortion: each harmonic re the tone in dB, THD from them and THD+N
//   from everything the tone and DC leave in 20 Hz..20 kHz, in percent.
//
// The frequency recorded: a record clock apart from the play clock (a USB
// microphone beside the computer's own output) records the nominal tone a
// little off, 1 Hz at 10 kHz for 100 ppm, and a fit at the nominal
// frequency would leave most of the tone in the residual (21.7 % THD+N at
// 10 kHz for 20 ppm) and read its level low. So the frequency is fitted
// first, from the drift of the tone's phase across up to 8 parts of the
// window (two passes), and kept when it lies within MaxOffsetPpm of the
// nominal one; the window keeps its nominal length (the fit is exact at any
// frequency). Needs at least 4 periods; below that the nominal frequency is
// used.
//
// The window is whole periods so that the tone, its harmonics and DC are
// nearly orthogonal; the fit solves the exact normal equations all the same
// (their Gram matrix is summed in closed form), so a tone is measured
// exactly at any frequency, even with less than one period (the window is
// then the whole section).
//
// Plain arithmetic: no state, allocates nothing, any thread. Four passes
// over the window (two for the frequency, the fit, the THD+N band): about
// 26000 samples for a block.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace audimera {

// How a block's level is measured: the mean sample magnitude of the section
// (the program's own detector, the default) or the tone's fitted amplitude
// put on the same scale.
enum class LevelDetector { MeanMagnitude, NarrowBand };

namespace ToneAnalysis {
constexpr int HighestHarmonic = 5;        // H2..H5
constexpr double HarmonicLimitHz = 20000; // harmonics above this are not fitted
// THD+N's band, Hz: a 2nd-order Butterworth high-pass and an 8th-order
// Butterworth low-pass (none where 20 kHz is not below 0.49 of the rate).
constexpr double ThdNoiseLowHz = 20;
constexpr double ThdNoiseHighHz = 20000;
// The recorded frequency is believed this far from the nominal one at most.
constexpr double MaxOffsetPpm = 1000;
} // namespace ToneAnalysis

struct ToneFit {
    double frequency = 0; // Hz, as recorded (fitted); the nominal one when it could not be
    int first = 0;        // the window: count samples from first
    int count = 0;
    int periods = 0;      // whole periods in the window; 0: less than one, the window is the section
    int harmonics = 1;    // the highest harmonic fitted (1: none up to 20 kHz)
    double dc = 0;        // sample units
    // Peak amplitudes in sample units: [1] the tone, [2]..[5] its harmonics
    // (0 where not fitted); [0] is unused.
    std::array<double, ToneAnalysis::HighestHarmonic + 1> amplitude{};
    // RMS (sample units) of what remains once DC and the tone are taken
    // away: harmonics and noise.
    double residualRms = 0;
    // The same within THD+N's band (20 Hz..20 kHz).
    double bandResidualRms = 0;
};

// Fits samples[first..last] (a section, last included) to DC, a tone near
// frequency Hz (the nominal one) and its harmonics up to 20 kHz, at
// sampleRate Hz. frequency must be above 0 and below half the rate.
ToneFit fitTone(const int16_t* samples, int first, int last, double frequency, double sampleRate);

// The mean magnitude that a perfect sine of the fitted amplitude gives over
// samples sampleStart..sectionEnd with the mean's divisor (sectionEnd -
// sampleStart): 2 A / pi, times (samples / divisor). A perfect loopback thus
// reads the same level with both detectors wherever the sampling does not
// move the mean magnitude.
double narrowBandMeanLevel(const ToneFit& fit, int sampleStart, int sectionEnd);

// Distortion of a fitted tone.
struct Distortion {
    // H2..H5 in dB re the tone; none where not fitted (above 20 kHz) or
    // when there is no tone.
    std::array<std::optional<double>, ToneAnalysis::HighestHarmonic - 1> harmonicDb{};
    // 100 sqrt(H2^2 + ... + H5^2) / tone; only when all of H2..H5 lie at or
    // below 20 kHz (a THD without H3 would hide odd-order distortion) and
    // there is a tone.
    std::optional<double> thdPercent;
    // The usual definition: 100 x the RMS of everything but DC and the tone
    // within 20 Hz..20 kHz, over the RMS of the whole signal in that band
    // (tone included); none when there is no tone.
    std::optional<double> thdNoisePercent;
};

Distortion distortionOf(const ToneFit& fit);

// The frequency a tone table sounds at: a table of whole periods of 100 / k
// samples (k = 20 for the "x20" table, else 1) played at rate, which the
// device limits to 100..100000 Hz.
double playedToneFrequency(int32_t rate, bool by20);

} // namespace audimera
