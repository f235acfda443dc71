#include "engine/MeasuringRun.h"

#include "engine/BlockAnalysis.h"

namespace audimera {

// Polls on behalf of the device while a block is captured: events, then a
// millisecond's sleep; the block is wanted while the run's flag holds.
class MeasuringRun::Waiter : public RecordWaiter {
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

MeasuringRun::MeasuringRun(MeasurementState& state, Host& host, SoundDevice& sound, RunObserver& observer)
    : m_state(state), m_host(host), m_sound(sound), m_observer(observer)
{
}

void stopRun(MeasurementState& state, SoundDevice& sound)
{
    sound.StopPlayback();
    state.Running = false;
    state.Playing = false;
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
    Waiter waiter(m_host, wanted);
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

} // namespace audimera
