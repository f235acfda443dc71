// A stereo log sweep with a reference channel, played and recorded at
// different rates:
// the recording is converted to 44100 Hz channel by channel, so the measured
// channel is read against the reference, not the reference against itself.
#include "tests/sound/PulseTestSupport.h"

#include "engine/LogSweepMeasurement.h"

#include <cmath>

namespace audimera {

namespace {

using namespace pulsetest;

TEST(ReferenceRateTest, MeasuredChannelKeepsItsLevelThroughConvertedRates)
{
    REQUIRE_PULSE_SERVER();
    // Played at 44100 Hz, heard through a server loopback on a sink at
    // 48000 Hz whose monitor records at 48000: the run is at 44100, the
    // recording converted here.
    PrivateSink play(sharedServer(), "refplay", 44100), heard(sharedServer(), "refheard", 48000);
    PulseSoundDevice device(sharedServer());
    ASSERT_EQ(openByName(device, play.name(), heard.monitor(), 2), "");
    const CommandResult loop =
        pactl(sharedServer(), "load-module module-loopback source=" + play.monitor() + " sink=" + heard.name()
                                  + " rate=48000 latency_msec=20 source_dont_move=1 sink_dont_move=1");
    ASSERT_EQ(loop.status, 0) << loop.output;
    struct Unload {
        std::string module;
        ~Unload() { pactl(sharedServer(), "unload-module " + module); }
    } unload{loop.output};
    // Right at 50 % volume, cubic: 0.125, -18.06 dB.
    ASSERT_EQ(pactl(sharedServer(), "set-sink-volume " + heard.name() + " 100% 50%").status, 0);
    ASSERT_NE(device.outputDeviceRate(), device.inputDeviceRate());
    LogSweepSettings settings;
    settings.length = std::size_t(1) << 15;
    settings.pointsPerOctave = 3;
    settings.reference = LogSweepSettings::Reference::Left;
    LogSweepMeasurement measurement;
    TestWaiter waiter;
    const audimera::Result<LogSweepResults> r = measurement.run(device, settings, waiter);
    ASSERT_TRUE(r.ok()) << r.message();
    double worst = 0;
    for (const ResponsePoint& p : r->response)
        if (p.frequency >= 100 && p.frequency <= 10000)
            worst = std::max(worst, std::abs(p.level + 18.06));
    EXPECT_LT(worst, 0.05);
}

} // namespace

} // namespace audimera
