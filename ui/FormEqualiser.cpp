#include "ui/FormEqualiser.h"
#include "ui/FormWidgets.h"

#include "curves/CurveFile.h"
#include "curves/ImpulseFile.h"
#include "devices/SoundDevice.h"
#include "display/models/LogSweepPlots.h"
#include "display/models/PlotAxes.h"
#include "engine/EqExport.h"
#include "engine/FileDialog.h"
#include "engine/FileTypes.h"
#include "engine/Host.h"
#include "ui/EqApplier.h"
#include "ui/LogSweepView.h"
#include "ui/presenter/MainPresenter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QDoubleValidator>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace audimera {

namespace {

using forms::named;

constexpr int PollMs = 200;
constexpr RgbColor TraceColor = rgbColor(0, 0, 0);
constexpr RgbColor TargetColor = rgbColor(255, 0, 0);
constexpr RgbColor PredictedColor = rgbColor(0, 0, 255);
constexpr RgbColor EqColor = rgbColor(0, 128, 0);
constexpr const char* TypeTexts[] = {"Peaking", "Low shelf", "High shelf"};
constexpr int FirTapChoices[] = {4096, 8192, 16384, 32768, 65536};

QSettings programSettings()
{
    return QSettings(QStringLiteral("Audimera"), QStringLiteral("Audimera"));
}

QDoubleSpinBox* spin(double low, double high, double value, int decimals, const char* suffix)
{
    QDoubleSpinBox* box = forms::spinBox(low, high, value, decimals, suffix);
    box->setKeyboardTracking(false);
    return box;
}

// The cells of the filter table: a list for the type, a number box for the
// others, each handing its value to the table at every change (so the
// prediction follows the typing, not only the end of an edit).
class FilterCellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const override
    {
        auto* self = const_cast<FilterCellDelegate*>(this);
        if (index.column() == FormEqualiser::TypeColumn) {
            auto* list = new QComboBox(parent);
            for (const char* text : TypeTexts)
                list->addItem(QString::fromLatin1(text));
            connect(list, &QComboBox::currentIndexChanged, self, [self, list] { emit self->commitData(list); });
            return list;
        }
        auto* edit = new QLineEdit(parent);
        auto* validator = new QDoubleValidator(edit);
        validator->setNotation(QDoubleValidator::StandardNotation);
        edit->setValidator(validator);
        connect(edit, &QLineEdit::textEdited, self, [self, edit] { emit self->commitData(edit); });
        return edit;
    }
};

// The mean level of points (ascending) over [low, high], read on a
// 1/48-octave grid (linear in log frequency between points); nullopt when
// the points do not reach into the range.
std::optional<double> meanLevel(const std::vector<CurvePoint>& points, double low, double high)
{
    if (points.size() < 2 || high <= low)
        return std::nullopt;
    double sum = 0;
    int n = 0;
    for (double f = low; f <= high * 1.0001; f *= std::pow(2.0, 1.0 / 48)) {
        if (f < points.front().frequency || f > points.back().frequency)
            continue;
        auto it = std::lower_bound(points.begin(), points.end(), f,
                                   [](const CurvePoint& p, double v) { return p.frequency < v; });
        double level = it->level;
        if (it != points.begin() && it->frequency != f) {
            const CurvePoint& a = *std::prev(it);
            const double t = std::log(f / a.frequency) / std::log(it->frequency / a.frequency);
            level = a.level + t * (it->level - a.level);
        }
        if (std::isfinite(level)) {
            sum += level;
            ++n;
        }
    }
    return n > 0 ? std::optional<double>(sum / n) : std::nullopt;
}

QString text(double value, int decimals)
{
    return forms::number(value, decimals);
}

} // namespace

FormEqualiser::FormEqualiser(MainPresenter& presenter, Host& host, FileDialog& dialog, QWidget* parent)
    : FormWindow(parent), m_presenter(presenter), m_session(presenter.session()), m_host(host), m_dialog(dialog)
{
    setObjectName(QStringLiteral("FormEqualiser"));
    setWindowTitle(QStringLiteral("Equaliser"));
    m_applier = new EqApplier(this);
    connect(m_applier, &EqApplier::ended, this, [this](const QString& why) {
        m_waitedMs = -1;
        showApplied(QStringLiteral("The equaliser stopped: ") + why);
        refreshState();
    });
    buildControls();
    restoreSettings();
    fillTraces();
    refreshState();
}

FormEqualiser::~FormEqualiser()
{
    stopApplied();
}

void FormEqualiser::buildControls()
{
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;

    // --- What is fitted, and to what.
    auto* design = new QGroupBox(QStringLiteral("Design"));
    auto* form = new QGridLayout(design);
    m_trace = named(new QComboBox, "ComboEqTrace", "The trace of the Frequency Response window the equaliser corrects");
    m_targetKind = named(new QComboBox, "ComboEqTarget",
                         "What the response is brought toward: flat, a house curve read from a file (frequency and "
                         "level per line, or any curve file), or a shape with a tilt and a bass shelf");
    m_targetKind->addItem(QStringLiteral("Flat"), int(EqTarget::Kind::Flat));
    m_targetKind->addItem(QStringLiteral("House curve file"), int(EqTarget::Kind::File));
    m_targetKind->addItem(QStringLiteral("Shape"), int(EqTarget::Kind::Shape));
    m_targetFile = named(new QLineEdit, "txtEqTargetFile", "The house curve file");
    m_targetBrowse = named(new QToolButton, "cmdEqTargetBrowse", "Choose the house curve file");
    m_targetBrowse->setText(QStringLiteral("..."));
    m_tilt = named(spin(-3, 3, 0, 2, " dB/oct"), "SpinEqTilt", "The shape's tilt about 1 kHz, in dB per octave");
    m_shelfGain = named(spin(-12, 12, 0, 1, " dB"), "SpinEqShelfGain", "The shape's bass shelf: its gain, in dB");
    m_shelfHz = named(spin(20, 500, 100, 0, " Hz"), "SpinEqShelfHz", "The shape's bass shelf: its corner, in Hz");
    m_levelSet = named(new QCheckBox(QStringLiteral("Level:")), "CheckEqLevel",
                       "Place the target at the level beside; otherwise at the trace's mean level over the fit range");
    m_level = named(spin(-200, 200, 0, 1, " dB"), "SpinEqLevel", "The target's level, in dB");
    m_low = named(spin(20, 20000, 20, 0, " Hz"), "SpinEqLow", "Lower end of the fit range, in Hz");
    m_high = named(spin(20, 20000, 500, 0, " Hz"), "SpinEqHigh", "Upper end of the fit range, in Hz");
    m_count = named(new QSpinBox, "SpinEqFilters", "The most filters the fit uses");
    m_count->setRange(1, EqFitSettings::MaxFilters);
    m_count->setValue(10);
    m_maxBoost = named(spin(0, 12, 3, 1, " dB"), "SpinEqMaxBoost",
                       "The most a filter may raise the response, in dB (0: cuts only)");
    m_maxCut = named(spin(0, 30, 15, 1, " dB"), "SpinEqMaxCut", "The most a filter may lower the response, in dB");
    auto* smoothing = named(new QLabel(QString::fromLatin1(SmoothingNote)), "LabelEqSmoothing",
                            "The fit works on the trace smoothed so; the plot shows it unsmoothed");

    int row = 0;
    auto add = [&](const char* caption, QWidget* a, QWidget* b = nullptr, QWidget* c = nullptr) {
        form->addWidget(new QLabel(QString::fromUtf8(caption)), row, 0);
        form->addWidget(a, row, 1);
        if (b)
            form->addWidget(b, row, 2);
        if (c)
            form->addWidget(c, row, 3);
        ++row;
    };
    m_trace->setMinimumContentsLength(16);
    form->addWidget(new QLabel(QStringLiteral("Trace:")), row, 0);
    form->addWidget(m_trace, row++, 1, 1, 3);
    add("Target:", m_targetKind, m_targetFile, m_targetBrowse);
    add("Tilt, bass shelf:", m_tilt, m_shelfGain, m_shelfHz);
    form->addWidget(m_levelSet, row, 0);
    form->addWidget(m_level, row++, 1);
    add("Fit range:", m_low, m_high);
    add("Filters:", m_count);
    add("Max boost, cut:", m_maxBoost, m_maxCut);
    form->addWidget(smoothing, row++, 0, 1, 4);
    top->addWidget(design);

    // --- The filters.
    auto* filterBox = new QGroupBox(QStringLiteral("Filters"));
    auto* filterLayout = new QVBoxLayout(filterBox);
    m_table = named(new QTableWidget(0, Columns), "TableEqFilters",
                    "The equaliser's filters: type, frequency (Hz), gain (dB), Q and whether it is on. Edit a cell "
                    "and the prediction follows as you type");
    m_table->setHorizontalHeaderLabels({QStringLiteral("Type"), QStringLiteral("Hz"), QStringLiteral("dB"),
                                        QStringLiteral("Q"), QStringLiteral("On")});
    m_table->setItemDelegate(new FilterCellDelegate(m_table));
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_table->verticalHeader()->setDefaultSectionSize(22);
    m_table->setEditTriggers(QAbstractItemView::AllEditTriggers);
    m_addFilter = named(new QPushButton(QStringLiteral("Add")), "cmdEqAddFilter", "Add a peaking filter to the table");
    m_removeFilter = named(new QPushButton(QStringLiteral("Remove")), "cmdEqRemoveFilter",
                           "Remove the selected filter from the table");
    auto* rowButtons = new QHBoxLayout;
    rowButtons->addWidget(m_addFilter);
    rowButtons->addWidget(m_removeFilter);
    rowButtons->addStretch(1);
    filterLayout->addWidget(m_table, 1);
    filterLayout->addLayout(rowButtons);
    top->addWidget(filterBox, 1);

    // --- The plot.
    m_plot = named(new LogSweepView([this](DrawingSurface& s) { draw(s); }), "ViewEqPlot",
                   "The trace (black), the target (red) over the fit range, the predicted result, trace and "
                   "equaliser (blue), and the equaliser's own curve (green, drawn about the target's level)");

    // --- Commands.
    m_fit = named(new QPushButton(QStringLiteral("Fit")), "cmdEqFit",
                  "Fit the filters to bring the trace toward the target over the fit range");
    m_clear = named(new QPushButton(QStringLiteral("Clear")), "cmdEqClear", "Remove every filter");
    m_firTaps = named(new QComboBox, "ComboEqFirTaps", "The length of an exported FIR impulse response, in taps");
    for (int taps : FirTapChoices)
        m_firTaps->addItem(QStringLiteral("%1 taps").arg(taps), taps);
    m_firTaps->setCurrentIndex(m_firTaps->findData(int(EqExport::DefaultFirTaps)));
    m_export = named(new QPushButton(QStringLiteral("Export...")), "cmdEqExport",
                     "Save the filters for EqualizerAPO (.txt), CamillaDSP (.yml), PipeWire (.conf) or a convolver "
                     "(FIR .wav), as the dialog's file type says; the preamp keeps the sum from clipping");
    m_addPredicted = named(new QPushButton(QStringLiteral("Add predicted to Frequency Response")), "cmdEqAddPredicted",
                           "Add the predicted result (trace plus equaliser) as a new trace of the Frequency Response "
                           "window");
    m_result = named(new QLabel, "LabelEqResult", "How close the last fit came to the target over the fit range");
    m_result->setWordWrap(true);
    auto* commands = new QHBoxLayout;
    for (QWidget* w : std::initializer_list<QWidget*>{m_fit, m_clear, m_firTaps, m_export, m_addPredicted})
        commands->addWidget(w);
    commands->addStretch(1);

    m_apply = named(new QPushButton(QStringLiteral("Apply")), "cmdEqApply",
                    "Run the filters on this desktop's PipeWire as a new output, the sink \"Audimera EQ\"");
    m_remove = named(new QPushButton(QStringLiteral("Remove")), "cmdEqRemove", "Stop the applied equaliser");
    m_login = named(new QCheckBox(QStringLiteral("Start at log-in")), "CheckEqLogin",
                    "Also write the equaliser into your own PipeWire folder (~/.config/pipewire), so the sink comes "
                    "back when you log in; untick to remove it");
    m_applied = named(new QLabel, "LabelEqApplied", "What the applied equaliser is doing");
    m_applied->setWordWrap(true);
    auto* apply = new QHBoxLayout;
    apply->addWidget(m_apply);
    apply->addWidget(m_remove);
    apply->addWidget(m_login);
    apply->addWidget(m_applied, 1);
    for (QPushButton* b : {m_addFilter, m_removeFilter, m_fit, m_clear, m_export, m_addPredicted, m_apply, m_remove})
        b->setAutoDefault(false);

    layout->addLayout(top);
    layout->addWidget(m_plot, 1);
    layout->addLayout(commands);
    layout->addWidget(m_result);
    layout->addLayout(apply);

    // --- Wiring: every change of the design redraws.
    auto redraw = [this] {
        refreshState();
        m_plot->redraw();
    };
    auto rangeChanged = [this, redraw] {
        m_fitLevel.reset();
        redraw();
    };
    connect(m_trace, &QComboBox::currentIndexChanged, this, rangeChanged);
    connect(m_targetKind, &QComboBox::currentIndexChanged, this, redraw);
    connect(m_targetFile, &QLineEdit::editingFinished, this, [this, redraw] {
        loadHouse();
        redraw();
    });
    for (QDoubleSpinBox* box : {m_tilt, m_shelfGain, m_shelfHz, m_level})
        connect(box, &QDoubleSpinBox::valueChanged, this, redraw);
    for (QDoubleSpinBox* box : {m_low, m_high})
        connect(box, &QDoubleSpinBox::valueChanged, this, rangeChanged);
    connect(m_levelSet, &QCheckBox::toggled, this, redraw);
    connect(m_table, &QTableWidget::itemChanged, this, [this] { tableEdited(); });
    connect(m_addFilter, &QPushButton::clicked, this, [this] {
        addRow(EqFilter{.hz = 100, .gainDb = -3, .q = 2});
        tableEdited();
    });
    connect(m_removeFilter, &QPushButton::clicked, this, [this] {
        if (m_table->currentRow() >= 0)
            m_table->removeRow(m_table->currentRow());
        tableEdited();
    });
    connect(m_fit, &QPushButton::clicked, this, [this] { cmdEqFit_Click(); });
    connect(m_clear, &QPushButton::clicked, this, [this] { cmdEqClear_Click(); });
    connect(m_export, &QPushButton::clicked, this, [this] { cmdEqExport_Click(); });
    connect(m_addPredicted, &QPushButton::clicked, this, [this] { cmdEqAddPredicted_Click(); });
    connect(m_apply, &QPushButton::clicked, this, [this] { cmdEqApply_Click(); });
    connect(m_remove, &QPushButton::clicked, this, [this] { cmdEqRemove_Click(); });
    connect(m_login, &QCheckBox::clicked, this, [this] { CheckEqLogin_Click(); });
    connect(m_targetBrowse, &QToolButton::clicked, this, [this] { cmdEqTargetBrowse_Click(); });

    m_poll = new QTimer(this);
    m_poll->setInterval(PollMs);
    connect(m_poll, &QTimer::timeout, this, [this] { poll(); });
    resize(900, 720);
}

// ---------------------------------------------------------------- the design

std::vector<CurvePoint> FormEqualiser::trace() const
{
    const TraceStore& traces = m_session.document().traces();
    const int t = m_trace->currentData().isValid() ? m_trace->currentData().toInt() : -1;
    if (t < 0 || t >= traces.GetTraceCount())
        return {};
    if (t == traces.GetTraceCount() - 1)
        return m_session.document().lastTrace();
    std::vector<CurvePoint> points;
    const int n = traces.pointCount(t);
    points.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        points.push_back({std::pow(10.0, traces.traceX(t)[i] / 100), traces.traceY(t)[i] / 100});
    return points;
}

double FormEqualiser::rate() const
{
    const std::optional<LogSweepRun>& run = m_session.lastLogSweep();
    if (run && run->results.rate > 0)
        return run->results.rate;
    return std::max(1, m_session.sound().duplexRate());
}

std::vector<EqFilter> FormEqualiser::filters() const
{
    std::vector<EqFilter> out;
    const QLocale locale;
    for (int r = 0; r < m_table->rowCount(); ++r) {
        auto cell = [&](int c) { return m_table->item(r, c); };
        if (!cell(TypeColumn) || !cell(FrequencyColumn) || !cell(GainColumn) || !cell(QColumn) || !cell(OnColumn))
            continue;
        EqFilter f;
        const QString type = cell(TypeColumn)->text();
        f.type = type == QLatin1String(TypeTexts[1])   ? EqFilter::Type::LowShelf
                 : type == QLatin1String(TypeTexts[2]) ? EqFilter::Type::HighShelf
                                                       : EqFilter::Type::Peaking;
        bool ok[3] = {};
        f.hz = locale.toDouble(cell(FrequencyColumn)->text(), &ok[0]);
        f.gainDb = locale.toDouble(cell(GainColumn)->text(), &ok[1]);
        f.q = locale.toDouble(cell(QColumn)->text(), &ok[2]);
        // A cell being typed that is not a number yet switches its filter off.
        f.enabled = cell(OnColumn)->checkState() == Qt::Checked && ok[0] && ok[1] && ok[2];
        out.push_back(f);
    }
    return out;
}

void FormEqualiser::addRow(const EqFilter& filter)
{
    const bool filling = m_filling;
    m_filling = true;
    const int r = m_table->rowCount();
    m_table->insertRow(r);
    m_table->setItem(r, TypeColumn, new QTableWidgetItem(QString::fromLatin1(TypeTexts[int(filter.type)])));
    m_table->setItem(r, FrequencyColumn, new QTableWidgetItem(text(filter.hz, filter.hz < 100 ? 1 : 0)));
    m_table->setItem(r, GainColumn, new QTableWidgetItem(text(filter.gainDb, 2)));
    m_table->setItem(r, QColumn, new QTableWidgetItem(text(filter.q, 3)));
    auto* on = new QTableWidgetItem;
    on->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
    on->setCheckState(filter.enabled ? Qt::Checked : Qt::Unchecked);
    m_table->setItem(r, OnColumn, on);
    m_filling = filling;
}

void FormEqualiser::setFilters(const std::vector<EqFilter>& filters)
{
    m_filling = true;
    m_table->setRowCount(0);
    for (const EqFilter& f : filters)
        addRow(f);
    m_filling = false;
    tableEdited();
}

void FormEqualiser::tableEdited()
{
    if (m_filling)
        return;
    refreshState();
    m_plot->redraw();
}

EqFitSettings FormEqualiser::fitSettings() const
{
    EqFitSettings s;
    s.lowHz = m_low->value();
    s.highHz = m_high->value();
    s.filters = m_count->value();
    s.maxBoostDb = m_maxBoost->value();
    s.maxCutDb = m_maxCut->value();
    s.rate = rate();
    return s;
}

EqTarget FormEqualiser::target() const
{
    EqTarget t;
    t.kind = static_cast<EqTarget::Kind>(m_targetKind->currentData().toInt());
    if (t.kind == EqTarget::Kind::File)
        t.curve = m_houseCurve;
    t.tiltDbPerOctave = m_tilt->value();
    t.bassShelfDb = m_shelfGain->value();
    t.bassShelfHz = m_shelfHz->value();
    if (m_levelSet->isChecked())
        t.levelDb = m_level->value();
    return t;
}

void FormEqualiser::loadHouse()
{
    m_houseCurve.clear();
    m_houseError.clear();
    const std::string path = m_targetFile->text().toStdString();
    if (path.empty()) {
        m_houseError = "Choose the house curve file first";
        return;
    }
    EqTarget t;
    if (const Status loaded = loadHouseCurve(path, t); !loaded)
        m_houseError = loaded.message();
    else
        m_houseCurve = std::move(t.curve);
}

double FormEqualiser::targetLevel() const
{
    if (m_levelSet->isChecked())
        return m_level->value();
    if (m_fitLevel)
        return *m_fitLevel;
    return meanLevel(trace(), m_low->value(), m_high->value()).value_or(0);
}

std::vector<CurvePoint> FormEqualiser::predicted() const
{
    return predictedResponse(trace(), filters(), rate());
}

// ---------------------------------------------------------------- the plot

void FormEqualiser::draw(DrawingSurface& s) const
{
    using namespace PlotAxes;
    const std::vector<CurvePoint> points = trace();
    const std::vector<EqFilter> eq = filters();
    const double fs = rate();
    const EqTarget aim = target();
    const double level = targetLevel();
    const double low = m_low->value(), high = std::max(m_high->value(), low);

    // The curves over a 1/24-octave grid of the plot's span.
    std::vector<double> grid;
    for (double f = 10; f < 22050; f *= std::pow(2.0, 1.0 / 24))
        grid.push_back(f);
    std::vector<ResponsePoint> extent; // every level drawn, for the axis
    const std::vector<CurvePoint> after = predictedResponse(points, eq, fs);
    for (const CurvePoint& p : points)
        extent.push_back({p.frequency, p.level, std::nullopt});
    for (const CurvePoint& p : after)
        extent.push_back({p.frequency, p.level, std::nullopt});
    std::vector<double> eqLevels, targetLevels;
    for (double f : grid) {
        eqLevels.push_back(f < fs / 2 ? level + eqGainDb(eq, f, fs) : NAN);
        targetLevels.push_back(f >= low && f <= high ? targetLevelAt(aim, level, f) : NAN);
        for (double v : {eqLevels.back(), targetLevels.back()})
            if (std::isfinite(v))
                extent.push_back({f, v, std::nullopt});
    }
    const LogSweepPlots::LevelAxis axis = LogSweepPlots::levelAxis(extent);

    s.setScaleWidth(static_cast<float>(ResponsePlot::rightX() - ResponsePlot::leftX()));
    s.setScaleHeight(static_cast<float>(100.0 * axis.span));
    s.clear();
    const float x10 = frequencyX(10);
    const double step = axis.span / 8.0;
    for (int i = 0; i <= 8; ++i)
        s.line(x10, static_cast<float>(i * step * 100), s.ScaleWidth(), static_cast<float>(i * step * 100),
               PlotPalette::Yellow);
    std::vector<QRectF> boxes;
    LabelPlacer labels(s, LogSweepPlots::UnitsPerPixel, boxes);
    frequencyGrid(s, labels);

    const auto y = [&](double db) { return std::optional<double>((axis.top - db) * 100); };
    frequencyCurve(
        s, grid.size(), [&](std::size_t i) { return std::pair{grid[i], y(eqLevels[i])}; }, EqColor);
    frequencyCurve(
        s, grid.size(), [&](std::size_t i) { return std::pair{grid[i], y(targetLevels[i])}; }, TargetColor);
    frequencyCurve(
        s, points.size(), [&](std::size_t i) { return std::pair{points[i].frequency, y(points[i].level)}; },
        TraceColor);
    frequencyCurve(
        s, after.size(), [&](std::size_t i) { return std::pair{after[i].frequency, y(after[i].level)}; },
        PredictedColor);

    const int every = labels.rowStride(step * 100);
    std::vector<std::string> levels;
    for (int i = every; i < 8; i += every)
        levels.push_back(PlotAxes::number(axis.top - i * step));
    const double leftX = labels.leftColumn(
        static_cast<int>(levels.size()), [&](int k) { return levels[k]; }, static_cast<float>(150 * twipX(s)));
    for (int i = every; i < 8; i += every)
        labelAbove(labels, s, PlotAxes::number(axis.top - i * step), leftX, i * step * 100, PlotPalette::Black);
}

// ---------------------------------------------------------------- state

void FormEqualiser::fillTraces()
{
    const MeasurementDocument& document = m_session.document();
    const int count = document.traces().GetTraceCount();
    if (count == m_traceCount)
        return;
    const int chosen = m_trace->currentData().isValid() ? m_trace->currentData().toInt() : -1;
    const bool blocked = m_trace->blockSignals(true);
    m_trace->clear();
    for (int t = 0; t < count; ++t)
        m_trace->addItem(QStringLiteral("%1: %2").arg(t + 1).arg(QString::fromStdString(document.traceName(t))), t);
    // A new trace is the one to design for; otherwise the choice stays.
    const int index = count > m_traceCount && m_traceCount >= 0 ? count - 1 : chosen >= 0 && chosen < count ? chosen : count - 1;
    m_trace->setCurrentIndex(index);
    m_trace->blockSignals(blocked);
    m_traceCount = count;
    m_fitLevel.reset();
    refreshState();
    m_plot->redraw();
}

void FormEqualiser::refreshState()
{
    const bool haveTrace = m_trace->count() > 0;
    const auto kind = static_cast<EqTarget::Kind>(m_targetKind->currentData().toInt());
    m_targetFile->setEnabled(kind == EqTarget::Kind::File);
    m_targetBrowse->setEnabled(kind == EqTarget::Kind::File);
    for (QWidget* w : std::initializer_list<QWidget*>{m_tilt, m_shelfGain, m_shelfHz})
        w->setEnabled(kind == EqTarget::Kind::Shape);
    m_level->setEnabled(m_levelSet->isChecked());
    m_fit->setEnabled(haveTrace);
    m_addPredicted->setEnabled(haveTrace && !m_session.sweeping());
    m_removeFilter->setEnabled(m_table->rowCount() > 0);

    const std::string server = m_session.sound().serverName();
    const QString why = EqApplier::whyNot(server);
    m_apply->setEnabled(why.isEmpty() && !m_session.busy());
    m_apply->setToolTip(why.isEmpty() ? QStringLiteral("Run the filters on this desktop's PipeWire as a new output, the "
                                                       "sink \"Audimera EQ\" (not while a measurement runs)")
                                      : why);
    m_remove->setEnabled(isApplied());
}

void FormEqualiser::poll()
{
    fillTraces();
    refreshState();
    if (m_waitedMs < 0)
        return;
    for (const SoundDeviceInfo& d : m_session.sound().playDevices())
        if (d.name == EqExport::SinkNodeName || d.description == EqExport::SinkName) {
            m_waitedMs = -1;
            showApplied(QStringLiteral("Applied: play through the new output \"%1\" (choose it in the desktop's sound "
                                       "settings)")
                            .arg(QString::fromLatin1(EqExport::SinkName)));
            return;
        }
    m_waitedMs += PollMs;
    if (m_waitedMs > SinkWaitMs) {
        m_waitedMs = -1;
        m_applier->stop();
        showApplied(QStringLiteral("Not applied: the sink did not appear"));
        m_host.message(std::string("The equaliser started, but its sink \"") + EqExport::SinkName
                           + "\" did not appear on the sound server within "
                           + std::to_string(SinkWaitMs / 1000) + " s; it was stopped.",
                       MessageIcon::Exclamation);
        refreshState();
    }
}

void FormEqualiser::showApplied(const QString& text)
{
    m_applied->setText(text);
}

bool FormEqualiser::isApplied() const
{
    return m_applier->isRunning();
}

// ---------------------------------------------------------------- handlers

void FormEqualiser::cmdEqFit_Click()
{
    const std::vector<CurvePoint> points = trace();
    if (points.empty()) {
        m_host.message("Choose a trace of the Frequency Response window first (measure, load or add one).",
                       MessageIcon::Exclamation);
        return;
    }
    const EqTarget aim = target();
    if (aim.kind == EqTarget::Kind::File && aim.curve.empty()) {
        loadHouse();
        if (m_houseCurve.empty()) {
            m_result->setText(QString::fromStdString(m_houseError));
            m_host.message(m_houseError, MessageIcon::Exclamation);
            return;
        }
        return cmdEqFit_Click();
    }
    const EqFitSettings settings = fitSettings();
    const Result<EqFit> fit = fitEq(points, aim, settings);
    if (!fit) {
        m_result->setText(QStringLiteral("No fit: ") + QString::fromStdString(fit.message()));
        m_host.message(fit.message(), MessageIcon::Exclamation);
        return;
    }
    m_fitLevel = fit->targetLevelDb;
    setFilters(fit->filters);
    m_result->setText(QStringLiteral("%1 filters at %2 Hz. Over %3-%4 Hz, against the target: RMS %5 dB, largest %6 dB "
                                     "(before: RMS %7 dB, largest %8 dB)")
                          .arg(fit->filters.size())
                          .arg(text(settings.rate, 0), text(settings.lowHz, 0), text(settings.highHz, 0),
                               text(fit->rmsDb, 2), text(fit->maxDb, 2), text(fit->rmsBeforeDb, 2),
                               text(fit->maxBeforeDb, 2)));
}

void FormEqualiser::cmdEqClear_Click()
{
    setFilters({});
    m_result->clear();
}

void FormEqualiser::cmdEqExport_Click()
{
    const FileDialogRequest request = FileDialogRequest::saveAs("Export the equaliser as...", "Equaliser.txt", "txt",
                                                                {std::begin(ExportFilters), std::end(ExportFilters)});
    const std::optional<std::string> path = m_dialog.show(request);
    if (!path || path->empty())
        return;
    const std::optional<int> type = FileTypes::saveTypeQuestion(m_host, *path, request, m_dialog.selectedFilter());
    if (!type)
        return;
    const std::vector<EqFilter> eq = filters();
    const double fs = rate();
    Status written;
    if (*type == 3) {
        const Result<std::vector<float>> taps =
            EqExport::firTaps(eq, fs, static_cast<std::size_t>(m_firTaps->currentData().toInt()));
        if (!taps) {
            m_host.message(taps.message(), MessageIcon::Exclamation);
            return;
        }
        written = ImpulseFile::writeWav(*path, *taps, static_cast<int>(std::lround(fs)));
    } else {
        const Result<std::string> content = *type == 1   ? EqExport::camillaYaml(eq, fs)
                                            : *type == 2 ? EqExport::pipewireConf(eq, fs)
                                                         : EqExport::apoText(eq, fs);
        if (!content) {
            m_host.message(content.message(), MessageIcon::Exclamation);
            return;
        }
        written = CurveFile::writeText(*path, *content);
    }
    if (!written)
        m_host.message(CurveFile::saveError(*path, written.message()), MessageIcon::Critical);
}

void FormEqualiser::cmdEqAddPredicted_Click()
{
    const std::vector<CurvePoint> curve = predicted();
    if (curve.empty())
        return;
    std::vector<ResponsePoint> points;
    points.reserve(curve.size());
    for (const CurvePoint& p : curve)
        points.push_back({p.frequency, p.level, std::nullopt});
    if (!m_presenter.addResponseTrace(points))
        return;
    MeasurementDocument& document = m_session.document();
    document.setTraceName(document.traces().GetTraceCount() - 1, PredictedTraceName);
    // The new trace is listed, the one designed for stays chosen.
    const int chosen = m_trace->currentIndex();
    fillTraces();
    m_trace->setCurrentIndex(chosen);
}

std::optional<std::string> FormEqualiser::pipewireConf()
{
    const Result<std::string> conf = EqExport::pipewireConf(filters(), rate());
    if (!conf) {
        m_host.message(conf.message(), MessageIcon::Exclamation);
        return std::nullopt;
    }
    return *conf;
}

void FormEqualiser::cmdEqApply_Click()
{
    const QString why = EqApplier::whyNot(m_session.sound().serverName());
    if (!why.isEmpty() || m_session.busy()) {
        refreshState();
        return;
    }
    const std::optional<std::string> conf = pipewireConf();
    if (!conf)
        return;
    if (const Status started = m_applier->start(*conf); !started) {
        showApplied(QStringLiteral("Not applied"));
        m_host.message(started.message(), MessageIcon::Critical);
        refreshState();
        return;
    }
    m_waitedMs = 0;
    QString text = QStringLiteral("Starting the equaliser (%1)...").arg(m_applier->runtimeFile());
    if (m_login->isChecked()) {
        const Result<std::string> installed = m_applier->installForLogin(*conf);
        if (!installed)
            m_host.message(installed.message(), MessageIcon::Critical);
        else
            m_result->setText(QString::fromStdString(*installed));
    }
    showApplied(text);
    m_poll->start();
    refreshState();
}

void FormEqualiser::cmdEqRemove_Click()
{
    m_waitedMs = -1;
    if (!isApplied())
        return;
    m_applier->stop();
    showApplied(QStringLiteral("Removed: the sink \"%1\" is gone").arg(QString::fromLatin1(EqExport::SinkName)));
    refreshState();
}

void FormEqualiser::CheckEqLogin_Click()
{
    if (m_login->isChecked()) {
        // Written at once for an equaliser already applied, else at Apply.
        if (!isApplied())
            return;
        const std::optional<std::string> conf = pipewireConf();
        if (!conf)
            return;
        const Result<std::string> installed = m_applier->installForLogin(*conf);
        if (!installed)
            m_host.message(installed.message(), MessageIcon::Critical);
        else
            m_result->setText(QString::fromStdString(*installed));
        return;
    }
    const Result<std::string> removed = m_applier->removeFromLogin();
    if (!removed)
        m_host.message(removed.message(), MessageIcon::Critical);
    else if (!removed->empty())
        m_result->setText(QString::fromStdString(*removed));
}

void FormEqualiser::cmdEqTargetBrowse_Click()
{
    FileDialogRequest request;
    request.title = "Select a house curve...";
    FileTypes::offerCurveFiles(request, {"Response Curve (*.txt)"});
    request.flags = FileDialogRequest::OpenFlags;
    const std::optional<std::string> path = m_dialog.show(request);
    if (!path || path->empty())
        return;
    m_targetFile->setText(QString::fromStdString(*path));
    m_targetKind->setCurrentIndex(m_targetKind->findData(int(EqTarget::Kind::File)));
    loadHouse();
    if (!m_houseError.empty())
        m_host.message(m_houseError, MessageIcon::Exclamation);
    m_plot->redraw();
}

void FormEqualiser::stopApplied()
{
    m_waitedMs = -1;
    m_applier->stop();
}

// ---------------------------------------------------------------- window

void FormEqualiser::showEvent(QShowEvent* event)
{
    fillTraces();
    refreshState();
    m_poll->start();
    FormWindow::showEvent(event);
}

void FormEqualiser::hideEvent(QHideEvent* event)
{
    // While the sink is awaited the timer goes on.
    if (m_waitedMs < 0)
        m_poll->stop();
    saveSettings();
    FormWindow::hideEvent(event);
}

void FormEqualiser::saveSettings() const
{
    QSettings settings = programSettings();
    settings.beginGroup(QString::fromLatin1(SettingsGroup));
    settings.setValue(QStringLiteral("geometry"), saveGeometry());
    settings.setValue(QStringLiteral("target"), m_targetKind->currentData());
    settings.setValue(QStringLiteral("targetFile"), m_targetFile->text());
    settings.setValue(QStringLiteral("tilt"), m_tilt->value());
    settings.setValue(QStringLiteral("shelfGain"), m_shelfGain->value());
    settings.setValue(QStringLiteral("shelfHz"), m_shelfHz->value());
    settings.setValue(QStringLiteral("levelSet"), m_levelSet->isChecked());
    settings.setValue(QStringLiteral("level"), m_level->value());
    settings.setValue(QStringLiteral("low"), m_low->value());
    settings.setValue(QStringLiteral("high"), m_high->value());
    settings.setValue(QStringLiteral("filters"), m_count->value());
    settings.setValue(QStringLiteral("maxBoost"), m_maxBoost->value());
    settings.setValue(QStringLiteral("maxCut"), m_maxCut->value());
    settings.setValue(QStringLiteral("firTaps"), m_firTaps->currentData());
    settings.setValue(QStringLiteral("login"), m_login->isChecked());
    // The table, one "type hz gain q on" line per filter, "." decimals.
    QStringList rows;
    for (const EqFilter& f : filters())
        rows << QStringLiteral("%1 %2 %3 %4 %5")
                    .arg(int(f.type))
                    .arg(f.hz, 0, 'g', 10)
                    .arg(f.gainDb, 0, 'g', 10)
                    .arg(f.q, 0, 'g', 10)
                    .arg(f.enabled ? 1 : 0);
    settings.setValue(QStringLiteral("table"), rows);
    settings.endGroup();
}

void FormEqualiser::restoreSettings()
{
    QSettings settings = programSettings();
    settings.beginGroup(QString::fromLatin1(SettingsGroup));
    if (settings.contains(QStringLiteral("geometry")))
        restoreGeometry(settings.value(QStringLiteral("geometry")).toByteArray());
    auto spinValue = [&](const char* key, QDoubleSpinBox* box) {
        bool ok = false;
        const double v = settings.value(QString::fromLatin1(key)).toDouble(&ok);
        if (ok)
            box->setValue(v);
    };
    spinValue("tilt", m_tilt);
    spinValue("shelfGain", m_shelfGain);
    spinValue("shelfHz", m_shelfHz);
    spinValue("level", m_level);
    spinValue("low", m_low);
    spinValue("high", m_high);
    spinValue("maxBoost", m_maxBoost);
    spinValue("maxCut", m_maxCut);
    bool ok = false;
    if (const int n = settings.value(QStringLiteral("filters")).toInt(&ok); ok)
        m_count->setValue(n);
    if (const int i = m_targetKind->findData(settings.value(QStringLiteral("target")).toInt()); i >= 0)
        m_targetKind->setCurrentIndex(i);
    if (const int i = m_firTaps->findData(settings.value(QStringLiteral("firTaps")).toInt()); i >= 0)
        m_firTaps->setCurrentIndex(i);
    m_targetFile->setText(settings.value(QStringLiteral("targetFile")).toString());
    m_levelSet->setChecked(settings.value(QStringLiteral("levelSet")).toBool());
    m_login->setChecked(settings.value(QStringLiteral("login")).toBool());
    std::vector<EqFilter> restored;
    for (const QString& line : settings.value(QStringLiteral("table")).toStringList()) {
        const QStringList v = line.split(QLatin1Char(' '));
        if (v.size() != 5)
            continue;
        EqFilter f;
        f.type = static_cast<EqFilter::Type>(std::clamp(v[0].toInt(), 0, 2));
        f.hz = v[1].toDouble();
        f.gainDb = v[2].toDouble();
        f.q = v[3].toDouble();
        f.enabled = v[4] == QLatin1String("1");
        restored.push_back(f);
    }
    settings.endGroup();
    if (!m_targetFile->text().isEmpty())
        loadHouse();
    setFilters(restored);
}

} // namespace audimera
