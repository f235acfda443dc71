// The signal generator's controls: what its button locks and shows, the
// frequency box and the scroll bars read into the signal, the signal
// buttons and the "x20" box while it plays or calibrates, and the boxes of
// the waveform and spectrum windows.
#include "tests/engine/EngineFixture.h"

#include <functional>
#include <memory>

namespace audimera {

namespace {

class SignalControlsTest : public LoopbackPresenterTest {
protected:
    // Presses the button, lets `blocks` blocks be recorded, then presses
    // it again (from inside the run, as the user would).
    void play(int blocks)
    {
        const int stopAt = card.records + blocks;
        auto pressed = std::make_shared<bool>(false);
        host.everyYield([this, stopAt, pressed] {
            if (!*pressed && session.playing() && card.records >= stopAt) {
                *pressed = true;
                e.cmdStartSignal_Click();
            }
        });
        e.cmdStartSignal_Click();
    }

    void expectIdle()
    {
        EXPECT_FALSE(session.playing());
        EXPECT_FALSE(card.playing);
        EXPECT_EQ(panel["cmdStartSignal"].caption, "Start Signal");
        EXPECT_TRUE(panel["cmdStart"].enabled);
        EXPECT_TRUE(panel["OptionAutoSigGen(0)"].enabled);
        EXPECT_TRUE(panel["TextStart"].enabled);
    }
};

TEST_F(SignalControlsTest, TheButtonLocksTheControlsAndShowsWhatPlays)
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
    ASSERT_GE(captions.size(), 3u);
    EXPECT_EQ(captions[0], "Silence...");
    EXPECT_EQ(captions[1], "White noise...");
    EXPECT_EQ(captions[2], "100.00 Hz");
    EXPECT_NE(panel["LabelDB"].caption, "N/A");
    EXPECT_NE(panel["LabelSNR"].caption, "N/A");
    expectIdle();
    // The calibration serves the next sweep too.
    EXPECT_TRUE(panel["cmdCalibrate"].enabled);
}

TEST_F(SignalControlsTest, FrequencyTextIsLimitedAndCheckedWhenTheSignalStarts)
{
    calibrated();
    panel["TextFFT"].text = "0";
    play(1);
    EXPECT_EQ(panel["TextFFT"].text, "1");
    EXPECT_EQ(session.frequency(), 1);
    EXPECT_EQ(device.of(Call::Loop).back().rate, 100);

    panel["TextFFT"].text = "25000";
    play(1);
    EXPECT_EQ(panel["TextFFT"].text, "20000");
    EXPECT_EQ(session.frequency(), 20000);

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
    EXPECT_EQ(session.frequency(), 5000);
    EXPECT_EQ(panel["TextFFT"].text, "5000.00");
}

TEST_F(SignalControlsTest, ScrollBarsRetuneByRateAndTheRangeSwitchRestarts)
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
    EXPECT_EQ(session.frequency(), 2000);

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
    EXPECT_EQ(loops[1].head[1], 15217); // the 5-sample period table
}

TEST_F(SignalControlsTest, SelectionClicksRestartTheSignal)
{
    calibrated();
    const int yields = host.yields();
    for (int k = 1; k <= 3; ++k)
        host.atYield(yields + 2 * k + 2, [&] {
            panel.select("OptionSigGen", 0, 6);
            e.OptionSigGen_Click(0);
        });
    host.atYield(yields + 12, [&] {
        panel.select("OptionSigGen", 4, 6);
        e.OptionSigGen_Click(4);
    });
    play(8);
    const auto loops = device.of(Call::Loop);
    ASSERT_EQ(loops.size(), 5u); // first start, three clicks, then white noise
    EXPECT_EQ(loops[3].rate, 10000);
    EXPECT_EQ(loops[4].table, session.whiteNoiseTable().data());
    EXPECT_EQ(panel["LabelFreq"].caption, "White noise...");
}

TEST_F(SignalControlsTest, ChoicesMadeWhileCalibratingWaitForItsEnd)
{
    play(3);
    const double noise = session.noise(), calib = session.calibration(); // from silence and white noise
    ASSERT_GT(calib, 0);

    struct Choice {
        const char* what;
        std::function<void()> make;
        const int16_t* table; // what plays once calibrated; nullptr: the tone
        int rate;
    } choices[] = {
        {"pink noise",
         [&] {
             panel.select("OptionSigGen", 3, 6);
             e.OptionSigGen_Click(3);
         },
         session.pinkNoiseTable().data(), 44100},
        {"x20",
         [&] {
             panel["CheckBy5"].value = 1;
             e.CheckBy5_Click();
         },
         nullptr, 10000}, // 2000 Hz
        {"fine bar",
         [&] {
             panel["HScrollFine"].value = 500;
             e.HScrollFine_Scroll();
         },
         nullptr, 10500}, // 105 Hz
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
            EXPECT_EQ(session.noise(), noise) << c.what << " at " << yield;
            EXPECT_EQ(session.calibration(), calib) << c.what << " at " << yield;
            EXPECT_EQ(device.count(Call::Rate), 0) << c.what << " at " << yield;
            const auto loops = device.of(Call::Loop);
            ASSERT_EQ(loops.size(), 2u) << c.what << " at " << yield;
            EXPECT_EQ(loops[0].table, session.whiteNoiseTable().data());
            if (c.table) {
                EXPECT_EQ(loops[1].table, c.table) << c.what << " at " << yield;
            }
            EXPECT_EQ(loops[1].rate, c.rate) << c.what << " at " << yield;
        }
    }
}

// A run hands each block to the windows as their boxes say at that block.
TEST_F(SignalControlsTest, TheWindowsBoxesAreReadForEveryBlock)
{
    calibrated();
    // Every block comes back clipped.
    card.tamper = [](int, int16_t* b) { b[10000] = 32767; };
    struct Case {
        int input, fft, badWave;
        size_t curves, ffts;
        bool bad; // the windows draw the block as bad
    } cases[] = {
        {1, 1, 1, 1, 1, true}, {1, 1, 0, 1, 1, false}, {0, 1, 1, 0, 1, true}, {1, 0, 1, 1, 0, true},
    };
    for (const Case& c : cases) {
        displays.curves.clear();
        displays.ffts.clear();
        panel["CheckInput"].value = c.input;
        panel["CheckFFT"].value = c.fft;
        panel["CheckBadInputWave"].value = c.badWave;
        panel["TextFFT"].text = "1000";
        play(1);
        ASSERT_EQ(displays.curves.size(), c.curves) << c.input << c.fft << c.badWave;
        ASSERT_EQ(displays.ffts.size(), c.ffts) << c.input << c.fft << c.badWave;
        if (c.curves) {
            EXPECT_EQ(displays.curves[0].bad, c.bad);
            EXPECT_EQ(displays.curves[0].width, 176); // four periods of 1 kHz
        }
        if (c.ffts) {
            EXPECT_EQ(displays.ffts[0], c.bad);
        }
    }
}

} // namespace

} // namespace audimera
