#include "ui/FormLogSweep.h"
#include "ui/FormWidgets.h"

#include "curves/CurveFile.h"
#include "curves/ExchangeFiles.h"
#include "curves/ImpulseFile.h"
#include "display/models/LogSweepPlots.h"
#include "engine/FileDialog.h"
#include "engine/FileTypes.h"
#include "engine/Host.h"
#include "engine/ImpulseData.h"
#include "ui/presenter/MainPresenter.h"
#include "devices/SoundDevice.h"
#include "ui/LogSweepView.h"
#include "ui/MeasurementListPanel.h"
#include "ui/RoomPage.h"
#include "ui/TimeFrequencyPages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QScrollArea>
#include <QSpinBox>
#include <QSplitter>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace audimera {

namespace {

constexpr int ProgressSteps = 1000;
constexpr int DefaultLengthIndex = 3; // 2^18
constexpr int ListMinimumHeight = 40; // px, the measurement list's least (it scrolls)
constexpr const char* CorrectionBoxes[] = {"CheckLogSPLCorrect", "CheckLogSoundCard", "CheckLogUserCalib"};

QSettings programSettings()
{
    return QSettings(QStringLiteral("Audimera"), QStringLiteral("Audimera"));
}

using forms::named;
using forms::number;

// A spin box whose value is taken when an edit is done, not at every key.
QDoubleSpinBox* spin(double low, double high, double value, int decimals, const char* suffix)
{
    QDoubleSpinBox* box = forms::spinBox(low, high, value, decimals, suffix);
    box->setKeyboardTracking(false);
    return box;
}

// The result point nearest to frequency f of points sorted by frequency.
template <typename Point>
const Point* nearestPoint(const std::vector<Point>& points, double f)
{
    if (points.empty())
        return nullptr;
    auto it = std::lower_bound(points.begin(), points.end(), f,
                               [](const Point& p, double value) { return p.frequency < value; });
    if (it == points.end())
        return &points.back();
    if (it != points.begin() && std::abs(std::log(f / std::prev(it)->frequency)) < std::abs(std::log(it->frequency / f)))
        --it;
    return &*it;
}

} // namespace

FormLogSweep::FormLogSweep(MainPresenter& presenter, Host& host, FileDialog& dialog, QWidget* parent)
    : FormWindow(parent), m_presenter(presenter), m_session(presenter.session()), m_host(host), m_dialog(dialog)
{
    setObjectName(QStringLiteral("FormLogSweep"));
    setWindowTitle(QStringLiteral("Log Sweep"));
    buildControls();
    restoreSettings();
    // Runs of the main window change what may start here; their flags are
    // set just after they say so, hence the second look a turn later.
    m_presenter.setActivityListener([this] {
        refreshState();
        QTimer::singleShot(0, this, [this] { refreshState(); });
    });
    refreshState();
}

FormLogSweep::~FormLogSweep()
{
    m_presenter.setActivityListener({});
}

void FormLogSweep::buildControls()
{
    auto* layout = new QVBoxLayout(this);

    auto* setup = new QGroupBox(QStringLiteral("Sweep"));
    auto* form = new QGridLayout(setup);
    m_start = named(spin(LogSweep::MinFrequency, LogSweep::MaxFrequency, 20, 1, " Hz"), "SpinLogStart",
                    "Start of the reported range, in Hz (the sweep itself begins an octave or more lower)");
    m_stop = named(spin(LogSweep::MinFrequency, LogSweep::MaxFrequency, 20000, 1, " Hz"), "SpinLogStop",
                   "End of the reported range, in Hz");
    m_length = named(new QComboBox, "ComboLogLength",
                     "Samples played: a longer sweep lowers the noise and reaches lower frequencies");
    m_level = named(spin(LogSweep::MinLevelDb, LogSweep::MaxLevelDb, -6, 1, " dBFS"), "SpinLogLevel",
                    "Peak level of the sweep, in dB re full scale");
    m_reference = named(new QComboBox, "ComboLogReference",
                        "A record channel wired straight to the output: the other channel is measured against "
                        "it, which removes the sound card's own response and delay");
    m_reference->addItem(QStringLiteral("None"), int(LogSweepSettings::Reference::None));
    m_reference->addItem(QStringLiteral("Left"), int(LogSweepSettings::Reference::Left));
    m_reference->addItem(QStringLiteral("Right"), int(LogSweepSettings::Reference::Right));
    m_gate = named(spin(0, LogSweepSettings::MaxGateMs, 0, 1, " ms"), "SpinLogGate",
                   "Impulse response gate after its peak, in ms (reflections after it are left out): flat to it, "
                   "then a half-Hann taper of 20 % of it; Auto: up to the first harmonic response");
    m_gate->setSpecialValueText(QStringLiteral("Auto"));
    m_smooth = named(new QComboBox, "ComboLogSmooth", "Smoothing of magnitude, phase and distortion");
    for (size_t i = 0; i < std::size(SmoothingItems); ++i)
        m_smooth->addItem(QString::fromLatin1(SmoothingTexts[i]), SmoothingItems[i]);
    m_phaseRef = named(new QComboBox, "ComboPhaseRef",
                       "What the phase is given relative to. Auto: the delay at which the response lines up best "
                       "with its minimum phase, so that a minimum-phase device shows its own phase; Peak: the "
                       "impulse response's peak (through a low-pass it comes later than the sound); Reference: the "
                       "reference channel's timing (without one, Auto); Delay: the delay given beside, in ms");
    m_phaseRef->addItem(QStringLiteral("Auto"), int(LogSweepSettings::PhaseRef::Auto));
    m_phaseRef->addItem(QStringLiteral("Peak"), int(LogSweepSettings::PhaseRef::Peak));
    m_phaseRef->addItem(QStringLiteral("Reference"), int(LogSweepSettings::PhaseRef::Reference));
    m_phaseRef->addItem(QStringLiteral("Delay"), int(LogSweepSettings::PhaseRef::Delay));
    m_phaseDelay = named(spin(-LogSweepSettings::MaxPhaseDelayMs, LogSweepSettings::MaxPhaseDelayMs, 0, 3, " ms"),
                         "TextPhaseDelay",
                         "With the phase reference Delay: the delay the phase is given relative to, in ms after the "
                         "sweep left (with a reference channel, after the reference)");
    m_phaseDelay->setEnabled(false);
    fillLengths();

    int row = 0;
    auto add = [&](const char* caption, QWidget* left, QWidget* right = nullptr) {
        form->addWidget(new QLabel(QString::fromUtf8(caption)), row, 0);
        form->addWidget(left, row, 1);
        if (right)
            form->addWidget(right, row, 2);
        ++row;
    };
    add("Range:", m_start, m_stop);
    add("Length:", m_length);
    add("Level:", m_level);
    add("Reference:", m_reference);
    add("Gate:", m_gate);
    add("Smoothing:", m_smooth);
    add("Phase reference:", m_phaseRef, m_phaseDelay);

    const char* correctionCaptions[] = {"Correct for 'C' SPL curve", "Correct Sound Card curve",
                                        "User Calibration file:"};
    const char* correctionTips[] = {"Subtract the 'C' curve of an SPL meter (SPL C Curve.txt)",
                                    "Subtract the sound card's own response (SoundCard.txt)",
                                    "Subtract the curve of the file named beside"};
    for (int i = 0; i < CorrectionTable::Count; ++i) {
        m_correct[i] = named(new QCheckBox(QString::fromUtf8(correctionCaptions[i])), CorrectionBoxes[i],
                             correctionTips[i]);
        connect(m_correct[i], &QCheckBox::clicked, this, [this, i] { run([this, i] { CheckLogCorrection_Click(i); }); });
    }
    m_userFile = named(new QLineEdit(QStringLiteral("UserCalib.txt")), "txtLogUserCalibFile",
                       "The user calibration file");
    m_browse = named(new QToolButton, "cmdLogCalibBrowse", "Choose the user calibration file");
    m_browse->setText(QStringLiteral("..."));
    form->addWidget(m_correct[0], row++, 0, 1, 3);
    form->addWidget(m_correct[1], row++, 0, 1, 3);
    auto* user = new QHBoxLayout;
    user->addWidget(m_correct[2]);
    user->addWidget(m_userFile, 1);
    user->addWidget(m_browse);
    form->addLayout(user, row++, 0, 1, 3);

    m_measure = named(new QPushButton(QString::fromLatin1(MeasureCaption)), "cmdLogMeasure",
                      "Play the sweep and record it (Return); Stop ends it");
    m_measure->setDefault(true);
    m_progress = named(new QProgressBar, "ProgressLogSweep", "Seconds of the sweep left");
    m_progress->setRange(0, ProgressSteps);
    m_progress->setValue(0);
    m_progress->setFormat(QString());
    m_open = named(new QPushButton(QStringLiteral("Open...")), "cmdLogOpen",
                   "Open an impulse response (WAV, FLAC, AIFF; the channel beside) and show it as a measured one");
    m_open->setAutoDefault(false);
    m_channel = named(new QSpinBox, "SpinLogChannel", "The channel of the impulse response file opened, from 1");
    m_channel->setRange(1, 64);
    m_channel->setPrefix(QStringLiteral("Channel "));
    auto* go = new QHBoxLayout;
    go->addWidget(m_measure);
    go->addWidget(m_progress, 1);
    go->addWidget(m_open);
    go->addWidget(m_channel);

    m_tabs = named(new QTabWidget, "TabLogViews",
                   "Magnitude and phase, impulse response, distortion, room parameters, waterfall, spectrogram, "
                   "phase and group delay");
    m_views[0] = new LogSweepView([this](DrawingSurface& s) {
        // Ticked measurements replace the one shown with their magnitudes.
        if (m_list) {
            if (const std::vector<LogSweepPlots::OverlayCurve> curves = m_list->overlays(); !curves.empty()) {
                LogSweepPlots::drawOverlay(s, curves);
                return;
            }
        }
        LogSweepPlots::drawResponse(s, results() ? results()->response : std::vector<ResponsePoint>{});
        if (results())
            LogSweepPlots::drawGateLimit(s, gateLimitHz());
    });
    m_views[1] = new LogSweepView([this](DrawingSurface& s) {
        static const std::vector<float> none;
        LogSweepPlots::drawImpulse(s, results() ? results()->impulse : none, results() ? results()->impulsePeak : 0,
                                   results() ? results()->rate : 0, measured().gateMs);
    });
    m_views[2] = new LogSweepView([this](DrawingSurface& s) {
        LogSweepPlots::drawDistortion(s, results() ? results()->distortion : std::vector<DistortionPoint>{});
    });
    const char* viewNames[] = {"ViewLogResponse", "ViewLogImpulse", "ViewLogDistortion"};
    const char* viewTips[] = {"Magnitude (black, dB on the left) and phase (blue, degrees on the right); with "
                              "measurements ticked in the list below, their magnitudes instead, each in the colour "
                              "beside its name",
                              "Impulse response, linear (above) and in dB (below); the gate in purple. It is the "
                              "device's response through the band edges only: a 2nd-order Butterworth high-pass at a "
                              "quarter of the range's start (higher for short sweeps) and low-pass just above its "
                              "stop, minimum phase",
                              "H2 blue, H3 red, H4 teal, H5 purple (dB re the fundamental, left); THD black "
                              "(percent, right)"};
    const char* tabTitles[] = {"Magnitude && Phase", "Impulse Response", "Distortion"}; // "&&" shows "&"
    for (int i = 0; i < 3; ++i) {
        named(m_views[i], viewNames[i], viewTips[i]);
        m_tabs->addTab(m_views[i], QString::fromLatin1(tabTitles[i]));
        connect(m_views[i], &LogSweepView::hovered, this,
                [this, i](double x, double y) { m_cursor->setText(readout(i, x, y)); });
        connect(m_views[i], &LogSweepView::left, this, [this] { m_cursor->clear(); });
    }
    m_room = new RoomPage;
    m_room->setObjectName(QStringLiteral("PageLogRoom"));
    m_tabs->addTab(m_room, QStringLiteral("Room"));
    connect(m_room, &RoomPage::hovered, this, [this](const QString& text) { m_cursor->setText(text); });
    connect(m_room, &RoomPage::left, this, [this] { m_cursor->clear(); });
    connect(m_room, &RoomPage::bandsChanged, this, [this] { run([this] { showRoom(); }); });
    m_timeFrequency = new TimeFrequencyTabs(*m_tabs, this);
    connect(m_timeFrequency, &TimeFrequencyTabs::hovered, this, [this](const QString& text) { m_cursor->setText(text); });
    connect(m_timeFrequency, &TimeFrequencyTabs::left, this, [this] { m_cursor->clear(); });
    m_cursor = named(new QLabel, "LabelLogCursor", "The values under the mouse");
    m_summary = named(new QLabel, "LabelLogSummary", "Delay, recorded peak and the impulse response's signal-to-noise ratio");
    m_previous = named(new QLabel(QString::fromLatin1(PreviousNote)), "LabelLogPrevious",
                       "The last run gave no result; the curves and the line below are from the run before it");
    m_previous->setStyleSheet(QStringLiteral("font-weight: bold"));
    m_previous->hide();
    m_add = named(new QPushButton(QStringLiteral("Add to Frequency Response")), "cmdLogAdd",
                  "Add the magnitude (smoothed as chosen) as a new trace of the Frequency Response window");
    m_save = named(new QPushButton(QStringLiteral("Save...")), "cmdLogSave",
                   "Save the curve, FRD, distortion table or impulse response, as the dialog's file type says");
    for (QPushButton* b : {m_add, m_save})
        b->setAutoDefault(false);
    auto* results = new QHBoxLayout;
    results->addWidget(m_summary, 1);
    results->addWidget(m_add);
    results->addWidget(m_save);

    layout->addWidget(setup);
    layout->addLayout(go);
    m_list = new MeasurementListPanel(
        m_presenter, m_host, [this] { return settings(); }, [this](std::function<void()> h) { run(std::move(h)); });
    connect(m_list, &MeasurementListPanel::shown, this, [this] {
        showResults();
        markPrevious(false);
        refreshState();
    });
    connect(m_list, &MeasurementListPanel::overlaysChanged, this, [this] { m_views[0]->redraw(); });
    m_splitter = named(new QSplitter(Qt::Vertical), "SplitterLogMeasurements",
                       "Drag to share the height between the views and the list of measurements");
    // The list scrolls rather than hold the window taller than a small
    // screen when the splitter squeezes it.
    auto* listArea = new QScrollArea;
    listArea->setObjectName(QStringLiteral("ScrollLogMeasurements"));
    listArea->setWidget(m_list);
    listArea->setWidgetResizable(true);
    listArea->setFrameShape(QFrame::NoFrame);
    listArea->setMinimumHeight(ListMinimumHeight);
    m_splitter->addWidget(m_tabs);
    m_splitter->addWidget(listArea);
    m_splitter->setStretchFactor(0, 3);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setChildrenCollapsible(false);
    m_splitter->setSizes({420, 260});
    layout->addWidget(m_splitter, 1);
    layout->addWidget(m_previous);
    layout->addWidget(m_cursor);
    layout->addLayout(results);

    connect(m_measure, &QPushButton::clicked, this, [this] { run([this] { cmdLogMeasure_Click(); }); });
    connect(m_add, &QPushButton::clicked, this, [this] { run([this] { cmdLogAdd_Click(); }); });
    connect(m_save, &QPushButton::clicked, this, [this] { run([this] { cmdLogSave_Click(); }); });
    connect(m_browse, &QToolButton::clicked, this, [this] { run([this] { cmdLogCalibBrowse_Click(); }); });
    connect(m_open, &QPushButton::clicked, this, [this] { run([this] { cmdLogOpen_Click(); }); });
    connect(m_smooth, &QComboBox::activated, this, [this] { run([this] { reanalyse(); }); });
    connect(m_gate, &QDoubleSpinBox::editingFinished, this, [this] {
        if (this->results() && m_gate->value() != measured().gateMs)
            run([this] { reanalyse(); });
    });
    connect(m_phaseRef, &QComboBox::activated, this, [this] {
        refreshState();
        run([this] { reanalyse(); });
    });
    connect(m_phaseDelay, &QDoubleSpinBox::editingFinished, this, [this] {
        if (this->results() && m_phaseDelay->value() != measured().phaseDelayMs)
            run([this] { reanalyse(); });
    });
    // The gate also analyses as its value changes (arrow keys, typing), at
    // most once per GateAnalysisMs: the first change starts the timer, and
    // its end analyses whatever the box says then.
    m_gate->setKeyboardTracking(true);
    m_gateTimer = new QTimer(this);
    m_gateTimer->setSingleShot(true);
    m_gateTimer->setInterval(GateAnalysisMs);
    connect(m_gate, &QDoubleSpinBox::valueChanged, this, [this] {
        if (this->results() && !m_measuring && !m_gateTimer->isActive())
            m_gateTimer->start();
    });
    connect(m_gateTimer, &QTimer::timeout, this, [this] {
        if (this->results() && m_gate->value() != measured().gateMs)
            run([this] { reanalyse(); });
    });
    resize(780, 940);
}

void FormLogSweep::fillLengths()
{
    const int rate = std::max(1, m_session.sound().duplexRate());
    // Seconds at the device's rate, the samples beside them; at first the
    // power of two nearest 6 s there.
    int current = m_length->currentIndex();
    m_length->clear();
    for (std::size_t n = LogSweep::MinLength; n <= LogSweep::MaxLength; n *= 2) {
        if (current < 0 && n == LogSweep::defaultLength(rate))
            current = m_length->count();
        m_length->addItem(QStringLiteral("%1 s (%2)").arg(number(double(n) / rate, 2)).arg(n), qulonglong(n));
    }
    m_length->setCurrentIndex(current < 0 ? DefaultLengthIndex : current);
}

void FormLogSweep::run(std::function<void()> handler)
{
    if (m_runner)
        m_runner(std::move(handler));
    else
        handler();
}

LogSweepSettings FormLogSweep::settings() const
{
    LogSweepSettings s;
    s.start = m_start->value();
    s.stop = m_stop->value();
    s.length = static_cast<std::size_t>(m_length->currentData().toULongLong());
    s.levelDb = m_level->value();
    s.reference = static_cast<LogSweepSettings::Reference>(m_reference->currentData().toInt());
    // Settings > Record Channel; with a reference the other input is measured.
    if (s.reference == LogSweepSettings::Reference::None)
        s.channel = m_presenter.recordChannelChoice();
    s.gateMs = m_gate->value();
    s.smoothing = m_smooth->currentData().toInt();
    s.phaseRef = static_cast<LogSweepSettings::PhaseRef>(m_phaseRef->currentData().toInt());
    s.phaseDelayMs = m_phaseDelay->value();
    s.corrections = &m_session.corrections(CorrectionUse::LogSweep);
    return s;
}

const LogSweepResults* FormLogSweep::results() const
{
    const std::optional<LogSweepRun>& run = m_session.lastLogSweep();
    return run ? &run->results : nullptr;
}

const LogSweepSettings& FormLogSweep::measured() const
{
    static const LogSweepSettings none;
    const std::optional<LogSweepRun>& run = m_session.lastLogSweep();
    return run ? run->settings : none;
}

LogSweepView& FormLogSweep::view(int index) const
{
    return *m_views[std::clamp(index, 0, 2)];
}

// ---------------------------------------------------------------- state

void FormLogSweep::refreshState()
{
    m_measure->setText(QString::fromLatin1(m_measuring ? StopCaption : MeasureCaption));
    m_measure->setEnabled(m_measuring || m_session.canStartLogSweep());
    for (QWidget* w : std::initializer_list<QWidget*>{m_start, m_stop, m_length, m_level, m_reference, m_gate, m_smooth,
                                                      m_correct[0], m_correct[1], m_correct[2], m_userFile, m_browse})
        w->setEnabled(!m_measuring);
    m_phaseRef->setEnabled(!m_measuring);
    m_phaseDelay->setEnabled(!m_measuring && m_phaseRef->currentData().toInt() == int(LogSweepSettings::PhaseRef::Delay));
    m_add->setEnabled(results() && !m_measuring && !m_session.sweeping());
    m_save->setEnabled(results() && !m_measuring);
    m_open->setEnabled(!m_measuring && m_session.canStartLogSweep());
    m_channel->setEnabled(!m_measuring);
    m_list->setRunning(m_measuring || m_session.busy());
}

void FormLogSweep::showProgress(double fraction, double seconds)
{
    fraction = std::clamp(fraction, 0.0, 1.0);
    m_progress->setValue(static_cast<int>(std::lround(fraction * ProgressSteps)));
    m_progress->setFormat(QStringLiteral("%1 s left").arg(number((1 - fraction) * seconds, 1)));
}

// ---------------------------------------------------------------- handlers

void FormLogSweep::cmdLogMeasure_Click()
{
    if (m_measuring) {
        // Stop: the run gives up at its next wait.
        m_session.stop();
        return;
    }
    if (!m_session.canStartLogSweep()) {
        refreshState();
        return;
    }
    const LogSweepSettings s = settings();
    const int rate = m_session.sound().duplexRate();
    if (const audimera::Status checked = s.check(rate); !checked) {
        m_host.message(checked.message(), MessageIcon::Exclamation);
        return;
    }
    m_measuring = true;
    refreshState();
    const double seconds =
        (static_cast<double>(s.length) + LogSweepSettings::TailSeconds * rate) / std::max(rate, 1);
    showProgress(0, seconds);

    const audimera::Status measured =
        m_session.runLogSweep(s, [&](double fraction) { showProgress(fraction, seconds); });

    m_measuring = false;
    m_progress->setValue(0);
    m_progress->setFormat(QString());
    if (measured) {
        showResults();
        m_list->refresh(m_session.lastLogSweep()->measurement);
    }
    // Kept rather than cleared: the previous measurement stays valid to add
    // or save, but nothing may look as if this run had made it.
    markPrevious(!measured && results() != nullptr);
    refreshState();
    if (!measured && measured.kind() != Failure::Cancelled && measured.kind() != Failure::Busy) {
        // As the stepped sweep: a device that fails is critical, a
        // measurement that cannot give a result a warning.
        const bool device = measured.kind() == Failure::Device || measured.kind() == Failure::LostSamples;
        m_host.message(measured.message(), device ? MessageIcon::Critical : MessageIcon::Exclamation);
    }
}

void FormLogSweep::cmdLogOpen_Click()
{
    if (m_measuring || !m_session.canStartLogSweep())
        return;
    FileDialogRequest request;
    request.title = "Open an impulse response...";
    request.filter = "Impulse responses (*.wav *.flac *.aif *.aiff)";
    request.moreFilters = {"All files (*)"};
    request.flags = FileDialogRequest::OpenFlags;
    const std::optional<std::string> path = m_dialog.show(request);
    if (!path || path->empty())
        return;
    openImpulseResponse(*path);
}

void FormLogSweep::openImpulseResponse(const std::string& path)
{
    // Analysed with this window's settings, as a measurement would be.
    if (const audimera::Status opened = m_session.openImpulseResponse(path, m_channel->value() - 1, settings());
        !opened) {
        m_host.message(opened.message(), MessageIcon::Critical);
        return;
    }
    showResults();
    m_list->refresh(m_session.lastLogSweep()->measurement);
    markPrevious(false);
    refreshState();
}

void FormLogSweep::showResults()
{
    if (results()) {
        const LogSweepResults& r = *results();
        QString text = QStringLiteral("Delay %1 ms, peak %2 dBFS, impulse response SNR %3 dB")
                           .arg(number(r.delaySeconds() * 1000, 3), number(r.peakDb, 2), number(r.impulseSnrDb, 1));
        // The clock offset between play and record, and a phase it leaves
        // unreliable, with the reason.
        if (r.clockOffsetPpm) {
            const double ppm = std::abs(*r.clockOffsetPpm) < 0.005 ? 0.0 : *r.clockOffsetPpm;
            text += QStringLiteral(", clock offset %1%2 ppm").arg(ppm >= 0 ? QStringLiteral("+") : QString(), number(ppm, 2));
        }
        if (r.phaseUnreliable)
            text += QStringLiteral("; phase unreliable: ") + QString::fromStdString(r.phaseNote);
        if (!r.inputNote.empty())
            text += QStringLiteral(". ") + QString::fromStdString(r.inputNote);
        // The phase reference on a line of its own.
        const char* rules[] = {"auto", "peak", "reference", "fixed delay"};
        text += QStringLiteral("\nPhase reference: %1, delay %2 ms (%3 samples)")
                    .arg(QString::fromLatin1(rules[int(r.phaseRef)]), number(r.phaseDelaySeconds() * 1000, 3),
                         number(r.phaseDelaySamples, 2));
        if (!r.phaseRefNote.empty())
            text += QStringLiteral("; ") + QString::fromStdString(r.phaseRefNote);
        m_summary->setText(text);
    } else {
        m_summary->clear();
    }
    for (LogSweepView* v : m_views)
        v->redraw();
    showRoom();
    const std::optional<LogSweepRun>& run = m_session.lastLogSweep();
    m_timeFrequency->setInput(run ? ImpulseData::of(*run) : nullptr);
}

void FormLogSweep::showRoom()
{
    if (!results()) {
        m_room->showRoom(nullptr, QString());
        return;
    }
    const audimera::Status analysed = m_session.analyseRoom(m_room->settings());
    const std::optional<LogSweepRun>& run = m_session.lastLogSweep();
    m_room->showRoom(analysed && run && run->room ? &*run->room : nullptr,
                     analysed ? QString() : QString::fromStdString(analysed.message()));
}

double FormLogSweep::gateLimitHz() const
{
    if (!results() || results()->rate <= 0)
        return 0;
    // Auto: the analysis' own extent after the peak.
    const double seconds = measured().gateMs > 0 ? measured().gateMs / 1000
                           : results()->impulsePeak < results()->impulse.size()
                               ? static_cast<double>(results()->impulse.size() - results()->impulsePeak) / results()->rate
                               : 0.0;
    return LogSweepPlots::gateLimitHz(seconds);
}

void FormLogSweep::markPrevious(bool previous)
{
    m_previous->setVisible(previous);
    m_summary->setEnabled(!previous);
    m_cursor->setEnabled(!previous);
}

void FormLogSweep::reanalyse()
{
    if (m_measuring)
        return;
    m_list->reanalyseOverlays();
    if (!results()) {
        m_views[0]->redraw();
        return;
    }
    if (const audimera::Status analysed = m_session.reanalyseLogSweep(settings()); !analysed) {
        m_host.message(analysed.message(), MessageIcon::Exclamation);
        return;
    }
    showResults();
}

void FormLogSweep::cmdLogAdd_Click()
{
    if (!results() || m_measuring)
        return;
    // Named after the measurement shown, when it is still in the list.
    const Measurement* shown = m_session.measurements().find(m_session.lastLogSweep()->measurement);
    m_presenter.addResponseTrace(results()->response, shown ? shown->data.name : "Log sweep");
}

void FormLogSweep::cmdLogSave_Click()
{
    if (!results() || m_measuring)
        return;
    const FileDialogRequest request = FileDialogRequest::saveAs(
        "Save the log sweep as...", "LogSweep.txt", "txt", {std::begin(SaveFilters), std::end(SaveFilters)});
    const std::optional<std::string> path = m_dialog.show(request);
    if (!path || path->empty())
        return;
    // "x.frd" writes FRD, "x.wav" the impulse, whatever entry is selected.
    const std::optional<int> type = FileTypes::saveTypeQuestion(m_host, *path, request, m_dialog.selectedFilter());
    if (!type)
        return;
    const LogSweepResults& r = *results();
    audimera::Status written;
    switch (*type) {
    case 1:
        written = ExchangeFiles::writeFrd(*path, r.response,
                                          LogSweepMeasurement::frdComments(r, measured(), m_session.lastLogSweep()->file));
        break;
    case 2:
        written = ExchangeFiles::writeDistortionCsv(*path, r.distortion);
        break;
    case 3:
        written = ImpulseFile::writeWav(*path, r.impulse, r.rate);
        break;
    default:
        written = CurveFile::write(*path, CurveFile::curvePoints(r.response));
        break;
    }
    if (!written)
        m_host.message(CurveFile::saveError(*path, written.message()), MessageIcon::Critical);
}

void FormLogSweep::CheckLogCorrection_Click(int index)
{
    if (index < 0 || index >= CorrectionTable::Count)
        return;
    m_session.disableCorrection(CorrectionUse::LogSweep, index);
    if (m_correct[index]->isChecked()) {
        const std::string file = index == 0 ? CorrectionTable::SplCurveFile
            : index == 1                    ? CorrectionTable::SoundCardFile
                                            : m_userFile->text().toStdString();
        audimera::Status loaded = m_session.loadCorrection(CorrectionUse::LogSweep, index, file);
        if (loaded)
            loaded = m_session.enableCorrection(CorrectionUse::LogSweep, index);
        if (!loaded) {
            m_correct[index]->setChecked(false);
            m_host.message(loaded.message(), MessageIcon::Critical);
        }
    }
    reanalyse();
}

void FormLogSweep::showSessionCorrections()
{
    const CorrectionTable& table = m_session.corrections(CorrectionUse::LogSweep);
    for (int i = 0; i < CorrectionTable::Count; ++i)
        m_correct[i]->setChecked(table.enabled[static_cast<std::size_t>(i)]);
    if (const std::string user = m_session.correctionPath(CorrectionUse::LogSweep, 2); !user.empty())
        m_userFile->setText(QString::fromStdString(user));
}

void FormLogSweep::cmdLogCalibBrowse_Click()
{
    FileDialogRequest request;
    request.title = "Select User Calibration file...";
    FileTypes::offerCurveFiles(request, {"Response Curve (*.txt)"});
    request.flags = FileDialogRequest::OpenFlags;
    const std::optional<std::string> path = m_dialog.show(request);
    if (!path || path->empty())
        return;
    m_userFile->setText(QString::fromStdString(*path));
    // A new file for a ticked box is loaded at once, as a tick would.
    if (!m_correct[2]->isChecked())
        m_correct[2]->setChecked(true);
    CheckLogCorrection_Click(2);
}

// ---------------------------------------------------------------- read-out

QString FormLogSweep::readout(int index, double x, double) const
{
    if (index == 1) {
        if (!results() || results()->impulse.empty() || results()->rate <= 0)
            return {};
        const LogSweepResults& r = *results();
        const LogSweepPlots::TimeAxis axis = LogSweepPlots::timeAxis(r.impulse, r.impulsePeak, r.rate, measured().gateMs);
        const double ms = LogSweepPlots::timeAt(axis, x);
        const double at = static_cast<double>(r.impulsePeak) + ms * r.rate / 1000;
        QString text = QStringLiteral("%1 ms").arg(number(ms, 3));
        if (at >= 0 && at < static_cast<double>(r.impulse.size())) {
            const double peak = std::abs(r.impulse[r.impulsePeak]);
            const double value = r.impulse[static_cast<std::size_t>(at)];
            const double db = peak > 0 && value != 0 ? 20 * std::log10(std::abs(value) / peak) : -INFINITY;
            text += QStringLiteral(", %1, %2 dB").arg(number(value, 4), std::isfinite(db) ? number(db, 1) : QStringLiteral("-inf"));
        }
        return text;
    }
    const double f = LogSweepPlots::frequencyAt(x);
    QString text = QStringLiteral("%1 Hz").arg(number(f, 1));
    if (!results())
        return text;
    if (index == 0) {
        if (const ResponsePoint* p = nearestPoint(results()->response, f)) {
            text += QStringLiteral(", %1 dB").arg(number(p->level, 2));
            if (p->phase)
                text += QStringLiteral(", %1°").arg(number(*p->phase, 1));
            // Below about 1/gate the curve shows the gate's window, not the device.
            if (const double limit = gateLimitHz(); f < limit)
                text += QStringLiteral(" (below the gate's lowest frequency, %1 Hz)").arg(number(limit, 0));
        }
    } else if (const DistortionPoint* d = nearestPoint(results()->distortion, f)) {
        for (int k = 0; k < 4; ++k)
            if (d->harmonicDb[k])
                text += QStringLiteral(", H%1 %2 dB").arg(k + 2).arg(number(*d->harmonicDb[k], 1));
        if (d->thdPercent)
            text += QStringLiteral(", THD %1 %").arg(number(*d->thdPercent, 3));
    }
    return text;
}

// ---------------------------------------------------------------- window

void FormLogSweep::keyPressEvent(QKeyEvent* event)
{
    // Measure is the window's default button.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && event->modifiers() == Qt::NoModifier) {
        if (m_measure->isEnabled() && !m_measuring)
            m_measure->click();
        event->accept();
        return;
    }
    FormWindow::keyPressEvent(event);
}

void FormLogSweep::showEvent(QShowEvent* event)
{
    // The durations follow the devices' rate, which may have changed.
    fillLengths();
    m_list->refresh();
    refreshState();
    FormWindow::showEvent(event);
}

void FormLogSweep::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && !m_measuring)
        m_list->refresh();
    FormWindow::changeEvent(event);
}

void FormLogSweep::hideEvent(QHideEvent* event)
{
    // Closing the window ends a measurement in it: nothing would show it.
    if (m_measuring)
        m_session.stop();
    saveSettings();
    FormWindow::hideEvent(event);
}

void FormLogSweep::saveSettings() const
{
    QSettings settings = programSettings();
    settings.beginGroup(QString::fromLatin1(SettingsGroup));
    settings.setValue(QStringLiteral("geometry"), saveGeometry());
    settings.setValue(QStringLiteral("start"), m_start->value());
    settings.setValue(QStringLiteral("stop"), m_stop->value());
    settings.setValue(QStringLiteral("length"), m_length->currentData());
    settings.setValue(QStringLiteral("level"), m_level->value());
    settings.setValue(QStringLiteral("reference"), m_reference->currentIndex());
    settings.setValue(QStringLiteral("gate"), m_gate->value());
    settings.setValue(QStringLiteral("smoothing"), m_smooth->currentData());
    settings.setValue(QStringLiteral("phaseRef"), m_phaseRef->currentData());
    settings.setValue(QStringLiteral("phaseDelay"), m_phaseDelay->value());
    settings.setValue(QStringLiteral("userCalibFile"), m_userFile->text());
    settings.setValue(QStringLiteral("roomBands"), int(m_room->settings().bands));
    m_timeFrequency->save(settings);
    m_list->save(settings);
    settings.setValue(QStringLiteral("listSplitter"), m_splitter->saveState());
    settings.endGroup();
}

void FormLogSweep::restoreSettings()
{
    QSettings settings = programSettings();
    settings.beginGroup(QString::fromLatin1(SettingsGroup));
    if (settings.contains(QStringLiteral("geometry")))
        restoreGeometry(settings.value(QStringLiteral("geometry")).toByteArray());
    auto spinValue = [&](const char* key, QDoubleSpinBox* box) {
        bool ok = false;
        const double v = settings.value(QString::fromLatin1(key)).toDouble(&ok);
        if (ok)
            box->setValue(v); // clamped to the box's range
    };
    spinValue("start", m_start);
    spinValue("stop", m_stop);
    spinValue("level", m_level);
    spinValue("gate", m_gate);
    // Lists by their data, so a value no item has is left alone.
    auto item = [&](const char* key, QComboBox* list, QVariant (*typed)(const QVariant&)) {
        const QVariant v = settings.value(QString::fromLatin1(key));
        if (!v.isValid())
            return;
        const int i = list->findData(typed(v));
        if (i >= 0)
            list->setCurrentIndex(i);
    };
    item("length", m_length, [](const QVariant& v) { return QVariant(v.toULongLong()); });
    item("smoothing", m_smooth, [](const QVariant& v) { return QVariant(v.toInt()); });
    item("phaseRef", m_phaseRef, [](const QVariant& v) { return QVariant(v.toInt()); });
    spinValue("phaseDelay", m_phaseDelay);
    bool ok = false;
    const int reference = settings.value(QStringLiteral("reference")).toInt(&ok);
    if (ok && reference >= 0 && reference < m_reference->count())
        m_reference->setCurrentIndex(reference);
    if (settings.contains(QStringLiteral("roomBands")))
        m_room->setBands(settings.value(QStringLiteral("roomBands")).toInt() == int(RoomSettings::Bands::Third)
                             ? RoomSettings::Bands::Third
                             : RoomSettings::Bands::Octave);
    if (settings.contains(QStringLiteral("userCalibFile")))
        m_userFile->setText(settings.value(QStringLiteral("userCalibFile")).toString());
    m_timeFrequency->restore(settings);
    m_list->restore(settings);
    if (settings.contains(QStringLiteral("listSplitter")))
        m_splitter->restoreState(settings.value(QStringLiteral("listSplitter")).toByteArray());
    settings.endGroup();
}

} // namespace audimera
