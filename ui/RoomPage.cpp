#include "ui/RoomPage.h"

#include "display/models/LogSweepPlots.h"
#include "ui/LogSweepView.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QTableWidget>
#include <QVBoxLayout>

#include <array>

namespace audimera {

namespace {

QString number(double value, int decimals)
{
    return QLocale().toString(value, 'f', decimals);
}

// One cell: the value with its decimals, "-" without one, greyed with a
// trailing "*" and the reasons in its tool tip when flagged.
QTableWidgetItem* cell(const RoomValue& v, int decimals, double scale = 1)
{
    auto* item = new QTableWidgetItem(v.value ? number(*v.value * scale, decimals) : QStringLiteral("-"));
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    if (v.flags != 0) {
        if (v.value)
            item->setText(item->text() + QStringLiteral("*"));
        item->setForeground(Qt::gray);
        item->setToolTip(QString::fromStdString(RoomAcoustics::flagText(v.flags)));
    }
    return item;
}

QTableWidgetItem* plainCell(const QString& text)
{
    auto* item = new QTableWidgetItem(text);
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

} // namespace

RoomPage::RoomPage(QWidget* parent) : QWidget(parent)
{
    m_bands = new QComboBox;
    m_bands->setObjectName(QStringLiteral("ComboRoomBands"));
    m_bands->setToolTip(QStringLiteral("Octave bands (63 Hz to 8 kHz) or third-octave bands (50 Hz to 10 kHz)"));
    m_bands->addItem(QStringLiteral("Octave bands"), int(RoomSettings::Bands::Octave));
    m_bands->addItem(QStringLiteral("Third-octave bands"), int(RoomSettings::Bands::Third));
    connect(m_bands, &QComboBox::activated, this, [this] { emit bandsChanged(); });

    m_table = new QTableWidget(0, static_cast<int>(std::size(Columns)));
    m_table->setObjectName(QStringLiteral("TableRoom"));
    m_table->setToolTip(QStringLiteral(
        "Decay times (EDT, T20, T30), clarity (C50, C80), definition (D50) and centre time (Ts) per band; the "
        "fits' correlation r and the peak-to-noise ratio. A value marked * cannot be trusted: its tool tip says "
        "why"));
    QStringList headers;
    for (const char* c : Columns)
        headers << QString::fromLatin1(c);
    m_table->setHorizontalHeaderLabels(headers);
    m_table->verticalHeader()->hide();
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    connect(m_table, &QTableWidget::currentCellChanged, this, [this] { m_decay->redraw(); });

    m_decay = new LogSweepView([this](DrawingSurface& s) { LogSweepPlots::drawDecay(s, selectedBand()); });
    m_decay->setObjectName(QStringLiteral("ViewLogDecay"));
    m_decay->setToolTip(QStringLiteral(
        "The selected band's decay curve (black, dB re its start, over ms from the start), the lines fitted for "
        "EDT (green), T20 (blue) and T30 (red), and the truncation point (purple)"));
    connect(m_decay, &LogSweepView::hovered, this, [this](double x, double y) { emit hovered(readout(x, y)); });
    connect(m_decay, &LogSweepView::left, this, [this] { emit left(); });

    m_note = new QLabel;
    m_note->setObjectName(QStringLiteral("LabelRoomNote"));
    m_note->setToolTip(QStringLiteral("Why there are no room parameters"));
    m_note->setWordWrap(true);
    m_note->hide();

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("Bands:")));
    top->addWidget(m_bands);
    top->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_note);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_decay, 1);
}

RoomSettings RoomPage::settings() const
{
    RoomSettings s;
    s.bands = static_cast<RoomSettings::Bands>(m_bands->currentData().toInt());
    return s;
}

void RoomPage::setBands(RoomSettings::Bands bands)
{
    const int i = m_bands->findData(int(bands));
    if (i >= 0)
        m_bands->setCurrentIndex(i);
}

void RoomPage::showRoom(const RoomResults* room, const QString& note)
{
    const int selected = std::max(m_table->currentRow(), 0);
    m_shown = room ? room->bands : std::vector<RoomBand>{};
    m_note->setText(note);
    m_note->setVisible(!room && !note.isEmpty());
    m_table->setRowCount(static_cast<int>(m_shown.size()));
    for (int row = 0; row < static_cast<int>(m_shown.size()); ++row) {
        const RoomBand& b = m_shown[static_cast<std::size_t>(row)];
        auto* band = new QTableWidgetItem(QString::fromStdString(b.band.label));
        const std::array<QTableWidgetItem*, std::size(Columns)> items = {
            band,
            cell(b.edt, 2),
            cell(b.t20, 2),
            cell(b.t30, 2),
            cell(b.c50, 1),
            cell(b.c80, 1),
            cell(b.d50, 2),
            cell(b.ts, 0),
            plainCell(b.t20Fit.valid ? number(b.t20Fit.r, 3) : QStringLiteral("-")),
            plainCell(b.t30Fit.valid ? number(b.t30Fit.r, 3) : QStringLiteral("-")),
            plainCell(number(b.pnrDb, 0)),
        };
        for (int column = 0; column < static_cast<int>(items.size()); ++column)
            m_table->setItem(row, column, items[static_cast<std::size_t>(column)]);
    }
    if (!m_shown.empty())
        m_table->setCurrentCell(std::min(selected, static_cast<int>(m_shown.size()) - 1), 0);
    m_decay->redraw();
}

const RoomBand* RoomPage::selectedBand() const
{
    const int row = m_table->currentRow();
    return row >= 0 && row < static_cast<int>(m_shown.size()) ? &m_shown[static_cast<std::size_t>(row)] : nullptr;
}

QString RoomPage::readout(double x, double y) const
{
    QString text = QStringLiteral("%1 ms, %2 dB").arg(number(LogSweepPlots::decayTimeAt(x), 1),
                                                     number(LogSweepPlots::decayLevelAt(y), 1));
    if (const RoomBand* b = selectedBand()) {
        // The curve's own level at that time.
        const double t = LogSweepPlots::decayTimeAt(x) / 1000;
        if (b->decayStep > 0 && t >= 0) {
            const auto i = static_cast<std::size_t>(t / b->decayStep + 0.5);
            if (i < b->decayDb.size())
                text += QStringLiteral(" (curve %1 dB)").arg(number(b->decayDb[i], 1));
        }
    }
    return text;
}

} // namespace audimera
