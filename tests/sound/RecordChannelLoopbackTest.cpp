// A null sink whose monitor hears only its left channel (the right at 0 %): one microphone on a
// two-input card, through the private sound server. One log sweep per row, about 1 s each.
#include "tests/sound/PulseTestSupport.h"

#include "engine/LogSweepMeasurement.h"

namespace audimera {

using namespace pulsetest;

TEST(RecordChannelLoopbackTest, OneSilentInputIsNamedOrMeasuredAlone)
{
    REQUIRE_PULSE_SERVER();
    PrivateSink sink(sharedServer(), "onemic");
    ASSERT_EQ(pactl(sharedServer(), "set-source-volume " + sink.name() + ".monitor 100% 0%").status, 0);
    PulseSoundDevice device(sharedServer());
    ASSERT_EQ(openLoopback(device, sink.name()), "");
    struct Row { RecordChannel channel; double levelDb; bool noted; };
    for (const Row& row : {Row{RecordChannel::Mix, -6.02, true}, Row{RecordChannel::Left, 0.0, false}}) {
        LogSweepSettings settings;
        settings.length = std::size_t(1) << 15;
        settings.pointsPerOctave = 3;
        settings.channel = row.channel;
        LogSweepMeasurement measurement;
        TestWaiter waiter;
        const audimera::Result<LogSweepResults> r = measurement.run(device, settings, waiter);
        ASSERT_TRUE(r.ok()) << r.message();
        for (const ResponsePoint& p : r->response)
            EXPECT_NEAR(p.level, row.levelDb, 0.02) << int(row.channel) << ' ' << p.frequency;
        EXPECT_EQ(r->inputNote.find("The sound is on the left input") == 0, row.noted) << r->inputNote;
    }
}

} // namespace audimera
