// Hours of use compressed: the continuous signal for 10 000 blocks and a
// sweep of 22051 points on the simulated card. After the first block,
// nothing on the measuring path may allocate, so memory stays flat.
#include "tests/support/AllocationCounter.h"
#include "tests/engine/EngineFixture.h"
#include "devices/SimulatedSoundCard.h"
#include "tests/support/TestFolder.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <new>

namespace audimera {

namespace {

// Plot windows that draw nothing; the points go to the document's trace
// store, allocated whole as the program's is.
class QuietDisplays : public Displays {
public:
    void TraceResponse() override {}
    void DrawCurve(int, int, const int16_t*, int, bool, int) override {}
    void TraceFFT(const int16_t*, float*, bool) override {}
};

struct Rig {
    FakePanel panel;
    ScriptedHost host;
    SimulatedSoundCard card;
    QuietDisplays displays;
    MeasurementDocument document;
    MeasurementSession session{host, card, document};
    MainPresenter engine{panel, session, displays};
    int points() const { return document.traces().pointCount(0); }
    explicit Rig(const char* chain = "")
    {
        EXPECT_TRUE(card.initAudio().ok());
        std::string error;
        card.setChain(*SoundChain::parse(chain, error));
        initialiseTables(session);
    }
};

TEST(LongRunTest, TenThousandBlocksOfTheSignalAllocateNothing)
{
    Rig rig;
    rig.panel.select("OptionSigGen", MainPresenter::SignalTriangle, 6);
    rig.panel["TextFFT"].text = "150"; // rate 15000: each block is cheap to play
    long long atBlock100 = -1;
    rig.host.everyYield([&] {
        const int blocks = rig.card.recordedBlocks();
        if (blocks == 100 && atBlock100 < 0) {
            atBlock100 = allocations::count.load();
            allocations::counting = true;
        }
        if (blocks >= 10000 && rig.session.playing()) {
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
    rig.panel.select("OptionAutoSigGen", MainPresenter::PlanUserFile, 4);
    long long atPoint10 = -1;
    rig.host.everyYield([&] {
        if (rig.points() == 10 && atPoint10 < 0) {
            atPoint10 = allocations::count.load();
            allocations::counting = true;
        }
        if (rig.points() == 22051)
            allocations::counting = false; // what ends the run allocates once, not per point
    });
    rig.engine.cmdStart_Click();
    allocations::counting = false;
    EXPECT_EQ(rig.points(), 22051);
    EXPECT_EQ(rig.engine.lastRunEnd(), MainPresenter::RunEnd::Completed);
    ASSERT_GE(atPoint10, 0);
    EXPECT_EQ(allocations::count.load() - atPoint10, 0) << "allocations in 22041 points";
}

} // namespace

} // namespace audimera
