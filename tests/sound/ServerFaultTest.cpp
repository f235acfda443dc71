// The sound server failing under a running measurement: killed, frozen,
// devices unloaded. Each ends in a message and the idle state within 3
// seconds, and once the server or a device is back the same program
// measures again.
#include "tests/sound/PulseTestSupport.h"

#include "dsp/DspLibrary.h"
#include "tests/engine/FakePanel.h"
#include "engine/LogSweepMeasurement.h"
#include "ui/presenter/MainPresenter.h"
#include "tests/engine/RecordingDisplays.h"
#include "tests/engine/ScriptedHost.h"

#include <chrono>
#include <tuple>
#include <thread>

namespace audimera {

namespace {

using namespace pulsetest;
using Clock = std::chrono::steady_clock;

class RealTimeHost : public ScriptedHost {
public:
    void sleepMs(int ms) override { pulsetest::sleepMs(ms); }
};

double secondsSince(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

struct Program {
    explicit Program(const std::string& server) : device(server)
    {
        Audidsp::LowPass44(0, 0, 1);
        session.initialiseTables();
        panel["CheckFFT"].value = 0;
        panel["CheckInput"].value = 0;
    }
    // Runs action inside the run once `seconds` have passed since start.
    void after(double seconds, std::function<void()> action)
    {
        const auto start = Clock::now();
        auto done = std::make_shared<bool>(false);
        host.everyYield([=, this] {
            if (!*done && secondsSince(start) > seconds) {
                *done = true;
                action();
                firedAt = Clock::now();
            }
        });
    }
    void expectIdleSoonAfterTheFault()
    {
        EXPECT_LT(secondsSince(firedAt), 3.0);
        EXPECT_FALSE(session.sweeping());
        EXPECT_FALSE(session.playing());
        EXPECT_TRUE(panel["cmdStart"].enabled);
        EXPECT_TRUE(panel["MenuOutDevice"].enabled);
        ASSERT_FALSE(host.messages.empty());
        EXPECT_EQ(host.messages.back().icon, MessageIcon::Critical);
    }
    void shortSweep()
    {
        panel["TextStart"].text = "1000";
        panel["TextStop"].text = "2000";
        panel["HScrollStep"].value = 200;
        engine.cmdStart_Click();
    }

    FakePanel panel;
    RealTimeHost host;
    PulseSoundDevice device;
    RecordingDisplays displays;
    MeasurementDocument document;
    MeasurementSession session{host, device, document};
    MainPresenter engine{panel, session, displays};
    Clock::time_point firedAt = Clock::now();
};

TEST(ServerFaultTest, ServerKilledDuringASweepAndBack)
{
    REQUIRE_PULSE_SERVER();
    PrivateServer server;
    ASSERT_EQ(server.start(), "");
    Program p(server.address());
    ASSERT_EQ(openLoopback(p.device, "audimera_test"), "");
    p.after(2.5, [&] { server.kill(); });
    p.engine.cmdStart_Click();
    p.expectIdleSoonAfterTheFault();
    EXPECT_GT(p.document.traces().GetTraceCount(), 0);

    // The server comes back; the same program picks its devices again.
    ASSERT_EQ(server.start(), "");
    const size_t messages = p.host.messages.size();
    ASSERT_EQ(openLoopback(p.device, "audimera_test"), "");
    p.shortSweep();
    EXPECT_EQ(p.document.lastTrace().size(), 2u);
    EXPECT_EQ(p.host.messages.size(), messages);
}

TEST(ServerFaultTest, ServerKilledDuringTheSignalAndBack)
{
    REQUIRE_PULSE_SERVER();
    PrivateServer server;
    ASSERT_EQ(server.start(), "");
    Program p(server.address());
    ASSERT_EQ(openLoopback(p.device, "audimera_test"), "");
    p.after(3.0, [&] { server.kill(); });
    p.engine.cmdStartSignal_Click();
    p.expectIdleSoonAfterTheFault();
    EXPECT_EQ(p.panel["cmdStartSignal"].caption, "Start Signal");

    ASSERT_EQ(server.start(), "");
    ASSERT_EQ(openLoopback(p.device, "audimera_test"), "");
    const int records = static_cast<int>(p.host.messages.size());
    p.after(1.5, [&] { p.engine.cmdStartSignal_Click(); });
    p.engine.cmdStartSignal_Click();
    EXPECT_EQ(static_cast<int>(p.host.messages.size()), records);
    EXPECT_NE(p.panel["LabelDB"].caption, "N/A");
}

TEST(ServerFaultTest, ServerDyingWhileDevicesAreListed)
{
    REQUIRE_PULSE_SERVER();
    PrivateServer server;
    ASSERT_EQ(server.start(), "");
    // Frozen, it accepts the connection and never answers; killed while
    // the program waits for the device lists.
    server.signal(SIGSTOP);
    Clock::time_point killedAt;
    std::thread killer([&] {
        sleepMs(500);
        killedAt = Clock::now();
        server.kill();
    });
    PulseSoundDevice device(server.address());
    const audimera::Status failure = device.initAudio();
    killer.join();
    EXPECT_LT(secondsSince(killedAt), 3.0);
    EXPECT_TRUE(failure.isFatal()) << failure.message();

    ASSERT_EQ(server.start(), "");
    EXPECT_EQ(device.initAudio().message(), "");
}

TEST(ServerFaultTest, RecordDeviceUnloadedDuringASweep)
{
    REQUIRE_PULSE_SERVER();
    PrivateSink play(sharedServer(), "fault_play"), record(sharedServer(), "fault_record");
    Program p(sharedServer());
    ASSERT_EQ(p.device.refreshDevices().message(), "");
    ASSERT_EQ(p.device.openOutputDevice(indexOf(p.device.playDevices(), play.name())).message(), "");
    ASSERT_EQ(p.device.openInputDevice(indexOf(p.device.recordDevices(), record.monitor())).message(), "");
    // The record side hears silence: the low-signal question is answered Yes.
    p.after(2.5, [&] { record.unload(); });
    p.engine.cmdStart_Click();
    p.expectIdleSoonAfterTheFault();

    PrivateSink again(sharedServer(), "fault_record2");
    ASSERT_EQ(p.device.refreshDevices().message(), "");
    ASSERT_EQ(p.device.openInputDevice(indexOf(p.device.recordDevices(), again.monitor())).message(), "");
    const size_t messages = p.host.messages.size();
    p.shortSweep();
    EXPECT_EQ(p.document.lastTrace().size(), 2u);
    EXPECT_EQ(p.host.messages.size(), messages);
}

TEST(ServerFaultTest, PlayDeviceUnloadedWhileTheSignalPlays)
{
    REQUIRE_PULSE_SERVER();
    PrivateSink play(sharedServer(), "fault_out"), record(sharedServer(), "fault_in");
    Program p(sharedServer());
    ASSERT_EQ(p.device.refreshDevices().message(), "");
    ASSERT_EQ(p.device.openOutputDevice(indexOf(p.device.playDevices(), play.name())).message(), "");
    ASSERT_EQ(p.device.openInputDevice(indexOf(p.device.recordDevices(), record.monitor())).message(), "");
    p.after(3.0, [&] { play.unload(); });
    p.engine.cmdStartSignal_Click();
    p.expectIdleSoonAfterTheFault();
    EXPECT_NE(p.host.messages.back().text.find("play device"), std::string::npos) << p.host.messages.back().text;

    PrivateSink other(sharedServer(), "fault_out2");
    ASSERT_EQ(p.device.refreshDevices().message(), "");
    ASSERT_EQ(p.device.openOutputDevice(indexOf(p.device.playDevices(), other.name())).message(), "");
    const size_t messages = p.host.messages.size();
    p.after(1.5, [&] { p.engine.cmdStartSignal_Click(); });
    p.engine.cmdStartSignal_Click();
    EXPECT_EQ(p.host.messages.size(), messages);
    EXPECT_FALSE(p.session.playing());
}

// The server losing sound mid-sweep without saying so: each fault fails the
// log sweep as lost sound, and a clean run on the same loopback does not.
// sink: a null sink of server, opened as the loopback.
void expectSoundLostMidSweepFails(const std::string& server, const std::string& sink, const char* where)
{
    PulseSoundDevice device(server);
    ASSERT_EQ(openLoopback(device, sink), "") << where;
    const auto run = [&](const std::string& on, int ms, const std::string& off) {
        pactl(server, on);
        sleepMs(ms);
        pactl(server, off);
    };
    const std::string s = "suspend-sink " + sink, m = "set-sink-mute " + sink;
    // The play stream muted: every sink input (the device's idle one is corked).
    const std::string streams = "list short sink-inputs | cut -f1 | xargs -I@ env PULSE_SERVER=" + server + " pactl";
    // Name, ms into the run, fault, its length in ms, its end. Early, the
    // sweep plays about 50 Hz; 1.3 s in, about 5 kHz.
    const std::tuple<const char*, int, std::string, int, std::string> faults[] = {
        {"clean", 600, "info", 0, "info"},
        {"sink suspended 0.1 s", 600, s + " 1", 100, s + " 0"},
        {"sink suspended 1.5 s", 600, s + " 1", 1500, s + " 0"},
        {"sink muted to the end", 600, m + " 1", 1500, m + " 0"},
        {"play stream muted 60 ms", 600, streams + " set-sink-input-mute @ 1", 60, streams + " set-sink-input-mute @ 0"},
        {"sink muted to the end, early", 250, m + " 1", 1500, m + " 0"},
        {"sink suspended 0.1 s, late", 1300, s + " 1", 100, s + " 0"},
    };
    for (const auto& [name, at, on, ms, off] : faults) {
        LogSweepSettings settings;
        settings.length = std::size_t(1) << 16;
        TestWaiter waiter;
        std::thread fault([&] { sleepMs(at), run(on, ms, off); });
        const audimera::Result<LogSweepResults> r = LogSweepMeasurement().run(device, settings, waiter, {});
        fault.join();
        const bool clean = ms == 0;
        EXPECT_EQ(r.kind(), clean ? Failure::Other : Failure::LostSamples)
            << where << ", " << name << ": " << r.message();
        EXPECT_EQ(r.message(), clean ? "" : SoundDevice::LostSamplesError) << where << ", " << name;
    }
}

TEST(ServerFaultTest, SoundLostMidSweepFailsTheLogSweep)
{
    REQUIRE_PULSE_SERVER();
    PrivateSink sink(sharedServer(), "lost");
    expectSoundLostMidSweepFails(sharedServer(), sink.name(), "PulseAudio");
}

// The same faults through PipeWire's own graph at 48000 Hz, where a
// suspended or muted sink leaves zeros to the end of the recording.
TEST(ServerFaultTest, SoundLostMidSweepFailsTheLogSweepOnPipeWire)
{
    REQUIRE_PULSE_SERVER();
    PrivatePipeWire server;
    if (const std::string why = server.start(); !why.empty())
        GTEST_SKIP() << "no private PipeWire: " << why;
    expectSoundLostMidSweepFails(server.address(), "audimera_test_48k", "PipeWire");
}

// A null sink that rewinds (the server's default) starts the sweep's stream
// inside what its monitor has already recorded: that start is the stream's
// lead-in of silence, so each run measures the whole sweep.
TEST(ServerFaultTest, RewindingSinkKeepsTheWholeSweep)
{
    REQUIRE_PULSE_SERVER();
    PrivateSink sink(sharedServer(), "rewinds", 44100, true);
    PulseSoundDevice device(sharedServer());
    ASSERT_EQ(openLoopback(device, sink.name()), "");
    for (int run = 1; run <= 5; ++run) {
        LogSweepSettings settings;
        settings.length = std::size_t(1) << 16;
        TestWaiter waiter;
        const audimera::Result<LogSweepResults> r = LogSweepMeasurement().run(device, settings, waiter);
        ASSERT_TRUE(r.ok()) << "run " << run << ": " << r.message();
        std::printf("rewinding null sink, run %d: delay %.2f ms\n", run, r->delaySeconds() * 1000);
    }
}

} // namespace

} // namespace audimera
