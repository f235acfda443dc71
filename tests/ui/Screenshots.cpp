// Pictures of every window for the documentation and for looking at the
// layout: the main window, the response plot with a few measured traces,
// the waveform, the FFT, the help window, and all of them side by side.
// Runs only when AUDIMERA_SCREENSHOTS names a folder (scripts/screenshots);
// QT_SCALE_FACTOR=2 gives the pictures at 200 %.
#include "tests/ui/MainWindowFixture.h"

#include "devices/SoundChain.h"
#include "ui/FormAnalyser.h"
#include "ui/FormLogSweep.h"
#include "ui/TracesPanel.h"

#include <QTableWidget>
#include <QDir>
#include <QDoubleSpinBox>
#include <QPainter>
#include <QPixmap>
#include <QSettings>
#include <QTabWidget>
#include <QThread>

#include <cstdlib>

namespace audimera {

namespace {

class Screenshots : public MainWindowTest {
protected:
    void SetUp() override
    {
        const char* dir = std::getenv("AUDIMERA_SCREENSHOTS");
        if (!dir || !*dir)
            GTEST_SKIP() << "set AUDIMERA_SCREENSHOTS to a folder to make the pictures";
        m_dir = QString::fromLocal8Bit(dir);
        QDir().mkpath(m_dir);
    }

    void save(QWidget& window, const char* name)
    {
        const QString file = QDir(m_dir).filePath(QString::fromLatin1(name));
        EXPECT_TRUE(window.grab().save(file)) << file.toStdString();
    }

    void chain(const char* text)
    {
        std::string error;
        std::optional<SoundChain> c = SoundChain::parse(text, error);
        ASSERT_TRUE(c) << error;
        card->setChain(std::move(*c));
    }

    // The windows as a user sees them side by side, each under a plain
    // title bar.
    void saveDesktop(const char* name)
    {
        QWidget* main = window.get();
        QWidget* response = &window->responseWindow();
        QWidget* wave = &window->inputWaveWindow();
        QWidget* fft = &window->fftWindow();
        const int title = main->fontMetrics().height() + 8;
        const int gap = 12;
        struct Placed {
            QWidget* widget;
            QPoint at;
        };
        const int right = gap + main->width() + gap;
        const std::vector<Placed> placed = {
            {main, QPoint(gap, gap + title)},
            {response, QPoint(right, gap + title)},
            {wave, QPoint(right, gap + title + response->height() + gap + title)},
            {fft, QPoint(right + wave->width() + gap, gap + title + response->height() + gap + title)},
        };
        QRect all;
        for (const Placed& p : placed)
            all |= QRect(p.at - QPoint(0, title), QSize(p.widget->width(), p.widget->height() + title));
        all.adjust(-gap, -gap, gap, gap);

        const qreal ratio = main->devicePixelRatioF();
        QPixmap canvas(all.size() * ratio);
        canvas.setDevicePixelRatio(ratio);
        canvas.fill(QColor(0x5a, 0x6e, 0x82));
        QPainter painter(&canvas);
        painter.translate(-all.topLeft());
        for (const Placed& p : placed) {
            const QRect bar(p.at - QPoint(0, title), QSize(p.widget->width(), title));
            painter.fillRect(bar, QColor(0x2b, 0x3a, 0x4a));
            painter.setPen(Qt::white);
            painter.setFont(main->font());
            painter.drawText(bar.adjusted(8, 0, -8, 0), Qt::AlignVCenter | Qt::AlignLeft, p.widget->windowTitle());
            painter.drawPixmap(p.at, p.widget->grab());
        }
        painter.end();
        const QString file = QDir(m_dir).filePath(QString::fromLatin1(name));
        EXPECT_TRUE(canvas.save(file)) << file.toStdString();
    }

    QString m_dir;
};

TEST_F(Screenshots, EveryWindow)
{
    start();
    // Three chains measured from 20 Hz to 20 kHz: a small loudspeaker, a
    // brighter one and the card looped back through a tone control.
    chain("highpass2=70,lowpass2=12000,noise=-90");
    sweep("20", "20000", 126);
    chain("highpass=40,lowpass2=6000,gain=-2,noise=-90");
    sweep("20", "20000", 126);
    chain("highpass2=25,lowpass=18000,gain=3,noise=-90");
    sweep("20", "20000", 126);
    ASSERT_EQ(window->responseWindow().store().GetTraceCount(), 3);

    // A few blocks of the signal generator at 1 kHz for the waveform and
    // the spectrum, then stopped by the button.
    edit("TextFFT")->setText(QStringLiteral("1000"));
    const int blocks = card->recordedBlocks();
    duringRun([&] {
        if (card->recordedBlocks() < blocks + 3)
            return false;
        click("cmdStartSignal");
        return true;
    });
    click("cmdStartSignal");
    stopDuringRun();
    ASSERT_FALSE(window->session().playing());

    window->helpWindow().showHelp();
    // Where a user's mouse click on Start would have left the focus.
    button("cmdStart")->setFocus();
    QCoreApplication::processEvents();

    save(*window, "main.png");
    save(window->responseWindow(), "response.png");
    save(window->inputWaveWindow(), "waveform.png");
    save(window->fftWindow(), "fft.png");
    save(window->helpWindow(), "help.png");
    saveDesktop("desktop.png");

    // Save Picture with File > Legend in Pictures; the plot at +/- 48 dB.
    EXPECT_TRUE(window->responseWindow().savePng(QDir(m_dir).filePath(QStringLiteral("response-legend.png")).toStdString(), 1, true));
    QComboBox* range = combo("ComboDBRange");
    range->setCurrentIndex(3);
    emit range->activated(3);
    save(window->responseWindow(), "response-48.png");

    // View > Traces beside the main window, the second trace moved up 6 dB.
    trigger("MenuEntryTraces");
    window->tracesPanel().offsetBox(1)->setValue(6);
    QCoreApplication::processEvents();
    save(*window, "traces-panel.png");
    save(window->responseWindow(), "response-offset.png");
}

TEST_F(Screenshots, LogSweepWindow)
{
    QSettings(QStringLiteral("Audimera"), QStringLiteral("Audimera")).remove(FormLogSweep::SettingsGroup);
    start();
    // A small loudspeaker with some distortion, one sweep of 2^16 samples,
    // each view in turn.
    chain("highpass2=70,lowpass2=12000,poly=0.05,0.02,noise=-90");
    FormLogSweep& log = window->logSweepWindow();
    trigger("MenuEntryLogSweep");
    log.findChild<QComboBox*>(QStringLiteral("ComboLogLength"))->setCurrentIndex(1);
    log.findChild<QComboBox*>(QStringLiteral("ComboLogSmooth"))->setCurrentIndex(3);
    log.findChild<QAbstractButton*>(QStringLiteral("cmdLogMeasure"))->click();
    ASSERT_NE(log.results(), nullptr);
    auto* tabs = log.findChild<QTabWidget*>(QStringLiteral("TabLogViews"));
    const char* names[] = {"logsweep-response.png", "logsweep-impulse.png",  "logsweep-distortion.png",
                           "logsweep-room.png",     "logsweep-waterfall.png", "logsweep-spectrogram.png",
                           "logsweep-phase.png",    "logsweep-group-delay.png"};
    for (int i = 0; i < 8; ++i) {
        tabs->setCurrentIndex(i);
        // The time-frequency tabs analyse on their own thread once shown.
        for (int wait = 0; wait < 100; ++wait) {
            QCoreApplication::processEvents();
            QThread::msleep(20);
        }
        save(log, names[i]);
    }

    // A second, brighter loudspeaker; both ticked in the list and overlaid.
    chain("highpass2=50,lowpass=16000,gain=-3,delay=0.5,noise=-90");
    log.findChild<QAbstractButton*>(QStringLiteral("cmdLogMeasure"))->click();
    tabs->setCurrentIndex(0);
    auto* list = log.findChild<QTableWidget*>(QStringLiteral("TableMeasurements"));
    ASSERT_EQ(list->rowCount(), 2);
    list->item(0, 0)->setCheckState(Qt::Checked);
    list->item(1, 0)->setCheckState(Qt::Checked);
    QCoreApplication::processEvents();
    save(log, "logsweep-list.png");
}

// The gate's marker and the previous-measurement note; the Other Device list.
TEST_F(Screenshots, AnalyserWindow)
{
    QSettings(QStringLiteral("Audimera"), QStringLiteral("Audimera")).remove(FormAnalyser::SettingsGroup);
    start();
    trigger("MenuEntryAnalyser");
    FormAnalyser& analyser = window->analyserWindow();
    analyser.findChild<QComboBox*>(QStringLiteral("ComboAnalyserSignal"))->setCurrentIndex(1); // periodic pink
    analyser.findChild<QCheckBox*>(QStringLiteral("CheckAnalyserPeak"))->setChecked(true);
    duringRun([&] {
        if (analyser.updates() < 30)
            return false;
        save(analyser, "analyser.png");
        analyser.ButtonAnalyserStop_Click();
        return true;
    });
    analyser.ButtonAnalyserStart_Click();
}

TEST_F(Screenshots, GateFailureAndOtherDevice)
{
    start();
    FormLogSweep& log = window->logSweepWindow();
    trigger("MenuEntryLogSweep");
    log.findChild<QDoubleSpinBox*>(QStringLiteral("SpinLogGate"))->setValue(5);
    for (const char* c : {"highpass2=70,lowpass2=12000,noise=-90", "silence"}) {
        chain(c);
        log.findChild<QAbstractButton*>(QStringLiteral("cmdLogMeasure"))->click();
    }
    save(log, "logsweep-gate-previous.png");
    QTimer::singleShot(50, [&] { save(*QApplication::activeModalWidget(), "other-device.png"), QApplication::activeModalWidget()->close(); });
    trigger("MenuEntryOtherInDevice");
}

} // namespace

} // namespace audimera
