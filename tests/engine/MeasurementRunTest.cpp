// The stepped sweep through the session: the plans, the calibration, the
// tone restarts, stops, refusals and failures, with settings in and the
// document, the device's calls and the observer's reports out.
#include "tests/engine/EngineFixture.h"
#include "tests/support/TestFolder.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace audimera {

namespace {

class MeasurementRunTest : public LoopbackSessionTest {
protected:
    SweepSettings settings;
    RunEnd end = RunEnd::None;

    void range(double start, double stop, int step)
    {
        settings.start = start;
        settings.stop = stop;
        observer.step = step / 100.0;
    }

    std::vector<double> sweep()
    {
        const int before = traceCount(document);
        (void)session.runSweep(settings);
        end = session.lastRunEnd();
        return traceCount(document) > before ? newestFrequencies(document) : std::vector<double>{};
    }

    void expectIdle()
    {
        EXPECT_FALSE(session.sweeping());
        EXPECT_FALSE(session.playing());
        EXPECT_FALSE(card.playing);
    }
};

TEST_F(MeasurementRunTest, DefaultRangeMeasures31PointsEndingAtTheStop)
{
    const std::vector<double> f = sweep();
    ASSERT_EQ(f.size(), 31u);
    EXPECT_EQ(f[0], 20);
    EXPECT_NEAR(f[1], 25.2, 1e-9);
    EXPECT_NEAR(f[2], 31.752, 1e-9);
    EXPECT_NEAR(f[3], 40.00752, 1e-9);
    EXPECT_NEAR(f[28], 12924.25, 0.01);
    EXPECT_NEAR(f[29], 16284.55, 0.01);
    EXPECT_EQ(f[30], 20000);
    EXPECT_TRUE(host.messages.empty());
    expectIdle();
    // The loopback is flat on the 100-sample period: the same level.
    const auto trace = newestTrace(document);
    for (const auto& p : trace) {
        if (p.first <= 1000) {
            EXPECT_NEAR(p.second, trace[0].second, 0.1) << p.first;
        }
    }
    EXPECT_EQ(observer.sounds.back(), std::make_pair(Sound::Tone, 20000.0));
    EXPECT_EQ(end, RunEnd::Completed);
    EXPECT_EQ(observer.ends, std::vector<RunEnd>{RunEnd::Completed});
}

TEST_F(MeasurementRunTest, RangeRuleStepsByWholeHertzAndStopsExactly)
{
    range(20, 200, 101);
    std::vector<double> f = sweep();
    ASSERT_EQ(f.size(), 151u);
    for (int i = 0; i <= 81; ++i)
        ASSERT_EQ(f[i], 20 + i) << i; // 20 .. 101
    EXPECT_NEAR(f[82], 102.01, 1e-9);
    EXPECT_NEAR(f[83], 103.0301, 1e-9);
    EXPECT_EQ(f.back(), 200);

    range(1, 10, 200);
    f = sweep();
    EXPECT_EQ(f, (std::vector<double>{1, 2, 4, 8, 10}));

    range(1, 20, 126);
    f = sweep();
    ASSERT_GE(f.size(), 6u);
    EXPECT_EQ(std::vector<double>(f.begin(), f.begin() + 4), (std::vector<double>{1, 2, 3, 4}));
    EXPECT_NEAR(f[4], 5.04, 1e-12);
    EXPECT_NEAR(f[5], 6.3504, 1e-12);
}

TEST_F(MeasurementRunTest, BandPlansAndTheStopFrequency)
{
    settings.plan = FrequencyPlan::Bands31Plan;
    std::vector<double> f = sweep();
    ASSERT_EQ(f.size(), 31u);
    EXPECT_EQ(f.front(), 20);
    EXPECT_EQ(f[2], 31.5);
    EXPECT_EQ(f.back(), 20000);
    EXPECT_EQ(session.choice(), FrequencyPlan::Bands31Plan);

    settings.stop = 1000;
    f = sweep();
    ASSERT_EQ(f.size(), 18u);
    EXPECT_EQ(f.back(), 1000);

    settings.stop = 20000;
    settings.plan = FrequencyPlan::Bands15Plan;
    f = sweep();
    ASSERT_EQ(f.size(), 15u);
    EXPECT_EQ(f.front(), 25);
    EXPECT_EQ(f.back(), 16000);
    expectIdle();
}

TEST_F(MeasurementRunTest, UserListFilePlan)
{
    const std::string path = testFile("engine-list.txt");
    std::ofstream(path) << "100\n50\n200\n200\n5\n30000\n300\n";
    settings.userFile = path;
    settings.plan = FrequencyPlan::UserFilePlan;
    EXPECT_EQ(sweep(), (std::vector<double>{100, 200, 300}));

    // Nothing usable: the message, and the sweep ends at once.
    std::ofstream(path, std::ios::trunc) << "5\n";
    const int traces = traceCount(document);
    EXPECT_TRUE(sweep().empty());
    ASSERT_FALSE(host.messages.empty());
    EXPECT_EQ(host.messages.back().text, "Bad frequency file, no entry found !");
    EXPECT_EQ(host.messages.back().icon, MessageIcon::Critical);
    EXPECT_EQ(traceCount(document), traces + 1); // calibrated run: empty trace
    expectIdle();

    // A missing file: the error, and no run.
    std::filesystem::remove(path);
    const int records = card.records;
    sweep();
    EXPECT_EQ(host.messages.back().text.rfind("Error reading user frequency file '" + path + "' : ", 0), 0u);
    EXPECT_EQ(card.records, records);
    expectIdle();
    EXPECT_EQ(end, RunEnd::PlanFailed);
    EXPECT_EQ(observer.ends.back(), RunEnd::PlanFailed);
}

TEST_F(MeasurementRunTest, FrequencyLimitsAreCheckedBeforeAnythingPlays)
{
    struct Case {
        double start, stop;
        const char* message;
    } cases[] = {
        {0.5, 20000, "Start frequency minimun: 1 Hz"},
        {20, 20001, "Stop frequency maximum: 20000 Hz"},
        {300, 300, "Stop frequency must be > Start !"},
        {0, 30000, "Start frequency minimun: 1 Hz"},
    };
    for (const Case& c : cases) {
        host.messages.clear();
        range(c.start, c.stop, 126);
        sweep();
        ASSERT_EQ(host.messages.size(), 1u) << c.start;
        EXPECT_EQ(host.messages[0].text, c.message);
        EXPECT_EQ(host.messages[0].icon, MessageIcon::Exclamation);
        EXPECT_EQ(card.records, 0);
        EXPECT_EQ(end, RunEnd::Refused);
        expectIdle();
    }
    // Stop frequencies that round to 20000 (halves to even) are accepted.
    for (const double stop : {19999.5, 20000.5}) {
        range(15000, stop, 200);
        EXPECT_EQ(sweep(), (std::vector<double>{15000, 20000})) << stop;
        EXPECT_EQ(session.sweepStop(), 20000);
    }

    // Calibrated, numbers out of the limits are refused on the run's trace,
    // which stays empty; with eight traces the trace refusal comes first.
    document.traces().ClearAllTraces();
    host.messages.clear();
    range(0.5, 20000, 126);
    sweep();
    ASSERT_EQ(traceCount(document), 1);
    EXPECT_EQ(document.traces().pointCount(0), 0);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, "Start frequency minimun: 1 Hz");
    for (int i = 1; i < 8; ++i)
        document.traces().AddTrace();
    sweep();
    ASSERT_EQ(host.messages.size(), 2u); // the refusal, not the limits again
    EXPECT_EQ(host.messages[1].text, MainPresenter::TooManyTraces);
    EXPECT_EQ(end, RunEnd::TraceRefused);
}

TEST_F(MeasurementRunTest, CalibrationPassesThenTonesAndRecentering)
{
    range(100, 2000, 200);
    sweep();
    // Silence, white noise, then the tones.
    ASSERT_GE(device.calls.size(), 6u);
    const auto loops = device.of(Call::Loop);
    ASSERT_EQ(loops.size(), 3u); // white noise, first tone, the tone above 1000 Hz
    EXPECT_EQ(loops[0].table, session.whiteNoiseTable().data());
    EXPECT_EQ(loops[0].rate, 44100);
    ASSERT_GE(observer.sounds.size(), 3u);
    EXPECT_EQ(observer.sounds[0].first, Sound::Silence);
    EXPECT_EQ(observer.sounds[1].first, Sound::WhiteNoise);
    EXPECT_EQ(observer.sounds[2], std::make_pair(Sound::Tone, 100.0));
    EXPECT_EQ(loops[1].rate, 10000); // 100 Hz on the 100-sample period
    EXPECT_EQ(loops[2].rate, 8000);  // 1600 Hz on the 5-sample period
    EXPECT_EQ(device.of(Call::Rate).size(), 4u); // 200, 400, 800 and 2000 only change the rate
    EXPECT_GT(session.noise(), 0);
    EXPECT_TRUE(session.calibrated());
    EXPECT_EQ(observer.calibrations, 1);
    EXPECT_EQ(card.records, 2 + 6); // 100 200 400 800 1600 2000
    EXPECT_EQ(traceCount(document), 1);

    // Calibrated: the next run adds its trace first and plays no noise.
    const double calib = session.calibration(), noise = session.noise();
    device.calls.clear();
    sweep();
    EXPECT_EQ(card.records, 8 + 6);
    EXPECT_EQ(session.calibration(), calib);
    EXPECT_EQ(session.noise(), noise);
    EXPECT_EQ(device.of(Call::Loop).size(), 2u);
    EXPECT_EQ(traceCount(document), 2);

    // "Recenter 0dB" forgets the reference: silence and noise again.
    session.forgetCalibration();
    EXPECT_FALSE(session.calibrated());
    sweep();
    EXPECT_EQ(card.records, 14 + 8);
    EXPECT_TRUE(session.calibrated());
}

TEST_F(MeasurementRunTest, ToneRestartsOnlyAtTheFirstPointAndAcross1000Hz)
{
    calibrated();
    sweep(); // 20 .. 20000 by 1.26
    const auto loops = device.of(Call::Loop);
    ASSERT_EQ(loops.size(), 2u);
    EXPECT_EQ(loops[0].rate, 2000); // 20 Hz
    const auto rates = device.of(Call::Rate);
    EXPECT_EQ(rates.size(), 29u);
    // The second restart is at the first frequency above 1000 Hz, k = 20.
    const auto points = newestTrace(document);
    EXPECT_LE(points[16].first, 1000);
    EXPECT_GT(points[17].first, 1000);
    EXPECT_EQ(loops[1].rate, audimera::nearestInt(points[17].first * 5));
    EXPECT_EQ(rates.back().rate, 100000); // 20000 Hz
}

TEST_F(MeasurementRunTest, StopDuringTheSilencePassAddsNoTrace)
{
    host.atYield(1, [&] { session.stop(); }); // the silence set-up's yield
    sweep();
    EXPECT_EQ(traceCount(document), 0);
    EXPECT_EQ(card.records, 0);
    EXPECT_EQ(session.noise(), 0);
    EXPECT_EQ(end, RunEnd::Stopped);
    expectIdle();
}

TEST_F(MeasurementRunTest, StopWhileABlockIsRecordedGivesNoPoint)
{
    calibrated();
    card.waitsPerRecord = 3;
    // Yields per point: set-up, three record polls, end of point. Stop on
    // the second poll of the third point.
    host.atYield(host.yields() + 2 * 5 + 3, [&] { session.stop(); });
    const auto f = sweep();
    EXPECT_EQ(f.size(), 2u); // the third point was set up but never measured
    EXPECT_NEAR(observer.sounds.back().second, 31.752, 1e-9);
    expectIdle();
}

TEST_F(MeasurementRunTest, StopAfterAPointEndsTheRunThere)
{
    calibrated();
    host.atYield(host.yields() + 3 * 3, [&] { session.stop(); }); // the end of the third point
    EXPECT_EQ(sweep().size(), 3u);
    expectIdle();
    EXPECT_EQ(end, RunEnd::Stopped);
    EXPECT_TRUE(observer.ends.empty()); // stopped from outside: told nothing
}

TEST_F(MeasurementRunTest, StepChangedDuringTheRunAppliesFromTheNextPoint)
{
    range(100, 20000, 110);
    calibrated();
    // During the set-up of point 3, change the step to 2.00.
    host.atYield(host.yields() + 7, [&] { observer.step = 2; });
    const auto f = sweep();
    ASSERT_GE(f.size(), 5u);
    EXPECT_EQ(f[0], 100);
    EXPECT_NEAR(f[1], 110, 1e-9);
    EXPECT_NEAR(f[2], 121, 1e-9);
    EXPECT_NEAR(f[3], 242, 1e-9);
    EXPECT_NEAR(f[4], 484, 1e-9);
}

TEST_F(MeasurementRunTest, LowSignalDuringCalibration)
{
    card.gain = 0; // nothing comes back
    host.answer(MessageAnswer::No);
    sweep();
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text,
              "Warning: input level too low or too much noise.\r\n\r\n"
              "Adjust record level and play volume. Continue anyway ?");
    EXPECT_EQ(host.messages[0].buttons, MessageButtons::YesNo);
    EXPECT_EQ(host.messages[0].icon, MessageIcon::Exclamation);
    EXPECT_FALSE(session.calibrated());
    EXPECT_EQ(traceCount(document), 0);
    expectIdle();
    EXPECT_EQ(end, RunEnd::LowSignalDeclined);
    EXPECT_EQ(observer.ends, std::vector<RunEnd>{RunEnd::LowSignalDeclined});

    // Yes calibrates anyway, even on a mean of 0, and the run goes on.
    host.answer(MessageAnswer::Yes);
    range(100, 200, 200);
    const auto f = sweep();
    EXPECT_EQ(f, (std::vector<double>{100, 200}));
    EXPECT_NEAR(session.calibration(), 2 * 1e-10 / 1.16, 1e-20);
    // The next run does not calibrate again.
    const int records = card.records;
    sweep();
    EXPECT_EQ(card.records, records + 2);
    EXPECT_EQ(host.messages.size(), 2u);
}

TEST_F(MeasurementRunTest, BadBlocksAreMeasuredAgainOnlyWhenAsked)
{
    range(100, 400, 200);
    calibrated();
    // The second record (200 Hz) comes back clipped.
    card.tamper = [](int block, int16_t* b) {
        if (block == 2)
            b[15000] = -32768;
    };
    auto f = sweep();
    EXPECT_EQ(f, (std::vector<double>{100, 200, 400}));
    EXPECT_EQ(card.records, 4);
    EXPECT_EQ(device.of(Call::Loop).size(), 1u); // measured again without a restart

    observer.badBlocksAgain = false;
    card.records = 0;
    f = sweep();
    EXPECT_EQ(f, (std::vector<double>{100, 200, 400}));
    EXPECT_EQ(card.records, 3);
}

TEST_F(MeasurementRunTest, EightTracesRefuseTheRun)
{
    for (int i = 0; i < 8; ++i)
        document.traces().AddTrace();
    sweep(); // uncalibrated: refused after the white noise
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, MainPresenter::TooManyTraces);
    EXPECT_EQ(host.messages[0].icon, MessageIcon::Critical);
    EXPECT_TRUE(session.calibrated());
    EXPECT_EQ(card.records, 2);
    expectIdle();
    sweep(); // calibrated: refused at once
    EXPECT_EQ(host.messages.size(), 2u);
    EXPECT_EQ(end, RunEnd::TraceRefused);
    EXPECT_EQ(card.records, 2);
    expectIdle();
}

TEST_F(MeasurementRunTest, DeviceFailuresEndTheRunWithAMessage)
{
    calibrated();
    host.atYield(host.yields() + 4, [&] { card.failWith = "the device vanished"; });
    const auto f = sweep();
    EXPECT_EQ(f.size(), 1u);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].icon, MessageIcon::Critical);
    EXPECT_NE(host.messages[0].text.find("the device vanished"), std::string::npos);
    EXPECT_EQ(end, RunEnd::DeviceFailed);
    expectIdle();

    host.messages.clear();
    card.playFailure = "no output";
    sweep();
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_NE(host.messages[0].text.find("no output"), std::string::npos);
    expectIdle();
}

} // namespace

} // namespace audimera
