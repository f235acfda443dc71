// Recording when things go wrong: the waiter gives up, nothing arrives, the
// server dies and comes back.
#include "tests/sound/PulseTestSupport.h"

namespace audimera {

using namespace pulsetest;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

TEST(PulseRecording, CancelledBlockLeavesTheBufferAloneAndTheNextOneWorks)
{
    REQUIRE_PULSE_SERVER();
    PrivateSink sink(sharedServer(), "cancel");
    PulseSoundDevice device(sharedServer());
    ASSERT_EQ(openLoopback(device, sink.name()), "");
    const Tone tone(440);
    ASSERT_EQ(device.PlayLoop(tone.table.data(), tone.rate).message(), "");

    std::vector<int16_t> block(SoundDevice::RecordSamples + 1, 0);
    TestWaiter waiter;
    waiter.hook = [](int call) { return call < 100; };
    EXPECT_EQ(device.RecordBlock(block.data(), waiter), Recorded::Cancelled);
    EXPECT_EQ(waiter.calls, 100);

    // Once RecordBlock has returned, the buffer is the caller's again.
    std::fill(block.begin(), block.end(), int16_t(1234));
    sleepMs(100);
    EXPECT_EQ(std::count(block.begin(), block.end(), int16_t(1234)), long(block.size()));

    TestWaiter patient;
    ASSERT_EQ(device.RecordBlock(block.data(), patient), Recorded::Complete);
    EXPECT_GT(blockAmplitude(block.data(), SoundDevice::RecordSamples, 440), SinePeak * 0.9);
    EXPECT_EQ(block[SoundDevice::RecordSamples], 1234); // nothing past the block
    // A block takes its capture time, polling the waiter all along.
    EXPECT_GT(patient.calls, 300);
}

TEST(PulseRecording, NothingArrivingFailsTheBlockAfterTwoSeconds)
{
    REQUIRE_PULSE_SERVER();
    PrivateSink sink(sharedServer(), "stall");
    PulseSoundDevice device(sharedServer());
    ASSERT_EQ(openLoopback(device, sink.name()), "");

    // A suspended sink has a suspended monitor: the stream stays up but
    // delivers nothing.
    ASSERT_EQ(pactl(sharedServer(), "suspend-sink " + sink.name() + " 1").status, 0);
    std::vector<int16_t> block(SoundDevice::RecordSamples + 1);
    TestWaiter waiter;
    const auto start = Clock::now();
    EXPECT_EQ(device.RecordBlock(block.data(), waiter).message(), PulseRecordStream::StalledError);
    EXPECT_GE(secondsSince(start), 1.9);
    EXPECT_LT(secondsSince(start), 3.0);

    ASSERT_EQ(pactl(sharedServer(), "suspend-sink " + sink.name() + " 0").status, 0);
    EXPECT_EQ(device.RecordBlock(block.data(), waiter), Recorded::Complete);
}

TEST(PulseRecording, VanishedDeviceFailsTheBlock)
{
    REQUIRE_PULSE_SERVER();
    auto sink = std::make_unique<PrivateSink>(sharedServer(), "vanish");
    PulseSoundDevice device(sharedServer());
    ASSERT_EQ(openLoopback(device, sink->name()), "");
    const Tone tone(440);
    ASSERT_EQ(device.PlayLoop(tone.table.data(), tone.rate).message(), "");

    std::vector<int16_t> block(SoundDevice::RecordSamples + 1);
    TestWaiter waiter;
    waiter.hook = [&](int call) {
        if (call == 100)
            sink->unload();
        return true;
    };
    const auto start = Clock::now();
    EXPECT_NE(device.RecordBlock(block.data(), waiter).message(), "");
    EXPECT_LT(secondsSince(start), 3.0);
    // The play stream went with its sink.
    EXPECT_NE(device.PlayLoop(tone.table.data(), tone.rate).message(), "");
}

TEST(PulseRecording, DeadServerFailsTheBlockAndARestartedOneIsUsedAgain)
{
    REQUIRE_PULSE_SERVER();
    PrivateServer server;
    ASSERT_EQ(server.start(), "");
    PulseSoundDevice device(server.address());
    ASSERT_EQ(openLoopback(device, "audimera_test"), "");
    const int output = device.outputDevice();
    const int input = device.inputDevice();
    const Tone tone(440);
    ASSERT_EQ(device.PlayLoop(tone.table.data(), tone.rate).message(), "");

    std::vector<int16_t> block(SoundDevice::RecordSamples + 1);
    TestWaiter waiter;
    waiter.hook = [&](int call) {
        if (call == 100)
            server.kill();
        return true;
    };
    const auto start = Clock::now();
    EXPECT_NE(device.RecordBlock(block.data(), waiter).message(), "");
    EXPECT_LT(secondsSince(start), 3.0);
    EXPECT_FALSE(device.isConnected());

    // While it is down, everything fails at once and nothing hangs.
    EXPECT_NE(device.PlayLoop(tone.table.data(), tone.rate).message(), "");
    device.SetPlayRate(30000);
    device.SetPlayVolume(-602);
    device.StopPlayback();
    EXPECT_NE(device.RecordBlock(block.data(), waiter).message(), "");
    const std::string reopen = device.openOutputDevice(output).message();
    EXPECT_EQ(reopen.rfind("Error opening output device 'Audimera test sink'", 0), 0u) << reopen;

    // Back again: the same menu entries open and measure.
    ASSERT_EQ(server.start(), "");
    ASSERT_EQ(device.openOutputDevice(output).message(), "");
    ASSERT_EQ(device.openInputDevice(input).message(), "");
    EXPECT_TRUE(device.isConnected());
    ASSERT_EQ(device.PlayLoop(tone.table.data(), tone.rate).message(), "");
    sleepMs(200);
    TestWaiter patient;
    ASSERT_EQ(device.RecordBlock(block.data(), patient), Recorded::Complete);
    EXPECT_NEAR(dB(blockAmplitude(block.data(), SoundDevice::RecordSamples, 440) / SinePeak), 0.0, 0.05);
}

TEST(PulseRecording, InitAudioConnectsAgainAfterTheServerDied)
{
    REQUIRE_PULSE_SERVER();
    PrivateServer server;
    ASSERT_EQ(server.start(), "");
    PulseSoundDevice device(server.address());
    ASSERT_EQ(device.initAudio().message(), "");
    server.kill();
    // The death reaches the device through the server's thread.
    for (int i = 0; i < 2000 && device.isConnected(); ++i)
        sleepMs(1);
    EXPECT_FALSE(device.isConnected());
    EXPECT_TRUE(device.initAudio().isFatal());

    ASSERT_EQ(server.start(), "");
    EXPECT_EQ(device.initAudio().message(), "");
    EXPECT_EQ(device.outputDevice(), 0);
    EXPECT_EQ(device.inputDevice(), 0);
}

} // namespace audimera
