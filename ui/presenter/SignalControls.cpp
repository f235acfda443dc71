// The handlers of the simple signal generator: they read the frequency box,
// the signal buttons, the "x20" box and the scroll bars, and start, stop,
// change or re-tune the continuous signal.
#include "ui/presenter/MainPresenter.h"

namespace audimera {

namespace {
constexpr int AutoPlanCount = 4;
constexpr int SignalCount = 6;
constexpr double MinSignalFrequency = 1;
constexpr double MaxSignalFrequency = 20000;
} // namespace

void MainPresenter::cmdStartSignal_Click()
{
    Playing = !Playing;
    if (Playing) {
        LockControls();
        for (int i = 0; i < AutoPlanCount; ++i)
            m_panel.setEnabled(controlName("OptionAutoSigGen", i), false);
        m_panel.setEnabled("cmdStop", false);
        m_panel.setEnabled("cmdStart", false);
        LastFreq = 0;
        GenIndex = selectedIndex("OptionSigGen", SignalCount, GenIndex);
        m_panel.setCaption("cmdStartSignal", "Stop Signal");
        RunSignal();
    } else {
        m_panel.setCaption("cmdStartSignal", "Start Signal");
        m_host.yield();
        cmdStop_Click();
    }
}

void MainPresenter::readSignalFrequency()
{
    double value = Frequency;
    if (!readNumber("TextFFT", "signal frequency", value)) {
        // Keep what was playing and show it in the box again.
        value = Frequency;
        if (!(value >= MinSignalFrequency))
            value = MinSignalFrequency;
        if (value > MaxSignalFrequency)
            value = MaxSignalFrequency;
        Frequency = value;
        m_panel.setText("TextFFT", m_panel.formatNumber(value));
        return;
    }
    if (value < MinSignalFrequency)
        m_panel.setText("TextFFT", "1");
    else if (value > MaxSignalFrequency)
        m_panel.setText("TextFFT", "20000");
    else {
        Frequency = value;
        return;
    }
    const std::optional<double> again = m_panel.parseNumber(m_panel.text("TextFFT"));
    Frequency = again ? *again : (value < MinSignalFrequency ? MinSignalFrequency : MaxSignalFrequency);
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
    m_runEnd = m_signal.run(settings);
}

SignalChoice MainPresenter::signalChoice()
{
    readSignalFrequency();
    return SignalChoice{GenIndex, Frequency, m_panel.value("CheckBy5") != 0};
}

double MainPresenter::frequencyFromScrolls() const
{
    const int rate = m_panel.value("HScrollFFT") * 10 + m_panel.value("HScrollFine");
    const int k = (m_panel.value("CheckBy5") % 2 != 0) ? 20 : 1;
    return k * rate / 100.0;
}

void MainPresenter::SetFreqFromScrolls()
{
    Frequency = frequencyFromScrolls();
    m_panel.setText("TextFFT", m_panel.formatNumber(Frequency));
    m_signal.retune(m_panel.value("HScrollFFT") * 10 + m_panel.value("HScrollFine"));
}

void MainPresenter::OptionSigGen_Click(int Index)
{
    LastFreq = 0;
    GenIndex = Index;
    if (Playing && !m_signal.calibrating())
        ApplySignal();
}

void MainPresenter::CheckBy5_Click()
{
    if (Running || LogSweeping) {
        // A sweep owns the tone and the frequency (the log sweep the
        // output): only the box's text follows the range switch.
        m_panel.setText("TextFFT", m_panel.formatNumber(frequencyFromScrolls()));
        return;
    }
    if (m_signal.calibrating()) {
        // The silence or the white noise being measured keeps playing; the
        // end of the calibration applies the new range.
        SetFreqFromScrolls();
        LastFreq = 0;
        return;
    }
    m_sound.StopPlayback();
    SetFreqFromScrolls();
    LastFreq = 0;
    if (Playing)
        ApplySignal();
}

} // namespace audimera
