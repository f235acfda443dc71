// Ten log sweeps of one session through the private server, five straight
// into a null sink and five through a LADSPA delay line in front of it, and
// the measurement list's delays of each against the first straight one: the
// delay line's whole number of samples, run after run. About 12 s in real
// time.
#include "tests/sound/LadspaFilter.h"
#include "tests/sound/PulseTestSupport.h"

#include "engine/MeasurementDocument.h"
#include "engine/MeasurementSession.h"

#include <filesystem>

namespace audimera {

using namespace pulsetest;

TEST(SessionDelayTest, TheListFindsTheDelayLineRunAfterRun)
{
    REQUIRE_PULSE_SERVER();
    // swh-plugins' simple delay line: controls Max Delay (s), Delay Time (s).
    // Its output jumps where its buffer (the power of two above Max Delay)
    // wraps, which a sweep finds as lost sound: a minute's buffer never
    // wraps within the test.
    constexpr const char* Plugin = "delay_1898";
    constexpr double DelayMs = 10; // 480 samples at 48 kHz
    if (!std::filesystem::exists(std::string("/usr/lib/ladspa/") + Plugin + ".so"))
        GTEST_SKIP() << "the LADSPA plugin " << Plugin << " is not installed (swh-plugins)";
    PrivateSink sink(sharedServer(), "sessiondelay", 48000);
    FilterSink line(sharedServer(), sink.name(), sink.name() + "_delay", Plugin, "delay_n", "60,0.01");
    ASSERT_TRUE(line.loaded());
    PulseSoundDevice device(sharedServer());
    SweepHost host;
    MeasurementDocument document;
    MeasurementSession session(host, device, document);
    LogSweepSettings settings;
    settings.length = std::size_t(1) << 15;
    for (const std::string& play : {sink.name(), line.name()}) {
        ASSERT_EQ(openByName(device, play, sink.monitor()), "");
        for (int run = 0; run < 5; ++run) {
            const Status measured = session.runLogSweep(settings);
            ASSERT_TRUE(measured.ok()) << play << " run " << run << ": " << measured.message();
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
    // Each straight run within 0.02 ms of the first, each delayed one of it plus the line.
    double low = INFINITY, high = -INFINITY, sum = 0;
    for (std::size_t i = 0; i < delays->size(); ++i) {
        const Alignment& a = (*delays)[i];
        std::printf("[ figures  ] %s run %zu: %.7f ms after the first straight one (%.5f samples)\n",
                    i < 5 ? "straight" : "delayed", i % 5 + 1, a.delayMs, a.delaySamples);
        EXPECT_NEAR(a.delayMs, i < 5 ? 0 : DelayMs, 0.02) << i;
        if (i >= 5) {
            low = std::min(low, a.delayMs), high = std::max(high, a.delayMs), sum += a.delayMs;
        }
    }
    std::printf("[ figures  ] delayed: mean %.7f ms (the line: %.3f ms), spread %.7f ms\n", sum / 5, DelayMs, high - low);
    EXPECT_LT(high - low, 0.01);
    EXPECT_NEAR(sum / 5, DelayMs, 0.02);
}

} // namespace audimera
