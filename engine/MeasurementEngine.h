// The measurement state and behaviour of the main window: the sweep, the
// analysis of each recorded block, and the continuous signal generator.
//
// The engine is plain sequential code on the UI thread. It reaches the
// controls, the host, the sound card and the plot windows only through the
// ports given to its constructor. Long operations (RunTrace, RunSignal) yield
// to the event queue at fixed points; handlers of the controls that stay
// enabled run inside those yields and may stop the run, which notices it at
// its next check of Running or Playing.
#pragma once

#include "Displays.h"
#include "FileDialog.h"
#include "FrequencyPlan.h"
#include "Host.h"
#include "Panel.h"
#include "SignalSynthesis.h"
#include "SoundDevice.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class MeasurementEngine {
public:
    static constexpr int ToneSamples = 25001;   // indices 0..25000, the first 25000 played
    static constexpr int RecordSamples = 30001; // indices 0..30000, 0..29999 recorded
    static constexpr int CorrectionCount = 3;
    static constexpr int CorrectionSlots = 48001; // 2 x frequency in Hz, rounded

    // Plans of the sweep (GenIndex during a sweep).
    enum Plan { PlanRange = 0, PlanIso15 = 1, PlanIso31 = 2, PlanUserFile = 3 };
    // Signals of the continuous generator (GenIndex while it plays).
    enum Signal { SignalSine = 0, SignalSquare, SignalTriangle, SignalPink, SignalWhite, SignalSilence };

    MeasurementEngine(Panel& panel, Host& host, SoundDevice& sound, Displays& displays);
    MeasurementEngine(const MeasurementEngine&) = delete;
    MeasurementEngine& operator=(const MeasurementEngine&) = delete;

    // --- State kept between runs for as long as the program runs.
    int32_t Smooth = 1;
    bool Running = false;
    bool Playing = false;
    double Frequency = 0;
    double Calib = 0;
    double Noise = 0;
    double SNR = 0;
    double StepFactor = 1.26;
    double LastFreq = 0;
    double StartFreq = 0;
    int32_t StopFreq = 0;
    int32_t GenIndex = 0;

    // --- Sample tables, allocated once.
    std::vector<int16_t> ToneBuffer;
    std::vector<int16_t> WhiteNoiseBuffer;
    std::vector<int16_t> PinkNoiseBuffer;
    std::vector<int16_t> RecBuffer;
    std::vector<int16_t> FFTIn;
    std::vector<float> FFTOUT;

    // --- Corrections: CalibCurve(i, k), k = 2 x frequency rounded; correction
    // i applies when CalibEnable[i].
    std::vector<double> CalibCurve;
    std::array<bool, CorrectionCount> CalibEnable{};
    double& CalibCurveAt(int i, int k) { return CalibCurve[static_cast<size_t>(i) * CorrectionSlots + k]; }
    double CalibCurveAt(int i, int k) const { return CalibCurve[static_cast<size_t>(i) * CorrectionSlots + k]; }

    // --- Results of the last AnalyseBlock.
    int32_t SampleStart = 0;
    int32_t PeakLevel = 0;
    double MeanLevel = 0;
    int32_t MaxStep = 0;
    bool Satured = false;

    // How the last sweep or signal ended, for callers that report it.
    enum class RunEnd {
        None,              // nothing ran yet
        Completed,         // the plan's last point was measured
        Stopped,           // stopped by cmdStop_Click from outside the run
        Refused,           // bad frequencies: the run did not start
        PlanFailed,        // the frequency list could not be read
        TraceRefused,      // no room for another trace
        LowSignalDeclined, // the low-signal question was answered No
        DeviceFailed,      // the sound device failed
    };
    RunEnd lastRunEnd() const { return m_runEnd; }

    // The frequency plan of list sweeps.
    FrequencyPlan& plan() { return m_plan; }

    // --- The sweep.
    void cmdStart_Click();
    void RunTrace();
    void cmdStop_Click();
    void cmdCalibrate_Click();
    void LockControls();
    void UnlockControls();
    void OptionAutoSigGen_Click(int Index);
    void HScrollStep_Change();
    void HScrollStep_Scroll();
    bool ResetGenerator();
    double GetNextGeneratorFreq();

    // --- Block analysis.
    void AnalyseBlock(bool tonePass);
    // 20 Log10(PeakLevel / Noise).
    double signalToNoise() const;
    // 20 Log10(MeanLevel / Calib) minus the active corrections at Frequency.
    double correctedLevel() const;

    // --- The continuous signal.
    void cmdStartSignal_Click();
    void RunSignal();
    void ApplySignal();
    void SetFreqFromScrolls();
    void OptionSigGen_Click(int Index);
    void CheckBy5_Click();
    void HScrollFFT_Change() { SetFreqFromScrolls(); }
    void HScrollFFT_Scroll() { SetFreqFromScrolls(); }
    void HScrollFine_Change() { SetFreqFromScrolls(); }
    void HScrollFine_Scroll() { SetFreqFromScrolls(); }

    // --- Corrections: the three correction boxes load their curve into
    // CalibCurve and switch its subtraction on; failures switch them off.
    static constexpr const char* SplCurveFile = "SPL C Curve.txt";
    static constexpr const char* SoundCardFile = "SoundCard.txt";
    bool LoadCalibFile(const std::string& FileName, int CalibIndex);
    void Interpolate(int Index);
    void CheckSPLCorrect_Click();
    void CheckSoundCard_Click();
    void CheckUserCalib_Click();

    // --- Curve files and the other file commands. The dialog must be set
    // before any of the *_Click commands below runs.
    void setFileDialog(FileDialog* dialog) { m_dialog = dialog; }
    static constexpr const char* TooManyTraces =
        "You can't trace more than 8 curves, click on 'Clear' to erase current curves.";
    static constexpr int MaxTracePoints = 22051;
    void LoadFile(const std::string& FileName);
    void SaveFile(const std::string& FileName, const double* X, const double* Y, int n);
    void MenuEntryLoadTrace_Click();
    void MenuEntrySave_Click();
    void cmdFreqBrowse_Click();
    void cmdCalibBrowse_Click();
    void cmdClearTraces_Click();

    // --- Display choices: Smooth from the smoothing list's item data; both
    // lists redraw the plot at once when no sweep runs.
    void ComboSmooth_Click(int itemData);
    void ComboDBRange_Click();

    // --- Output level and balance, applied to the play device at once.
    void ApplyVolume();
    void ApplyPan(int& Value);
    void HScrollVolume_Change() { ApplyVolume(); }
    void HScrollVolume_Scroll() { ApplyVolume(); }
    void HScrollPan_Change();
    void HScrollPan_Scroll() { HScrollPan_Change(); }

    // --- Start-up: fills the two noise tables through Audidsp's LowPass44.
    void InitWhitePinkBuffers();

    // Texts of the low-signal question and the frequency messages.
    static const char* const LowSignalQuestion;

private:
    class Waiter;

    // Records one block into RecBuffer while the run is wanted (Running for
    // the sweep, Playing for the signal). True when a whole block arrived;
    // false when the run was stopped meanwhile or the device failed (the run
    // has then been ended with a message).
    bool recordBlock(const bool& wanted);
    // PlayLoop that ends the run with a message when the device fails.
    bool playLoop(const int16_t* table, int rate);
    void deviceFailed(std::string_view what, const std::string& reason);

    // Reads TextFFT into Frequency, limited to 1..20000 (the box is rewritten
    // when outside). Text that is not a number is reported and the previous
    // frequency kept.
    void readSignalFrequency();
    // A number from a text box; reports text that is not a number (naming
    // what the box holds) and returns false.
    bool readNumber(std::string_view box, std::string_view what, double& value);
    int selectedIndex(std::string_view array, int count, int fallback) const;
    void setLevelLabel(std::string_view label, double value, std::string_view unit);
    int signalRateDivisor() const;
    // True while RunSignal's silence and white-noise passes run. The signal
    // controls then only record the user's choice: changing what plays would
    // spoil Noise or Calib. RunSignal applies the choice when they end.
    bool signalCalibrating() const;
    // The text of TextFFT that the scroll bars and the "x20" box stand for.
    double frequencyFromScrolls() const;

    Panel& m_panel;
    Host& m_host;
    SoundDevice& m_sound;
    Displays& m_displays;
    FrequencyPlan m_plan;
    // The progress line of a tone pass: point i of n for the list plans,
    // the place between start and stop for the range.
    void showProgress();

    FileDialog* m_dialog = nullptr;
    std::string m_status;
    int m_runPlan = 0; // the plan the running sweep captured at its start
    RunEnd m_runEnd = RunEnd::None;

    void correctionClicked(int index, std::string_view box, const std::string& file);

    // Ends the run through cmdStop_Click, noting why.
    void endRun(RunEnd why);
};
