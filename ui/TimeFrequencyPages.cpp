#include "ui/TimeFrequencyPages.h"

#include "ui/FormLogSweep.h"
#include "ui/FormWidgets.h"
#include "ui/LogSweepView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include <cmath>

namespace audimera {

namespace {

constexpr int ProgressSteps = 1000;
constexpr int ControlsPerRow = 4;

using forms::named;
using forms::number;
using forms::spinBox;

// A list of (text, data) items with the item of data current.
QComboBox* list(std::initializer_list<std::pair<const char*, int>> items, int current)
{
    auto* box = new QComboBox;
    for (const auto& [text, data] : items)
        box->addItem(QString::fromUtf8(text), data);
    box->setCurrentIndex(std::max(0, box->findData(current)));
    return box;
}

// A level read off the waterfall or the spectrogram; nothing without one.
QString levelReadout(const std::optional<TimeFrequencyPlots::Reading>& at)
{
    if (!at)
        return {};
    return QStringLiteral("%1 Hz, %2 ms, %3 dB").arg(number(at->hz, 1), number(at->ms, 2), number(at->db, 1));
}

} // namespace

// ---------------------------------------------------------------- analysis

TimeFrequencyAnalysis::TimeFrequencyAnalysis(QObject* parent) : QObject(parent)
{
    m_poll.setInterval(PollMs);
    connect(&m_poll, &QTimer::timeout, this, [this] { poll(); });
}

void TimeFrequencyAnalysis::setInput(std::shared_ptr<const ImpulseData> input)
{
    m_input = std::move(input);
    invalidate();
}

void TimeFrequencyAnalysis::invalidate()
{
    // A job still running ends on its own; poll() drops what it gives.
    job().cancel();
    m_current = false;
    dropResult();
    m_note.clear();
    m_stale = m_input != nullptr;
    emit resultChanged();
}

void TimeFrequencyAnalysis::start()
{
    if (!m_stale || !m_input)
        return;
    m_stale = false;
    m_current = true;
    m_note.clear();
    startJob(m_input);
    m_poll.start();
    emit resultChanged();
}

void TimeFrequencyAnalysis::cancel()
{
    if (running())
        job().cancel();
}

void TimeFrequencyAnalysis::poll()
{
    if (job().running()) {
        if (m_current)
            emit progressed();
        return;
    }
    m_poll.stop();
    const bool current = m_current;
    m_current = false;
    if (!job().finished())
        return;
    const Status taken = takeResult();
    if (!current) {
        // Cancelled for a new input or new settings.
        dropResult();
        return;
    }
    if (!taken) {
        const bool stopped = taken.kind() == Failure::Cancelled;
        m_note = QString::fromStdString(stopped ? std::string(AnalysisCancelledMessage) : taken.message());
        // Stopped by the user: it runs again when its tab is next shown.
        m_stale = stopped;
    }
    emit resultChanged();
}

// ---------------------------------------------------------------- page

TimeFrequencyPage::TimeFrequencyPage(TimeFrequencyAnalysis& analysis, QWidget* parent)
    : QWidget(parent), m_analysis(analysis)
{
    m_controls = new QGridLayout;
    // The controls packed to the left, however few.
    m_controls->setColumnStretch(2 * ControlsPerRow, 1);
    m_progress = named(new QProgressBar, "ProgressLogAnalysis", "How far the analysis got");
    m_progress->setRange(0, ProgressSteps);
    m_progress->setFormat(QStringLiteral("Analysing: %p %"));
    m_cancel = named(new QPushButton(QStringLiteral("Cancel")), "cmdLogAnalysisCancel", "Stop the analysis");
    m_cancel->setAutoDefault(false);
    // Kept in place while hidden, so the view does not jump.
    for (QWidget* w : std::initializer_list<QWidget*>{m_progress, m_cancel}) {
        QSizePolicy policy = w->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        w->setSizePolicy(policy);
        w->hide();
    }
    m_note = named(new QLabel, "LabelLogAnalysisNote", "Why there is nothing to show");
    m_note->setWordWrap(true);
    m_note->hide();

    auto* bar = new QHBoxLayout;
    bar->addWidget(m_progress, 1);
    bar->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(m_controls);
    layout->addLayout(bar);
    layout->addWidget(m_note);

    m_settle.setSingleShot(true);
    m_settle.setInterval(SettleMs);
    connect(&m_settle, &QTimer::timeout, this, [this] {
        applySettings();
        if (isVisible())
            m_analysis.start();
    });
    connect(m_cancel, &QPushButton::clicked, this, [this] { m_analysis.cancel(); });
    connect(&m_analysis, &TimeFrequencyAnalysis::progressed, this, [this] { refresh(); });
    connect(&m_analysis, &TimeFrequencyAnalysis::resultChanged, this, [this] {
        refresh();
        if (m_view)
            m_view->redraw();
    });
}

void TimeFrequencyPage::addView(const char* name, const char* toolTip, std::function<void(DrawingSurface&)> draw)
{
    m_view = named(new LogSweepView(std::move(draw)), name, toolTip);
    static_cast<QVBoxLayout*>(layout())->addWidget(m_view, 1);
    connect(m_view, &LogSweepView::hovered, this, [this](double x, double y) { emit hovered(readout(x, y)); });
    connect(m_view, &LogSweepView::left, this, [this] { emit left(); });
}

void TimeFrequencyPage::addControl(const char* caption, QWidget* control, const char* key, bool settles)
{
    const int row = m_count / ControlsPerRow;
    const int column = 2 * (m_count % ControlsPerRow);
    ++m_count;
    m_controls->addWidget(new QLabel(QString::fromUtf8(caption)), row, column, Qt::AlignRight);
    m_controls->addWidget(control, row, column + 1);
    m_kept.emplace_back(control, QString::fromLatin1(key));
    const auto changed = [this, settles] {
        if (settles)
            m_settle.start();
        else if (m_view)
            m_view->redraw();
    };
    if (auto* box = qobject_cast<QDoubleSpinBox*>(control))
        connect(box, &QDoubleSpinBox::valueChanged, this, changed);
    else if (auto* count = qobject_cast<QSpinBox*>(control))
        connect(count, &QSpinBox::valueChanged, this, changed);
    else if (auto* items = qobject_cast<QComboBox*>(control))
        connect(items, &QComboBox::currentIndexChanged, this, changed);
    else if (auto* check = qobject_cast<QCheckBox*>(control))
        connect(check, &QCheckBox::toggled, this, changed);
}

void TimeFrequencyPage::save(QSettings& settings) const
{
    for (const auto& [control, key] : m_kept) {
        if (auto* box = qobject_cast<QDoubleSpinBox*>(control))
            settings.setValue(key, box->value());
        else if (auto* count = qobject_cast<QSpinBox*>(control))
            settings.setValue(key, count->value());
        else if (auto* items = qobject_cast<QComboBox*>(control))
            settings.setValue(key, items->currentData());
        else if (auto* check = qobject_cast<QCheckBox*>(control))
            settings.setValue(key, check->isChecked());
    }
}

void TimeFrequencyPage::restore(QSettings& settings)
{
    for (const auto& [control, key] : m_kept) {
        const QVariant v = settings.value(key);
        bool ok = false;
        if (!v.isValid())
            continue;
        // Clamped to the boxes' ranges; a list keeps its item when none has the value.
        if (auto* box = qobject_cast<QDoubleSpinBox*>(control)) {
            if (const double d = v.toDouble(&ok); ok)
                box->setValue(d);
        } else if (auto* count = qobject_cast<QSpinBox*>(control)) {
            if (const int n = v.toInt(&ok); ok)
                count->setValue(n);
        } else if (auto* items = qobject_cast<QComboBox*>(control)) {
            if (const int i = items->findData(v.toInt(&ok)); ok && i >= 0)
                items->setCurrentIndex(i);
        } else if (auto* check = qobject_cast<QCheckBox*>(control)) {
            check->setChecked(v.toBool());
        }
    }
    m_settle.stop();
    applySettings();
}

void TimeFrequencyPage::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_analysis.start();
    refresh();
}

void TimeFrequencyPage::refresh()
{
    const bool running = m_analysis.running();
    m_progress->setVisible(running);
    m_cancel->setVisible(running);
    m_progress->setValue(running ? static_cast<int>(std::lround(m_analysis.progress() * ProgressSteps)) : 0);
    m_note->setText(m_analysis.note());
    m_note->setVisible(!m_analysis.note().isEmpty());
}

// ---------------------------------------------------------------- waterfall

WaterfallPage::WaterfallPage(WaterfallAnalysis& analysis, QWidget* parent)
    : TimeFrequencyPage(analysis, parent), m_waterfall(analysis)
{
    const WaterfallSettings d;
    m_start = named(spinBox(-100, 5000, d.startMs, 1, " ms"), "SpinWaterfallStart",
                    "Start of the first slice, in ms after the impulse response's peak");
    m_end = named(spinBox(-100, 5000, d.endMs, 1, " ms"), "SpinWaterfallEnd",
                  "Start of the last slice, in ms after the peak");
    m_slices = named(new QSpinBox, "SpinWaterfallSlices", "Number of slices, evenly spaced from the start to the end");
    m_slices->setRange(2, 200);
    m_slices->setValue(d.slices);
    m_window = named(spinBox(1, 2000, d.windowMs, 1, " ms"), "SpinWaterfallWindow",
                     "Length of each slice's window after its start, in ms; its last third is tapered. Longer "
                     "resolves lower frequencies, shorter shows faster decays");
    m_rise = named(spinBox(0, 50, d.riseMs, 2, " ms"), "SpinWaterfallRise",
                   "Half-Hann rise before each slice's start, in ms");
    m_smooth = named(new QComboBox, "ComboWaterfallSmooth", "Smoothing of each slice's spectrum");
    for (std::size_t i = 0; i < std::size(FormLogSweep::SmoothingItems); ++i)
        m_smooth->addItem(QString::fromLatin1(FormLogSweep::SmoothingTexts[i]), FormLogSweep::SmoothingItems[i]);
    m_smooth->setCurrentIndex(std::max(0, m_smooth->findData(d.smoothing)));
    m_low = named(spinBox(1, 100000, d.lowHz, 1, " Hz"), "SpinWaterfallLow", "Lowest frequency shown, in Hz");
    m_high = named(spinBox(1, 100000, d.highHz, 1, " Hz"), "SpinWaterfallHigh",
                   "Highest frequency shown, in Hz (below half the rate)");
    m_range = named(spinBox(10, 150, d.rangeDb, 0, " dB"), "SpinWaterfallRange",
                    "Levels shown below the first slice's highest, in dB");

    addControl("Start:", m_start, "waterfallStart", true);
    addControl("End:", m_end, "waterfallEnd", true);
    addControl("Slices:", m_slices, "waterfallSlices", true);
    addControl("Window:", m_window, "waterfallWindow", true);
    addControl("Rise:", m_rise, "waterfallRise", true);
    addControl("Smoothing:", m_smooth, "waterfallSmoothing", true);
    addControl("From:", m_low, "waterfallLow", true);
    addControl("To:", m_high, "waterfallHigh", true);
    addControl("Range:", m_range, "waterfallRange", true);
    addView("ViewLogWaterfall",
            "Cumulative spectral decay: the spectrum from successive start times, the first in front, later ones "
            "set back; what rings on stays up in the later slices",
            [this](DrawingSurface& s) { TimeFrequencyPlots::drawWaterfall(s, m_waterfall.result()); });
    applySettings();
}

WaterfallSettings WaterfallPage::settings() const
{
    WaterfallSettings s;
    s.startMs = m_start->value();
    s.endMs = m_end->value();
    s.slices = m_slices->value();
    s.windowMs = m_window->value();
    s.riseMs = m_rise->value();
    s.smoothing = m_smooth->currentData().toInt();
    s.lowHz = m_low->value();
    s.highHz = m_high->value();
    s.rangeDb = m_range->value();
    return s;
}

void WaterfallPage::applySettings()
{
    m_waterfall.setSettings(settings());
}

QString WaterfallPage::readout(double x, double y) const
{
    const WaterfallResult* r = m_waterfall.result();
    return levelReadout(r ? TimeFrequencyPlots::waterfallAt(*r, x, y) : std::nullopt);
}

// ---------------------------------------------------------------- spectrogram

SpectrogramPage::SpectrogramPage(SpectrogramAnalysis& analysis, QWidget* parent)
    : TimeFrequencyPage(analysis, parent), m_spectrogram(analysis)
{
    using Window = SpectrogramSettings::Window;
    const SpectrogramSettings d;
    m_window = named(list({{"Gaussian", int(Window::Gaussian)}, {"Hann", int(Window::Hann)},
                           {"Wavelet", int(Window::Wavelet)}},
                          int(d.window)),
                     "ComboSpectrogramWindow",
                     "Gaussian or Hann: one window length for every frequency; Wavelet: a window of a fixed "
                     "number of cycles, short at high and long at low frequencies");
    m_length = named(spinBox(1, 1000, d.windowMs, 1, " ms"), "SpinSpectrogramWindow",
                     "Window length, in ms (Gaussian, Hann); with Wavelet the columns' spacing follows from it "
                     "and the overlap");
    m_overlap = named(spinBox(0, 99, d.overlap * 100, 0, " %"), "SpinSpectrogramOverlap",
                      "How much successive windows overlap, in percent: more gives finer time steps");
    m_cycles = named(spinBox(1, 50, d.cycles, 1, ""), "SpinSpectrogramCycles", "Wavelet: cycles per window");
    m_start = named(spinBox(-1000, 5000, d.startMs, 1, " ms"), "SpinSpectrogramStart",
                    "Start of the time range, in ms after the impulse response's peak");
    m_end = named(spinBox(-1000, 5000, d.endMs, 1, " ms"), "SpinSpectrogramEnd", "End of the time range, in ms after the peak");
    m_range = named(spinBox(10, 150, d.rangeDb, 0, " dB"), "SpinSpectrogramRange",
                    "Levels shown below the highest, in dB (the colour scale)");
    const auto wavelet = [this] {
        m_cycles->setEnabled(m_window->currentData().toInt() == int(SpectrogramSettings::Window::Wavelet));
    };
    connect(m_window, &QComboBox::currentIndexChanged, this, wavelet);
    wavelet();

    addControl("Window:", m_window, "spectrogramWindow", true);
    addControl("Length:", m_length, "spectrogramLength", true);
    addControl("Overlap:", m_overlap, "spectrogramOverlap", true);
    addControl("Cycles:", m_cycles, "spectrogramCycles", true);
    addControl("Start:", m_start, "spectrogramStart", true);
    addControl("End:", m_end, "spectrogramEnd", true);
    addControl("Range:", m_range, "spectrogramRange", true);
    addView("ViewLogSpectrogram", "Level over time (across) and frequency (up), by the colour scale beside it",
            [this](DrawingSurface& s) { TimeFrequencyPlots::drawSpectrogram(s, m_spectrogram.result()); });
    applySettings();
}

SpectrogramSettings SpectrogramPage::settings() const
{
    SpectrogramSettings s;
    s.window = static_cast<SpectrogramSettings::Window>(m_window->currentData().toInt());
    s.windowMs = m_length->value();
    s.overlap = m_overlap->value() / 100;
    s.cycles = m_cycles->value();
    s.startMs = m_start->value();
    s.endMs = m_end->value();
    s.rangeDb = m_range->value();
    return s;
}

void SpectrogramPage::applySettings()
{
    m_spectrogram.setSettings(settings());
}

QString SpectrogramPage::readout(double x, double y) const
{
    const SpectrogramResult* r = m_spectrogram.result();
    return levelReadout(r ? TimeFrequencyPlots::spectrogramAt(*r, x, y) : std::nullopt);
}

// ---------------------------------------------------------------- phase

PhasePage::PhasePage(PhaseResultAnalysis& analysis, QWidget* parent)
    : TimeFrequencyPage(analysis, parent), m_phase(analysis)
{
    using Curve = TimeFrequencyPlots::PhaseCurve;
    m_curve = named(list({{"Measured", int(Curve::Measured)}, {"Minimum", int(Curve::Minimum)},
                          {"Excess", int(Curve::Excess)}},
                         int(Curve::Measured)),
                    "ComboPhaseCurve",
                    "Measured: the phase after the measurement's delay; Minimum: the phase a minimum-phase device "
                    "of this magnitude would have; Excess: measured less minimum (delays, all-pass behaviour)");
    addControl("Phase:", m_curve, "phaseCurve", false);
    addView("ViewLogPhase", "Phase in degrees over frequency; frequencies too far below the peak level are left out",
            [this](DrawingSurface& s) { TimeFrequencyPlots::drawPhase(s, m_phase.result(), curve()); });
}

TimeFrequencyPlots::PhaseCurve PhasePage::curve() const
{
    return static_cast<TimeFrequencyPlots::PhaseCurve>(m_curve->currentData().toInt());
}

QString PhasePage::readout(double x, double y) const
{
    const PhaseResult* r = m_phase.result();
    const std::optional<TimeFrequencyPlots::Reading> at =
        r ? TimeFrequencyPlots::phaseAt(*r, curve(), x, y) : std::nullopt;
    if (!at)
        return {};
    return QStringLiteral("%1 Hz, %2°").arg(number(at->hz, 1), number(at->degrees, 1));
}

// ---------------------------------------------------------------- group delay

GroupDelayPage::GroupDelayPage(PhaseResultAnalysis& analysis, QWidget* parent)
    : TimeFrequencyPage(analysis, parent), m_phase(analysis)
{
    using Curve = TimeFrequencyPlots::DelayCurve;
    m_curve = named(list({{"Group delay", int(Curve::GroupDelay)}, {"Excess group delay", int(Curve::ExcessGroupDelay)}},
                         int(Curve::GroupDelay)),
                    "ComboGroupDelayCurve",
                    "Group delay: how late each frequency arrives; Excess group delay: the part of it the "
                    "minimum phase does not explain");
    m_remove = named(new QCheckBox(QStringLiteral("Remove the measurement's delay")), "CheckGroupDelayRemove",
                     "Give the delay after the measurement's delay (the sound card's and the path's) rather than "
                     "after the sweep left");
    addControl("Curve:", m_curve, "groupDelayCurve", false);
    addControl("", m_remove, "groupDelayRemove", false);
    addView("ViewLogGroupDelay", "Group delay in ms over frequency; frequencies too far below the peak level are left out",
            [this](DrawingSurface& s) {
                TimeFrequencyPlots::drawGroupDelay(s, m_phase.result(), curve(), delayRemoved());
            });
}

TimeFrequencyPlots::DelayCurve GroupDelayPage::curve() const
{
    return static_cast<TimeFrequencyPlots::DelayCurve>(m_curve->currentData().toInt());
}

bool GroupDelayPage::delayRemoved() const
{
    return m_remove->isChecked();
}

QString GroupDelayPage::readout(double x, double y) const
{
    const PhaseResult* r = m_phase.result();
    const std::optional<TimeFrequencyPlots::Reading> at =
        r ? TimeFrequencyPlots::groupDelayAt(*r, curve(), delayRemoved(), x, y) : std::nullopt;
    if (!at)
        return {};
    return QStringLiteral("%1 Hz, %2 ms").arg(number(at->hz, 1), number(at->ms, 3));
}

// ---------------------------------------------------------------- tabs

TimeFrequencyTabs::TimeFrequencyTabs(QTabWidget& tabs, QObject* parent)
    : QObject(parent), m_waterfall(waterfall, nullptr), m_spectrogram(spectrogram, nullptr),
      m_phase(analysePhase, nullptr)
{
    m_pages[0] = new WaterfallPage(m_waterfall);
    m_pages[1] = new SpectrogramPage(m_spectrogram);
    m_pages[2] = new PhasePage(m_phase);
    m_pages[3] = new GroupDelayPage(m_phase);
    const char* names[] = {"PageLogWaterfall", "PageLogSpectrogram", "PageLogPhase", "PageLogGroupDelay"};
    const char* titles[] = {"Waterfall", "Spectrogram", "Phase", "Group Delay"};
    for (int i = 0; i < 4; ++i) {
        m_pages[i]->setObjectName(QString::fromLatin1(names[i]));
        tabs.addTab(m_pages[i], QString::fromLatin1(titles[i]));
        connect(m_pages[i], &TimeFrequencyPage::hovered, this, &TimeFrequencyTabs::hovered);
        connect(m_pages[i], &TimeFrequencyPage::left, this, &TimeFrequencyTabs::left);
    }
}

TimeFrequencyTabs::~TimeFrequencyTabs()
{
    // Nothing starts while the pages go (a tab shown in place of one
    // deleted), and the pages, which read the analyses, go first when the
    // tab widget outlives this.
    for (TimeFrequencyAnalysis* a : analyses())
        a->setInput(nullptr);
    for (const QPointer<TimeFrequencyPage>& page : m_pages)
        delete page.data();
}

void TimeFrequencyTabs::setInput(std::shared_ptr<const ImpulseData> input)
{
    for (TimeFrequencyAnalysis* a : analyses())
        a->setInput(input);
    for (const QPointer<TimeFrequencyPage>& page : m_pages)
        if (page && page->isVisible())
            page->analysis().start();
}

void TimeFrequencyTabs::save(QSettings& settings) const
{
    for (const QPointer<TimeFrequencyPage>& page : m_pages)
        if (page)
            page->save(settings);
}

void TimeFrequencyTabs::restore(QSettings& settings)
{
    for (const QPointer<TimeFrequencyPage>& page : m_pages)
        if (page)
            page->restore(settings);
}

TimeFrequencyPage& TimeFrequencyTabs::page(int index) const
{
    return *m_pages[std::clamp(index, 0, 3)];
}

} // namespace audimera
