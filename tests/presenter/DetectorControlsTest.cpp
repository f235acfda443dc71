// The detector and distortion controls on whole runs through the simulated
// sound card: the Level Detection choice read at Start, and the THD read-out
// of the sweep and of the generator's sine.
#include "devices/SimulatedSoundCard.h"
#include "tests/engine/EngineFixture.h"

namespace audimera {

namespace {

constexpr const char* Narrow = "MenuEntryDetector(1)";
constexpr const char* Mean = "MenuEntryDetector(0)";

struct Rig : EngineRig<SimulatedSoundCard> {
    explicit Rig(bool narrow)
    {
        EXPECT_TRUE(device.initAudio().ok());
        initialiseTables(session);
        choose(narrow);
        panel["CheckInput"].value = 0;
        panel["CheckFFT"].value = 0;
    }
    void choose(bool narrow)
    {
        panel[Mean].value = narrow ? 0 : 1;
        panel[Narrow].value = narrow ? 1 : 0;
    }
    SimulatedSoundCard& card = device;
};

TEST(DetectorControlsTest, TheDetectorIsReadOnceAtStart)
{
    // 3150 and 3151 Hz: the mean magnitude reads 3150 Hz low by about
    // 0.1 dB, the narrow band does not.
    for (const bool startNarrow : {false, true}) {
        Rig rig(startNarrow);
        rig.panel["TextStart"].text = "3150";
        rig.panel["TextStop"].text = "3151";
        // Switched at the first yield of the run, before any tone.
        rig.host.everyYield([&] { rig.choose(!startNarrow); });
        rig.engine->cmdStart_Click();
        const auto points = newestTrace(rig.document);
        ASSERT_EQ(points.size(), 2u);
        const double step = points[1].second - points[0].second;
        if (startNarrow)
            EXPECT_NEAR(step, 0, 0.005);
        else
            EXPECT_GT(std::abs(step), 0.05);
        EXPECT_EQ(rig.engine->levelDetectorChoice(),
                  startNarrow ? LevelDetector::MeanMagnitude : LevelDetector::NarrowBand);
    }
}

TEST(DetectorControlsTest, TheThdReadOutFollowsTheSweepAndTheGeneratorsSine)
{
    Rig rig(false);
    EXPECT_EQ(rig.panel["LabelTHD"].caption, "N/A");
    rig.panel["TextStart"].text = "1000";
    rig.panel["TextStop"].text = "2000";
    rig.engine->cmdStart_Click();
    // A clean loopback: only rounding to 16 bits.
    EXPECT_EQ(rig.panel["LabelTHD"].caption, "0.00 % (THD+N 0.00 %)");

    // Above 10 kHz no harmonic is measured, THD+N still is.
    rig.panel["TextStart"].text = "12000";
    rig.panel["TextStop"].text = "13000";
    rig.engine->cmdStart_Click();
    EXPECT_EQ(rig.panel["LabelTHD"].caption, "N/A (THD+N 0.00 %)");

    // The generator: a triangle's harmonics are its own, so it shows none; a
    // sine does.
    int stopAt = 0;
    rig.host.everyYield([&] {
        if (rig.session.playing() && rig.card.recordedBlocks() >= stopAt)
            rig.engine->cmdStartSignal_Click();
    });
    for (const int signal : {MainPresenter::SignalTriangle, MainPresenter::SignalSine}) {
        rig.panel["LabelTHD"].caption = "?";
        rig.panel.select("OptionSigGen", signal, 6);
        rig.panel["TextFFT"].text = "1000";
        stopAt = rig.card.recordedBlocks() + 2;
        rig.engine->cmdStartSignal_Click();
        EXPECT_EQ(rig.panel["LabelTHD"].caption,
                  signal == MainPresenter::SignalSine ? "0.00 % (THD+N 0.00 %)" : "N/A")
            << signal;
    }
}

} // namespace

} // namespace audimera
