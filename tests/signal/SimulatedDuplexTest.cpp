// The simulated card's play-once run (playAndRecord) and the chain items made
// for it: poly and refchannel.
#include "devices/SimulatedSoundCard.h"

#include "tests/support/ResultPrinter.h"
#include "tests/signal/ChainParsing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace audimera {

namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr int Latency = SimulatedSoundCard::DuplexLatencyFrames;

class ScriptedWaiter : public RecordWaiter {
public:
    std::function<bool(int call)> onWait = [](int) { return true; };
    int calls = 0;
    bool waitOnce() override { return onWait(++calls); }
};


struct OpenCard : SimulatedSoundCard {
    explicit OpenCard(const std::string& chain = {})
    {
        EXPECT_EQ(openOutputDevice(0).message(), "");
        EXPECT_EQ(openInputDevice(0).message(), "");
        setChain(chainOf(chain));
    }
};

// A signal whose every sample tells where it came from.
std::vector<float> ramp(size_t n)
{
    std::vector<float> x(n);
    for (size_t i = 0; i < n; ++i)
        x[i] = float(i + 1) / float(n + 1) * (i % 2 ? -0.5f : 0.5f);
    return x;
}

DuplexRequest requestOf(const std::vector<float>& play, size_t recordFrames, int channels = 1)
{
    DuplexRequest r;
    r.play = play.data();
    r.playFrames = play.size();
    r.recordFrames = recordFrames;
    r.recordChannels = channels;
    return r;
}

std::vector<float> run(SimulatedSoundCard& card, const DuplexRequest& request)
{
    std::vector<float> recorded(3, 99.0f);
    ScriptedWaiter waiter;
    EXPECT_EQ(card.playAndRecord(request, recorded, waiter), Recorded::Complete);
    EXPECT_EQ(recorded.size(), request.recordFrames * size_t(request.recordChannels));
    return recorded;
}

TEST(SimulatedDuplex, ChainParsesPolyAndTheReferenceWiring)
{
    EXPECT_EQ(chainOf("lowpass=100, poly = -0.2 , 3e-1 ,gain=1,poly=0,0").size(), 4);
    EXPECT_EQ(chainOf("gain=1").reference(), SoundChain::Reference::Unset);
    EXPECT_EQ(chainOf("refchannel=left,gain=1").size(), 1) << "wiring, not a step";
    EXPECT_EQ(chainOf("refchannel=left,gain=1").reference(), SoundChain::Reference::Left);
    EXPECT_EQ(chainOf("refchannel=left,refchannel=right").reference(), SoundChain::Reference::Right);
    EXPECT_EQ(chainOf("refchannel=none").reference(), SoundChain::Reference::None);
    for (const char* item : {"poly=0.1", "poly", "poly=a,0", "poly=0.1,b", "poly=11,0", "poly=0,-10.5", "poly=0.1,",
                             "refchannel=up", "refchannel"}) {
        const std::string error = errorOf(std::string("gain=1,") + item);
        EXPECT_NE(error.find(std::string("'") + item + "'"), std::string::npos) << error;
    }
    EXPECT_NE(errorOf("poly=0.1,0.2,0.3").find("'0.3'"), std::string::npos) << "two numbers, no more";

    // On full scale, band-limited and BandLimitedPoly::Latency samples late
    // (a level held long enough comes out exact); its small-signal gain is 1.
    const std::size_t late = BandLimitedPoly::Latency;
    for (const auto& [in, out] : {std::pair{16384.0, 0.5 + 0.2 * 0.25 + 0.1 * 0.125}, {-32768.0, -1.0 + 0.2 - 0.1},
                                  {0.0, 0.0}}) {
        std::vector<double> x(4 * late, in);
        chainOf("poly=0.2,0.1").process(x);
        EXPECT_NEAR(x.back(), 32768.0 * out, 1e-9) << in;
    }
    std::vector<double> ramp(2 * late);
    for (std::size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = double(i);
    std::vector<double> delayed = ramp;
    chainOf("poly=0,0").process(delayed);
    for (std::size_t i = 0; i < ramp.size(); ++i)
        ASSERT_EQ(delayed[i], i < late ? 0.0 : ramp[i - late]) << i;
    EXPECT_EQ(chainOf("poly=0.5,0.5,lowpass=1000").magnitudeDb(1000), chainOf("lowpass=1000").magnitudeDb(1000));
}

// A recorded sine's DC and its harmonics 1 to 3 as sine and cosine parts,
// over whole periods of all of them.
struct Harmonics {
    double dc = 0, sine[4] = {}, cosine[4] = {};
};

Harmonics harmonicsOf(const float* x, size_t n, double cyclesPerSample)
{
    Harmonics h;
    for (size_t m = 0; m < n; ++m) {
        h.dc += x[m] / double(n);
        for (int k = 1; k <= 3; ++k) {
            h.sine[k] += 2 * x[m] * std::sin(2 * Pi * k * cyclesPerSample * double(m)) / double(n);
            h.cosine[k] += 2 * x[m] * std::cos(2 * Pi * k * cyclesPerSample * double(m)) / double(n);
        }
    }
    return h;
}

TEST(SimulatedDuplex, PolyGivesItsAnalyticHarmonicsOnASine)
{
    // 1000 Hz is 441 samples per 10 periods; 100 periods are analysed.
    const double cycles = 10.0 / 441.0;
    const size_t analysed = 4410;
    const struct {
        const char* chain;
        double amplitude; // full scale, what reaches poly
        double a2, a3;
        double after; // gain after poly
    } cases[] = {
        {"poly=0.1,0.05", 0.5, 0.1, 0.05, 1.0},
        {"poly=-0.3,0", 0.5, -0.3, 0.0, 1.0},
        {"poly=0,-0.2", 0.5, 0.0, -0.2, 1.0},
        {"gain=-6.0205999132796,poly=0.2,0.1", 0.25, 0.2, 0.1, 1.0},
        {"poly=0.2,0.1,gain=-6.0205999132796", 0.5, 0.2, 0.1, 0.5},
    };
    for (const auto& c : cases) {
        OpenCard card(c.chain);
        std::vector<float> sine(8820);
        for (size_t m = 0; m < sine.size(); ++m)
            sine[m] = float(0.5 * std::sin(2 * Pi * cycles * double(m)));
        const std::vector<float> recorded = run(card, requestOf(sine, sine.size() + Latency));
        // poly's output comes BandLimitedPoly::Latency samples late.
        const Harmonics h = harmonicsOf(recorded.data() + Latency + BandLimitedPoly::Latency + 2205, analysed, cycles);
        const auto expected = [&](int order) {
            return c.after * SoundChain::polyHarmonic(order, c.amplitude, c.a2, c.a3);
        };
        // y = h0 + h1 sin t - h2 cos 2t - h3 sin 3t, within float rounding.
        const double got[] = {h.dc, h.sine[1], -h.cosine[2], -h.sine[3], h.cosine[1], h.sine[2], h.cosine[3]};
        const double want[] = {expected(0), expected(1), expected(2), expected(3), 0, 0, 0};
        for (int i = 0; i < 7; ++i)
            EXPECT_NEAR(got[i], want[i], 2e-6) << c.chain << ", term " << i;
    }
    // As the distortion analysis reads them: -6 dBFS with poly=0.1,0.05,
    // H2 at 20 log10(0.0125 / (0.5 + 0.0046875)) = -32.12 dB.
    const double h2 = SoundChain::polyHarmonic(2, 0.5, 0.1, 0.05), h1 = SoundChain::polyHarmonic(1, 0.5, 0.1, 0.05);
    EXPECT_NEAR(20 * std::log10(h2 / h1), -32.12, 0.005);
}

TEST(SimulatedDuplex, PlaysOnceWithItsLatencyAndRecordsFloat)
{
    OpenCard card;
    const std::vector<float> play = ramp(5000);
    std::vector<float> recorded = run(card, requestOf(play, 6000));
    for (size_t f = 0; f < recorded.size(); ++f) {
        const float expected = f >= size_t(Latency) && f - Latency < play.size() ? play[f - Latency] : 0.0f;
        ASSERT_EQ(recorded[f], expected) << f;
    }

    // No latency: the signal itself.
    card.setDuplexLatency(0);
    EXPECT_EQ(run(card, requestOf(play, 5000)), play);

    // Clamped to full scale: clipping shows; a silent chain records zeros.
    card.setChain(chainOf("gain=12"));
    recorded = run(card, requestOf(play, 5000));
    EXPECT_EQ(*std::max_element(recorded.begin(), recorded.end()), 1.0f);
    EXPECT_EQ(*std::min_element(recorded.begin(), recorded.end()), -1.0f);

    // The chain starts clean each run (noise repeats); one that drops
    // samples is a card that lost them.
    card.setChain(chainOf("noise=-40"));
    EXPECT_EQ(run(card, requestOf(play, 3000)), run(card, requestOf(play, 3000)));
    card.setChain(chainOf("drop=2"));
    ScriptedWaiter waiter;
    EXPECT_EQ(card.playAndRecord(requestOf(play, 2500), recorded, waiter).message(), SoundDevice::LostSamplesError);

}

TEST(SimulatedDuplex, WiresTheReferenceChannel)
{
    using Channels = DuplexRequest::Channels;
    using Channel = SimulatedSoundCard::Channel;
    const double g = 0.5; // the chain's gain: through it or direct tells apart
    const struct {
        const char* what;
        int channels;
        Channels play;
        Channel reference; // set on the card
        const char* chain;
        double left, right; // what each record channel carries
    } cases[] = {
        {"default: reference right", 2, Channels::Both, Channel::Right, "gain=-6.0205999132796", g, 1},
        {"reference left", 2, Channels::Both, Channel::Left, "gain=-6.0205999132796", 1, g},
        {"chain says left", 2, Channels::Both, Channel::Right, "refchannel=left,gain=-6.0205999132796", 1, g},
        {"chain wins", 2, Channels::Both, Channel::Left, "gain=-6.0205999132796,refchannel=right", g, 1},
        {"unplugged reference", 2, Channels::Both, Channel::Right, "refchannel=none,gain=-6.0205999132796", g, 0},
        {"unplugged left reference", 2, Channels::Both, Channel::Left, "refchannel=none,gain=-6.0205999132796", 0, g},
        {"left output only", 2, Channels::Left, Channel::Right, "gain=-6.0205999132796", g, 0},
        {"right output only", 2, Channels::Right, Channel::Right, "gain=-6.0205999132796", 0, 1},
        {"mono", 1, Channels::Both, Channel::Right, "gain=-6.0205999132796", g, 0},
        {"mono, its output silent", 1, Channels::Right, Channel::Right, "gain=-6.0205999132796", 0, 0},
    };
    const std::vector<float> play = ramp(3000);
    for (const auto& c : cases) {
        OpenCard card(c.chain);
        card.setReferenceChannel(c.reference);
        DuplexRequest request = requestOf(play, 3500, c.channels);
        request.playChannels = c.play;
        const std::vector<float> recorded = run(card, request);
        const size_t n = size_t(c.channels);
        for (size_t f = 0; f < 3500; f += 7) {
            const double x = f >= size_t(Latency) && f - Latency < play.size() ? play[f - Latency] : 0.0;
            ASSERT_NEAR(recorded[n * f], c.left * x, 1e-7) << c.what << ", frame " << f;
            if (n == 2) {
                ASSERT_NEAR(recorded[n * f + 1], c.right * x, 1e-7) << c.what << ", frame " << f;
            }
        }
    }

    // The chain's delay is the device's under test; the reference has the
    // card's latency only.
    OpenCard card("refchannel=left,delay=1");
    const std::vector<float> recorded = run(card, requestOf(play, 1000, 2));
    EXPECT_EQ(card.referenceChannel(), Channel::Left);
    for (size_t f = 0; f < 1000; ++f) {
        ASSERT_EQ(recorded[2 * f], f >= size_t(Latency) ? play[f - Latency] : 0.0f) << f;
        ASSERT_EQ(recorded[2 * f + 1], f >= size_t(Latency + 44) ? play[f - Latency - 44] : 0.0f) << f;
    }
}

TEST(SimulatedDuplex, WaitsReportsProgressAndFailsOnRequest)
{
    const std::vector<float> play = ramp(4000);
    std::vector<double> progress;
    DuplexRequest request = requestOf(play, 4000);
    request.progress = [&](double done) { progress.push_back(done); };
    std::vector<float> recorded;

    OpenCard card;
    ASSERT_EQ(card.PlayLoop(std::vector<int16_t>(SoundDevice::PlaySamples + 1, 100).data(), 44100).message(), "");
    card.setWaitsPerBlock(4);
    ScriptedWaiter four;
    EXPECT_EQ(card.playAndRecord(request, recorded, four), Recorded::Complete);
    EXPECT_EQ(four.calls, 4);
    EXPECT_EQ(progress, (std::vector<double>{0.25, 0.5, 0.75, 1.0}));
    EXPECT_FALSE(card.isPlaying()) << "the looping table is stopped first";

    ScriptedWaiter gives;
    gives.onWait = [](int call) { return call < 3; };
    EXPECT_EQ(card.playAndRecord(request, recorded, gives), Recorded::Cancelled);
    EXPECT_EQ(gives.calls, 3);

    // Lost samples fail the run, with the recording made up to there.
    progress.clear();
    card.loseSamplesAt(2500);
    ScriptedWaiter w;
    EXPECT_EQ(card.playAndRecord(request, recorded, w).message(), SoundDevice::LostSamplesError);
    EXPECT_EQ(progress, (std::vector<double>{0.25, 0.5}));
    EXPECT_EQ(card.playAndRecord(request, recorded, w), Recorded::Complete) << "once only";

    card.failNextRecord("capture failed");
    EXPECT_EQ(card.playAndRecord(request, recorded, w).message(), "capture failed");
    card.setStalled(true);
    ScriptedWaiter patient;
    EXPECT_EQ(card.playAndRecord(request, recorded, patient).message(), SimulatedSoundCard::StalledError);
    EXPECT_EQ(patient.calls, SimulatedSoundCard::MaxStallWaits);
    card.setStalled(false);

    ScriptedWaiter closes;
    closes.onWait = [&](int call) {
        if (call == 2)
            card.closeAudio();
        return true;
    };
    EXPECT_NE(card.playAndRecord(request, recorded, closes).message(), "");
    EXPECT_NE(card.playAndRecord(request, recorded, w).message(), "") << "no device open";

    // Requests the card cannot run, refused before any wait.
    OpenCard open;
    for (auto spoil : {+[](DuplexRequest& r) { r.rate = 48000; }, +[](DuplexRequest& r) { r.play = nullptr; },
                       +[](DuplexRequest& r) { r.recordFrames = 0; }, +[](DuplexRequest& r) { r.recordChannels = 3; }}) {
        DuplexRequest spoilt = requestOf(play, 4000);
        spoil(spoilt);
        ScriptedWaiter unused;
        EXPECT_NE(open.playAndRecord(spoilt, recorded, unused).message(), "");
        EXPECT_EQ(unused.calls, 0);
    }
}

} // namespace

} // namespace audimera
