// The analysis job (cancel, restart, its result once) and the Log Sweep
// window's time-frequency tabs: their controls, an analysis that runs off
// the UI thread and lands, fails, is cancelled or is replaced by a new
// measurement's.
#include "tests/ui/MainWindowFixture.h"

#include "engine/AnalysisJob.h"
#include "ui/FormLogSweep.h"
#include "ui/LogSweepView.h"
#include "ui/TimeFrequencyPages.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTabWidget>

#include <atomic>
#include <chrono>
#include <thread>

namespace audimera {

namespace {

using namespace std::chrono_literals;

// Counts steps of 1 ms, reporting its progress and stopping when told.
Result<int> slowCount(const AnalysisProgress& progress, int steps)
{
    for (int i = 0; i < steps; ++i) {
        if (!progress(static_cast<double>(i) / steps))
            return Error::of(Failure::Cancelled, AnalysisCancelledMessage);
        std::this_thread::sleep_for(1ms);
    }
    return steps;
}

bool waitUntil(const std::function<bool()>& done)
{
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!done() && std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(1ms);
    }
    return done();
}

} // namespace

TEST(AnalysisJob, CancelRestartAndDestructionEndTheRunningAnalysisAndTheResultComesOnce)
{
    enum class Then { Wait, Cancel, Restart, Throw, Destroy };
    struct Case {
        Then then;
        std::optional<int> value; // else a failure of kind
        Failure kind;
    };
    for (const Case& c : {Case{Then::Wait, 20, {}}, Case{Then::Cancel, {}, Failure::Cancelled},
                          Case{Then::Restart, 30, {}}, Case{Then::Throw, {}, Failure::Other},
                          Case{Then::Destroy, {}, {}}}) {
        SCOPED_TRACE(static_cast<int>(c.then));
        const auto began = std::chrono::steady_clock::now();
        auto job = std::make_unique<AnalysisJob<int>>();
        EXPECT_FALSE(job->take());
        // Long unless it stops early: 10 s.
        job->start([&c](const AnalysisProgress& p) { return slowCount(p, c.then == Then::Wait ? 20 : 10000); });
        EXPECT_TRUE(job->running());
        if (c.then == Then::Cancel)
            job->cancel();
        if (c.then == Then::Restart)
            job->start([](const AnalysisProgress& p) { return slowCount(p, 30); });
        if (c.then == Then::Throw)
            job->start([](const AnalysisProgress&) -> Result<int> { throw std::runtime_error("broken"); });
        if (c.then == Then::Destroy) {
            job.reset();
        } else {
            ASSERT_TRUE(waitUntil([&] { return job->finished(); }));
            EXPECT_FALSE(job->running());
            std::optional<Result<int>> r = job->take();
            ASSERT_TRUE(r);
            if (c.value)
                EXPECT_TRUE(*r == *c.value) << r->message();
            else
                EXPECT_EQ(r->kind(), c.kind);
            EXPECT_FALSE(job->take());
            EXPECT_FALSE(job->finished());
        }
        EXPECT_LT(std::chrono::steady_clock::now() - began, 3s);
    }
}

namespace {

// What the stand-in analyses did, shared with their threads.
struct Runs {
    std::atomic<int> steps{0}; // of 1 ms, read as each starts
    std::atomic<int> started{0};
    std::atomic<int> cancelled{0};
};

class TimeFrequencyTabsTest : public MainWindowTest {
protected:
    void SetUp() override
    {
        QSettings(QStringLiteral("Audimera"), QStringLiteral("Audimera")).remove(FormLogSweep::SettingsGroup);
        start();
        trigger("MenuEntryLogSweep");
        control<QComboBox>("ComboLogLength")->setCurrentIndex(0);
        control<QDoubleSpinBox>("SpinLogStart")->setValue(100);
        control<QDoubleSpinBox>("SpinLogStop")->setValue(10000);
    }
    FormLogSweep& logWindow() { return window->logSweepWindow(); }
    template <typename T>
    T* control(const char* name, QWidget* in = nullptr)
    {
        T* w = (in ? in : &logWindow())->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void measure()
    {
        control<QPushButton>("cmdLogMeasure")->click();
        ASSERT_NE(logWindow().results(), nullptr);
    }
    void showTab(int page)
    {
        control<QTabWidget>("TabLogViews")->setCurrentWidget(&logWindow().timeFrequency().page(page));
    }
    // A waterfall that takes runs->steps ms, then fails with failure (if any).
    void standIn(std::shared_ptr<Runs> runs, std::optional<std::string> failure = {})
    {
        logWindow().timeFrequency().waterfallAnalysis().setAnalyse(
            [=](const ImpulseView& v, const WaterfallSettings& s, const AnalysisProgress& p) -> Result<WaterfallResult> {
                ++runs->started;
                if (!slowCount(p, runs->steps)) {
                    ++runs->cancelled;
                    return Error::of(Failure::Cancelled, AnalysisCancelledMessage);
                }
                if (failure)
                    return Error::of(Failure::BadInput, *failure);
                WaterfallResult r;
                r.frequencies = {static_cast<double>(v.rate)};
                r.timesMs = {s.startMs};
                return r;
            });
    }
};

} // namespace

TEST_F(TimeFrequencyTabsTest, TabsFollowRoomWithTheirControlsDefaultsAndToolTips)
{
    QTabWidget* tabs = control<QTabWidget>("TabLogViews");
    const char* titles[] = {"Room", "Waterfall", "Spectrogram", "Phase", "Group Delay"};
    ASSERT_EQ(tabs->count(), 8);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(tabs->tabText(i + 3), QString::fromLatin1(titles[i]));

    struct Case {
        int page;
        const char* name;
        double value; // a list's item data, a box's tick as 0 or 1
    };
    const WaterfallSettings w;
    const SpectrogramSettings s;
    for (const Case& c : {Case{0, "SpinWaterfallStart", w.startMs}, Case{0, "SpinWaterfallEnd", w.endMs},
                          Case{0, "SpinWaterfallSlices", double(w.slices)}, Case{0, "SpinWaterfallWindow", w.windowMs},
                          Case{0, "SpinWaterfallRise", w.riseMs}, Case{0, "ComboWaterfallSmooth", double(w.smoothing)},
                          Case{0, "SpinWaterfallLow", w.lowHz}, Case{0, "SpinWaterfallHigh", w.highHz},
                          Case{0, "SpinWaterfallRange", w.rangeDb}, Case{1, "ComboSpectrogramWindow", double(s.window)},
                          Case{1, "SpinSpectrogramWindow", s.windowMs}, Case{1, "SpinSpectrogramOverlap", 95},
                          Case{1, "SpinSpectrogramCycles", s.cycles}, Case{1, "SpinSpectrogramStart", s.startMs},
                          Case{1, "SpinSpectrogramEnd", s.endMs}, Case{1, "SpinSpectrogramRange", s.rangeDb},
                          Case{2, "ComboPhaseCurve", 0}, Case{3, "ComboGroupDelayCurve", 0},
                          Case{3, "CheckGroupDelayRemove", 0}}) {
        QWidget* w = control<QWidget>(c.name, &logWindow().timeFrequency().page(c.page));
        ASSERT_NE(w, nullptr);
        EXPECT_FALSE(w->toolTip().isEmpty()) << c.name;
        double value = -1;
        if (auto* box = qobject_cast<QDoubleSpinBox*>(w))
            value = box->value();
        else if (auto* count = qobject_cast<QSpinBox*>(w))
            value = count->value();
        else if (auto* list = qobject_cast<QComboBox*>(w))
            value = list->currentData().toInt();
        else if (auto* check = qobject_cast<QCheckBox*>(w))
            value = check->isChecked();
        EXPECT_DOUBLE_EQ(value, c.value) << c.name;
    }
    const char* views[] = {"ViewLogWaterfall", "ViewLogSpectrogram", "ViewLogPhase", "ViewLogGroupDelay"};
    for (int page = 0; page < 4; ++page)
        for (const char* name : {views[page], "ProgressLogAnalysis", "cmdLogAnalysisCancel", "LabelLogAnalysisNote"})
            EXPECT_FALSE(control<QWidget>(name, &logWindow().timeFrequency().page(page))->toolTip().isEmpty()) << name;

    // Kept with the window's settings.
    control<QSpinBox>("SpinWaterfallSlices")->setValue(12);
    logWindow().close();
    QSettings kept(QStringLiteral("Audimera"), QStringLiteral("Audimera"));
    EXPECT_EQ(kept.value(QStringLiteral("LogSweep/waterfallSlices")).toInt(), 12);
}

TEST_F(TimeFrequencyTabsTest, AnAnalysisRunsWhileTheWindowRespondsAndEndsAsItsTabSays)
{
    enum class End { Lands, Fails, Cancelled, NewMeasurement };
    struct Case {
        End end;
        const char* note;
    };
    for (const Case& c : {Case{End::Lands, ""}, Case{End::Fails, "No slices"},
                          Case{End::Cancelled, AnalysisCancelledMessage}, Case{End::NewMeasurement, ""}}) {
        SCOPED_TRACE(static_cast<int>(c.end));
        showTab(1);
        measure();
        auto runs = std::make_shared<Runs>();
        const bool slow = c.end == End::Cancelled || c.end == End::NewMeasurement;
        runs->steps = slow ? 10000 : 400;
        standIn(runs, c.end == End::Fails ? std::optional<std::string>("No slices") : std::nullopt);
        TimeFrequencyPage& page = logWindow().timeFrequency().page(0);
        WaterfallAnalysis& analysis = logWindow().timeFrequency().waterfallAnalysis();
        // Measured on another tab: showing this one starts it, and the window goes on.
        EXPECT_EQ(runs->started, 0);
        showTab(0);
        EXPECT_TRUE(analysis.running());
        EXPECT_TRUE(control<QProgressBar>("ProgressLogAnalysis", &page)->isVisible());
        QPushButton* cancel = control<QPushButton>("cmdLogAnalysisCancel", &page);
        EXPECT_TRUE(cancel->isVisible());
        ASSERT_TRUE(waitUntil([&] { return control<QProgressBar>("ProgressLogAnalysis", &page)->value() > 0; }));
        if (c.end == End::Cancelled)
            cancel->click();
        if (c.end == End::NewMeasurement) {
            // The running analysis stops, and the new response's starts at once.
            runs->steps = 20;
            measure();
        }
        ASSERT_TRUE(waitUntil([&] { return !analysis.running(); }));
        EXPECT_FALSE(cancel->isVisible());
        EXPECT_EQ(analysis.note().toStdString(), c.note);
        EXPECT_EQ(control<QLabel>("LabelLogAnalysisNote", &page)->isVisible(), *c.note != 0);
        EXPECT_EQ(analysis.result() != nullptr, c.end == End::Lands || c.end == End::NewMeasurement);
        EXPECT_EQ(runs->cancelled, slow ? 1 : 0);
        EXPECT_EQ(runs->started, c.end == End::NewMeasurement ? 2 : 1);
    }
}

TEST_F(TimeFrequencyTabsTest, PhaseAndGroupDelayShareOneAnalysis)
{
    measure();
    auto runs = std::make_shared<Runs>();
    logWindow().timeFrequency().phaseAnalysis().setAnalyse(
        [runs](const ImpulseView&, const PhaseSettings&, const AnalysisProgress&) -> Result<PhaseResult> {
            ++runs->started;
            return PhaseResult{};
        });
    showTab(2);
    ASSERT_TRUE(waitUntil([&] { return logWindow().timeFrequency().phaseAnalysis().result() != nullptr; }));
    showTab(3);
    // A curve choice only draws again.
    control<QCheckBox>("CheckGroupDelayRemove")->setChecked(true);
    const auto settled = std::chrono::steady_clock::now() + 2ms * TimeFrequencyPage::SettleMs;
    waitUntil([&] { return std::chrono::steady_clock::now() > settled; });
    EXPECT_NE(logWindow().timeFrequency().phaseAnalysis().result(), nullptr);
    EXPECT_EQ(runs->started, 1);
}

TEST_F(TimeFrequencyTabsTest, TheAnalysesOfAMeasuredLoopbackLandAndTheCursorReadsThem)
{
    measure();
    for (int index = 0; index < 4; ++index) {
        SCOPED_TRACE(index);
        showTab(index);
        TimeFrequencyPage& page = logWindow().timeFrequency().page(index);
        ASSERT_TRUE(waitUntil([&] { return !page.analysis().running(); }));
        EXPECT_TRUE(page.analysis().note().isEmpty()) << page.analysis().note().toStdString();
        const DrawingSurface& s = page.view().surface();
        emit page.view().hovered(s.ScaleWidth() / 2, s.ScaleHeight() / 2);
        const QString text = control<QLabel>("LabelLogCursor")->text();
        EXPECT_TRUE(text.contains(QStringLiteral(" Hz, "))) << text.toStdString();
    }
}

} // namespace audimera
