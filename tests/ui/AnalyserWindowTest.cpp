// The "Analyser" window on the simulated card: periodic pink noise analysed
// in third octaves (updates drawn, Freeze, Add, Stop), the event loop's
// largest gap while it runs at its heaviest, and a calibration kept for one
// record device that another never uses.
#include "tests/ui/MainWindowFixture.h"

#include "display/models/AnalyserPlot.h"
#include "ui/FormAnalyser.h"
#include "ui/LogSweepView.h"
#include "ui/QtCalibrationStore.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace audimera {

namespace {

class LiveAnalyserWindow : public MainWindowTest {
protected:
    void SetUp() override
    {
        QSettings settings(QStringLiteral("Audimera"), QStringLiteral("Audimera"));
        settings.remove(FormAnalyser::SettingsGroup);
        settings.remove(QtCalibrationStore::SettingsGroup);
    }
    void open()
    {
        trigger("MenuEntryAnalyser");
        ASSERT_TRUE(analyser().isVisible());
    }
    FormAnalyser& analyser() { return window->analyserWindow(); }
    template <typename T = QWidget>
    T* control(const char* name)
    {
        T* w = analyser().findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void press(const char* name) { control<QAbstractButton>(name)->click(); }
    void choose(const char* box, int data)
    {
        auto* list = control<QComboBox>(box);
        list->setCurrentIndex(list->findData(data));
    }
    // Starts the analyser; at every pass of the event loop inside its run
    // calls action until it returns true, then stops it.
    void analyse(std::function<bool()> action)
    {
        duringRun([this, action] {
            if (!analyser().isRunning() || !action())
                return false;
            press("ButtonAnalyserStop");
            return true;
        });
        press("ButtonAnalyserStart");
        stopDuringRun();
        EXPECT_FALSE(analyser().isRunning());
        EXPECT_TRUE(messages.empty()) << messages.front().text;
    }
    int pixelsOf(RgbColor color)
    {
        const DrawingSurface& s = analyser().plot().surface();
        int n = 0;
        for (int y = 0; y < s.pixelHeight(); ++y)
            for (int x = 0; x < s.pixelWidth(); ++x)
                n += s.pixelColor(x, y) == color;
        return n;
    }
};

} // namespace

TEST_F(LiveAnalyserWindow, PeriodicPinkNoiseInThirdOctavesIsDrawnFrozenAddedAndStopped)
{
    start();
    open();
    EXPECT_EQ(action("MenuEntryAnalyser")->text(), QStringLiteral("&Analyser..."));
    EXPECT_NE(control<QComboBox>("ComboAnalyserWindow")->findText(FormAnalyser::RectangularText), -1);
    choose("ComboAnalyserSignal", int(LiveSignal::PeriodicPink));
    choose("ComboAnalyserWindow", int(AnalyserWindow::Rectangular));
    choose("ComboAnalyserBands", 3);
    int shown = 0; // updates with a spectrum (none before the first transform)
    analyse([&, seen = 0]() mutable {
        if (analyser().updates() == seen || analyser().lastUpdate().spectrum.levelsDb.empty())
            return false;
        seen = analyser().updates();
        if (++shown < 3)
            return false;
        EXPECT_GT(pixelsOf(AnalyserPlot::BarColor), 1000);
        press("ButtonAnalyserFreeze");
        press("ButtonAnalyserAdd");
        return true;
    });
    ASSERT_TRUE(analyser().reference());
    EXPECT_GT(pixelsOf(AnalyserPlot::ReferenceColor), 100);
    // Periodic pink noise has the same power in every third octave: flat bands.
    const SpectrumFrame& bands = *analyser().reference();
    double low = 1e9, high = -1e9;
    for (std::size_t i = 0; i < bands.bands.size(); ++i)
        if (bands.bands[i].centreHz >= 100 && bands.bands[i].centreHz <= 10000) {
            low = std::min(low, bands.levelsDb[i]);
            high = std::max(high, bands.levelsDb[i]);
        }
    // Exactly, with the rectangular window over whole periods.
    EXPECT_LT(high - low, 0.1);
    EXPECT_TRUE(control<QLabel>("LabelAnalyserLevel")->text().endsWith(QStringLiteral("dBFS")));
    EXPECT_TRUE(control<QLabel>("LabelAnalyserNote")->text().contains(QString::fromLatin1(FormAnalyser::NotCalibratedNote)));
    const MeasurementDocument& document = window->document();
    ASSERT_EQ(document.traces().GetTraceCount(), 1);
    EXPECT_EQ(document.traceName(0), "Analyser 1/3 octave");
    EXPECT_EQ(document.traces().pointCount(0), static_cast<int>(bands.bands.size()));
    // Pressed again, Freeze clears the reference.
    press("ButtonAnalyserFreeze");
    EXPECT_FALSE(analyser().reference());
    EXPECT_TRUE(button("cmdStart")->isEnabled());
}

TEST_F(LiveAnalyserWindow, LargestGapOfTheEventLoopAtFft32768And48thOctave)
{
    start();
    open();
    choose("ComboAnalyserFft", 32768);
    choose("ComboAnalyserBands", 48);
    choose("ComboAnalyserSignal", int(LiveSignal::PeriodicPink));
    control<QCheckBox>("CheckAnalyserPeak")->setChecked(true);
    QElapsedTimer clock;
    qint64 last = -1, largest = 0;
    QTimer ticks;
    ticks.setInterval(10);
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (last >= 0)
            largest = std::max(largest, now - last);
        last = now;
    });
    clock.start();
    ticks.start();
    bool cmdStartOff = false;
    analyse([&] {
        cmdStartOff = cmdStartOff || !button("cmdStart")->isEnabled();
        return clock.elapsed() >= 1500;
    });
    ticks.stop();
    std::printf("[ figures ] analyser at FFT 32768, 1/48 octave: %d updates in %.2f s, largest event-loop gap %.1f ms\n",
                analyser().updates(), clock.elapsed() / 1000.0, largest / 1e6);
    EXPECT_GE(analyser().updates(), 10);
    EXPECT_GT(pixelsOf(AnalyserPlot::PeakColor), 100);
    // The main window starts nothing while the analyser runs.
    EXPECT_TRUE(cmdStartOff);
}

TEST_F(LiveAnalyserWindow, ACalibratorAskedForWhileRunningIsMeasuredAndTheAnalyserGoesOn)
{
    start();
    open();
    int runs = 0;
    duringRun([&] {
        if (!analyser().isRunning() || analyser().updates() < 2)
            return false;
        if (++runs == 1) {
            // The simulated card hears no calibrator: the calibration fails.
            press("ButtonAnalyserCalibrate");
            analyser().calibrationDialog().findChild<QPushButton*>(QStringLiteral("ButtonCalibrationOk"))->click();
            return false;
        }
        press("ButtonAnalyserStop");
        return true;
    });
    press("ButtonAnalyserStart");
    stopDuringRun();
    EXPECT_EQ(runs, 2);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].text.find("No calibrator tone"), std::string::npos) << messages[0].text;
    EXPECT_FALSE(analyser().calibration());
}

TEST_F(LiveAnalyserWindow, CalibrationIsKeptForItsRecordDeviceAndAnotherReadsDbfs)
{
    start(std::make_unique<LoggingSoundCard>(std::vector<SoundDeviceInfo>{SimulatedSoundCard::defaultDevice()},
                                             std::vector<SoundDeviceInfo>{{"mic-a", "Mic A"}, {"mic-b", "Mic B"}}));
    // A microphone file stating its level of 1 Pa, ticked in the Log Sweep
    // window: its sensitivity fills the dialog's box.
    QTemporaryDir dir;
    const std::string file = dir.filePath(QStringLiteral("mic.txt")).toStdString();
    std::ofstream(file) << "\"Sensitivity: -37.5 dBFS\"\n20 0\n20000 0\n";
    ASSERT_TRUE(window->session().loadCorrection(CorrectionUse::LogSweep, 2, file).ok());
    ASSERT_TRUE(window->session().enableCorrection(CorrectionUse::LogSweep, 2).ok());
    open();
    press("ButtonAnalyserCalibrate");
    auto& dialog = analyser().calibrationDialog();
    ASSERT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.findChild<QLabel*>(QStringLiteral("LabelCalibrationSensitivity"))->text().contains(
        QStringLiteral("-37")));
    dialog.findChild<QCheckBox*>(QStringLiteral("CheckCalibrationSensitivity"))->setChecked(true);
    dialog.findChild<QPushButton*>(QStringLiteral("ButtonCalibrationOk"))->click();
    ASSERT_TRUE(analyser().settings().calibrationOffsetDb);
    EXPECT_NEAR(*analyser().settings().calibrationOffsetDb, SplCalibration::PascalDb + 37.5, 1e-9);
    EXPECT_TRUE(control<QLabel>("LabelAnalyserCalibration")->text().contains(QStringLiteral("on Mic A")));
    analyse([&] { return analyser().updates() >= 2; });
    EXPECT_TRUE(analyser().lastUpdate().calibrated);
    EXPECT_TRUE(control<QLabel>("LabelAnalyserLevel")->text().endsWith(QStringLiteral("dB SPL")));

    trigger("MenuEntryInDevice(1)");
    EXPECT_FALSE(analyser().settings().calibrationOffsetDb);
    analyse([&] { return analyser().updates() >= 2; });
    EXPECT_FALSE(analyser().lastUpdate().calibrated);
    EXPECT_TRUE(control<QLabel>("LabelAnalyserLevel")->text().endsWith(QStringLiteral("dBFS")));
    EXPECT_TRUE(control<QLabel>("LabelAnalyserCalibration")->text().contains(QStringLiteral("Not calibrated for Mic B")));
    EXPECT_TRUE(control<QLabel>("LabelAnalyserCalibration")->text().contains(QStringLiteral("exists for Mic A")));
}

} // namespace audimera
