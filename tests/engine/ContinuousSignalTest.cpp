#include "tests/engine/EngineFixture.h"
#include "tests/engine/RecordingSoundDevice.h"

#include <algorithm>
#include <functional>
#include <memory>

namespace audimera {

namespace {

using Call = RecordingSoundDevice::Call;

class ContinuousSignalTest : public ::testing::Test {
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
        for (int i = 0; i < 25000; ++i) {
            e.WhiteNoiseBuffer[i] = static_cast<int16_t>(((i * 7919) % 32001) - 16000);
            e.PinkNoiseBuffer[i] = static_cast<int16_t>(static_cast<int>((i * 104729LL) % 20001) - 10000);
        }
    }

    void calibrated()
    {
        e.Calib = 1000;
        e.Noise = 5;
    }

    // Presses the button, lets `blocks` blocks be recorded, then presses
    // it again (from inside the run, as the user would).
    void play(int blocks)
    {
        const int stopAt = card.records + blocks;
        auto pressed = std::make_shared<bool>(false);
        host.everyYield([this, stopAt, pressed] {
            if (!*pressed && e.Playing && card.records >= stopAt) {
                *pressed = true;
                e.cmdStartSignal_Click();
            }
        });
        e.cmdStartSignal_Click();
    }

    void expectIdle()
    {
        EXPECT_FALSE(e.Playing);
        EXPECT_FALSE(card.playing);
        EXPECT_EQ(panel["cmdStartSignal"].caption, "Start Signal");
        EXPECT_TRUE(panel["cmdStart"].enabled);
        EXPECT_TRUE(panel["OptionAutoSigGen(0)"].enabled);
        EXPECT_TRUE(panel["TextStart"].enabled);
    }
};

TEST_F(ContinuousSignalTest, UncalibratedStartPlaysSilenceNoiseThenTheSignal)
{
    std::vector<std::string> captions;
    host.everyYield([&] {
        if (captions.empty() || captions.back() != panel["LabelFreq"].caption)
            captions.push_back(panel["LabelFreq"].caption);
    });
    bool lockedWhilePlaying = false;
    host.atYield(3, [&] {
        lockedWhilePlaying = !panel["cmdStart"].enabled && !panel["cmdStop"].enabled &&
                             !panel["OptionAutoSigGen(1)"].enabled && panel["OptionSigGen(1)"].enabled &&
                             panel["cmdStartSignal"].caption == "Stop Signal" && !panel["TextStart"].enabled;
    });
    play(5);
    EXPECT_TRUE(lockedWhilePlaying);
    EXPECT_EQ(captions[0], "Silence...");
    EXPECT_EQ(captions[1], "White noise...");
    EXPECT_EQ(captions[2], "100.00 Hz");
    EXPECT_GT(e.Calib, 0);
    EXPECT_GT(e.Noise, 0);
    const auto loops = device.of(Call::Loop);
    ASSERT_EQ(loops.size(), 2u);
    EXPECT_EQ(loops[0].table, e.WhiteNoiseBuffer.data());
    EXPECT_EQ(loops[1].table, e.ToneBuffer.data());
    EXPECT_EQ(loops[1].rate, 10000);
    EXPECT_NE(panel["LabelDB"].caption, "N/A");
    EXPECT_NE(panel["LabelSNR"].caption, "N/A");
    EXPECT_EQ(traceCount(document), 0); // the signal adds no points
    expectIdle();
    // The calibration serves the next sweep too.
    EXPECT_TRUE(panel["cmdCalibrate"].enabled);
}

TEST_F(ContinuousSignalTest, EachSignalPlaysItsTableAtItsRate)
{
    calibrated();
    struct Case {
        int index;
        const char* label;
        const int16_t* table;
        int rate;
    } cases[] = {
        {0, "100.00 Hz", e.ToneBuffer.data(), 10000},  {1, "100.00 Hz", e.ToneBuffer.data(), 10000},
        {2, "100.00 Hz", e.ToneBuffer.data(), 10000},  {3, "Pink noise...", e.PinkNoiseBuffer.data(), 44100},
        {4, "White noise...", e.WhiteNoiseBuffer.data(), 44100},
    };
    for (const Case& c : cases) {
        device.calls.clear();
        panel.select("OptionSigGen", c.index, 6);
        play(1);
        const auto loops = device.of(Call::Loop);
        ASSERT_EQ(loops.size(), 1u) << c.index;
        EXPECT_EQ(loops[0].table, c.table) << c.index;
        EXPECT_EQ(loops[0].rate, c.rate) << c.index;
        EXPECT_EQ(panel["LabelFreq"].caption, c.label) << c.index;
        expectIdle();
    }
    // The tables differ: square and triangle are what the generators made.
    panel.select("OptionSigGen", 1, 6);
    play(1);
    EXPECT_EQ(e.ToneBuffer[0], 8000);
    EXPECT_EQ(e.ToneBuffer[30], -8000);
    panel.select("OptionSigGen", 2, 6);
    play(1);
    EXPECT_EQ(e.ToneBuffer[0], -5000);

    device.calls.clear();
    panel.select("OptionSigGen", 5, 6);
    play(2);
    EXPECT_EQ(device.count(Call::Loop), 0);
    EXPECT_EQ(panel["LabelFreq"].caption, "Silence...");
    EXPECT_EQ(e.GenIndex, 5);
}

TEST_F(ContinuousSignalTest, FrequencyTextIsLimitedAndCheckedWhenTheSignalStarts)
{
    calibrated();
    panel["TextFFT"].text = "0";
    play(1);
    EXPECT_EQ(panel["TextFFT"].text, "1");
    EXPECT_EQ(e.Frequency, 1);
    EXPECT_EQ(device.of(Call::Loop).back().rate, 100);

    panel["TextFFT"].text = "25000";
    play(1);
    EXPECT_EQ(panel["TextFFT"].text, "20000");
    EXPECT_EQ(e.Frequency, 20000);

    // 5000 Hz on the 100-sample period asks for 500000: the device plays
    // at its limit.
    panel["TextFFT"].text = "5000";
    play(1);
    EXPECT_EQ(device.of(Call::Loop).back().rate, 500000);
    EXPECT_EQ(card.rate, 100000);

    // Not a number: reported, the previous frequency kept and shown.
    host.messages.clear();
    panel["TextFFT"].text = "12a";
    play(1);
    ASSERT_GE(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].icon, MessageIcon::Exclamation);
    EXPECT_NE(host.messages[0].text.find("'12a'"), std::string::npos);
    EXPECT_EQ(host.messages.size(), 1u); // once, not again when the signal is applied
    EXPECT_EQ(e.Frequency, 5000);
    EXPECT_EQ(panel["TextFFT"].text, "5000.00");
}

TEST_F(ContinuousSignalTest, ScrollBarsRetuneByRateAndTheRangeSwitchRestarts)
{
    calibrated();
    // Idle: the bars set the text and the rate.
    panel["HScrollFFT"].value = 1000;
    panel["HScrollFine"].value = 0;
    e.HScrollFine_Change();
    EXPECT_EQ(panel["TextFFT"].text, "100.00");
    EXPECT_EQ(device.of(Call::Rate).back().rate, 10000);
    e.CheckBy5_Click(); // unchanged box: still x1
    panel["CheckBy5"].value = 1;
    e.CheckBy5_Click();
    EXPECT_EQ(panel["TextFFT"].text, "2000.00");
    EXPECT_EQ(e.Frequency, 2000);

    panel["HScrollFFT"].value = 9000;
    panel["HScrollFine"].value = 10000;
    e.HScrollFFT_Scroll();
    EXPECT_EQ(panel["TextFFT"].text, "20000.00");
    EXPECT_EQ(device.of(Call::Rate).back().rate, 100000);

    // Playing: a bar changes only the rate; the x20 switch rebuilds the tone.
    panel["HScrollFFT"].value = 1000;
    panel["HScrollFine"].value = 0;
    panel["CheckBy5"].value = 0;
    e.HScrollFFT_Change();
    device.calls.clear();
    host.atYield(host.yields() + 4, [&] {
        panel["HScrollFine"].value = 500;
        e.HScrollFine_Scroll();
    });
    host.atYield(host.yields() + 6, [&] {
        panel["CheckBy5"].value = 1;
        e.CheckBy5_Click();
    });
    play(4);
    const auto loops = device.of(Call::Loop);
    ASSERT_EQ(loops.size(), 2u);
    EXPECT_EQ(loops[0].rate, 10000);
    EXPECT_EQ(loops[1].rate, 10500); // 2100 Hz on the 5-sample period
    EXPECT_EQ(device.of(Call::Rate).front().rate, 10500);
    EXPECT_EQ(panel["TextFFT"].text, "2100.00");
    EXPECT_EQ(e.ToneBuffer[1], 15217); // the 5-sample period table
}

TEST_F(ContinuousSignalTest, SelectionClicksRestartTheSignal)
{
    calibrated();
    for (int k = 1; k <= 3; ++k)
        host.atYield(2 * k + 2, [&] {
            panel.select("OptionSigGen", 0, 6);
            e.OptionSigGen_Click(0);
        });
    host.atYield(12, [&] {
        panel.select("OptionSigGen", 4, 6);
        e.OptionSigGen_Click(4);
    });
    play(8);
    const auto loops = device.of(Call::Loop);
    ASSERT_EQ(loops.size(), 5u); // first start, three clicks, then white noise
    EXPECT_EQ(loops[3].table, e.ToneBuffer.data());
    EXPECT_EQ(loops[4].table, e.WhiteNoiseBuffer.data());
    EXPECT_EQ(e.LastFreq, -6);
}

TEST_F(ContinuousSignalTest, ChoicesMadeWhileCalibratingWaitForItsEnd)
{
    play(3);
    const double noise = e.Noise, calib = e.Calib; // from silence and white noise
    ASSERT_GT(calib, 0);

    struct Choice {
        const char* what;
        std::function<void()> make;
        const int16_t* table; // what plays once calibrated
        int rate;
    } choices[] = {
        {"pink noise",
         [&] {
             panel.select("OptionSigGen", 3, 6);
             e.OptionSigGen_Click(3);
         },
         e.PinkNoiseBuffer.data(), 44100},
        {"x20",
         [&] {
             panel["CheckBy5"].value = 1;
             e.CheckBy5_Click();
         },
         e.ToneBuffer.data(), 10000}, // 2000 Hz
        {"fine bar",
         [&] {
             panel["HScrollFine"].value = 500;
             e.HScrollFine_Scroll();
         },
         e.ToneBuffer.data(), 10500}, // 105 Hz
    };
    // The set-up and record yields of the silence pass, then of the white one.
    for (const Choice& c : choices) {
        for (const int yield : {1, 2, 4, 5}) {
            e.cmdCalibrate_Click();
            panel.select("OptionSigGen", 0, 6);
            panel["CheckBy5"].value = 0;
            panel["HScrollFFT"].value = 1000;
            panel["HScrollFine"].value = 0;
            panel["TextFFT"].text = "100";
            device.calls.clear();
            host.atYield(host.yields() + yield, c.make);
            play(3);
            EXPECT_EQ(e.Noise, noise) << c.what << " at " << yield;
            EXPECT_EQ(e.Calib, calib) << c.what << " at " << yield;
            EXPECT_EQ(device.count(Call::Rate), 0) << c.what << " at " << yield;
            const auto loops = device.of(Call::Loop);
            ASSERT_EQ(loops.size(), 2u) << c.what << " at " << yield;
            EXPECT_EQ(loops[0].table, e.WhiteNoiseBuffer.data());
            EXPECT_EQ(loops[1].table, c.table) << c.what << " at " << yield;
            EXPECT_EQ(loops[1].rate, c.rate) << c.what << " at " << yield;
        }
    }
}

TEST_F(ContinuousSignalTest, LowSignalDuringItsCalibration)
{
    card.gain = 0;
    host.answer(MessageAnswer::No);
    play(50);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, MainPresenter::LowSignalQuestion);
    EXPECT_EQ(card.records, 2);
    EXPECT_FALSE(panel["cmdCalibrate"].enabled);
    EXPECT_EQ(e.Calib, 0);
    expectIdle();

    host.answer(MessageAnswer::Yes);
    play(3);
    EXPECT_NEAR(e.Calib, 2e-10 / 1.16, 1e-20);
    expectIdle();
}

TEST_F(ContinuousSignalTest, StopsDuringTheRunLeaveNothingPlaying)
{
    // Stopped during the yield that ends the white-noise calibration: the
    // signal must not be started afterwards.
    host.atYield(6, [&] { e.cmdStartSignal_Click(); });
    e.cmdStartSignal_Click();
    EXPECT_EQ(card.records, 2);
    EXPECT_EQ(device.count(Call::Loop), 1); // the white noise only
    EXPECT_EQ(e.Calib, 0);                  // nor is its block the reference
    EXPECT_FALSE(panel["cmdCalibrate"].enabled);
    expectIdle();

    // Stopped while a block is recorded: no level from that block.
    calibrated();
    card.waitsPerRecord = 2;
    panel["LabelDB"].caption = "untouched";
    host.atYield(host.yields() + 2, [&] { e.cmdStartSignal_Click(); });
    e.cmdStartSignal_Click();
    EXPECT_EQ(panel["LabelDB"].caption, "untouched");
    expectIdle();
}

TEST_F(ContinuousSignalTest, BadBlocksLeaveTheReadoutsAlone)
{
    calibrated();
    card.tamper = [](int block, int16_t* b) {
        if (block >= 2)
            b[10000] = 32767;
    };
    std::string afterFirst;
    host.atYield(3, [&] { afterFirst = panel["LabelDB"].caption; });
    play(4);
    EXPECT_NE(afterFirst, "N/A");
    EXPECT_EQ(panel["LabelDB"].caption, afterFirst);
}

TEST_F(ContinuousSignalTest, TheLiveLevelIsCorrected)
{
    calibrated();
    play(1);
    const double plain = std::stod(panel["LabelDB"].caption);
    CorrectionTable& corrections = document.corrections();
    std::fill(corrections.column(2), corrections.column(2) + CorrectionTable::Entries, 2.0);
    corrections.enabled[2] = true;
    play(1);
    EXPECT_NEAR(std::stod(panel["LabelDB"].caption), plain - 2, 0.011);
}

TEST_F(ContinuousSignalTest, ADeviceFailureEndsTheSignalWithAMessage)
{
    calibrated();
    host.atYield(4, [&] { card.failWith = "input unplugged"; });
    e.cmdStartSignal_Click();
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].icon, MessageIcon::Critical);
    EXPECT_NE(host.messages[0].text.find("input unplugged"), std::string::npos);
    expectIdle();
}

TEST_F(ContinuousSignalTest, AnUnknownSignalIsRefused)
{
    calibrated();
    e.Playing = true;
    e.GenIndex = 9;
    e.ApplySignal();
    EXPECT_FALSE(e.Playing);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, "Uh ?");
    EXPECT_EQ(host.messages[0].icon, MessageIcon::None);
}

} // namespace

} // namespace audimera
