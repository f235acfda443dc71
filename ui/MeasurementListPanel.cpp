#include "ui/MeasurementListPanel.h"
#include "ui/FormWidgets.h"

#include "engine/Host.h"
#include "engine/MeasurementSession.h"
#include "ui/presenter/MainPresenter.h"

#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QDateTime>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace audimera {

namespace {

using forms::named;
using forms::number;

constexpr int IdRole = Qt::UserRole;
constexpr double DefaultTemperatureC = 20.0;

QString kindText(const std::string& kind)
{
    if (kind == "logsweep")
        return QStringLiteral("Log sweep");
    if (kind == "impulse")
        return QStringLiteral("Impulse response");
    if (kind == "average")
        return QStringLiteral("Average");
    return QString::fromStdString(kind);
}

// An ISO 8601 date as the list shows it, in local time; as written when it
// does not read as one.
QString dateText(const std::string& date)
{
    const QDateTime at = QDateTime::fromString(QString::fromStdString(date), Qt::ISODate);
    return at.isValid() ? at.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString::fromStdString(date);
}

QColor colorOf(RgbColor c)
{
    // RgbColor is 0x00BBGGRR, as the response plot's.
    return QColor(int(c & 0xff), int((c >> 8) & 0xff), int((c >> 16) & 0xff));
}

} // namespace

MeasurementListPanel::MeasurementListPanel(MainPresenter& presenter, Host& host, Settings settings, Runner runner,
                                           QWidget* parent)
    : QWidget(parent), m_presenter(presenter), m_session(presenter.session()), m_host(host),
      m_settings(std::move(settings)), m_runner(std::move(runner))
{
    setObjectName(QStringLiteral("PanelMeasurements"));
    buildControls();
    refresh(0, true);
}

void MeasurementListPanel::buildControls()
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    m_table = named(new QTableWidget(0, ColumnCount), "TableMeasurements",
                    "The session's measurements. Select one to show it; tick up to 8 to overlay their magnitudes "
                    "(in the colour beside the name) and to delete, add, average or align them; double-click a "
                    "name or a note to edit it");
    m_table->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Kind"), QStringLiteral("Date"),
                                        QStringLiteral("Delay (ms)"), QStringLiteral("Shift (ms)"),
                                        QStringLiteral("After selected"),
                                        QStringLiteral("Average of"), QStringLiteral("Note")});
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setSectionResizeMode(ColNote, QHeaderView::Stretch);
    m_table->horizontalHeaderItem(ColDelay)->setToolTip(
        QStringLiteral("The measurement delay: from the sweep's start to the response's, in ms"));
    m_table->horizontalHeaderItem(ColAlign)->setToolTip(
        QStringLiteral("The shift Align set, in ms (the recording itself never changes)"));
    m_table->horizontalHeaderItem(ColAfter)->setToolTip(
        QStringLiteral("A ticked measurement's delay after the selected one, in ms and in metres at the temperature "
                       "set; Align takes it out"));
    connect(m_table, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) { itemChanged(item); });
    connect(m_table, &QTableWidget::itemSelectionChanged, this, [this] { selectionChanged(); });
    // Del deletes as the button does (F2 edits the name, as any list).
    auto* del = new QShortcut(QKeySequence::Delete, m_table, nullptr, nullptr, Qt::WidgetShortcut);
    connect(del, &QShortcut::activated, this, [this] {
        if (m_delete->isEnabled())
            m_runner([this] { cmdMeasDelete_Click(); });
    });

    auto button = [](const char* caption, const char* name, const char* tip) {
        auto* b = named(new QPushButton(QString::fromUtf8(caption)), name, tip);
        b->setAutoDefault(false);
        return b;
    };
    m_rename = button("Rename", "cmdMeasRename", "Edit the selected measurement's name");
    m_delete = button("Delete", "cmdMeasDelete", "Delete the ticked measurements, or the selected one (Del)");
    m_undo = button("Undo", "cmdMeasUndo", "Bring back what the last Delete deleted");
    m_add = button("Add to Response", "cmdMeasAdd",
                   "Add the magnitude of the ticked measurements, or the selected one, as traces of the Frequency "
                   "Response window, named as here");
    m_mode = named(new QComboBox, "ComboMeasAverageMode",
                   "How Average averages: rms (power, minimum phase), dB (levels, minimum phase) or vector "
                   "(complex, keeps the phase)");
    m_mode->addItem(QStringLiteral("rms"), int(AverageMode::Rms));
    m_mode->addItem(QStringLiteral("dB"), int(AverageMode::Db));
    m_mode->addItem(QStringLiteral("vector"), int(AverageMode::Vector));
    m_alignFirst = named(new QCheckBox(QStringLiteral("Align first")), "CheckMeasAlignFirst",
                         "Vector only: line each response up with the first ticked before averaging");
    m_average = button("Average", "cmdMeasAverage",
                       "Average the ticked measurements into a new one, \"Average of N (mode)\"");
    m_temperature = named(forms::spinBox(-30, 50, DefaultTemperatureC, 1, " °C"), "SpinMeasTemperature",
                          "Air temperature, for the speed of sound the delays are given in metres with");
    m_temperature->setKeyboardTracking(false);
    m_align = button("Align", "cmdMeasAlign",
                     "Shift each ticked measurement to line up with the selected one (saved with the session; the "
                     "recordings are not changed)");
    m_delayText = named(new QLabel, "LabelMeasDelays",
                        "Which measurement the delays in the list are read after, and the speed of sound used");
    m_delayText->setWordWrap(true);
    m_status = named(new QLabel, "LabelMeasStatus", "What the list refused, and why");
    m_status->setWordWrap(true);

    connect(m_rename, &QPushButton::clicked, this, [this] { m_runner([this] { cmdMeasRename_Click(); }); });
    connect(m_delete, &QPushButton::clicked, this, [this] { m_runner([this] { cmdMeasDelete_Click(); }); });
    connect(m_undo, &QPushButton::clicked, this, [this] { m_runner([this] { cmdMeasUndo_Click(); }); });
    connect(m_add, &QPushButton::clicked, this, [this] { m_runner([this] { cmdMeasAdd_Click(); }); });
    connect(m_average, &QPushButton::clicked, this, [this] { m_runner([this] { cmdMeasAverage_Click(); }); });
    connect(m_align, &QPushButton::clicked, this, [this] { m_runner([this] { cmdMeasAlign_Click(); }); });
    connect(m_mode, &QComboBox::currentIndexChanged, this, [this] { refreshButtons(); });
    connect(m_temperature, &QDoubleSpinBox::valueChanged, this, [this] { showDelays(); });

    // The buttons in two columns beside the list, so the list keeps the
    // panel's height; the delays' reference and the refusals below.
    auto* beside = new QHBoxLayout;
    auto* buttons = new QGridLayout;
    buttons->addWidget(m_rename, 0, 0);
    buttons->addWidget(m_delete, 0, 1);
    buttons->addWidget(m_undo, 1, 0);
    buttons->addWidget(m_add, 1, 1);
    buttons->addWidget(m_mode, 2, 0);
    buttons->addWidget(m_average, 2, 1);
    buttons->addWidget(m_alignFirst, 3, 0, 1, 2);
    buttons->addWidget(m_temperature, 4, 0);
    buttons->addWidget(m_align, 4, 1);
    buttons->setRowStretch(5, 1);
    beside->addWidget(m_table, 1);
    beside->addLayout(buttons);
    auto* notes = new QHBoxLayout;
    notes->addWidget(m_delayText, 1);
    notes->addWidget(m_status, 1);
    layout->addLayout(beside, 1);
    layout->addLayout(notes);
}

// ---------------------------------------------------------------- rows

void MeasurementListPanel::refresh(int selectId, bool force)
{
    const MeasurementList& list = m_session.measurements();
    if (!force && selectId == 0 && list.changes() == m_shownChanges)
        return;
    m_shownChanges = list.changes();
    const int keep = selectId ? selectId : selectedId();
    // Ticks of measurements gone go with them.
    const std::size_t ticked = m_ticked.size();
    std::erase_if(m_ticked, [&](const auto& t) { return list.find(t.first) == nullptr; });

    m_filling = true;
    m_table->setRowCount(static_cast<int>(list.items().size()));
    int row = 0;
    for (const Measurement& m : list.items()) {
        const SessionMeasurement& d = m.data;
        auto cell = [&](int column, const QString& text, bool editable) {
            QTableWidgetItem* item = m_table->item(row, column);
            if (!item) {
                item = new QTableWidgetItem;
                m_table->setItem(row, column, item);
            }
            item->setText(text);
            item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | (editable ? Qt::ItemIsEditable : Qt::NoItemFlags));
            item->setData(IdRole, m.id);
            return item;
        };
        QTableWidgetItem* name = cell(ColName, QString::fromStdString(d.name), true);
        name->setFlags(name->flags() | Qt::ItemIsUserCheckable);
        const auto t = m_ticked.find(m.id);
        name->setCheckState(t != m_ticked.end() ? Qt::Checked : Qt::Unchecked);
        name->setData(Qt::DecorationRole,
                      t != m_ticked.end() ? QVariant(colorOf(TraceStore::traceColor(t->second.slot))) : QVariant());
        cell(ColKind, kindText(d.kind), false);
        cell(ColDate, dateText(d.date), false);
        // An average has no delay of its own.
        cell(ColDelay, d.kind == "average" && d.delayMs == 0 ? QString() : number(d.delayMs, 3), false);
        cell(ColAlign, d.alignMs != 0 ? number(d.alignMs, 3) : QString(), false);
        cell(ColAfter, QString(), false);
        cell(ColAverage,
             d.averageOf > 0 ? QStringLiteral("%1 (%2)").arg(d.averageOf).arg(QString::fromStdString(d.averageMode))
                             : QString(),
             false);
        cell(ColNote, QString::fromStdString(d.note), true);
        ++row;
    }
    select(keep);
    m_filling = false;
    if (m_ticked.size() != ticked)
        emit overlaysChanged();
    showDelays();
    refreshButtons();
}

void MeasurementListPanel::select(int id)
{
    const bool filling = m_filling;
    m_filling = true;
    const int row = rowOf(id);
    if (row >= 0)
        m_table->setCurrentCell(row, ColName);
    else
        m_table->clearSelection();
    m_filling = filling;
}

int MeasurementListPanel::idAt(int row) const
{
    const QTableWidgetItem* item = row >= 0 ? m_table->item(row, ColName) : nullptr;
    return item ? item->data(IdRole).toInt() : 0;
}

int MeasurementListPanel::rowOf(int id) const
{
    for (int row = 0; row < m_table->rowCount(); ++row)
        if (id != 0 && idAt(row) == id)
            return row;
    return -1;
}

int MeasurementListPanel::selectedId() const
{
    const QList<QTableWidgetItem*> chosen = m_table->selectedItems();
    return chosen.isEmpty() ? 0 : idAt(chosen.front()->row());
}

std::vector<int> MeasurementListPanel::tickedIds() const
{
    std::vector<int> ids;
    for (const Measurement& m : m_session.measurements().items())
        if (m_ticked.contains(m.id))
            ids.push_back(m.id);
    return ids;
}

std::vector<int> MeasurementListPanel::chosenIds() const
{
    std::vector<int> ids = tickedIds();
    if (ids.empty() && selectedId() != 0)
        ids.push_back(selectedId());
    return ids;
}

void MeasurementListPanel::itemChanged(QTableWidgetItem* item)
{
    if (m_filling || !item)
        return;
    const int id = item->data(IdRole).toInt();
    const Measurement* m = m_session.measurements().find(id);
    if (!m)
        return;
    if (item->column() == ColNote && item->text().toStdString() != m->data.note) {
        if (const Status noted = m_session.measurements().setNote(id, item->text().toStdString()); !noted)
            m_host.message(noted.message(), MessageIcon::Exclamation);
        edited();
        return;
    }
    if (item->column() != ColName)
        return;
    if (item->text().toStdString() != m->data.name) {
        if (const Status renamed = m_session.measurements().rename(id, item->text().toStdString()); !renamed) {
            m_host.message(renamed.message(), MessageIcon::Exclamation);
            m_filling = true;
            item->setText(QString::fromStdString(m->data.name));
            m_filling = false;
        }
        edited();
    }
    const bool checked = item->checkState() == Qt::Checked;
    if (checked != m_ticked.contains(id))
        tick(id, checked);
}

void MeasurementListPanel::selectionChanged()
{
    if (m_filling)
        return;
    m_runner([this] {
        const int id = selectedId();
        const std::optional<LogSweepRun>& run = m_session.lastLogSweep();
        if (id != 0 && !m_running && !(run && run->measurement == id)) {
            if (const Status shownNow = m_session.showMeasurement(id, m_settings()); !shownNow)
                m_host.message(shownNow.message(), MessageIcon::Exclamation);
            else
                emit shown();
        }
        showDelays();
        refreshButtons();
    });
}

// ---------------------------------------------------------------- overlays

void MeasurementListPanel::tick(int id, bool ticked)
{
    m_status->clear();
    QTableWidgetItem* item = m_table->item(rowOf(id), ColName);
    if (!ticked) {
        m_ticked.erase(id);
    } else if (static_cast<int>(m_ticked.size()) >= MaxOverlays) {
        m_status->setText(QString::fromLatin1(TooManyOverlays));
        m_filling = true;
        item->setCheckState(Qt::Unchecked);
        m_filling = false;
        return;
    } else {
        // The lowest slot free, so the others keep their colours.
        Overlay overlay;
        while (std::any_of(m_ticked.begin(), m_ticked.end(), [&](const auto& t) { return t.second.slot == overlay.slot; }))
            ++overlay.slot;
        if (const Result<LogSweepResults> analysed = m_session.analyseMeasurement(id, m_settings()); analysed)
            overlay.response = analysed->response;
        else
            m_status->setText(QStringLiteral("%1: %2").arg(item->text(), QString::fromStdString(analysed.message())));
        m_ticked[id] = std::move(overlay);
    }
    m_filling = true;
    item->setData(Qt::DecorationRole,
                  ticked ? QVariant(colorOf(TraceStore::traceColor(m_ticked[id].slot))) : QVariant());
    m_filling = false;
    emit overlaysChanged();
    showDelays();
    refreshButtons();
}

std::vector<LogSweepPlots::OverlayCurve> MeasurementListPanel::overlays() const
{
    std::vector<std::pair<int, const Overlay*>> bySlot;
    for (const auto& [id, overlay] : m_ticked)
        if (!overlay.response.empty())
            bySlot.emplace_back(overlay.slot, &overlay);
    std::sort(bySlot.begin(), bySlot.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<LogSweepPlots::OverlayCurve> curves;
    for (const auto& [slot, overlay] : bySlot)
        curves.push_back({TraceStore::traceColor(slot), overlay->response});
    return curves;
}

void MeasurementListPanel::reanalyseOverlays()
{
    for (auto& [id, overlay] : m_ticked) {
        const Result<LogSweepResults> analysed = m_session.analyseMeasurement(id, m_settings());
        overlay.response = analysed ? analysed->response : std::vector<ResponsePoint>{};
    }
}

// ---------------------------------------------------------------- delays

void MeasurementListPanel::showDelays()
{
    const MeasurementList& list = m_session.measurements();
    const int reference = selectedId();
    std::vector<int> ids = tickedIds();
    std::erase(ids, reference);
    m_delayReference = reference;
    m_delayIds = reference == 0 ? std::vector<int>{} : ids;
    m_delayError.clear();
    // Each pair is read once (about 70 ms for 2^18 samples): a recording
    // never changes under its id, and Align only notes a shift.
    for (const int id : m_delayIds) {
        if (m_delays.contains({reference, id}))
            continue;
        if (const Result<std::vector<Alignment>> read = list.delays(reference, {id}); read)
            m_delays[{reference, id}] = read->front();
        else
            m_delayError = QString::fromStdString(read.message());
    }
    const double c = TimeAlignment::metres(1000, m_temperature->value()); // m/s
    // Each one's delay in its row, the reference marked.
    const bool filling = m_filling;
    m_filling = true;
    for (int row = 0; row < m_table->rowCount(); ++row) {
        const int id = idAt(row);
        QString text;
        const auto read = m_delays.find({m_delayReference, id});
        if (!m_delayIds.empty() && id == m_delayReference) {
            text = QStringLiteral("reference");
        } else if (read != m_delays.end() && std::ranges::find(m_delayIds, id) != m_delayIds.end()) {
            const double ms = read->second.delayMs;
            const double metres = TimeAlignment::metres(ms, m_temperature->value());
            text = QStringLiteral("%1 ms, %2 m").arg(number(ms, 3), number(metres, 3));
            if (const Measurement* m = list.find(id); m && MeasurementList::untimed(m->data))
                text += QStringLiteral(" (untimed)");
        }
        if (QTableWidgetItem* item = m_table->item(row, ColAfter))
            item->setText(text);
    }
    m_filling = filling;
    if (m_delayIds.empty())
        m_delayText->setText(QStringLiteral("Delays: select the reference and tick the others"));
    else if (!m_delayError.isEmpty())
        m_delayText->setText(QStringLiteral("Delays: ") + m_delayError);
    else {
        QString text = QStringLiteral("Delays after %1, sound at %2 m/s: in the list")
                           .arg(QString::fromStdString(list.find(reference)->data.name), number(c, 1));
        // A figure that cannot be trusted says so.
        if (const std::string caveat = list.timingCaveat(reference, m_delayIds); !caveat.empty())
            text += QStringLiteral(". Untimed: ") + QString::fromStdString(caveat);
        m_delayText->setText(text);
    }
    refreshButtons();
}

// ---------------------------------------------------------------- state

void MeasurementListPanel::setRunning(bool running)
{
    m_running = running;
    for (QWidget* w : std::initializer_list<QWidget*>{m_table, m_mode, m_temperature})
        w->setEnabled(!running);
    refreshButtons();
}

void MeasurementListPanel::refreshButtons()
{
    const bool idle = !m_running;
    const bool selected = selectedId() != 0;
    const bool ticked = !m_ticked.empty();
    m_rename->setEnabled(idle && selected);
    m_delete->setEnabled(idle && (selected || ticked));
    m_undo->setEnabled(idle && m_session.measurements().canUndo());
    m_add->setEnabled(idle && (selected || ticked) && !m_session.sweeping());
    m_average->setEnabled(idle && m_ticked.size() >= 2);
    m_alignFirst->setEnabled(idle && m_mode->currentData().toInt() == int(AverageMode::Vector));
    m_align->setEnabled(idle && !m_delayIds.empty() && m_delayError.isEmpty());
}

void MeasurementListPanel::edited()
{
    m_session.keepRecovery();
    refresh();
}

void MeasurementListPanel::save(QSettings& settings) const
{
    settings.setValue(QStringLiteral("temperature"), m_temperature->value());
}

void MeasurementListPanel::restore(QSettings& settings)
{
    bool ok = false;
    const double t = settings.value(QStringLiteral("temperature")).toDouble(&ok);
    if (ok)
        m_temperature->setValue(t);
}

// ---------------------------------------------------------------- handlers

void MeasurementListPanel::cmdMeasRename_Click()
{
    if (const int row = rowOf(selectedId()); row >= 0 && !m_running)
        m_table->editItem(m_table->item(row, ColName));
}

void MeasurementListPanel::cmdMeasDelete_Click()
{
    m_status->clear();
    if (m_running)
        return;
    const std::vector<int> ids = chosenIds();
    if (const Status removed = m_session.measurements().remove(ids); !removed)
        m_host.message(removed.message(), MessageIcon::Exclamation);
    else if (ids.size() > 1)
        m_status->setText(QStringLiteral("Deleted %1; Undo brings them back").arg(ids.size()));
    edited();
}

void MeasurementListPanel::cmdMeasUndo_Click()
{
    m_status->clear();
    if (!m_running && m_session.measurements().undoRemove())
        edited();
}

void MeasurementListPanel::cmdMeasAdd_Click()
{
    m_status->clear();
    if (m_running)
        return;
    // The main window's own Add: it redraws the plot, gives Clear Traces
    // and Save back, and shows a failure.
    m_presenter.addMeasurementTraces(chosenIds(), m_settings());
}

void MeasurementListPanel::cmdMeasAverage_Click()
{
    m_status->clear();
    const std::vector<int> ids = tickedIds();
    if (m_running || ids.size() < 2)
        return;
    const auto mode = static_cast<AverageMode>(m_mode->currentData().toInt());
    const bool aligned = mode == AverageMode::Vector && m_alignFirst->isChecked();
    const Result<int> averaged = m_session.measurements().average(ids, mode, aligned);
    if (!averaged) {
        m_host.message(averaged.message(), MessageIcon::Exclamation);
        return;
    }
    m_session.keepRecovery();
    refresh(*averaged, true);
    if (const Status shownNow = m_session.showMeasurement(*averaged, m_settings()); !shownNow)
        m_host.message(shownNow.message(), MessageIcon::Exclamation);
    else
        emit shown();
    // A vector average adds the phases as they were timed: where the timing
    // was the streams' start, it says so.
    if (mode != AverageMode::Vector || aligned)
        return;
    if (const std::string caveat = m_session.measurements().timingCaveat(ids.front(), ids); !caveat.empty())
        m_status->setText(QStringLiteral("Averaged, though ") + QString::fromStdString(caveat)
                          + QStringLiteral("; Align first lines them up"));
}

void MeasurementListPanel::cmdMeasAlign_Click()
{
    m_status->clear();
    if (m_running || m_delayIds.empty())
        return;
    MeasurementList& list = m_session.measurements();
    if (const Status aligned = list.align(m_delayReference, m_delayIds); !aligned)
        m_host.message(aligned.message(), MessageIcon::Exclamation);
    else if (const std::string caveat = list.timingCaveat(m_delayReference, m_delayIds); !caveat.empty())
        m_status->setText(QStringLiteral("Aligned, though ") + QString::fromStdString(caveat));
    edited();
}

} // namespace audimera
