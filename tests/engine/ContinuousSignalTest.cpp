// The continuous signal through the session: its calibration, the tables
// and rates each signal plays, stops, refusals and failures, with the
// observer's choice in and the device's calls and the observer's reports out.
#include "tests/engine/EngineFixture.h"

#include <algorithm>
#include <memory>
#include <optional>

namespace audimera {

namespace {

class ContinuousSignalTest : public LoopbackSessionTest {
protected:
    SignalSettings settings;
    RunEnd end = RunEnd::None;

    // Starts the observer's signal afresh, lets `blocks` blocks be recorded,
    // then stops it from inside the run.
    void play(int blocks)
    {
        const int stopAt = card.records + blocks;
        auto stopped = std::make_shared<bool>(false);
        host.everyYield([this, stopAt, stopped] {
            if (!*stopped && session.playing() && card.records >= stopAt) {
                *stopped = true;
                session.stop();
            }
        });
        session.choose(observer.signal.kind);
        (void)session.runSignal(settings);
        end = session.lastRunEnd();
    }

    void expectIdle()
    {
        EXPECT_FALSE(session.playing());
        EXPECT_FALSE(card.playing);
    }
};

TEST_F(ContinuousSignalTest, UncalibratedStartPlaysSilenceNoiseThenTheSignal)
{
    play(5);
    ASSERT_EQ(observer.sounds.size(), 3u);
    EXPECT_EQ(observer.sounds[0].first, Sound::Silence);
    EXPECT_EQ(observer.sounds[1].first, Sound::WhiteNoise);
    EXPECT_EQ(observer.sounds[2], std::make_pair(Sound::Tone, 100.0));
    EXPECT_TRUE(session.calibrated());
    EXPECT_GT(session.noise(), 0);
    EXPECT_EQ(observer.calibrations, 1);
    const auto loops = device.of(Call::Loop);
    ASSERT_EQ(loops.size(), 2u);
    EXPECT_EQ(loops[0].table, session.whiteNoiseTable().data());
    EXPECT_EQ(loops[1].rate, 10000);
    EXPECT_EQ(observer.levels.size(), 3u); // the blocks after the two calibration passes
    EXPECT_EQ(traceCount(document), 0);    // the signal adds no points
    EXPECT_EQ(end, RunEnd::Stopped);
    EXPECT_TRUE(observer.ends.empty());
    expectIdle();
}

TEST_F(ContinuousSignalTest, EachSignalPlaysItsTableAtItsRate)
{
    calibrated();
    const int16_t* white = session.whiteNoiseTable().data();
    const int16_t* pink = session.pinkNoiseTable().data();
    struct Case {
        int kind;
        Sound sound;
        const int16_t* table; // nullptr: the tone table
        int rate;
        std::optional<int16_t> first; // the tone table's first sample
    } cases[] = {
        {SignalChoice::Sine, Sound::Tone, nullptr, 10000, {}},
        {SignalChoice::Square, Sound::Tone, nullptr, 10000, 8000},
        {SignalChoice::Triangle, Sound::Tone, nullptr, 10000, -5000},
        {SignalChoice::PinkNoise, Sound::PinkNoise, pink, 44100, {}},
        {SignalChoice::WhiteNoise, Sound::WhiteNoise, white, 44100, {}},
    };
    for (const Case& c : cases) {
        device.calls.clear();
        observer.signal.kind = c.kind;
        play(1);
        const auto loops = device.of(Call::Loop);
        ASSERT_EQ(loops.size(), 1u) << c.kind;
        EXPECT_EQ(observer.sounds.back().first, c.sound) << c.kind;
        EXPECT_EQ(loops[0].rate, c.rate) << c.kind;
        if (c.table) {
            EXPECT_EQ(loops[0].table, c.table) << c.kind;
        } else {
            EXPECT_TRUE(loops[0].table != white && loops[0].table != pink) << c.kind;
            if (c.first) {
                EXPECT_EQ(loops[0].head[0], *c.first) << c.kind;
            }
        }
        expectIdle();
    }
    observer.signal.kind = SignalChoice::Square;
    play(1);
    EXPECT_EQ(device.of(Call::Loop).back().head[30], -8000);

    device.calls.clear();
    observer.signal.kind = SignalChoice::Silence;
    play(2);
    EXPECT_EQ(device.count(Call::Loop), 0);
    EXPECT_EQ(observer.sounds.back().first, Sound::Silence);
}

TEST_F(ContinuousSignalTest, LowSignalDuringItsCalibration)
{
    card.gain = 0;
    host.answer(MessageAnswer::No);
    play(50);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, MainPresenter::LowSignalQuestion);
    EXPECT_EQ(card.records, 2);
    EXPECT_FALSE(session.calibrated());
    EXPECT_EQ(end, RunEnd::LowSignalDeclined);
    EXPECT_EQ(observer.ends, std::vector<RunEnd>{RunEnd::LowSignalDeclined});
    expectIdle();

    host.answer(MessageAnswer::Yes);
    play(3);
    EXPECT_NEAR(session.calibration(), 2e-10 / 1.16, 1e-20);
    expectIdle();
}

TEST_F(ContinuousSignalTest, StopsDuringTheRunLeaveNothingPlaying)
{
    // Stopped during the yield that ends the white-noise calibration: the
    // signal must not be started afterwards.
    host.atYield(6, [&] { session.stop(); });
    EXPECT_EQ(session.runSignal(settings).kind(), Failure::Cancelled);
    EXPECT_EQ(card.records, 2);
    EXPECT_EQ(device.count(Call::Loop), 1); // the white noise only
    EXPECT_FALSE(session.calibrated());     // nor is its block the reference
    expectIdle();

    // Stopped while a block is recorded: no level from that block.
    calibrated();
    card.waitsPerRecord = 2;
    host.atYield(host.yields() + 2, [&] { session.stop(); });
    session.choose(SignalChoice::Sine);
    (void)session.runSignal(settings);
    EXPECT_TRUE(observer.levels.empty());
    expectIdle();
}

TEST_F(ContinuousSignalTest, BadBlocksGiveNoLevel)
{
    calibrated();
    card.tamper = [](int block, int16_t* b) {
        if (block >= 2)
            b[10000] = 32767;
    };
    play(4);
    EXPECT_EQ(observer.levels.size(), 1u);
}

TEST_F(ContinuousSignalTest, TheLiveLevelIsCorrected)
{
    calibrated();
    settings.corrections = &document.corrections();
    play(1);
    ASSERT_EQ(observer.levels.size(), 1u);
    CorrectionTable& corrections = document.corrections();
    std::fill(corrections.column(2), corrections.column(2) + CorrectionTable::Entries, 2.0);
    corrections.enabled[2] = true;
    play(1);
    ASSERT_EQ(observer.levels.size(), 2u);
    EXPECT_NEAR(observer.levels[1], observer.levels[0] - 2, 0.011);
}

TEST_F(ContinuousSignalTest, ADeviceFailureEndsTheSignalWithAMessage)
{
    calibrated();
    host.atYield(host.yields() + 4, [&] { card.failWith = "input unplugged"; });
    session.choose(SignalChoice::Sine);
    EXPECT_EQ(session.runSignal(settings).kind(), Failure::Device);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].icon, MessageIcon::Critical);
    EXPECT_NE(host.messages[0].text.find("input unplugged"), std::string::npos);
    EXPECT_EQ(observer.ends, std::vector<RunEnd>{RunEnd::DeviceFailed});
    expectIdle();
}

TEST_F(ContinuousSignalTest, AnUnknownSignalIsRefused)
{
    calibrated();
    observer.signal.kind = 9;
    session.choose(9);
    (void)session.runSignal(settings);
    EXPECT_FALSE(session.playing());
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, "Uh ?");
    EXPECT_EQ(host.messages[0].icon, MessageIcon::None);
}

} // namespace

} // namespace audimera
