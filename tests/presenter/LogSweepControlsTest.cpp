// What the presenter does for the log-sweep window: the main window's
// controls locked while a log sweep runs, and its curve added as a trace
// under the store's limits.
#include "tests/engine/EngineFixture.h"

#include <gtest/gtest.h>

namespace audimera {

namespace {

// A device that waits a few times over a log sweep and then records nothing.
class WaitingDevice : public SilentSoundDevice {
public:
    audimera::Result<Recorded> playAndRecord(const DuplexRequest&, std::vector<float>&, RecordWaiter& waiter) override
    {
        for (int i = 0; i < 3; ++i)
            if (!waiter.waitOnce())
                return Recorded::Cancelled;
        return audimera::Error{"nothing recorded"};
    }
};

class LogSweepControlsTest : public ::testing::Test {
protected:
    EngineRig<WaitingDevice> rig;
    MainPresenter& e = *rig.engine;
};

std::vector<ResponsePoint> curve(std::size_t n)
{
    std::vector<ResponsePoint> points;
    for (std::size_t i = 0; i < n; ++i)
        points.push_back({10 + static_cast<double>(i), -static_cast<double>(i) / 1000, 45.0});
    return points;
}

} // namespace

TEST_F(LogSweepControlsTest, TheMainControlsAreLockedWhileALogSweepRuns)
{
    int told = 0;
    e.setActivityListener([&] { ++told; });
    const char* locked[] = {"cmdStart", "cmdStartSignal", "MenuInDevice", "MenuOutDevice", "MenuRecordChannel"};
    rig.host.atYield(1, [&] {
        EXPECT_EQ(told, 1);
        for (const char* name : locked)
            EXPECT_FALSE(rig.panel.enabled(name)) << name;
    });
    EXPECT_FALSE(rig.session.runLogSweep({}).ok()); // the device records nothing
    EXPECT_EQ(told, 2);
    for (const char* name : locked)
        EXPECT_TRUE(rig.panel.enabled(name)) << name;

    // The Stop button's path (and shut-down) ends it too.
    rig.host.atYield(rig.host.yields() + 1, [&] { e.cmdStop_Click(); });
    EXPECT_EQ(rig.session.runLogSweep({}).kind(), Failure::Cancelled);
    EXPECT_FALSE(rig.session.logSweeping());
    EXPECT_EQ(told, 5);
    for (const char* name : locked)
        EXPECT_TRUE(rig.panel.enabled(name)) << name;
}

TEST_F(LogSweepControlsTest, CurveBecomesATraceOfAtMostTheStoreLimit)
{
    const std::vector<ResponsePoint> big = curve(TraceStore::MaxPoints + 5000);
    ASSERT_TRUE(e.addResponseTrace(big));
    const std::vector<ResponsePoint> added = rig.document.lastResponse();
    ASSERT_EQ(added.size(), static_cast<std::size_t>(TraceStore::MaxPoints));
    EXPECT_EQ(added.front().frequency, big.front().frequency);
    EXPECT_EQ(added.back().frequency, big.back().frequency);
    EXPECT_EQ(added[1].phase, 45.0);
    for (std::size_t i = 1; i < added.size(); ++i)
        ASSERT_LT(added[i - 1].frequency, added[i].frequency);
    EXPECT_TRUE(rig.panel.enabled("cmdClearTraces"));
    EXPECT_TRUE(rig.panel.enabled("MenuEntrySave"));
    EXPECT_EQ(rig.displays.redraws, 1);

    // Not while a sweep adds points to the newest trace.
    rig.host.atYield(1, [&] {
        EXPECT_FALSE(e.addResponseTrace(curve(3)));
        e.cmdStop_Click();
    });
    e.cmdStart_Click();
    EXPECT_EQ(traceCount(rig.document), 1);

    for (int t = 2; t <= TraceStore::MaxTraces; ++t)
        ASSERT_TRUE(e.addResponseTrace(curve(3)));
    EXPECT_FALSE(e.addResponseTrace(curve(3)));
    ASSERT_EQ(rig.host.messages.size(), 1u);
    EXPECT_EQ(rig.host.messages[0].text, std::string(TraceStore::TooManyTracesMessage));
    EXPECT_EQ(traceCount(rig.document), TraceStore::MaxTraces);
}

} // namespace audimera
