// Hours of use compressed: the continuous signal for 10 000 blocks and a
// sweep of 22051 points on the simulated card. After the first block,
// nothing on the measuring path may allocate, so memory stays flat.
#include "AllocationCounter.h"
#include "DspLibrary.h"
#include "EngineFixture.h"
#include "SimulatedSoundCard.h"
#include "TestFolder.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <new>


namespace {

// Plot windows with a store allocated whole, as the real trace store is.
class FixedDisplays : public Displays {
public:
    FixedDisplays() { m_points.reserve(22051); }
    bool AddTrace() override
    {
        m_points.clear();
        return true;
    }
    void AddPoint(double f, double dB) override
    {
        if (m_points.size() < m_points.capacity())
            m_points.push_back({f, dB});
    }
    void TraceResponse() override {}
    int GetTraceCount() const override { return 1; }
    void DrawCurve(int, int, const int16_t*, int, bool, int) override {}
    void TraceFFT(const int16_t*, float*, bool) override {}
    size_t points() const { return m_points.size(); }

private:
    std::vector<std::pair<double, double>> m_points;
};

struct Rig {
    FakePanel panel;
    ScriptedHost host;
    SimulatedSoundCard card;
    FixedDisplays displays;
    MeasurementEngine engine{panel, host, card, displays};
    explicit Rig(const char* chain = "")
    {
        card.openOutputDevice(0);
        card.openInputDevice(0);
        std::string error;
        card.setChain(*SoundChain::parse(chain, error));
        Audidsp::LowPass44(0, 0, 1);
        engine.InitWhitePinkBuffers();
    }
};

TEST(LongRunTest, TenThousandBlocksOfTheSignalAllocateNothing)
{
    Rig rig;
    rig.panel.select("OptionSigGen", MeasurementEngine::SignalTriangle, 6);
    rig.panel["TextFFT"].text = "150"; // rate 15000: each block is cheap to play
    long long atBlock100 = -1;
    rig.host.everyYield([&] {
        const int blocks = rig.card.recordedBlocks();
        if (blocks == 100 && atBlock100 < 0) {
            atBlock100 = allocations::count.load();
            allocations::counting = true;
        }
        if (blocks >= 10000 && rig.engine.Playing) {
            allocations::counting = false;
            rig.engine.cmdStartSignal_Click();
        }
    });
    rig.engine.cmdStartSignal_Click();
    allocations::counting = false;
    EXPECT_EQ(rig.card.recordedBlocks(), 10000);
    EXPECT_GE(atBlock100, 0);
    EXPECT_EQ(allocations::count.load() - atBlock100, 0) << "allocations in 9900 blocks";
    EXPECT_NE(rig.panel["LabelDB"].caption, "N/A");
}

TEST(LongRunTest, SweepOf22051PointsAllocatesNothingPerPoint)
{
    Rig rig;
    const std::string list = testFile("longrun-list.txt");
    {
        // Below 441 Hz the tone plays at rates under 44100, cheap to render.
        std::ofstream out(list, std::ios::trunc);
        out.precision(10);
        for (int i = 0; i < 22051; ++i)
            out << 10 + i * (430.0 / 22050) << '\n';
    }
    rig.panel["txtUserFreqFile"].text = list;
    rig.panel.select("OptionAutoSigGen", MeasurementEngine::PlanUserFile, 4);
    long long atPoint10 = -1;
    rig.host.everyYield([&] {
        if (rig.displays.points() == 10 && atPoint10 < 0) {
            atPoint10 = allocations::count.load();
            allocations::counting = true;
        }
        if (rig.displays.points() == 22051)
            allocations::counting = false; // what ends the run allocates once, not per point
    });
    rig.engine.cmdStart_Click();
    allocations::counting = false;
    EXPECT_EQ(rig.displays.points(), 22051u);
    EXPECT_EQ(rig.engine.lastRunEnd(), MeasurementEngine::RunEnd::Completed);
    ASSERT_GE(atPoint10, 0);
    EXPECT_EQ(allocations::count.load() - atPoint10, 0) << "allocations in 22041 points";
}

} // namespace
