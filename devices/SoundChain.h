// What stands between the simulated sound card's output and its input: a
// list of elements applied in order to the 44100 Hz stream (gain, filters,
// noise, delay, glitches), with state that carries across blocks.
//
// Text form, as used on command lines and in demos: comma-separated items
// applied in the order written; an empty text is a perfect loopback.
//   gain=DB        multiply by 10^(DB/20)
//   lowpass=HZ     first-order low-pass, -3.01 dB at HZ
//   highpass=HZ    first-order high-pass, -3.01 dB at HZ
//   lowpass2=HZ    second-order Butterworth low-pass, -3.01 dB at HZ
//   highpass2=HZ   second-order Butterworth high-pass, -3.01 dB at HZ
//   noise=DBFS     add white Gaussian noise of that RMS level relative to
//                  32768 (reproducible: fixed seed)
//   delay=MS       delay by nearest(MS * 44.1) samples, silence first
//   drop=N         drop every N-th sample (N >= 2), shortening the stream
//   drift=PPM      a record clock apart from the play clock (-1000..1000):
//                  the stream is resampled as a clock (1 + PPM 1e-6) times
//                  faster would record it (band-limited, see
//                  ClockOffset::Interpolator), so +PPM lengthens it and a
//                  tone of f Hz comes out at f / (1 + PPM 1e-6) Hz. Each
//                  output sample is exact as soon as the input 64 samples
//                  beyond it has arrived, so the first outputs come that
//                  much later.
//   clip=LEVEL     clip to +-LEVEL (16-bit sample units)
//   poly=A2,A3     memoryless distortion y = x + A2*x^2 + A3*x^3, x and y on
//                  full scale (1.0 = 32768); the one item whose value holds
//                  a comma (A2 and A3 from -10 to 10). A sine of peak a (full
//                  scale) comes out as DC A2*a^2/2, the fundamental at
//                  a + 3*A3*a^3/4, a 2nd harmonic of peak A2*a^2/2 and a 3rd
//                  of peak A3*a^3/4 (polyHarmonic()). Band-limited: the
//                  harmonics at or above half the rate are left out rather
//                  than folded back, and the stream comes out
//                  BandLimitedPoly::Latency (138) samples late.
//   silence, mute  replace everything by 0
//   refchannel=left|right|none
//                  not a step of the stream: which channel of the simulated
//                  card's stereo recording is the direct loopback of its
//                  output (none: a reference that carries nothing); see
//                  SimulatedSoundCard. The last one written counts.
//   input=left|right
//                  not a step of the stream either: the sound reaches only
//                  that input of the simulated card (a single microphone on
//                  a two-input card); the other input hears silence. Without
//                  it the sound reaches both inputs alike.
// The filters are bilinear transforms with the corner pre-warped, so their
// exact magnitude at any frequency is known: see magnitudeDb().
#pragma once

#include "common/AudioFormat.h"
#include "signal/BandLimitedPoly.h"
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace audimera {

class SoundChain {
public:
    static constexpr int SampleRate = audimera::SampleRate;

    // A perfect loopback.
    SoundChain() = default;

    // Builds a chain from its text form; on a bad text returns nothing and
    // sets error to a message naming the offending item.
    static std::optional<SoundChain> parse(std::string_view text, std::string& error);

    bool isEmpty() const { return m_elements.empty(); }
    int size() const { return int(m_elements.size()); }

    // Runs samples (16-bit scale) through the chain in place. The result may
    // be shorter than the input (drop, drift) or longer (drift).
    void process(std::vector<double>& samples);

    // Back to the state of a fresh chain: filters and delay lines empty,
    // noise generators at their seed, drop counters at zero.
    void reset();

    // Exact steady-state magnitude of the chain's linear part at hz (0 <
    // hz < 22050), in dB: gains and filters. Noise, delay, drop, clip and
    // poly (whose small-signal gain is 1) and drift do not change it; silence makes it
    // -infinity.
    double magnitudeDb(double hz) const;

    // What y = x + a2*x^2 + a3*x^3 makes of x = amplitude*sin(t) (full
    // scale 1.0): y = h0 + h1*sin(t) - h2*cos(2t) - h3*sin(3t), where hN is
    // this for order N (0 for orders above 3).
    static double polyHarmonic(int order, double amplitude, double a2, double a3);

    // The refchannel item: which record channel is the direct loopback.
    enum class Reference { Unset, Left, Right, None };
    Reference reference() const { return m_reference; }

    // The drift items' offset together, in ppm (0 without one): what a
    // recording through this chain shows of the record clock.
    double driftPpm() const;

    // The input item: which record input hears the sound (Both: each).
    enum class Input { Both, Left, Right };
    Input input() const { return m_input; }

    // The input sample at which the drop items first drop one (N - 1 for
    // drop=N, the least of them), or nothing without one: where a card with
    // this chain has lost sound.
    std::optional<std::size_t> firstDrop() const;

private:
    enum class Kind { Gain, LowPass, HighPass, LowPass2, HighPass2, Noise, Delay, Drop, Clip, Poly, Silence, Drift };

    struct Element {
        Kind kind = Kind::Gain;
        double value = 0.0; // as written: dB, Hz, dBFS, ms, N, level or A2
        double value2 = 0.0; // A3
        // Gain factor, noise standard deviation or clip level.
        double amount = 1.0;
        // Biquad (first-order ones have b2 = a2 = 0), transposed direct form II.
        double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
        double z1 = 0.0, z2 = 0.0;
        // Noise generator.
        uint64_t seed = 0, rng = 0;
        bool hasSpare = false;
        double spare = 0.0;
        // Delay line and drop counter; drift's input history (line,
        // line[0] being input sample lineStart) and outputs written.
        std::vector<double> line;
        size_t linePos = 0;
        int count = 0;
        int64_t lineStart = 0;
        int64_t outputs = 0;
        // The poly item, formed at twice the rate.
        BandLimitedPoly poly;
    };

    static std::optional<Element> parseItem(std::string_view item, int position, std::string& error);
    static double gaussian(Element& e);
    static void drift(Element& e, std::vector<double>& samples);

    std::vector<Element> m_elements;
    Reference m_reference = Reference::Unset;
    Input m_input = Input::Both;
};

} // namespace audimera
