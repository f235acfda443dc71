// The Log Sweep window's list of the session's measurements
// (MeasurementSession::measurements(): every log sweep that gave a result,
// every opened impulse response and every average), below its tabs.
//
// Controls (objectName, each with a tool tip): TableMeasurements, one row
// per measurement in the list's order, its columns a tick box with the name
// (edited in place: a rename; a ticked row shows its overlay colour), the
// kind, the date, the measurement delay (ms), the alignment shift (ms), the
// delay after the selected one (a ticked row: ms and metres), what an
// average holds (how many, how averaged) and the note (edited in place);
// cmdMeasRename (F2 too), cmdMeasDelete (the ticked rows, else the
// selected one; Del in the list too), cmdMeasUndo (brings the last one
// deleted back), cmdMeasAdd (the ticked, else the selected, as traces of
// the Frequency Response window),
// ComboMeasAverageMode (rms, dB, vector) with CheckMeasAlignFirst (vector
// only) and cmdMeasAverage (the ticked ones), SpinMeasTemperature (°C, for
// the speed of sound: 331.3 sqrt(1 + T / 273.15) m/s), LabelMeasDelays
// (which one the delays are read after, or why there are none) with
// cmdMeasAlign (sets the ticked ones' alignment shifts) and
// LabelMeasStatus (what was refused, and why).
//
// Selecting a row shows that measurement in the window
// (MeasurementSession::showMeasurement with the window's settings, then
// shown()). Ticking rows overlays their magnitudes on the response view, at
// most MaxOverlays, each in the response plot's trace colour of the slot it
// took (kept while it stays ticked); overlaysChanged() asks for a redraw.
// Every edit keeps the session's recovery file current (keepRecovery).
// Everything is off while a measurement runs (setRunning).
//
// UI thread only.
#pragma once

#include "display/models/LogSweepPlots.h"
#include "engine/LogSweepMeasurement.h"
#include "engine/TraceStore.h"
#include "signal/TimeAlignment.h"

#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <utility>
#include <vector>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSettings;
class QTableWidget;
class QTableWidgetItem;

namespace audimera {

class Host;
class MainPresenter;
class MeasurementSession;

class MeasurementListPanel : public QWidget {
    Q_OBJECT

public:
    static constexpr int MaxOverlays = TraceStore::MaxTraces;
    static constexpr const char* TooManyOverlays = "At most 8 measurements overlay: untick one first";
    enum Column { ColName, ColKind, ColDate, ColDelay, ColAlign, ColAfter, ColAverage, ColNote, ColumnCount };
    // The settings the window's controls state now (the overlays and the
    // measurement shown are analysed with them).
    using Settings = std::function<LogSweepSettings()>;
    // Runs a handler as the window runs its own.
    using Runner = std::function<void(std::function<void()>)>;

    // All references must outlive the panel; host shows its messages.
    MeasurementListPanel(MainPresenter& presenter, Host& host, Settings settings, Runner runner,
                         QWidget* parent = nullptr);

    // Rebuilds the rows when the list changed since last shown (always with
    // force), and selects measurement select (0: the one selected before)
    // without showing it again.
    void refresh(int select = 0, bool force = false);
    // The ticked measurements' magnitudes in their colours (slot order).
    std::vector<LogSweepPlots::OverlayCurve> overlays() const;
    // Analyses the ticked ones again (the window's settings changed).
    void reanalyseOverlays();
    // Off while a measurement runs.
    void setRunning(bool running);
    // The id of the selected row's measurement (0: none) and the ticked ones
    // in the list's order.
    int selectedId() const;
    std::vector<int> tickedIds() const;

    // SpinMeasTemperature in the window's settings group.
    void save(QSettings& settings) const;
    void restore(QSettings& settings);

    // --- Handlers.
    void cmdMeasRename_Click();
    void cmdMeasDelete_Click();
    void cmdMeasUndo_Click();
    void cmdMeasAdd_Click();
    void cmdMeasAverage_Click();
    void cmdMeasAlign_Click();

signals:
    // A measurement became the session's last log sweep: the window shows it.
    void shown();
    void overlaysChanged();

private:
    void buildControls();
    void itemChanged(QTableWidgetItem* item);
    void selectionChanged();
    void tick(int id, bool ticked);
    void showDelays();
    void refreshButtons();
    void edited();
    // The ticked ones, else the selected one.
    std::vector<int> chosenIds() const;
    int idAt(int row) const;
    int rowOf(int id) const;
    void select(int id);

    MainPresenter& m_presenter;
    MeasurementSession& m_session;
    Host& m_host;
    Settings m_settings;
    Runner m_runner;
    bool m_filling = false;
    bool m_running = false;
    std::uint64_t m_shownChanges = ~std::uint64_t(0);
    struct Overlay {
        int slot = 0;
        std::vector<ResponsePoint> response; // empty when it could not be analysed
    };
    std::map<int, Overlay> m_ticked; // by id
    // The delays shown: after m_delayReference, of m_delayIds (empty: none
    // shown); each pair's as read (reference, id), kept; the last failure.
    int m_delayReference = 0;
    std::vector<int> m_delayIds;
    std::map<std::pair<int, int>, Alignment> m_delays;
    QString m_delayError;

    QTableWidget* m_table = nullptr;
    QPushButton* m_rename = nullptr;
    QPushButton* m_delete = nullptr;
    QPushButton* m_undo = nullptr;
    QPushButton* m_add = nullptr;
    QComboBox* m_mode = nullptr;
    QCheckBox* m_alignFirst = nullptr;
    QPushButton* m_average = nullptr;
    QDoubleSpinBox* m_temperature = nullptr;
    QLabel* m_delayText = nullptr;
    QPushButton* m_align = nullptr;
    QLabel* m_status = nullptr;
};

} // namespace audimera
