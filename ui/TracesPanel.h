// The Traces panel (View > Traces): a dock beside the main window listing
// the Frequency Response window's traces, one row each: its colour, its name
// (editable; the picture legend's too), whether it is drawn, the offset in
// dB added when it is drawn, and the level scale of the method that made it
// ("unknown" for a loaded file). "Normalise at" sets every offset so that
// the traces read 0 dB at the frequency beside it. The stored points never
// change: the session's trace notes carry names, offsets and shown
// (MeasurementSession::setTraceNote, normaliseTraces).
//
// Every edit goes through the runner the window gives (a handler of the
// main window: counted, the plot redrawn and the recovery file kept
// afterwards); refused edits are shown through the host and the row shows
// the note as it stands. refresh() makes the rows follow the traces; it
// changes only what differs, so a cell being edited keeps its state. While
// a stepped sweep runs the panel is off (its trace's note comes at its end).
//
// objectNames: "TracesPanel" (the dock), "TracesTable", "TraceOffset(t)"
// (the offset's spin box of row t), "NormaliseFrequency" (Hz) and
// "cmdNormalise", "cmdTracesAverage" with "ComboTracesAverageMode".
//
// UI thread only.
#pragma once

#include <QDockWidget>

#include <functional>

class QComboBox;
class QDoubleSpinBox;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;

namespace audimera {

class Host;
class MeasurementSession;

class TracesPanel : public QDockWidget {
    Q_OBJECT

public:
    // The table's columns.
    enum Column { ColourColumn, NameColumn, ShownColumn, OffsetColumn, ScaleColumn, Columns };
    static constexpr double MaxOffsetDb = 200;
    static constexpr double DefaultNormaliseHz = 1000;

    // session and host must outlive the panel. Hidden until shown.
    TracesPanel(MeasurementSession& session, Host& host, QWidget* parent = nullptr);

    // Runs every edit: runner(edit) must call edit once (or not at all when
    // nothing may change now). Without one, edits run directly.
    using Runner = std::function<void(const std::function<void()>& edit)>;
    void setRunner(Runner runner) { m_runner = std::move(runner); }

    // The rows as the session's traces and notes stand now; nothing while
    // hidden (showing refreshes).
    void refresh();

    QTableWidget* table() const { return m_table; }
    // The offset box of row t, or nullptr.
    QDoubleSpinBox* offsetBox(int t) const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void run(const std::function<void()>& edit);
    // Sets row t's name and shown from the table, and its offset when
    // offsetEdited, through the session.
    void editNote(int t, bool offsetEdited);
    void normalise();
    void average();
    void setRowCount(int rows);

    MeasurementSession& m_session;
    Host& m_host;
    Runner m_runner;
    QTableWidget* m_table = nullptr;
    QDoubleSpinBox* m_normaliseHz = nullptr;
    QPushButton* m_normalise = nullptr;
    QPushButton* m_average = nullptr;
    QComboBox* m_averageMode = nullptr;
    bool m_filling = false; // refresh() writes the cells: no edits
};

} // namespace audimera
