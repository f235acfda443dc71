// The session's own rules: one measurement at a time, and the last log
// sweep's results kept through a run that gives none.
#include "devices/SimulatedSoundCard.h"
#include "tests/engine/EngineFixture.h"

namespace audimera {

TEST(MeasurementSessionTest, OneMeasurementAtATimeAndTheLastLogSweepKept)
{
    SessionRig<SimulatedSoundCard> rig;
    ASSERT_TRUE(rig.device.initAudio().ok());
    initialiseTables(rig.session);
    LogSweepSettings settings;
    settings.length = std::size_t(1) << 16;
    Status during;
    rig.host.atYield(1, [&] {
        during = rig.session.runLogSweep(settings);
        rig.session.stop();
    });
    (void)rig.session.runSweep({});
    EXPECT_EQ(during.kind(), Failure::Busy);
    EXPECT_EQ(rig.observer.activity, 0);

    ASSERT_TRUE(rig.session.runLogSweep(settings).ok());
    EXPECT_EQ(rig.observer.activity, 2);
    ASSERT_TRUE(rig.session.lastLogSweep());
    const std::vector<float> recording = rig.session.lastLogSweep()->recording;
    ASSERT_FALSE(recording.empty());

    std::string error;
    rig.device.setChain(*SoundChain::parse("drop=1000", error));
    EXPECT_EQ(rig.session.runLogSweep(settings).kind(), Failure::LostSamples);
    ASSERT_TRUE(rig.session.lastLogSweep());
    EXPECT_EQ(rig.session.lastLogSweep()->recording, recording);
    EXPECT_FALSE(rig.session.busy());
}

} // namespace audimera
