// A stereo log sweep with a reference, played at 44100 Hz and heard through
// a server loopback on a sink at 48000 Hz: the recording is converted here
// channel by channel, the measured one read against the reference.
#include "tests/sound/PulseTestSupport.h"

#include "engine/LogSweepMeasurement.h"

#include <cmath>

namespace audimera {

using namespace pulsetest;

TEST(ReferenceRateTest, MeasuredChannelKeepsItsLevelThroughConvertedRates)
{
    REQUIRE_PULSE_SERVER();
    PrivateSink play(sharedServer(), "refplay", 44100), heard(sharedServer(), "refheard", 48000);
    PulseSoundDevice device(sharedServer());
    ASSERT_EQ(openByName(device, play.name(), heard.monitor(), 2), "");
    const CommandResult loop = pactl(sharedServer(), "load-module module-loopback source=" + play.monitor() + " sink="
                                                         + heard.name() + " rate=48000 latency_msec=20");
    ASSERT_EQ(loop.status, 0) << loop.output;
    // Right at 50 % volume, cubic: 0.125, -18.06 dB.
    pactl(sharedServer(), "set-sink-volume " + heard.name() + " 100% 50%");
    LogSweepSettings settings;
    settings.length = std::size_t(1) << 15;
    settings.reference = LogSweepSettings::Reference::Left;
    TestWaiter waiter;
    const audimera::Result<LogSweepResults> r = LogSweepMeasurement().run(device, settings, waiter);
    pactl(sharedServer(), "unload-module " + loop.output);
    ASSERT_TRUE(r.ok()) << r.message();
    double worst = 0;
    for (const ResponsePoint& p : r->response)
        worst = std::max(worst, p.frequency >= 100 && p.frequency <= 10000 ? std::abs(p.level + 18.06) : 0.0);
    EXPECT_LT(worst, 0.05);
}

} // namespace audimera
