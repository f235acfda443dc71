// The session's live run on the simulated card: its sine reads its RMS level
// in the band at its centre (less a correction), a calibration makes a tone
// read its level in dB SPL in every weighting, a gap restarts the average,
// new bands show at once, stop() ends the run, which refuses another.
#include "devices/SimulatedSoundCard.h"
#include "engine/CorrectionTable.h"
#include "signal/OctaveBands.h"
#include "tests/engine/EngineFixture.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

namespace audimera {

namespace {

struct LastUpdate : LiveObserver {
    std::function<void()> each;
    std::optional<LiveUpdate> last;
    void liveUpdate(const LiveUpdate& update) override { last = update, each ? each() : void(); }
};

// The session's sine of RMS level dbfs at hz for seconds, the last transform
// alone in 1/fraction-octave bands, the band at hz alone shown.
LiveSettings sine(double hz, double dbfs, double seconds, int fraction = 3)
{
    LiveSettings s;
    s.signal = LiveSignal::Sine;
    s.sineHz = hz;
    s.signalDbfs = dbfs;
    s.seconds = seconds;
    s.spectrum.fraction = fraction;
    s.spectrum.lowHz = hz * 0.99;
    s.spectrum.highHz = hz * 1.01;
    return s;
}

struct LiveRig : SessionRig<SimulatedSoundCard> {
    LiveRig() { (void)device.initAudio(); }
};

TEST(LiveAnalyserTest, ASineReadsItsRmsLevelInTheBandAtItsCentre)
{
    LiveRig rig;
    // A curve the sound card's box subtracts: 3 dB at every frequency.
    CorrectionTable corrections;
    std::fill(corrections.column(1), corrections.column(1) + CorrectionTable::Entries, 3.0);
    corrections.enabled[1] = true;
    struct Case { int fraction; const CorrectionTable* corrections; double db; };
    for (const Case c : {Case{1, nullptr, -20}, Case{3, nullptr, -20}, Case{3, &corrections, -23},
                         Case{6, nullptr, -20}, Case{12, nullptr, -20}, Case{24, nullptr, -20}}) {
        // The mid-band frequency nearest 1 kHz (1 kHz itself for odd fractions).
        double centre = 0;
        for (const OctaveBand& b : OctaveBands::plan(c.fraction, 900, 1100, 22050))
            if (std::abs(b.centreHz - 1000) < std::abs(centre - 1000))
                centre = b.centreHz;
        LastUpdate seen;
        LiveSettings s = sine(centre, -20, 1.5, c.fraction);
        s.corrections = c.corrections;
        ASSERT_TRUE(rig.session.runAnalyser(s, seen).ok() && seen.last) << c.fraction;
        const SpectrumFrame& f = seen.last->spectrum;
        ASSERT_EQ(f.frequencies, std::vector<double>{centre}) << "1/" << c.fraction;
        EXPECT_NEAR(f.levelsDb[0], c.db, 0.1) << "1/" << c.fraction << " octave at " << centre << " Hz";
    }
    EXPECT_FALSE(rig.device.isPlaying());
}

TEST(LiveAnalyserTest, ACalibratedToneReadsItsLevelInEveryWeighting)
{
    LiveRig rig;
    // No calibrator: the card hears silence.
    EXPECT_EQ(rig.session.measureCalibration(94.0, 1.0, RecordChannel::Mix).kind(), Failure::LowSignal);

    // The calibrator: ten cycles of 1 kHz in a hundredth of a second, -26 dBFS RMS.
    std::vector<float> tone(static_cast<std::size_t>(rig.device.outputDeviceRate() / 100));
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<float>(std::sqrt(2.0) * std::pow(10.0, -1.3) * std::sin(2 * M_PI * 10 * i / tone.size()));
    ASSERT_TRUE(rig.device.playPeriod(tone).ok());
    const Result<double> offset = rig.session.measureCalibration(94.0, 2.0, RecordChannel::Mix);
    rig.device.StopPlayback();
    ASSERT_TRUE(offset) << offset.message();
    EXPECT_NEAR(*offset, 120.0, 0.1);

    using F = FrequencyWeighting;
    using T = TimeWeighting;
    struct Case { F frequency; T time; };
    for (const Case c : {Case{F::Z, T::Fast}, Case{F::Z, T::Slow}, Case{F::A, T::Fast}, Case{F::A, T::Slow}}) {
        LiveSettings s = sine(1000, -46, 6);
        s.weighting = c.frequency;
        s.timeWeighting = c.time;
        s.calibrationOffsetDb = *offset;
        LastUpdate seen;
        // Leq and the maximum from the first update on, past the filters' start.
        bool reset = false;
        seen.each = [&] { std::exchange(reset, true) ? void() : rig.session.resetAnalyser(); };
        ASSERT_TRUE(rig.session.runAnalyser(s, seen).ok());
        const SoundLevelReading& r = seen.last->level;
        const std::string which = std::string(c.frequency == F::A ? "A" : "Z") + (c.time == T::Fast ? " F" : " S");
        EXPECT_TRUE(seen.last->calibrated);
        EXPECT_NEAR(r.levelDb, 74.0, 0.1) << which;
        EXPECT_NEAR(r.leqDb, 74.0, 0.1) << which;
        EXPECT_NEAR(r.maxLevelDb, 74.0, 0.1) << which;
        EXPECT_NEAR(seen.last->spectrum.levelsDb.at(0), 74.0, 0.1) << which; // the 1 kHz band, Z
    }
}

TEST(LiveAnalyserTest, AGapRestartsNewBandsShowAtOnceStopEndsAndTheRunRefusesAnother)
{
    LiveRig rig; // each yield one read of 10 ms, an update every ten
    LastUpdate seen;
    int gaps = 0;
    seen.each = [&] { gaps += seen.last->gap; };
    Status during;
    Failure calibrating = Failure::Other;
    rig.host.atYield(5, [&] { rig.device.skipCapture(441); });
    rig.host.atYield(100, [&] { rig.session.changeAnalyser(sine(1000, -20, 0, 1)); });
    rig.host.atYield(101, [&] {
        during = rig.session.runAnalyser({}, seen);
        calibrating = rig.session.measureCalibration(94.0, 1.0, RecordChannel::Mix).kind();
        EXPECT_EQ(rig.session.runSweep({}).kind(), Failure::Busy);
        EXPECT_TRUE(rig.session.analysing());
        rig.session.stop();
        EXPECT_FALSE(rig.device.capturing());
    });
    EXPECT_EQ(rig.session.runAnalyser(sine(1000, -20, 0), seen).kind(), Failure::Cancelled);
    EXPECT_EQ(gaps, 1);
    // The octave band at 1 kHz in the update just after the change.
    ASSERT_EQ(seen.last->spectrum.bands.size(), 1u);
    EXPECT_EQ(seen.last->spectrum.bands[0].label, "1k");
    EXPECT_NEAR(seen.last->spectrum.levelsDb[0], -20.0, 0.1);
    EXPECT_EQ(during.kind(), Failure::Busy);
    EXPECT_EQ(calibrating, Failure::Busy);
    EXPECT_FALSE(rig.session.busy());
    EXPECT_FALSE(rig.device.isPlaying());
    EXPECT_EQ(rig.observer.activity, 2);
}

} // namespace

} // namespace audimera
