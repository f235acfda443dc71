// The live analyser on a real server: one capture of a 48 kHz null sink's
// monitor while SoX's pink noise (played by paplay) and the session's sine
// play into it. The noise reads flat in the third-octave bands; the sine, in
// a band the noise barely reaches, its RMS level.
#include "engine/MeasurementDocument.h"
#include "engine/MeasurementSession.h"
#include "signal/OctaveBands.h"
#include "tests/sound/PulseTestSupport.h"
#include "tests/support/TestFolder.h"

#include <csignal>
#include <sys/wait.h>

namespace audimera {

namespace {

using namespace pulsetest;

// Keeps the last update; once a second of sound has passed (both signals
// arrive), starts the average afresh.
struct SettledAverage : LiveObserver {
    static constexpr double SettleSeconds = 1.0;
    MeasurementSession* session = nullptr;
    std::optional<LiveUpdate> last;
    void liveUpdate(const LiveUpdate& update) override
    {
        if ((!last || last->seconds < SettleSeconds) && update.seconds >= SettleSeconds)
            session->resetAnalyser();
        last = update;
    }
};

TEST(LiveAnalyserLoopbackTest, PinkNoiseReadsFlatAndASineItsLevel)
{
    REQUIRE_PULSE_SERVER();
    if (runCommand("command -v sox && command -v paplay").status != 0)
        GTEST_SKIP() << "sox or paplay is not installed";
    TestFolder folder;
    const std::string pink = folder.file("pink.wav");
    const CommandResult made = runCommand("sox -n -r 48000 " + shellQuoted(pink) + " synth 60 pinknoise");
    ASSERT_EQ(made.status, 0) << made.output;

    PrivateSink sink(sharedServer(), "live", 48000);
    PulseSoundDevice device;
    ASSERT_EQ(openLoopback(device, sink.name()), "");
    // The noise 20 dB down (paplay's volume is cubic: 0.464^3 = 0.1), so that
    // it adds 0.001 dB to the sine's band and the sum stays far from full scale.
    const pid_t player = fork();
    ASSERT_GE(player, 0);
    if (player == 0) {
        setenv("PULSE_SERVER", sharedServer().c_str(), 1);
        execlp("paplay", "paplay", ("--device=" + sink.name()).c_str(), "--volume=30419", pink.c_str(), nullptr);
        _exit(127);
    }

    // The sine at the 20 kHz third-octave band's mid-band frequency.
    const double sineHz = OctaveBands::plan(3, 19000, 21000, 24000).at(0).centreHz;
    constexpr double SineDb = -10.0, AveragedSeconds = 8.0;
    LiveSettings s; // 32768 points, Hann
    s.spectrum.fraction = 3;
    s.spectrum.averaging = AnalyserAveraging::Running;
    s.signal = LiveSignal::Sine;
    s.sineHz = sineHz;
    s.signalDbfs = SineDb;
    s.seconds = SettledAverage::SettleSeconds + AveragedSeconds;
    SweepHost host;
    MeasurementDocument document;
    MeasurementSession session(host, device, document);
    SettledAverage seen;
    seen.session = &session;
    const Status run = session.runAnalyser(s, seen);
    kill(player, SIGTERM);
    int status = 0;
    waitpid(player, &status, 0);
    ASSERT_TRUE(run.ok() && seen.last) << run.message();
    const SpectrumFrame& f = seen.last->spectrum;
    EXPECT_EQ(seen.last->rate, 48000);

    // The noise's bands from 50 Hz to 16 kHz about their mean. Random noise
    // over T seconds reads a band of width B within 4.34 / sqrt(B T) dB (one
    // standard deviation: 0.43 dB at 50 Hz, 0.05 dB at 16 kHz), so each
    // band is held to 0.5 dB or 3.5 times its own spread, the larger.
    std::vector<std::size_t> noise;
    double mean = 0;
    for (std::size_t k = 0; k < f.bands.size(); ++k)
        if (f.bands[k].centreHz > 45 && f.bands[k].centreHz < 17000)
            noise.push_back(k), mean += f.levelsDb[k] / 26;
    ASSERT_EQ(noise.size(), 26u);
    double worst = 0, worstHz = 0, worstFrom400 = 0; // from 400 Hz on, 0.5 dB is 3 of their spreads
    for (const std::size_t k : noise) {
        const OctaveBand& b = f.bands[k];
        const double deviation = f.levelsDb[k] - mean;
        const double spread = 4.34 / std::sqrt((b.upperHz - b.lowerHz) * AveragedSeconds);
        EXPECT_LE(std::abs(deviation), std::max(0.5, 3.5 * spread)) << b.label << " Hz";
        if (std::abs(deviation) > std::abs(worst))
            worst = deviation, worstHz = b.centreHz;
        if (b.centreHz > 390 && std::abs(deviation) > std::abs(worstFrom400))
            worstFrom400 = deviation;
    }
    std::printf("[ figures  ] pink noise, 1/3 octave, 50 Hz to 16 kHz, %.0f s: worst %+.2f dB at %.0f Hz, "
                "%+.2f dB from 400 Hz\n", AveragedSeconds, worst, worstHz, worstFrom400);

    const double sineLevel = f.levelsDb.back();
    EXPECT_NEAR(sineLevel, SineDb, 0.1);
    std::printf("[ figures  ] sine at %.1f Hz, %.1f dBFS RMS: its band reads %.3f dBFS\n", sineHz, SineDb, sineLevel);
}

} // namespace

} // namespace audimera
