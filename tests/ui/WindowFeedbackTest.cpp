// Failed log sweeps, the live gate, windows on the screen, Other Device...
#include "tests/ui/MainWindowFixture.h"

#include "display/models/LogSweepPlots.h"
#include "display/models/ResponsePlot.h"
#include "ui/DeviceDialog.h"
#include "ui/FormLogSweep.h"
#include "ui/LogSweepView.h"

#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>

namespace audimera {

namespace {

class WindowFeedback : public MainWindowTest {
protected:
    FormLogSweep& log() { return window->logSweepWindow(); }
    void measure(const char* chain)
    {
        if (!log().isVisible())
            trigger("MenuEntryLogSweep"), log().findChild<QComboBox*>(QStringLiteral("ComboLogLength"))->setCurrentIndex(0);
        std::string error;
        card->setChain(*SoundChain::parse(chain, error));
        log().findChild<QPushButton*>(QStringLiteral("cmdLogMeasure"))->click();
    }
    std::size_t gated() { return log().results()->impulse.size(); }
    static void waitMs(int ms)
    {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    }
};

TEST_F(WindowFeedback, AFailedLogSweepWarnsOverItsWindowAndMarksTheResultsAsPrevious)
{
    start();
    window->host().setPresenter({}); // real message boxes: which window are they over?
    QWidget* over = nullptr;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            over = box->parentWidget(), box->accept();
    });
    answer.start(5);
    for (const auto& [chain, previous] : {std::pair{"gain=0", false}, {"silence", true}, {"gain=0", false}}) {
        over = nullptr;
        measure(chain);
        EXPECT_EQ(over, previous ? &log() : nullptr) << chain;
        EXPECT_EQ(log().findChild<QLabel*>(QStringLiteral("LabelLogPrevious"))->isVisibleTo(&log()), previous);
        EXPECT_EQ(log().findChild<QLabel*>(QStringLiteral("LabelLogSummary"))->isEnabled(), !previous) << chain;
    }
}

TEST_F(WindowFeedback, TheGateAnalysesAsItChangesAtMostTenTimesASecondAndIsMarked)
{
    start();
    measure("gain=0");
    auto* gate = log().findChild<QDoubleSpinBox*>(QStringLiteral("SpinLogGate"));
    int analyses = 0; // a held arrow key, a step every 10 ms for 1 s: analysed while held, not at each step
    std::size_t last = gated();
    QElapsedTimer held;
    held.start();
    while (held.elapsed() < 1000) {
        QKeyEvent up(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
        QCoreApplication::sendEvent(gate, &up);
        EXPECT_EQ(gated(), last);
        waitMs(10);
        analyses += gated() != last;
        last = gated();
    }
    EXPECT_GE(analyses, 2);
    EXPECT_LE(analyses, 1 + held.elapsed() / FormLogSweep::GateAnalysisMs);
    waitMs(3 * FormLogSweep::GateAnalysisMs);
    const double hz = log().gateLimitHz();
    EXPECT_NEAR(hz, 1000 / gate->value(), 1e-9);
    EXPECT_TRUE(log().readout(0, 100 * std::log10(hz / 2) - ResponsePlot::leftX(), 0).contains(QStringLiteral("below the gate")));
    const DrawingSurface& s = log().view(0).surface();
    const int px = static_cast<int>(s.toPixelX(static_cast<float>(100 * std::log10(hz) - ResponsePlot::leftX())));
    EXPECT_EQ(s.pixelColor(px, static_cast<int>(s.toPixelY(s.ScaleHeight() / 2))), LogSweepPlots::GateColor) << hz;
}

TEST_F(WindowFeedback, EveryWindowOpensInsideTheAvailableAreaAlsoFromAKeptPlaceOffIt)
{
    start();
    window->MenuEntryLogSweep_Click();
    window->MenuEntryHelp_Click();
    ASSERT_GE(visibleWindows().size(), 5u);
    for (QWidget* w : visibleWindows()) {
        const QRect area = w->screen()->availableGeometry();
        w->hide();
        w->setGeometry(area.right() + 500, area.bottom() + 300, area.width() + 300, area.height() + 300);
        w->show();
        EXPECT_TRUE(area.contains(w->frameGeometry())) << w->objectName().toStdString();
    }
}

TEST_F(WindowFeedback, OtherDeviceListsEveryDeviceWithRateAndMonitorAndOpensTheOneChosen)
{
    std::vector<SoundDeviceInfo> play, record;
    for (const std::string i : {"0", "1", "2", "3", "4", "5"})
        play.push_back({"sink" + i, "Out " + i, {}, 44100}), record.push_back({"source" + i, "In " + i, i == "5" ? "Out 5" : "", 48000});
    start(std::make_unique<LoggingSoundCard>(play, record));
    const struct { const char* entry; int (SoundDevice::*inUse)() const; QStringList lastRow; } kinds[] = {
        {"MenuEntryOtherOutDevice", &SoundDevice::outputDevice, {"Out 5", "44100 Hz", "", "sink5"}},
        {"MenuEntryOtherInDevice", &SoundDevice::inputDevice, {"In 5", "48000 Hz", "Monitor of Out 5", "source5"}}};
    for (const auto& k : kinds) {
        QStringList lastRow;
        QTimer pick;
        QObject::connect(&pick, &QTimer::timeout, [&] {
            if (auto* dialog = qobject_cast<DeviceDialog*>(QApplication::activeModalWidget())) {
                auto* list = dialog->findChild<QTreeWidget*>(QStringLiteral("ListDevices"));
                ASSERT_EQ(list->topLevelItemCount(), 6);
                list->setCurrentItem(list->topLevelItem(5));
                for (int c = 0; c < list->columnCount(); ++c)
                    lastRow << list->currentItem()->text(c);
                dialog->accept();
            }
        });
        pick.start(5);
        trigger(k.entry);
        EXPECT_EQ(lastRow, k.lastRow) << k.entry;
        EXPECT_EQ(((*card).*k.inUse)(), 5) << k.entry;
        EXPECT_TRUE(action(k.entry)->isChecked()); // none of the four is
    }
}

} // namespace

} // namespace audimera
