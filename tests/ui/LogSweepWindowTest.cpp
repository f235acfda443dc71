// The "Log Sweep" window on the simulated card: the Measure menu, a short
// measurement and its views, adding its curve to the response plot, saving
// each format, Stop in mid-sweep, the locking with the stepped sweep and the
// signal, failures, shut-down during a sweep and the settings kept.
#include "tests/ui/MainWindowFixture.h"

#include "cli/MeasureCommand.h"

#include "display/models/Drawing.h"
#include "display/models/LogSweepPlots.h"
#include "display/models/ResponsePlot.h"
#include "ui/FormLogSweep.h"
#include "ui/LogSweepView.h"
#include "ui/MeasurementListPanel.h"
#include "ui/RoomPage.h"
#include "curves/ImpulseFile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>

#include <cmath>
#include <fstream>
#include <sstream>

namespace audimera {

namespace {

// Counts the play-once runs.
class DuplexCountingCard : public LoggingSoundCard {
public:
    audimera::Result<Recorded> playAndRecord(const DuplexRequest& request, std::vector<float>& recorded,
                                             RecordWaiter& waiter) override
    {
        ++runs;
        return LoggingSoundCard::playAndRecord(request, recorded, waiter);
    }
    int runs = 0;
};

class LogSweepWindow : public MainWindowTest {
protected:
    void SetUp() override
    {
        // Each test starts from the window's own defaults.
        QSettings(QStringLiteral("Audimera"), QStringLiteral("Audimera")).remove(FormLogSweep::SettingsGroup);
    }

    FormLogSweep& logWindow() { return window->logSweepWindow(); }
    template <typename T>
    T* control(const char* name)
    {
        T* w = logWindow().findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QPushButton* measureButton() { return control<QPushButton>("cmdLogMeasure"); }

    // Shows the window through its menu entry, with the shortest sweep.
    void open()
    {
        trigger("MenuEntryLogSweep");
        control<QComboBox>("ComboLogLength")->setCurrentIndex(0);
        control<QDoubleSpinBox>("SpinLogStart")->setValue(100);
        control<QDoubleSpinBox>("SpinLogStop")->setValue(10000);
    }
    void measure()
    {
        measureButton()->click();
        ASSERT_NE(logWindow().results(), nullptr) << (messages.empty() ? "" : messages.back().text);
    }
    std::string path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)).toStdString(); }
    static QByteArray readAll(const std::string& p)
    {
        QFile file(QString::fromStdString(p));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(LogSweepWindow, MeasureMenuShowsTheWindowThatMeasuresAFlatLoopback)
{
    start();
    // The new menu comes after the documented ones but "?", which stays last.
    const QList<QAction*> menus = window->menuBar()->actions();
    ASSERT_GE(menus.size(), 2);
    EXPECT_EQ(menus.back()->menu()->objectName(), QStringLiteral("HelpMenu"));
    EXPECT_EQ(menus[menus.size() - 2]->text(), QStringLiteral("&Measure"));
    EXPECT_EQ(action("MenuEntryLogSweep")->text(), QStringLiteral("&Log Sweep..."));
    EXPECT_EQ(action("MenuEntryLogSweep")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_L));
    EXPECT_FALSE(logWindow().isVisible());
    open();
    EXPECT_TRUE(logWindow().isVisible());
    EXPECT_EQ(logWindow().windowTitle(), QStringLiteral("Log Sweep"));
    EXPECT_EQ(control<QComboBox>("ComboLogLength")->currentData().toULongLong(), 32768u);
    EXPECT_TRUE(control<QComboBox>("ComboLogLength")->currentText().endsWith(QStringLiteral(" s (32768)")));
    EXPECT_FALSE(control<QPushButton>("cmdLogAdd")->isEnabled());
    EXPECT_FALSE(control<QPushButton>("cmdLogSave")->isEnabled());

    measure();
    EXPECT_TRUE(messages.empty());
    const LogSweepResults& r = *logWindow().results();
    ASSERT_FALSE(r.response.empty());
    for (const ResponsePoint& p : r.response)
        ASSERT_NEAR(p.level, 0, 0.1) << p.frequency;
    EXPECT_EQ(measureButton()->text(), QStringLiteral("Measure"));
    EXPECT_TRUE(control<QPushButton>("cmdLogAdd")->isEnabled());
    EXPECT_TRUE(control<QPushButton>("cmdLogSave")->isEnabled());
    EXPECT_FALSE(control<QLabel>("LabelLogSummary")->text().isEmpty());

    // Every control has a tool tip.
    for (const char* name : {"SpinLogStart", "SpinLogStop", "ComboLogLength", "SpinLogLevel", "ComboLogReference",
                             "SpinLogGate", "ComboLogSmooth", "CheckLogSPLCorrect", "CheckLogSoundCard",
                             "CheckLogUserCalib", "txtLogUserCalibFile", "cmdLogCalibBrowse", "cmdLogMeasure",
                             "ProgressLogSweep", "cmdLogAdd", "cmdLogSave", "ComboPhaseRef", "TextPhaseDelay",
                             "TableMeasurements", "cmdMeasRename", "cmdMeasDelete", "cmdMeasUndo", "cmdMeasAdd",
                             "ComboMeasAverageMode", "CheckMeasAlignFirst", "cmdMeasAverage", "SpinMeasTemperature",
                             "cmdMeasAlign", "LabelMeasDelays", "LabelMeasStatus"})
        EXPECT_FALSE(control<QWidget>(name)->toolTip().isEmpty()) << name;

    // Closing only hides it; the results stay.
    logWindow().close();
    EXPECT_FALSE(logWindow().isVisible());
    EXPECT_NE(logWindow().results(), nullptr);
}

TEST_F(LogSweepWindow, ViewsAreDrawnAndTheReadOutFollowsTheMouse)
{
    start();
    open();
    measure();
    // The magnitude lies at 0 dB in the middle of the response view at 1 kHz.
    const DrawingSurface& surface = logWindow().view(0).surface();
    const float x1k = static_cast<float>(100 * Log10(1000) - ResponsePlot::leftX());
    const int px = static_cast<int>(surface.toPixelX(x1k));
    const int py = static_cast<int>(surface.toPixelY(static_cast<float>(LogSweepPlots::levelAxis(
                                                                            logWindow().results()->response)
                                                                            .top *
                                                                        100)));
    bool black = false;
    for (int dy = -1; dy <= 1; ++dy)
        black = black || surface.pixelColor(px, py + dy) == LogSweepPlots::MagnitudeColor;
    EXPECT_TRUE(black);

    const QString response = logWindow().readout(0, x1k, 0);
    EXPECT_TRUE(response.startsWith(QStringLiteral("1")) && response.contains(QStringLiteral(" Hz, ")) &&
                response.contains(QStringLiteral(" dB, ")) && response.endsWith(QStringLiteral("°")))
        << response.toStdString();
    const QString distortion = logWindow().readout(2, x1k, 0);
    EXPECT_TRUE(distortion.contains(QStringLiteral("Hz"))) << distortion.toStdString();

    // In the impulse view, the peak reads 0 dB at 0 ms.
    const LogSweepResults& r = *logWindow().results();
    const LogSweepPlots::TimeAxis axis = LogSweepPlots::timeAxis(r.impulse, r.impulsePeak, r.rate, 0);
    const QString impulse = logWindow().readout(1, -axis.firstMs * 100, 0);
    EXPECT_TRUE(impulse.startsWith(QStringLiteral("0.000 ms")) && impulse.endsWith(QStringLiteral(", 0.0 dB")))
        << impulse.toStdString();

    // The label under the mouse shows the read-out.
    LogSweepView& view = logWindow().view(0);
    emit view.hovered(x1k, 0);
    EXPECT_EQ(control<QLabel>("LabelLogCursor")->text(), response);
    emit view.left();
    EXPECT_TRUE(control<QLabel>("LabelLogCursor")->text().isEmpty());
}

TEST_F(LogSweepWindow, AnImpulseResponseFileOpensAsAMeasurementWithItsRoomParameters)
{
    start();
    open();
    // A decay of T = 0.5 s: white noise falling 60 dB in 0.5 s, at 48 kHz.
    std::vector<float> decay(48000);
    uint32_t seed = 7;
    for (std::size_t i = 0; i < decay.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        decay[i] = static_cast<float>((static_cast<double>(seed) / 4294967296.0 - 0.5) * std::exp(-6.91 * i / 24000.0));
    }
    ASSERT_TRUE(ImpulseFile::writeWav(path("room.wav"), decay, 48000));
    {
        std::ofstream(path("text.wav")) << "20 0\n";
    }
    struct Case {
        const char* file;
        bool opens;
    };
    for (const Case& c : {Case{"room.wav", true}, Case{"text.wav", false}, Case{"missing.wav", false}}) {
        messages.clear();
        const LogSweepResults* before = logWindow().results();
        dialog.answers.push_back(path(c.file));
        trigger("MenuEntryOpenImpulse");
        if (!c.opens) {
            // Said, and nothing changes.
            ASSERT_EQ(messages.size(), 1u) << c.file;
            EXPECT_EQ(messages[0].text.rfind("Error loading file '" + path(c.file) + "' : ", 0), 0u)
                << messages[0].text;
            EXPECT_EQ(logWindow().results(), before);
            continue;
        }
        EXPECT_TRUE(messages.empty()) << messages[0].text;
        ASSERT_NE(logWindow().results(), nullptr);
        EXPECT_EQ(logWindow().results()->rate, 48000);
        EXPECT_TRUE(logWindow().results()->distortion.empty());
        // The Room tab: broadband first, then the octaves; T30 near 0.5 s.
        QTableWidget& table = logWindow().roomPage().table();
        ASSERT_EQ(table.rowCount(), 9);
        EXPECT_EQ(table.item(0, 0)->text(), QStringLiteral("Broadband"));
        EXPECT_NEAR(QLocale().toDouble(table.item(0, 3)->text()), 0.5, 0.03) << table.item(0, 3)->text().toStdString();
        EXPECT_NE(logWindow().roomPage().selectedBand(), nullptr);
        // Its FRD names the file, not a sweep.
        dialog.filter = 1;
        dialog.answers.push_back(path("room.frd"));
        control<QPushButton>("cmdLogSave")->click();
        EXPECT_TRUE(readAll(path("room.frd")).startsWith("* Audimera impulse response from 'room.wav' at 48000 Hz"));
    }
}

TEST_F(LogSweepWindow, AddPutsTheCurveIntoTheResponsePlotUpToEightTraces)
{
    start();
    open();
    measure();
    const std::size_t points = logWindow().results()->response.size();
    for (int i = 1; i <= 8; ++i) {
        control<QPushButton>("cmdLogAdd")->click();
        ASSERT_EQ(window->responseWindow().store().GetTraceCount(), i);
    }
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(window->responseWindow().store().pointCount(7), static_cast<int>(points));
    EXPECT_TRUE(button("cmdClearTraces")->isEnabled());
    EXPECT_TRUE(action("MenuEntrySave")->isEnabled());
    // The phase goes with the points, so Export Trace writes it.
    EXPECT_EQ(window->document().lastResponse().front().phase.has_value(), true);

    control<QPushButton>("cmdLogAdd")->click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, std::string(TraceStore::TooManyTracesMessage));
    EXPECT_EQ(messages[0].icon, MessageIcon::Critical);
    EXPECT_EQ(window->responseWindow().store().GetTraceCount(), 8);
}

TEST_F(LogSweepWindow, TheMeasurementListShowsOverlaysEditsAveragesAndAligns)
{
    start();
    open();
    measure();
    std::string error;
    card->setChain(*SoundChain::parse("gain=-3,delay=1", error));
    measure();
    auto* table = control<QTableWidget>("TableMeasurements");
    MeasurementList& list = window->session().measurements();
    ASSERT_EQ(table->rowCount(), 2);
    const int first = list.items()[0].id, second = list.items()[1].id;
    // The new one is selected; selecting the other shows it.
    EXPECT_EQ(table->currentRow(), 1);
    table->setCurrentCell(0, 0);
    EXPECT_EQ(window->session().lastLogSweep()->measurement, first);

    // Two ticks: their magnitudes at 1 kHz in the first two trace colours.
    using Panel = MeasurementListPanel;
    std::vector<ResponsePoint> both;
    std::vector<double> at1k;
    for (const int row : {0, 1}) {
        table->item(row, Panel::ColName)->setCheckState(Qt::Checked);
        const std::vector<ResponsePoint> r =
            window->session().analyseMeasurement(list.items()[row].id, logWindow().settings())->response;
        both.insert(both.end(), r.begin(), r.end());
        at1k.push_back(std::lower_bound(r.begin(), r.end(), 1000.0,
                                        [](const ResponsePoint& p, double f) { return p.frequency < f; })->level);
    }
    const DrawingSurface& surface = logWindow().view(0).surface();
    const int px = static_cast<int>(surface.toPixelX(static_cast<float>(100 * Log10(1000) - ResponsePlot::leftX())));
    for (int c = 0; c < 2; ++c) {
        const double y = (LogSweepPlots::levelAxis(both).top - at1k[c]) * 100;
        const int py = static_cast<int>(surface.toPixelY(static_cast<float>(y)));
        bool drawn = false;
        for (int dy = -1; dy <= 1; ++dy)
            drawn = drawn || surface.pixelColor(px, py + dy) == TraceStore::traceColor(c);
        EXPECT_TRUE(drawn) << c;
    }
    // Both as traces, named as in the list.
    control<QPushButton>("cmdMeasAdd")->click();
    EXPECT_EQ(window->document().traceNames(),
              (std::vector<std::string>{list.items()[0].data.name, list.items()[1].data.name}));

    // Rename and note in place; delete of the selected one, and undo.
    table->item(0, Panel::ColName)->setText(QStringLiteral("Left"));
    table->item(0, Panel::ColNote)->setText(QStringLiteral("near the wall"));
    EXPECT_EQ(list.find(first)->data.name, "Left");
    EXPECT_EQ(list.find(first)->data.note, "near the wall");
    for (const int row : {0, 1})
        table->item(row, Panel::ColName)->setCheckState(Qt::Unchecked);
    control<QPushButton>("cmdMeasDelete")->click();
    EXPECT_EQ(table->rowCount(), 1);
    control<QPushButton>("cmdMeasUndo")->click();
    ASSERT_EQ(table->rowCount(), 2);
    EXPECT_EQ(table->item(0, Panel::ColName)->text(), QStringLiteral("Left"));

    // The average of both is added, selected and shown.
    for (const int row : {0, 1})
        table->item(row, Panel::ColName)->setCheckState(Qt::Checked);
    control<QPushButton>("cmdMeasAverage")->click();
    ASSERT_EQ(table->rowCount(), 3);
    EXPECT_EQ(table->item(2, Panel::ColName)->text(), QStringLiteral("Average of 2 (rms)"));
    EXPECT_EQ(window->session().lastLogSweep()->measurement, list.items()[2].id);
    // A vector average of the two untimed sweeps, not aligned first, says so.
    control<QComboBox>("ComboMeasAverageMode")->setCurrentIndex(2);
    control<QCheckBox>("CheckMeasAlignFirst")->setChecked(false);
    for (const int row : {0, 1})
        table->item(row, Panel::ColName)->setCheckState(Qt::Checked);
    control<QPushButton>("cmdMeasAverage")->click();
    ASSERT_EQ(table->rowCount(), 4);
    EXPECT_TRUE(control<QLabel>("LabelMeasStatus")->text().startsWith(QStringLiteral("Averaged, though")));

    // Aligned to the first, the second moves 1 ms earlier; swept without a
    // loopback reference, its delay is marked untimed, and so is the shift.
    table->setCurrentCell(0, 0);
    EXPECT_TRUE(table->item(1, Panel::ColAfter)->text().endsWith(QStringLiteral(" m (untimed)")));
    EXPECT_TRUE(control<QLabel>("LabelMeasDelays")->text().contains(QStringLiteral("without a loopback reference")));
    control<QPushButton>("cmdMeasAlign")->click();
    EXPECT_NEAR(list.find(second)->data.alignMs, -1.0, 0.05);
    EXPECT_TRUE(control<QLabel>("LabelMeasStatus")->text().startsWith(QStringLiteral("Aligned, though")));
    EXPECT_FALSE(table->item(1, Panel::ColAlign)->text().isEmpty());

    // A ninth tick is refused, and says why.
    for (int i = 0; i < 6; ++i)
        list.add(list.items()[0].data);
    logWindow().measurementList().refresh();
    for (int row = 2; row < 9; ++row)
        table->item(row, Panel::ColName)->setCheckState(Qt::Checked);
    EXPECT_EQ(logWindow().measurementList().tickedIds().size(), 8u);
    EXPECT_EQ(table->item(8, Panel::ColName)->checkState(), Qt::Unchecked);
    EXPECT_EQ(control<QLabel>("LabelMeasStatus")->text(), QString::fromLatin1(Panel::TooManyOverlays));
    EXPECT_TRUE(messages.empty()) << messages[0].text;
}

TEST_F(LogSweepWindow, SaveWritesTheFormatOfTheChosenFilter)
{
    start();
    open();
    measure();
    struct Case {
        int filter;
        const char* file;
        QByteArray begins;
    };
    for (const Case& c : {Case{0, "curve.txt", "100,"}, Case{1, "curve.frd", "* Audimera log sweep"},
                          Case{2, "distortion.csv", "frequency_hz,h2_db,h3_db,h4_db,h5_db,thd_percent"},
                          Case{3, "impulse.wav", "RIFF"}}) {
        dialog.filter = c.filter;
        dialog.answers.push_back(path(c.file));
        control<QPushButton>("cmdLogSave")->click();
        EXPECT_TRUE(readAll(path(c.file)).startsWith(c.begins)) << c.file;
    }
    // The window's FRD header is the command's, line for line, for the same sweep on the same card.
    std::ostringstream out, err;
    ASSERT_EQ(MeasureCommand::run({"logsweep", "--simulate", "", "--length", "32768", "--range", "100", "10000",
                                   "--frd", path("command.frd")}, out, err), MeasureCommand::Measured) << err.str();
    const auto header = [&](const char* file) {
        QList<QByteArray> comments;
        for (const QByteArray& line : readAll(path(file)).split('\n'))
            if (line.startsWith('*'))
                comments.push_back(line);
        return comments;
    };
    EXPECT_EQ(header("curve.frd").size(), 5);
    EXPECT_EQ(header("curve.frd"), header("command.frd"));
    ASSERT_EQ(dialog.requests.size(), 4u);
    const FileDialogRequest& r = dialog.requests[0];
    EXPECT_TRUE(r.save);
    EXPECT_EQ(r.flags, FileDialogRequest::SaveFlags);
    EXPECT_EQ(r.filter, FormLogSweep::SaveFilters[0]);
    EXPECT_EQ(r.moreFilters.size(), 3u);
    EXPECT_EQ(readAll(path("impulse.wav")).mid(8, 4), QByteArray("WAVE"));
    EXPECT_TRUE(messages.empty());

    // A read-only file is refused with the documented message and kept whole.
    const std::string locked = path("locked.txt");
    {
        QFile file(QString::fromStdString(locked));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("old");
    }
    QFile::setPermissions(QString::fromStdString(locked), QFile::ReadOwner);
    dialog.filter = 3;
    dialog.answers.push_back(locked);
    control<QPushButton>("cmdLogSave")->click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Error saving file '" + locked + "' : " + CurveFile::ReadOnlyError);
    EXPECT_EQ(readAll(locked), QByteArray("old"));

    // Cancelling writes nothing and says nothing.
    control<QPushButton>("cmdLogSave")->click();
    EXPECT_EQ(messages.size(), 1u);
}

TEST_F(LogSweepWindow, StopOrClosingInMidSweepReturnsToIdleAndTheMainWindowIsLockedMeanwhile)
{
    for (const bool byClosing : {false, true}) {
        SCOPED_TRACE(byClosing ? "closing the window" : "Stop");
        start();
        card->setWaitsPerBlock(40);
        open();
        int waits = 0;
        bool lockedMeanwhile = false;
        QString caption;
        duringRun([&] {
            if (++waits < 5)
                return false;
            caption = measureButton()->text();
            lockedMeanwhile = !button("cmdStart")->isEnabled() && !button("cmdStartSignal")->isEnabled() &&
                              !find<QMenu>("MenuOutDevice")->menuAction()->isEnabled() &&
                              !find<QMenu>("MenuInDevice")->menuAction()->isEnabled() &&
                              !control<QWidget>("TableMeasurements")->isEnabled() &&
                              control<QProgressBar>("ProgressLogSweep")->format().endsWith(QStringLiteral(" s left"));
            if (byClosing)
                logWindow().close();
            else
                measureButton()->click();
            return true;
        });
        measureButton()->click();
        stopDuringRun();
        EXPECT_EQ(caption, QStringLiteral("Stop"));
        EXPECT_TRUE(lockedMeanwhile);
        EXPECT_EQ(logWindow().isVisible(), !byClosing);
        EXPECT_FALSE(logWindow().isMeasuring());
        EXPECT_EQ(logWindow().results(), nullptr);
        EXPECT_TRUE(messages.empty());
        EXPECT_EQ(measureButton()->text(), QStringLiteral("Measure"));
        EXPECT_TRUE(button("cmdStart")->isEnabled());
        EXPECT_TRUE(button("cmdStartSignal")->isEnabled());
        EXPECT_TRUE(find<QMenu>("MenuOutDevice")->menuAction()->isEnabled());
        EXPECT_EQ(control<QProgressBar>("ProgressLogSweep")->value(), 0);
        window->Form_Unload();
        window.reset();
    }
}

TEST_F(LogSweepWindow, MeasureIsOffWhileTheSweepOrTheSignalRuns)
{
    start();
    open();
    card->setWaitsPerBlock(3);
    bool offDuringSweep = false;
    bool refusedDuringSweep = false;
    duringRun([&] {
        if (!window->session().sweeping())
            return false;
        QCoreApplication::processEvents();
        offDuringSweep = !measureButton()->isEnabled();
        logWindow().cmdLogMeasure_Click(); // the session refuses, whatever the button shows
        refusedDuringSweep = !logWindow().isMeasuring() && !window->session().logSweeping();
        return true;
    });
    sweep("1000", "1100", 200);
    stopDuringRun();
    EXPECT_TRUE(offDuringSweep);
    EXPECT_TRUE(refusedDuringSweep);
    QCoreApplication::processEvents();
    EXPECT_TRUE(measureButton()->isEnabled());

    bool offDuringSignal = false;
    duringRun([&] {
        if (!window->session().playing())
            return false;
        QCoreApplication::processEvents();
        offDuringSignal = !measureButton()->isEnabled();
        click("cmdStartSignal"); // stops it
        return true;
    });
    click("cmdStartSignal");
    stopDuringRun();
    EXPECT_TRUE(offDuringSignal);
    QCoreApplication::processEvents();
    EXPECT_TRUE(measureButton()->isEnabled());
    EXPECT_EQ(logWindow().results(), nullptr);
}

TEST_F(LogSweepWindow, FailuresShowTheirMessageAndLeaveTheWindowIdle)
{
    start();
    open();
    // Refused settings: an exclamation, no run.
    control<QDoubleSpinBox>("SpinLogStart")->setValue(5000);
    control<QDoubleSpinBox>("SpinLogStop")->setValue(1000);
    measureButton()->click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].icon, MessageIcon::Exclamation);
    control<QDoubleSpinBox>("SpinLogStart")->setValue(100);
    control<QDoubleSpinBox>("SpinLogStop")->setValue(10000);

    // A device that loses samples: critical.
    card->loseSamplesAt(1000);
    measureButton()->click();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].text, SoundDevice::LostSamplesError);
    EXPECT_EQ(messages[1].icon, MessageIcon::Critical);

    // Nothing comes back: a warning.
    std::string error;
    card->setChain(*SoundChain::parse("silence", error));
    measureButton()->click();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[2].text, LogSweepMeasurement::NoSignalMessage);
    EXPECT_EQ(messages[2].icon, MessageIcon::Exclamation);

    EXPECT_EQ(logWindow().results(), nullptr);
    EXPECT_FALSE(window->session().logSweeping());
    EXPECT_EQ(measureButton()->text(), QStringLiteral("Measure"));
    EXPECT_TRUE(measureButton()->isEnabled());
    EXPECT_TRUE(button("cmdStart")->isEnabled());
}

TEST_F(LogSweepWindow, SmoothingAndGateAnalyseTheLastRecordingAgain)
{
    auto counting = std::make_unique<DuplexCountingCard>();
    DuplexCountingCard& counted = *counting;
    start(std::move(counting));
    std::string error;
    card->setChain(*SoundChain::parse("lowpass2=1000,noise=-40", error));
    open();
    measure();
    EXPECT_EQ(counted.runs, 1);
    const std::vector<ResponsePoint> raw = logWindow().results()->response;
    auto* smooth = control<QComboBox>("ComboLogSmooth");
    smooth->setCurrentIndex(6); // 1/1 octave
    emit smooth->activated(6);
    const std::vector<ResponsePoint>& smoothed = logWindow().results()->response;
    ASSERT_EQ(smoothed.size(), raw.size());
    double largest = 0;
    for (std::size_t i = 0; i < raw.size(); ++i)
        largest = std::max(largest, std::abs(smoothed[i].level - raw[i].level));
    EXPECT_GT(largest, 0.5);

    auto* gate = control<QDoubleSpinBox>("SpinLogGate");
    const std::size_t ungated = logWindow().results()->impulse.size();
    gate->setValue(5);
    emit gate->editingFinished();
    const LogSweepResults& gated = *logWindow().results();
    // Flat to the gate, then the default taper of 20 % of it.
    EXPECT_EQ(gated.impulse.size() - gated.impulsePeak, static_cast<std::size_t>(std::lround(5 * 44.1) + std::lround(1 * 44.1)));
    EXPECT_LT(gated.impulse.size(), ungated);

    // The phase reference: Auto by default (before the low-pass's peak);
    // each choice analyses again and is shown on a line of the summary.
    using PhaseRef = LogSweepSettings::PhaseRef;
    auto* rule = control<QComboBox>("ComboPhaseRef");
    auto* delay = control<QDoubleSpinBox>("TextPhaseDelay");
    EXPECT_LT(logWindow().results()->phaseDelaySamples, logWindow().results()->delaySamples - 1);
    for (const auto& [index, applied] : {std::pair{1, PhaseRef::Peak}, std::pair{3, PhaseRef::Delay}}) {
        rule->setCurrentIndex(index);
        emit rule->activated(index);
        EXPECT_EQ(delay->isEnabled(), applied == PhaseRef::Delay);
        delay->setValue(2);
        emit delay->editingFinished();
        const LogSweepResults& r = *logWindow().results();
        EXPECT_EQ(r.phaseRef, applied);
        EXPECT_NEAR(r.phaseDelaySamples, applied == PhaseRef::Delay ? 88.2 : r.delaySamples, 1e-9);
        EXPECT_TRUE(control<QLabel>("LabelLogSummary")->text().contains(QStringLiteral("\nPhase reference: ")));
    }
    EXPECT_EQ(counted.runs, 1); // nothing played again
    EXPECT_TRUE(messages.empty());
}

TEST_F(LogSweepWindow, ReturnStartsAMeasurement)
{
    start();
    open();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(&logWindow(), &press);
    EXPECT_NE(logWindow().results(), nullptr);
}

TEST_F(LogSweepWindow, ExitDuringALogSweepStopsItBeforeTheDevicesClose)
{
    start();
    card->setWaitsPerBlock(40);
    open();
    int waits = 0;
    duringRun([&] {
        if (++waits < 3)
            return false;
        trigger("MenuEntryExit");
        return true;
    });
    measureButton()->click();
    stopDuringRun();
    EXPECT_TRUE(window->isShutDown());
    EXPECT_EQ(logWindow().results(), nullptr);
    EXPECT_TRUE(messages.empty());
    ASSERT_FALSE(card->log.empty());
    EXPECT_EQ(card->log.back(), "closeAudio");
}

TEST_F(LogSweepWindow, SettingsAndCorrectionsFollowTheRules)
{
    start();
    open();
    control<QDoubleSpinBox>("SpinLogStart")->setValue(50);
    control<QComboBox>("ComboLogSmooth")->setCurrentIndex(5); // 1/3 octave
    control<QComboBox>("ComboLogReference")->setCurrentIndex(2);
    EXPECT_EQ(logWindow().settings().smoothing, 3);
    EXPECT_EQ(logWindow().settings().reference, LogSweepSettings::Reference::Right);
    EXPECT_EQ(control<QDoubleSpinBox>("SpinLogGate")->text(), QStringLiteral("Auto"));

    // A correction file that cannot be read unticks its box with the message.
    control<QLineEdit>("txtLogUserCalibFile")->setText(QString::fromStdString(path("missing.txt")));
    control<QCheckBox>("CheckLogUserCalib")->click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].icon, MessageIcon::Critical);
    EXPECT_FALSE(control<QCheckBox>("CheckLogUserCalib")->isChecked());
    EXPECT_FALSE(logWindow().settings().corrections->enabled[2]);
    // ... and a good one is subtracted from the next measurement.
    {
        QFile file(m_dir.filePath(QStringLiteral("calib.txt")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("10,3\r\n24000,3\r\n");
    }
    control<QLineEdit>("txtLogUserCalibFile")->setText(m_dir.filePath(QStringLiteral("calib.txt")));
    control<QCheckBox>("CheckLogUserCalib")->click();
    EXPECT_TRUE(logWindow().settings().corrections->enabled[2]);
    control<QComboBox>("ComboLogReference")->setCurrentIndex(0);
    measure();
    EXPECT_NEAR(logWindow().results()->response[10].level, -3, 0.1);

    // Kept for the next session when the window closes.
    logWindow().close();
    window->Form_Unload();
    window.reset();
    messages.clear();
    start();
    EXPECT_EQ(control<QDoubleSpinBox>("SpinLogStart")->value(), 50);
    EXPECT_EQ(control<QComboBox>("ComboLogSmooth")->currentIndex(), 5);
    EXPECT_EQ(control<QLineEdit>("txtLogUserCalibFile")->text(), m_dir.filePath(QStringLiteral("calib.txt")));
}

} // namespace audimera
