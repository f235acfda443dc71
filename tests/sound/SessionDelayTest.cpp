// Ten log sweeps of one session through a private PipeWire, with the right
// channel as the loopback reference: five straight into its null sink and
// five through a filter chain that runs swh-plugins' LADSPA delay line on
// the left channel and passes the right one as it is (a mixer of one input
// at unity gain: this PipeWire's copy node leaves its output silent in a
// graph of two inputs). The measurement list's delays of
// each against the first straight one are the line's whole number of
// samples, run after run. Without a reference a stream's start moves by a
// server block from run to run (a PulseAudio null sink put one sweep of ten
// 5 ms late on a busy machine), which the list flags; the reference takes it
// out. About 15 s in real time.
#include "tests/sound/PulseTestSupport.h"

#include "engine/MeasurementDocument.h"
#include "engine/MeasurementSession.h"

#include <filesystem>

namespace audimera {

using namespace pulsetest;

namespace {

constexpr const char* LoopbackSink = "audimera_test_48k"; // scripts/pipewire-test-server's sink
constexpr const char* LineSink = "audimera_delay_line";
// swh-plugins' simple delay line: controls Max Delay (s), Delay Time (s).
// Its output jumps where its buffer (the power of two above Max Delay)
// wraps: a minute's buffer never wraps within the test.
constexpr const char* Plugin = "delay_1898";
constexpr double DelayMs = 10; // 480 samples at 48 kHz

std::string lineConf()
{
    std::string conf = R"conf(context.properties = { log.level = 0 }
context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.*       = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-filter-chain
        args = {
            node.description = "SINK"
            filter.graph = {
                nodes = [
                    { type = ladspa name = line plugin = PLUGIN label = delay_n
                      control = { "Max Delay (s)" = 60 "Delay Time (s)" = SECONDS } }
                    { type = builtin name = straight label = mixer control = { "Gain 1" = 1 } }
                ]
                inputs  = [ "line:Input" "straight:In 1" ]
                outputs = [ "line:Output" "straight:Out" ]
            }
            audio.channels = 2
            audio.position = [ FL FR ]
            capture.props = { node.name = "SINK" media.class = Audio/Sink }
            playback.props = { node.name = "SINK.output" node.passive = true }
        }
    }
]
)conf";
    const std::pair<std::string, std::string> fills[] = {
        {"SINK", LineSink}, {"PLUGIN", Plugin}, {"SECONDS", std::to_string(DelayMs / 1000)}};
    for (const auto& [key, value] : fills)
        for (std::size_t at; (at = conf.find(key)) != std::string::npos;)
            conf.replace(at, key.size(), value);
    return conf;
}

} // namespace

TEST(SessionDelayTest, TheListFindsTheDelayLineRunAfterRun)
{
    REQUIRE_PULSE_SERVER();
    if (!std::filesystem::exists(std::string("/usr/lib/ladspa/") + Plugin + ".so"))
        GTEST_SKIP() << "the LADSPA plugin " << Plugin << " is not installed (swh-plugins)";
    PrivatePipeWire server;
    if (const std::string why = server.start(); !why.empty())
        GTEST_SKIP() << "no private PipeWire: " << why;
    const ChainProcess chain(server, "delay-line", lineConf());
    ASSERT_TRUE(chain.started());
    PulseSoundDevice device(server.address());
    ASSERT_EQ(device.initAudio().message(), "");
    std::string why;
    const int line = chain.sink(device, LineSink, why);
    ASSERT_GE(line, 0) << why;

    SweepHost host;
    MeasurementDocument document;
    MeasurementSession session(host, device, document);
    LogSweepSettings settings;
    settings.length = std::size_t(1) << 15;
    settings.reference = LogSweepSettings::Reference::Right;
    for (const std::string& play : {std::string(LoopbackSink), device.playDevices()[size_t(line)].name}) {
        ASSERT_EQ(openByName(device, play, std::string(LoopbackSink) + ".monitor", 2), "");
        // A busy machine's PipeWire may lose a cycle now and then: such a
        // run fails as lost sound and another is made.
        for (int run = 0, failed = 0; run < 5;) {
            const Status measured = session.runLogSweep(settings);
            if (!measured.ok()
                && (measured.message() == SoundDevice::LostSamplesError
                    || measured.message() == PulseRecordStream::StalledError)) {
                if (++failed > 6)
                    GTEST_SKIP() << "PipeWire lost sound in " << failed << " runs on this busy machine";
                continue;
            }
            ASSERT_TRUE(measured.ok()) << play << " run " << run << ": " << measured.message();
            ++run;
        }
    }
    const std::vector<Measurement>& items = session.measurements().items();
    ASSERT_EQ(items.size(), 10u);
    EXPECT_EQ(items[0].data.rate, 48000);
    std::vector<int> ids;
    for (const Measurement& m : items)
        ids.push_back(m.id);
    const Result<std::vector<Alignment>> delays = session.measurements().delays(ids[0], ids);
    ASSERT_TRUE(delays.ok()) << delays.message();
    EXPECT_EQ(session.measurements().timingCaveat(ids[0], ids), "");
    // Each straight run within 0.02 ms of the first, each delayed one of it
    // plus the line; and each one's own delay after its reference the same.
    double low = INFINITY, high = -INFINITY, sum = 0;
    for (std::size_t i = 0; i < delays->size(); ++i) {
        const Alignment& a = (*delays)[i];
        const double expected = i < 5 ? 0 : DelayMs;
        std::printf("[ figures  ] %s run %zu: %.7f ms after the first straight one (%.5f samples), "
                    "%.7f ms after its reference\n",
                    i < 5 ? "straight" : "delayed", i % 5 + 1, a.delayMs, a.delaySamples, items[i].data.delayMs);
        EXPECT_NEAR(a.delayMs, expected, 0.02) << i;
        EXPECT_NEAR(items[i].data.delayMs, expected, 0.02) << i;
        if (i >= 5) {
            low = std::min(low, a.delayMs), high = std::max(high, a.delayMs), sum += a.delayMs;
        }
    }
    std::printf("[ figures  ] delayed: mean %.7f ms (the line: %.3f ms), spread %.7f ms\n", sum / 5, DelayMs, high - low);
    EXPECT_LT(high - low, 0.01);
    EXPECT_NEAR(sum / 5, DelayMs, 0.02);
}

} // namespace audimera
