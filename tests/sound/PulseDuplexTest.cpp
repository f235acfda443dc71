// The log sweep's play-once run on the private PulseAudio: what is played
// comes back whole after a short latency, at the devices' own rate, in mono
// and stereo; a dead or frozen server, a gap in the played sound and a
// cancelled run each end it cleanly.
#include "tests/sound/PulseTestSupport.h"

#include <chrono>
#include <cstdint>
#include <cstdio>

namespace audimera {

namespace {

using namespace pulsetest;
using Clock = std::chrono::steady_clock;
using Channels = DuplexRequest::Channels;

double secondsSince(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// Reproducible noise at half scale whose first sample is not 0, so the
// first recorded sample that is not silence marks the latency.
std::vector<float> noiseBurst(size_t frames)
{
    std::vector<float> x(frames);
    uint32_t state = 12345;
    for (float& v : x) {
        state = state * 1664525u + 1013904223u;
        v = float(int32_t(state >> 8) - (1 << 23)) / float(1 << 24);
    }
    x[0] = 0.5f;
    return x;
}

DuplexRequest requestFor(const std::vector<float>& play, int rate, size_t recordFrames, int channels = 1)
{
    DuplexRequest r;
    r.play = play.data();
    r.playFrames = play.size();
    r.rate = rate;
    r.recordFrames = recordFrames;
    r.recordChannels = channels;
    return r;
}

// The first frame of channel that is not silence; frames when none is.
size_t firstSound(const std::vector<float>& recorded, size_t channels, size_t channel)
{
    const size_t frames = recorded.size() / channels;
    for (size_t f = 0; f < frames; ++f)
        if (recorded[f * channels + channel] != 0.0f)
            return f;
    return frames;
}

// Largest difference between channel from frame start on and gain * play,
// with silence before and after the signal.
double worstDeviation(const std::vector<float>& recorded, size_t channels, size_t channel, size_t start,
                      const std::vector<float>& play, double gain)
{
    double worst = 0;
    const size_t frames = recorded.size() / channels;
    for (size_t f = 0; f < frames; ++f) {
        const double expected = f >= start && f - start < play.size() ? gain * play[f - start] : 0.0;
        worst = std::max(worst, std::abs(recorded[f * channels + channel] - expected));
    }
    return worst;
}

TEST(PulseDuplex, PlayedSoundComesBackWholeAtTheDevicesRate)
{
    REQUIRE_PULSE_SERVER();
    const struct {
        int rate;
        int channels;
        Channels played;
        double left, right; // gain on each recorded channel (mono: left)
    } cases[] = {
        {44100, 1, Channels::Both, 1, 0},
        {48000, 1, Channels::Both, 1, 0},
        {96000, 1, Channels::Both, 1, 0},
        {44100, 2, Channels::Left, 1, 0},
        {44100, 2, Channels::Right, 0, 1},
        {48000, 2, Channels::Both, 1, 1},
        // The server mixes a stereo monitor down to mono by averaging.
        {44100, 1, Channels::Left, 0.5, 0},
    };
    for (const auto& c : cases) {
        const std::string what = std::to_string(c.rate) + " Hz, " + std::to_string(c.channels)
                                 + " channel(s), played on " + std::to_string(int(c.played));
        PrivateSink sink(sharedServer(), "duplex", c.rate);
        PulseSoundDevice device(sharedServer());
        ASSERT_EQ(openLoopback(device, sink.name(), c.channels), "");
        ASSERT_EQ(device.duplexRate(), c.rate) << "play and record at the same rate: nothing converted";

        // 0.1 s of sound and as long for the latency.
        const std::vector<float> play = noiseBurst(size_t(c.rate / 10));
        DuplexRequest request = requestFor(play, c.rate, 2 * play.size(), c.channels);
        request.playChannels = c.played;
        std::vector<double> progress;
        request.progress = [&](double done) { progress.push_back(done); };
        std::vector<float> recorded;
        TestWaiter waiter;
        ASSERT_EQ(device.playAndRecord(request, recorded, waiter), Recorded::Complete) << what;
        ASSERT_EQ(recorded.size(), request.recordFrames * size_t(c.channels));

        const size_t n = size_t(c.channels);
        const size_t latency = firstSound(recorded, n, c.left > 0 ? 0 : 1);
        std::printf("[ latency  ] %s: %zu frames, %.1f ms\n", what.c_str(), latency, 1000.0 * double(latency) / c.rate);
        EXPECT_GT(latency, 0u) << what << ": the recording begins before the sound";
        EXPECT_LT(1000.0 * double(latency) / c.rate, 100.0) << what;
        // A null sink mixes one float stream at full volume as it is.
        EXPECT_LT(worstDeviation(recorded, n, 0, latency, play, c.left), 1e-6) << what;
        if (n == 2) {
            EXPECT_LT(worstDeviation(recorded, n, 1, latency, play, c.right), 1e-6) << what;
        }
        EXPECT_GT(waiter.calls, 50) << what << ": polls all along";
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end())) << what;
        EXPECT_EQ(progress.back(), 1.0) << what;
    }
}

// The rate a sink of the shared server runs at now; 0 when not listed.
int sinkRate(const std::string& name)
{
    const std::string list = pactl(sharedServer(), "list short sinks").output;
    const size_t at = list.find("\t" + name + "\t");
    if (at == std::string::npos)
        return 0;
    const size_t hz = list.find("Hz", at);
    const size_t from = list.find_last_of(' ', hz);
    return std::atoi(list.substr(from + 1, hz - from - 1).c_str());
}

TEST(PulseDuplex, RatesThatDifferAreConvertedHereTo44100)
{
    REQUIRE_PULSE_SERVER();
    // The play sink runs at 48000 Hz and is heard through a server loopback
    // on a 44100 Hz sink whose monitor records at 44100; and the other way
    // round. The run is at 44100 either way, the signal or the recording
    // converted by the program.
    PrivateSink fast(sharedServer(), "duplexfast", 48000);
    PrivateSink plain(sharedServer(), "duplexplain", 44100);
    struct Route {
        const PrivateSink& play;
        const PrivateSink& heard;
        int heardRate; // the loopback's, so that the sink keeps its rate
    } routes[] = {{fast, plain, 44100}, {plain, fast, 48000}};
    for (const Route& route : routes) {
        // The devices' own streams first: a sink in use keeps its rate when
        // the loopback connects.
        PulseSoundDevice device(sharedServer());
        ASSERT_EQ(device.refreshDevices().message(), "");
        ASSERT_EQ(device.openOutputDevice(indexOf(device.playDevices(), route.play.name())).message(), "");
        ASSERT_EQ(device.openInputDevice(indexOf(device.recordDevices(), route.heard.monitor())).message(), "");
        const CommandResult loop =
            pactl(sharedServer(), "load-module module-loopback source=" + route.play.monitor() + " sink="
                                      + route.heard.name() + " rate=" + std::to_string(route.heardRate)
                                      + " latency_msec=20 source_dont_move=1 sink_dont_move=1");
        ASSERT_EQ(loop.status, 0) << loop.output;
        ASSERT_EQ(sinkRate(route.play.name()), device.outputDeviceRate());
        ASSERT_EQ(sinkRate(route.heard.name()), device.inputDeviceRate());
        ASSERT_NE(device.outputDeviceRate(), device.inputDeviceRate());
        EXPECT_EQ(device.duplexRate(), 44100);

        // A 1 kHz tone burst of 0.25 s comes back at its level.
        std::vector<float> play(11025);
        for (size_t i = 0; i < play.size(); ++i)
            play[i] = float(0.5 * std::sin(2 * Pi * 1000.0 * double(i) / 44100.0));
        std::vector<float> recorded;
        TestWaiter waiter;
        const Result<Recorded> result = device.playAndRecord(requestFor(play, 44100, 22050), recorded, waiter);
        pactl(sharedServer(), "unload-module " + loop.output);
        ASSERT_EQ(result, Recorded::Complete);
        // At its level and at 1 kHz (unconverted, it would be 8.8% off).
        size_t start = 0;
        while (start < recorded.size() && std::abs(recorded[start]) < 0.1f)
            ++start;
        ASSERT_LT(start + 2205 + 4410, recorded.size());
        const float* middle = recorded.data() + start + 2205;
        double cc = 0, ss = 0, yc = 0, ys = 0;
        for (int m = 0; m < 4410; ++m) {
            const double c = std::cos(2 * Pi * 1000.0 * m / 44100), s = std::sin(2 * Pi * 1000.0 * m / 44100);
            cc += c * c, ss += s * s, yc += middle[m] * c, ys += middle[m] * s;
        }
        EXPECT_NEAR(dB(std::hypot(yc / cc, ys / ss) / 0.5), 0.0, 0.1)
            << route.play.name() << " heard on " << route.heard.name();
    }
}

TEST(PulseDuplex, RefusedCancelledAndHeldUpRunsLeaveTheDeviceWorking)
{
    REQUIRE_PULSE_SERVER();
    PulseSoundDevice device(sharedServer());
    const std::vector<float> play = noiseBurst(13230);
    std::vector<float> recorded;
    TestWaiter waiter;
    EXPECT_EQ(device.playAndRecord(requestFor(play, 44100, 1000), recorded, waiter).message(),
              "No play device is open");
    PrivateSink sink(sharedServer(), "duplexcancel");
    ASSERT_EQ(openLoopback(device, sink.name()), "");
    EXPECT_NE(device.playAndRecord(requestFor(play, 48000, 1000), recorded, waiter).message(), "") << "rate";
    EXPECT_EQ(waiter.calls, 0);

    // Given up early; a handler that would wait for the server meanwhile
    // is refused.
    TestWaiter stops;
    std::string busy;
    stops.hook = [&](int call) {
        if (call == 10)
            busy = device.openOutputDevice(device.outputDevice()).message();
        return call < 50;
    };
    EXPECT_EQ(device.playAndRecord(requestFor(play, 44100, 30000), recorded, stops), Recorded::Cancelled);
    EXPECT_EQ(busy, PulseSoundDevice::BusyError);

    // The UI thread stuck in a handler for 400 ms loses nothing: the
    // server's thread feeds and drains the streams meanwhile. Nothing of the
    // cancelled run is left either.
    TestWaiter stuck;
    stuck.hook = [&](int call) {
        if (call == 20)
            sleepMs(400);
        return true;
    };
    ASSERT_EQ(device.playAndRecord(requestFor(play, 44100, 13230 + 4410), recorded, stuck), Recorded::Complete);
    const size_t latency = firstSound(recorded, 1, 0);
    EXPECT_LT(worstDeviation(recorded, 1, 0, latency, play, 1.0), 1e-6);

    // The stepped sweep's streams, paused during the runs, play and record
    // again.
    const Tone tone(440);
    ASSERT_EQ(device.PlayLoop(tone.table.data(), tone.rate).message(), "");
    sleepMs(200);
    std::vector<int16_t> block(SoundDevice::RecordSamples + 1);
    ASSERT_EQ(device.RecordBlock(block.data(), waiter), Recorded::Complete);
    EXPECT_GT(blockAmplitude(block.data(), SoundDevice::RecordSamples, 440), SinePeak * 0.9);
}

TEST(PulseDuplex, SoundThatRanDryFailsTheRun)
{
    REQUIRE_PULSE_SERVER();
    PrivateSink sink(sharedServer(), "duplexdry");
    PulseSoundDevice device(sharedServer());
    ASSERT_EQ(openLoopback(device, sink.name()), "");
    const std::vector<float> play = noiseBurst(22050);
    std::vector<float> recorded;
    // The program's side of the server held up for 400 ms, longer than the
    // queue, in the middle of the sweep: the sink plays on and runs out of
    // the sweep, which would come out with a gap.
    TestWaiter holds;
    holds.hook = [&](int call) {
        if (call == 100) {
            device.holdServerThread(true);
            sleepMs(400);
            device.holdServerThread(false);
        }
        return true;
    };
    EXPECT_EQ(device.playAndRecord(requestFor(play, 44100, 22050 + 8820), recorded, holds).message(),
              SoundDevice::LostSamplesError);
}

TEST(PulseDuplex, DeadOrFrozenServerFailsTheRunWithinThreeSeconds)
{
    REQUIRE_PULSE_SERVER();
    for (const bool frozen : {false, true}) {
        PrivateServer server;
        ASSERT_EQ(server.start(), "");
        PulseSoundDevice device(server.address());
        ASSERT_EQ(openLoopback(device, "audimera_test"), "");
        const std::vector<float> play = noiseBurst(44100);
        std::vector<float> recorded;
        TestWaiter waiter;
        Clock::time_point fault;
        waiter.hook = [&](int call) {
            if (call == 100) {
                fault = Clock::now();
                if (frozen)
                    server.signal(SIGSTOP);
                else
                    server.kill();
            }
            return true;
        };
        const std::string message = device.playAndRecord(requestFor(play, 44100, 66150), recorded, waiter).message();
        EXPECT_LT(secondsSince(fault), 3.0) << (frozen ? "frozen" : "killed");
        EXPECT_NE(message, "") << (frozen ? "frozen" : "killed");
        std::printf("[ message  ] %s server: %s\n", frozen ? "frozen" : "killed", message.c_str());
        if (frozen)
            server.signal(SIGCONT);
    }
}

} // namespace

} // namespace audimera
