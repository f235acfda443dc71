// The sweep: from the Start click to the end of the run.
#include "MeasurementEngine.h"

#include "DspLibrary.h"
#include "Rounding.h"

#include <algorithm>
#include <cmath>
#include <string>

using audimera::nearest;
using audimera::nearestInt;

const char* const MeasurementEngine::LowSignalQuestion =
    "Warning: input level too low or too much noise.\r\n\r\n"
    "Adjust record level and play volume. Continue anyway ?";

namespace {
constexpr int AutoPlanCount = 4;
constexpr int SignalCount = 6;
constexpr int SettleMs = 200;
} // namespace

// Polls on behalf of the device while a block is captured: events, then a
// millisecond's sleep; the block is wanted while the run's flag holds.
class MeasurementEngine::Waiter : public RecordWaiter {
public:
    Waiter(Host& host, const bool& wanted) : m_host(host), m_wanted(wanted) {}
    bool waitOnce() override
    {
        m_host.yield();
        m_host.sleepMs(1);
        return m_wanted;
    }

private:
    Host& m_host;
    const bool& m_wanted;
};

MeasurementEngine::MeasurementEngine(Panel& panel, Host& host, SoundDevice& sound, Displays& displays)
    : ToneBuffer(ToneSamples),
      WhiteNoiseBuffer(ToneSamples),
      PinkNoiseBuffer(ToneSamples),
      RecBuffer(RecordSamples),
      FFTIn(RecordSamples),
      FFTOUT(RecordSamples),
      CalibCurve(static_cast<size_t>(CorrectionCount) * CorrectionSlots),
      m_panel(panel),
      m_host(host),
      m_sound(sound),
      m_displays(displays)
{
    m_status.reserve(160);
}

void MeasurementEngine::InitWhitePinkBuffers()
{
    ::InitWhitePinkBuffers(WhiteNoiseBuffer.data(), PinkNoiseBuffer.data(), &Audidsp::LowPass44);
}

// ---------------------------------------------------------------- controls

void MeasurementEngine::LockControls()
{
    for (const char* name : {"MenuInDevice", "MenuOutDevice", "TextStart", "TextStop", "cmdCalibrate",
                             "MenuEntrySave", "MenuEntryLoadTrace", "cmdStart", "cmdClearTraces"})
        m_panel.setEnabled(name, false);
}

void MeasurementEngine::UnlockControls()
{
    m_panel.setEnabled("MenuInDevice", true);
    m_panel.setEnabled("MenuOutDevice", true);
    m_panel.setEnabled("TextStart", true);
    m_panel.setEnabled("TextStop", true);
    m_panel.setEnabled("cmdCalibrate", Calib > 0);
    const bool haveTrace = m_displays.GetTraceCount() >= 1;
    m_panel.setEnabled("cmdClearTraces", haveTrace);
    m_panel.setEnabled("MenuEntryLoadTrace", true);
    m_panel.setEnabled("MenuEntrySave", haveTrace);
    m_panel.setEnabled("HScrollFFT", true);
    m_panel.setEnabled("HScrollFine", true);
}

int MeasurementEngine::selectedIndex(std::string_view array, int count, int fallback) const
{
    for (int i = 0; i < count; ++i)
        if (m_panel.value(controlName(array, i)) != 0)
            return i;
    return fallback;
}

void MeasurementEngine::setLevelLabel(std::string_view label, double value, std::string_view unit)
{
    std::string text = m_panel.formatNumber(value);
    text += unit;
    m_panel.setCaption(label, text);
}

bool MeasurementEngine::readNumber(std::string_view box, std::string_view what, double& value)
{
    const std::string text = m_panel.text(box);
    const std::optional<double> number = m_panel.parseNumber(text);
    if (number && std::isfinite(*number)) {
        value = *number;
        return true;
    }
    m_host.message("The " + std::string(what) + " '" + text + "' is not a number.", MessageIcon::Exclamation);
    return false;
}

void MeasurementEngine::OptionAutoSigGen_Click(int Index)
{
    LastFreq = 0;
    GenIndex = Index;
}

void MeasurementEngine::HScrollStep_Change()
{
    m_panel.setCaption("LabelStep", "Step: x" + m_panel.formatNumber(m_panel.value("HScrollStep") / 100.0));
}

void MeasurementEngine::HScrollStep_Scroll()
{
    HScrollStep_Change();
}

// ---------------------------------------------------------------- device

void MeasurementEngine::endRun(RunEnd why)
{
    m_runEnd = why;
    cmdStop_Click();
}

void MeasurementEngine::deviceFailed(std::string_view what, const std::string& reason)
{
    endRun(RunEnd::DeviceFailed);
    m_host.message(std::string(what) + reason, MessageIcon::Critical);
}

bool MeasurementEngine::playLoop(const int16_t* table, int rate)
{
    const std::string error = m_sound.PlayLoop(table, rate);
    if (error.empty())
        return true;
    deviceFailed("Playing on the output device failed: ", error);
    return false;
}

bool MeasurementEngine::recordBlock(const bool& wanted)
{
    Waiter waiter(m_host, wanted);
    std::string error;
    switch (m_sound.RecordBlock(RecBuffer.data(), waiter, &error)) {
    case RecordResult::Complete:
        // A block finished just as the run was stopped is not used either.
        return wanted;
    case RecordResult::Cancelled:
        return false;
    case RecordResult::Failed:
        deviceFailed("Recording from the input device failed: ", error);
        return false;
    }
    return false;
}

// ---------------------------------------------------------------- plans

bool MeasurementEngine::ResetGenerator()
{
    const FrequencyPlan::Outcome outcome = m_plan.ResetGenerator(GenIndex, m_panel.text("txtUserFreqFile"));
    if (!outcome.message.empty())
        m_host.message(outcome.message, MessageIcon::Critical);
    return outcome.ok;
}

double MeasurementEngine::GetNextGeneratorFreq()
{
    return m_plan.GetNextGeneratorFreq();
}

// ---------------------------------------------------------------- the run

void MeasurementEngine::cmdStart_Click()
{
    LockControls();
    m_panel.setEnabled("cmdStop", true);
    m_panel.setEnabled("cmdStart", false);
    m_panel.setEnabled("cmdStartSignal", false);
    m_panel.setEnabled("HScrollFFT", false);
    m_panel.setEnabled("HScrollFine", false);
    for (int i = 0; i < SignalCount; ++i)
        m_panel.setEnabled(controlName("OptionSigGen", i), false);
    LastFreq = 0;
    GenIndex = selectedIndex("OptionAutoSigGen", AutoPlanCount, GenIndex);
    m_sound.StopPlayback();
    RunTrace();
}

void MeasurementEngine::showProgress()
{
    // Built in a string reserved once: a measured point allocates nothing.
    std::string& text = m_status;
    text.clear();
    if (m_runPlan != PlanRange) {
        // The list ends in -1; its points are those up to the stop frequency.
        const std::vector<double>& list = m_plan.FreqList;
        int total = 0;
        while (total < static_cast<int>(list.size()) && list[total] >= 1 && list[total] <= StopFreq)
            ++total;
        text += "Point ";
        text += std::to_string(m_plan.FreqListPos);
        text += " of ";
        text += std::to_string(total);
    } else {
        // The place on the logarithmic axis between start and stop.
        const double span = std::log(StopFreq / StartFreq);
        const double done = span > 0 ? std::log(Frequency / StartFreq) / span : 1;
        text += "Sweep at ";
        text += m_panel.formatNumber(Frequency);
        text += " Hz, ";
        text += std::to_string(static_cast<int>(std::lround(100 * std::clamp(done, 0.0, 1.0))));
        text += " % of the way from ";
        text += m_panel.formatNumber(StartFreq);
        text += " to ";
        text += std::to_string(StopFreq);
        text += " Hz";
    }
    m_panel.setStatusText(text);
}

void MeasurementEngine::cmdStop_Click()
{
    m_panel.setStatusText("");
    m_sound.StopPlayback();
    Running = false;
    Playing = false;
    UnlockControls();
    m_panel.setEnabled("cmdStop", false);
    m_panel.setEnabled("cmdStart", true);
    m_panel.setCaption("cmdStartSignal", "Start Signal");
    m_panel.setEnabled("cmdStartSignal", true);
    for (int i = 0; i < SignalCount; ++i)
        m_panel.setEnabled(controlName("OptionSigGen", i), true);
    for (int i = 0; i < AutoPlanCount; ++i)
        m_panel.setEnabled(controlName("OptionAutoSigGen", i), true);
}

void MeasurementEngine::cmdCalibrate_Click()
{
    Calib = 0;
    m_panel.setEnabled("cmdCalibrate", false);
}

void MeasurementEngine::RunTrace()
{
    LastFreq = 0;
    bool By20 = false;
    bool replay = true;
    // Plan buttons stay usable during a sweep; a click acts from the next run.
    m_runPlan = GenIndex;
    m_runEnd = RunEnd::Stopped;

    if (Calib == 0)
        Noise = 0;

    // Text that is not a number refuses the run before it takes a trace
    // slot; the limits below are checked after, on the run's empty trace.
    double startText = 0;
    double stopText = 0;
    if (!readNumber("TextStart", "start frequency", startText) ||
        !readNumber("TextStop", "stop frequency", stopText)) {
        endRun(RunEnd::Refused);
        return;
    }
    if (Calib != 0 && !m_displays.AddTrace()) {
        endRun(RunEnd::TraceRefused);
        return;
    }
    StartFreq = startText;
    StopFreq = nearestInt(stopText);

    if (m_runPlan != PlanRange) {
        if (!ResetGenerator()) {
            endRun(RunEnd::PlanFailed);
            return;
        }
        Frequency = GetNextGeneratorFreq();
    } else {
        Frequency = StartFreq;
    }

    const char* refusal = nullptr;
    if (StartFreq < 1)
        refusal = "Start frequency minimun: 1 Hz";
    else if (StopFreq > 20000)
        refusal = "Stop frequency maximum: 20000 Hz";
    else if (StartFreq >= StopFreq)
        refusal = "Stop frequency must be > Start !";
    if (refusal) {
        m_host.message(refusal, MessageIcon::Exclamation);
        endRun(RunEnd::Refused);
        return;
    }

    StepFactor = m_panel.value("HScrollStep") / 100.0;
    Running = true;

    for (;;) {
        if (!Running)
            return;
        if (Frequency > StopFreq || Frequency < 1) {
            endRun(RunEnd::Completed);
            return;
        }

        enum class Pass { Silence, WhiteNoise, Tone };
        const Pass pass = Calib != 0 ? Pass::Tone : (Noise == 0 ? Pass::Silence : Pass::WhiteNoise);

        switch (pass) {
        case Pass::Silence:
            m_sound.StopPlayback();
            m_panel.setCaption("LabelFreq", "Silence...");
            break;
        case Pass::WhiteNoise:
            m_panel.setCaption("LabelFreq", "White noise...");
            m_sound.StopPlayback();
            if (!playLoop(WhiteNoiseBuffer.data(), SoundDevice::SampleRate))
                return;
            break;
        case Pass::Tone: {
            if (Frequency > 1000 && !By20) {
                By20 = true;
                replay = true;
            } else if (Frequency <= 1000 && By20) {
                By20 = false;
                replay = true;
            }
            setLevelLabel("LabelFreq", Frequency, " Hz");
            showProgress();
            const int rate = GenSineWave(ToneBuffer.data(), Frequency, By20);
            if (replay) {
                replay = false;
                if (!playLoop(ToneBuffer.data(), rate))
                    return;
            } else {
                m_sound.SetPlayRate(rate);
            }
            break;
        }
        }
        m_host.yield();

        m_host.sleepMs(SettleMs);
        if (!recordBlock(Running))
            continue; // stopped or failed: the check above returns

        AnalyseBlock(pass == Pass::Tone);

        switch (pass) {
        case Pass::Silence:
            Noise = PeakLevel < 1 ? 1 : PeakLevel;
            m_host.yield();
            break;
        case Pass::WhiteNoise:
            SNR = signalToNoise();
            setLevelLabel("LabelSNR", SNR, " dB");
            setLevelLabel("LabelCardSNR", SNR, " dB");
            if (nearest(SNR) < 3) {
                m_sound.StopPlayback();
                if (Running) {
                    if (m_host.message(LowSignalQuestion, MessageIcon::Exclamation, MessageButtons::YesNo) ==
                        MessageAnswer::No) {
                        m_panel.setEnabled("cmdCalibrate", false);
                        endRun(RunEnd::LowSignalDeclined);
                        return;
                    }
                    // Calibrating on nothing would start the calibration
                    // over at every run.
                    if (MeanLevel == 0)
                        MeanLevel = 1e-10;
                }
            }
            Calib = 2 * MeanLevel / 1.16;
            if (!m_displays.AddTrace()) {
                endRun(RunEnd::TraceRefused);
                return;
            }
            m_host.yield();
            break;
        case Pass::Tone:
            if (m_panel.value("CheckBadInputWave") == 1 && Satured) {
                m_host.yield();
                break; // the same frequency again
            }
            SNR = signalToNoise();
            setLevelLabel("LabelSNR", SNR, " dB");
            {
                const double level = correctedLevel();
                setLevelLabel("LabelDB", level, " dB");
                m_displays.AddPoint(Frequency, level);
            }
            m_displays.TraceResponse();

            if (m_runPlan != PlanRange) {
                if (Running)
                    Frequency = GetNextGeneratorFreq();
            } else if (Frequency == StopFreq) {
                endRun(RunEnd::Completed);
            } else {
                StepFactor = m_panel.value("HScrollStep") / 100.0;
                const double next = Frequency * StepFactor;
                if (std::floor(next) == Frequency) {
                    Frequency = Frequency + 1;
                } else {
                    Frequency = next;
                    if (Frequency > StopFreq)
                        Frequency = StopFreq;
                }
            }
            m_host.yield();
            break;
        }
    }
}
