// The "Level Detection" choice of the Settings menu (ticks, kept between
// sessions, read by a sweep) and the THD read-out of the Measure frame.
#include "tests/ui/MainWindowFixture.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QMenu>
#include <QSettings>

#include <cmath>

namespace audimera {

namespace {

class MainWindowDetector : public MainWindowTest {
protected:
    // Every test starts from a first session and leaves none behind for the
    // other window tests.
    void SetUp() override { forget(); }
    void TearDown() override
    {
        MainWindowTest::TearDown();
        forget();
    }
    static void forget()
    {
        QSettings(QStringLiteral("Audimera"), QStringLiteral("Audimera")).remove(frmMain::DetectorSettingKey);
    }
    bool ticked(int entry) { return action("MenuEntryDetector(" + std::to_string(entry) + ")")->isChecked(); }
    // Starts a window of a new session, as the program would.
    void restart()
    {
        MainWindowTest::TearDown();
        start();
    }
};

TEST_F(MainWindowDetector, TheChoiceIsTickedKeptBetweenSessionsAndMeanMagnitudeFirst)
{
    start();
    auto* menu = find<QMenu>("MenuLevelDetection");
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->title().toStdString(), "Level Detection");
    EXPECT_TRUE(find<QMenu>("SettingsMenu")->actions().contains(menu->menuAction()));
    EXPECT_EQ(action("MenuEntryDetector(0)")->text().toStdString(), "Mean Magnitude");
    EXPECT_EQ(action("MenuEntryDetector(1)")->text().toStdString(), "Narrow Band");
    EXPECT_TRUE(ticked(0));
    EXPECT_FALSE(ticked(1));
    EXPECT_EQ(window->engine().levelDetectorChoice(), LevelDetector::MeanMagnitude);

    trigger("MenuEntryDetector(1)");
    EXPECT_FALSE(ticked(0));
    EXPECT_TRUE(ticked(1));
    EXPECT_EQ(window->engine().levelDetectorChoice(), LevelDetector::NarrowBand);
    // A second click on the ticked entry keeps it ticked: a choice, not a switch.
    trigger("MenuEntryDetector(1)");
    EXPECT_TRUE(ticked(1));

    restart();
    EXPECT_FALSE(ticked(0));
    EXPECT_TRUE(ticked(1));
    trigger("MenuEntryDetector(0)");
    restart();
    EXPECT_TRUE(ticked(0));
    EXPECT_FALSE(ticked(1));
}

TEST_F(MainWindowDetector, ASweepMeasuresWithTheTickedDetector)
{
    // 3150 Hz repeats the same 14 phases, which moves the mean magnitude by
    // about 0.1 dB against 3151 Hz on a perfect loopback; the narrow band
    // reads both alike. Levels are kept in hundredths of a dB.
    start();
    for (const int entry : {1, 0}) {
        trigger("MenuEntryDetector(" + std::to_string(entry) + ")");
        sweep("3150", "3151", 200);
        const TraceStore& store = window->responseWindow().store();
        const int trace = store.GetTraceCount() - 1;
        ASSERT_EQ(store.pointCount(trace), 2);
        const double step = std::abs(store.traceY(trace)[1] - store.traceY(trace)[0]);
        if (entry == 1)
            EXPECT_LT(step, 0.5);
        else
            EXPECT_GT(step, 5);
    }
}

TEST_F(MainWindowDetector, TheThdReadOutSitsUnderTheDocumentedOnesAndShowsTheLastTone)
{
    start();
    auto* frame = find<QGroupBox>("Frame3");
    auto* grid = qobject_cast<QGridLayout*>(frame->layout());
    ASSERT_NE(grid, nullptr);
    auto at = [&](int row, int column) {
        QLayoutItem* item = grid->itemAtPosition(row, column);
        return item && item->widget() ? item->widget()->objectName().toStdString() : std::string();
    };
    EXPECT_EQ(at(3, 0), "Label4");
    EXPECT_EQ(at(4, 0), "LabelTHDtxt");
    EXPECT_EQ(at(4, 1), "LabelTHD");
    EXPECT_EQ(labelText("LabelTHDtxt"), "THD:");
    EXPECT_EQ(labelText("LabelTHD"), "N/A");

    sweep();
    // A perfect loopback: nothing but the rounding to 16 bits.
    const std::string zero = window->panel().formatNumber(0);
    EXPECT_EQ(labelText("LabelTHD"), zero + " % (THD+N " + zero + " %)");
}

} // namespace

} // namespace audimera
