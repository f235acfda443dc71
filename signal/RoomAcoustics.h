// Room acoustics from an impulse response: decay times (EDT, T20, T30),
// clarity (C50, C80), definition (D50) and centre time (Ts), broadband and
// per octave or third-octave band, after ISO 3382-1. Pure: samples and a
// rate in, figures out.
//
// Bands (IEC 61260-1, base 10): G = 10^(3/10), mid-band frequencies
// fm = 1000 G^(x/b) for b = 1 and 3, edges fm G^(-+1/(2b)); octaves 63 Hz to
// 8 kHz, thirds 50 Hz to 10 kHz (or a range chosen in RoomSettings),
// labelled with their nominal frequencies; only bands whose upper edge lies
// below half the rate.
//
// Start: the first sample whose square is within 20 dB of the largest.
// Every band and the broadband figures count time from that sample.
//
// Band filtering: zero phase, in the frequency domain, chosen over filtering
// forwards and then time-reversed for the same reason that pass exists:
// the filter's ringing spreads evenly either side of each instant instead of
// trailing it, so it neither delays a decay nor lays its own decay over it
// (a forward filter's ringing, long in the low bands, bends short decays).
// In the frequency domain it takes one pass, its magnitude is exactly the
// one designed (not squared, as two passes would make it), and it is fast:
// the response (from its start, what came before it wrapped round to
// the end, zero-padded by a second so that no filter's ringing reaches
// round into the analysed span) takes one real transform; each band
// multiplies the bins of its own stretch of the spectrum by a real, even
// magnitude and transforms back only those bins, shifted down to 0 Hz, on a
// short complex transform. That is the band's analytic signal at a reduced
// rate (at least one point per millisecond), whose squared magnitude over
// 2 is the band's energy envelope: the squared band signal without its
// ripple at twice the band's frequency, the same energy in every span.
// The magnitude:
//   |H|^2 = 1 / (1 + (2x)^6),
// x the distance from the mid-band frequency in octaves of the octave
// filter's normalised frequency (the mask's own mapping for fractional
// octaves, IEC 61260-1), times a cubic smooth step down to zero between
// |x| = 1 and 2.5: -3 dB at the band edges, 0.7 dB at x = 3/8, 18 dB at
// x = 1, 48 dB at x = 2. That is the lowest order whose skirts stay inside
// the class-1 mask (checkClassOneMask() holds every band against it), so
// the filter rings as briefly as the mask allows: its own impulse
// response's T20 is about 2.7 / B for thirds and 3.6 / B for octaves, B the
// bandwidth. Decays shorter than B T = 16 (after Jacobsen) are flagged.
//
// Decay curve: backward (Schroeder) integration of the energy envelope,
// E(t) = integral from t to t1 + C, t1 and C from Lundeby's iterative method
// (Lundeby, Vigran, Bietz and Vorlaender, Acustica 81, 1995):
//   1. the energy in blocks of 800/f + 10 ms (10 to 50 ms; 30 ms broadband);
//   2. the noise: the mean of the last 10 %;
//   3. a line from the loudest block down to the noise + 10 dB; where it
//      meets the noise is the first crossing;
//   4. blocks again, 5 per 10 dB of that line's decay;
//   5. the noise again, from 10 dB of decay past the crossing on (at least
//      the last 10 %);
//   6. a line over the 20 dB ending 10 dB above the noise; a new crossing;
//   7. 4 to 6 again until the crossing moves less than 10 ms (5 times at
//      most).
//   t1 is the crossing, C = N T / (6 ln 10) the energy an exponential decay
//   of the late line's T would have had from the noise level N on.
// With nothing to find (no noise at all, or no decay above it) t1 is the
// response's end and C is 0.
//
// Parameters: least-squares lines on 10 log10 E(t) / E(0), T = -60 / slope:
// EDT over 0 to -10 dB, T20 over -5 to -25 dB, T30 over -5 to -35 dB.
// C_te = 10 log10(E(0) / E(te) - 1), te = 50 or 80 ms; D50 = 1 - E(50 ms) /
// E(0); Ts = integral t p^2 / integral p^2 (the compensation's tail
// included).
//
// Every parameter carries flags (RoomFlag) saying why it is not to be
// trusted; a value with flags is shown marked, with flagText() as the reason.
//
// Threads: one object is used by one thread at a time; it keeps its
// transforms and buffers between analyses, so repeating an analysis of the
// same length and rate plans and allocates nothing but the results.
#pragma once

#include "common/Result.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace audimera {

struct RoomSettings {
    enum class Bands { Octave, Third };
    Bands bands = Bands::Octave;
    // Lundeby's truncation and compensation; false integrates plainly from
    // the response's end (to compare).
    bool truncate = true;
    // The nominal mid-band frequencies analysed, 20 Hz to 20 kHz; 0: ISO
    // 3382-1's, octaves 63 Hz to 8 kHz and thirds 50 Hz to 10 kHz.
    double lowestHz = 0;
    double highestHz = 0;
};

// Why a value is not to be trusted: bits of RoomValue::flags.
enum RoomFlag : unsigned {
    LowCorrelation = 1u << 0, // the fit's |r| below 0.98
    LowPeakToNoise = 1u << 1, // PNR below 20 dB (EDT), 35 dB (T20), 45 dB (T30)
    FilterLimited = 1u << 2,  // bandwidth times decay time below 16 (Jacobsen)
    NoValue = 1u << 3,        // the decay never reaches the range, or the response is too short
};

struct RoomValue {
    std::optional<double> value;
    unsigned flags = 0;

    // A value to show as it is.
    bool plain() const { return value.has_value() && flags == 0; }
};

// A least-squares line on the decay in dB: level = intercept + slope t,
// t in seconds from the start.
struct RoomFit {
    double slope = 0;     // dB/s
    double intercept = 0; // dB
    double r = 0;         // correlation; 0 without a fit
    bool valid = false;
};

struct RoomBandPlan {
    double centreHz = 0; // exact mid-band frequency; 0 for broadband
    double lowerHz = 0;
    double upperHz = 0;
    int fraction = 0; // b: 1 octave, 3 third; 0 broadband
    std::string label; // nominal: "63", "1k", "1.25k"; "Broadband"
};

struct RoomBand {
    RoomBandPlan band;
    RoomValue edt, t20, t30; // s
    RoomValue c50, c80;      // dB
    RoomValue d50;           // 0 to 1
    RoomValue ts;            // ms
    double pnrDb = 0;        // peak over the noise (200 at most: no noise found)
    double truncation = 0;   // t1, s after the start
    double correction = 0;   // C as a share of E(0)
    RoomFit edtFit, t20Fit, t30Fit; // on the decay curve, dB re E(0); r of each fit in it
    // Lundeby's last line, on the smoothed energy envelope in dB re its
    // loudest point (invalid without truncation), and the noise level on the
    // same scale.
    RoomFit lateFit;
    double noiseDb = 0;
    // The decay curve 10 log10 E(t) / E(0) from the start to t1, one point
    // every decayStep seconds (a few thousand points at most).
    double decayStep = 0;
    std::vector<float> decayDb;
};

struct RoomResults {
    int rate = 0;
    std::size_t startSample = 0;
    std::vector<RoomBand> bands; // broadband first, then up in frequency
};

// The limits of a filter's attenuation re its mid-band attenuation, dB.
struct AttenuationLimits {
    double min = 0;
    double max = 0; // +infinity: none
};

// A band filter held against the class-1 mask.
struct MaskCheck {
    double worstMarginDb = 0; // smallest distance inside the limits (negative: outside)
    double worstHz = 0;
    int points = 0;
};

class RoomAcoustics {
public:
    RoomAcoustics();
    ~RoomAcoustics();
    RoomAcoustics(const RoomAcoustics&) = delete;
    RoomAcoustics& operator=(const RoomAcoustics&) = delete;

    // n samples of a response at rate Hz. Fails (BadInput) for an empty
    // response, one without a clear start (silent or not finite), or one that
    // ends less than 0.1 s after its start.
    Result<RoomResults> analyse(const float* response, std::size_t n, int rate, const RoomSettings& settings = {});

    // The bands analysed at rate (broadband not included).
    static std::vector<RoomBandPlan> bandPlan(const RoomSettings& settings, int rate);

    // The band filter's magnitude at hz (1 at the mid-band frequency).
    static double bandGain(const RoomBandPlan& band, double hz);

    // The class-1 limits of relative attenuation at omega = f / fm for a
    // 1/fraction-octave filter: the octave table's breakpoints mapped by the
    // fractional-octave formula, linear in log frequency between them.
    static AttenuationLimits classOneLimits(double omega, int fraction);

    // bandGain() against classOneLimits() at 200 frequencies, spaced
    // logarithmically over the mask's range (the octave table's G^-5 to G^5,
    // mapped) below half the rate.
    static MaskCheck checkClassOneMask(const RoomBandPlan& band, int rate);

    // The reason for one flag, for a tool tip or a legend.
    static const char* flagReason(RoomFlag flag);
    // The reasons for every flag set, joined by "; ".
    static std::string flagText(unsigned flags);

    // What each decay time needs of the peak-to-noise ratio, dB.
    static constexpr double EdtPnrDb = 20;
    static constexpr double T20PnrDb = 35;
    static constexpr double T30PnrDb = 45;
    static constexpr double MinCorrelation = 0.98;
    static constexpr double MinBandwidthTime = 16;

private:
    struct Work;
    std::unique_ptr<Work> m_work;
};

} // namespace audimera
