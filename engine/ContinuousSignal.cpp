// The simple signal generator: plays one signal continuously and shows the
// live level and signal-to-noise ratio of block after block.
#include "MeasurementEngine.h"

#include "Rounding.h"

using audimera::nearest;

namespace {
constexpr int AutoPlanCount = 4;
constexpr int SignalCount = 6;
constexpr int SettleMs = 200;
constexpr double MinSignalFrequency = 1;
constexpr double MaxSignalFrequency = 20000;
constexpr double PinkMarker = -5;
constexpr double WhiteMarker = -6;
} // namespace

void MeasurementEngine::cmdStartSignal_Click()
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

void MeasurementEngine::readSignalFrequency()
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

void MeasurementEngine::RunSignal()
{
    readSignalFrequency();
    if (Calib == 0)
        Noise = 0;
    Playing = true;
    m_runEnd = RunEnd::Stopped;
    if (Calib != 0)
        ApplySignal();

    bool declined = false;
    while (Playing) {
        const bool calibrating = Calib == 0;
        if (calibrating) {
            if (Noise == 0) {
                m_sound.StopPlayback();
                m_panel.setCaption("LabelFreq", "Silence...");
            } else {
                m_panel.setCaption("LabelFreq", "White noise...");
                m_sound.StopPlayback();
                if (!playLoop(WhiteNoiseBuffer.data(), SoundDevice::SampleRate))
                    return;
            }
            m_host.yield();
            m_host.sleepMs(SettleMs);
        }

        if (!recordBlock(Playing))
            continue; // stopped or failed: the loop test ends the signal

        AnalyseBlock(!calibrating);

        if (calibrating) {
            m_host.yield();
            // Stopped meanwhile: the block of an abandoned pass is not adopted.
            if (!Playing)
                break;
            if (Noise == 0) {
                Noise = PeakLevel < 1 ? 1 : PeakLevel;
                continue;
            }
            SNR = signalToNoise();
            setLevelLabel("LabelSNR", SNR, " dB");
            setLevelLabel("LabelCardSNR", SNR, " dB");
            if (nearest(SNR) < 3 && Playing) {
                if (m_host.message(LowSignalQuestion, MessageIcon::Exclamation, MessageButtons::YesNo) ==
                    MessageAnswer::No) {
                    declined = true;
                    break;
                }
                if (MeanLevel == 0)
                    MeanLevel = 1e-10;
            }
            Calib = 2 * MeanLevel / 1.16;
            // Plays the choice made while calibrating, or the one made before.
            ApplySignal();
            m_host.yield();
            continue;
        }

        if (!(m_panel.value("CheckBadInputWave") == 1 && Satured)) {
            SNR = signalToNoise();
            setLevelLabel("LabelSNR", SNR, " dB");
            setLevelLabel("LabelDB", correctedLevel(), " dB");
        }
        m_host.yield();
    }

    if (declined) {
        m_sound.StopPlayback();
        m_panel.setEnabled("cmdCalibrate", false);
        endRun(RunEnd::LowSignalDeclined);
    }
}

void MeasurementEngine::ApplySignal()
{
    readSignalFrequency();
    int rate = 0;
    switch (GenIndex) {
    case SignalSine:
    case SignalSquare:
    case SignalTriangle: {
        if (LastFreq == Frequency)
            return;
        LastFreq = Frequency;
        setLevelLabel("LabelFreq", Frequency, " Hz");
        const bool by20 = m_panel.value("CheckBy5") != 0;
        if (GenIndex == SignalSine)
            rate = GenSineWave(ToneBuffer.data(), Frequency, by20);
        else if (GenIndex == SignalSquare)
            rate = GenSquareWave(ToneBuffer.data(), Frequency, by20);
        else
            rate = GenTriangleWave(ToneBuffer.data(), Frequency, by20);
        if (!playLoop(ToneBuffer.data(), rate))
            return;
        m_host.yield();
        return;
    }
    case SignalPink:
    case SignalWhite: {
        const bool pink = GenIndex == SignalPink;
        const double marker = pink ? PinkMarker : WhiteMarker;
        if (LastFreq == marker)
            return;
        m_panel.setCaption("LabelFreq", pink ? "Pink noise..." : "White noise...");
        if (!playLoop(pink ? PinkNoiseBuffer.data() : WhiteNoiseBuffer.data(), SoundDevice::SampleRate))
            return;
        LastFreq = marker;
        m_host.yield();
        return;
    }
    case SignalSilence:
        m_sound.StopPlayback();
        m_panel.setCaption("LabelFreq", "Silence...");
        m_host.yield();
        return;
    default:
        m_sound.StopPlayback();
        m_host.message("Uh ?", MessageIcon::None);
        Playing = false;
        return;
    }
}

int MeasurementEngine::signalRateDivisor() const
{
    return (m_panel.value("CheckBy5") % 2 != 0) ? 20 : 1;
}

double MeasurementEngine::frequencyFromScrolls() const
{
    const int rate = m_panel.value("HScrollFFT") * 10 + m_panel.value("HScrollFine");
    return signalRateDivisor() * rate / 100.0;
}

bool MeasurementEngine::signalCalibrating() const
{
    // The signal plays uncalibrated only in these passes: "Recenter 0dB" is
    // locked while it plays.
    return Playing && Calib == 0;
}

void MeasurementEngine::SetFreqFromScrolls()
{
    Frequency = frequencyFromScrolls();
    m_panel.setText("TextFFT", m_panel.formatNumber(Frequency));
    if (!signalCalibrating())
        m_sound.SetPlayRate(m_panel.value("HScrollFFT") * 10 + m_panel.value("HScrollFine"));
}

void MeasurementEngine::OptionSigGen_Click(int Index)
{
    LastFreq = 0;
    GenIndex = Index;
    if (Playing && !signalCalibrating())
        ApplySignal();
}

void MeasurementEngine::CheckBy5_Click()
{
    if (Running) {
        // A sweep owns the tone and the frequency: only the box's text
        // follows the range switch.
        m_panel.setText("TextFFT", m_panel.formatNumber(frequencyFromScrolls()));
        return;
    }
    if (signalCalibrating()) {
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
