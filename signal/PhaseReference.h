// The delay a measured response's phase is given relative to, when the
// rule is "auto": the pure delay at which the response lines up best with
// its minimum-phase counterpart, so that a minimum-phase device (a filter,
// an amplifier, most loudspeaker drivers on axis) shows its own phase and
// not the latency of the sound server and converters. The impulse
// response's peak is no such reference: through a low-pass it comes later
// than the sound, and the phase then runs the wrong way.
//
// How: the minimum phase belonging to the measured magnitude (within the
// band where it stands 20 dB above its noise, continued beyond it, by the
// folded cepstrum: ClockOffset::minimumPhaseOf) is taken out of the
// measured phase; what is left, the excess phase, is fitted as
// c - 2 pi f D + a / f by weighted least squares on points every 1/24
// octave over that band within [low, high] (the reported range); a / f
// takes up what the magnitude continued below the band does to the minimum
// phase inside it (without it, 0.46 degrees of error on a 200 Hz..8 kHz band-pass). The points are weighted by the
// response's magnitude there: the excess phase is only as good as the
// minimum phase, which is least sure where the magnitude falls into a
// filter's skirt (its continuation beyond the band matters most there) and
// where the noise takes a larger share; and by 1 / (1 + v / 0.01^2), v the
// variance (radians^2) the noise gives the point's phase, so that points
// the noise scatters by more than about half a degree count less. Log spacing gives every octave its
// say, so neither the many bins of the top octave nor the few of the lowest
// decide alone. c and a are fitted, but not taken out: c is 0 for a
// minimum-phase device (pi for one that inverts).
//
// The delay's uncertainty comes from the points' scatter about the fit and,
// where the noise ends the band more than 1.1 times below the range's top
// (a flat device at -40 dB under -70 dBFS of noise: at 5.5 kHz, the delay
// 0.11 samples off), from how far the delay moves when the magnitude is
// continued from half an octave lower still.
//
// Units: Hz, samples (D, at the transfer function's rate).
//
// Plain function; any thread.
#pragma once

#include <complex>
#include <optional>
#include <vector>

namespace audimera::PhaseReference {

struct Delay {
    double samples = 0;     // D
    double uncertainty = 0; // one standard deviation, samples, from the points' scatter about the line
};

// D in samples, for transfer[k] at k * binHz (k = 0 .. size - 1, up to
// half the rate) with noise[k] the variance of its noise (as
// ClockOffset::estimate takes them): the delay to take out of transfer's
// phase (a positive D multiplies it by exp(+i 2 pi f D / rate)). None when
// less than an octave of [low, high] stands above the noise.
std::optional<Delay> minimumPhaseDelay(const std::vector<std::complex<double>>& transfer,
                                        const std::vector<double>& noise, double binHz, double low, double high);

} // namespace audimera::PhaseReference
