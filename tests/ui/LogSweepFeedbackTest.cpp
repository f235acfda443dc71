// The Log Sweep window's feedback: a failed run's message shows over this
// window and marks the results kept as the previous measurement's; the gate
// analyses as it changes, at most ten times a second, and the magnitude
// view marks the lowest frequency it resolves.
#include "tests/ui/MainWindowFixture.h"

#include "display/models/Drawing.h"
#include "display/models/LogSweepPlots.h"
#include "display/models/ResponsePlot.h"
#include "ui/FormLogSweep.h"
#include "ui/LogSweepView.h"

#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>

namespace audimera {

namespace {

class LogSweepFeedback : public MainWindowTest {
protected:
    void SetUp() override { QSettings(QStringLiteral("Audimera"), QStringLiteral("Audimera")).remove(FormLogSweep::SettingsGroup); }
    FormLogSweep& logWindow() { return window->logSweepWindow(); }
    template <typename T>
    T* control(const char* name) { return logWindow().findChild<T*>(QString::fromLatin1(name)); }
    void measure()
    {
        trigger("MenuEntryLogSweep");
        control<QComboBox>("ComboLogLength")->setCurrentIndex(0);
        control<QPushButton>("cmdLogMeasure")->click();
    }
    void waitMs(int ms)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
};

TEST_F(LogSweepFeedback, AFailedRunWarnsOverThisWindowAndMarksTheResultsAsPrevious)
{
    start();
    measure();
    ASSERT_TRUE(logWindow().results().has_value());
    EXPECT_FALSE(control<QLabel>("LabelLogPrevious")->isVisibleTo(&logWindow()));
    // A real message box this time: which window it is over.
    window->host().setPresenter({});
    QWidget* over = nullptr;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            over = box->parentWidget();
            box->accept();
        }
    });
    answer.start(5);
    std::string error;
    card->setChain(*SoundChain::parse("silence", error));
    control<QPushButton>("cmdLogMeasure")->click();
    EXPECT_EQ(over, &logWindow());
    EXPECT_TRUE(logWindow().results().has_value());
    EXPECT_TRUE(control<QLabel>("LabelLogPrevious")->isVisibleTo(&logWindow()));
    EXPECT_FALSE(control<QLabel>("LabelLogSummary")->isEnabled());
    // The next good run is new again.
    card->setChain(*SoundChain::parse("gain=0", error));
    control<QPushButton>("cmdLogMeasure")->click();
    EXPECT_FALSE(control<QLabel>("LabelLogPrevious")->isVisibleTo(&logWindow()));
    EXPECT_TRUE(control<QLabel>("LabelLogSummary")->isEnabled());
}

TEST_F(LogSweepFeedback, TheGateAnalysesAsItChangesAtMostTenTimesASecondAndIsMarked)
{
    start();
    measure();
    ASSERT_TRUE(logWindow().results().has_value());
    auto* gate = control<QDoubleSpinBox>("SpinLogGate");
    auto up = [gate] {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
        QCoreApplication::sendEvent(gate, &key);
    };
    // One arrow key: not analysed at once, but within the debounce time.
    const std::size_t before = logWindow().results()->impulse.size();
    up();
    EXPECT_EQ(logWindow().results()->impulse.size(), before);
    waitMs(3 * FormLogSweep::GateAnalysisMs);
    EXPECT_NE(logWindow().results()->impulse.size(), before);
    // A held key (a step every 10 ms for 1 s): updates while it is held,
    // never more than once per GateAnalysisMs.
    int analyses = 0;
    std::size_t last = logWindow().results()->impulse.size();
    QElapsedTimer held;
    held.start();
    while (held.elapsed() < 1000) {
        up();
        waitMs(10);
        if (logWindow().results()->impulse.size() != last) {
            ++analyses;
            last = logWindow().results()->impulse.size();
        }
    }
    EXPECT_GE(analyses, 2);
    EXPECT_LE(analyses, 1 + held.elapsed() / FormLogSweep::GateAnalysisMs);

    // The magnitude view marks about 1/gate.
    waitMs(3 * FormLogSweep::GateAnalysisMs);
    const double hz = logWindow().gateLimitHz();
    EXPECT_NEAR(hz, 1000 / gate->value(), 1e-9);
    const DrawingSurface& s = logWindow().view(0).surface();
    const int px = static_cast<int>(s.toPixelX(static_cast<float>(100 * Log10(hz) - ResponsePlot::leftX())));
    bool marked = false;
    for (int dx = -1; dx <= 1; ++dx)
        marked = marked || s.pixelColor(px + dx, static_cast<int>(s.toPixelY(s.ScaleHeight() / 2))) == LogSweepPlots::GateColor;
    EXPECT_TRUE(marked) << hz;
}

} // namespace

} // namespace audimera
