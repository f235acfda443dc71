// The "Log Sweep" window: measures with one exponential sine sweep
// (LogSweepMeasurement) on the main window's devices, shows magnitude and
// phase, the impulse response and the harmonic distortion as tabs, adds the
// magnitude to the response plot and saves the results.
//
// Controls (objectName, each with a tool tip): SpinLogStart, SpinLogStop
// (Hz), ComboLogLength (2^15 .. 2^20 samples with their duration),
// SpinLogLevel (dB re full scale), ComboLogReference (none, left, right),
// SpinLogGate (ms, its lowest value "Auto": the analysis' own extent, up to
// the first harmonic response), ComboLogSmooth (none, 1/48 .. 1/1 octave),
// ComboPhaseRef (the phase reference: Auto, Peak, Reference, Delay) with
// TextPhaseDelay (ms, on with Delay),
// the three corrections CheckLogSPLCorrect, CheckLogSoundCard,
// CheckLogUserCalib with txtLogUserCalibFile and cmdLogCalibBrowse (the main
// window's files and rules, switched on and off apart from its boxes), cmdLogMeasure
// ("Measure", "Stop" while measuring; Return starts it), ProgressLogSweep
// (the seconds left), cmdLogOpen ("Open...": an impulse response file,
// analysed as a measurement) with SpinLogChannel (its channel, from 1), TabLogViews with ViewLogResponse, ViewLogImpulse,
// ViewLogDistortion, the Room tab (PageLogRoom, ui/RoomPage) and the
// time-frequency tabs (ui/TimeFrequencyPages): "Waterfall" (PageLogWaterfall:
// ViewLogWaterfall, SpinWaterfallStart, SpinWaterfallEnd, SpinWaterfallSlices,
// SpinWaterfallWindow, SpinWaterfallRise, ComboWaterfallSmooth,
// SpinWaterfallLow, SpinWaterfallHigh, SpinWaterfallRange), "Spectrogram"
// (PageLogSpectrogram: ViewLogSpectrogram, ComboSpectrogramWindow,
// SpinSpectrogramWindow, SpinSpectrogramOverlap, SpinSpectrogramCycles,
// SpinSpectrogramStart, SpinSpectrogramEnd, SpinSpectrogramRange), "Phase"
// (PageLogPhase: ViewLogPhase, ComboPhaseCurve) and "Group Delay"
// (PageLogGroupDelay: ViewLogGroupDelay, ComboGroupDelayCurve,
// CheckGroupDelayRemove), each page with its own ProgressLogAnalysis and
// cmdLogAnalysisCancel (shown while its analysis runs off the UI thread)
// and LabelLogAnalysisNote (why it shows nothing),
// LabelLogCursor (the read-out under the mouse),
// LabelLogSummary, cmdLogAdd ("Add to Frequency Response") and cmdLogSave
// ("Save..."). LabelLogPrevious (hidden at first) marks the results shown
// as the previous measurement's after a run that gave none. Below the tabs
// (SplitterLogMeasurements) the session's measurements
// (ui/MeasurementListPanel, PanelMeasurements, in ScrollLogMeasurements,
// which scrolls when squeezed): selecting one shows it here,
// ticking several overlays their magnitudes on ViewLogResponse in the
// response plot's trace colours; after a run or Open... the new one is
// selected.
//
// The measurement, its corrections and its results are the session's
// (MeasurementSession::runLogSweep, lastLogSweep): one measurement at a
// time, Measure starts only when the session can start one, Stop (and the
// main window's shut-down) stop the session, and it is off while the sweep
// or the signal runs. The run waits on the UI thread through the
// host's yields, like the stepped sweep. Changing the smoothing, the gate,
// the phase reference or a correction after a measurement analyses its
// recording again; the gate already while its value changes, at most once
// per GateAnalysisMs. Whatever changes the results hands the time-frequency
// tabs a copy of the new impulse response, which cancels their analyses
// and starts them again when their tab is shown. Messages are modal to
// this window (the host given is the window's own).
//
// Closing the window only hides it (and stops a measurement); its place,
// size and settings are kept in QSettings("Audimera", "Audimera") under
// SettingsGroup.
//
// UI thread only.
#pragma once

#include "display/windows/FormWindow.h"
#include "engine/CorrectionTable.h"
#include "engine/LogSweepMeasurement.h"

#include <functional>
#include <optional>
#include <string>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QSplitter;
class QTabWidget;
class QTimer;
class QToolButton;

namespace audimera {

class FileDialog;
class Host;
class LogSweepView;
class MeasurementListPanel;
class RoomPage;
class TimeFrequencyTabs;
class MainPresenter;
class MeasurementSession;

class FormLogSweep : public FormWindow {
    Q_OBJECT

public:
    static constexpr const char* SettingsGroup = "LogSweep";
    static constexpr const char* MeasureCaption = "Measure";
    static constexpr const char* StopCaption = "Stop";
    // SpinLogGate analyses at most once in this many ms while it changes.
    static constexpr int GateAnalysisMs = 100;
    // LabelLogPrevious's text, over the results of an earlier run.
    static constexpr const char* PreviousNote = "Previous measurement: the last run gave no result";
    // The save dialog's entries, in order: curve file, FRD, distortion
    // table, impulse response.
    static constexpr const char* SaveFilters[] = {"Response Curve (*.txt)", "FRD file (*.frd)",
                                                  "Distortion table (*.csv)", "Impulse response (*.wav)"};
    // ComboLogSmooth's item data, in item order: 1/N octave, 0 for none.
    static constexpr int SmoothingItems[] = {0, 48, 24, 12, 6, 3, 1};
    // Their texts, in the same order (the waterfall's list too).
    static constexpr const char* SmoothingTexts[] = {"None",       "1/48 octave", "1/24 octave", "1/12 octave",
                                                     "1/6 octave", "1/3 octave",  "1/1 octave"};

    // All references must outlive the window; the host shows its messages.
    FormLogSweep(MainPresenter& presenter, Host& host, FileDialog& dialog, QWidget* parent = nullptr);
    ~FormLogSweep() override;

    // Runs every handler of the window (the main window counts them, so a
    // shut-down waits for a measurement to return); by default they run
    // directly.
    using HandlerRunner = std::function<void(std::function<void()>)>;
    void setHandlerRunner(HandlerRunner runner) { m_runner = std::move(runner); }

    // --- Handlers.
    void cmdLogMeasure_Click(); // Measure, or Stop while measuring
    void cmdLogAdd_Click();
    void cmdLogSave_Click();
    void CheckLogCorrection_Click(int index);
    void cmdLogCalibBrowse_Click();
    // The correction boxes and the user file as the session's log sweep
    // table holds them (after a session was opened).
    void showSessionCorrections();
    // Open...: an impulse response file, its channel SpinLogChannel, shown as
    // a measurement (File > Open Impulse Response... too). A file that
    // cannot be opened is said and changes nothing.
    void cmdLogOpen_Click();
    void openImpulseResponse(const std::string& path);

    // The settings the controls state now (corrections: this window's table).
    LogSweepSettings settings() const;
    bool isMeasuring() const { return m_measuring; }
    // The results shown: the session's last log sweep; nullptr before one
    // gave a result.
    const LogSweepResults* results() const;
    // The settings they were measured (or last analysed) with.
    const LogSweepSettings& measured() const;
    // The views: 0 magnitude and phase, 1 impulse response, 2 distortion.
    LogSweepView& view(int index) const;
    RoomPage& roomPage() const { return *m_room; }
    MeasurementListPanel& measurementList() const { return *m_list; }
    TimeFrequencyTabs& timeFrequency() const { return *m_timeFrequency; }
    // The read-out for the mouse at user (x, y) of view index.
    QString readout(int index, double x, double y) const;
    // The lowest frequency the shown results' gate resolves (about 1/gate;
    // Auto: the analysed extent after the peak), in Hz; 0 without results.
    // The magnitude view marks it.
    double gateLimitHz() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    // Back in this window: the list as the session holds it now (a session
    // opened from the main window).
    void changeEvent(QEvent* event) override;

private:

    void buildControls();
    void run(std::function<void()> handler);
    // The Measure button, the set-up controls and the result buttons as the
    // state says now.
    void refreshState();
    void showProgress(double fraction, double seconds);
    void showResults();
    // Analyses the results' impulse response for the Room tab, with its bands.
    void showRoom();
    // After a run that gave no result, the results shown are the previous
    // run's: LabelLogPrevious says so and the summary and read-out are
    // dimmed, until a run succeeds.
    void markPrevious(bool previous);
    void reanalyse();
    void fillLengths();
    void saveSettings() const;
    void restoreSettings();

    MainPresenter& m_presenter;
    MeasurementSession& m_session;
    Host& m_host;
    FileDialog& m_dialog;
    HandlerRunner m_runner;

    bool m_measuring = false;

    QDoubleSpinBox* m_start = nullptr;
    QDoubleSpinBox* m_stop = nullptr;
    QComboBox* m_length = nullptr;
    QDoubleSpinBox* m_level = nullptr;
    QComboBox* m_reference = nullptr;
    QDoubleSpinBox* m_gate = nullptr;
    QComboBox* m_smooth = nullptr;
    QComboBox* m_phaseRef = nullptr;
    QDoubleSpinBox* m_phaseDelay = nullptr;
    QCheckBox* m_correct[CorrectionTable::Count] = {};
    QLineEdit* m_userFile = nullptr;
    QToolButton* m_browse = nullptr;
    QPushButton* m_measure = nullptr;
    QPushButton* m_open = nullptr;
    QSpinBox* m_channel = nullptr;
    QProgressBar* m_progress = nullptr;
    QTabWidget* m_tabs = nullptr;
    LogSweepView* m_views[3] = {};
    RoomPage* m_room = nullptr;
    TimeFrequencyTabs* m_timeFrequency = nullptr;
    QSplitter* m_splitter = nullptr;
    MeasurementListPanel* m_list = nullptr;
    QLabel* m_cursor = nullptr;
    QLabel* m_summary = nullptr;
    QLabel* m_previous = nullptr;
    QTimer* m_gateTimer = nullptr;
    QPushButton* m_add = nullptr;
    QPushButton* m_save = nullptr;
};

} // namespace audimera
