// The Log Sweep window's time-frequency tabs, after "Room": the waterfall,
// the spectrogram, the phase and the group delay of the impulse response
// shown (signal/Waterfall, Spectrogram, PhaseAnalysis; drawn by
// TimeFrequencyPlots). The Phase and Group Delay tabs show one phase
// analysis.
//
// Each analysis runs off the UI thread (AnalysisJob) on its own copy of the
// response (ImpulseData), so the window never waits for it. It starts when
// a tab showing it is shown and its input or settings changed since it last
// ran; a new input (a new measurement, an opened file, an analysis again
// with other smoothing, gate, ...) or new settings cancel the one running.
// While it runs, the page shows ProgressLogAnalysis (the fraction done,
// polled every PollMs) and cmdLogAnalysisCancel ("Cancel"); each page has
// its own pair (the two phase pages' show the same analysis). A failure is
// said by the page's LabelLogAnalysisNote; a cancelled analysis says "The
// analysis was stopped" and runs again when its tab is next shown.
//
// Controls (objectName, each with a tool tip; defaults those of the
// analyses' settings):
// - PageLogWaterfall: ViewLogWaterfall, SpinWaterfallStart and
//   SpinWaterfallEnd (the first and last slice's start, ms from the peak),
//   SpinWaterfallSlices, SpinWaterfallWindow and SpinWaterfallRise (ms),
//   ComboWaterfallSmooth (none, 1/48 .. 1/1 octave), SpinWaterfallLow and
//   SpinWaterfallHigh (Hz), SpinWaterfallRange (dB).
// - PageLogSpectrogram: ViewLogSpectrogram, ComboSpectrogramWindow
//   (Gaussian, Hann, Wavelet), SpinSpectrogramWindow (ms),
//   SpinSpectrogramOverlap (%), SpinSpectrogramCycles (Wavelet only),
//   SpinSpectrogramStart and SpinSpectrogramEnd (ms from the peak),
//   SpinSpectrogramRange (dB).
// - PageLogPhase: ViewLogPhase, ComboPhaseCurve (Measured, Minimum, Excess).
// - PageLogGroupDelay: ViewLogGroupDelay, ComboGroupDelayCurve (Group delay,
//   Excess group delay), CheckGroupDelayRemove.
// The analyses' settings are debounced (an analysis starts SettleMs after
// the last change); the curve choices only draw again.
//
// UI thread only, but for the analyses' own threads.
#pragma once

#include "engine/AnalysisJob.h"
#include "engine/ImpulseData.h"
#include "display/models/TimeFrequencyPlots.h"

#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QGridLayout;
class QLabel;
class QProgressBar;
class QPushButton;
class QSettings;
class QSpinBox;
class QTabWidget;

namespace audimera {

class LogSweepView;

// One analysis of the shown impulse response for the pages that show it:
// what starts, polls, cancels and keeps it, whatever its result's type.
class TimeFrequencyAnalysis : public QObject {
    Q_OBJECT

public:
    static constexpr int PollMs = 50;

    // A new response to analyse (nullptr: none): cancels the running
    // analysis and drops the result.
    void setInput(std::shared_ptr<const ImpulseData> input);
    // Starts the analysis when its input or settings changed since it last
    // ran (and there is an input); else nothing.
    void start();
    // Stops the running analysis: it ends with "The analysis was stopped".
    void cancel();

    // Started and its result not yet taken (up to PollMs after it ended).
    bool running() const { return m_current; }
    double progress() const { return job().progress(); }
    // Why the last run gave no result; empty after one that did.
    const QString& note() const { return m_note; }
    // Its input or settings changed since it last ran.
    bool stale() const { return m_stale; }

signals:
    // While it runs, every PollMs.
    void progressed();
    // It started, ended, or its result was dropped.
    void resultChanged();

protected:
    explicit TimeFrequencyAnalysis(QObject* parent);
    // The settings changed: as a new input.
    void invalidate();

    std::shared_ptr<const ImpulseData> input() const { return m_input; }

private:
    // The job's own part, of the type-specific owner below.
    virtual const AnalysisThread& job() const = 0;
    virtual AnalysisThread& job() = 0;
    virtual void startJob(std::shared_ptr<const ImpulseData> input) = 0;
    // Takes the finished job's result: kept on success, else its failure.
    virtual Status takeResult() = 0;
    virtual void dropResult() = 0;

    void poll();

    std::shared_ptr<const ImpulseData> m_input;
    QTimer m_poll;
    bool m_stale = false;
    // The job running is the one for the present input and settings (not
    // one cancelled and not yet ended).
    bool m_current = false;
    QString m_note;
};

// An analysis with result R and settings S.
template <typename R, typename S>
class TimeFrequencyAnalysisOf : public TimeFrequencyAnalysis {
public:
    // The analysis function (waterfall, spectrogram, analysePhase); tests
    // put another one in its place.
    using Analyse = std::function<Result<R>(const ImpulseView&, const S&, const AnalysisProgress&)>;

    TimeFrequencyAnalysisOf(Analyse analyse, QObject* parent)
        : TimeFrequencyAnalysis(parent), m_analyse(std::move(analyse))
    {
    }
    void setAnalyse(Analyse analyse)
    {
        m_analyse = std::move(analyse);
        invalidate();
    }

    const S& settings() const { return m_settings; }
    void setSettings(const S& settings)
    {
        m_settings = settings;
        invalidate();
    }
    // The last run's result; nullptr while none.
    const R* result() const { return m_result ? &*m_result : nullptr; }

private:
    const AnalysisThread& job() const override { return m_runner; }
    AnalysisThread& job() override { return m_runner; }
    void startJob(std::shared_ptr<const ImpulseData> data) override
    {
        m_result.reset();
        // The work holds its own copies: the response, the settings and
        // the function, nothing of this object.
        m_runner.start([data = std::move(data), settings = m_settings,
                        analyse = m_analyse](const AnalysisProgress& progress) {
            return analyse(data->view(), settings, progress);
        });
    }
    Status takeResult() override
    {
        std::optional<Result<R>> taken = m_runner.take();
        if (!taken)
            return Error::of(Failure::Other, "The analysis gave no result");
        if (!*taken)
            return taken->error();
        m_result = std::move(taken->value());
        return {};
    }
    void dropResult() override { m_result.reset(); }

    Analyse m_analyse;
    S m_settings;
    std::optional<R> m_result;
    AnalysisJob<R> m_runner; // last: its thread ends before the rest goes
};

using WaterfallAnalysis = TimeFrequencyAnalysisOf<WaterfallResult, WaterfallSettings>;
using SpectrogramAnalysis = TimeFrequencyAnalysisOf<SpectrogramResult, SpectrogramSettings>;
using PhaseResultAnalysis = TimeFrequencyAnalysisOf<PhaseResult, PhaseSettings>;

// A tab of one analysis: its controls above, the progress bar with Cancel
// and the note, and the view. The controls' values are the page's.
class TimeFrequencyPage : public QWidget {
    Q_OBJECT

public:
    static constexpr int SettleMs = 150;

    TimeFrequencyAnalysis& analysis() const { return m_analysis; }
    LogSweepView& view() const { return *m_view; }
    // The read-out at user (x, y) of the view; empty off the data.
    virtual QString readout(double x, double y) const = 0;
    // Kept under the window's group.
    void save(QSettings& settings) const;
    void restore(QSettings& settings);

signals:
    void hovered(const QString& readout);
    void left();

protected:
    explicit TimeFrequencyPage(TimeFrequencyAnalysis& analysis, QWidget* parent);
    // Adds the view under the controls (last, once the page's own members
    // that draw reads are set).
    void addView(const char* name, const char* toolTip, std::function<void(DrawingSurface&)> draw);

    // Adds a control with its caption to the row of controls; its value is
    // kept under key. One that sets the analysis (settles) starts it again,
    // the others draw again.
    void addControl(const char* caption, QWidget* control, const char* key, bool settles);
    // The controls' settings go to the analysis.
    virtual void applySettings() = 0;
    void showEvent(QShowEvent* event) override;

private:
    void refresh();

    TimeFrequencyAnalysis& m_analysis;
    QGridLayout* m_controls = nullptr;
    int m_count = 0;
    std::vector<std::pair<QWidget*, QString>> m_kept;
    QProgressBar* m_progress = nullptr;
    QPushButton* m_cancel = nullptr;
    QLabel* m_note = nullptr;
    LogSweepView* m_view = nullptr;
    QTimer m_settle;
};

class WaterfallPage : public TimeFrequencyPage {
    Q_OBJECT

public:
    WaterfallPage(WaterfallAnalysis& analysis, QWidget* parent = nullptr);
    WaterfallSettings settings() const;
    QString readout(double x, double y) const override;

private:
    void applySettings() override;

    WaterfallAnalysis& m_waterfall;
    QDoubleSpinBox* m_start;
    QDoubleSpinBox* m_end;
    QSpinBox* m_slices;
    QDoubleSpinBox* m_window;
    QDoubleSpinBox* m_rise;
    QComboBox* m_smooth;
    QDoubleSpinBox* m_low;
    QDoubleSpinBox* m_high;
    QDoubleSpinBox* m_range;
};

class SpectrogramPage : public TimeFrequencyPage {
    Q_OBJECT

public:
    SpectrogramPage(SpectrogramAnalysis& analysis, QWidget* parent = nullptr);
    SpectrogramSettings settings() const;
    QString readout(double x, double y) const override;

private:
    void applySettings() override;

    SpectrogramAnalysis& m_spectrogram;
    QComboBox* m_window;
    QDoubleSpinBox* m_length;
    QDoubleSpinBox* m_overlap;
    QDoubleSpinBox* m_cycles;
    QDoubleSpinBox* m_start;
    QDoubleSpinBox* m_end;
    QDoubleSpinBox* m_range;
};

class PhasePage : public TimeFrequencyPage {
    Q_OBJECT

public:
    PhasePage(PhaseResultAnalysis& analysis, QWidget* parent = nullptr);
    TimeFrequencyPlots::PhaseCurve curve() const;
    QString readout(double x, double y) const override;

private:
    void applySettings() override {}

    PhaseResultAnalysis& m_phase;
    QComboBox* m_curve;
};

class GroupDelayPage : public TimeFrequencyPage {
    Q_OBJECT

public:
    GroupDelayPage(PhaseResultAnalysis& analysis, QWidget* parent = nullptr);
    TimeFrequencyPlots::DelayCurve curve() const;
    bool delayRemoved() const;
    QString readout(double x, double y) const override;

private:
    void applySettings() override {}

    PhaseResultAnalysis& m_phase;
    QComboBox* m_curve;
    QCheckBox* m_remove;
};

// The four tabs and their three analyses, added to the window's tab widget.
class TimeFrequencyTabs : public QObject {
    Q_OBJECT

public:
    TimeFrequencyTabs(QTabWidget& tabs, QObject* parent);
    ~TimeFrequencyTabs() override;

    // The response shown (nullptr: none): every analysis starts over, the
    // one of the tab shown at once.
    void setInput(std::shared_ptr<const ImpulseData> input);
    void save(QSettings& settings) const;
    void restore(QSettings& settings);

    WaterfallAnalysis& waterfallAnalysis() { return m_waterfall; }
    SpectrogramAnalysis& spectrogramAnalysis() { return m_spectrogram; }
    PhaseResultAnalysis& phaseAnalysis() { return m_phase; }
    // 0 waterfall, 1 spectrogram, 2 phase, 3 group delay.
    TimeFrequencyPage& page(int index) const;

signals:
    void hovered(const QString& readout);
    void left();

private:
    std::array<TimeFrequencyAnalysis*, 3> analyses() { return {&m_waterfall, &m_spectrogram, &m_phase}; }

    WaterfallAnalysis m_waterfall;
    SpectrogramAnalysis m_spectrogram;
    PhaseResultAnalysis m_phase;
    // Owned by the tab widget; gone first when it goes first.
    QPointer<TimeFrequencyPage> m_pages[4];
};

} // namespace audimera
