// The main window "Audimera": the controls of a measurement, the simple
// signal generator, the read-outs and the menus; the program's start-up
// (Form_Load) and shut-down (Form_Unload). Its controls are built from the
// ControlTable: names, captions, first states and tool tips come from there,
// the layout is this window's.
//
// It owns the measurement document (traces, plot settings, corrections),
// the measurement engine and the four other windows (waveform, response,
// FFT, help), which live until the program ends. The engine reaches the
// widgets through a QtPanel (by objectName), the event queue and message
// boxes through a QtHost, and the plots through the windows; the response
// window draws from the document.
//
// Devices: the Settings menus follow the sound system. A timer asks the
// device every DeviceWatchMs, between handlers only, whether devices came or
// went; the menus are then filled again, the tick stays on the device in use
// and a device in use that vanished is reported like a failed open. While
// the device waits for the server (connecting, listing, opening) it lets
// this window process its events; nothing that needs the device starts
// meanwhile (the device menus, Start Trace, Play Signal).
//
// Handlers: user actions only (clicked, valueChanged/sliderMoved,
// activated, triggered) reach the engine; the engine's own changes through
// the panel fire nothing. Every handler counts itself on the stack, so a
// shut-down requested inside a sweep or the signal (Exit, closing the
// window) stops the run first and finishes only after the run's handler
// has returned.
//
// UI thread only.
#pragma once

#include "ui/presenter/MainPresenter.h"
#include "ui/QtHost.h"
#include "ui/QtPanel.h"
#include "common/Result.h"

#include <QMainWindow>

#include <memory>
#include <string>
#include <string_view>

class QAction;
class QCheckBox;
class QCloseEvent;
class QComboBox;
class QLabel;
class QMenu;
class QScrollBar;
class QTimer;

namespace audimera {

class DspLibrary;
class FileDialog;
class FormFFT;
class FormHelp;
class FormInputWave;
class FormLogSweep;
class FormEqualiser;
class FormAnalyser;
class FormResponse;
class RecoveryClaim;
class TracesPanel;
class SoundDevice;

class frmMain : public QMainWindow {
    Q_OBJECT

public:
    static constexpr int DeviceEntries = 4; // MenuEntryOutDevice(0..3), MenuEntryInDevice(0..3)
    static constexpr int DeviceWatchMs = 250;
    static constexpr int DetectorEntries = 2; // MenuEntryDetector(0..1)
    // Where the level detector is kept: QSettings("Audimera", "Audimera").
    static constexpr const char* DetectorSettingKey = "LevelDetection";
    static constexpr int RecordChannelEntries = 3; // MenuEntryRecordChannel(0..2): Mix, Left, Right
    // Where the record channel is kept: "Mix", "Left" or "Right".
    static constexpr const char* RecordChannelSettingKey = "RecordChannel";

    // sound: the card the program measures through (PulseSoundDevice in the
    // program; a simulated card in tests). fileDialog: answers the three
    // commands that pick a file. Both must outlive the window. Nothing is
    // opened or shown before startUp().
    frmMain(SoundDevice& sound, FileDialog& fileDialog, QWidget* parent = nullptr);
    ~frmMain() override;

    // The library whose exports start-up requires before the noise tables
    // are made; DspLibrary::instance() unless set (tests point it elsewhere).
    void setDspLibrary(DspLibrary& library) { m_dsp = &library; }

    struct StartResult {
        bool ok = true;
        std::string message; // the fatal message shown, when !ok
    };

    // Form_Load, then shows the main window. On failure the message has
    // been shown, the devices are closed and no window is left open; the
    // program ends with a non-zero exit code.
    StartResult startUp();

    // --- Handlers of this window.
    StartResult Form_Load();
    // Stops any run, then (at once, or after the run's handler returned)
    // closes the devices and every window and ends the event loop.
    void Form_Unload();
    void MenuEntryExit_Click() { Form_Unload(); }
    void MenuEntryAbout_Click();
    void MenuEntryHelp_Click();
    // Writes what the Frequency Response window shows as PNG (its size
    // times the scale the dialog's filter entry names) or SVG.
    void MenuEntrySavePicture_Click();
    static constexpr const char* PictureFilters[] = {
        "PNG picture (*.png)", "PNG picture, twice the size (*.png)",
        "PNG picture, four times the size (*.png)", "SVG picture (*.svg)"};
    void MenuEntryOutDevice_Click(int Index);
    void MenuEntryInDevice_Click(int Index);
    // "Other Device..." after the four entries of each device menu: a
    // DeviceDialog listing every device of that kind; the one chosen is
    // opened exactly as a menu entry would be and used for this session
    // (the next start opens the default ones, as documented). While a device
    // past the fourth entry is in use, its "Other Device..." is ticked.
    void MenuEntryOtherOutDevice_Click();
    void MenuEntryOtherInDevice_Click();
    // "Level Detection": ticks entry Index (0 "Mean Magnitude", 1 "Narrow
    // Band") and keeps the choice for the next session (QSettings). A run
    // reads it when it starts.
    void MenuEntryDetector_Click(int Index);
    // "Record Channel": ticks entry Index (0 "Mix", 1 "Left", 2 "Right") and
    // keeps it for the next session; a sweep and the Log Sweep window read it.
    void MenuEntryRecordChannel_Click(int Index);
    void CheckInput_Click();
    void CheckFFT_Click();
    void CheckResponse_Click();
    // "Log Sweep..." (Measure menu, Ctrl+L): shows the log-sweep window.
    void MenuEntryLogSweep_Click();
    // "Equaliser..." (Measure menu): shows the equaliser's window.
    void MenuEntryEqualiser_Click();
    // "Analyser..." (Measure menu): shows the live analyser's window.
    void MenuEntryAnalyser_Click();
    // File > Open Impulse Response...: the Log Sweep window's Open..., the
    // window shown.
    void MenuEntryOpenImpulse_Click();
    // View > Traces: shows or hides the Traces panel (ui/TracesPanel), a
    // dock of this window, hidden at start.
    void MenuEntryTraces_Click();
    // The status line at start-up when the last run ended with unsaved work
    // (a recovery file was left): File > Restore Last Session is enabled.
    static constexpr const char* LeftRecoveryNote =
        "The last session ended with unsaved work: File > Restore Last Session brings it back";

    // --- For the program around it and for tests.
    MainPresenter& engine() { return *m_engine; }
    MeasurementSession& session() { return *m_session; }
    MeasurementDocument& document() { return *m_document; }
    QtHost& host() { return m_host; }
    QtPanel& panel() { return m_panel; }
    FormInputWave& inputWaveWindow() { return *m_inputWave; }
    FormResponse& responseWindow() { return *m_response; }
    FormFFT& fftWindow() { return *m_fft; }
    FormHelp& helpWindow() { return *m_help; }
    FormLogSweep& logSweepWindow() { return *m_logSweep; }
    FormEqualiser& equaliserWindow() { return *m_equaliser; }
    FormAnalyser& analyserWindow() { return *m_analyser; }
    TracesPanel& tracesPanel() { return *m_traces; }
    // The status bar's line (progress of a sweep).
    QLabel* statusLine() const { return m_statusLine; }
    // The status bar's note on the record device: says when it is a monitor
    // (a loopback of the program's own output); empty otherwise.
    QLabel* recordNote() const { return m_recordNote; }
    // The status bar's note on the devices' rates: says when a device in use
    // runs at another rate than 44100 Hz and that the program converts it;
    // empty otherwise.
    QLabel* rateNote() const { return m_rateNote; }
    static std::string monitorNote(const std::string& playDevice);
    // Shut-down was asked for; it may still wait for a run to return.
    bool isUnloading() const { return m_unloadRequested; }
    // Shut-down has finished: devices closed, windows closed.
    bool isShutDown() const { return m_shutDown; }
    // Handlers of this window on the stack right now.
    int handlersOnStack() const { return m_handlerDepth; }

protected:
    void closeEvent(QCloseEvent* event) override;
    // Opens wholly inside the screen's available area (keepInsideScreen).
    void showEvent(QShowEvent* event) override;

private:
    class HandlerScope;

    // The controls and menus of the ControlTable; the layout is this window's.
    void buildControls();
    void buildMenus();
    // A widget of the ControlTable in its first state, not yet placed; a name
    // not in the table, or of another kind than W, is a programming error.
    template <typename W = QWidget>
    W* makeControl(std::string_view objectName) const;
    // The built control called name, of kind T (a widget or a menu action);
    // a name without a control, or of another kind, ends the program.
    template <typename T>
    T* control(std::string_view name) const;
    void wireControls();
    QWidget* buildResponseFrame();
    QWidget* buildSignalFrame();
    QWidget* buildMeasureFrame();
    QWidget* buildInputFrame();

    // Runs a handler with the stack count kept; ignored once shut-down began.
    template <typename F>
    void handle(F&& handler);
    // After every handler: the Traces panel follows the traces; after the
    // outermost one the session's recovery file is brought up to date.
    void afterHandler();
    // At start-up: a recovery file the last run left becomes the last
    // session (File > Restore Last Session, offered on the status line), and
    // the session keeps its own from now on (MeasurementSession::recoveryPath).
    void keepRecoveryFile();
    void finishShutDown();

    // InitAudio: lists the devices into the Settings menus and opens entry 0
    // of each kind. Fails only fatally; a failed open of entry 0 is shown and
    // start-up goes on.
    audimera::Status InitAudio();
    void fillDeviceMenu(std::string_view entryArray, int count, const std::vector<std::string>& captions);
    void tickDevice(std::string_view entryArray, int index);
    // Opens device index of its list (any entry, not only the four shown);
    // what the menu entries and "Other Device..." do.
    void useOutDevice(int index);
    void useInDevice(int index);
    // The DeviceDialog for one kind; -1 when cancelled.
    int chooseOtherDevice(bool play);
    // Other Device...: the one chosen, or the menu's tick back where it was.
    void useOtherDevice(bool play);
    // Ticks entry index of the exclusive menu's entries, and no other.
    void tickOne(std::string_view menu, int entries, int index);
    // Both menus from the device's lists, ticked at the devices in use.
    void fillDeviceMenus();
    void showRecordNote();
    void showRateNote();
    // The device timer: follows what changed on the sound system.
    void watchDevices();
    // Lays the windows out beside the main window, each kept on its screen.
    void placeWindows();
    void failStart(StartResult& result, const std::string& message);

    SoundDevice& m_sound;
    FileDialog& m_fileDialog;
    DspLibrary* m_dsp;
    QtHost m_host;
    // The Log Sweep window's messages: shown over that window.
    QtHost::WindowHost m_logSweepHost{m_host};
    QtHost::WindowHost m_equaliserHost{m_host};
    QtHost::WindowHost m_analyserHost{m_host};
    QtPanel m_panel;

    // What the user measured: the windows and the engine work on it, so it
    // goes last.
    std::unique_ptr<MeasurementDocument> m_document;
    std::unique_ptr<FormInputWave> m_inputWave;
    std::unique_ptr<FormResponse> m_response;
    std::unique_ptr<FormFFT> m_fft;
    std::unique_ptr<FormHelp> m_help;
    std::unique_ptr<Displays> m_displays;
    // The recovery file this program holds; released after the session
    // wrote its last.
    std::unique_ptr<RecoveryClaim> m_recoveryClaim;
    std::unique_ptr<MeasurementSession> m_session; // outlives its observer, the presenter
    std::unique_ptr<MainPresenter> m_engine;
    std::unique_ptr<FormLogSweep> m_logSweep;
    std::unique_ptr<FormEqualiser> m_equaliser;
    std::unique_ptr<FormAnalyser> m_analyser;
    TracesPanel* m_traces = nullptr; // a dock of this window, owned by it

    QLabel* m_statusLine = nullptr;
    QLabel* m_recordNote = nullptr;
    QLabel* m_rateNote = nullptr;
    QTimer* m_deviceWatch = nullptr;
    QComboBox* m_comboDBRange = nullptr;
    QComboBox* m_comboSmooth = nullptr;

    int m_outDevice = 0; // the entries of the devices in use, -1 for none
    int m_inDevice = 0;
    int m_deviceWaits = 0; // the device is waiting for the server (in its hook)
    int m_handlerDepth = 0;
    bool m_unloadRequested = false;
    bool m_shutDown = false;
};

} // namespace audimera
