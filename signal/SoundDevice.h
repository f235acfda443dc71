// The sound card as the measurement sees it: one looping play table at a
// live rate, level and balance, and one-shot capture of a fixed block.
//
// All methods are called from the UI thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct SoundDeviceInfo {
    std::string name;        // the identifier used to open it
    std::string description; // what the user sees in the menus
    // For a record device that hears a play device's output (a monitor of a
    // sink): that play device's description. Empty for a real input.
    std::string monitorOf = {};
    // The sample rate the device runs at, in Hz (0: not known). The
    // measurement works at 44100 Hz; a device at another rate is converted
    // by the program, not by the sound system.
    int rate = 0;

    bool isMonitor() const { return !monitorOf.empty(); }
    bool operator==(const SoundDeviceInfo&) const = default;
};

// Called by RecordBlock between its polls while a block is being captured.
class RecordWaiter {
public:
    virtual ~RecordWaiter() = default;
    // Processes pending events and sleeps about 1 ms. Returns false when the
    // block is no longer wanted (the run was stopped meanwhile).
    virtual bool waitOnce() = 0;
};

// What followDevices() found out.
struct DeviceChanges {
    bool changed = false;        // anything below is news; nothing else is set without it
    bool listed = false;         // the device lists are not what they were
    int output = -1;             // the play device in use now (its entry), -1 for none
    int input = -1;              // the record device in use now, -1 for none
    bool outputReopened = false; // the play device was opened anew (full level, centred)
    // For a device that was in use and has gone: what a failed open of it
    // says. It is no longer in use.
    std::string outputLost;
    std::string inputLost;
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

    // Follows the system's devices: when devices came or went, the default
    // changed, or the sound system restarted, reads the lists again (entry 0
    // still the default), keeps the devices in use by name, opens them again
    // after a restart and reports those that vanished. Cheap when nothing
    // happened; devices that never change report nothing.
    virtual DeviceChanges followDevices() { return {}; }

    // Runs between the polls of every wait for the device other than
    // RecordBlock's (connecting, listing, opening), so the program can
    // process its events; empty for none. Calls of this device made from
    // inside the hook that would wait themselves are refused.
    virtual void setWaitHook(std::function<void()> hook) { (void)hook; }

    // The rates the devices in use run at, in Hz; 0 for none open. The
    // blocks and the tables stay at SampleRate whatever they are.
    virtual int outputDeviceRate() const { return SampleRate; }
    virtual int inputDeviceRate() const { return SampleRate; }

    // What the program tells the user about devices that run at another rate
    // than SampleRate (the rates of the devices in use, 0 for none); empty
    // when both run at SampleRate.
    static std::string rateNote(int outputRate, int inputRate);

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

inline std::string SoundDevice::rateNote(int outputRate, int inputRate)
{
    const bool output = outputRate > 0 && outputRate != SampleRate;
    const bool input = inputRate > 0 && inputRate != SampleRate;
    const std::string hz = " Hz";
    const std::string measured = std::to_string(SampleRate) + hz;
    if (output && input) {
        const std::string rates = outputRate == inputRate
                                      ? "The play and record devices run at " + std::to_string(outputRate) + hz
                                      : "The play device runs at " + std::to_string(outputRate)
                                            + " Hz and the record device at " + std::to_string(inputRate) + hz;
        return rates + ": Audimera converts to and from " + measured;
    }
    if (output)
        return "The play device runs at " + std::to_string(outputRate) + hz
               + ": Audimera converts its output to that rate";
    if (input)
        return "The record device runs at " + std::to_string(inputRate) + hz + ": Audimera converts it to "
               + measured;
    return {};
}
