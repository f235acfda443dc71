// Finding and opening devices on the real sound server, start-up, following
// devices that come and go, and waiting for a server that does not answer.
#include "tests/sound/PulseTestSupport.h"

#include "cli/MeasureCommand.h"

#include <sstream>

namespace audimera {

using namespace pulsetest;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A real input of the test's own (a null source: no monitor of anything),
// unloaded at the end of the test.
class PrivateSource {
public:
    PrivateSource(std::string server, const std::string& tag)
        : m_server(std::move(server)),
          m_name("audimera_" + tag + "_" + std::to_string(getpid())),
          m_description("Audimera-" + tag + "-" + std::to_string(getpid()))
    {
        const CommandResult loaded = pactl(m_server, "load-module module-null-source source_name=" + m_name
                                                         + " description=" + m_description);
        if (loaded.status == 0)
            m_module = std::atoi(loaded.output.c_str());
        else
            ADD_FAILURE() << "cannot load a null source: " << loaded.output;
    }
    ~PrivateSource()
    {
        if (m_module >= 0)
            pactl(m_server, "unload-module " + std::to_string(m_module));
    }
    PrivateSource(const PrivateSource&) = delete;
    PrivateSource& operator=(const PrivateSource&) = delete;

    const std::string& name() const { return m_name; }
    const std::string& description() const { return m_description; }

private:
    std::string m_server;
    std::string m_name;
    std::string m_description;
    int m_module = -1;
};

// Polls followDevices() for up to 5 s until it reports a change.
DeviceChanges nextChange(PulseSoundDevice& device)
{
    for (int i = 0; i < 500; ++i) {
        const DeviceChanges changes = device.followDevices();
        if (changes.changed)
            return changes;
        sleepMs(10);
    }
    ADD_FAILURE() << "no change within 5 s";
    return {};
}

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
    ASSERT_EQ(device.initAudio().message(), "");
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
    ASSERT_EQ(device.initAudio().message(), "");
    PrivateSink first(sharedServer(), "first");
    PrivateSink second(sharedServer(), "second");
    EXPECT_EQ(indexOf(device.playDevices(), first.name()), -1);

    ASSERT_EQ(device.refreshDevices().message(), "");
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
    const std::string playError = device.openOutputDevice(goneOutput).message();
    EXPECT_EQ(playError.substr(0, playError.find('\n')),
              "Error opening output device '" + gone.description()
                  + "' or no real time frequency support, try another device in settings menu");
    EXPECT_NE(secondLine(playError), "");
    const std::string recordError = device.openInputDevice(goneInput).message();
    EXPECT_EQ(recordError.substr(0, recordError.find('\n')),
              "Error opening input device 'Monitor of " + gone.description()
                  + "', try another device in settings menu");
    EXPECT_NE(secondLine(recordError), "");
    EXPECT_EQ(device.outputDevice(), output);
    EXPECT_EQ(device.inputDevice(), input);

    // Both still work.
    const Tone tone(440);
    ASSERT_EQ(device.PlayLoop(tone.table.data(), tone.rate).message(), "");
    sleepMs(200);
    std::vector<int16_t> block(SoundDevice::RecordSamples + 1);
    TestWaiter waiter;
    ASSERT_EQ(device.RecordBlock(block.data(), waiter), Recorded::Complete);
    EXPECT_GT(blockAmplitude(block.data(), SoundDevice::RecordSamples, 440), SinePeak * 0.9);
}

TEST(PulseDevices, NoServerIsAFatalStartUpFailure)
{
    // A socket that nothing listens on: no private server needed.
    const std::string nowhere = "unix:/nonexistent/audimera/native";
    PulseSoundDevice device(nowhere);
    const audimera::Status started = device.initAudio();
    const std::string error = started.message();
    EXPECT_TRUE(started.isFatal());
    EXPECT_EQ(error.substr(0, error.find('\n')), "Sorry but this program requires a sound card supporting directx.");
    EXPECT_EQ(secondLine(error).rfind("No sound server reachable: ", 0), 0u) << error;
    EXPECT_GT(secondLine(error).size(), std::string("No sound server reachable: ").size());
    EXPECT_FALSE(device.isConnected());

    EXPECT_EQ(PulseSoundDevice::probeServer(nowhere).message().rfind("No sound server reachable: ", 0), 0u);
    // An open failure is not fatal.
    EXPECT_FALSE(device.openOutputDevice(0).isFatal());
}

TEST(PulseDevices, ServerWithoutDevicesIsAFatalStartUpFailure)
{
    REQUIRE_PULSE_SERVER();
    PrivateServer server;
    ASSERT_EQ(server.start(), "");
    EXPECT_EQ(PulseSoundDevice::probeServer(server.address()).message(), "");
    ASSERT_EQ(pactl(server.address(), "unload-module module-null-sink").status, 0);

    PulseSoundDevice device(server.address());
    audimera::Status started = device.initAudio();
    EXPECT_TRUE(started.isFatal());
    EXPECT_EQ(secondLine(started.message()), "No play device and no record device");

    // A source alone: still no play device.
    ASSERT_EQ(pactl(server.address(), "load-module module-null-source").status, 0);
    started = device.initAudio();
    EXPECT_TRUE(started.isFatal());
    EXPECT_EQ(secondLine(started.message()), "No play device");
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
    EXPECT_NE(device.PlayLoop(tone.table.data(), tone.rate).message(), "");
    std::vector<int16_t> block(SoundDevice::RecordSamples + 1);
    TestWaiter waiter;
    EXPECT_NE(device.RecordBlock(block.data(), waiter).message(), "");
    EXPECT_EQ(waiter.calls, 0);
    EXPECT_NE(device.openOutputDevice(0).message(), "");
    EXPECT_NE(device.openInputDevice(0).message(), "");
    device.closeAudio();
    device.closeAudio();
}

// ---------------------------------------------------------------- monitors

TEST(PulseDevices, CommandMarksTheMonitors)
{
    REQUIRE_PULSE_SERVER();
    PrivateSink sink(sharedServer(), "marked");
    PrivateSource input(sharedServer(), "unmarked");
    std::ostringstream out, err;
    setenv("PULSE_SERVER", sharedServer().c_str(), 1);
    ASSERT_EQ(MeasureCommand::run({"devices"}, out, err), 0) << err.str();
    const std::string text = out.str();
    auto lineOf = [&](const std::string& name) {
        const size_t at = text.find(" " + name + "  (");
        return at == std::string::npos ? std::string() : text.substr(at, text.find('\n', at) - at);
    };
    EXPECT_NE(lineOf(sink.monitor()).find("[monitor of " + sink.description() + "]"), std::string::npos) << text;
    EXPECT_EQ(lineOf(input.name()).find("[monitor"), std::string::npos) << text;
    EXPECT_EQ(lineOf(sink.name()).find("[monitor"), std::string::npos) << text;
    // Loaded last, the input is still listed before the monitors.
    EXPECT_LT(text.find(" " + input.name() + "  ("), text.find(" " + sink.monitor() + "  (")) << text;
}

// ---------------------------------------------------------------- following the server

TEST(PulseDevices, AfterAServerRestartTheDevicesInUseAreOpenedAgain)
{
    REQUIRE_PULSE_SERVER();
    PrivateServer server;
    ASSERT_EQ(server.start(), "");
    PulseSoundDevice device(server.address());
    ASSERT_EQ(device.initAudio().message(), "");
    const std::string output = device.playDevices()[0].name;
    const std::string input = device.recordDevices()[0].name;
    ASSERT_EQ(pactl(server.address(), "load-module module-null-sink sink_name=audimera_gone").status, 0);
    nextChange(device);
    ASSERT_GE(indexOf(device.playDevices(), "audimera_gone"), 1);

    // Restarted before anyone looked: the new server has its own devices.
    server.kill();
    ASSERT_EQ(server.start(), "");
    DeviceChanges changes = nextChange(device);
    EXPECT_TRUE(device.isConnected());
    EXPECT_TRUE(changes.listed);
    EXPECT_EQ(indexOf(device.playDevices(), "audimera_gone"), -1);
    EXPECT_EQ(changes.outputLost, "");
    EXPECT_EQ(changes.inputLost, "");
    EXPECT_TRUE(changes.outputReopened);
    ASSERT_GE(changes.output, 0);
    ASSERT_GE(changes.input, 0);
    EXPECT_EQ(device.playDevices()[size_t(changes.output)].name, output);
    EXPECT_EQ(device.recordDevices()[size_t(changes.input)].name, input);
    const Tone tone(440);
    ASSERT_EQ(device.PlayLoop(tone.table.data(), tone.rate).message(), "");
    sleepMs(200);
    std::vector<int16_t> block(SoundDevice::RecordSamples + 1);
    TestWaiter waiter;
    EXPECT_EQ(device.RecordBlock(block.data(), waiter), Recorded::Complete);

    // Gone for good: both are lost, each with the reason.
    server.kill();
    changes = nextChange(device);
    EXPECT_EQ(changes.outputLost.rfind("Error opening output device '", 0), 0u) << changes.outputLost;
    EXPECT_EQ(changes.inputLost.rfind("Error opening input device '", 0), 0u) << changes.inputLost;
    EXPECT_EQ(device.outputDevice(), -1);
    EXPECT_EQ(device.inputDevice(), -1);
    EXPECT_FALSE(device.followDevices().changed);
}

// ---------------------------------------------------------------- a server that never answers

TEST(PulseDevices, AFrozenServerFailsEachCallWithinTheTimeoutWhileTheHookRuns)
{
    REQUIRE_PULSE_SERVER();
    PrivateServer server;
    ASSERT_EQ(server.start(), "");
    PulseSoundDevice device(server.address());
    ASSERT_EQ(device.initAudio().message(), "");
    const int output = device.outputDevice();

    // Inside the waits: nothing that needs the server may start; the
    // setters still act.
    int hooks = 0;
    std::vector<std::string> nested;
    device.setWaitHook([&] {
        if (++hooks != 10)
            return;
        nested.push_back(device.openOutputDevice(0).message());
        nested.push_back(device.refreshDevices().message());
        nested.push_back(device.initAudio().message());
        const Tone tone(440);
        nested.push_back(device.PlayLoop(tone.table.data(), tone.rate).message());
        std::vector<int16_t> block(SoundDevice::RecordSamples + 1);
        TestWaiter waiter;
        nested.push_back(device.RecordBlock(block.data(), waiter).message());
        EXPECT_FALSE(device.followDevices().changed);
        device.closeAudio(); // refused: the outer call still uses the connection
        device.SetPlayVolume(-602);
    });

    server.signal(SIGSTOP);
    // A listing is three questions; they share the one time limit.
    auto start = Clock::now();
    EXPECT_NE(device.refreshDevices().message(), "");
    EXPECT_LT(secondsSince(start), 6.0);
    EXPECT_GE(secondsSince(start), 4.5);
    EXPECT_GT(hooks, 100);
    EXPECT_EQ(nested, std::vector<std::string>(5, PulseSoundDevice::BusyError));
    EXPECT_EQ(device.volume(), -602);
    EXPECT_EQ(device.outputDevice(), output);

    start = Clock::now();
    const std::string failure = device.openOutputDevice(0).message();
    EXPECT_LT(secondsSince(start), 6.0);
    EXPECT_EQ(failure.rfind("Error opening output device '", 0), 0u) << failure;
    EXPECT_EQ(device.outputDevice(), output);

    server.signal(SIGCONT);
    device.setWaitHook({});
    EXPECT_EQ(device.refreshDevices().message(), "");
    EXPECT_EQ(device.openOutputDevice(0).message(), "");
}

} // namespace audimera
