// The narrow-band detector and distortion through the session's sweeps and
// signal on the simulated sound card: flatness where the mean magnitude is
// moved by the sampling, noise, retuning, and the harmonics. Prints the
// figures it checks.
#include "tests/engine/EngineFixture.h"

#include "signal/SignalSynthesis.h"
#include "devices/SimulatedSoundCard.h"

#include <cmath>
#include <cstdio>
#include <map>

namespace audimera {

namespace {

struct Rig : SessionRig<SimulatedSoundCard> {
    explicit Rig(const char* chain, bool narrow = false)
    {
        useChain(chain);
        EXPECT_TRUE(card.initAudio().ok());
        initialiseTables(session);
        settings.detector = narrow ? LevelDetector::NarrowBand : LevelDetector::MeanMagnitude;
    }
    void useChain(const char* chain)
    {
        std::string error;
        auto parsed = SoundChain::parse(chain, error);
        EXPECT_TRUE(parsed.has_value()) << error;
        card.setChain(std::move(*parsed));
    }
    // The 31 bands: frequency -> level.
    std::map<double, double> bands()
    {
        settings.plan = FrequencyPlan::Bands31Plan;
        EXPECT_TRUE(session.runSweep(settings));
        std::map<double, double> levels;
        for (const auto& [f, level] : newestTrace(document))
            levels[f] = level;
        EXPECT_EQ(levels.size(), 31u);
        return levels;
    }
    SimulatedSoundCard& card = device;
    SweepSettings settings;
};

struct Spread {
    double low = HUGE_VAL, high = -HUGE_VAL;
    void add(double v)
    {
        low = std::min(low, v);
        high = std::max(high, v);
    }
};

TEST(NarrowBandSweepTest, PerfectLoopbackIsFlatAtEveryBandAndMatchesTheMeanMagnitudeAwayFromTheSamplingEffect)
{
    Rig narrow("", true);
    Rig mean("", false);
    const std::map<double, double> n = narrow.bands();
    const std::map<double, double> m = mean.bands();
    ASSERT_EQ(n.size(), 31u);
    const double reference = n.at(1000);
    Spread flat, meanFlat;
    for (const auto& [f, level] : n) {
        EXPECT_NEAR(level, reference, 0.005) << f << " Hz";
        flat.add(level - reference);
        meanFlat.add(m.at(f) - m.at(1000));
    }
    // The same calibration and scale: both read alike where the mean
    // magnitude is not moved by where the samples fall.
    EXPECT_NEAR(n.at(1000), m.at(1000), 0.005);
    EXPECT_NEAR(n.at(400), m.at(400), 0.005);
    // Where it is, they differ: the case for the narrow band.
    EXPECT_GT(std::abs(n.at(3150) - m.at(3150)) + std::abs(n.at(6300) - m.at(6300)), 0.05);
    std::printf("[ figures  ] perfect loopback, 31 bands re 1 kHz: narrow band %+.4f..%+.4f dB, "
                "mean magnitude %+.4f..%+.4f dB (3150 Hz %+.4f, 6300 Hz %+.4f)\n",
                flat.low, flat.high, meanFlat.low, meanFlat.high, m.at(3150) - m.at(1000), m.at(6300) - m.at(1000));
}

TEST(NarrowBandSweepTest, NoiseMovesTheNarrowBandFarLessThanTheMeanMagnitude)
{
    // Each detector against itself without noise, on the same calibration
    // (made on the clean chain): what noise at -30 dBFS (SNR 21 dB) does to
    // the tone's level.
    Spread drift[2];
    for (const bool narrow : {false, true}) {
        Rig rig("", narrow);
        const std::map<double, double> clean = rig.bands();
        rig.useChain("noise=-30");
        const std::map<double, double> noisy = rig.bands();
        ASSERT_EQ(noisy.size(), 31u);
        for (const auto& [f, level] : noisy) {
            drift[narrow].add(level - clean.at(f));
            if (narrow) {
                EXPECT_NEAR(level, clean.at(f), 0.05) << f << " Hz";
            }
        }
    }
    EXPECT_GT(drift[0].high, drift[1].high);
    std::printf("[ figures  ] noise=-30, drift re the clean chain: mean magnitude %+.4f..%+.4f dB, narrow band "
                "%+.4f..%+.4f dB\n",
                drift[0].low, drift[0].high, drift[1].low, drift[1].high);
}

TEST(NarrowBandSweepTest, TheGeneratorsSineIsFittedAtTheFrequencyItIsRetunedTo)
{
    // A perfect loopback reads the same narrow-band level at any frequency;
    // a fit left at the old frequency after the scroll bars retune the tone
    // would find next to nothing there.
    Rig rig("");
    rig.session.choose(SignalChoice::Sine);
    rig.observer.signal = SignalChoice{SignalChoice::Sine, 3150, true};
    const std::vector<double>& levels = rig.observer.levels;
    std::size_t seen = 0;
    rig.host.everyYield([&] {
        if (levels.size() == seen)
            return;
        seen = levels.size();
        if (seen == 2) {
            // Rate 6300 of the "x20" table: 1260 Hz, without a restart.
            rig.session.setFrequency(1260);
            rig.session.retuneSignal(6300);
        }
        if (seen == 5)
            rig.session.stop();
    });
    SignalSettings settings;
    settings.detector = LevelDetector::NarrowBand;
    (void)rig.session.runSignal(settings);
    ASSERT_EQ(levels.size(), 5u);
    EXPECT_EQ(rig.card.playLoopCount(), 2); // the white noise, then the sine once
    for (const double level : levels)
        EXPECT_NEAR(level, levels[0], 0.011);
}


TEST(NarrowBandSweepTest, PolynomialDistortionGivesItsAnalyticHarmonicsAtEveryBand)
{
    constexpr double A2 = 0.05, A3 = 0.1;
    Rig rig("poly=0.05,0.1");
    rig.bands();
    const RecordingObserver& observer = rig.observer;
    ASSERT_EQ(observer.distortion.size(), 31u);

    // The table's sine peak on full scale, through the player (flat to
    // 0.01 dB) at full volume.
    const double a = SinePeak / 32768.0;
    const double h1 = SoundChain::polyHarmonic(1, a, A2, A3);
    const double h2 = 20 * std::log10(SoundChain::polyHarmonic(2, a, A2, A3) / h1);
    const double h3 = 20 * std::log10(SoundChain::polyHarmonic(3, a, A2, A3) / h1);
    Spread e2, e3;
    for (const auto& [f, d] : observer.distortion) {
        // Harmonics fold back above 22050 Hz in a chain sampled at 44100 Hz:
        // a 3rd that folds can land on the 2nd's place, so H2 is checked
        // where the 3rd does not fold.
        if (2 * f < 20000 && 3 * f < 22050) {
            ASSERT_TRUE(d.harmonicDb[0]) << f;
            EXPECT_NEAR(*d.harmonicDb[0], h2, 0.3) << "H2 at " << f << " Hz";
            e2.add(*d.harmonicDb[0] - h2);
        }
        if (3 * f < 20000) {
            ASSERT_TRUE(d.harmonicDb[1]) << f;
            EXPECT_NEAR(*d.harmonicDb[1], h3, 0.3) << "H3 at " << f << " Hz";
            e3.add(*d.harmonicDb[1] - h3);
            // H4 and H5 are not made: far below.
            if (5 * f < 20000) {
                EXPECT_LT(*d.harmonicDb[2], h3 - 40) << f;
                EXPECT_LT(*d.harmonicDb[3], h3 - 40) << f;
            }
            // THD only where H2..H5 are all measured.
            const double thd = 100 * std::hypot(std::pow(10, h2 / 20), std::pow(10, h3 / 20));
            if (5 * f <= 20000)
                EXPECT_NEAR(d.thdPercent.value_or(0), thd, thd * 0.04) << f;
            else
                EXPECT_FALSE(d.thdPercent) << f;
        }
    }
    std::printf("[ figures  ] poly=0.05,0.1: H2 %.2f dB, H3 %.2f dB analytic; measured H2 %+.3f..%+.3f dB, H3 "
                "%+.3f..%+.3f dB off\n",
                h2, h3, e2.low, e2.high, e3.low, e3.high);
}

} // namespace

} // namespace audimera

namespace audimera {

namespace {

TEST(NarrowBandSweepTest, ARecordClockApartFromThePlayClockMovesNeitherLevelNorThdPlusNoise)
{
    // Each band re 1 kHz against the same on a perfect loopback; the record
    // clock (the chain's drift item) records every tone off its nominal
    // frequency. (Re 1 kHz: the calibration's white noise loses the top of
    // its band, above 21 kHz, in the drift's interpolator.)
    std::map<double, double> clean;
    double worstDb = 0, worstThdN = 0;
    for (const char* chain : {"", "drift=50", "drift=-50", "drift=-100"}) {
        Rig rig(chain, true);
        std::map<double, double> levels = rig.bands();
        ASSERT_EQ(levels.size(), 31u);
        const double at1k = levels.at(1000);
        for (auto& [f, level] : levels)
            level -= at1k;
        if (clean.empty())
            clean = levels;
        for (const auto& [f, level] : levels) {
            EXPECT_NEAR(level, clean.at(f), 0.01) << chain << " at " << f << " Hz";
            const double thdN = rig.observer.distortion.at(f).thdNoisePercent.value_or(100);
            EXPECT_LT(thdN, 0.01) << chain << " at " << f << " Hz";
            worstDb = std::max(worstDb, std::abs(level - clean.at(f)));
            worstThdN = std::max(worstThdN, thdN);
        }
    }
    std::printf("[ figures  ] stepped sweep through drift=+50/-50/-100 ppm, 31 bands: level re 1 kHz within %.4f dB "
                "of the perfect loopback's, THD+N at most %.4f %%\n",
                worstDb, worstThdN);
}

} // namespace

} // namespace audimera
