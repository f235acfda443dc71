// Passes every call on to a real device and logs the playback calls, so a
// test can see when the tone was restarted and when only its rate changed.
#pragma once

#include "devices/SoundDevice.h"

#include <string>
#include <vector>

namespace audimera {

class RecordingSoundDevice : public SoundDevice {
public:
    struct Call {
        enum Kind { Stop, Loop, Rate, Record } kind;
        int rate = 0;
        const int16_t* table = nullptr;
        std::vector<int16_t> head; // Loop: the table's first samples as played
    };

    explicit RecordingSoundDevice(SoundDevice& device) : m_device(device) {}

    std::vector<SoundDeviceInfo> playDevices() override { return m_device.playDevices(); }
    std::vector<SoundDeviceInfo> recordDevices() override { return m_device.recordDevices(); }
    audimera::Status openOutputDevice(int index) override { return m_device.openOutputDevice(index); }
    audimera::Status openInputDevice(int index) override { return m_device.openInputDevice(index); }
    int outputDevice() const override { return m_device.outputDevice(); }
    int inputDevice() const override { return m_device.inputDevice(); }
    void closeAudio() override { m_device.closeAudio(); }
    void StopPlayback() override
    {
        calls.push_back({Call::Stop, 0, nullptr, {}});
        m_device.StopPlayback();
    }
    audimera::Status PlayLoop(const int16_t* table, int rate) override
    {
        calls.push_back({Call::Loop, rate, table, std::vector<int16_t>(table, table + 100)});
        return m_device.PlayLoop(table, rate);
    }
    void SetPlayRate(int rate) override
    {
        calls.push_back({Call::Rate, rate, nullptr, {}});
        m_device.SetPlayRate(rate);
    }
    void SetPlayVolume(int volume) override { m_device.SetPlayVolume(volume); }
    void SetPlayPan(int pan) override { m_device.SetPlayPan(pan); }
    audimera::Result<Recorded> RecordBlock(int16_t* buffer, RecordWaiter& waiter) override
    {
        calls.push_back({Call::Record, 0, nullptr, {}});
        return m_device.RecordBlock(buffer, waiter);
    }

    int count(Call::Kind kind) const
    {
        int n = 0;
        for (const Call& c : calls)
            n += c.kind == kind;
        return n;
    }
    // Calls of one kind, in order.
    std::vector<Call> of(Call::Kind kind) const
    {
        std::vector<Call> out;
        for (const Call& c : calls)
            if (c.kind == kind)
                out.push_back(c);
        return out;
    }

    std::vector<Call> calls;

private:
    SoundDevice& m_device;
};

} // namespace audimera
