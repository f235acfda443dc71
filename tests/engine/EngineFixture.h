// An engine wired to test doubles: a panel in its start-up state, a
// scripted host, recording plot windows and a device of the test's choice.
#pragma once

#include "FakePanel.h"
#include "MeasurementEngine.h"
#include "Rounding.h"
#include "RecordingDisplays.h"
#include "ScriptedHost.h"

#include <functional>
#include <memory>

// A device that records silence at once; for tests that feed RecBuffer
// themselves.
class SilentSoundDevice : public SoundDevice {
public:
    std::vector<SoundDeviceInfo> playDevices() override { return {{"null", "Null"}}; }
    std::vector<SoundDeviceInfo> recordDevices() override { return {{"null", "Null"}}; }
    std::string openOutputDevice(int) override { return {}; }
    std::string openInputDevice(int) override { return {}; }
    void closeAudio() override {}
    void StopPlayback() override {}
    std::string PlayLoop(const int16_t*, int) override { return {}; }
    void SetPlayRate(int) override {}
    void SetPlayVolume(int) override {}
    void SetPlayPan(int) override {}
    RecordResult RecordBlock(int16_t* buffer, RecordWaiter& waiter, std::string*) override
    {
        if (!waiter.waitOnce())
            return RecordResult::Cancelled;
        for (int i = 0; i < RecordSamples; ++i)
            buffer[i] = 0;
        return RecordResult::Complete;
    }
};

// A perfect loopback: records what the looping table sounds at its rate
// (linear interpolation, unit gain), scaled by gain. Tests can spoil single
// blocks, make the device fail, or count records.
class LoopbackDevice : public SoundDevice {
public:
    double gain = 1.0;
    int waitsPerRecord = 1;
    std::string failWith;                         // the next record fails with this text
    std::function<void(int, int16_t*)> tamper;    // called with the block number (from 1)
    int records = 0;
    int playLoops = 0;
    int rate = 0;
    bool playing = false;
    std::string playFailure;                      // PlayLoop fails with this text

    std::vector<SoundDeviceInfo> playDevices() override { return {{"loop", "Loopback"}}; }
    std::vector<SoundDeviceInfo> recordDevices() override { return {{"loop", "Loopback"}}; }
    std::string openOutputDevice(int) override { return {}; }
    std::string openInputDevice(int) override { return {}; }
    void closeAudio() override { StopPlayback(); }
    void StopPlayback() override
    {
        playing = false;
        m_phase = 0;
    }
    std::string PlayLoop(const int16_t* table, int r) override
    {
        if (!playFailure.empty())
            return playFailure;
        ++playLoops;
        StopPlayback();
        m_table.assign(table, table + PlaySamples);
        SetPlayRate(r);
        playing = true;
        return {};
    }
    void SetPlayRate(int r) override { rate = clampRate(r); }
    void SetPlayVolume(int) override {}
    void SetPlayPan(int) override {}
    RecordResult RecordBlock(int16_t* buffer, RecordWaiter& waiter, std::string* error) override
    {
        for (int i = 0; i < waitsPerRecord; ++i)
            if (!waiter.waitOnce())
                return RecordResult::Cancelled;
        if (!failWith.empty()) {
            *error = failWith;
            failWith.clear();
            return RecordResult::Failed;
        }
        ++records;
        for (int i = 0; i < RecordSamples; ++i) {
            double v = 0;
            if (playing) {
                const int k = static_cast<int>(m_phase);
                const double frac = m_phase - k;
                v = m_table[k] * (1 - frac) + m_table[(k + 1) % PlaySamples] * frac;
                m_phase += rate / 44100.0;
                while (m_phase >= PlaySamples)
                    m_phase -= PlaySamples;
            }
            buffer[i] = audimera::nearestSample(v * gain);
        }
        if (tamper)
            tamper(records, buffer);
        return RecordResult::Complete;
    }

private:
    std::vector<int16_t> m_table = std::vector<int16_t>(PlaySamples);
    double m_phase = 0;
};

template <typename Device>
struct EngineRig {
    template <typename... Args>
    explicit EngineRig(char decimal = '.', Args&&... deviceArgs)
        : panel(decimal), device(std::forward<Args>(deviceArgs)...),
          engine(std::make_unique<MeasurementEngine>(panel, host, device, displays))
    {
    }
    FakePanel panel;
    ScriptedHost host;
    Device device;
    RecordingDisplays displays;
    std::unique_ptr<MeasurementEngine> engine;
};
