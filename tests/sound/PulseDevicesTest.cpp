// Finding and opening devices on the real sound server, and start-up.
#include "PulseTestSupport.h"

using namespace pulsetest;

namespace {

// The second line of a two-line text.
std::string secondLine(const std::string& text)
{
    const size_t lineBreak = text.find('\n');
    return lineBreak == std::string::npos ? std::string() : text.substr(lineBreak + 1);
}

} // namespace

TEST(PulseDevices, ListsTheTestSinkAndItsMonitorWithTheDefaultsFirst)
{
    REQUIRE_PULSE_SERVER();
    PulseSoundDevice device(sharedServer());
    ASSERT_EQ(device.initAudio(), "");
    EXPECT_TRUE(device.isConnected());

    const auto play = device.playDevices();
    const auto record = device.recordDevices();
    const int sink = indexOf(play, "audimera_test");
    const int monitor = indexOf(record, "audimera_test.monitor");
    ASSERT_GE(sink, 0);
    ASSERT_GE(monitor, 0);
    EXPECT_EQ(play[size_t(sink)].description, "Audimera test sink");
    EXPECT_EQ(record[size_t(monitor)].description, "Monitor of Audimera test sink");

    // Entry 0 is the server's default, and it is what initAudio opened.
    EXPECT_EQ(play[0].name, pactl(sharedServer(), "get-default-sink").output);
    EXPECT_EQ(record[0].name, pactl(sharedServer(), "get-default-source").output);
    EXPECT_EQ(device.outputDevice(), 0);
    EXPECT_EQ(device.inputDevice(), 0);
}

TEST(PulseDevices, NewDevicesAppearAfterARefreshInTheServersOrder)
{
    REQUIRE_PULSE_SERVER();
    PulseSoundDevice device(sharedServer());
    ASSERT_EQ(device.initAudio(), "");
    PrivateSink first(sharedServer(), "first");
    PrivateSink second(sharedServer(), "second");
    EXPECT_EQ(indexOf(device.playDevices(), first.name()), -1);

    ASSERT_EQ(device.refreshDevices(), "");
    const auto play = device.playDevices();
    const int a = indexOf(play, first.name());
    const int b = indexOf(play, second.name());
    ASSERT_GE(a, 1);
    EXPECT_GT(b, a);
    EXPECT_EQ(play[size_t(a)].description, first.description());
    EXPECT_GE(indexOf(device.recordDevices(), second.monitor()), 1);
}

TEST(PulseDevices, FailedOpensKeepThePreviousDevices)
{
    REQUIRE_PULSE_SERVER();
    PrivateSink sink(sharedServer(), "keep");
    PrivateSink gone(sharedServer(), "gone");
    PulseSoundDevice device(sharedServer());
    ASSERT_EQ(openLoopback(device, sink.name()), "");
    const int output = device.outputDevice();
    const int input = device.inputDevice();
    const int goneOutput = indexOf(device.playDevices(), gone.name());
    const int goneInput = indexOf(device.recordDevices(), gone.monitor());
    ASSERT_GE(goneOutput, 0);
    ASSERT_GE(goneInput, 0);

    // The device is still in the menu but no longer on the server.
    gone.unload();
    const std::string playError = device.openOutputDevice(goneOutput);
    EXPECT_EQ(playError.substr(0, playError.find('\n')),
              "Error opening output device '" + gone.description()
                  + "' or no real time frequency support, try another device in settings menu");
    EXPECT_NE(secondLine(playError), "");
    const std::string recordError = device.openInputDevice(goneInput);
    EXPECT_EQ(recordError.substr(0, recordError.find('\n')),
              "Error opening input device 'Monitor of " + gone.description()
                  + "', try another device in settings menu");
    EXPECT_NE(secondLine(recordError), "");
    EXPECT_EQ(device.outputDevice(), output);
    EXPECT_EQ(device.inputDevice(), input);

    // Both still work.
    const Tone tone(440);
    ASSERT_EQ(device.PlayLoop(tone.table.data(), tone.rate), "");
    sleepMs(200);
    std::vector<int16_t> block(SoundDevice::RecordSamples + 1);
    TestWaiter waiter;
    std::string error;
    ASSERT_EQ(device.RecordBlock(block.data(), waiter, &error), RecordResult::Complete) << error;
    EXPECT_GT(blockAmplitude(block.data(), SoundDevice::RecordSamples, 440), SinePeak * 0.9);
}

TEST(PulseDevices, NoServerIsAFatalStartUpFailure)
{
    // A socket that nothing listens on: no private server needed.
    const std::string nowhere = "unix:/nonexistent/audimera/native";
    PulseSoundDevice device(nowhere);
    const std::string error = device.initAudio();
    EXPECT_TRUE(PulseSoundDevice::isFatal(error));
    EXPECT_EQ(error.substr(0, error.find('\n')), "Sorry but this program requires a sound card supporting directx.");
    EXPECT_EQ(secondLine(error).rfind("No sound server reachable: ", 0), 0u) << error;
    EXPECT_GT(secondLine(error).size(), std::string("No sound server reachable: ").size());
    EXPECT_FALSE(device.isConnected());

    EXPECT_EQ(PulseSoundDevice::probeServer(nowhere).rfind("No sound server reachable: ", 0), 0u);
    // An open failure is not fatal.
    EXPECT_FALSE(PulseSoundDevice::isFatal("Error opening output device 'x' or no real time frequency support"));
}

TEST(PulseDevices, ServerWithoutDevicesIsAFatalStartUpFailure)
{
    REQUIRE_PULSE_SERVER();
    PrivateServer server;
    ASSERT_EQ(server.start(), "");
    EXPECT_EQ(PulseSoundDevice::probeServer(server.address()), "");
    ASSERT_EQ(pactl(server.address(), "unload-module module-null-sink").status, 0);

    PulseSoundDevice device(server.address());
    std::string error = device.initAudio();
    EXPECT_TRUE(PulseSoundDevice::isFatal(error));
    EXPECT_EQ(secondLine(error), "No play device and no record device");

    // A source alone: still no play device.
    ASSERT_EQ(pactl(server.address(), "load-module module-null-source").status, 0);
    error = device.initAudio();
    EXPECT_TRUE(PulseSoundDevice::isFatal(error));
    EXPECT_EQ(secondLine(error), "No play device");
    EXPECT_EQ(device.outputDevice(), -1);
}

TEST(PulseDevices, WithoutDevicesEveryCallIsHarmless)
{
    // Never connected: nothing to reach, nothing may crash or hang.
    PulseSoundDevice device("unix:/nonexistent/audimera/native");
    device.SetPlayVolume(-602);
    device.SetPlayPan(602);
    device.SetPlayRate(1000);
    device.StopPlayback();
    EXPECT_EQ(device.volume(), 0);
    EXPECT_EQ(device.pan(), 0);

    const Tone tone(440);
    EXPECT_NE(device.PlayLoop(tone.table.data(), tone.rate), "");
    std::vector<int16_t> block(SoundDevice::RecordSamples + 1);
    TestWaiter waiter;
    std::string error;
    EXPECT_EQ(device.RecordBlock(block.data(), waiter, &error), RecordResult::Failed);
    EXPECT_NE(error, "");
    EXPECT_EQ(waiter.calls, 0);
    EXPECT_NE(device.openOutputDevice(0), "");
    EXPECT_NE(device.openInputDevice(0), "");
    device.closeAudio();
    device.closeAudio();
}
