#include "ui/TracesPanel.h"

#include "engine/MeasurementSession.h"
#include "engine/TraceStore.h"
#include "ui/QtPanel.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QShowEvent>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace audimera {

namespace {

QTableWidgetItem* fixedItem()
{
    auto* item = new QTableWidgetItem;
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

} // namespace

TracesPanel::TracesPanel(MeasurementSession& session, Host& host, QWidget* parent)
    : QDockWidget(QStringLiteral("Traces"), parent), m_session(session), m_host(host)
{
    setObjectName(QStringLiteral("TracesPanel"));
    auto* body = new QWidget;
    auto* layout = new QVBoxLayout(body);

    m_table = new QTableWidget(0, Columns);
    m_table->setObjectName(QStringLiteral("TracesTable"));
    m_table->setHorizontalHeaderLabels(
        {QString(), QStringLiteral("Name"), QStringLiteral("Shown"), QStringLiteral("Offset"), QStringLiteral("Level scale")});
    m_table->verticalHeader()->setVisible(false);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setSectionResizeMode(NameColumn, QHeaderView::Stretch);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    layout->addWidget(m_table, 1);

    auto* normaliseRow = new QHBoxLayout;
    m_normalise = new QPushButton(QStringLiteral("Normalise at"));
    m_normalise->setObjectName(QStringLiteral("cmdNormalise"));
    m_normalise->setAutoDefault(false);
    m_normalise->setToolTip(QStringLiteral("Sets the offsets so that every trace reads 0 dB at this frequency"));
    m_normaliseHz = new QDoubleSpinBox;
    m_normaliseHz->setObjectName(QStringLiteral("NormaliseFrequency"));
    m_normaliseHz->setRange(1, 100000);
    m_normaliseHz->setDecimals(0);
    m_normaliseHz->setSuffix(QStringLiteral(" Hz"));
    m_normaliseHz->setValue(DefaultNormaliseHz);
    normaliseRow->addWidget(m_normalise);
    normaliseRow->addWidget(m_normaliseHz);
    normaliseRow->addStretch(1);
    layout->addLayout(normaliseRow);

    auto* averageRow = new QHBoxLayout;
    m_average = new QPushButton(QStringLiteral("Average"));
    m_average->setObjectName(QStringLiteral("cmdTracesAverage"));
    m_average->setAutoDefault(false);
    m_average->setToolTip(QStringLiteral("Adds the average of the selected traces (of every shown one when fewer "
                                         "than two are selected) as a new trace, each as drawn, over the range "
                                         "they share"));
    m_averageMode = new QComboBox;
    m_averageMode->setObjectName(QStringLiteral("ComboTracesAverageMode"));
    m_averageMode->addItem(QStringLiteral("Power (rms)"), static_cast<int>(AverageMode::Rms));
    m_averageMode->addItem(QStringLiteral("Level (dB)"), static_cast<int>(AverageMode::Db));
    m_averageMode->setToolTip(QStringLiteral("Power: the mean of the squared magnitudes; level: the mean of "
                                             "the levels in dB. Traces keep no phase for a vector average: "
                                             "average the measurements in the Log Sweep window instead."));
    averageRow->addWidget(m_average);
    averageRow->addWidget(m_averageMode);
    averageRow->addStretch(1);
    layout->addLayout(averageRow);
    setWidget(body);

    connect(m_table, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (!m_filling && (item->column() == NameColumn || item->column() == ShownColumn))
            editNote(item->row(), false);
    });
    connect(m_normalise, &QPushButton::clicked, this, [this] { normalise(); });
    connect(m_average, &QPushButton::clicked, this, [this] { average(); });
    hide();
}

QDoubleSpinBox* TracesPanel::offsetBox(int t) const
{
    return qobject_cast<QDoubleSpinBox*>(m_table->cellWidget(t, OffsetColumn));
}

void TracesPanel::showEvent(QShowEvent* event)
{
    QDockWidget::showEvent(event);
    refresh();
}

void TracesPanel::run(const std::function<void()>& edit)
{
    if (m_runner)
        m_runner(edit);
    else
        edit();
    // The row shows the note as it stands, also when the edit was refused.
    refresh();
}

void TracesPanel::setRowCount(int rows)
{
    const int before = m_table->rowCount();
    m_table->setRowCount(rows);
    for (int t = before; t < rows; ++t) {
        // The colour is the plot's for that index, fixed.
        QPixmap swatch(m_table->fontMetrics().height(), m_table->fontMetrics().height());
        swatch.fill(QtPanel::toColor(TraceStore::traceColor(t)));
        QTableWidgetItem* colour = fixedItem();
        colour->setData(Qt::DecorationRole, swatch);
        m_table->setItem(t, ColourColumn, colour);
        auto* name = new QTableWidgetItem;
        name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable);
        m_table->setItem(t, NameColumn, name);
        QTableWidgetItem* shown = fixedItem();
        shown->setFlags(shown->flags() | Qt::ItemIsUserCheckable);
        shown->setCheckState(Qt::Checked);
        m_table->setItem(t, ShownColumn, shown);
        m_table->setItem(t, ScaleColumn, fixedItem());

        auto* offset = new QDoubleSpinBox;
        offset->setObjectName(QStringLiteral("TraceOffset(%1)").arg(t));
        offset->setRange(-MaxOffsetDb, MaxOffsetDb);
        offset->setDecimals(2);
        offset->setSingleStep(0.5);
        offset->setSuffix(QStringLiteral(" dB"));
        // One edit when the number is complete, not one per key.
        offset->setKeyboardTracking(false);
        connect(offset, &QDoubleSpinBox::valueChanged, this, [this, t] {
            if (!m_filling)
                editNote(t, true);
        });
        m_table->setCellWidget(t, OffsetColumn, offset);
    }
}

void TracesPanel::refresh()
{
    if (isHidden())
        return;
    // A sweep's trace gets its note (with the sweep's level scale) when the
    // sweep ends: until then the panel waits.
    const bool sweeping = m_session.sweeping();
    widget()->setEnabled(!sweeping);
    if (sweeping)
        return;
    const std::vector<SessionTrace>& notes = m_session.traceNotes();
    m_filling = true;
    setRowCount(static_cast<int>(notes.size()));
    for (int t = 0; t < static_cast<int>(notes.size()); ++t) {
        const SessionTrace& note = notes[static_cast<size_t>(t)];
        const QString name = QString::fromStdString(note.name);
        if (m_table->item(t, NameColumn)->text() != name)
            m_table->item(t, NameColumn)->setText(name);
        const Qt::CheckState shown = note.shown ? Qt::Checked : Qt::Unchecked;
        if (m_table->item(t, ShownColumn)->checkState() != shown)
            m_table->item(t, ShownColumn)->setCheckState(shown);
        QDoubleSpinBox* offset = offsetBox(t);
        if (!offset->hasFocus() && offset->value() != note.offsetDb)
            offset->setValue(note.offsetDb);
        const QString scale = note.scale.empty() ? QStringLiteral("unknown") : QString::fromStdString(note.scale);
        if (m_table->item(t, ScaleColumn)->text() != scale)
            m_table->item(t, ScaleColumn)->setText(scale);
    }
    m_normalise->setEnabled(!notes.empty());
    m_filling = false;
}

void TracesPanel::editNote(int t, bool offsetEdited)
{
    // What the row says now; the offset only from its own box, so that a
    // normalised offset finer than the box shows is kept by other edits.
    const QString name = m_table->item(t, NameColumn)->text();
    const bool shown = m_table->item(t, ShownColumn)->checkState() == Qt::Checked;
    const double offset = offsetBox(t)->value();
    run([this, t, name, shown, offset, offsetEdited] {
        if (m_session.sweeping())
            return;
        const std::vector<SessionTrace>& notes = m_session.traceNotes();
        if (t >= static_cast<int>(notes.size()))
            return;
        SessionTrace note = notes[static_cast<size_t>(t)];
        note.name = name.toStdString();
        note.shown = shown;
        if (offsetEdited)
            note.offsetDb = offset;
        if (const Status changed = m_session.setTraceNote(t, note); !changed)
            m_host.message(changed.message(), MessageIcon::Exclamation);
    });
}

void TracesPanel::normalise()
{
    const double hz = m_normaliseHz->value();
    run([this, hz] {
        if (m_session.sweeping())
            return;
        if (const Status normalised = m_session.normaliseTraces(hz); !normalised)
            m_host.message(normalised.message(), MessageIcon::Exclamation);
    });
}

void TracesPanel::average()
{
    std::vector<int> traces;
    for (const QModelIndex& row : m_table->selectionModel()->selectedRows())
        traces.push_back(row.row());
    if (traces.size() < 2) {
        traces.clear();
        for (int t = 0; t < m_table->rowCount(); ++t)
            if (m_table->item(t, ShownColumn)->checkState() == Qt::Checked)
                traces.push_back(t);
    }
    std::sort(traces.begin(), traces.end());
    const auto mode = static_cast<AverageMode>(m_averageMode->currentData().toInt());
    run([this, traces, mode] {
        if (m_session.sweeping())
            return;
        if (const Status averaged = m_session.averageTraces(traces, mode); !averaged)
            m_host.message(averaged.message(), MessageIcon::Exclamation);
    });
}

} // namespace audimera
