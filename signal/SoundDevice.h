// The sound card as the measurement sees it: one looping play table at a
// live rate, level and balance, and one-shot capture of a fixed block.
//
// All methods are called from the UI thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SoundDeviceInfo {
    std::string name;        // the identifier used to open it
    std::string description; // what the user sees in the menus
};

// Called by RecordBlock between its polls while a block is being captured.
class RecordWaiter {
public:
    virtual ~RecordWaiter() = default;
    // Processes pending events and sleeps about 1 ms. Returns false when the
    // block is no longer wanted (the run was stopped meanwhile).
    virtual bool waitOnce() = 0;
};

enum class RecordResult {
    Complete,  // the buffer holds RecordSamples new samples
    Cancelled, // the waiter gave up; the buffer content is undefined
    Failed,    // the device failed; the error text says why
};

class SoundDevice {
public:
    static constexpr int PlaySamples = 25000;
    static constexpr int RecordSamples = 30000;
    static constexpr int SampleRate = 44100;
    static constexpr int MinRate = 100;
    static constexpr int MaxRate = 100000;

    virtual ~SoundDevice() = default;

    // Devices of each kind; entry 0 is the default one.
    virtual std::vector<SoundDeviceInfo> playDevices() = 0;
    virtual std::vector<SoundDeviceInfo> recordDevices() = 0;

    // Opens entry index of its list, replacing the current device of that
    // kind. Returns an empty string on success or the reason of the failure;
    // on failure the previous device stays in use.
    virtual std::string openOutputDevice(int index) = 0;
    virtual std::string openInputDevice(int index) = 0;

    // Releases both devices.
    virtual void closeAudio() = 0;

    // Stops playback and rewinds; does nothing without a play device.
    virtual void StopPlayback() = 0;

    // Stops, rewinds, takes the first PlaySamples samples of table and plays
    // them in a loop at rate (clamped to MinRate..MaxRate), starting at the
    // table's first sample. Returns an empty string or the failure's reason.
    virtual std::string PlayLoop(const int16_t* table, int rate) = 0;

    // Changes the rate of the playing table without a gap (clamped).
    virtual void SetPlayRate(int rate) = 0;

    // Level and balance in hundredths of a dB: 0 full, -10000 silent; a
    // negative pan attenuates the right channel, a positive one the left.
    virtual void SetPlayVolume(int volume) = 0;
    virtual void SetPlayPan(int pan) = 0;

    // Captures RecordSamples new samples (all recorded after the call began)
    // into buffer[0..RecordSamples-1], calling waiter.waitOnce() between
    // polls. On Failed, *error says what failed.
    virtual RecordResult RecordBlock(int16_t* buffer, RecordWaiter& waiter, std::string* error) = 0;

    static int clampRate(int rate)
    {
        return rate < MinRate ? MinRate : (rate > MaxRate ? MaxRate : rate);
    }
};
