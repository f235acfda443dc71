#include "engine/ContinuousSignal.h"

#include "engine/BlockAnalysis.h"
#include "common/Rounding.h"
#include "signal/SignalSynthesis.h"

namespace audimera {

using audimera::nearest;

namespace {
constexpr double PinkMarker = -5;
constexpr double WhiteMarker = -6;
} // namespace

ContinuousSignal::ContinuousSignal(MeasurementState& state, Host& host, SoundDevice& sound, RunObserver& observer)
    : MeasuringRun(state, host, sound, observer)
{
}

RunEnd ContinuousSignal::run(const SignalSettings& settings)
{
    MeasurementState& s = m_state;
    if (s.Calib == 0)
        s.Noise = 0;
    s.Playing = true;
    m_end = RunEnd::Stopped;
    m_toneKind = -1;
    noTone();
    if (s.Calib != 0)
        ApplySignal();

    bool declined = false;
    while (s.Playing) {
        const bool calibrating = s.Calib == 0;
        if (calibrating) {
            if (s.Noise == 0) {
                m_sound.StopPlayback();
                m_observer.playing(Sound::Silence, 0);
            } else {
                m_observer.playing(Sound::WhiteNoise, 0);
                m_sound.StopPlayback();
                if (!playLoop(s.WhiteNoiseBuffer.data(), SoundDevice::SampleRate))
                    return m_end;
            }
            m_host.yield();
            m_host.sleepMs(SettleMs);
        }

        if (!recordBlock(s.Playing))
            continue; // stopped or failed: the loop test ends the signal

        analyseBlock(!calibrating);

        if (calibrating) {
            m_host.yield();
            // Stopped meanwhile: the block of an abandoned pass is not adopted.
            if (!s.Playing)
                break;
            if (s.Noise == 0) {
                s.Noise = s.PeakLevel < 1 ? 1 : s.PeakLevel;
                continue;
            }
            s.SNR = signalToNoise(s.PeakLevel, s.Noise);
            m_observer.calibrationMeasured(s.SNR);
            if (nearest(s.SNR) < 3 && s.Playing) {
                if (m_host.message(LowSignalQuestion, MessageIcon::Exclamation, MessageButtons::YesNo) ==
                    MessageAnswer::No) {
                    declined = true;
                    break;
                }
                if (s.MeanLevel == 0)
                    s.MeanLevel = 1e-10;
            }
            s.Calib = calibrationReference(s.MeanLevel);
            // Plays the choice made while calibrating, or the one made before.
            ApplySignal();
            m_host.yield();
            continue;
        }

        if (!(m_observer.measuresBadBlocksAgain() && s.Satured)) {
            s.SNR = signalToNoise(s.PeakLevel, s.Noise);
            // Only a sine has nothing but its tone to measure.
            const bool sine = m_toneKind == SignalChoice::Sine && fitBlock();
            double level = measuredLevel(sine ? settings.detector : LevelDetector::MeanMagnitude);
            if (settings.corrections)
                level -= settings.corrections->levelAt(s.Frequency);
            m_observer.distortionMeasured(s.Frequency, sine ? distortionOf(lastFit()) : Distortion{});
            m_observer.levelMeasured(level, s.SNR);
        }
        m_host.yield();
    }

    if (declined) {
        m_sound.StopPlayback();
        end(RunEnd::LowSignalDeclined);
    }
    return m_end;
}

void ContinuousSignal::ApplySignal()
{
    MeasurementState& s = m_state;
    const SignalChoice choice = m_observer.signalChoice();
    s.Frequency = choice.frequency;
    int rate = 0;
    switch (choice.kind) {
    case SignalChoice::Sine:
    case SignalChoice::Square:
    case SignalChoice::Triangle:
        if (s.LastFreq == s.Frequency)
            return;
        s.LastFreq = s.Frequency;
        m_observer.playing(Sound::Tone, s.Frequency);
        if (choice.kind == SignalChoice::Sine)
            rate = GenSineWave(s.ToneBuffer.data(), s.Frequency, choice.by20);
        else if (choice.kind == SignalChoice::Square)
            rate = GenSquareWave(s.ToneBuffer.data(), s.Frequency, choice.by20);
        else
            rate = GenTriangleWave(s.ToneBuffer.data(), s.Frequency, choice.by20);
        m_toneKind = choice.kind;
        m_toneBy20 = choice.by20;
        tonePlayed(rate, choice.by20);
        if (!playLoop(s.ToneBuffer.data(), rate))
            return;
        m_host.yield();
        return;
    case SignalChoice::PinkNoise:
    case SignalChoice::WhiteNoise: {
        const bool pink = choice.kind == SignalChoice::PinkNoise;
        const double marker = pink ? PinkMarker : WhiteMarker;
        if (s.LastFreq == marker)
            return;
        m_observer.playing(pink ? Sound::PinkNoise : Sound::WhiteNoise, 0);
        m_toneKind = -1;
        noTone();
        if (!playLoop(pink ? s.PinkNoiseBuffer.data() : s.WhiteNoiseBuffer.data(), SoundDevice::SampleRate))
            return;
        s.LastFreq = marker;
        m_host.yield();
        return;
    }
    case SignalChoice::Silence:
        m_toneKind = -1;
        noTone();
        m_sound.StopPlayback();
        m_observer.playing(Sound::Silence, 0);
        m_host.yield();
        return;
    default:
        m_sound.StopPlayback();
        m_host.message("Uh ?", MessageIcon::None);
        s.Playing = false;
        return;
    }
}

void ContinuousSignal::retune(int rate)
{
    if (calibrating())
        return;
    m_sound.SetPlayRate(rate);
    if (m_toneKind >= 0)
        tonePlayed(rate, m_toneBy20);
}

} // namespace audimera
