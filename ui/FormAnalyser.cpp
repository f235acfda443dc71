#include "ui/FormAnalyser.h"
#include "ui/FormWidgets.h"

#include "devices/SoundDevice.h"
#include "display/models/AnalyserPlot.h"
#include "engine/Host.h"
#include "ui/LogSweepView.h"
#include "ui/QtCalibrationStore.h"
#include "ui/presenter/MainPresenter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace audimera {

namespace {

using forms::named;

// ComboAnalyserAverage's entries: the averaging and its time constant.
struct AverageItem {
    const char* text;
    AnalyserAveraging averaging;
    double seconds;
};
constexpr AverageItem AverageItems[] = {{"None", AnalyserAveraging::None, 1.0},
                                        {"Exponential 0.125 s", AnalyserAveraging::Exponential, 0.125},
                                        {"Exponential 1 s", AnalyserAveraging::Exponential, 1.0},
                                        {"Exponential 8 s", AnalyserAveraging::Exponential, 8.0},
                                        {"Running", AnalyserAveraging::Running, 1.0}};

QSettings programSettings()
{
    return QSettings(QStringLiteral("Audimera"), QStringLiteral("Audimera"));
}

QString levelText(double db)
{
    return heardLevel(db) ? forms::number(db, 1) : QStringLiteral("--");
}

QString frequencyText(double hz)
{
    return hz >= 1000 ? forms::number(hz / 1000, hz >= 10000 ? 1 : 2) + QStringLiteral(" kHz")
                      : forms::number(hz, hz >= 100 ? 0 : 1) + QStringLiteral(" Hz");
}

QComboBox* combo(const char* name, const char* tip)
{
    return named(new QComboBox, name, tip);
}

// Selects the entry whose data is value; leaves the box as it is without one.
void selectData(QComboBox* box, const QVariant& value)
{
    if (const int i = box->findData(value); i >= 0)
        box->setCurrentIndex(i);
}

} // namespace

FormAnalyser::FormAnalyser(MainPresenter& presenter, Host& host, QWidget* parent)
    : FormWindow(parent),
      m_presenter(presenter),
      m_session(presenter.session()),
      m_host(host),
      m_store(std::make_unique<QtCalibrationStore>())
{
    setObjectName(QStringLiteral("FormAnalyser"));
    setWindowTitle(QStringLiteral("Analyser"));
    buildControls();
    restoreSettings();
    showCalibration();
    showMeter();
    refreshState();
}

FormAnalyser::~FormAnalyser() = default;

void FormAnalyser::buildControls()
{
    // --- The analyser.
    auto* analyser = new QGroupBox(QStringLiteral("Analyser"));
    auto* grid = new QGridLayout(analyser);
    m_fft = combo("ComboAnalyserFft",
                  "The transform's length in samples: longer resolves finer (the rate over the length, per line) "
                  "and reacts more slowly");
    for (int n : FftLengths)
        m_fft->addItem(QString::number(n), n);
    selectData(m_fft, 32768);
    m_window = combo("ComboAnalyserWindow",
                     "The window over each transform: Hann for music and noise, Flat top to read a tone's level "
                     "exactly, Rectangular only with periodic noise of the transform's own length (no leakage)");
    m_window->addItem(QStringLiteral("Hann"), int(AnalyserWindow::Hann));
    m_window->addItem(QStringLiteral("Flat top"), int(AnalyserWindow::FlatTop));
    m_window->addItem(QString::fromLatin1(RectangularText), int(AnalyserWindow::Rectangular));
    m_bands = combo("ComboAnalyserBands",
                    "What is shown: the transform's line, or fractional-octave bands (IEC 61260-1, base 10), each "
                    "the power of the lines inside it");
    for (int b : BandItems)
        m_bands->addItem(b == 0 ? QStringLiteral("FFT line") : QStringLiteral("1/%1 octave").arg(b), b);
    selectData(m_bands, 3);
    m_average = combo("ComboAnalyserAverage",
                      "How transforms are averaged: none (each shown as it comes), exponentially with a time "
                      "constant, or running (all since the start or Reset, equally)");
    for (int i = 0; i < int(std::size(AverageItems)); ++i)
        m_average->addItem(QString::fromLatin1(AverageItems[i].text), i);
    m_weighted = named(new QCheckBox(QStringLiteral("Weighted as the meter")), "CheckAnalyserWeighted",
                       "Weight the spectrum too with the meter's frequency weighting (A or C; Z leaves it as it is)");
    m_range = combo("ComboAnalyserRange", "The level span of the plot, in dB from its top");
    for (int r : RangeItems)
        m_range->addItem(QStringLiteral("%1 dB").arg(r), r);
    selectData(m_range, 120);
    m_reset = named(new QPushButton(QStringLiteral("Reset")), "ButtonAnalyserReset",
                    "Start the average, the peak hold and the meter's Leq, maximum and peak afresh");
    m_peak = named(new QCheckBox(QStringLiteral("Peak hold")), "CheckAnalyserPeak",
                   "Show each level's highest value since the start or the last reset (red)");
    m_peakReset = named(new QPushButton(QStringLiteral("Reset peak")), "ButtonAnalyserPeakReset",
                        "Forget the peak hold only");
    int row = 0;
    auto add = [&](QGridLayout* g, const char* caption, QWidget* w, QWidget* beside = nullptr) {
        g->addWidget(new QLabel(QString::fromUtf8(caption)), row, 0);
        g->addWidget(w, row, 1);
        if (beside)
            g->addWidget(beside, row, 2);
        ++row;
    };
    add(grid, "FFT length:", m_fft);
    add(grid, "Window:", m_window);
    add(grid, "Show:", m_bands);
    add(grid, "Averaging:", m_average, m_reset);
    grid->addWidget(m_weighted, row++, 1);
    add(grid, "Range:", m_range);
    grid->addWidget(m_peak, row, 1);
    grid->addWidget(m_peakReset, row++, 2);

    // --- The test signal.
    auto* signal = new QGroupBox(QStringLiteral("Signal"));
    auto* signalGrid = new QGridLayout(signal);
    m_signal = combo("ComboAnalyserSignal",
                     "What plays on the play device while the analyser runs: periodic noise repeats every transform "
                     "length, so each line is excited exactly (use the Rectangular window with it)");
    m_signal->addItem(QStringLiteral("None"), int(LiveSignal::None));
    m_signal->addItem(QStringLiteral("Periodic pink noise"), int(LiveSignal::PeriodicPink));
    m_signal->addItem(QStringLiteral("Periodic white noise"), int(LiveSignal::PeriodicWhite));
    m_signal->addItem(QStringLiteral("Sine"), int(LiveSignal::Sine));
    m_signalLevel = named(forms::spinBox(-80, -3, -20, 1, " dBFS"), "SpinAnalyserSignalLevel",
                          "The signal's RMS level, in dB re full scale (a full-scale sine is -3 dBFS)");
    m_sineHz = named(forms::spinBox(10, 20000, 1000, 1, " Hz"), "SpinAnalyserSineHz", "The sine's frequency, in Hz");
    for (QDoubleSpinBox* box : {m_signalLevel, m_sineHz})
        box->setKeyboardTracking(false);
    row = 0;
    add(signalGrid, "Signal:", m_signal);
    add(signalGrid, "Level:", m_signalLevel);
    add(signalGrid, "Sine:", m_sineHz);
    signalGrid->setRowStretch(row, 1);

    // --- The sound level meter.
    auto* meter = new QGroupBox(QStringLiteral("Sound level meter"));
    auto* meterGrid = new QGridLayout(meter);
    m_level = named(new QLabel, "LabelAnalyserLevel",
                    "The time-weighted sound level now: dB SPL with a calibration for this record device, else dB "
                    "re full scale (dBFS)");
    QFont big = m_level->font();
    big.setPointSizeF(big.pointSizeF() * 2.6);
    big.setBold(true);
    m_level->setFont(big);
    m_level->setMinimumWidth(QFontMetrics(big).horizontalAdvance(QStringLiteral("-188.8 dBFS")));
    m_note = named(new QLabel, "LabelAnalyserNote", "The weightings of the reading, or that it is not calibrated");
    m_weighting = combo("ComboAnalyserWeighting", "The frequency weighting (IEC 61672-1): A, C or Z (none)");
    for (const auto& [text, w] : {std::pair{"A", FrequencyWeighting::A}, std::pair{"C", FrequencyWeighting::C},
                                  std::pair{"Z", FrequencyWeighting::Z}})
        m_weighting->addItem(QString::fromLatin1(text), int(w));
    m_time = combo("ComboAnalyserTime", "The time weighting: Fast (0.125 s) or Slow (1 s)");
    m_time->addItem(QStringLiteral("Fast"), int(TimeWeighting::Fast));
    m_time->addItem(QStringLiteral("Slow"), int(TimeWeighting::Slow));
    m_leq = named(new QLabel, "LabelAnalyserLeq", "The equivalent continuous level since the start or Reset");
    m_max = named(new QLabel, "LabelAnalyserMax", "The highest time-weighted level since the start or Reset");
    m_peakLevel = named(new QLabel, "LabelAnalyserPeak",
                        "The highest weighted sample since the start or Reset (a full-scale sine peaks at 0 dBFS)");
    m_meterReset = named(new QPushButton(QStringLiteral("Reset")), "ButtonAnalyserMeterReset",
                         "Start Leq, the maximum and the peak afresh (the analyser's average and peak hold too)");
    m_calibrate = named(new QPushButton(QStringLiteral("Calibrate...")), "ButtonAnalyserCalibrate",
                        "Calibrate the meter for the record device in use: with a calibrator on the microphone, or "
                        "from the microphone's sensitivity");
    m_calibration = named(new QLabel, "LabelAnalyserCalibration",
                          "The calibration of the record device in use: when, with what and on which device it was made");
    m_calibration->setWordWrap(true);
    meterGrid->addWidget(m_level, 0, 0, 1, 4);
    meterGrid->addWidget(m_note, 1, 0, 1, 4);
    meterGrid->addWidget(new QLabel(QStringLiteral("Weighting:")), 2, 0);
    meterGrid->addWidget(m_weighting, 2, 1);
    meterGrid->addWidget(m_time, 2, 2);
    meterGrid->addWidget(m_leq, 3, 0, 1, 2);
    meterGrid->addWidget(m_max, 3, 2, 1, 2);
    meterGrid->addWidget(m_peakLevel, 4, 0, 1, 2);
    meterGrid->addWidget(m_meterReset, 4, 2);
    meterGrid->addWidget(m_calibrate, 4, 3);
    meterGrid->addWidget(m_calibration, 5, 0, 1, 4);

    // --- The plot and its read-outs.
    m_plot = named(new LogSweepView([this](DrawingSurface& s) { draw(s); }), "ViewAnalyserPlot",
                   "The spectrum: bars for bands, a line for the transform's lines; the peak hold red, the frozen "
                   "reference grey");
    m_unit = named(new QLabel, "LabelAnalyserUnit", "What the plot's levels are in");
    m_cursor = named(new QLabel, "LabelAnalyserCursor", "The frequency and level under the mouse, and what it shows there");
    m_status = named(new QLabel, "LabelAnalyserStatus",
                     "The resolution, the transforms averaged, the audio analysed and lost samples");
    m_status->setWordWrap(true);
    connect(m_plot, &LogSweepView::hovered, this, [this](double x, double y) { m_cursor->setText(readout(x, y)); });
    connect(m_plot, &LogSweepView::left, this, [this] { m_cursor->clear(); });

    // --- Commands.
    m_start = named(new QPushButton(QStringLiteral("Start")), "ButtonAnalyserStart",
                    "Analyse the record device in use (Settings > Record Device and Record Channel) until Stop");
    m_stop = named(new QPushButton(QStringLiteral("Stop")), "ButtonAnalyserStop", "Stop the analyser and the signal");
    m_freeze = named(new QPushButton(QStringLiteral("Freeze")), "ButtonAnalyserFreeze",
                     "Keep a copy of what is shown as a grey reference; press again to clear it");
    m_freeze->setCheckable(true);
    m_add = named(new QPushButton(QStringLiteral("Add to Frequency Response")), "ButtonAnalyserAdd",
                  "Add what is shown (the bands' levels, or the line) as a new trace of the Frequency Response window");
    for (QPushButton* b : {m_reset, m_peakReset, m_meterReset, m_calibrate, m_start, m_stop, m_freeze, m_add})
        b->setAutoDefault(false);

    auto* top = new QHBoxLayout;
    top->addWidget(analyser);
    top->addWidget(signal);
    top->addWidget(meter, 1);
    auto* readouts = new QHBoxLayout;
    readouts->addWidget(m_unit);
    readouts->addWidget(m_cursor, 1);
    auto* commands = new QHBoxLayout;
    for (QWidget* w : std::initializer_list<QWidget*>{m_start, m_stop, m_freeze, m_add})
        commands->addWidget(w);
    commands->addWidget(m_status, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_plot, 1);
    layout->addLayout(readouts);
    layout->addLayout(commands);

    m_dialog = new AnalyserCalibrationDialog(this);
    connect(m_dialog, &QDialog::accepted, this, [this] {
        if (const auto request = m_dialog->request())
            run([this, r = *request] { calibrate(r); });
    });

    // --- Wiring.
    for (QComboBox* box : {m_fft, m_window, m_bands, m_average, m_signal, m_weighting, m_time})
        connect(box, &QComboBox::currentIndexChanged, this, [this] { settingsChanged(); });
    for (QDoubleSpinBox* box : {m_signalLevel, m_sineHz})
        connect(box, &QDoubleSpinBox::valueChanged, this, [this] { settingsChanged(); });
    connect(m_weighted, &QCheckBox::toggled, this, [this] { settingsChanged(); });
    connect(m_range, &QComboBox::currentIndexChanged, this, [this] { m_plot->redraw(); });
    connect(m_peak, &QCheckBox::toggled, this, [this] { m_plot->redraw(); });
    connect(m_reset, &QPushButton::clicked, this, [this] { m_session.resetAnalyser(); });
    connect(m_meterReset, &QPushButton::clicked, this, [this] { m_session.resetAnalyser(); });
    connect(m_peakReset, &QPushButton::clicked, this, [this] { m_session.resetAnalyserPeak(); });
    connect(m_start, &QPushButton::clicked, this, [this] { run([this] { ButtonAnalyserStart_Click(); }); });
    connect(m_stop, &QPushButton::clicked, this, [this] { ButtonAnalyserStop_Click(); });
    connect(m_freeze, &QPushButton::clicked, this, [this] { ButtonAnalyserFreeze_Click(); });
    connect(m_add, &QPushButton::clicked, this, [this] { ButtonAnalyserAdd_Click(); });
    connect(m_calibrate, &QPushButton::clicked, this, [this] { ButtonAnalyserCalibrate_Click(); });

    m_poll = new QTimer(this);
    m_poll->setInterval(PollMs);
    connect(m_poll, &QTimer::timeout, this, [this] { poll(); });
    resize(1000, 700);
}

void FormAnalyser::run(std::function<void()> handler)
{
    if (m_runner)
        m_runner(std::move(handler));
    else
        handler();
}

// ---------------------------------------------------------------- settings

LiveSettings FormAnalyser::settings() const
{
    LiveSettings s;
    s.spectrum.fftLength = m_fft->currentData().toInt();
    s.spectrum.window = static_cast<AnalyserWindow>(m_window->currentData().toInt());
    s.spectrum.fraction = m_bands->currentData().toInt();
    const AverageItem& average = AverageItems[std::clamp(m_average->currentData().toInt(), 0, 4)];
    s.spectrum.averaging = average.averaging;
    s.spectrum.timeConstant = average.seconds;
    s.spectrum.updatesPerSecond = UpdatesPerSecond;
    s.channel = m_presenter.recordChannelChoice();
    s.weighting = static_cast<FrequencyWeighting>(m_weighting->currentData().toInt());
    s.timeWeighting = static_cast<TimeWeighting>(m_time->currentData().toInt());
    s.weightedSpectrum = m_weighted->isChecked();
    if (const std::optional<SplCalibration> c = calibration())
        s.calibrationOffsetDb = c->offsetDb;
    s.corrections = &m_session.corrections(CorrectionUse::LogSweep);
    s.signal = static_cast<LiveSignal>(m_signal->currentData().toInt());
    s.signalDbfs = m_signalLevel->value();
    s.sineHz = m_sineHz->value();
    return s;
}

void FormAnalyser::settingsChanged()
{
    if (m_restoring)
        return;
    refreshState();
    if (m_running)
        sendChanges();
}

SoundDeviceInfo FormAnalyser::recordDevice() const
{
    SoundDevice& sound = m_session.sound();
    const int index = sound.inputDevice();
    const std::vector<SoundDeviceInfo> devices = sound.recordDevices();
    if (index < 0 || index >= static_cast<int>(devices.size()))
        return {};
    return devices[static_cast<std::size_t>(index)];
}

std::optional<SplCalibration> FormAnalyser::calibration() const
{
    const SoundDeviceInfo device = recordDevice();
    if (device.name.empty())
        return std::nullopt;
    return m_store->load(device.name);
}

QString FormAnalyser::sensitivityNote() const
{
    const CorrectionTable& table = m_session.corrections(CorrectionUse::LogSweep);
    for (int i = CorrectionTable::Count - 1; i >= 0; --i) {
        const auto& sensitivity = table.sensitivity(i);
        if (table.enabled[static_cast<std::size_t>(i)] && sensitivity) {
            QString text = QStringLiteral("Sens Factor ") + forms::number(sensitivity->value, 2);
            if (!sensitivity->unit.empty())
                text += QLatin1Char(' ') + QString::fromStdString(sensitivity->unit);
            return text;
        }
    }
    return {};
}

// ---------------------------------------------------------------- state

void FormAnalyser::refreshState()
{
    const bool busy = m_session.busy();
    m_start->setEnabled(!m_running && !busy);
    m_stop->setEnabled(m_running || m_calibrating);
    for (QPushButton* b : {m_reset, m_peakReset, m_meterReset})
        b->setEnabled(m_running);
    m_freeze->setEnabled(m_reference.has_value() || !m_update.spectrum.levelsDb.empty());
    m_freeze->setChecked(m_reference.has_value());
    m_add->setEnabled(!m_update.spectrum.levelsDb.empty() && !m_session.sweeping());
    // While the analyser runs it stops for a calibrator; another run must end first.
    m_calibrate->setEnabled(m_running || !busy);
    if (m_calibrating) {
        m_start->setEnabled(false);
        m_calibrate->setEnabled(false);
    }
    const auto signal = static_cast<LiveSignal>(m_signal->currentData().toInt());
    m_signalLevel->setEnabled(signal != LiveSignal::None);
    m_sineHz->setEnabled(signal == LiveSignal::Sine);
}

void FormAnalyser::poll()
{
    refreshState();
    const CorrectionTable& table = m_session.corrections(CorrectionUse::LogSweep);
    const std::string device = recordDevice().name;
    if (table.enabled != m_corrections || device != m_device) {
        // The last readings were another device's: not shown as this one's.
        if (device != m_device && !m_running) {
            m_updates = 0;
            m_update.level = SoundLevelReading{};
        }
        m_corrections = table.enabled;
        m_device = device;
        showCalibration();
        if (m_running)
            sendChanges();
    }
}

double FormAnalyser::shownOffset() const
{
    return m_update.calibrated ? m_offset.value_or(0) : 0;
}

double FormAnalyser::topDb() const
{
    const double offset = shownOffset();
    return offset != 0 ? 10 * std::ceil(offset / 10) : 0;
}

void FormAnalyser::sendChanges()
{
    const LiveSettings s = settings();
    m_offset = s.calibrationOffsetDb;
    m_session.changeAnalyser(s);
}

void FormAnalyser::showCalibration()
{
    const SoundDeviceInfo device = recordDevice();
    const QString name = QString::fromStdString(device.description.empty() ? device.name : device.description);
    QString text;
    if (device.name.empty()) {
        text = QStringLiteral("No record device in use.");
    } else if (const std::optional<SplCalibration> c = m_store->load(device.name)) {
        text = QStringLiteral("Calibrated: ") + QString::fromStdString(c->describe())
            + QStringLiteral(" (%1 dB)").arg(forms::number(c->offsetDb, 2));
    } else {
        text = QStringLiteral("Not calibrated for %1: the meter reads dBFS.").arg(name);
        // Another device's calibration is never applied; saying so tells
        // why a known calibration does not show.
        for (const SplCalibration& other : m_store->all())
            if (other.device != device.name) {
                text += QStringLiteral(" A calibration exists for %1.")
                            .arg(QString::fromStdString(other.description.empty() ? other.device : other.description));
                break;
            }
    }
    const QString sensitivity = sensitivityNote();
    if (!sensitivity.isEmpty())
        text += QStringLiteral(" Microphone file: ") + sensitivity + QLatin1Char('.');
    m_calibration->setText(text);
    // Between runs the meter's unit follows the record device.
    if (!m_running)
        showMeter();
}

void FormAnalyser::showMeter()
{
    const bool have = m_updates > 0;
    const bool calibrated = have ? m_update.calibrated : calibration().has_value();
    const QString unit = calibrated ? QStringLiteral(" dB SPL") : QStringLiteral(" dBFS");
    const SoundLevelReading& r = m_update.level;
    m_level->setText(levelText(have ? r.levelDb : -400) + unit);
    const QString weights = m_weighting->currentText() + QStringLiteral(", ") + m_time->currentText();
    m_note->setText(calibrated ? weights : weights + QStringLiteral("; ") + QString::fromLatin1(NotCalibratedNote));
    m_leq->setText(QStringLiteral("Leq %1").arg(levelText(have ? r.leqDb : -400)) + unit);
    m_max->setText(QStringLiteral("Max %1").arg(levelText(have ? r.maxLevelDb : -400)) + unit);
    // The peak is of the weighted samples, re full scale, plus the offset.
    m_peakLevel->setText(QStringLiteral("Peak %1").arg(levelText(have ? r.peakDb : -400)) + unit);
    m_unit->setText(calibrated ? QStringLiteral("Levels in dB SPL") : QStringLiteral("Levels in dBFS"));
}

// ---------------------------------------------------------------- the run

void FormAnalyser::ButtonAnalyserStart_Click()
{
    if (m_running || m_session.busy()) {
        refreshState();
        return;
    }
    // The record device in use decides the calibration applied.
    showCalibration();
    for (;;) {
        const LiveSettings s = settings();
        m_offset = s.calibrationOffsetDb;
        if (const Status checked = SpectrumAnalyser::check(s.spectrum, m_session.sound().captureRate()); !checked) {
            m_host.message(checked.message(), MessageIcon::Exclamation);
            return;
        }
        m_running = true;
        m_updates = 0;
        m_update.spectrum = SpectrumFrame{};
        m_update.level = SoundLevelReading{};
        refreshState();
        const Status ran = m_session.runAnalyser(s, *this);
        m_running = false;
        refreshState();
        if (ran || ran.kind() != Failure::Cancelled || !m_pendingCalibration) {
            if (!ran && ran.kind() != Failure::Cancelled && ran.kind() != Failure::Busy) {
                const bool device = ran.kind() == Failure::Device || ran.kind() == Failure::LostSamples;
                m_host.message(ran.message(), device ? MessageIcon::Critical : MessageIcon::Exclamation);
            }
            m_pendingCalibration.reset();
            return;
        }
        // Stopped for a calibrator: measured now, then analysed again
        // (unless the calibration was stopped too).
        const AnalyserCalibrationDialog::Request request = *m_pendingCalibration;
        m_pendingCalibration.reset();
        if (const Status measured = measureCalibrator(request); !measured && measured.kind() == Failure::Cancelled)
            return;
    }
}

void FormAnalyser::stopAnalyser()
{
    m_pendingCalibration.reset();
    if (m_running || m_calibrating)
        m_session.stop();
}

void FormAnalyser::liveUpdate(const LiveUpdate& update)
{
    const bool had = !m_update.spectrum.levelsDb.empty();
    m_update = update;
    ++m_updates;
    m_plot->redraw();
    showMeter();
    const SpectrumFrame& f = update.spectrum;
    QString text = QStringLiteral("%1 Hz per line, %2 s at %3 Hz")
                       .arg(forms::number(f.binHz, 2), forms::number(update.seconds, 1))
                       .arg(update.rate);
    if (AverageItems[std::clamp(m_average->currentData().toInt(), 0, 4)].averaging != AnalyserAveraging::None)
        text += QStringLiteral(", %1 transforms averaged").arg(f.transforms);
    // The bands too narrow for the transform lie at the bottom of the range.
    const auto unresolved = std::find(f.resolved.rbegin(), f.resolved.rend(), false);
    if (unresolved != f.resolved.rend()) {
        const std::size_t last =
            std::min(static_cast<std::size_t>(f.resolved.rend() - unresolved) - 1, f.bands.size() - 1);
        text += QStringLiteral("; bands up to %1 (pale) are narrower than it resolves: a longer FFT resolves them")
                    .arg(frequencyText(f.bands[last].centreHz));
    }
    if (update.gap)
        text += QStringLiteral("; samples were lost, the average started again");
    m_status->setText(text);
    // Freeze and Add follow the first spectrum (none before the first transform).
    if (had != !update.spectrum.levelsDb.empty())
        refreshState();
}

void FormAnalyser::draw(DrawingSurface& surface)
{
    AnalyserPlot::View view;
    view.frame = &m_update.spectrum;
    view.reference = m_reference ? &*m_reference : nullptr;
    view.peakHold = m_peak->isChecked();
    view.referenceOffsetDb = shownOffset() - m_referenceOffset;
    view.top = topDb();
    view.span = m_range->currentData().toInt();
    view.labelBoxes = &m_labelBoxes;
    AnalyserPlot::draw(surface, view);
}

QString FormAnalyser::readout(double x, double y) const
{
    const double hz = AnalyserPlot::frequencyAt(x);
    AnalyserPlot::View view;
    view.top = topDb();
    const QString unit = m_update.calibrated ? QStringLiteral(" dB SPL") : QStringLiteral(" dBFS");
    QString text = frequencyText(hz) + QStringLiteral(", ") + forms::number(AnalyserPlot::levelAt(view, y), 1) + unit;
    const SpectrumFrame& f = m_update.spectrum;
    if (const std::optional<std::size_t> i = AnalyserPlot::indexAt(f, hz); i && *i < f.levelsDb.size()) {
        const QString where = f.bands.empty() ? QStringLiteral("line at ") + frequencyText(f.frequencies[*i])
                                              : QStringLiteral("band ") + QString::fromStdString(f.bands[*i].label);
        text += QStringLiteral("   %1: %2").arg(where, levelText(f.levelsDb[*i])) + unit;
        if (m_peak->isChecked() && *i < f.peakDb.size())
            text += QStringLiteral(" (peak %1)").arg(levelText(f.peakDb[*i]));
        if (*i < f.resolved.size() && !f.resolved[*i])
            text += QStringLiteral(", narrower than the FFT resolves: a tone reads low");
    }
    return text;
}

// ---------------------------------------------------------------- handlers

void FormAnalyser::ButtonAnalyserFreeze_Click()
{
    if (m_reference)
        m_reference.reset();
    else if (!m_update.spectrum.levelsDb.empty()) {
        m_reference = m_update.spectrum;
        m_referenceOffset = shownOffset();
    }
    refreshState();
    m_plot->redraw();
}

void FormAnalyser::ButtonAnalyserAdd_Click()
{
    const SpectrumFrame& f = m_update.spectrum;
    if (f.levelsDb.empty())
        return;
    std::vector<ResponsePoint> points;
    if (!f.bands.empty()) {
        for (std::size_t i = 0; i < f.bands.size() && i < f.levelsDb.size(); ++i)
            if (heardLevel(f.levelsDb[i]))
                points.push_back({f.bands[i].centreHz, f.levelsDb[i], std::nullopt});
    } else {
        // The line thinned to a point per 1/96 octave at most, so the low
        // lines keep their detail where the trace's thinning by count would not.
        const double step = std::pow(2.0, 1.0 / 96);
        double next = 0;
        for (std::size_t i = 0; i < f.frequencies.size() && i < f.levelsDb.size(); ++i)
            if (f.frequencies[i] > 0 && f.frequencies[i] >= next && heardLevel(f.levelsDb[i])) {
                points.push_back({f.frequencies[i], f.levelsDb[i], std::nullopt});
                next = f.frequencies[i] * step;
            }
    }
    if (!m_presenter.addResponseTrace(points))
        return;
    MeasurementDocument& document = m_session.document();
    const QString name = f.bands.empty() ? QStringLiteral("Analyser FFT line")
                                         : QStringLiteral("Analyser %1").arg(m_bands->currentText());
    document.setTraceName(document.traces().GetTraceCount() - 1, name.toStdString());
}

void FormAnalyser::ButtonAnalyserCalibrate_Click()
{
    const SoundDeviceInfo device = recordDevice();
    if (device.name.empty()) {
        m_host.message("Open a record device first (Settings > Record Device).", MessageIcon::Exclamation);
        return;
    }
    const QString sensitivity = sensitivityNote();
    // A file stating its level in dBFS (of 1 Pa) fills the box.
    std::optional<double> dbfs;
    const CorrectionTable& table = m_session.corrections(CorrectionUse::LogSweep);
    for (int i = CorrectionTable::Count - 1; i >= 0 && !dbfs; --i)
        if (const auto& s = table.sensitivity(i);
            s && table.enabled[static_cast<std::size_t>(i)] && QString::fromStdString(s->unit).startsWith(QLatin1String("dBFS")))
            dbfs = s->value;
    m_dialog->prepare(QString::fromStdString(device.description.empty() ? device.name : device.description),
                      sensitivity.isEmpty() ? QStringLiteral("No correction file ticked in the Log Sweep window "
                                                             "states a sensitivity")
                                            : sensitivity,
                      dbfs);
    m_dialog->open();
}

void FormAnalyser::calibrate(const AnalyserCalibrationDialog::Request& request)
{
    if (request.sensitivity) {
        SplCalibration c;
        c.source = SplCalibration::Source::Sensitivity;
        c.dbfsPerPascal = request.dbfsPerPascal;
        c.offsetDb = SplCalibration::offsetFromSensitivity(request.dbfsPerPascal);
        keep(c);
        return;
    }
    if (m_running) {
        // The calibrator needs the device: measured once the analyser
        // stopped, in the Start handler, which then starts it again.
        m_pendingCalibration = request;
        m_session.stop();
        return;
    }
    if (m_session.busy()) {
        m_host.message("Another measurement is running; calibrate when it has ended.", MessageIcon::Exclamation);
        return;
    }
    (void)measureCalibrator(request); // a failure was shown
}

Status FormAnalyser::measureCalibrator(const AnalyserCalibrationDialog::Request& request)
{
    m_calibration->setText(QStringLiteral("Measuring the calibrator (%1 s)...").arg(forms::number(CalibrationSeconds, 0)));
    m_calibrating = true;
    refreshState();
    const Result<double> offset =
        m_session.measureCalibration(request.referenceDb, CalibrationSeconds, m_presenter.recordChannelChoice());
    m_calibrating = false;
    refreshState();
    if (!offset) {
        showCalibration();
        if (offset.kind() != Failure::Cancelled)
            m_host.message("The calibration failed: " + offset.message(),
                           offset.kind() == Failure::Device ? MessageIcon::Critical : MessageIcon::Exclamation);
        return offset.error();
    }
    SplCalibration c;
    c.source = SplCalibration::Source::Calibrator;
    c.referenceDb = request.referenceDb;
    c.offsetDb = *offset;
    keep(c);
    return {};
}

void FormAnalyser::keep(SplCalibration c)
{
    const SoundDeviceInfo device = recordDevice();
    c.device = device.name;
    c.description = device.description;
    c.madeAt = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")).toStdString();
    m_store->save(c);
    showCalibration();
    if (m_running)
        sendChanges();
}

// ---------------------------------------------------------------- window

void FormAnalyser::showEvent(QShowEvent* event)
{
    m_device = recordDevice().name;
    m_corrections = m_session.corrections(CorrectionUse::LogSweep).enabled;
    showCalibration();
    refreshState();
    m_poll->start();
    FormWindow::showEvent(event);
}

void FormAnalyser::hideEvent(QHideEvent* event)
{
    stopAnalyser();
    m_poll->stop();
    saveSettings();
    FormWindow::hideEvent(event);
}

void FormAnalyser::saveSettings() const
{
    QSettings settings = programSettings();
    settings.beginGroup(QString::fromLatin1(SettingsGroup));
    settings.setValue(QStringLiteral("geometry"), saveGeometry());
    settings.setValue(QStringLiteral("fft"), m_fft->currentData());
    settings.setValue(QStringLiteral("window"), m_window->currentData());
    settings.setValue(QStringLiteral("bands"), m_bands->currentData());
    settings.setValue(QStringLiteral("average"), m_average->currentData());
    settings.setValue(QStringLiteral("range"), m_range->currentData());
    settings.setValue(QStringLiteral("peak"), m_peak->isChecked());
    settings.setValue(QStringLiteral("weighted"), m_weighted->isChecked());
    settings.setValue(QStringLiteral("signal"), m_signal->currentData());
    settings.setValue(QStringLiteral("signalLevel"), m_signalLevel->value());
    settings.setValue(QStringLiteral("sineHz"), m_sineHz->value());
    settings.setValue(QStringLiteral("weighting"), m_weighting->currentData());
    settings.setValue(QStringLiteral("time"), m_time->currentData());
    settings.endGroup();
}

void FormAnalyser::restoreSettings()
{
    m_restoring = true;
    QSettings settings = programSettings();
    settings.beginGroup(QString::fromLatin1(SettingsGroup));
    if (settings.contains(QStringLiteral("geometry")))
        restoreGeometry(settings.value(QStringLiteral("geometry")).toByteArray());
    const std::pair<const char*, QComboBox*> combos[] = {{"fft", m_fft},       {"window", m_window},
                                                         {"bands", m_bands},   {"average", m_average},
                                                         {"range", m_range},   {"signal", m_signal},
                                                         {"weighting", m_weighting}, {"time", m_time}};
    for (const auto& [key, box] : combos)
        if (settings.contains(QString::fromLatin1(key)))
            selectData(box, settings.value(QString::fromLatin1(key)).toInt());
    m_peak->setChecked(settings.value(QStringLiteral("peak"), false).toBool());
    m_weighted->setChecked(settings.value(QStringLiteral("weighted"), false).toBool());
    bool ok = false;
    if (const double v = settings.value(QStringLiteral("signalLevel")).toDouble(&ok); ok)
        m_signalLevel->setValue(v);
    if (const double v = settings.value(QStringLiteral("sineHz")).toDouble(&ok); ok)
        m_sineHz->setValue(v);
    settings.endGroup();
    m_restoring = false;
}

} // namespace audimera
