// The sweep's controls: what Start, Stop and "Recenter 0dB" lock, restore
// and show, the range boxes read into the sweep's settings, and the plan
// buttons and range switch during a run.
#include "tests/engine/EngineFixture.h"

namespace audimera {

namespace {

class SweepControlsTest : public LoopbackPresenterTest {
protected:
    void range(const char* start, const char* stop, int step)
    {
        panel["TextStart"].text = start;
        panel["TextStop"].text = stop;
        panel["HScrollStep"].value = step;
    }

    std::vector<double> sweep()
    {
        const int before = traceCount(document);
        e.cmdStart_Click();
        return traceCount(document) > before ? newestFrequencies(document) : std::vector<double>{};
    }

    void expectIdle()
    {
        EXPECT_FALSE(session.busy());
        EXPECT_TRUE(panel["cmdStart"].enabled);
        EXPECT_FALSE(panel["cmdStop"].enabled);
        EXPECT_TRUE(panel["cmdStartSignal"].enabled);
        EXPECT_TRUE(panel["TextStart"].enabled);
        EXPECT_TRUE(panel["MenuInDevice"].enabled);
        EXPECT_TRUE(panel["OptionSigGen(5)"].enabled);
        EXPECT_FALSE(card.playing);
    }
};

TEST_F(SweepControlsTest, ACompletedSweepShowsItsLastPointAndGivesTheControlsBack)
{
    EXPECT_EQ(sweep().size(), 31u);
    expectIdle();
    EXPECT_TRUE(panel["cmdCalibrate"].enabled);
    EXPECT_TRUE(panel["cmdClearTraces"].enabled);
    EXPECT_TRUE(panel["MenuEntrySave"].enabled);
    EXPECT_EQ(panel["LabelFreq"].caption, "20000.00 Hz");
    EXPECT_NE(panel["LabelDB"].caption.find(" dB"), std::string::npos);
    EXPECT_NE(panel["LabelCardSNR"].caption, "N/A");
    EXPECT_EQ(displays.redraws, 31);
    EXPECT_EQ(e.lastRunEnd(), MainPresenter::RunEnd::Completed);
}

TEST_F(SweepControlsTest, TextThatIsNotANumberIsReportedAndNothingRuns)
{
    // Uncalibrated and calibrated: the refusal takes no trace slot.
    for (const bool held : {false, true}) {
        if (held)
            calibrated();
        for (const char* box : {"TextStart", "TextStop"}) {
            range("20", "20000", 126);
            panel[box].text = "2O0"; // a letter O
            host.messages.clear();
            sweep();
            ASSERT_EQ(host.messages.size(), 1u) << box << held;
            EXPECT_EQ(host.messages[0].icon, MessageIcon::Exclamation);
            EXPECT_NE(host.messages[0].text.find("'2O0'"), std::string::npos);
            EXPECT_NE(host.messages[0].text.find(box == std::string("TextStart") ? "start" : "stop"),
                      std::string::npos);
            EXPECT_EQ(card.records, 0);
            EXPECT_EQ(traceCount(document), 0) << box << held;
            EXPECT_EQ(e.lastRunEnd(), MainPresenter::RunEnd::Refused);
            expectIdle();
        }
    }
    range("20", "", 126);
    sweep();
    EXPECT_EQ(card.records, 0);
    EXPECT_EQ(traceCount(document), 0);
}

TEST_F(SweepControlsTest, NumbersAreReadAndShownInTheUsersLocale)
{
    FakePanel comma(',');
    MainPresenter engine(comma, session, displays);
    comma["TextStart"].text = "100,5";
    comma["TextStop"].text = "150";
    comma["HScrollStep"].value = 200;
    engine.cmdStart_Click();
    EXPECT_EQ(newestFrequencies(document), (std::vector<double>{100.5, 150}));
    EXPECT_EQ(comma["LabelFreq"].caption, "150,00 Hz");
    EXPECT_NE(comma["LabelDB"].caption.find(','), std::string::npos);
}

TEST_F(SweepControlsTest, TheStopButtonGivesBackWhatTheRunLocked)
{
    calibrated();
    host.atYield(host.yields() + 3 * 3, [&] {
        EXPECT_FALSE(panel["MenuEntryLoadTrace"].enabled);
        EXPECT_FALSE(panel["HScrollFFT"].enabled);
        EXPECT_TRUE(panel["cmdStop"].enabled);
        e.cmdStop_Click();
    });
    EXPECT_EQ(sweep().size(), 3u);
    expectIdle();
    EXPECT_EQ(e.lastRunEnd(), MainPresenter::RunEnd::Stopped);
    EXPECT_TRUE(panel["MenuEntryLoadTrace"].enabled);
    EXPECT_TRUE(panel["HScrollFFT"].enabled);
}

TEST_F(SweepControlsTest, RecenterAndADeclinedCalibrationLeaveItsButtonOff)
{
    range("100", "200", 200);
    sweep();
    EXPECT_TRUE(panel["cmdCalibrate"].enabled);
    e.cmdCalibrate_Click();
    EXPECT_FALSE(session.calibrated());
    EXPECT_FALSE(panel["cmdCalibrate"].enabled);

    card.gain = 0; // nothing comes back
    host.answer(MessageAnswer::No);
    sweep();
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, MainPresenter::LowSignalQuestion);
    EXPECT_FALSE(panel["cmdCalibrate"].enabled);
    expectIdle();
    EXPECT_EQ(e.lastRunEnd(), MainPresenter::RunEnd::LowSignalDeclined);
}

TEST_F(SweepControlsTest, PlanButtonsAndRangeSwitchDuringASweepDoNotDisturbIt)
{
    range("100", "1000", 200);
    calibrated();
    host.atYield(host.yields() + 3, [&] {
        panel.select("OptionAutoSigGen", 2, 4);
        e.OptionAutoSigGen_Click(2);
        panel["CheckBy5"].value = 1;
        e.CheckBy5_Click();
    });
    const auto f = sweep();
    EXPECT_EQ(f, (std::vector<double>{100, 200, 400, 800, 1000}));
    EXPECT_EQ(device.count(Call::Stop), 2); // cmdStart and the final stop
    EXPECT_EQ(session.choice(), 2);
    EXPECT_EQ(panel["TextFFT"].text, "2000.00"); // only the box follows the switch
    // The next run takes the newly selected plan.
    EXPECT_EQ(sweep().size(), 18u);
}

} // namespace

} // namespace audimera
