// The "Analyser" window: the live spectrum analyser and the sound level
// meter on the record device in use (MeasurementSession::runAnalyser), with
// an optional test signal on the play device.
//
// Controls (objectName, each with a tool tip):
// - the analyser: ComboAnalyserFft (8192 to 131072 samples, 32768 at
//   first), ComboAnalyserWindow (Hann, Flat top, "Rectangular (for periodic
//   noise of the same length)"), ComboAnalyserBands (FFT line, 1/1 to 1/48
//   octave), ComboAnalyserAverage (None, Exponential 0.125 s, 1 s, 8 s,
//   Running), CheckAnalyserWeighted (the spectrum weighted as the meter,
//   A or C), ComboAnalyserRange (the plot's dB span), ButtonAnalyserReset
//   (forgets the average, the peak hold and the meter's Leq, maximum and
//   peak: the session resets them together), CheckAnalyserPeak (peak hold
//   drawn) with ButtonAnalyserPeakReset;
// - the signal: ComboAnalyserSignal (None, Periodic pink noise, Periodic
//   white noise, Sine), SpinAnalyserSignalLevel (dBFS RMS),
//   SpinAnalyserSineHz;
// - ViewAnalyserPlot (AnalyserPlot: bars or the line, peak hold red, the
//   frozen reference grey), LabelAnalyserUnit (what the levels are in),
//   LabelAnalyserCursor (frequency and level under the mouse, and what the
//   band or line under it reads), LabelAnalyserStatus (resolution,
//   averages, audio analysed, lost samples);
// - ButtonAnalyserStart, ButtonAnalyserStop, ButtonAnalyserFreeze (keeps a
//   copy of what is shown as a grey reference; pressed again, clears it),
//   ButtonAnalyserAdd ("Add to Frequency Response": the bands' levels at
//   their mid-band frequencies, or the line thinned to 1/96 octave, as a new
//   trace of the response plot);
// - the sound level meter: LabelAnalyserLevel (the large reading, dB SPL,
//   or dBFS uncalibrated), LabelAnalyserNote ("not calibrated" or the
//   weighting), ComboAnalyserWeighting (A, C, Z), ComboAnalyserTime (Fast,
//   Slow), LabelAnalyserLeq, LabelAnalyserMax, LabelAnalyserPeak,
//   ButtonAnalyserMeterReset, ButtonAnalyserCalibrate ("Calibrate...",
//   AnalyserCalibrationDialog) and LabelAnalyserCalibration (the record
//   device's calibration, SplCalibration::describe, or that it has none).
//
// Calibrations are kept per record device (QtCalibrationStore, by the
// device's name); only the record device's own is ever applied, so
// another device reads dBFS and says so (and that one exists for another
// device). A calibrator is measured for CalibrationSeconds through
// MeasurementSession::measureCalibration; asked for while the analyser
// runs, the analyser stops, the calibrator is measured and the analyser
// starts again. With "Use the file's sensitivity instead of a calibrator"
// the offset is SplCalibration::offsetFromSensitivity of the card's level
// of 1 Pa typed in the dialog (filled in from a ticked file that states its
// sensitivity in dBFS). A calibrated run's spectrum comes in dB SPL too,
// and the plot's top is 0 dBFS in dB SPL. The sensitivity factor shown is that of the
// correction files ticked in the Log Sweep window (the user's file first),
// and those same curves (the session's CorrectionUse::LogSweep table: the
// microphone and the card) correct the spectrum; ticking or unticking them
// while the analyser runs reaches it within PollMs.
//
// One measurement at a time: Start is off while the session is busy, and
// the main window's runs are refused while the analyser runs. The run
// waits on the UI thread through the host's yields; every LiveUpdate
// (UpdatesPerSecond a second) redraws the plot and the meter. Changes of
// the controls while it runs go to MeasurementSession::changeAnalyser.
// Closing the window only hides it and stops the analyser. Settings and
// place are kept in QSettings("Audimera", "Audimera") under SettingsGroup.
//
// UI thread only.
#pragma once

#include "display/windows/FormWindow.h"
#include "engine/CorrectionTable.h"
#include "engine/LiveAnalysis.h"
#include "ui/AnalyserCalibrationDialog.h"

#include <QRectF>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QTimer;

namespace audimera {

class DrawingSurface;
class Host;
class LogSweepView;
class MainPresenter;
class MeasurementSession;
class QtCalibrationStore;

class FormAnalyser : public FormWindow, private LiveObserver {
    Q_OBJECT

public:
    static constexpr const char* SettingsGroup = "Analyser";
    static constexpr double UpdatesPerSecond = 12;
    static constexpr double CalibrationSeconds = 3;
    static constexpr int PollMs = 200;
    static constexpr int FftLengths[] = {8192, 16384, 32768, 65536, 131072};
    // ComboAnalyserBands' item data, in order: 0 the line, else 1/N octave.
    static constexpr int BandItems[] = {0, 1, 3, 6, 12, 24, 48};
    static constexpr int RangeItems[] = {60, 90, 120, 150};
    static constexpr const char* RectangularText = "Rectangular (for periodic noise of the same length)";
    static constexpr const char* NotCalibratedNote = "not calibrated";

    // All references must outlive the window; the host shows its messages.
    FormAnalyser(MainPresenter& presenter, Host& host, QWidget* parent = nullptr);
    ~FormAnalyser() override;

    // Runs every handler that may run the analyser or a calibration (the
    // main window counts them, so a shut-down waits for them to return).
    using HandlerRunner = std::function<void(std::function<void()>)>;
    void setHandlerRunner(HandlerRunner runner) { m_runner = std::move(runner); }

    // --- Handlers.
    // Runs the analyser until Stop (or the main window's shut-down).
    void ButtonAnalyserStart_Click();
    void ButtonAnalyserStop_Click() { stopAnalyser(); }
    void ButtonAnalyserFreeze_Click();
    void ButtonAnalyserAdd_Click();
    void ButtonAnalyserCalibrate_Click();
    // The dialog's request: measures or computes the calibration and keeps
    // it for the record device in use.
    void calibrate(const AnalyserCalibrationDialog::Request& request);

    // Stops the analyser or the calibrator's measurement, and forgets a
    // calibration waiting for the analyser to stop.
    void stopAnalyser();

    // The settings the controls state now.
    LiveSettings settings() const;
    bool isRunning() const { return m_running; }
    // The last update shown; its spectrum is empty before one.
    const LiveUpdate& lastUpdate() const { return m_update; }
    int updates() const { return m_updates; }
    // The frozen reference, if any.
    const std::optional<SpectrumFrame>& reference() const { return m_reference; }
    // The record device in use ("" without one) and its calibration.
    SoundDeviceInfo recordDevice() const;
    std::optional<SplCalibration> calibration() const;
    QtCalibrationStore& calibrations() const { return *m_store; }
    // The sensitivity factor the ticked Log Sweep correction files state
    // (the user's file first): "Sens Factor -0.7 dB"; empty for none.
    QString sensitivityNote() const;
    LogSweepView& plot() const { return *m_plot; }
    AnalyserCalibrationDialog& calibrationDialog() const { return *m_dialog; }
    // The read-out for the mouse at user (x, y) of the plot.
    QString readout(double x, double y) const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void liveUpdate(const LiveUpdate& update) override;

    void buildControls();
    void run(std::function<void()> handler);
    void refreshState();
    // Follows the session (busy), the record device and the correction
    // boxes while shown.
    void poll();
    void settingsChanged();
    void showCalibration();
    void showMeter();
    void draw(DrawingSurface& surface);
    // The calibration offset the levels shown carry (the spectrum comes in
    // dB SPL when the run is calibrated): the one the run was given, while
    // the update says it is calibrated; else 0.
    double shownOffset() const;
    // The plot's top: 0 dBFS, in dB SPL rounded up to 10 dB.
    double topDb() const;
    // The controls' settings to the running analyser.
    void sendChanges();
    // Measures the calibrator (the analyser stopped) and keeps the result;
    // a failure was shown, unless it was cancelled.
    Status measureCalibrator(const AnalyserCalibrationDialog::Request& request);
    void keep(SplCalibration calibration);
    void saveSettings() const;
    void restoreSettings();

    MainPresenter& m_presenter;
    MeasurementSession& m_session;
    Host& m_host;
    HandlerRunner m_runner;
    std::unique_ptr<QtCalibrationStore> m_store;

    QComboBox* m_fft = nullptr;
    QComboBox* m_window = nullptr;
    QComboBox* m_bands = nullptr;
    QComboBox* m_average = nullptr;
    QCheckBox* m_weighted = nullptr;
    QComboBox* m_range = nullptr;
    QPushButton* m_reset = nullptr;
    QCheckBox* m_peak = nullptr;
    QPushButton* m_peakReset = nullptr;
    QComboBox* m_signal = nullptr;
    QDoubleSpinBox* m_signalLevel = nullptr;
    QDoubleSpinBox* m_sineHz = nullptr;
    LogSweepView* m_plot = nullptr;
    QLabel* m_unit = nullptr;
    QLabel* m_cursor = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_start = nullptr;
    QPushButton* m_stop = nullptr;
    QPushButton* m_freeze = nullptr;
    QPushButton* m_add = nullptr;
    QLabel* m_level = nullptr;
    QLabel* m_note = nullptr;
    QComboBox* m_weighting = nullptr;
    QComboBox* m_time = nullptr;
    QLabel* m_leq = nullptr;
    QLabel* m_max = nullptr;
    QLabel* m_peakLevel = nullptr;
    QPushButton* m_meterReset = nullptr;
    QPushButton* m_calibrate = nullptr;
    QLabel* m_calibration = nullptr;
    AnalyserCalibrationDialog* m_dialog = nullptr;
    QTimer* m_poll = nullptr;

    bool m_running = false;
    bool m_calibrating = false; // a calibrator is being measured (Stop cancels it)
    std::optional<double> m_offset; // the calibration offset the run was last given
    bool m_restoring = false;
    int m_updates = 0;
    LiveUpdate m_update;
    std::optional<SpectrumFrame> m_reference;
    double m_referenceOffset = 0; // the offset its levels carry
    std::vector<QRectF> m_labelBoxes;  // the plot's label boxes, kept between draws
    // A calibrator asked for while the analyser ran: measured once it stopped.
    std::optional<AnalyserCalibrationDialog::Request> m_pendingCalibration;
    // What the correction boxes and the record device were at the last poll.
    std::array<bool, CorrectionTable::Count> m_corrections{};
    std::string m_device;
};

} // namespace audimera
