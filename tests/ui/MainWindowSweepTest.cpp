// Sweeps started from the main window on the simulated card: the trace, the
// buttons it enables, "Clear Traces", the response box, the progress line,
// and shutting down in the middle of a run.
#include "tests/ui/MainWindowFixture.h"

#include <QMenu>

#include <algorithm>
#include <cmath>
#include <map>

namespace audimera {

namespace {

using MainWindowSweep = MainWindowTest;

TEST_F(MainWindowSweep, AClickOnStartMeasuresATraceAndEnablesClearAndSave)
{
    start();
    EXPECT_FALSE(button("cmdClearTraces")->isEnabled());
    sweep();
    EXPECT_EQ(window->engine().lastRunEnd(), MainPresenter::RunEnd::Completed);
    EXPECT_TRUE(messages.empty());
    const TraceStore& store = window->responseWindow().store();
    ASSERT_EQ(store.GetTraceCount(), 1);
    EXPECT_EQ(store.pointCount(0), 2); // 1000 Hz, then x2.00: 2000 Hz
    // A perfect loopback: a 16000 sine against the calibration noise at
    // half scale, mean 2/pi * 16000 against 2/1.16 times the noise's mean
    // magnitude (about 16380 / 2); hundredths of a dB.
    const double expected = 100 * 20 * std::log10((2 / M_PI * 16000) / (2 * 8190.0 / 1.16));
    EXPECT_NEAR(store.traceY(0)[0], expected, 10);
    EXPECT_NEAR(store.traceY(0)[1], expected, 10);
    EXPECT_TRUE(button("cmdClearTraces")->isEnabled());
    EXPECT_TRUE(action("MenuEntrySave")->isEnabled());
    EXPECT_TRUE(button("cmdCalibrate")->isEnabled());
    EXPECT_TRUE(button("cmdStart")->isEnabled());
    EXPECT_FALSE(button("cmdStop")->isEnabled());
    EXPECT_FALSE(card->isPlaying());
    EXPECT_NE(labelText("LabelDB"), "N/A");
    EXPECT_EQ(labelText("LabelFreq"), window->panel().formatNumber(2000) + " Hz");
}

TEST_F(MainWindowSweep, ClearTracesEmptiesThePlotAndDisablesItselfAndSave)
{
    start();
    const QImage empty = window->responseWindow().picture().image();
    sweep();
    EXPECT_NE(window->responseWindow().picture().image(), empty);
    click("cmdClearTraces");
    EXPECT_EQ(window->responseWindow().store().GetTraceCount(), 0);
    EXPECT_EQ(window->responseWindow().picture().image(), empty);
    EXPECT_FALSE(button("cmdClearTraces")->isEnabled());
    EXPECT_FALSE(action("MenuEntrySave")->isEnabled());
    // They stay so until a run ends with a trace.
    trigger("MenuEntrySave");
    EXPECT_TRUE(dialog.requests.empty());
    sweep();
    EXPECT_TRUE(button("cmdClearTraces")->isEnabled());
    EXPECT_TRUE(action("MenuEntrySave")->isEnabled());
}

TEST_F(MainWindowSweep, TheResponseBoxHidesThePlotAndShowsTheSameTracesAgain)
{
    start();
    sweep();
    const QImage before = window->responseWindow().picture().image();
    click("CheckResponse");
    EXPECT_EQ(window->panel().value("CheckResponse"), 0);
    EXPECT_FALSE(window->responseWindow().isVisible());
    click("CheckResponse");
    EXPECT_TRUE(window->responseWindow().isVisible());
    EXPECT_EQ(window->responseWindow().store().GetTraceCount(), 1);
    EXPECT_EQ(window->responseWindow().store().pointCount(0), 2);
    EXPECT_EQ(window->responseWindow().picture().image(), before);
}

TEST_F(MainWindowSweep, WaveformAndFftBoxesShowAndHideTheirWindows)
{
    start();
    click("CheckInput");
    EXPECT_FALSE(window->inputWaveWindow().isVisible());
    click("CheckFFT");
    EXPECT_FALSE(window->fftWindow().isVisible());
    click("CheckInput");
    EXPECT_TRUE(window->inputWaveWindow().isVisible());
    click("CheckFFT");
    EXPECT_TRUE(window->fftWindow().isVisible());
}

TEST_F(MainWindowSweep, AWindowClosedByTheUserClearsItsBoxOnly)
{
    start();
    EXPECT_FALSE(window->responseWindow().close());
    EXPECT_FALSE(window->responseWindow().isVisible());
    EXPECT_EQ(window->panel().value("CheckResponse"), 0);
    EXPECT_FALSE(window->inputWaveWindow().close());
    EXPECT_EQ(window->panel().value("CheckInput"), 0);
    EXPECT_FALSE(window->fftWindow().close());
    EXPECT_EQ(window->panel().value("CheckFFT"), 0);
    // Ticking the box brings the window back.
    click("CheckResponse");
    EXPECT_TRUE(window->responseWindow().isVisible());
    EXPECT_TRUE(window->isVisible());
}

TEST_F(MainWindowSweep, TheStatusLineShowsProgressDuringTheSweepAndIsEmptyAfter)
{
    start();
    std::vector<std::string> seen;
    duringRun([&] {
        const std::string text = window->statusLine()->text().toStdString();
        if (!text.empty() && (seen.empty() || seen.back() != text))
            seen.push_back(text);
        return false;
    });
    sweep();
    stopDuringRun();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].rfind("Sweep at " + window->panel().formatNumber(1000) + " Hz, 0 %", 0), 0u) << seen[0];
    EXPECT_EQ(seen[1].rfind("Sweep at " + window->panel().formatNumber(2000) + " Hz, 100 %", 0), 0u) << seen[1];
    EXPECT_EQ(window->statusLine()->text().toStdString(), "");
}

TEST_F(MainWindowSweep, ABandSweepCountsItsPoints)
{
    start();
    edit("TextStop")->setText(QStringLiteral("40"));
    button("OptionAutoSigGen(2)")->click();
    std::vector<std::string> seen;
    duringRun([&] {
        const std::string text = window->statusLine()->text().toStdString();
        if (!text.empty() && (seen.empty() || seen.back() != text))
            seen.push_back(text);
        return false;
    });
    click("cmdStart");
    stopDuringRun();
    // 20, 25, 31.5 and 40 Hz of the 31 bands.
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen.front(), "Point 1 of 4");
    EXPECT_EQ(seen.back(), "Point 4 of 4");
    EXPECT_EQ(window->responseWindow().store().pointCount(0), 4);
}

TEST_F(MainWindowSweep, DuringASweepTheSetUpControlsAndDeviceMenusAreLocked)
{
    start();
    std::map<std::string, bool> during;
    duringRun([&] {
        if (!window->session().sweeping())
            return false;
        for (const char* name : {"MenuOutDevice", "MenuInDevice", "TextStart", "TextStop", "MenuEntrySave",
                                 "MenuEntryLoadTrace", "cmdStart", "cmdStop", "cmdStartSignal", "HScrollFFT",
                                 "OptionSigGen(0)", "HScrollVolume", "CheckResponse", "ComboSmooth"})
            during[name] = window->panel().enabled(name);
        during["menu"] = find<QMenu>("MenuOutDevice")->menuAction()->isEnabled();
        return true;
    });
    sweep();
    stopDuringRun();
    ASSERT_FALSE(during.empty());
    for (const char* locked : {"MenuOutDevice", "MenuInDevice", "TextStart", "TextStop", "MenuEntrySave",
                               "MenuEntryLoadTrace", "cmdStart", "cmdStartSignal", "HScrollFFT", "OptionSigGen(0)",
                               "menu"})
        EXPECT_FALSE(during[locked]) << locked;
    for (const char* free : {"cmdStop", "HScrollVolume", "CheckResponse", "ComboSmooth"})
        EXPECT_TRUE(during[free]) << free;
    // All back afterwards.
    EXPECT_TRUE(window->panel().enabled("MenuOutDevice"));
    EXPECT_TRUE(find<QMenu>("MenuInDevice")->menuAction()->isEnabled());
    EXPECT_TRUE(window->panel().enabled("TextStart"));
}

TEST_F(MainWindowSweep, StopInsideTheSweepEndsIt)
{
    start();
    duringRun([&] {
        if (!window->session().sweeping() || !card->isPlaying() || !window->session().calibrated())
            return false;
        click("cmdStop");
        return true;
    });
    sweep("20", "20000", 126);
    stopDuringRun();
    EXPECT_EQ(window->engine().lastRunEnd(), MainPresenter::RunEnd::Stopped);
    EXPECT_FALSE(card->isPlaying());
    EXPECT_LT(window->responseWindow().store().pointCount(0), 5);
    EXPECT_TRUE(button("cmdStart")->isEnabled());
}

TEST_F(MainWindowSweep, ChangingTheListsWhileIdleRedrawsAtOnce)
{
    start();
    // A zig-zag that every smoothing order draws differently.
    FormResponse& response = window->responseWindow();
    TraceStore& traces = window->document().traces();
    ASSERT_TRUE(traces.AddTrace());
    const double levels[] = {10, -10, 10, -10, 10, -10};
    double f = 100;
    for (double level : levels) {
        traces.AddPoint(f, level);
        f *= 2;
    }
    response.TraceResponse();
    const QImage sharp = response.picture().image();

    QComboBox* smooth = combo("ComboSmooth");
    smooth->setCurrentIndex(3);
    emit smooth->activated(3);
    EXPECT_EQ(window->document().plot().smooth, 4);
    const QImage strong = response.picture().image();
    EXPECT_NE(strong, sharp);

    QComboBox* range = combo("ComboDBRange");
    range->setCurrentIndex(0);
    emit range->activated(0);
    EXPECT_FLOAT_EQ(response.picture().ScaleHeight(), 1200.0f);
    EXPECT_NE(response.picture().image(), strong);
}

// ---------------------------------------------------------------- shut-down

TEST_F(MainWindowSweep, ExitDuringASweepStopsPlaybackFirstAndEndsAfterTheRunReturned)
{
    start();
    struct AtExit {
        bool asked = false;
        bool playing = true;
        bool running = true;
        bool windowsOpen = false;
        bool shutDown = true;
        int handlers = 0;
    } atExit;
    duringRun([&] {
        // A tone of the sweep is playing.
        if (!window->session().sweeping() || !card->isPlaying() || !window->session().calibrated())
            return false;
        card->log.clear();
        trigger("MenuEntryExit");
        atExit.asked = true;
        atExit.playing = card->isPlaying();
        atExit.running = window->session().sweeping();
        atExit.windowsOpen = window->isVisible() && window->responseWindow().isVisible() &&
                             window->inputWaveWindow().isVisible() && window->fftWindow().isVisible();
        atExit.shutDown = window->isShutDown();
        atExit.handlers = window->handlersOnStack();
        return true;
    });
    sweep("20", "20000", 126);
    stopDuringRun();

    ASSERT_TRUE(atExit.asked);
    // Right after Exit: playback stopped, the run told to end, nothing
    // closed while the run is still on the stack.
    EXPECT_FALSE(atExit.playing);
    EXPECT_FALSE(atExit.running);
    EXPECT_TRUE(atExit.windowsOpen);
    EXPECT_FALSE(atExit.shutDown);
    EXPECT_GE(atExit.handlers, 1);

    // After the run returned: the rest of the shut-down.
    EXPECT_TRUE(window->isShutDown());
    EXPECT_EQ(window->handlersOnStack(), 0);
    EXPECT_EQ(window->engine().lastRunEnd(), MainPresenter::RunEnd::Stopped);
    EXPECT_FALSE(card->isPlaying());
    ASSERT_FALSE(card->log.empty());
    EXPECT_EQ(card->log.front(), "StopPlayback");
    EXPECT_EQ(card->log.back(), "closeAudio");
    EXPECT_EQ(std::count(card->log.begin(), card->log.end(), "PlayLoop"), 0);
    EXPECT_EQ(card->outputDevice(), -1);
    EXPECT_TRUE(visibleWindows().empty());
    EXPECT_TRUE(messages.empty());
}

TEST_F(MainWindowSweep, ClosingTheWindowDuringASweepWaitsForTheRun)
{
    start();
    bool refused = false;
    bool closeResult = true;
    duringRun([&] {
        if (!window->session().sweeping() || !window->session().calibrated())
            return false;
        closeResult = window->close();
        refused = window->isVisible();
        return true;
    });
    sweep("20", "20000", 126);
    stopDuringRun();
    EXPECT_FALSE(closeResult);
    EXPECT_TRUE(refused);
    EXPECT_TRUE(window->isShutDown());
    EXPECT_FALSE(card->isPlaying());
    EXPECT_TRUE(visibleWindows().empty());
}

TEST_F(MainWindowSweep, ExitWhilePlayingTheSignalStopsIt)
{
    start();
    duringRun([&] {
        if (!window->session().playing() || !window->session().calibrated() || !card->isPlaying())
            return false;
        trigger("MenuEntryExit");
        return true;
    });
    click("cmdStartSignal");
    stopDuringRun();
    EXPECT_TRUE(window->isShutDown());
    EXPECT_FALSE(window->session().playing());
    EXPECT_FALSE(card->isPlaying());
    EXPECT_TRUE(visibleWindows().empty());
}

TEST_F(MainWindowSweep, NothingStartsOnceShutDownWasAskedFor)
{
    start();
    int startsAfterExit = 0;
    duringRun([&] {
        if (!window->session().sweeping() || !window->session().calibrated())
            return false;
        trigger("MenuEntryExit");
        // cmdStop_Click enabled Start again; a click now must do nothing.
        const int before = card->playLoopCount();
        click("cmdStart");
        startsAfterExit = card->playLoopCount() - before;
        return true;
    });
    sweep("20", "20000", 126);
    stopDuringRun();
    EXPECT_EQ(startsAfterExit, 0);
    EXPECT_TRUE(window->isShutDown());
}

TEST_F(MainWindowSweep, ExitWhenIdleShutsDownAtOnce)
{
    start();
    trigger("MenuEntryExit");
    EXPECT_TRUE(window->isShutDown());
    EXPECT_EQ(card->log.back(), "closeAudio");
    EXPECT_TRUE(visibleWindows().empty());
    // A second request changes nothing.
    window->Form_Unload();
    EXPECT_EQ(std::count(card->log.begin(), card->log.end(), "closeAudio"), 1);
}

TEST_F(MainWindowSweep, ClosingTheIdleWindowShutsDown)
{
    start();
    trigger("MenuEntryHelp");
    EXPECT_TRUE(window->close());
    EXPECT_TRUE(window->isShutDown());
    EXPECT_TRUE(visibleWindows().empty());
}

} // namespace

} // namespace audimera
