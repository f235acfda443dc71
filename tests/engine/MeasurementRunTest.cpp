#include "tests/engine/EngineFixture.h"
#include "tests/engine/RecordingSoundDevice.h"
#include "tests/support/TestFolder.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace audimera {

namespace {

using Call = RecordingSoundDevice::Call;

class MeasurementRunTest : public ::testing::Test {
protected:
    FakePanel panel;
    ScriptedHost host;
    LoopbackDevice card;
    RecordingSoundDevice device{card};
    RecordingDisplays displays;
    MeasurementDocument document;
    MainPresenter e{panel, host, device, displays, document};

    void SetUp() override
    {
        // A white table of moderate level, so calibration works.
        for (int i = 0; i < 25000; ++i)
            e.WhiteNoiseBuffer[i] = static_cast<int16_t>(((i * 7919) % 32001) - 16000);
        e.WhiteNoiseBuffer[0] = 0;
    }

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
        EXPECT_FALSE(e.Running);
        EXPECT_FALSE(e.Playing);
        EXPECT_TRUE(panel["cmdStart"].enabled);
        EXPECT_FALSE(panel["cmdStop"].enabled);
        EXPECT_TRUE(panel["cmdStartSignal"].enabled);
        EXPECT_TRUE(panel["TextStart"].enabled);
        EXPECT_TRUE(panel["MenuInDevice"].enabled);
        EXPECT_TRUE(panel["OptionSigGen(5)"].enabled);
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
    EXPECT_TRUE(panel["cmdCalibrate"].enabled);
    EXPECT_TRUE(panel["cmdClearTraces"].enabled);
    EXPECT_TRUE(panel["MenuEntrySave"].enabled);
    EXPECT_EQ(panel["LabelFreq"].caption, "20000.00 Hz");
    EXPECT_NE(panel["LabelDB"].caption.find(" dB"), std::string::npos);
    EXPECT_EQ(displays.redraws, 31);
    EXPECT_EQ(e.lastRunEnd(), MainPresenter::RunEnd::Completed);
}

TEST_F(MeasurementRunTest, RangeRuleStepsByWholeHertzAndStopsExactly)
{
    range("20", "200", 101);
    std::vector<double> f = sweep();
    ASSERT_EQ(f.size(), 151u);
    for (int i = 0; i <= 81; ++i)
        ASSERT_EQ(f[i], 20 + i) << i; // 20 .. 101
    EXPECT_NEAR(f[82], 102.01, 1e-9);
    EXPECT_NEAR(f[83], 103.0301, 1e-9);
    EXPECT_EQ(f.back(), 200);

    range("1", "10", 200);
    f = sweep();
    EXPECT_EQ(f, (std::vector<double>{1, 2, 4, 8, 10}));

    range("1", "20", 126);
    f = sweep();
    ASSERT_GE(f.size(), 6u);
    EXPECT_EQ(std::vector<double>(f.begin(), f.begin() + 4), (std::vector<double>{1, 2, 3, 4}));
    EXPECT_NEAR(f[4], 5.04, 1e-12);
    EXPECT_NEAR(f[5], 6.3504, 1e-12);
}

TEST_F(MeasurementRunTest, BandPlansAndTheStopFrequency)
{
    panel.select("OptionAutoSigGen", 2, 4);
    std::vector<double> f = sweep();
    ASSERT_EQ(f.size(), 31u);
    EXPECT_EQ(f.front(), 20);
    EXPECT_EQ(f[2], 31.5);
    EXPECT_EQ(f.back(), 20000);

    panel["TextStop"].text = "1000";
    f = sweep();
    ASSERT_EQ(f.size(), 18u);
    EXPECT_EQ(f.back(), 1000);

    panel["TextStop"].text = "20000";
    panel.select("OptionAutoSigGen", 1, 4);
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
    panel["txtUserFreqFile"].text = path;
    panel.select("OptionAutoSigGen", 3, 4);
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
    EXPECT_EQ(e.lastRunEnd(), MainPresenter::RunEnd::PlanFailed);
}

TEST_F(MeasurementRunTest, FrequencyLimitsAreCheckedBeforeAnythingPlays)
{
    struct Case {
        const char *start, *stop, *message;
    } cases[] = {
        {"0.5", "20000", "Start frequency minimun: 1 Hz"},
        {"20", "20001", "Stop frequency maximum: 20000 Hz"},
        {"300", "300", "Stop frequency must be > Start !"},
        {"0", "30000", "Start frequency minimun: 1 Hz"},
    };
    for (const Case& c : cases) {
        host.messages.clear();
        range(c.start, c.stop, 126);
        sweep();
        ASSERT_EQ(host.messages.size(), 1u) << c.start;
        EXPECT_EQ(host.messages[0].text, c.message);
        EXPECT_EQ(host.messages[0].icon, MessageIcon::Exclamation);
        EXPECT_EQ(card.records, 0);
        EXPECT_EQ(e.lastRunEnd(), MainPresenter::RunEnd::Refused);
        expectIdle();
    }
    // Stop texts that round to 20000 (halves to even) are accepted.
    for (const char* stop : {"19999.5", "20000.5"}) {
        range("15000", stop, 200);
        EXPECT_EQ(sweep(), (std::vector<double>{15000, 20000})) << stop;
        EXPECT_EQ(e.StopFreq, 20000);
    }
}

TEST_F(MeasurementRunTest, TextThatIsNotANumberIsReportedAndNothingRuns)
{
    // Uncalibrated and calibrated: the refusal takes no trace slot.
    for (const double calib : {0.0, 1000.0}) {
        for (const char* box : {"TextStart", "TextStop"}) {
            e.Calib = calib;
            e.Noise = 5;
            range("20", "20000", 126);
            panel[box].text = "2O0"; // a letter O
            host.messages.clear();
            sweep();
            ASSERT_EQ(host.messages.size(), 1u) << box << calib;
            EXPECT_EQ(host.messages[0].icon, MessageIcon::Exclamation);
            EXPECT_NE(host.messages[0].text.find("'2O0'"), std::string::npos);
            EXPECT_NE(host.messages[0].text.find(box == std::string("TextStart") ? "start" : "stop"),
                      std::string::npos);
            EXPECT_EQ(card.records, 0);
            EXPECT_EQ(traceCount(document), 0) << box << calib;
            EXPECT_EQ(e.lastRunEnd(), MainPresenter::RunEnd::Refused);
            expectIdle();
        }
    }
    range("20", "", 126);
    sweep();
    EXPECT_EQ(card.records, 0);
    EXPECT_EQ(traceCount(document), 0);

    // Numbers out of the limits are refused on the calibrated run's trace,
    // which stays empty; with eight traces the trace refusal comes first.
    host.messages.clear();
    range("0.5", "20000", 126);
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
    EXPECT_EQ(e.lastRunEnd(), MainPresenter::RunEnd::TraceRefused);
}

TEST_F(MeasurementRunTest, NumbersAreReadAndShownInTheUsersLocale)
{
    FakePanel comma(',');
    MainPresenter engine(comma, host, device, displays, document);
    engine.WhiteNoiseBuffer = e.WhiteNoiseBuffer;
    comma["TextStart"].text = "100,5";
    comma["TextStop"].text = "150";
    comma["HScrollStep"].value = 200;
    engine.cmdStart_Click();
    EXPECT_EQ(newestFrequencies(document), (std::vector<double>{100.5, 150}));
    EXPECT_EQ(comma["LabelFreq"].caption, "150,00 Hz");
    EXPECT_NE(comma["LabelDB"].caption.find(','), std::string::npos);
}

TEST_F(MeasurementRunTest, CalibrationPassesThenTonesAndRecentering)
{
    range("100", "2000", 200);
    sweep();
    // Silence, white noise, then the tones.
    ASSERT_GE(device.calls.size(), 6u);
    const auto loops = device.of(Call::Loop);
    ASSERT_EQ(loops.size(), 3u); // white noise, first tone, the tone above 1000 Hz
    EXPECT_EQ(loops[0].table, e.WhiteNoiseBuffer.data());
    EXPECT_EQ(loops[0].rate, 44100);
    EXPECT_EQ(loops[1].table, e.ToneBuffer.data());
    EXPECT_EQ(loops[1].rate, 10000); // 100 Hz on the 100-sample period
    EXPECT_EQ(loops[2].rate, 8000);  // 1600 Hz on the 5-sample period
    EXPECT_EQ(device.of(Call::Rate).size(), 4u); // 200, 400, 800 and 2000 only change the rate
    EXPECT_GT(e.Noise, 0);
    EXPECT_GT(e.Calib, 0);
    EXPECT_NE(panel["LabelCardSNR"].caption, "N/A");
    EXPECT_EQ(card.records, 2 + 6); // 100 200 400 800 1600 2000
    EXPECT_EQ(traceCount(document), 1);

    // Calibrated: the next run adds its trace first and plays no noise.
    const double calib = e.Calib, noise = e.Noise;
    device.calls.clear();
    sweep();
    EXPECT_EQ(card.records, 8 + 6);
    EXPECT_EQ(e.Calib, calib);
    EXPECT_EQ(e.Noise, noise);
    EXPECT_EQ(device.of(Call::Loop).size(), 2u);
    EXPECT_EQ(traceCount(document), 2);

    // "Recenter 0dB" forgets the reference: silence and noise again.
    e.cmdCalibrate_Click();
    EXPECT_EQ(e.Calib, 0);
    EXPECT_FALSE(panel["cmdCalibrate"].enabled);
    sweep();
    EXPECT_EQ(card.records, 14 + 8);
    EXPECT_GT(e.Calib, 0);
}

TEST_F(MeasurementRunTest, ToneRestartsOnlyAtTheFirstPointAndAcross1000Hz)
{
    e.Calib = 1000;
    e.Noise = 5;
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
    host.atYield(1, [&] { e.cmdStop_Click(); }); // the silence set-up's yield
    sweep();
    EXPECT_EQ(traceCount(document), 0);
    EXPECT_EQ(card.records, 0);
    EXPECT_EQ(e.Noise, 0);
    expectIdle();
}

TEST_F(MeasurementRunTest, StopWhileABlockIsRecordedGivesNoPoint)
{
    e.Calib = 1000;
    e.Noise = 5;
    card.waitsPerRecord = 3;
    // Yields per point: set-up, three record polls, end of point. Stop on
    // the second poll of the third point.
    host.atYield(2 * 5 + 3, [&] { e.cmdStop_Click(); });
    const auto f = sweep();
    EXPECT_EQ(f.size(), 2u);
    EXPECT_EQ(panel["LabelFreq"].caption, "31.75 Hz"); // the third point was set up...
    EXPECT_EQ(displays.redraws, 2);                    // ...but never measured
    expectIdle();
}

TEST_F(MeasurementRunTest, StopAfterAPointEndsTheRunThere)
{
    e.Calib = 1000;
    e.Noise = 5;
    host.atYield(3 * 3, [&] { e.cmdStop_Click(); }); // the end of the third point
    EXPECT_EQ(sweep().size(), 3u);
    expectIdle();
    EXPECT_EQ(e.lastRunEnd(), MainPresenter::RunEnd::Stopped);
    // The Stop button itself re-enables what the run disabled.
    EXPECT_TRUE(panel["MenuEntryLoadTrace"].enabled);
    EXPECT_TRUE(panel["HScrollFFT"].enabled);
}

TEST_F(MeasurementRunTest, StepChangedDuringTheRunAppliesFromTheNextPoint)
{
    range("100", "20000", 110);
    e.Calib = 1000;
    e.Noise = 5;
    // During the set-up of point 3, move the bar to 2.00.
    host.atYield(7, [&] { panel["HScrollStep"].value = 200; });
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
    EXPECT_EQ(e.Calib, 0);
    EXPECT_EQ(traceCount(document), 0);
    EXPECT_FALSE(panel["cmdCalibrate"].enabled);
    expectIdle();
    EXPECT_EQ(e.lastRunEnd(), MainPresenter::RunEnd::LowSignalDeclined);

    // Yes calibrates anyway, even on a mean of 0, and the run goes on.
    host.answer(MessageAnswer::Yes);
    range("100", "200", 200);
    const auto f = sweep();
    EXPECT_EQ(f, (std::vector<double>{100, 200}));
    EXPECT_GT(e.Calib, 0);
    EXPECT_NEAR(e.Calib, 2 * 1e-10 / 1.16, 1e-20);
    // The next run does not calibrate again.
    const int records = card.records;
    sweep();
    EXPECT_EQ(card.records, records + 2);
    EXPECT_EQ(host.messages.size(), 2u);
}

TEST_F(MeasurementRunTest, BadBlocksAreMeasuredAgainOnlyWhenAsked)
{
    range("100", "400", 200);
    e.Calib = 1000;
    e.Noise = 5;
    // The second record (200 Hz) comes back clipped.
    card.tamper = [](int block, int16_t* b) {
        if (block == 2)
            b[15000] = -32768;
    };
    auto f = sweep();
    EXPECT_EQ(f, (std::vector<double>{100, 200, 400}));
    EXPECT_EQ(card.records, 4);
    EXPECT_EQ(device.of(Call::Loop).size(), 1u); // measured again without a restart

    panel["CheckBadInputWave"].value = 0;
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
    EXPECT_GT(e.Calib, 0);
    EXPECT_EQ(card.records, 2);
    expectIdle();
    sweep(); // calibrated: refused at once
    EXPECT_EQ(host.messages.size(), 2u);
    EXPECT_EQ(e.lastRunEnd(), MainPresenter::RunEnd::TraceRefused);
    EXPECT_EQ(card.records, 2);
    expectIdle();
}

TEST_F(MeasurementRunTest, DeviceFailuresEndTheRunWithAMessage)
{
    e.Calib = 1000;
    e.Noise = 5;
    host.atYield(4, [&] { card.failWith = "the device vanished"; });
    const auto f = sweep();
    EXPECT_EQ(f.size(), 1u);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].icon, MessageIcon::Critical);
    EXPECT_NE(host.messages[0].text.find("the device vanished"), std::string::npos);
    EXPECT_EQ(e.lastRunEnd(), MainPresenter::RunEnd::DeviceFailed);
    expectIdle();

    host.messages.clear();
    card.playFailure = "no output";
    sweep();
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_NE(host.messages[0].text.find("no output"), std::string::npos);
    expectIdle();
}

TEST_F(MeasurementRunTest, PlanButtonsAndRangeSwitchDuringASweepDoNotDisturbIt)
{
    range("100", "1000", 200);
    e.Calib = 1000;
    e.Noise = 5;
    host.atYield(3, [&] {
        panel.select("OptionAutoSigGen", 2, 4);
        e.OptionAutoSigGen_Click(2);
        panel["CheckBy5"].value = 1;
        e.CheckBy5_Click();
    });
    const auto f = sweep();
    EXPECT_EQ(f, (std::vector<double>{100, 200, 400, 800, 1000}));
    EXPECT_EQ(device.count(Call::Stop), 2); // cmdStart and the final stop
    EXPECT_EQ(e.GenIndex, 2);
    EXPECT_EQ(panel["TextFFT"].text, "2000.00"); // only the box follows the switch
    // The next run takes the newly selected plan.
    EXPECT_EQ(sweep().size(), 18u);
}

} // namespace

} // namespace audimera
