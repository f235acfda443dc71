#include "frmMain.h"

#include "DspLibrary.h"
#include "FormDisplays.h"
#include "FormFFT.h"
#include "FormHelp.h"
#include "FormInputWave.h"
#include "FormResponse.h"
#include "HelpPage.h"
#include "PulseSoundDevice.h"
#include "ResponsePlot.h"
#include "SoundDevice.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QStyle>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <exception>

namespace {

constexpr int AutoPlanCount = 4;
constexpr int SignalCount = 6;

QString name(const char* array, int index)
{
    return QString::fromStdString(controlName(array, index));
}

// Widths in characters of the current font, so that the layout follows the
// font and the screen's scale.
int charsWide(const QWidget* w, int chars)
{
    return w->fontMetrics().horizontalAdvance(QString(chars, QLatin1Char('0')));
}

QLabel* makeLabel(const QString& objectName, const QString& caption)
{
    auto* label = new QLabel(caption);
    label->setObjectName(objectName);
    return label;
}

// A label whose text changes: wide enough for its longest text, so that the
// layout does not jump while values change.
QLabel* makeReadout(const QString& objectName, const QString& caption, const QString& widest)
{
    QLabel* label = makeLabel(objectName, caption);
    label->setMinimumWidth(label->fontMetrics().horizontalAdvance(widest));
    return label;
}

QPushButton* makeButton(const QString& objectName, const QString& caption, bool enabled = true)
{
    auto* button = new QPushButton(caption);
    button->setObjectName(objectName);
    button->setEnabled(enabled);
    button->setAutoDefault(false);
    return button;
}

QToolButton* makeBrowseButton(const QString& objectName)
{
    auto* button = new QToolButton;
    button->setObjectName(objectName);
    button->setText(QStringLiteral("..."));
    return button;
}

QCheckBox* makeCheck(const QString& objectName, const QString& caption, bool checked,
                     const QString& toolTip = {})
{
    auto* check = new QCheckBox(caption);
    check->setObjectName(objectName);
    check->setChecked(checked);
    if (!toolTip.isEmpty())
        check->setToolTip(toolTip);
    return check;
}

QRadioButton* makeOption(QButtonGroup* group, const char* array, int index, const QString& caption,
                         bool checked = false)
{
    auto* option = new QRadioButton(caption);
    option->setObjectName(name(array, index));
    group->addButton(option, index);
    option->setChecked(checked);
    return option;
}

QLineEdit* makeEdit(const QString& objectName, const QString& text, int chars = 0)
{
    auto* edit = new QLineEdit(text);
    edit->setObjectName(objectName);
    if (chars > 0) {
        edit->setMinimumWidth(charsWide(edit, chars));
        edit->setMaximumWidth(charsWide(edit, chars + 4));
    }
    return edit;
}

QScrollBar* makeScroll(const QString& objectName, int minimum, int maximum, int value)
{
    auto* bar = new QScrollBar(Qt::Horizontal);
    bar->setObjectName(objectName);
    bar->setRange(minimum, maximum);
    bar->setValue(value);
    bar->setMinimumWidth(charsWide(bar, 16));
    bar->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    return bar;
}

QGroupBox* makeFrame(const QString& objectName, const QString& caption)
{
    auto* frame = new QGroupBox(caption);
    frame->setObjectName(objectName);
    return frame;
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

} // namespace

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
    m_inputWave = std::make_unique<FormInputWave>();
    m_response = std::make_unique<FormResponse>(m_host);
    m_fft = std::make_unique<FormFFT>();
    m_help = std::make_unique<FormHelp>();
    m_displays = std::make_unique<FormDisplays>(*m_response, *m_inputWave, *m_fft);
    m_engine = std::make_unique<MeasurementEngine>(m_panel, m_host, m_sound, *m_displays);
    m_engine->setFileDialog(&m_fileDialog);

    buildControls();
    buildMenus();
    wireControls();

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

    m_inputWave->setFrequencySource([this] { return m_engine->Frequency; });
    m_response->setSettingsSource([this] {
        ResponseSettings settings;
        const int index = m_comboDBRange->currentIndex();
        settings.dbSpan = index >= 0 ? m_comboDBRange->itemData(index).toInt() : 0;
        settings.smooth = m_engine->Smooth;
        return settings;
    });
}

frmMain::~frmMain()
{
    m_sound.setWaitHook({});
    // The windows go with the main window, whatever the path.
    m_inputWave->setClosingAllowed(true);
    m_response->setClosingAllowed(true);
    m_fft->setClosingAllowed(true);
    m_help->setClosingAllowed(true);
}

void frmMain::buildControls()
{
    auto* central = new QWidget;
    central->setObjectName(QStringLiteral("CentralWidget"));
    auto* columns = new QHBoxLayout(central);

    auto* left = new QVBoxLayout;
    left->addWidget(buildResponseFrame());
    left->addWidget(buildInputFrame());
    left->addWidget(makeCheck(QStringLiteral("CheckResponse"), QStringLiteral("Show Frequency Response"), true,
                              QStringLiteral("Show/Hide the frequency response window")));
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
    m_recordNote = new QLabel;
    m_recordNote->setObjectName(QStringLiteral("RecordDeviceNote"));
    statusBar()->addPermanentWidget(m_recordNote);
    m_rateNote = new QLabel;
    m_rateNote->setObjectName(QStringLiteral("DeviceRateNote"));
    statusBar()->addPermanentWidget(m_rateNote);
}

QWidget* frmMain::buildResponseFrame()
{
    QGroupBox* frame = makeFrame(QStringLiteral("Frame1"), QStringLiteral("Response Signal Generator"));
    auto* layout = new QVBoxLayout(frame);

    auto* buttons = new QGridLayout;
    buttons->addWidget(makeButton(QStringLiteral("cmdStart"), QStringLiteral("Start Trace")), 0, 0);
    buttons->addWidget(makeButton(QStringLiteral("cmdStop"), QStringLiteral("Stop"), false), 0, 1);
    buttons->addWidget(makeButton(QStringLiteral("cmdClearTraces"), QStringLiteral("Clear Traces"), false), 1, 0);
    buttons->addWidget(makeButton(QStringLiteral("cmdCalibrate"), QStringLiteral("Recenter 0dB"), false), 1, 1);
    layout->addLayout(buttons);

    auto* plans = new QButtonGroup(frame);
    plans->setObjectName(QStringLiteral("OptionAutoSigGen"));
    auto* grid = new QGridLayout;
    grid->setColumnStretch(1, 1);
    grid->addWidget(makeOption(plans, "OptionAutoSigGen", 0, QStringLiteral("Range:"), true), 0, 0);
    grid->addLayout(row({makeEdit(QStringLiteral("TextStart"), QStringLiteral("20"), 6),
                         makeLabel(QStringLiteral("Label1"), QStringLiteral("Hz to")),
                         makeEdit(QStringLiteral("TextStop"), QStringLiteral("20000"), 6),
                         makeLabel(QStringLiteral("Label2"), QStringLiteral("Hz"))}),
                    0, 1);
    auto* step = new QHBoxLayout;
    step->addWidget(makeScroll(QStringLiteral("HScrollStep"), 101, 200, 126), 1);
    step->addWidget(makeReadout(QStringLiteral("LabelStep"),
                                QStringLiteral("Step: x") + QString::fromStdString(m_panel.formatNumber(1.26)),
                                QStringLiteral("Step: x0.000")));
    grid->addLayout(step, 1, 1);
    grid->addWidget(makeOption(plans, "OptionAutoSigGen", 1, QStringLiteral("15 ISO Bands 25Hz - 16kHz")), 2, 0, 1, 2);
    grid->addWidget(makeOption(plans, "OptionAutoSigGen", 2, QStringLiteral("31 ISO Bands 20Hz - 20kHz")), 3, 0, 1, 2);
    grid->addWidget(makeOption(plans, "OptionAutoSigGen", 3, QStringLiteral("User file : ")), 4, 0);
    auto* file = new QHBoxLayout;
    file->addWidget(makeEdit(QStringLiteral("txtUserFreqFile"), QStringLiteral("UserFreq.txt")), 1);
    file->addWidget(makeBrowseButton(QStringLiteral("cmdFreqBrowse")));
    grid->addLayout(file, 4, 1);
    layout->addLayout(grid);
    return frame;
}

QWidget* frmMain::buildSignalFrame()
{
    QGroupBox* frame = makeFrame(QStringLiteral("Frame4"), QStringLiteral("Simple Signal Generator"));
    auto* layout = new QVBoxLayout(frame);

    auto* signalGroup = new QButtonGroup(frame);
    signalGroup->setObjectName(QStringLiteral("OptionSigGen"));
    const char* captions[SignalCount] = {"Sine", "Square", "Triangle", "Pink Noise", "White Noise", "Silence"};
    auto* signalGrid = new QGridLayout;
    for (int i = 0; i < SignalCount; ++i)
        signalGrid->addWidget(makeOption(signalGroup, "OptionSigGen", i, QString::fromLatin1(captions[i]), i == 0),
                              i / 3, i % 3);
    layout->addLayout(signalGrid);

    auto* tone = new QHBoxLayout;
    tone->addWidget(makeEdit(QStringLiteral("TextFFT"), QStringLiteral("100"), 8));
    tone->addWidget(makeLabel(QStringLiteral("Label5"), QStringLiteral("Hz")));
    tone->addWidget(makeCheck(QStringLiteral("CheckBy5"), QStringLiteral("x20"), false));
    tone->addStretch(1);
    tone->addWidget(makeButton(QStringLiteral("cmdStartSignal"), QStringLiteral("Play Signal")));
    layout->addLayout(tone);
    layout->addWidget(makeScroll(QStringLiteral("HScrollFFT"), 10, 9000, 1000));
    layout->addWidget(makeScroll(QStringLiteral("HScrollFine"), 0, 10000, 0));

    const QString widestLevel = QStringLiteral("-100.00 dB");
    auto* level = new QHBoxLayout;
    level->addWidget(makeLabel(QStringLiteral("Label3"), QStringLiteral("Level:")));
    level->addWidget(makeScroll(QStringLiteral("HScrollVolume"), 0, 1000, 1000), 1);
    QLabel* volume = makeReadout(QStringLiteral("LabelVol"), QStringLiteral("0.00 dB"), widestLevel);
    volume->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    level->addWidget(volume);
    layout->addLayout(level);

    auto* pan = new QGridLayout;
    pan->setVerticalSpacing(0);
    for (int c = 0; c < 3; ++c)
        pan->setColumnStretch(c, 1);
    pan->addWidget(makeScroll(QStringLiteral("HScrollPan"), -1000, 1000, 0), 0, 0, 1, 3);
    pan->addWidget(makeLabel(QStringLiteral("LabelLeft"), QStringLiteral("Left")), 1, 0, Qt::AlignLeft);
    QLabel* center = makeLabel(QStringLiteral("LabelCenter"), QStringLiteral("Center"));
    // The balance mark of the bar's position is blue; at start the centre.
    QPalette blue = center->palette();
    blue.setColor(QPalette::WindowText, QColor(0, 0, 255));
    center->setPalette(blue);
    pan->addWidget(center, 1, 1, Qt::AlignHCenter);
    pan->addWidget(makeLabel(QStringLiteral("LabelRight"), QStringLiteral("Right")), 1, 2, Qt::AlignRight);
    pan->addWidget(makeReadout(QStringLiteral("LabelVolLeft"), QStringLiteral("0.00 dB"), widestLevel), 2, 0,
                   Qt::AlignLeft);
    QLabel* right = makeReadout(QStringLiteral("LabelVolRight"), QStringLiteral("0.00 dB"), widestLevel);
    right->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    pan->addWidget(right, 2, 2, Qt::AlignRight);
    layout->addLayout(pan);
    return frame;
}

QWidget* frmMain::buildMeasureFrame()
{
    QGroupBox* frame = makeFrame(QStringLiteral("Frame3"), QStringLiteral("Measure"));
    auto* grid = new QGridLayout(frame);
    grid->setColumnStretch(1, 1);
    struct Readout {
        const char* label;
        const char* caption;
        const char* toolTip;
        const char* value;
    };
    const Readout readouts[] = {
        {"LblFreqtxt", "Frequency:", nullptr, "LabelFreq"},
        {"LabelDBtxt", "Level:", "Input level in dB, note this is not dBA, but signal dB", "LabelDB"},
        {"LabelSNRtxt", "Signal SNR:",
         "This is the Signal to Noise ratio of the recorded signal, this ratio is based on the first calibration "
         "silence.",
         "LabelSNR"},
        {"Label4", "Card SNR:", nullptr, "LabelCardSNR"},
    };
    int r = 0;
    for (const Readout& readout : readouts) {
        QLabel* caption = makeLabel(QString::fromLatin1(readout.label), QString::fromLatin1(readout.caption));
        if (readout.toolTip)
            caption->setToolTip(QString::fromLatin1(readout.toolTip));
        grid->addWidget(caption, r, 0);
        grid->addWidget(makeReadout(QString::fromLatin1(readout.value), QStringLiteral("N/A"),
                                    QStringLiteral("-20000.00 Hz")),
                        r, 1);
        ++r;
    }
    return frame;
}

QWidget* frmMain::buildInputFrame()
{
    QGroupBox* frame = makeFrame(QStringLiteral("Frame2"), QStringLiteral("Input Response"));
    auto* layout = new QVBoxLayout(frame);
    layout->addWidget(makeCheck(QStringLiteral("CheckInput"), QStringLiteral("Show Input Waveform"), true,
                                QStringLiteral("Show/Hide the recorded waveform window")));
    layout->addWidget(makeCheck(QStringLiteral("CheckFFT"), QStringLiteral("Show Signal FFT"), true,
                                QStringLiteral("Show/Hide the Fast Fourrier Transform of input signal")));
    layout->addWidget(makeCheck(QStringLiteral("CheckBadInputWave"), QStringLiteral("Red/Skip measure if bad wave"),
                                true,
                                QStringLiteral("Verify that input wave form is well formed, in some cases a bug into "
                                               "DirectSound causes input wave to be strange")));

    auto* lists = new QGridLayout;
    lists->setColumnStretch(2, 1);
    m_comboDBRange = new QComboBox;
    m_comboDBRange->setObjectName(QStringLiteral("ComboDBRange"));
    for (const ResponsePlot::ComboItem& item : ResponsePlot::DBRangeItems)
        m_comboDBRange->addItem(QString::fromLatin1(item.text.data(), qsizetype(item.text.size())), item.data);
    // No selection until start-up selects one (and fires the handler).
    m_comboDBRange->setCurrentIndex(-1);
    m_comboSmooth = new QComboBox;
    m_comboSmooth->setObjectName(QStringLiteral("ComboSmooth"));
    m_comboSmooth->setToolTip(QStringLiteral("Change the frequency response curve smothing"));
    for (const ResponsePlot::ComboItem& item : ResponsePlot::SmoothItems)
        m_comboSmooth->addItem(QString::fromLatin1(item.text.data(), qsizetype(item.text.size())), item.data);
    m_comboSmooth->setCurrentIndex(-1);
    lists->addWidget(makeLabel(QStringLiteral("Label8"), QStringLiteral("dB Range:")), 0, 0);
    lists->addWidget(m_comboDBRange, 0, 1);
    lists->addWidget(makeLabel(QStringLiteral("Label9"), QStringLiteral("Smooth level:")), 1, 0);
    lists->addWidget(m_comboSmooth, 1, 1);
    layout->addLayout(lists);

    layout->addWidget(makeCheck(QStringLiteral("CheckSPLCorrect"), QStringLiteral("Correct for 'C' SPL curve"), false));
    layout->addWidget(makeCheck(QStringLiteral("CheckSoundCard"), QStringLiteral("Correct Sound Card curve"), false));
    auto* user = new QHBoxLayout;
    user->addWidget(makeCheck(QStringLiteral("CheckUserCalib"), QStringLiteral("User Calibration file:"), false));
    user->addWidget(makeEdit(QStringLiteral("txtUserCalibFile"), QStringLiteral("UserCalib.txt")), 1);
    user->addWidget(makeBrowseButton(QStringLiteral("cmdCalibBrowse")));
    layout->addLayout(user);
    return frame;
}

void frmMain::buildMenus()
{
    auto action = [](QMenu* menu, const char* objectName, const char* caption) {
        QAction* a = menu->addAction(QString::fromLatin1(caption));
        a->setObjectName(QString::fromLatin1(objectName));
        return a;
    };
    auto separator = [](QMenu* menu, const char* objectName) {
        menu->addSeparator()->setObjectName(QString::fromLatin1(objectName));
    };

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("FileMenu"));
    action(file, "MenuEntryLoadTrace", "&Load Trace");
    action(file, "MenuEntrySave", "&Save Last Trace");
    separator(file, "sepfile");
    action(file, "MenuEntryExit", "&Exit");

    QMenu* settings = menuBar()->addMenu(QStringLiteral("&Settings"));
    settings->setObjectName(QStringLiteral("SettingsMenu"));
    QMenu* out = settings->addMenu(QStringLiteral("&Play Device"));
    out->setObjectName(QStringLiteral("MenuOutDevice"));
    QMenu* in = settings->addMenu(QStringLiteral("&Record Device"));
    in->setObjectName(QStringLiteral("MenuInDevice"));
    for (int i = 0; i < DeviceEntries; ++i) {
        const QString caption = QStringLiteral("Device%1").arg(i);
        QAction* o = out->addAction(caption);
        o->setObjectName(name("MenuEntryOutDevice", i));
        o->setCheckable(true);
        QAction* r = in->addAction(caption);
        r->setObjectName(name("MenuEntryInDevice", i));
        r->setCheckable(true);
    }

    QMenu* help = menuBar()->addMenu(QStringLiteral("&?"));
    help->setObjectName(QStringLiteral("HelpMenu"));
    action(help, "MenuEntryHelp", "&Help");
    separator(help, "sephelp");
    action(help, "MenuEntryAbout", "&About");
}

void frmMain::wireControls()
{
    MeasurementEngine* e = m_engine.get();
    auto onClick = [this](const char* control, auto handler) {
        auto* button = findChild<QAbstractButton*>(QString::fromLatin1(control));
        Q_ASSERT(button);
        connect(button, &QAbstractButton::clicked, this, [this, handler] { handle(handler); });
    };
    auto onTrigger = [this](const QString& control, auto handler) {
        auto* a = findChild<QAction*>(control);
        Q_ASSERT(a);
        connect(a, &QAction::triggered, this, [this, handler] { handle(handler); });
    };
    // Change: a click on the bar, a key, the wheel, or the end of a drag
    // that moved the thumb. Scroll: every move of the thumb while dragged.
    auto onScroll = [this](const char* control, auto change, auto scroll) {
        auto* bar = findChild<QScrollBar*>(QString::fromLatin1(control));
        Q_ASSERT(bar);
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
    onClick("cmdStart", [this, e] {
        if (m_deviceWaits == 0)
            e->cmdStart_Click();
    });
    onClick("cmdStop", [e] { e->cmdStop_Click(); });
    onClick("cmdCalibrate", [e] { e->cmdCalibrate_Click(); });
    onClick("cmdClearTraces", [e] { e->cmdClearTraces_Click(); });
    onClick("cmdFreqBrowse", [e] { e->cmdFreqBrowse_Click(); });
    onClick("cmdStartSignal", [this, e] {
        if (m_deviceWaits == 0)
            e->cmdStartSignal_Click();
    });
    onClick("CheckBy5", [e] { e->CheckBy5_Click(); });
    onClick("CheckSPLCorrect", [e] { e->CheckSPLCorrect_Click(); });
    onClick("CheckSoundCard", [e] { e->CheckSoundCard_Click(); });
    onClick("CheckUserCalib", [e] { e->CheckUserCalib_Click(); });
    onClick("cmdCalibBrowse", [e] { e->cmdCalibBrowse_Click(); });
    onClick("CheckInput", [this] { CheckInput_Click(); });
    onClick("CheckFFT", [this] { CheckFFT_Click(); });
    onClick("CheckResponse", [this] { CheckResponse_Click(); });

    for (int i = 0; i < AutoPlanCount; ++i) {
        auto* option = findChild<QAbstractButton*>(name("OptionAutoSigGen", i));
        connect(option, &QAbstractButton::clicked, this, [this, e, i] { handle([e, i] { e->OptionAutoSigGen_Click(i); }); });
    }
    for (int i = 0; i < SignalCount; ++i) {
        auto* option = findChild<QAbstractButton*>(name("OptionSigGen", i));
        connect(option, &QAbstractButton::clicked, this, [this, e, i] { handle([e, i] { e->OptionSigGen_Click(i); }); });
    }

    onScroll("HScrollStep", [e] { e->HScrollStep_Change(); }, [e] { e->HScrollStep_Scroll(); });
    onScroll("HScrollFFT", [e] { e->HScrollFFT_Change(); }, [e] { e->HScrollFFT_Scroll(); });
    onScroll("HScrollFine", [e] { e->HScrollFine_Change(); }, [e] { e->HScrollFine_Scroll(); });
    onScroll("HScrollVolume", [e] { e->HScrollVolume_Change(); }, [e] { e->HScrollVolume_Scroll(); });
    onScroll("HScrollPan", [e] { e->HScrollPan_Change(); }, [e] { e->HScrollPan_Scroll(); });

    connect(m_comboDBRange, &QComboBox::activated, this, [this, e] { handle([e] { e->ComboDBRange_Click(); }); });
    connect(m_comboSmooth, &QComboBox::activated, this, [this, e](int index) {
        const int data = m_comboSmooth->itemData(index).toInt();
        handle([e, data] { e->ComboSmooth_Click(data); });
    });

    onTrigger(QStringLiteral("MenuEntryLoadTrace"), [e] { e->MenuEntryLoadTrace_Click(); });
    onTrigger(QStringLiteral("MenuEntrySave"), [e] { e->MenuEntrySave_Click(); });
    // Exit counts itself like any handler, so that a shut-down asked for
    // inside a run still waits for it.
    onTrigger(QStringLiteral("MenuEntryExit"), [this] { MenuEntryExit_Click(); });
    onTrigger(QStringLiteral("MenuEntryHelp"), [this] { MenuEntryHelp_Click(); });
    onTrigger(QStringLiteral("MenuEntryAbout"), [this] { MenuEntryAbout_Click(); });
    for (int i = 0; i < DeviceEntries; ++i) {
        onTrigger(name("MenuEntryOutDevice", i), [this, i] { MenuEntryOutDevice_Click(i); });
        onTrigger(name("MenuEntryInDevice", i), [this, i] { MenuEntryInDevice_Click(i); });
    }

    // A window closed by the user is hidden already: only its box follows.
    connect(m_inputWave.get(), &FormInputWave::closedByUser, this, [this] { m_panel.setValue("CheckInput", 0); });
    connect(m_response.get(), &FormResponse::closedByUser, this, [this] { m_panel.setValue("CheckResponse", 0); });
    connect(m_fft.get(), &FormFFT::closedByUser, this, [this] { m_panel.setValue("CheckFFT", 0); });
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
    for (QWidget* w : std::initializer_list<QWidget*>{m_inputWave.get(), m_response.get(), m_fft.get(), m_help.get()})
        w->hide();
    hide();
}

frmMain::StartResult frmMain::Form_Load()
{
    StartResult result;
    HandlerScope scope(*this);

    // 1. The sound devices and the Settings menus.
    if (const std::string fatal = InitAudio(); !fatal.empty()) {
        failStart(result, fatal);
        return result;
    }

    // 2. The noise tables, the first call into Audidsp: every export the
    // program needs must be there now rather than fail in a sweep.
    std::string dspError = m_dsp->require(Audidsp::programExports());
    if (dspError.empty()) {
        try {
            m_engine->InitWhitePinkBuffers();
        } catch (const std::exception& error) {
            dspError = error.what();
        }
    }
    if (!dspError.empty()) {
        failStart(result, dspError);
        return result;
    }

    // 3. and 4.
    m_engine->CalibEnable.fill(false);
    m_engine->GenIndex = 0;
    m_engine->Smooth = 1;

    // 5. The lists' selections, each followed by its handler as if chosen.
    {
        const QSignalBlocker block(m_comboDBRange);
        m_comboDBRange->setCurrentIndex(2);
    }
    m_engine->ComboDBRange_Click();
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
    return result;
}

std::string frmMain::InitAudio()
{
    auto* pulse = dynamic_cast<PulseSoundDevice*>(&m_sound);
    std::string openError;
    if (pulse) {
        // Connects, lists and opens entry 0 of each kind.
        openError = pulse->initAudio();
        if (PulseSoundDevice::isFatal(openError))
            return openError;
    }

    const std::vector<SoundDeviceInfo> play = m_sound.playDevices();
    const std::vector<SoundDeviceInfo> record = m_sound.recordDevices();
    // Ticked once open.
    m_outDevice = -1;
    m_inDevice = -1;
    fillDeviceMenus();

    if (play.empty() || record.empty()) {
        std::string fatal = std::string(PulseSoundDevice::NoSoundCardMessage) + "\n";
        if (play.empty() && record.empty())
            fatal += "No play device and no record device";
        else
            fatal += play.empty() ? "No play device" : "No record device";
        return fatal;
    }

    if (pulse) {
        if (!openError.empty()) {
            m_host.message(openError, MessageIcon::Critical);
            // A failed play device ends initAudio before the record device
            // is tried.
            if (pulse->outputDevice() < 0 && pulse->inputDevice() < 0)
                if (const std::string error = m_sound.openInputDevice(0); !error.empty())
                    m_host.message(error, MessageIcon::Critical);
        }
        m_outDevice = pulse->outputDevice();
        m_inDevice = pulse->inputDevice();
    } else {
        if (const std::string error = m_sound.openOutputDevice(0); !error.empty())
            m_host.message(error, MessageIcon::Critical);
        else
            m_outDevice = 0;
        if (const std::string error = m_sound.openInputDevice(0); !error.empty())
            m_host.message(error, MessageIcon::Critical);
        else
            m_inDevice = 0;
    }
    tickDevice("MenuEntryOutDevice", m_outDevice);
    tickDevice("MenuEntryInDevice", m_inDevice);
    showRecordNote();
    return {};
}

void frmMain::fillDeviceMenu(const char* entryArray, int count, const std::vector<std::string>& captions)
{
    for (int i = 0; i < DeviceEntries; ++i) {
        auto* entry = findChild<QAction*>(name(entryArray, i));
        const bool present = i < count;
        if (present)
            entry->setText(QtPanel::toMnemonicText(QString::fromStdString(captions[size_t(i)])));
        entry->setVisible(present);
        entry->setEnabled(present);
    }
}

void frmMain::tickDevice(const char* entryArray, int index)
{
    for (int i = 0; i < DeviceEntries; ++i) {
        auto* entry = findChild<QAction*>(name(entryArray, i));
        const QSignalBlocker block(entry);
        entry->setChecked(i == index);
    }
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
    fillDeviceMenu("MenuEntryOutDevice", int(play.size()), captions(play));
    fillDeviceMenu("MenuEntryInDevice", int(record.size()), captions(record));
    // A device in use past the fourth entry has no tick to show.
    tickDevice("MenuEntryOutDevice", m_outDevice);
    tickDevice("MenuEntryInDevice", m_inDevice);
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
    if (m_unloadRequested || m_handlerDepth > 0 || m_engine->Running || m_engine->Playing)
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
    m_inputWave->close();
    m_response->close();
    m_fft->close();
    m_help->close();
    // Inside this window's own closeEvent this does nothing; the event is
    // accepted there.
    close();
    // Ends the program's event loop. Without one running (tests), exit()
    // would make every later modal loop return at once.
    if (QThread::currentThread()->loopLevel() > 0)
        QCoreApplication::exit(0);
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

void frmMain::MenuEntryHelp_Click()
{
    m_help->showHelp();
}

void frmMain::MenuEntryOutDevice_Click(int Index)
{
    if (Index < 0 || Index >= DeviceEntries)
        return;
    if (m_engine->Running || m_engine->Playing || m_deviceWaits > 0) {
        tickDevice("MenuEntryOutDevice", m_outDevice);
        return;
    }
    tickDevice("MenuEntryOutDevice", Index);
    if (const std::string error = m_sound.openOutputDevice(Index); !error.empty()) {
        tickDevice("MenuEntryOutDevice", m_outDevice);
        m_host.message(error, MessageIcon::Critical);
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
    if (m_engine->Running || m_engine->Playing || m_deviceWaits > 0) {
        tickDevice("MenuEntryInDevice", m_inDevice);
        return;
    }
    tickDevice("MenuEntryInDevice", Index);
    if (const std::string error = m_sound.openInputDevice(Index); !error.empty()) {
        tickDevice("MenuEntryInDevice", m_inDevice);
        m_host.message(error, MessageIcon::Critical);
        return;
    }
    m_inDevice = Index;
    showRecordNote();
}

// ---------------------------------------------------------------- window boxes

void frmMain::CheckInput_Click()
{
    m_inputWave->setVisible(m_panel.value("CheckInput") != 0);
}

void frmMain::CheckFFT_Click()
{
    m_fft->setVisible(m_panel.value("CheckFFT") != 0);
}

void frmMain::CheckResponse_Click()
{
    m_response->setVisible(m_panel.value("CheckResponse") != 0);
}
