// The "Equaliser" window: designs a parametric equaliser for a trace of the
// response plot (fitEq), shows what it predicts, exports it and applies it
// to this desktop's PipeWire.
//
// Controls (objectName, each with a tool tip): ComboEqTrace (the response
// plot's traces), ComboEqTarget (Flat, House curve file, Shape) with
// txtEqTargetFile and cmdEqTargetBrowse, SpinEqTilt (dB/octave),
// SpinEqShelfGain (dB) and SpinEqShelfHz (the bass shelf), CheckEqLevel with
// SpinEqLevel (the target's level set; else placed at the trace's mean),
// SpinEqLow and SpinEqHigh (the fit range, Hz), SpinEqFilters, SpinEqMaxBoost,
// SpinEqMaxCut, LabelEqSmoothing (the smoothing the fit uses), ViewEqPlot
// (trace black, target red, predicted blue, the EQ's own curve green about
// the target's level), TableEqFilters (type, frequency, gain, Q, on; an
// edit redraws the prediction as it is typed) with cmdEqAddFilter and
// cmdEqRemoveFilter, cmdEqFit, cmdEqClear, ComboEqFirTaps, cmdEqExport
// (APO text, CamillaDSP YAML, PipeWire configuration, FIR WAV through the
// one save path), cmdEqAddPredicted (a new trace of the response plot),
// LabelEqResult (the fit's residual or why it failed), cmdEqApply,
// cmdEqRemove, CheckEqLogin ("Start at log-in") and LabelEqApplied.
//
// Apply (PipeWire only, off with the reason as tool tip elsewhere) runs the
// PipeWire configuration through an EqApplier and waits, up to
// SinkWaitMs, until the sink appears among the sound device's play devices;
// it does not start while the session measures. The equaliser runs until
// Remove, another Apply or the program's end (stopApplied()); closing the
// window only hides it.
//
// Settings are kept in QSettings("Audimera", "Audimera") under
// SettingsGroup. UI thread only.
#pragma once

#include "display/windows/FormWindow.h"
#include "engine/EqDesign.h"

#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QTimer;
class QToolButton;

namespace audimera {

class DrawingSurface;
class EqApplier;
class FileDialog;
class Host;
class LogSweepView;
class MainPresenter;
class MeasurementSession;

class FormEqualiser : public FormWindow {
    Q_OBJECT

public:
    static constexpr const char* SettingsGroup = "Equaliser";
    static constexpr const char* SmoothingNote = "Smoothed 1/6 octave below 200 Hz, 1/3 above";
    static constexpr const char* PredictedTraceName = "EQ predicted";
    static constexpr int SinkWaitMs = 10000;
    // The table's columns.
    enum Column { TypeColumn, FrequencyColumn, GainColumn, QColumn, OnColumn, Columns };
    // The export dialog's entries, in order.
    static constexpr const char* ExportFilters[] = {"EqualizerAPO text (*.txt)", "CamillaDSP configuration (*.yml)",
                                                    "PipeWire filter chain (*.conf)", "FIR impulse response (*.wav)"};

    // All references must outlive the window; the host shows its messages.
    FormEqualiser(MainPresenter& presenter, Host& host, FileDialog& dialog, QWidget* parent = nullptr);
    ~FormEqualiser() override;

    // --- Handlers.
    void cmdEqFit_Click();
    void cmdEqClear_Click();
    void cmdEqExport_Click();
    void cmdEqAddPredicted_Click();
    void cmdEqApply_Click();
    void cmdEqRemove_Click();
    void CheckEqLogin_Click();
    void cmdEqTargetBrowse_Click();

    // The program ends: the applied equaliser goes.
    void stopApplied();

    // What the controls say now.
    std::vector<EqFilter> filters() const;
    void setFilters(const std::vector<EqFilter>& filters);
    EqFitSettings fitSettings() const;
    EqTarget target() const;
    // The chosen trace's points (ascending, as stored); empty without one.
    std::vector<CurvePoint> trace() const;
    // The rate the filters are designed and exported at: the last log
    // sweep's, else the devices'.
    double rate() const;
    // The curves drawn: the trace plus the table's EQ at the trace's
    // frequencies, and the target placed.
    std::vector<CurvePoint> predicted() const;
    double targetLevel() const;
    bool isApplied() const;
    EqApplier& applier() const { return *m_applier; }
    LogSweepView& plot() const { return *m_plot; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void buildControls();
    void fillTraces();
    void refreshState();
    void tableEdited();
    void addRow(const EqFilter& filter);
    void draw(DrawingSurface& surface) const;
    // Follows the session (busy) and the play devices (the sink) while shown
    // or applying.
    void poll();
    // Reads txtEqTargetFile's house curve into m_houseCurve.
    void loadHouse();
    void showApplied(const QString& text);
    std::optional<std::string> pipewireConf();
    void saveSettings() const;
    void restoreSettings();

    MainPresenter& m_presenter;
    MeasurementSession& m_session;
    Host& m_host;
    FileDialog& m_dialog;
    EqApplier* m_applier = nullptr;

    QComboBox* m_trace = nullptr;
    QComboBox* m_targetKind = nullptr;
    QLineEdit* m_targetFile = nullptr;
    QToolButton* m_targetBrowse = nullptr;
    QDoubleSpinBox* m_tilt = nullptr;
    QDoubleSpinBox* m_shelfGain = nullptr;
    QDoubleSpinBox* m_shelfHz = nullptr;
    QCheckBox* m_levelSet = nullptr;
    QDoubleSpinBox* m_level = nullptr;
    QDoubleSpinBox* m_low = nullptr;
    QDoubleSpinBox* m_high = nullptr;
    QSpinBox* m_count = nullptr;
    QDoubleSpinBox* m_maxBoost = nullptr;
    QDoubleSpinBox* m_maxCut = nullptr;
    LogSweepView* m_plot = nullptr;
    QTableWidget* m_table = nullptr;
    QPushButton* m_addFilter = nullptr;
    QPushButton* m_removeFilter = nullptr;
    QPushButton* m_fit = nullptr;
    QPushButton* m_clear = nullptr;
    QComboBox* m_firTaps = nullptr;
    QPushButton* m_export = nullptr;
    QPushButton* m_addPredicted = nullptr;
    QLabel* m_result = nullptr;
    QPushButton* m_apply = nullptr;
    QPushButton* m_remove = nullptr;
    QCheckBox* m_login = nullptr;
    QLabel* m_applied = nullptr;
    QTimer* m_poll = nullptr;

    std::vector<CurvePoint> m_houseCurve; // the house curve file's points
    std::string m_houseError;             // why it did not load
    int m_traceCount = -1;             // traces listed in m_trace
    std::optional<double> m_fitLevel;  // where the last fit placed the target
    int m_waitedMs = -1;               // waiting for the sink this long; -1 not waiting
    bool m_filling = false;            // the table is being filled, not edited
};

} // namespace audimera
