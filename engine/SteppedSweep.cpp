#include "engine/SteppedSweep.h"

#include "engine/BlockAnalysis.h"
#include "common/Rounding.h"
#include "signal/SignalSynthesis.h"

#include <cmath>

namespace audimera {

using audimera::nearest;
using audimera::nearestInt;

SteppedSweep::SteppedSweep(MeasurementState& state, Host& host, SoundDevice& sound, RunObserver& observer)
    : MeasuringRun(state, host, sound, observer)
{
}

RunEnd SteppedSweep::run(const SweepSettings& settings)
{
    MeasurementState& s = m_state;
    s.LastFreq = 0;
    bool By20 = false;
    bool replay = true;
    m_end = RunEnd::Stopped;
    const bool listPlan = settings.plan != FrequencyPlan::RangePlan;

    if (const audimera::Status input = m_sound.setRecordInput(settings.channel); !input) {
        m_host.message(input.message(), MessageIcon::Critical);
        end(RunEnd::DeviceFailed);
        return m_end;
    }
    double inputEnergy[2] = {0.0, 0.0}; // the tone points' input levels, summed as powers
    std::string inputNote;
    int retries = 0; // bad blocks measured again at the point's frequency
    if (settings.outputLevel)
        m_sound.SetPlayVolume(*settings.outputLevel);
    if (s.Calib == 0) {
        s.Noise = 0;
    } else if (const audimera::Status opened = m_observer.openTrace(); !opened) {
        m_host.message(opened.message(), MessageIcon::Critical);
        end(RunEnd::TraceRefused);
        return m_end;
    }
    s.StartFreq = settings.start;
    s.StopFreq = nearestInt(settings.stop);

    // Points of a list plan: those up to the stop frequency (the list ends in -1).
    int points = 0;
    if (listPlan) {
        const audimera::Status reset = m_plan.ResetGenerator(settings.plan, settings.userFile);
        const std::string notice = reset ? m_plan.notice() : reset.message();
        if (!notice.empty())
            m_host.message(notice, MessageIcon::Critical);
        if (!reset) {
            end(RunEnd::PlanFailed);
            return m_end;
        }
        const std::vector<double>& list = m_plan.FreqList;
        while (points < static_cast<int>(list.size()) && list[points] >= 1 && list[points] <= s.StopFreq)
            ++points;
        s.Frequency = m_plan.GetNextGeneratorFreq();
    } else {
        s.Frequency = s.StartFreq;
    }

    const char* refusal = nullptr;
    if (s.StartFreq < 1)
        refusal = "Start frequency minimun: 1 Hz";
    else if (s.StopFreq > 20000)
        refusal = "Stop frequency maximum: 20000 Hz";
    else if (s.StartFreq >= s.StopFreq)
        refusal = "Stop frequency must be > Start !";
    if (refusal) {
        m_host.message(refusal, MessageIcon::Exclamation);
        end(RunEnd::Refused);
        return m_end;
    }

    s.StepFactor = m_observer.stepFactor();
    s.Running = true;

    for (;;) {
        if (!s.Running)
            return m_end;
        if (s.Frequency > s.StopFreq || s.Frequency < 1) {
            end(RunEnd::Completed);
            return m_end;
        }

        enum class Pass { Silence, WhiteNoise, Tone };
        const Pass pass = s.Calib != 0 ? Pass::Tone : (s.Noise == 0 ? Pass::Silence : Pass::WhiteNoise);

        switch (pass) {
        case Pass::Silence:
            m_sound.StopPlayback();
            m_observer.playing(Sound::Silence, 0);
            break;
        case Pass::WhiteNoise:
            m_observer.playing(Sound::WhiteNoise, 0);
            m_sound.StopPlayback();
            if (!playLoop(s.WhiteNoiseBuffer.data(), SoundDevice::SampleRate))
                return m_end;
            break;
        case Pass::Tone: {
            const bool above = s.Frequency > settings.by20Above;
            if (above != By20) {
                By20 = above;
                replay = true;
            }
            m_observer.playing(Sound::Tone, s.Frequency);
            m_observer.sweepProgress(listPlan ? m_plan.FreqListPos : 0, listPlan ? points : 0);
            const int rate = GenSineWave(s.ToneBuffer.data(), s.Frequency, By20);
            tonePlayed(rate, By20);
            if (replay) {
                replay = false;
                if (!playLoop(s.ToneBuffer.data(), rate))
                    return m_end;
            } else {
                m_sound.SetPlayRate(rate);
            }
            break;
        }
        }
        m_host.yield();

        m_host.sleepMs(SettleMs);
        if (!recordBlock(s.Running))
            continue; // stopped or failed: the check above returns

        analyseBlock(pass == Pass::Tone);

        switch (pass) {
        case Pass::Silence:
            s.Noise = s.PeakLevel < 1 ? 1 : s.PeakLevel;
            m_host.yield();
            break;
        case Pass::WhiteNoise:
            s.SNR = signalToNoise(s.PeakLevel, s.Noise);
            m_observer.calibrationMeasured(s.SNR);
            if (nearest(s.SNR) < 3) {
                m_sound.StopPlayback();
                if (s.Running) {
                    if (m_host.message(LowSignalQuestion, MessageIcon::Exclamation, MessageButtons::YesNo) ==
                        MessageAnswer::No) {
                        end(RunEnd::LowSignalDeclined);
                        return m_end;
                    }
                    // Calibrating on nothing would start the calibration
                    // over at every run.
                    if (s.MeanLevel == 0)
                        s.MeanLevel = 1e-10;
                }
            }
            s.Calib = calibrationReference(s.MeanLevel);
            if (const audimera::Status opened = m_observer.openTrace(); !opened) {
                m_host.message(opened.message(), MessageIcon::Critical);
                end(RunEnd::TraceRefused);
                return m_end;
            }
            m_host.yield();
            break;
        case Pass::Tone:
            if (m_observer.measuresBadBlocksAgain() && s.Satured) {
                if (!m_observer.measuringAgain(s.Frequency, ++retries)) {
                    end(RunEnd::RetriesRefused);
                    return m_end;
                }
                m_host.yield();
                break; // the same frequency again
            }
            retries = 0;
            s.SNR = signalToNoise(s.PeakLevel, s.Noise);
            {
                fitBlock();
                double level = measuredLevel(settings.detector);
                if (settings.corrections)
                    level -= settings.corrections->levelAt(s.Frequency);
                m_observer.distortionMeasured(s.Frequency, distortionOf(lastFit()));
                m_observer.pointMeasured(s.Frequency, level, s.SNR);
                if (const InputLevels heard = m_sound.lastInputLevels(); heard.known) {
                    inputEnergy[0] += std::pow(10.0, heard.leftDb / 10);
                    inputEnergy[1] += std::pow(10.0, heard.rightDb / 10);
                    const auto db = [](double e) { return e > 0 ? 10 * std::log10(e) : -400.0; };
                    const std::string note =
                        InputLevels{true, db(inputEnergy[0]), db(inputEnergy[1])}.note(settings.channel);
                    if (note != inputNote)
                        m_observer.inputNoted(inputNote = note);
                }
            }

            if (listPlan) {
                if (s.Running)
                    s.Frequency = m_plan.GetNextGeneratorFreq();
            } else if (s.Frequency == s.StopFreq) {
                end(RunEnd::Completed);
            } else {
                s.StepFactor = m_observer.stepFactor();
                const double next = s.Frequency * s.StepFactor;
                if (std::floor(next) == s.Frequency) {
                    s.Frequency = s.Frequency + 1;
                } else {
                    s.Frequency = next;
                    if (s.Frequency > s.StopFreq)
                        s.Frequency = s.StopFreq;
                }
            }
            m_host.yield();
            break;
        }
    }
}

} // namespace audimera
