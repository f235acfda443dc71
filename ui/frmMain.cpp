#include "ui/frmMain.h"

#include "engine/RecoveryWriter.h"

#include "ui/presenter/ControlNames.h"
#include "ui/presenter/ControlTable.h"
#include "engine/FileTypes.h"
#include "dsp/DspLibrary.h"
#include "display/windows/FormDisplays.h"
#include "display/windows/FormFFT.h"
#include "display/windows/FormHelp.h"
#include "display/windows/ScreenPlacement.h"
#include "display/windows/FormInputWave.h"
#include "display/windows/FormResponse.h"
#include "ui/DeviceDialog.h"
#include "ui/FormLogSweep.h"
#include "ui/FormAnalyser.h"
#include "ui/FormEqualiser.h"
#include "ui/MeasurementListPanel.h"
#include "ui/TracesPanel.h"
#include "display/help/HelpPage.h"
#include "display/models/ResponsePlot.h"
#include "devices/SoundDevice.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QStyle>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <exception>
#include <filesystem>

namespace audimera {

namespace {

constexpr int AutoPlanCount = 4;
constexpr int SignalCount = 6;

QString qstr(std::string_view s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// Widths in characters of the current font, so that the layout follows the
// font and the screen's scale.
int charsWide(const QWidget* w, int chars)
{
    return w->fontMetrics().horizontalAdvance(QString(chars, QLatin1Char('0')));
}

// A label whose text changes: wide enough for its longest text, so that the
// layout does not jump while values change.
QLabel* readout(QLabel* label, const QString& widest)
{
    label->setMinimumWidth(label->fontMetrics().horizontalAdvance(widest));
    return label;
}

// A text box about chars characters wide.
QWidget* sized(QWidget* edit, int chars)
{
    edit->setMinimumWidth(charsWide(edit, chars));
    edit->setMaximumWidth(charsWide(edit, chars + 4));
    return edit;
}

// A scroll bar that takes the room its row leaves.
QWidget* stretching(QWidget* bar)
{
    bar->setMinimumWidth(charsWide(bar, 16));
    bar->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    return bar;
}

QRadioButton* joined(QButtonGroup* group, int index, QRadioButton* option)
{
    group->addButton(option, index);
    return option;
}

QHBoxLayout* row(std::initializer_list<QWidget*> widgets, bool stretchAtEnd = true)
{
    auto* layout = new QHBoxLayout;
    for (QWidget* w : widgets)
        layout->addWidget(w);
    if (stretchAtEnd)
        layout->addStretch(1);
    return layout;
}

// The windows the presenter draws on, with the Traces panel following every
// redraw of the response plot: a trace added from any window (the
// equaliser's, the analyser's) shows in the panel at once.
class PanelDisplays : public FormDisplays {
public:
    PanelDisplays(FormResponse& response, FormInputWave& wave, FormFFT& fft, std::function<void()> redrawn)
        : FormDisplays(response, wave, fft), m_redrawn(std::move(redrawn))
    {
    }
    void TraceResponse() override
    {
        FormDisplays::TraceResponse();
        m_redrawn();
    }

private:
    std::function<void()> m_redrawn;
};

} // namespace

template <typename W>
W* frmMain::makeControl(std::string_view objectName) const
{
    const ControlRow* row = ControlTable::find(objectName);
    if (!row)
        qFatal("frmMain: no control '%s' in the control table", std::string(objectName).c_str());
    const QString caption = QString::fromStdString(ControlTable::caption(*row, m_panel));
    QWidget* w = nullptr;
    switch (row->kind) {
    case ControlKind::Frame:
        w = new QGroupBox(caption);
        break;
    case ControlKind::Button: {
        auto* button = new QPushButton(caption);
        button->setAutoDefault(false);
        w = button;
        break;
    }
    case ControlKind::PictureButton: {
        auto* button = new QToolButton;
        button->setText(caption);
        w = button;
        break;
    }
    case ControlKind::Option: {
        auto* option = new QRadioButton(caption);
        option->setChecked(row->value != 0);
        w = option;
        break;
    }
    case ControlKind::TextBox:
        w = new QLineEdit(caption);
        break;
    case ControlKind::Label:
        w = new QLabel(caption);
        break;
    case ControlKind::ScrollBar: {
        auto* bar = new QScrollBar(Qt::Horizontal);
        bar->setRange(row->minimum, row->maximum);
        bar->setValue(row->value);
        w = bar;
        break;
    }
    case ControlKind::CheckBox: {
        auto* check = new QCheckBox(caption);
        check->setChecked(row->value != 0);
        w = check;
        break;
    }
    case ControlKind::List: {
        auto* list = new QComboBox;
        for (const ListItem& item : row->items)
            list->addItem(qstr(item.text), item.data);
        list->setCurrentIndex(row->value);
        w = list;
        break;
    }
    case ControlKind::Menu:
    case ControlKind::MenuEntry:
    case ControlKind::MenuTick:
    case ControlKind::Separator:
        break; // buildMenus
    }
    auto* typed = qobject_cast<W*>(w);
    if (!typed)
        qFatal("frmMain: the control '%s' is not a widget of that kind", std::string(objectName).c_str());
    w->setObjectName(qstr(row->name));
    if (!row->enabled)
        w->setEnabled(false);
    if (!row->toolTip.empty())
        w->setToolTip(qstr(row->toolTip));
    if (row->foreColor) {
        QPalette palette = w->palette();
        palette.setColor(QPalette::WindowText, QtPanel::toColor(*row->foreColor));
        w->setPalette(palette);
    }
    return typed;
}

template <typename T>
T* frmMain::control(std::string_view name) const
{
    // QtPanel::control ends the program for a name without a control.
    auto* typed = qobject_cast<T*>(m_panel.control(name));
    if (!typed)
        qFatal("frmMain: the control '%s' is not a %s", std::string(name).c_str(), T::staticMetaObject.className());
    return typed;
}

// ---------------------------------------------------------------- handlers on the stack

// Counts a handler on the stack; the last one to return finishes a
// shut-down that was asked for meanwhile.
class frmMain::HandlerScope {
public:
    explicit HandlerScope(frmMain& window) : m_window(window) { ++m_window.m_handlerDepth; }
    ~HandlerScope()
    {
        if (--m_window.m_handlerDepth == 0 && m_window.m_unloadRequested && !m_window.m_shutDown)
            m_window.finishShutDown();
    }
    HandlerScope(const HandlerScope&) = delete;
    HandlerScope& operator=(const HandlerScope&) = delete;

private:
    frmMain& m_window;
};

template <typename F>
void frmMain::handle(F&& handler)
{
    // Once shut-down began, nothing new starts: the controls that the
    // stop re-enabled must not start another run.
    if (m_unloadRequested)
        return;
    HandlerScope scope(*this);
    try {
        handler();
    } catch (const std::exception& e) {
        // Only a DSP export lost after start-up can get here; the event
        // loop must not see it.
        m_engine->cmdStop_Click();
        m_host.message(e.what(), MessageIcon::Critical);
    }
    afterHandler();
}

void frmMain::afterHandler()
{
    // Whatever the handler did to the traces: the panel follows at once; the
    // recovery file once the outermost handler (a whole sweep, not each of
    // its points) returns. Both cost nothing when nothing changed.
    m_traces->refresh();
    if (m_handlerDepth == 1)
        m_session->keepRecovery();
}

// ---------------------------------------------------------------- construction

frmMain::frmMain(SoundDevice& sound, FileDialog& fileDialog, QWidget* parent)
    : QMainWindow(parent),
      m_sound(sound),
      m_fileDialog(fileDialog),
      m_dsp(&DspLibrary::instance()),
      m_host(this),
      m_panel(*this)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Audimera"));

    // The other windows are top-level windows of their own, not children:
    // each is moved, hidden and shown on its own.
    m_document = std::make_unique<MeasurementDocument>();
    m_inputWave = std::make_unique<FormInputWave>();
    m_response = std::make_unique<FormResponse>(*m_document);
    m_fft = std::make_unique<FormFFT>();
    m_help = std::make_unique<FormHelp>();
    m_displays = std::make_unique<PanelDisplays>(*m_response, *m_inputWave, *m_fft, [this] {
        if (m_traces)
            m_traces->refresh();
    });
    m_session = std::make_unique<MeasurementSession>(m_host, m_sound, *m_document);
    m_engine = std::make_unique<MainPresenter>(m_panel, *m_session, *m_displays);
    m_engine->setFileDialog(&m_fileDialog);
    m_logSweep = std::make_unique<FormLogSweep>(*m_engine, m_logSweepHost, m_fileDialog);
    m_logSweepHost.setWindow(m_logSweep.get());
    m_equaliser = std::make_unique<FormEqualiser>(*m_engine, m_equaliserHost, m_fileDialog);
    m_equaliserHost.setWindow(m_equaliser.get());
    m_analyser = std::make_unique<FormAnalyser>(*m_engine, m_analyserHost);
    m_analyserHost.setWindow(m_analyser.get());
    // Counted like this window's handlers, so a shut-down waits for a log
    // sweep to return; nothing starts while the device waits for the server.
    m_logSweep->setHandlerRunner([this](std::function<void()> handler) {
        handle([this, &handler] {
            if (m_deviceWaits == 0 || m_logSweep->isMeasuring())
                handler();
        });
    });
    m_analyser->setHandlerRunner([this](std::function<void()> handler) {
        handle([this, &handler] {
            if (m_deviceWaits == 0 || m_analyser->isRunning())
                handler();
        });
    });

    m_traces = new TracesPanel(*m_session, m_host, this);
    addDockWidget(Qt::RightDockWidgetArea, m_traces);
    m_traces->hide();
    // An edit of a note is a handler: the plot shows it, the recovery file
    // keeps it.
    m_traces->setRunner([this](const std::function<void()>& edit) {
        handle([this, &edit] {
            edit();
            if (!m_session->sweeping())
                m_response->TraceResponse();
        });
    });

    buildControls();
    buildMenus();
    wireControls();
    // The detector chosen in an earlier session; anything else keeps the
    // table's default.
    const QString detector =
        QSettings(QStringLiteral("Audimera"), QStringLiteral("Audimera")).value(DetectorSettingKey).toString();
    tickOne(names::MenuEntryDetector, DetectorEntries, detector == QLatin1String("NarrowBand") ? 1 : 0);
    const QString channel =
        QSettings(QStringLiteral("Audimera"), QStringLiteral("Audimera")).value(RecordChannelSettingKey).toString();
    tickOne(names::MenuEntryRecordChannel, RecordChannelEntries,
            channel == QLatin1String("Left") ? 1 : channel == QLatin1String("Right") ? 2 : 0);

    // Waits for the server keep the window alive; what runs inside them
    // knows it through m_deviceWaits.
    m_sound.setWaitHook([this] {
        ++m_deviceWaits;
        m_host.yield();
        --m_deviceWaits;
    });
    m_deviceWatch = new QTimer(this);
    m_deviceWatch->setInterval(DeviceWatchMs);
    connect(m_deviceWatch, &QTimer::timeout, this, [this] { watchDevices(); });

    m_inputWave->setFrequencySource([this] { return m_session->frequency(); });
}

frmMain::~frmMain()
{
    m_sound.setWaitHook({});
    // The windows go with the main window, whatever the path.
    m_inputWave->setClosingAllowed(true);
    m_response->setClosingAllowed(true);
    m_fft->setClosingAllowed(true);
    m_help->setClosingAllowed(true);
    m_logSweep->setClosingAllowed(true);
    m_equaliser->setClosingAllowed(true);
    m_analyser->setClosingAllowed(true);
}

void frmMain::buildControls()
{
    auto* central = new QWidget;
    central->setObjectName(QStringLiteral("CentralWidget"));
    auto* columns = new QHBoxLayout(central);

    auto* left = new QVBoxLayout;
    left->addWidget(buildResponseFrame());
    left->addWidget(buildInputFrame());
    left->addWidget(makeControl(names::CheckResponse));
    left->addStretch(1);

    auto* right = new QVBoxLayout;
    right->addWidget(buildSignalFrame());
    right->addWidget(buildMeasureFrame());
    right->addStretch(1);

    columns->addLayout(left, 1);
    columns->addLayout(right, 1);
    setCentralWidget(central);

    m_statusLine = new QLabel;
    m_statusLine->setObjectName(QStringLiteral("StatusText"));
    statusBar()->addWidget(m_statusLine, 1);
    m_panel.setStatusLine(m_statusLine);
    statusBar()->addPermanentWidget(makeControl<QLabel>(names::LabelSensitivity));
    m_recordNote = new QLabel;
    m_recordNote->setObjectName(QStringLiteral("RecordDeviceNote"));
    statusBar()->addPermanentWidget(m_recordNote);
    m_rateNote = new QLabel;
    m_rateNote->setObjectName(QStringLiteral("DeviceRateNote"));
    statusBar()->addPermanentWidget(m_rateNote);
}

QWidget* frmMain::buildResponseFrame()
{
    QWidget* frame = makeControl(names::Frame1);
    auto* layout = new QVBoxLayout(frame);

    auto* buttons = new QGridLayout;
    buttons->addWidget(makeControl(names::cmdStart), 0, 0);
    buttons->addWidget(makeControl(names::cmdStop), 0, 1);
    buttons->addWidget(makeControl(names::cmdClearTraces), 1, 0);
    buttons->addWidget(makeControl(names::cmdCalibrate), 1, 1);
    layout->addLayout(buttons);

    auto* plans = new QButtonGroup(frame);
    plans->setObjectName(qstr(names::OptionAutoSigGen));
    auto option = [this, plans](int index) {
        return joined(plans, index, makeControl<QRadioButton>(controlName(names::OptionAutoSigGen, index)));
    };
    auto* grid = new QGridLayout;
    grid->setColumnStretch(1, 1);
    grid->addWidget(option(0), 0, 0);
    grid->addLayout(row({sized(makeControl(names::TextStart), 6), makeControl(names::Label1),
                         sized(makeControl(names::TextStop), 6), makeControl(names::Label2)}),
                    0, 1);
    auto* step = new QHBoxLayout;
    step->addWidget(stretching(makeControl(names::HScrollStep)), 1);
    step->addWidget(readout(makeControl<QLabel>(names::LabelStep), QStringLiteral("Step: x0.000")));
    grid->addLayout(step, 1, 1);
    grid->addWidget(option(1), 2, 0, 1, 2);
    grid->addWidget(option(2), 3, 0, 1, 2);
    grid->addWidget(option(3), 4, 0);
    auto* file = new QHBoxLayout;
    file->addWidget(makeControl(names::txtUserFreqFile), 1);
    file->addWidget(makeControl(names::cmdFreqBrowse));
    grid->addLayout(file, 4, 1);
    layout->addLayout(grid);
    return frame;
}

QWidget* frmMain::buildSignalFrame()
{
    QWidget* frame = makeControl(names::Frame4);
    auto* layout = new QVBoxLayout(frame);

    auto* signalGroup = new QButtonGroup(frame);
    signalGroup->setObjectName(qstr(names::OptionSigGen));
    auto* signalGrid = new QGridLayout;
    for (int i = 0; i < SignalCount; ++i)
        signalGrid->addWidget(joined(signalGroup, i, makeControl<QRadioButton>(controlName(names::OptionSigGen, i))),
                              i / 3, i % 3);
    layout->addLayout(signalGrid);

    auto* tone = new QHBoxLayout;
    tone->addWidget(sized(makeControl(names::TextFFT), 8));
    tone->addWidget(makeControl(names::Label5));
    tone->addWidget(makeControl(names::CheckBy5));
    tone->addStretch(1);
    tone->addWidget(makeControl(names::cmdStartSignal));
    layout->addLayout(tone);
    layout->addWidget(stretching(makeControl(names::HScrollFFT)));
    layout->addWidget(stretching(makeControl(names::HScrollFine)));

    const QString widestLevel = QStringLiteral("-100.00 dB");
    auto* level = new QHBoxLayout;
    level->addWidget(makeControl(names::Label3));
    level->addWidget(stretching(makeControl(names::HScrollVolume)), 1);
    QLabel* volume = readout(makeControl<QLabel>(names::LabelVol), widestLevel);
    volume->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    level->addWidget(volume);
    layout->addLayout(level);

    auto* pan = new QGridLayout;
    pan->setVerticalSpacing(0);
    for (int c = 0; c < 3; ++c)
        pan->setColumnStretch(c, 1);
    pan->addWidget(stretching(makeControl(names::HScrollPan)), 0, 0, 1, 3);
    pan->addWidget(makeControl(names::LabelLeft), 1, 0, Qt::AlignLeft);
    pan->addWidget(makeControl(names::LabelCenter), 1, 1, Qt::AlignHCenter);
    pan->addWidget(makeControl(names::LabelRight), 1, 2, Qt::AlignRight);
    pan->addWidget(readout(makeControl<QLabel>(names::LabelVolLeft), widestLevel), 2, 0, Qt::AlignLeft);
    QLabel* right = readout(makeControl<QLabel>(names::LabelVolRight), widestLevel);
    right->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    pan->addWidget(right, 2, 2, Qt::AlignRight);
    layout->addLayout(pan);
    return frame;
}

QWidget* frmMain::buildMeasureFrame()
{
    QWidget* frame = makeControl(names::Frame3);
    auto* grid = new QGridLayout(frame);
    grid->setColumnStretch(1, 1);
    const std::pair<std::string_view, std::string_view> readouts[] = {
        {names::LblFreqtxt, names::LabelFreq},
        {names::LabelDBtxt, names::LabelDB},
        {names::LabelSNRtxt, names::LabelSNR},
        {names::Label4, names::LabelCardSNR},
        {names::LabelTHDtxt, names::LabelTHD}};
    int r = 0;
    for (const auto& [caption, value] : readouts) {
        grid->addWidget(makeControl(caption), r, 0);
        const bool distortion = value == names::LabelTHD;
        grid->addWidget(readout(makeControl<QLabel>(value), distortion ? QStringLiteral("N/A (THD+N 100.00 %)")
                                                                       : QStringLiteral("-20000.00 Hz")),
                        r, 1);
        ++r;
    }
    return frame;
}

QWidget* frmMain::buildInputFrame()
{
    QWidget* frame = makeControl(names::Frame2);
    auto* layout = new QVBoxLayout(frame);
    layout->addWidget(makeControl(names::CheckInput));
    layout->addWidget(makeControl(names::CheckFFT));
    layout->addWidget(makeControl(names::CheckBadInputWave));

    auto* lists = new QGridLayout;
    lists->setColumnStretch(2, 1);
    m_comboDBRange = makeControl<QComboBox>(names::ComboDBRange);
    m_comboSmooth = makeControl<QComboBox>(names::ComboSmooth);
    lists->addWidget(makeControl(names::Label8), 0, 0);
    lists->addWidget(m_comboDBRange, 0, 1);
    lists->addWidget(makeControl(names::Label9), 1, 0);
    lists->addWidget(m_comboSmooth, 1, 1);
    layout->addLayout(lists);

    layout->addWidget(makeControl(names::CheckSPLCorrect));
    layout->addWidget(makeControl(names::CheckSoundCard));
    auto* user = new QHBoxLayout;
    user->addWidget(makeControl(names::CheckUserCalib));
    user->addWidget(makeControl(names::txtUserCalibFile), 1);
    user->addWidget(makeControl(names::cmdCalibBrowse));
    layout->addLayout(user);
    return frame;
}

void frmMain::buildMenus()
{
    // The table lists each menu before its entries, in menu order.
    QHash<QString, QMenu*> menus;
    for (const ControlRow& r : ControlTable::rows()) {
        const QString objectName = qstr(r.name);
        const QString caption = qstr(r.caption);
        QMenu* parent = menus.value(qstr(r.parent));
        switch (r.kind) {
        case ControlKind::Menu: {
            QMenu* menu = parent ? parent->addMenu(caption) : menuBar()->addMenu(caption);
            menu->setObjectName(objectName);
            menus.insert(objectName, menu);
            break;
        }
        case ControlKind::MenuEntry:
        case ControlKind::MenuTick: {
            QAction* entry = parent->addAction(caption);
            entry->setObjectName(objectName);
            if (r.kind == ControlKind::MenuTick)
                entry->setCheckable(true);
            if (r.value != 0)
                entry->setChecked(true);
            if (!r.enabled)
                entry->setEnabled(false);
            break;
        }
        case ControlKind::Separator:
            parent->addSeparator()->setObjectName(objectName);
            break;
        default:
            break; // a widget: buildControls
        }
    }
    control<QAction>(names::MenuEntryLogSweep)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    control<QAction>(names::MenuEntrySaveSession)->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    control<QAction>(names::MenuEntryOpenSession)->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
}

void frmMain::wireControls()
{
    MainPresenter* e = m_engine.get();
    auto onClick = [this](std::string_view named, auto handler) {
        connect(control<QAbstractButton>(named), &QAbstractButton::clicked, this, [this, handler] { handle(handler); });
    };
    auto onTrigger = [this](std::string_view named, auto handler) {
        connect(control<QAction>(named), &QAction::triggered, this, [this, handler] { handle(handler); });
    };
    // Change: a click on the bar, a key, the wheel, or the end of a drag
    // that moved the thumb. Scroll: every move of the thumb while dragged.
    auto onScroll = [this](std::string_view named, auto change, auto scroll) {
        auto* bar = control<QScrollBar>(named);
        connect(bar, &QAbstractSlider::valueChanged, this, [this, bar, change] {
            if (!bar->isSliderDown())
                handle(change);
        });
        connect(bar, &QAbstractSlider::sliderMoved, this, [this, scroll] { handle(scroll); });
        connect(bar, &QAbstractSlider::sliderPressed, this,
                [bar] { bar->setProperty("valueAtPress", bar->value()); });
        connect(bar, &QAbstractSlider::sliderReleased, this, [this, bar, change] {
            if (bar->property("valueAtPress").toInt() != bar->value())
                handle(change);
        });
    };

    // No run starts inside a wait of the device: the device is busy.
    onClick(names::cmdStart, [this, e] {
        if (m_deviceWaits == 0)
            e->cmdStart_Click();
    });
    onClick(names::cmdStop, [e] { e->cmdStop_Click(); });
    onClick(names::cmdCalibrate, [e] { e->cmdCalibrate_Click(); });
    onClick(names::cmdClearTraces, [e] { e->cmdClearTraces_Click(); });
    onClick(names::cmdFreqBrowse, [e] { e->cmdFreqBrowse_Click(); });
    onClick(names::cmdStartSignal, [this, e] {
        if (m_deviceWaits == 0)
            e->cmdStartSignal_Click();
    });
    onClick(names::CheckBy5, [e] { e->CheckBy5_Click(); });
    onClick(names::CheckSPLCorrect, [e] { e->CheckSPLCorrect_Click(); });
    onClick(names::CheckSoundCard, [e] { e->CheckSoundCard_Click(); });
    onClick(names::CheckUserCalib, [e] { e->CheckUserCalib_Click(); });
    onClick(names::cmdCalibBrowse, [e] { e->cmdCalibBrowse_Click(); });
    onClick(names::CheckInput, [this] { CheckInput_Click(); });
    onClick(names::CheckFFT, [this] { CheckFFT_Click(); });
    onClick(names::CheckResponse, [this] { CheckResponse_Click(); });

    for (int i = 0; i < AutoPlanCount; ++i) {
        auto* option = control<QAbstractButton>(controlName(names::OptionAutoSigGen, i));
        connect(option, &QAbstractButton::clicked, this, [this, e, i] { handle([e, i] { e->OptionAutoSigGen_Click(i); }); });
    }
    for (int i = 0; i < SignalCount; ++i) {
        auto* option = control<QAbstractButton>(controlName(names::OptionSigGen, i));
        connect(option, &QAbstractButton::clicked, this, [this, e, i] { handle([e, i] { e->OptionSigGen_Click(i); }); });
    }

    onScroll(names::HScrollStep, [e] { e->HScrollStep_Change(); }, [e] { e->HScrollStep_Scroll(); });
    onScroll(names::HScrollFFT, [e] { e->HScrollFFT_Change(); }, [e] { e->HScrollFFT_Scroll(); });
    onScroll(names::HScrollFine, [e] { e->HScrollFine_Change(); }, [e] { e->HScrollFine_Scroll(); });
    onScroll(names::HScrollVolume, [e] { e->HScrollVolume_Change(); }, [e] { e->HScrollVolume_Scroll(); });
    onScroll(names::HScrollPan, [e] { e->HScrollPan_Change(); }, [e] { e->HScrollPan_Scroll(); });

    connect(m_comboDBRange, &QComboBox::activated, this, [this, e](int index) {
        const int data = m_comboDBRange->itemData(index).toInt();
        handle([e, data] { e->ComboDBRange_Click(data); });
    });
    connect(m_comboSmooth, &QComboBox::activated, this, [this, e](int index) {
        const int data = m_comboSmooth->itemData(index).toInt();
        handle([e, data] { e->ComboSmooth_Click(data); });
    });

    onTrigger(names::MenuEntryLoadTrace, [e] { e->MenuEntryLoadTrace_Click(); });
    onTrigger(names::MenuEntrySave, [e] { e->MenuEntrySave_Click(); });
    onTrigger(names::MenuEntryExportTrace, [e] { e->MenuEntryExportTrace_Click(); });
    onTrigger(names::MenuEntrySavePicture, [this] { MenuEntrySavePicture_Click(); });
    // Export Trace has what Save Last Trace has to write: enabled with it
    // (a trace exists, no sweep runs).
    auto* save = control<QAction>(names::MenuEntrySave);
    auto* exportTrace = control<QAction>(names::MenuEntryExportTrace);
    exportTrace->setEnabled(save->isEnabled());
    connect(save, &QAction::changed, exportTrace, [save, exportTrace] { exportTrace->setEnabled(save->isEnabled()); });
    // Exit counts itself like any handler, so that a shut-down asked for
    // inside a run still waits for it.
    onTrigger(names::MenuEntryExit, [this] { MenuEntryExit_Click(); });
    onTrigger(names::MenuEntryHelp, [this] { MenuEntryHelp_Click(); });
    onTrigger(names::MenuEntryAbout, [this] { MenuEntryAbout_Click(); });
    onTrigger(names::MenuEntryLogSweep, [this] { MenuEntryLogSweep_Click(); });
    onTrigger(names::MenuEntryEqualiser, [this] { MenuEntryEqualiser_Click(); });
    onTrigger(names::MenuEntryAnalyser, [this] { MenuEntryAnalyser_Click(); });
    onTrigger(names::MenuEntryOpenImpulse, [this] { MenuEntryOpenImpulse_Click(); });
    onTrigger(names::MenuEntrySaveSession, [e] { e->MenuEntrySaveSession_Click(); });
    // An opened session brings its own measurements and corrections: the Log
    // Sweep window shows them at once.
    auto listed = [this] {
        m_logSweep->measurementList().refresh();
        m_logSweep->showSessionCorrections();
    };
    onTrigger(names::MenuEntryOpenSession, [e, listed] { e->MenuEntryOpenSession_Click(), listed(); });
    onTrigger(names::MenuEntryRestoreSession, [e, listed] { e->MenuEntryRestoreSession_Click(), listed(); });
    // View > Traces shows or hides the panel; the tick follows the panel
    // however it was closed.
    onTrigger(names::MenuEntryTraces, [this] { MenuEntryTraces_Click(); });
    connect(m_traces->toggleViewAction(), &QAction::toggled, this,
            [this](bool shown) { m_panel.setValue(names::MenuEntryTraces, shown ? 1 : 0); });
    for (int i = 0; i < DeviceEntries; ++i) {
        onTrigger(controlName(names::MenuEntryOutDevice, i), [this, i] { MenuEntryOutDevice_Click(i); });
        onTrigger(controlName(names::MenuEntryInDevice, i), [this, i] { MenuEntryInDevice_Click(i); });
    }
    onTrigger(names::MenuEntryOtherOutDevice, [this] { MenuEntryOtherOutDevice_Click(); });
    onTrigger(names::MenuEntryOtherInDevice, [this] { MenuEntryOtherInDevice_Click(); });
    for (int i = 0; i < DetectorEntries; ++i)
        onTrigger(controlName(names::MenuEntryDetector, i), [this, i] { MenuEntryDetector_Click(i); });
    for (int i = 0; i < RecordChannelEntries; ++i)
        onTrigger(controlName(names::MenuEntryRecordChannel, i), [this, i] { MenuEntryRecordChannel_Click(i); });

    // A window closed by the user is hidden already: only its box follows.
    connect(m_inputWave.get(), &FormInputWave::closedByUser, this, [this] { m_panel.setValue(names::CheckInput, 0); });
    connect(m_response.get(), &FormResponse::closedByUser, this, [this] { m_panel.setValue(names::CheckResponse, 0); });
    connect(m_response.get(), &FormResponse::fitRangeRequested, this, [this, e] { handle([e] { e->FitRangeToTraces(); }); });
    connect(m_fft.get(), &FormFFT::closedByUser, this, [this] { m_panel.setValue(names::CheckFFT, 0); });
}

// ---------------------------------------------------------------- start-up

frmMain::StartResult frmMain::startUp()
{
    StartResult result = Form_Load();
    if (result.ok) {
        show();
        raise();
        activateWindow();
    }
    return result;
}

void frmMain::failStart(StartResult& result, const std::string& message)
{
    result.ok = false;
    result.message = message;
    // Nothing more may run: no handler, no second shut-down.
    m_unloadRequested = true;
    m_shutDown = true;
    m_sound.closeAudio();
    m_host.message(message, MessageIcon::Critical);
    for (QWidget* w : std::initializer_list<QWidget*>{m_inputWave.get(), m_response.get(), m_fft.get(), m_help.get(),
                                                      m_logSweep.get(), m_equaliser.get(), m_analyser.get()})
        w->hide();
    hide();
}

frmMain::StartResult frmMain::Form_Load()
{
    StartResult result;
    HandlerScope scope(*this);

    // 1. The sound devices and the Settings menus.
    if (const audimera::Status audio = InitAudio(); !audio) {
        failStart(result, audio.message());
        return result;
    }

    // 2. The noise tables, the first call into Audidsp: every export the
    // program needs must be there now rather than fail in a sweep.
    std::string dspError = m_dsp->require(Audidsp::programExports()).message();
    if (dspError.empty()) {
        try {
            m_session->initialiseTables();
        } catch (const std::exception& error) {
            dspError = error.what();
        }
    }
    if (!dspError.empty()) {
        failStart(result, dspError);
        return result;
    }

    // 3. and 4.
    m_document->corrections().enabled.fill(false);
    m_session->choose(0);
    m_document->plot().smooth = 1;

    // 5. The lists' selections, each followed by its handler as if chosen.
    {
        const QSignalBlocker block(m_comboDBRange);
        m_comboDBRange->setCurrentIndex(2);
    }
    m_engine->ComboDBRange_Click(m_comboDBRange->itemData(2).toInt());
    {
        const QSignalBlocker block(m_comboSmooth);
        m_comboSmooth->setCurrentIndex(1);
    }
    m_engine->ComboSmooth_Click(m_comboSmooth->itemData(1).toInt());

    // 6. and 7.
    m_fft->InitFFTTables();
    placeWindows();
    m_inputWave->show();
    m_response->show();
    m_fft->show();
    m_deviceWatch->start();

    // The session an exit with unsaved work left is offered back; from now
    // on every change is kept in the recovery file.
    keepRecoveryFile();
    return result;
}

audimera::Status frmMain::InitAudio()
{
    // Lists the devices and opens entry 0 of each kind.
    const audimera::Status started = m_sound.initAudio();
    // Ticked once open.
    m_outDevice = -1;
    m_inDevice = -1;
    fillDeviceMenus();
    if (started.isFatal())
        return started;

    if (!started) {
        m_host.message(started.message(), MessageIcon::Critical);
        // A failed play device ends the start before the record device is
        // tried.
        if (m_sound.outputDevice() < 0 && m_sound.inputDevice() < 0)
            if (const audimera::Status input = m_sound.openInputDevice(0); !input)
                m_host.message(input.message(), MessageIcon::Critical);
    }
    m_outDevice = m_sound.outputDevice();
    m_inDevice = m_sound.inputDevice();
    tickDevice(names::MenuEntryOutDevice, m_outDevice);
    tickDevice(names::MenuEntryInDevice, m_inDevice);
    showRecordNote();
    return {};
}

void frmMain::fillDeviceMenu(std::string_view entryArray, int count, const std::vector<std::string>& captions)
{
    for (int i = 0; i < DeviceEntries; ++i) {
        auto* entry = control<QAction>(controlName(entryArray, i));
        const bool present = i < count;
        if (present)
            entry->setText(QtPanel::toMnemonicText(QString::fromStdString(captions[size_t(i)])));
        entry->setVisible(present);
        entry->setEnabled(present);
    }
}

void frmMain::tickDevice(std::string_view entryArray, int index)
{
    for (int i = 0; i < DeviceEntries; ++i) {
        auto* entry = control<QAction>(controlName(entryArray, i));
        const QSignalBlocker block(entry);
        entry->setChecked(i == index);
    }
    auto* other = control<QAction>(entryArray == names::MenuEntryOutDevice ? names::MenuEntryOtherOutDevice
                                                                          : names::MenuEntryOtherInDevice);
    const QSignalBlocker block(other);
    other->setChecked(index >= DeviceEntries);
}

void frmMain::fillDeviceMenus()
{
    auto captions = [](const std::vector<SoundDeviceInfo>& devices) {
        std::vector<std::string> texts;
        for (const SoundDeviceInfo& d : devices)
            texts.push_back(d.description.empty() ? d.name : d.description);
        return texts;
    };
    const std::vector<SoundDeviceInfo> play = m_sound.playDevices();
    const std::vector<SoundDeviceInfo> record = m_sound.recordDevices();
    fillDeviceMenu(names::MenuEntryOutDevice, int(play.size()), captions(play));
    fillDeviceMenu(names::MenuEntryInDevice, int(record.size()), captions(record));
    // A device in use past the fourth entry has no tick to show.
    tickDevice(names::MenuEntryOutDevice, m_outDevice);
    tickDevice(names::MenuEntryInDevice, m_inDevice);
}

std::string frmMain::monitorNote(const std::string& playDevice)
{
    return "Recording the monitor of " + playDevice + ": a loopback of the program's own output";
}

void frmMain::showRecordNote()
{
    // Someone who meant to measure through a microphone learns here why the
    // curve is flat.
    const std::vector<SoundDeviceInfo> record = m_sound.recordDevices();
    const bool monitor = m_inDevice >= 0 && m_inDevice < int(record.size()) && record[size_t(m_inDevice)].isMonitor();
    m_recordNote->setText(monitor ? QString::fromStdString(monitorNote(record[size_t(m_inDevice)].monitorOf))
                                  : QString());
    showRateNote();
}

void frmMain::showRateNote()
{
    // The top octave of a curve depends on who converts: the user learns that
    // a device runs at another rate, and that the program handles it.
    m_rateNote->setText(QString::fromStdString(
        SoundDevice::rateNote(m_sound.outputDeviceRate(), m_sound.inputDeviceRate())));
}

void frmMain::watchDevices()
{
    // Only between handlers: a run, an open or a message box on the stack
    // has the devices in hand, and the device's own waits land here too.
    if (m_unloadRequested || m_handlerDepth > 0 || m_session->sweeping() || m_session->playing())
        return;
    // A shut-down asked for inside the device's waits or the messages below
    // waits for this to return.
    HandlerScope scope(*this);
    const DeviceChanges changes = m_sound.followDevices();
    if (!changes.changed || m_unloadRequested)
        return;
    m_outDevice = changes.output;
    m_inDevice = changes.input;
    fillDeviceMenus();
    showRecordNote();
    if (changes.outputReopened) {
        // Opened again after the sound system restarted: at full level and
        // centred, like any new play device, until the bars are applied.
        m_engine->ApplyVolume();
        m_engine->HScrollPan_Change();
    }
    if (!changes.outputLost.empty())
        m_host.message(changes.outputLost, MessageIcon::Critical);
    if (!changes.inputLost.empty())
        m_host.message(changes.inputLost, MessageIcon::Critical);
}

void frmMain::placeWindows()
{
    const QScreen* scr = screen();
    if (!scr)
        return;
    const QRect area = scr->availableGeometry();
    // Room for the title bars that the window manager adds.
    const int titleBar = style()->pixelMetric(QStyle::PM_TitleBarHeight);
    const int gap = fontMetrics().height() / 2;
    resize(sizeHint().expandedTo(minimumSizeHint()));
    move(area.topLeft());
    keepInsideScreen(*this);
    const int x = area.left() + frameGeometry().width() + gap;
    m_response->move(x, area.top());
    m_inputWave->move(x, m_response->y() + m_response->frameGeometry().height() + titleBar + gap);
    m_fft->move(x + m_inputWave->frameGeometry().width() + gap, m_inputWave->y());
    m_response->placeOnScreen();
    m_inputWave->placeOnScreen();
    m_fft->placeOnScreen();
}

// ---------------------------------------------------------------- shut-down

void frmMain::Form_Unload()
{
    if (m_unloadRequested)
        return;
    m_unloadRequested = true;
    // Stops playback and ends any run; the run itself returns later, when
    // its handler is the last one on the stack to return.
    HandlerScope scope(*this);
    // A calibration waiting for the analyser to stop is not measured.
    m_analyser->stopAnalyser();
    m_engine->cmdStop_Click();
}

void frmMain::finishShutDown()
{
    m_shutDown = true;
    m_deviceWatch->stop();
    m_sound.closeAudio();
    m_inputWave->setClosingAllowed(true);
    m_response->setClosingAllowed(true);
    m_fft->setClosingAllowed(true);
    m_help->setClosingAllowed(true);
    m_logSweep->setClosingAllowed(true);
    m_equaliser->setClosingAllowed(true);
    m_analyser->setClosingAllowed(true);
    // The applied equaliser ends with the program.
    m_equaliser->stopApplied();
    m_inputWave->close();
    m_response->close();
    m_fft->close();
    m_help->close();
    m_logSweep->close();
    m_equaliser->close();
    m_analyser->close();
    // Inside this window's own closeEvent this does nothing; the event is
    // accepted there.
    close();
    // Ends the program's event loop. Without one running (tests), exit()
    // would make every later modal loop return at once.
    if (QThread::currentThread()->loopLevel() > 0)
        QCoreApplication::exit(0);
}

void frmMain::showEvent(QShowEvent* event)
{
    if (!event->spontaneous())
        keepInsideScreen(*this);
    QMainWindow::showEvent(event);
}

void frmMain::closeEvent(QCloseEvent* event)
{
    if (!m_shutDown)
        Form_Unload();
    if (m_shutDown)
        event->accept();
    else
        event->ignore(); // a run is still on the stack: closed when it returns
}

// ---------------------------------------------------------------- menus and boxes

void frmMain::MenuEntryAbout_Click()
{
    QMessageBox::about(this, HelpPage::aboutTitle(), HelpPage::aboutText());
}

void frmMain::MenuEntrySavePicture_Click()
{
    FileDialogRequest request = FileDialogRequest::saveAs(
        "Save the response picture as...", "Response.png", "png", {std::begin(PictureFilters), std::end(PictureFilters)});
    // The dialog's own box starts as File > Legend in Pictures is, and the
    // menu's tick follows it.
    request.checkCaption = "Legend and axis titles";
    request.checked = m_panel.value(names::CheckLegend) != 0;
    const std::optional<std::string> path = m_fileDialog.show(request);
    if (!path || path->empty())
        return;
    if (const std::optional<bool> checked = m_fileDialog.checkedOption())
        m_panel.setValue(names::CheckLegend, *checked ? 1 : 0);
    // Entries 0..2: PNG at 1, 2 and 4 times the window's size; 3: SVG. A
    // typed ".svg" or ".png" counts for more than the entry.
    const std::optional<int> type = FileTypes::saveTypeQuestion(m_host, *path, request, m_fileDialog.selectedFilter());
    if (!type)
        return;
    const int filter = *type;
    // File > Legend in Pictures: names and axis titles, off by default.
    const bool legend = m_panel.value(names::CheckLegend) != 0;
    const audimera::Status saved = filter == 3 ? m_response->saveSvg(*path, legend)
                                               : m_response->savePng(*path, filter == 1 ? 2 : filter == 2 ? 4 : 1, legend);
    if (!saved)
        m_host.message(saved.message(), MessageIcon::Critical);
}

void frmMain::MenuEntryLogSweep_Click()
{
    m_logSweep->show();
    m_logSweep->raise();
    m_logSweep->activateWindow();
}

void frmMain::MenuEntryEqualiser_Click()
{
    m_equaliser->show();
    m_equaliser->raise();
    m_equaliser->activateWindow();
}

void frmMain::MenuEntryAnalyser_Click()
{
    m_analyser->show();
    m_analyser->raise();
    m_analyser->activateWindow();
}

void frmMain::MenuEntryOpenImpulse_Click()
{
    MenuEntryLogSweep_Click();
    m_logSweep->cmdLogOpen_Click();
}

void frmMain::MenuEntryTraces_Click()
{
    m_traces->setVisible(m_panel.value(names::MenuEntryTraces) != 0);
}

void frmMain::keepRecoveryFile()
{
    // This program's own recovery file (another one running keeps its own),
    // in the user's data folder. Only a session the last run left is
    // offered on the status line; an older one not restored since stays in
    // the menu.
    m_recoveryClaim = RecoveryClaim::claim(MeasurementSession::recoveryPath());
    const bool left = m_recoveryClaim && MeasurementSession::takeLeftRecovery(m_recoveryClaim->path());
    std::error_code ec;
    if (left || std::filesystem::is_regular_file(MeasurementSession::lastSessionPath(), ec))
        m_panel.setEnabled(names::MenuEntryRestoreSession, true);
    if (left)
        m_statusLine->setText(QString::fromUtf8(LeftRecoveryNote));
    if (m_recoveryClaim)
        m_session->setRecoveryFile(m_recoveryClaim->path());
}

void frmMain::MenuEntryHelp_Click()
{
    m_help->showHelp();
}

void frmMain::MenuEntryOutDevice_Click(int Index)
{
    if (Index < 0 || Index >= DeviceEntries)
        return;
    useOutDevice(Index);
}

void frmMain::MenuEntryOtherOutDevice_Click()
{
    useOtherDevice(true);
}

void frmMain::MenuEntryOtherInDevice_Click()
{
    useOtherDevice(false);
}

void frmMain::useOtherDevice(bool play)
{
    const int index = chooseOtherDevice(play);
    if (index >= 0)
        play ? useOutDevice(index) : useInDevice(index);
    else if (play)
        tickDevice(names::MenuEntryOutDevice, m_outDevice);
    else
        tickDevice(names::MenuEntryInDevice, m_inDevice);
}

int frmMain::chooseOtherDevice(bool play)
{
    // Nothing that needs the device while it is busy, as for the entries.
    if (m_session->sweeping() || m_session->playing() || m_deviceWaits > 0)
        return -1;
    const std::vector<SoundDeviceInfo> devices = play ? m_sound.playDevices() : m_sound.recordDevices();
    DeviceDialog dialog(play ? DeviceDialog::Kind::Play : DeviceDialog::Kind::Record, devices,
                        play ? m_outDevice : m_inDevice, this);
    if (dialog.exec() != QDialog::Accepted || m_unloadRequested)
        return -1;
    return dialog.chosen();
}

void frmMain::useOutDevice(int Index)
{
    if (m_session->sweeping() || m_session->playing() || m_deviceWaits > 0) {
        tickDevice(names::MenuEntryOutDevice, m_outDevice);
        return;
    }
    tickDevice(names::MenuEntryOutDevice, Index);
    if (const audimera::Status opened = m_sound.openOutputDevice(Index); !opened) {
        tickDevice(names::MenuEntryOutDevice, m_outDevice);
        m_host.message(opened.message(), MessageIcon::Critical);
        return;
    }
    m_outDevice = Index;
    showRateNote();
    // A new play device starts at full level and centred; the bars may say
    // otherwise, so they are applied to it at once.
    m_engine->ApplyVolume();
    m_engine->HScrollPan_Change();
}

void frmMain::MenuEntryInDevice_Click(int Index)
{
    if (Index < 0 || Index >= DeviceEntries)
        return;
    useInDevice(Index);
}

void frmMain::useInDevice(int Index)
{
    if (m_session->sweeping() || m_session->playing() || m_deviceWaits > 0) {
        tickDevice(names::MenuEntryInDevice, m_inDevice);
        return;
    }
    tickDevice(names::MenuEntryInDevice, Index);
    if (const audimera::Status opened = m_sound.openInputDevice(Index); !opened) {
        tickDevice(names::MenuEntryInDevice, m_inDevice);
        m_host.message(opened.message(), MessageIcon::Critical);
        return;
    }
    m_inDevice = Index;
    showRecordNote();
}

void frmMain::tickOne(std::string_view menu, int entries, int index)
{
    for (int i = 0; i < entries; ++i)
        m_panel.setValue(controlName(menu, i), i == index ? 1 : 0);
}

void frmMain::MenuEntryDetector_Click(int Index)
{
    if (Index < 0 || Index >= DetectorEntries)
        return;
    // A tick is a choice, not a toggle: the entry clicked is ticked.
    tickOne(names::MenuEntryDetector, DetectorEntries, Index);
    QSettings(QStringLiteral("Audimera"), QStringLiteral("Audimera"))
        .setValue(DetectorSettingKey, Index == 1 ? QStringLiteral("NarrowBand") : QStringLiteral("MeanMagnitude"));
}

void frmMain::MenuEntryRecordChannel_Click(int Index)
{
    if (Index < 0 || Index >= RecordChannelEntries)
        return;
    tickOne(names::MenuEntryRecordChannel, RecordChannelEntries, Index);
    static const char* const Names[] = {"Mix", "Left", "Right"};
    QSettings(QStringLiteral("Audimera"), QStringLiteral("Audimera"))
        .setValue(RecordChannelSettingKey, QLatin1String(Names[Index]));
}

// ---------------------------------------------------------------- window boxes

void frmMain::CheckInput_Click()
{
    m_inputWave->setVisible(m_panel.value(names::CheckInput) != 0);
}

void frmMain::CheckFFT_Click()
{
    m_fft->setVisible(m_panel.value(names::CheckFFT) != 0);
}

void frmMain::CheckResponse_Click()
{
    m_response->setVisible(m_panel.value(names::CheckResponse) != 0);
}

} // namespace audimera
