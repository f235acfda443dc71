#include "engine/MeasuringRun.h"

#include "engine/BlockAnalysis.h"
#include "engine/HostWaiter.h"

namespace audimera {

MeasuringRun::MeasuringRun(MeasurementState& state, Host& host, SoundDevice& sound, RunObserver& observer)
    : m_state(state), m_host(host), m_sound(sound), m_observer(observer)
{
}

void stopRun(MeasurementState& state, SoundDevice& sound)
{
    sound.StopPlayback();
    state.Running = false;
    state.Playing = false;
    state.LogSweeping = false;
}

void MeasuringRun::end(RunEnd why)
{
    m_end = why;
    stopRun(m_state, m_sound);
    m_observer.runEnded(why);
}

void MeasuringRun::deviceFailed(std::string_view what, const std::string& reason)
{
    end(RunEnd::DeviceFailed);
    m_host.message(std::string(what) + reason, MessageIcon::Critical);
}

bool MeasuringRun::playLoop(const int16_t* table, int rate)
{
    const audimera::Status played = m_sound.PlayLoop(table, rate);
    if (played)
        return true;
    deviceFailed("Playing on the output device failed: ", played.message());
    return false;
}

bool MeasuringRun::recordBlock(const bool& wanted)
{
    HostWaiter waiter(m_host, wanted);
    const audimera::Result<Recorded> recorded = m_sound.RecordBlock(m_state.RecBuffer.data(), waiter);
    if (!recorded) {
        deviceFailed("Recording from the input device failed: ", recorded.message());
        return false;
    }
    // A block finished just as the run was stopped is not used either.
    return *recorded == Recorded::Complete && wanted;
}

void MeasuringRun::analyseBlock(bool tonePass)
{
    MeasurementState& s = m_state;
    int16_t* rec = s.RecBuffer.data();
    const BlockResult block = AnalyseBlock(rec, s.Frequency, tonePass, s.FFTIn.data(), s.FFTOUT.data());
    s.SampleStart = block.SampleStart;
    s.PeakLevel = block.PeakLevel;
    s.MeanLevel = block.MeanLevel;
    s.MaxStep = block.MaxStep;
    s.Satured = block.Satured;

    // The bad-wave box decides whether the windows show the block as bad.
    const bool badWaveChecked = m_observer.measuresBadBlocksAgain();
    if (m_observer.showsWaveform()) {
        const WaveformView view = waveformView(rec, block, s.Frequency);
        m_observer.DrawCurve(view.OsciWidth, view.OsciHeight, rec, block.SampleStart, badWaveChecked && block.Satured,
                             view.Off);
    }
    if (block.longEnoughForFft() && m_observer.showsSpectrum())
        m_observer.TraceFFT(s.FFTIn.data(), s.FFTOUT.data(), badWaveChecked ? block.Satured : false);
}

void MeasuringRun::tonePlayed(int rate, bool by20)
{
    m_toneFrequency = playedToneFrequency(rate, by20);
}

bool MeasuringRun::fitBlock()
{
    if (m_toneFrequency <= 0) {
        m_fit = ToneFit{};
        return false;
    }
    m_fit = fitTone(m_state.RecBuffer.data(), m_state.SampleStart, BlockAnalysis::SectionEnd, m_toneFrequency,
                    SoundDevice::SampleRate);
    return true;
}

double MeasuringRun::measuredLevel(LevelDetector detector) const
{
    const MeasurementState& s = m_state;
    if (detector == LevelDetector::NarrowBand)
        return blockLevel(narrowBandMeanLevel(m_fit, s.SampleStart, BlockAnalysis::SectionEnd), s.Calib);
    return blockLevel(s.MeanLevel, s.Calib);
}

} // namespace audimera
