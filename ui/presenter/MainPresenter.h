// The main window's presenter: the documented handlers of its controls and
// what they show. Each handler reads the controls it needs through the Panel
// (by their names in the one table of them), turns them into typed settings
// and gives the measurement session a command; as the session's observer it
// answers with what the controls say now, shows what the runs report
// (labels, the plot) and restores the controls when a run ends itself. The
// documented enable and disable rules, captions and messages live here.
//
// UI thread only. Long operations (RunTrace, RunSignal) return once the run
// ends; handlers of the controls that stay enabled run inside the host's
// yields meanwhile and may stop the run.
#pragma once

#include "engine/Displays.h"
#include "engine/FileDialog.h"
#include "engine/MeasurementSession.h"
#include "ui/presenter/Panel.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace audimera {

class MainPresenter : private SessionObserver {
public:
    // Plans of the sweep (GenIndex during a sweep).
    enum Plan {
        PlanRange = FrequencyPlan::RangePlan,
        PlanIso15 = FrequencyPlan::Bands15Plan,
        PlanIso31 = FrequencyPlan::Bands31Plan,
        PlanUserFile = FrequencyPlan::UserFilePlan,
    };
    // Signals of the continuous generator (GenIndex while it plays).
    enum Signal {
        SignalSine = SignalChoice::Sine,
        SignalSquare = SignalChoice::Square,
        SignalTriangle = SignalChoice::Triangle,
        SignalPink = SignalChoice::PinkNoise,
        SignalWhite = SignalChoice::WhiteNoise,
        SignalSilence = SignalChoice::Silence,
    };
    using RunEnd = audimera::RunEnd;

    static constexpr const char* LowSignalQuestion = MeasuringRun::LowSignalQuestion;
    static constexpr const char* SplCurveFile = CorrectionTable::SplCurveFile;
    static constexpr const char* SoundCardFile = CorrectionTable::SoundCardFile;
    static constexpr const char* TooManyTraces = TraceStore::TooManyTracesMessage.data();
    static constexpr int MaxTracePoints = TraceStore::MaxPoints;

    // All references must outlive the presenter, which becomes the
    // session's observer.
    MainPresenter(Panel& panel, MeasurementSession& session, Displays& displays);
    ~MainPresenter() override;
    MainPresenter(const MainPresenter&) = delete;
    MainPresenter& operator=(const MainPresenter&) = delete;

    MeasurementSession& session() { return m_session; }
    MeasurementDocument& document() { return m_document; }

    // How the last sweep or signal ended, for callers that report it.
    RunEnd lastRunEnd() const { return m_runEnd; }

    // The "Level Detection" choice as the Settings menu ticks it now; a run
    // reads it once, when it starts.
    LevelDetector levelDetectorChoice() const;
    // The "Record Channel" choice as the Settings menu ticks it now
    // (MenuEntryRecordChannel 0 Mix, 1 Left, 2 Right); read when a sweep
    // starts.
    RecordChannel recordChannelChoice() const;

    // --- The sweep.
    void cmdStart_Click();
    void RunTrace();
    void cmdStop_Click();
    void cmdCalibrate_Click();
    void LockControls();
    void UnlockControls();
    void OptionAutoSigGen_Click(int Index);
    void HScrollStep_Change();
    void HScrollStep_Scroll() { HScrollStep_Change(); }

    // --- The continuous signal.
    void cmdStartSignal_Click();
    void RunSignal();
    void ApplySignal() { m_session.applySignal(); }
    void SetFreqFromScrolls();
    void OptionSigGen_Click(int Index);
    void CheckBy5_Click();
    void HScrollFFT_Change() { SetFreqFromScrolls(); }
    void HScrollFFT_Scroll() { SetFreqFromScrolls(); }
    void HScrollFine_Change() { SetFreqFromScrolls(); }
    void HScrollFine_Scroll() { SetFreqFromScrolls(); }

    // --- Corrections: the three correction boxes load their curve into the
    // document's table and switch its subtraction on; failures switch them off.
    bool LoadCalibFile(const std::string& FileName, int CalibIndex);
    void CheckSPLCorrect_Click();
    void CheckSoundCard_Click();
    void CheckUserCalib_Click();

    // --- Curve files and the other file commands. The dialog must be set
    // before any of the *_Click commands below runs.
    void setFileDialog(FileDialog* dialog) { m_dialog = dialog; }
    void LoadFile(const std::string& FileName);
    void SaveFile(const std::string& FileName, const double* X, const double* Y, int n);
    void MenuEntryLoadTrace_Click();
    // Writes the newest trace as a curve file, or as FRD or CSV when the
    // name is typed with their extension (FileTypes::saveTypeOf).
    void MenuEntrySave_Click();
    // Writes the newest trace as FRD (phase 0 where none was measured), CSV
    // or a curve file, as the typed extension or else the filter entry says.
    void MenuEntryExportTrace_Click();
    // The Load Trace dialog's entry besides the documented one, and the
    // Export Trace dialog's two first entries (Save Last Trace's after its own).
    static const char* const CurveFilesFilter;
    static const char* const FrdFilter;
    static const char* const CsvFilter;
    void cmdFreqBrowse_Click();
    void cmdCalibBrowse_Click();
    void cmdClearTraces_Click();

    // --- Display lists, given the selected item's data: the smoothing
    // order and the dB span. Both redraw the plot at once when no sweep runs.
    void ComboSmooth_Click(int itemData);
    void ComboDBRange_Click(int itemData);
    // The response window's context menu: the range that shows every trace
    // (PlotRange::fitted), the list showing its span; redraws when no sweep
    // runs.
    void FitRangeToTraces();

    // --- Output level and balance, applied to the play device at once.
    void ApplyVolume();
    void ApplyPan(int& Value);
    void HScrollVolume_Change() { ApplyVolume(); }
    void HScrollVolume_Scroll() { ApplyVolume(); }
    void HScrollPan_Change();
    void HScrollPan_Scroll() { HScrollPan_Change(); }

    // --- The log sweep, measured in its own window through the session:
    // while it runs the main window's sweep and signal buttons and the
    // device menus are off (the session tells activityChanged()).
    // Told after a measurement of any kind started or ended (a sweep or the
    // signal may set its flag only just after: read the state later, e.g.
    // at the next turn of the event loop).
    void setActivityListener(std::function<void()> listener) { m_activityListener = std::move(listener); }
    // Adds points (ascending frequencies) as a new trace of the response
    // plot named "Log sweep", as a loaded curve is added: at most
    // MaxTracePoints of them (evenly thinned, first and last kept), the
    // documented message when 8 traces are shown. Refused (false) while a
    // sweep adds to the newest trace.
    // name: the trace's name in the legend and the Traces panel (the
    // shown measurement's, "Log sweep" by default).
    bool addResponseTrace(const std::vector<ResponsePoint>& points, const std::string& name = "Log sweep");
    // The responses of the session's measurements ids (analysed with
    // settings) as traces named after them, as addResponseTrace adds one;
    // a failure is shown and ends the adding.
    bool addMeasurementTraces(const std::vector<int>& ids, const LogSweepSettings& settings);

private:
    // After traces were added outside a sweep: the buttons that need one, and the plot.
    void tracesAdded();
    // After a trace is loaded or added: says on the status line when it
    // lies wholly outside the shown range, and how far.
    void notePlotRange();
    bool m_rangeNoted = false; // the status line shows that note

    // --- What the runs ask and report (RunObserver).
    bool measuresBadBlocksAgain() const override;
    bool showsWaveform() const override;
    bool showsSpectrum() const override;
    double stepFactor() const override;
    SignalChoice signalChoice() override;
    audimera::Status openTrace() override;
    void playing(Sound sound, double frequency) override;
    void sweepProgress(int point, int points) override;
    void calibrationMeasured(double snr) override;
    void pointMeasured(double frequency, double level, double snr) override;
    void levelMeasured(double level, double snr) override;
    void distortionMeasured(double frequency, const Distortion& distortion) override;
    void DrawCurve(int OsciWidth, int OsciHeight, const int16_t* RecBuffer, int First, bool CheckSat,
                   int Off) override;
    void TraceFFT(const int16_t* FFTIn, float* FFTOUT, bool Satured) override;
    void runEnded(RunEnd why) override;
    void inputNoted(const std::string& note) override;
    void activityChanged() override;

    // The controls as cmdStop_Click leaves them once the run has stopped.
    void restoreControls();
    // Reads TextFFT into Frequency, limited to 1..20000 (the box is rewritten
    // when outside). Text that is not a number is reported and the previous
    // frequency kept.
    void readSignalFrequency();
    // A number from a text box; reports text that is not a number (naming
    // what the box holds) and returns false.
    bool readNumber(std::string_view box, std::string_view what, double& value);
    int selectedIndex(std::string_view array, int count, int fallback) const;
    void setLevelLabel(std::string_view label, double value, std::string_view unit);
    // The frequency that the scroll bars and the "x20" box stand for.
    double frequencyFromScrolls() const;
    void correctionClicked(int index, std::string_view box, const std::string& file);
    using TraceFormat = MeasurementSession::TraceFormat;
    void writeLastTrace(const std::string& path, TraceFormat format);
    // "LabelSensitivity": the sensitivity factor of the ticked correction
    // file that states one (the user's file first), or empty.
    void showSensitivity();

    Panel& m_panel;
    MeasurementSession& m_session;
    Host& m_host;
    SoundDevice& m_sound;
    Displays& m_displays;
    MeasurementDocument& m_document;
    FileDialog* m_dialog = nullptr;
    bool m_lockedByLogSweep = false; // the controls a log sweep (or the analyser) turns off are off
    std::string m_status; // the progress line, reserved once
    std::string m_inputNote; // added to the progress line: which input carries the sound
    std::string m_distortionText; // the THD read-out, reserved once
    RunEnd m_runEnd = RunEnd::None;
    std::function<void()> m_activityListener;
    void tellActivity()
    {
        if (m_activityListener)
            m_activityListener();
    }
};

} // namespace audimera
