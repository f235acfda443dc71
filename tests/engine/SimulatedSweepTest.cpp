// Whole sweeps through the simulated sound card: the engine, the tone
// tables, the band-limited player and the chain together.
#include "tests/engine/EngineFixture.h"
#include "devices/SimulatedSoundCard.h"

#include "dsp/DspLibrary.h"

#include <cmath>

namespace audimera {

namespace {

// The level is the mean sample magnitude of the block. Where a period is a
// whole number of samples (3150 Hz: 14, 6300 Hz: 7) the samples fall on the
// same few phases throughout, and that mean varies with where they fall, by
// -0.15 to +0.07 dB; elsewhere it stays within about 0.04 dB.
double tolerance(double hz)
{
    const double samples = 44100 / hz;
    return std::abs(samples - std::round(samples)) < 1e-9 && samples < 20 ? 0.16 : 0.05;
}

struct SimulatedRig {
    explicit SimulatedRig(const char* chain)
    {
        std::string error;
        auto parsed = SoundChain::parse(chain, error);
        EXPECT_TRUE(parsed.has_value()) << error;
        EXPECT_TRUE(card.initAudio().ok());
        card.setChain(std::move(*parsed));
        Audidsp::LowPass44(0, 0, 1);
        engine.InitWhitePinkBuffers();
    }
    FakePanel panel;
    ScriptedHost host;
    SimulatedSoundCard card;
    RecordingDisplays displays;
    MeasurementDocument document;
    MainPresenter engine{panel, host, card, displays, document};
};

TEST(SimulatedSweepTest, ThirdOctaveSweepFollowsTheAnalyticResponse)
{
    for (const char* chain : {"lowpass=2000", "highpass=100", "gain=-12,lowpass2=5000", "lowpass=300,noise=-90"}) {
        SimulatedRig rig(chain);
        rig.panel.select("OptionAutoSigGen", MainPresenter::PlanIso31, 4);
        rig.engine.cmdStart_Click();
        ASSERT_EQ(traceCount(rig.document), 1) << chain;
        const auto points = newestTrace(rig.document);
        ASSERT_EQ(points.size(), 31u) << chain;
        double at1k = 0;
        for (const auto& p : points)
            if (p.first == 1000)
                at1k = p.second;
        const double analytic1k = rig.card.chain().magnitudeDb(1000);
        for (const auto& p : points) {
            const double expected = rig.card.chain().magnitudeDb(p.first) - analytic1k;
            EXPECT_NEAR(p.second - at1k, expected, tolerance(p.first)) << chain << " at " << p.first << " Hz";
        }
        EXPECT_TRUE(rig.host.messages.empty()) << chain;
    }
}

TEST(SimulatedSweepTest, PerfectLoopbackIsFlatAndItsLevelFollowsTheCalibration)
{
    SimulatedRig rig("");
    rig.engine.cmdStart_Click();
    ASSERT_EQ(traceCount(rig.document), 1);
    const auto points = newestTrace(rig.document);
    ASSERT_EQ(points.size(), 31u);
    const double near1k = points[17].second; // 1017.1 Hz
    for (const auto& p : points)
        EXPECT_NEAR(p.second, near1k, tolerance(p.first)) << p.first;
    // A 16000 sine against noise at half scale: mean 2/pi * 16000 against
    // 2/1.16 times the noise's mean magnitude (about 16380 / 2).
    const double expected = 20 * std::log10((2 / M_PI * 16000) / (2 * 8190.0 / 1.16));
    EXPECT_NEAR(points[0].second, expected, 0.1);
    EXPECT_GT(rig.engine.SNR, 60);
}

TEST(SimulatedSweepTest, GlitchesAreMeasuredAgainOrPlotted)
{
    // An output too hot for the input clips every block: with the check on,
    // the first tone is measured again and again until Stop.
    SimulatedRig rig("gain=7");
    rig.panel["TextStop"].text = "200";
    rig.host.everyYield([&] {
        if (rig.card.recordedBlocks() > 12 && rig.engine.Running)
            rig.engine.cmdStop_Click();
    });
    rig.engine.cmdStart_Click();
    ASSERT_EQ(traceCount(rig.document), 1);
    EXPECT_EQ(rig.document.traces().pointCount(0), 0);
    EXPECT_EQ(rig.panel["LabelFreq"].caption, "20.00 Hz");
    EXPECT_EQ(rig.displays.redraws, 0);

    SimulatedRig plotted("gain=7");
    plotted.panel["TextStop"].text = "200";
    plotted.panel["CheckBadInputWave"].value = 0;
    plotted.engine.cmdStart_Click();
    EXPECT_EQ(plotted.document.traces().pointCount(0), 11); // 20 .. 200 by 1.26
}

TEST(SimulatedSweepTest, StalledAndFailingRecordsEndTheRun)
{
    SimulatedRig rig("");
    rig.card.setStalled(true);
    rig.engine.cmdStart_Click();
    ASSERT_EQ(rig.host.messages.size(), 1u);
    EXPECT_NE(rig.host.messages[0].text.find(SimulatedSoundCard::StalledError), std::string::npos);
    EXPECT_EQ(rig.host.messages[0].icon, MessageIcon::Critical);
    EXPECT_FALSE(rig.engine.Running);
    EXPECT_FALSE(rig.card.isPlaying());
}

TEST(SimulatedSweepTest, ContinuousSignalReadsTheLiveLevel)
{
    SimulatedRig rig("gain=-6.02");
    int blocks = 0;
    std::vector<std::string> levels;
    rig.host.everyYield([&] {
        if (rig.card.recordedBlocks() != blocks) {
            blocks = rig.card.recordedBlocks();
            levels.push_back(rig.panel["LabelDB"].caption);
            if (blocks == 6)
                rig.engine.cmdStartSignal_Click();
        }
    });
    rig.engine.cmdStartSignal_Click();
    EXPECT_FALSE(rig.engine.Playing);
    ASSERT_GE(levels.size(), 4u);
    EXPECT_NE(levels.back(), "N/A");
}

} // namespace

} // namespace audimera
