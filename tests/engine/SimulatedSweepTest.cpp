// Whole sweeps through the simulated sound card: the session's runs, the
// tone tables, the band-limited player and the chain together.
#include "tests/engine/EngineFixture.h"
#include "devices/SimulatedSoundCard.h"

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

struct SimulatedRig : SessionRig<SimulatedSoundCard> {
    explicit SimulatedRig(const char* chain)
    {
        std::string error;
        auto parsed = SoundChain::parse(chain, error);
        EXPECT_TRUE(parsed.has_value()) << error;
        EXPECT_TRUE(card.initAudio().ok());
        card.setChain(std::move(*parsed));
        initialiseTables(session);
    }
    SimulatedSoundCard& card = device;
    RunEnd sweep(double stop = 20000, int plan = FrequencyPlan::RangePlan)
    {
        SweepSettings settings;
        settings.plan = plan;
        settings.stop = stop;
        (void)session.runSweep(settings);
        return session.lastRunEnd();
    }
};

TEST(SimulatedSweepTest, ThirdOctaveSweepFollowsTheAnalyticResponse)
{
    for (const char* chain : {"lowpass=2000", "highpass=100", "gain=-12,lowpass2=5000", "lowpass=300,noise=-90"}) {
        SimulatedRig rig(chain);
        EXPECT_EQ(rig.sweep(20000, FrequencyPlan::Bands31Plan), RunEnd::Completed) << chain;
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
    rig.sweep();
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
    EXPECT_GT(rig.session.snr(), 60);
}

TEST(SimulatedSweepTest, GlitchesAreMeasuredAgainOrPlotted)
{
    // An output too hot for the input clips every block: with the check on,
    // the first tone is measured again and again until Stop.
    SimulatedRig rig("gain=7");
    rig.host.everyYield([&] {
        if (rig.card.recordedBlocks() > 12 && rig.session.sweeping())
            rig.session.stop();
    });
    EXPECT_EQ(rig.sweep(200), RunEnd::Stopped);
    ASSERT_EQ(traceCount(rig.document), 1);
    EXPECT_EQ(rig.document.traces().pointCount(0), 0);
    EXPECT_EQ(rig.observer.sounds.back(), std::make_pair(Sound::Tone, 20.0));

    SimulatedRig plotted("gain=7");
    plotted.observer.badBlocksAgain = false;
    plotted.sweep(200);
    EXPECT_EQ(plotted.document.traces().pointCount(0), 11); // 20 .. 200 by 1.26
}

TEST(SimulatedSweepTest, StalledAndFailingRecordsEndTheRun)
{
    SimulatedRig rig("");
    rig.card.setStalled(true);
    EXPECT_EQ(rig.sweep(), RunEnd::DeviceFailed);
    ASSERT_EQ(rig.host.messages.size(), 1u);
    EXPECT_NE(rig.host.messages[0].text.find(SimulatedSoundCard::StalledError), std::string::npos);
    EXPECT_EQ(rig.host.messages[0].icon, MessageIcon::Critical);
    EXPECT_FALSE(rig.session.sweeping());
    EXPECT_FALSE(rig.card.isPlaying());
}

TEST(SimulatedSweepTest, ContinuousSignalReadsTheLiveLevel)
{
    SimulatedRig rig("gain=-6.02");
    rig.host.everyYield([&] {
        if (rig.card.recordedBlocks() == 6)
            rig.session.stop();
    });
    EXPECT_EQ(rig.session.runSignal({}).kind(), Failure::Cancelled);
    EXPECT_FALSE(rig.session.playing());
    EXPECT_EQ(rig.card.recordedBlocks(), 6);
    EXPECT_FALSE(rig.observer.levels.empty());
}

} // namespace

} // namespace audimera
