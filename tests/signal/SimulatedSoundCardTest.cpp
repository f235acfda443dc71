#include "devices/SimulatedSoundCard.h"

#include "tests/support/ResultPrinter.h"
#include "common/Rounding.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

namespace audimera {

namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr int Rec = SoundDevice::RecordSamples;

using Block = std::vector<int16_t>;

// A waiter whose answer (and side effects) a test scripts per call.
class ScriptedWaiter : public RecordWaiter {
public:
    std::function<bool(int call)> onWait = [](int) { return true; };
    int calls = 0;
    bool waitOnce() override { return onWait(++calls); }
};

// A 25001-entry table as the generators fill it: a ramp that makes every
// sample's origin visible, with the never-played entry set apart.
std::vector<int16_t> rampTable()
{
    std::vector<int16_t> t(SoundDevice::PlaySamples + 1);
    for (int i = 0; i < SoundDevice::PlaySamples; ++i)
        t[i] = int16_t(i - 12500);
    t[SoundDevice::PlaySamples] = 32000;
    return t;
}

std::vector<int16_t> sineTable()
{
    std::vector<int16_t> t(SoundDevice::PlaySamples + 1, 0);
    for (int i = 0; i < SoundDevice::PlaySamples; ++i)
        t[i] = int16_t(audimera::nearest(std::sin(i * (2 * 3.14159265358979 / 100)) * 16000));
    return t;
}

struct OpenCard : SimulatedSoundCard {
    OpenCard()
    {
        EXPECT_EQ(openOutputDevice(0).message(), "");
        EXPECT_EQ(openInputDevice(0).message(), "");
    }
};

Block record(SimulatedSoundCard& card)
{
    Block b(Rec + 1, 7777);
    ScriptedWaiter waiter;
    EXPECT_EQ(card.RecordBlock(b.data(), waiter), Recorded::Complete);
    EXPECT_EQ(b[Rec], 7777) << "nothing beyond the block is written";
    b.resize(Rec);
    return b;
}

// Amplitude of a sine at hz in a block, by least squares.
double amplitude(const Block& b, double hz)
{
    double cc = 0, ss = 0, cs = 0, yc = 0, ys = 0;
    for (int m = 0; m < int(b.size()); ++m) {
        const double c = std::cos(2 * Pi * hz * m / 44100), s = std::sin(2 * Pi * hz * m / 44100);
        cc += c * c, ss += s * s, cs += c * s, yc += b[m] * c, ys += b[m] * s;
    }
    const double det = cc * ss - cs * cs;
    return std::hypot((yc * ss - ys * cs) / det, (ys * cc - yc * cs) / det);
}

TEST(SimulatedSoundCard, ListsAndOpensDevices)
{
    SimulatedSoundCard card;
    ASSERT_EQ(card.playDevices().size(), 1u);
    ASSERT_EQ(card.recordDevices().size(), 1u);
    EXPECT_EQ(card.playDevices()[0].name, "simulated");
    EXPECT_EQ(card.recordDevices()[0].description, "Simulated sound card");
    EXPECT_EQ(card.outputDevice(), -1) << "closed until opened";
    EXPECT_EQ(card.inputDevice(), -1);

    std::vector<SoundDeviceInfo> six;
    for (int i = 1; i <= 6; ++i)
        six.push_back({"out" + std::to_string(i), "Output " + std::to_string(i)});
    SimulatedSoundCard many(six, {{"a", "A"}, {"b", "B"}});
    EXPECT_EQ(many.playDevices().size(), 6u);
    EXPECT_EQ(many.playDevices()[5].description, "Output 6");
    EXPECT_EQ(many.recordDevices().size(), 2u);
    EXPECT_EQ(many.openOutputDevice(4).message(), "");
    EXPECT_EQ(many.openInputDevice(1).message(), "");
    EXPECT_NE(many.openInputDevice(2).message(), "") << "missing index";
    EXPECT_NE(many.openOutputDevice(-1).message(), "");
    EXPECT_EQ(many.outputDevice(), 4) << "the previous device stays";
    EXPECT_EQ(many.inputDevice(), 1);
    many.failNextOpen("device busy");
    EXPECT_EQ(many.openOutputDevice(0).message(), "device busy");
    EXPECT_EQ(many.outputDevice(), 4);
    EXPECT_EQ(many.openOutputDevice(0).message(), "") << "the failure was for one open only";
    many.closeAudio();
    EXPECT_EQ(many.outputDevice(), -1);
    EXPECT_EQ(many.inputDevice(), -1);

    SimulatedSoundCard none({}, {});
    EXPECT_TRUE(none.playDevices().empty());
    EXPECT_NE(none.openOutputDevice(0).message(), "");
    EXPECT_NE(none.openInputDevice(0).message(), "");
}

TEST(SimulatedSoundCard, NeedsItsDevicesOnlyWhereTheCardWould)
{
    SimulatedSoundCard card;
    const std::vector<int16_t> table = rampTable();
    EXPECT_NE(card.PlayLoop(table.data(), 44100).message(), "");
    EXPECT_EQ(card.playLoopCount(), 0);
    card.SetPlayRate(5000); // without a play device: nothing happens
    card.SetPlayVolume(-600);
    card.SetPlayPan(300);
    card.StopPlayback();
    EXPECT_EQ(card.playRate(), 44100);
    EXPECT_EQ(card.volume(), 0);
    EXPECT_EQ(card.pan(), 0);

    Block b(Rec);
    ScriptedWaiter waiter;
    EXPECT_NE(card.RecordBlock(b.data(), waiter).message(), "");
}

TEST(SimulatedSoundCard, PlaysTheTableAtClampedRatesAndRecordsAContinuousStream)
{
    OpenCard card;
    const std::vector<int16_t> ramp = rampTable();
    EXPECT_EQ(card.PlayLoop(ramp.data(), 44100).message(), "");
    EXPECT_TRUE(card.isPlaying());
    EXPECT_EQ(card.playLoopCount(), 1);
    ASSERT_EQ(card.playTable().size(), size_t(SoundDevice::PlaySamples));
    EXPECT_TRUE(std::equal(card.playTable().begin(), card.playTable().end(), ramp.begin()));

    // A perfect loopback at 44100 records the table itself, looping, and the
    // second block goes on where the first ended.
    const Block first = record(card), second = record(card);
    for (int m = 0; m < Rec; ++m) {
        ASSERT_EQ(first[m], ramp[m % 25000]) << m;
        ASSERT_EQ(second[m], ramp[(Rec + m) % 25000]) << m;
    }
    EXPECT_EQ(card.recordedBlocks(), 2);

    card.SetPlayRate(50);
    EXPECT_EQ(card.playRate(), 100);
    card.SetPlayRate(150000);
    EXPECT_EQ(card.playRate(), 100000);
    EXPECT_EQ(card.PlayLoop(ramp.data(), 20).message(), "");
    EXPECT_EQ(card.playRate(), 100);
    EXPECT_EQ(card.playLoopCount(), 2);

    // At any rate the blocks are one stream: two blocks equal one long run
    // of the same player, and PlayLoop starts over from the first sample.
    const std::vector<int16_t> sine = sineTable();
    EXPECT_EQ(card.PlayLoop(sine.data(), 12345).message(), "");
    const Block a = record(card), b = record(card);
    TablePlayer reference;
    reference.setTable(sine.data());
    reference.setRate(12345);
    reference.start();
    std::vector<float> expected(2 * Rec);
    reference.render(expected.data(), 2 * Rec);
    for (int m = 0; m < Rec; ++m) {
        ASSERT_EQ(a[m], audimera::nearestSample(expected[m])) << m;
        ASSERT_EQ(b[m], audimera::nearestSample(expected[Rec + m])) << m;
    }

    card.StopPlayback();
    EXPECT_FALSE(card.isPlaying());
    EXPECT_EQ(record(card), Block(Rec, 0)) << "stopped: silence";
}

TEST(SimulatedSoundCard, AppliesVolumePanAndTheRecordedChannel)
{
    OpenCard card;
    const std::vector<int16_t> ramp = rampTable();
    auto expectScaled = [&](double gain, const char* what) {
        ASSERT_EQ(card.PlayLoop(ramp.data(), 44100).message(), "");
        const Block b = record(card);
        for (int m = 0; m < 25000; m += 7)
            ASSERT_EQ(b[m], audimera::nearestSample(ramp[m] * gain)) << what << ", sample " << m;
    };
    card.SetPlayVolume(-602);
    EXPECT_EQ(card.volume(), -602);
    expectScaled(std::pow(10.0, -602 / 2000.0), "volume -6.02 dB");
    card.SetPlayVolume(-10000);
    expectScaled(0.0, "volume -100 dB is silence");
    card.SetPlayVolume(0);

    card.SetPlayPan(-602); // right attenuated
    EXPECT_EQ(card.pan(), -602);
    expectScaled(1.0, "left channel, pan left");
    card.setRecordChannel(SimulatedSoundCard::Channel::Right);
    expectScaled(std::pow(10.0, -602 / 2000.0), "right channel, pan left");
    card.SetPlayPan(-10000);
    expectScaled(0.0, "right channel muted");
    card.SetPlayPan(602); // left attenuated
    expectScaled(1.0, "right channel, pan right");
    card.setRecordChannel(SimulatedSoundCard::Channel::Left);
    card.SetPlayVolume(-300);
    expectScaled(std::pow(10.0, -902 / 2000.0), "left channel, pan right, volume");

    // A new play device starts at full level, centred and stopped.
    EXPECT_EQ(card.openOutputDevice(0).message(), "");
    EXPECT_EQ(card.volume(), 0);
    EXPECT_EQ(card.pan(), 0);
    EXPECT_FALSE(card.isPlaying());
}

TEST(SimulatedSoundCard, PassesTheStreamThroughItsChain)
{
    OpenCard card;
    std::string error;
    const std::vector<int16_t> ramp = rampTable();

    card.setChain(*SoundChain::parse("delay=1", error));
    ASSERT_EQ(card.PlayLoop(ramp.data(), 44100).message(), "");
    Block b = record(card);
    for (int m = 0; m < 100; ++m)
        ASSERT_EQ(b[m], m < 44 ? 0 : ramp[m - 44]) << m;

    card.setChain(*SoundChain::parse("drop=10", error));
    ASSERT_EQ(card.PlayLoop(ramp.data(), 44100).message(), "");
    b = record(card);
    for (int m = 0; m < 1000; ++m)
        ASSERT_EQ(b[m], ramp[m + m / 9]) << m;

    // One-pole low-pass at the tone's frequency: -3.01 dB once settled.
    const std::vector<int16_t> sine = sineTable();
    card.setChain(SoundChain());
    ASSERT_EQ(card.PlayLoop(sine.data(), 100000).message(), "");
    record(card);
    const double open = amplitude(record(card), 1000);
    card.setChain(*SoundChain::parse("lowpass=1000", error));
    ASSERT_EQ(card.PlayLoop(sine.data(), 100000).message(), "");
    record(card);
    EXPECT_NEAR(20 * std::log10(amplitude(record(card), 1000) / open), -3.0103, 0.01);

    // The chain works on a stopped player's silence too.
    card.StopPlayback();
    card.setChain(*SoundChain::parse("noise=-40", error));
    b = record(card);
    double power = 0;
    for (int16_t v : b)
        power += double(v) * v;
    EXPECT_NEAR(std::sqrt(power / Rec), 327.68, 327.68 * 0.03);
}

TEST(SimulatedSoundCard, YieldsFailsStallsAndCancelsOnRequest)
{
    OpenCard card;
    const std::vector<int16_t> ramp = rampTable();
    ASSERT_EQ(card.PlayLoop(ramp.data(), 44100).message(), "");
    Block b(Rec);

    ScriptedWaiter once;
    EXPECT_EQ(card.RecordBlock(b.data(), once), Recorded::Complete);
    EXPECT_EQ(once.calls, 1) << "one yield per block by default";

    ScriptedWaiter refuses;
    refuses.onWait = [](int) { return false; };
    EXPECT_EQ(card.RecordBlock(b.data(), refuses), Recorded::Cancelled);
    EXPECT_EQ(refuses.calls, 1);
    EXPECT_EQ(card.recordedBlocks(), 1);

    card.failNextRecord("capture buffer lost");
    ScriptedWaiter w;
    EXPECT_EQ(card.RecordBlock(b.data(), w).message(), "capture buffer lost");
    EXPECT_EQ(card.RecordBlock(b.data(), w), Recorded::Complete) << "one failure only";

    card.setStalled(true);
    ScriptedWaiter patient;
    const std::string stalled = card.RecordBlock(b.data(), patient).message();
    EXPECT_EQ(patient.calls, 2000);
    EXPECT_NE(stalled.find("2 seconds"), std::string::npos) << stalled;
    ScriptedWaiter stops;
    stops.onWait = [](int call) { return call < 5; };
    EXPECT_EQ(card.RecordBlock(b.data(), stops), Recorded::Cancelled);
    EXPECT_EQ(stops.calls, 5);
    card.setStalled(false);

    // Several yields per block; what a yield changes acts on the rest of it.
    card.setWaitsPerBlock(3);
    ASSERT_EQ(card.PlayLoop(ramp.data(), 44100).message(), "");
    ScriptedWaiter quieter;
    quieter.onWait = [&](int call) {
        if (call == 2)
            card.SetPlayVolume(-10000);
        return true;
    };
    EXPECT_EQ(card.RecordBlock(b.data(), quieter), Recorded::Complete);
    EXPECT_EQ(quieter.calls, 3);
    EXPECT_EQ(b[9999], ramp[9999]);
    EXPECT_EQ(b[10000], 0);
    EXPECT_EQ(b[Rec - 1], 0);
    ScriptedWaiter closes;
    closes.onWait = [&](int) {
        card.closeAudio();
        return true;
    };
    EXPECT_NE(card.RecordBlock(b.data(), closes).message(), "");
}

TEST(SimulatedSoundCard, CapturesThePlayedPeriodThroughLevelChainAndInput)
{
    std::vector<float> period(1001);
    for (std::size_t i = 0; i < period.size(); ++i)
        period[i] = float(std::sin(0.37 * double(i * i))) * 0.9f;
    struct Case {
        const char* chain; RecordChannel channel; int volume, stretch; double gain;
    };
    for (const Case& c : {Case{"", RecordChannel::Mix, 0, 0, 1.0}, Case{"", RecordChannel::Left, 0, 997, 1.0},
                          Case{"input=left", RecordChannel::Mix, 0, 441, 0.5},
                          Case{"input=left", RecordChannel::Right, 0, 3000, 0.0},
                          Case{"", RecordChannel::Right, -602, 50, std::pow(10.0, -602 / 2000.0)}}) {
        OpenCard card;
        std::string error;
        card.setChain(*SoundChain::parse(c.chain, error));
        card.SetPlayVolume(c.volume);
        if (c.stretch > 0)
            card.setCaptureStretch(std::size_t(c.stretch));
        ASSERT_EQ(card.playPeriod(period).message(), "");
        ASSERT_EQ(card.startCapture(c.channel).message(), "");
        EXPECT_EQ(card.startCapture(c.channel).kind(), Failure::Busy);
        std::vector<float> got;
        while (got.size() < 3 * period.size()) { // reads follow on without a gap
            const Result<CaptureRead> read = card.readCapture(got);
            ASSERT_TRUE(read && !read->gap && read->frames == card.captureStretch()) << c.chain;
        }
        for (std::size_t m = 0; m < got.size(); ++m) // exact at full level
            ASSERT_NEAR(got[m], period[m % period.size()] * c.gain, c.gain == 1.0 ? 0.0 : 1e-6) << c.chain << m;
    }

    // Refusals both ways, a skip, a failure that ends the capture.
    OpenCard card;
    Block block(Rec);
    ScriptedWaiter waiter;
    std::vector<float> recorded, got;
    ASSERT_EQ(card.startCapture(RecordChannel::Mix).message(), "");
    EXPECT_EQ(card.RecordBlock(block.data(), waiter).kind(), Failure::Busy);
    EXPECT_EQ(card.playAndRecord({nullptr, 0, 44100, {}, 100}, recorded, waiter).kind(), Failure::Busy);
    card.skipCapture(5);
    EXPECT_TRUE(card.readCapture(got)->gap);
    card.failNextRecord("unplugged");
    EXPECT_EQ(card.readCapture(got).message(), "unplugged");
    EXPECT_FALSE(card.capturing());
    waiter.onWait = [&](int) { return !card.startCapture(RecordChannel::Mix); };
    EXPECT_EQ(card.RecordBlock(block.data(), waiter), Recorded::Complete) << "refused inside a block";
}

} // namespace

} // namespace audimera
