// The handlers of the simple signal generator: they read the frequency box,
// the signal buttons, the "x20" box and the scroll bars, and start, stop,
// change or re-tune the continuous signal.
#include "ui/presenter/MainPresenter.h"

#include "ui/presenter/ControlNames.h"

namespace audimera {

namespace {
constexpr int AutoPlanCount = 4;
constexpr int SignalCount = 6;
constexpr double MinSignalFrequency = 1;
constexpr double MaxSignalFrequency = 20000;
} // namespace

void MainPresenter::cmdStartSignal_Click()
{
    // The button starts the signal, or stops it while it plays.
    if (!m_session.playing()) {
        LockControls();
        for (int i = 0; i < AutoPlanCount; ++i)
            m_panel.setEnabled(controlName(names::OptionAutoSigGen, i), false);
        m_panel.setEnabled(names::cmdStop, false);
        m_panel.setEnabled(names::cmdStart, false);
        m_session.choose(selectedIndex(names::OptionSigGen, SignalCount, m_session.choice()));
        m_panel.setCaption(names::cmdStartSignal, "Stop Signal");
        RunSignal();
    } else {
        m_session.stop();
        m_panel.setCaption(names::cmdStartSignal, "Start Signal");
        m_host.yield();
        cmdStop_Click();
    }
}

void MainPresenter::readSignalFrequency()
{
    double value = m_session.frequency();
    if (!readNumber(names::TextFFT, "signal frequency", value)) {
        // Keep what was playing and show it in the box again.
        value = m_session.frequency();
        if (!(value >= MinSignalFrequency))
            value = MinSignalFrequency;
        if (value > MaxSignalFrequency)
            value = MaxSignalFrequency;
        m_session.setFrequency(value);
        m_panel.setText(names::TextFFT, m_panel.formatNumber(value));
        return;
    }
    if (value < MinSignalFrequency)
        m_panel.setText(names::TextFFT, "1");
    else if (value > MaxSignalFrequency)
        m_panel.setText(names::TextFFT, "20000");
    else {
        m_session.setFrequency(value);
        return;
    }
    const std::optional<double> again = m_panel.parseNumber(m_panel.text(names::TextFFT));
    m_session.setFrequency(again ? *again : (value < MinSignalFrequency ? MinSignalFrequency : MaxSignalFrequency));
}

void MainPresenter::RunSignal()
{
    readSignalFrequency();
    SignalSettings settings;
    settings.corrections = &m_document.corrections();
    settings.detector = levelDetectorChoice();
    // Settings > Record Channel: the blocks take the input chosen, as a sweep's do.
    if (const audimera::Status input = m_sound.setRecordInput(recordChannelChoice()); !input) {
        m_host.message(input.message(), MessageIcon::Critical);
        m_runEnd = RunEnd::DeviceFailed;
        cmdStop_Click();
        return;
    }
    (void)m_session.runSignal(settings); // the run told the user what went wrong
    m_runEnd = m_session.lastRunEnd();
}

SignalChoice MainPresenter::signalChoice()
{
    readSignalFrequency();
    return SignalChoice{m_session.choice(), m_session.frequency(), m_panel.value(names::CheckBy5) != 0};
}

double MainPresenter::frequencyFromScrolls() const
{
    const int rate = m_panel.value(names::HScrollFFT) * 10 + m_panel.value(names::HScrollFine);
    const int k = (m_panel.value(names::CheckBy5) % 2 != 0) ? 20 : 1;
    return k * rate / 100.0;
}

void MainPresenter::SetFreqFromScrolls()
{
    m_session.setFrequency(frequencyFromScrolls());
    m_panel.setText(names::TextFFT, m_panel.formatNumber(m_session.frequency()));
    m_session.retuneSignal(m_panel.value(names::HScrollFFT) * 10 + m_panel.value(names::HScrollFine));
}

void MainPresenter::OptionSigGen_Click(int Index)
{
    m_session.choose(Index);
    if (m_session.playing() && !m_session.signalCalibrating())
        ApplySignal();
}

void MainPresenter::CheckBy5_Click()
{
    if (m_session.sweeping() || m_session.logSweeping()) {
        // A sweep owns the tone and the frequency (the log sweep the
        // output): only the box's text follows the range switch.
        m_panel.setText(names::TextFFT, m_panel.formatNumber(frequencyFromScrolls()));
        return;
    }
    if (m_session.signalCalibrating()) {
        // The silence or the white noise being measured keeps playing; the
        // end of the calibration applies the new range.
        SetFreqFromScrolls();
        m_session.playAfresh();
        return;
    }
    m_sound.StopPlayback();
    SetFreqFromScrolls();
    m_session.playAfresh();
    if (m_session.playing())
        ApplySignal();
}

} // namespace audimera
