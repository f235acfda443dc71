// The sound card as the measurement sees it: one looping play table at a
// live rate, level and balance, and one-shot capture of a fixed block; and,
// for the log sweep, one finite signal played once while it is recorded
// (playAndRecord).
//
// Failures come back as audimera::Status / Result, their text what the user
// is shown; only initAudio() reports fatal ones.
//
// All methods are called from the UI thread.
#pragma once

#include "common/AudioFormat.h"
#include "common/Result.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace audimera {

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
    // says (empty when nothing was lost). It is no longer in use.
    std::string outputLost;
    std::string inputLost;
};

// Which input of a stereo record device a mono measurement hears: the mean
// of the two (Mix, the documented behaviour) or one of them alone, for a
// single microphone on a two-input card.
enum class RecordChannel { Mix, Left, Right };

// The RMS levels of a stereo recording's two inputs over one run, in dBFS
// (full scale 1.0, a sine at full scale reads -3.01); known is false when the
// device has not measured them (no run yet, or a mono-only device).
struct InputLevels {
    bool known = false;
    double leftDb = -400.0;
    double rightDb = -400.0;

    // From interleaved stereo samples (full scale 1.0).
    static InputLevels measure(const float* stereo, std::size_t frames);
    // The note shown when one input is more than SilentInputDb quieter than
    // the other, naming the input that carries the sound and the choice
    // that records it alone; empty otherwise, or when channel already is
    // that input.
    std::string note(RecordChannel channel) const;
    static constexpr double SilentInputDb = 30.0;
};

// One play-once run of the log sweep: a finite signal played while the
// record device captures, in 32-bit float, full scale 1.0.
struct DuplexRequest {
    // The signal, mono, at rate Hz, full scale 1.0; played once on the
    // channels chosen, as it is (the looping table's level and balance do
    // not apply), then silence. May be null when playFrames is 0.
    const float* play = nullptr;
    std::size_t playFrames = 0;
    int rate = SampleRate; // must be duplexRate() of the device
    enum class Channels { Both, Left, Right } playChannels = Channels::Both;
    // Frames to capture at rate (at least 1). Capture begins before the
    // first played sample (so the latency is inside the recording, never
    // lost); ask for playFrames plus the longest latency and tail expected.
    std::size_t recordFrames = 0;
    // 1: mono, the mean of a stereo source's two channels (mixed by the
    // device, not the sound system, whose mixing differs); 2: left and
    // right, interleaved.
    int recordChannels = 1;
    // For a mono recording: the input it takes (Mix: the mean above).
    RecordChannel recordChannel = RecordChannel::Mix;
    // Called between polls, on the caller's thread, with the fraction of the
    // recording done (0..1); may be empty.
    std::function<void(double)> progress = {};
};

// What one SoundDevice::readCapture() took.
struct CaptureRead {
    std::size_t frames = 0; // appended
    // Frames were lost before these (the server skipped ahead, or more
    // arrived between two reads than the capture keeps): whatever analyses
    // them starts afresh.
    bool gap = false;
};

// How a recording ended when the device did not fail.
enum class Recorded {
    Complete,  // the buffer holds the samples asked for, all new
    Cancelled, // the waiter gave up; the buffer content is undefined
};

class SoundDevice {
public:
    static constexpr int PlaySamples = audimera::ToneSamples;
    static constexpr int RecordSamples = audimera::RecordSamples;
    static constexpr int SampleRate = audimera::SampleRate;
    static constexpr int MinRate = 100;
    static constexpr int MaxRate = 100000;
    // First line of every start-up failure after which the program cannot
    // run; the second line gives the cause.
    static constexpr const char* NoSoundCardMessage = "Sorry but this program requires a sound card supporting directx.";

    virtual ~SoundDevice() = default;

    // The program's start: makes the device lists (reaching the sound system
    // first where there is one) and opens entry 0 of each kind, the play
    // device first. Without a sound system, or without a play or a record
    // device, the error is fatal: NoSoundCardMessage, a line break and the
    // cause (the program ends). A failed open of entry 0 is not fatal and
    // carries that open's text; a failed play device ends the start before
    // the record device is tried. This default lists and opens through the
    // methods below.
    virtual audimera::Status initAudio();

    // Devices of each kind; entry 0 is the default one.
    virtual std::vector<SoundDeviceInfo> playDevices() = 0;
    virtual std::vector<SoundDeviceInfo> recordDevices() = 0;

    // Opens entry index of its list, replacing the current device of that
    // kind. On failure the previous device stays in use.
    virtual audimera::Status openOutputDevice(int index) = 0;
    virtual audimera::Status openInputDevice(int index) = 0;

    // The entries of the devices in use; -1 for none open.
    virtual int outputDevice() const = 0;
    virtual int inputDevice() const = 0;

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

    // The sound server's own name as it gave it at the last listing of the
    // devices ("PulseAudio (on PipeWire 0.3.65)" where PipeWire serves the
    // PulseAudio clients); empty without a server (the simulated card).
    virtual std::string serverName() const { return {}; }

    // The rates the devices in use run at, in Hz; 0 for none open. The
    // blocks and the tables stay at SampleRate whatever they are.
    virtual int outputDeviceRate() const { return SampleRate; }
    virtual int inputDeviceRate() const { return SampleRate; }

    // What the program tells the user about devices that run at another rate
    // than SampleRate (the rates of the devices in use, 0 for none); empty
    // when both run at SampleRate.
    static std::string rateNote(int outputRate, int inputRate);

    // The fatal start-up failure with its cause.
    static audimera::Error noSoundCard(const std::string& cause);
    // noSoundCard() when either list is empty; success otherwise.
    static audimera::Status requireDevices(const std::vector<SoundDeviceInfo>& play,
                                           const std::vector<SoundDeviceInfo>& record);

    // Stops playback and rewinds; does nothing without a play device.
    virtual void StopPlayback() = 0;

    // Stops, rewinds, takes the first PlaySamples samples of table and plays
    // them in a loop at rate (clamped to MinRate..MaxRate), starting at the
    // table's first sample.
    virtual audimera::Status PlayLoop(const int16_t* table, int rate) = 0;

    // Changes the rate of the playing table without a gap (clamped).
    virtual void SetPlayRate(int rate) = 0;

    // Level and balance in hundredths of a dB: 0 full, -10000 silent; a
    // negative pan attenuates the right channel, a positive one the left.
    virtual void SetPlayVolume(int volume) = 0;
    virtual void SetPlayPan(int pan) = 0;

    // Captures RecordSamples new samples (all recorded after the call began)
    // into buffer[0..RecordSamples-1], calling waiter.waitOnce() between
    // polls; fails when the device does.
    virtual audimera::Result<Recorded> RecordBlock(int16_t* buffer, RecordWaiter& waiter) = 0;

    // The rate playAndRecord() runs at with the devices in use, in Hz: the
    // devices' own rate where play and record run at the same one (nothing
    // is converted anywhere), SampleRate otherwise.
    virtual int duplexRate() const { return SampleRate; }

    // Plays request.play once while capturing request.recordFrames frames
    // (times recordChannels samples) into recorded, which is resized to hold
    // them; the looping table is stopped first (and stays stopped). Samples
    // the device lost (an overrun, a dropped fragment) fail the run with
    // LostSamplesError, never shift it. Calls waiter.waitOnce() between
    // polls; Cancelled when it gives up. This default says the device
    // cannot.
    virtual audimera::Result<Recorded> playAndRecord(const DuplexRequest& request, std::vector<float>& recorded,
                                                     RecordWaiter& waiter);

    // The input RecordBlock takes from now on (Mix, the default: the mono
    // block as the device mixes it, the documented behaviour; Left or Right:
    // that input of a stereo recording alone). This default records mono
    // only and refuses Left and Right.
    virtual audimera::Status setRecordInput(RecordChannel channel);

    // The two inputs' levels over the last playAndRecord(), or the last
    // RecordBlock where the device recorded it in stereo (a mono source
    // reads equal levels), for InputLevels::note().
    virtual InputLevels lastInputLevels() const { return {}; }

    // --- Live capture, for the analyser and the sound level meter.

    // The longest the capture keeps what arrived between two reads, s.
    static constexpr double CaptureKeptSeconds = 4.0;
    // Starts recording the record device in use without end, mono (channel:
    // the mean of a stereo source's inputs, or one of them), 32-bit float,
    // full scale 1.0, at captureRate(); what arrives waits for
    // readCapture(). Refused (Busy) while a capture, a block or a
    // playAndRecord() runs. This default says the device cannot.
    virtual audimera::Status startCapture(RecordChannel channel);
    // Appends to out every frame that arrived since the last read, without
    // waiting (the simulated card: the next stretch of simulated time).
    // Fails when the device failed; the capture has then ended.
    virtual audimera::Result<CaptureRead> readCapture(std::vector<float>& out);
    virtual void stopCapture() {}
    virtual bool capturing() const { return false; }
    // The rate the capture runs at: the record device's own.
    virtual int captureRate() const { return inputDeviceRate(); }

    // Plays period (mono, full scale 1.0, at the play device's own rate,
    // outputDeviceRate(); 16 to 2^20 samples) in a loop through the table
    // player, every sample as it is, at the level and balance set
    // (SetPlayVolume, SetPlayPan), from its first sample; StopPlayback()
    // stops it and PlayLoop() plays a table again. The capture may run
    // meanwhile. This default says the device cannot.
    virtual audimera::Status playPeriod(const std::vector<float>& period);

    // The failure of a playAndRecord() that lost samples, exactly this text
    // (the caller may tell it from the others by it).
    static constexpr const char* LostSamplesError =
        "Sound was lost while the sweep played or was recorded: the computer fell behind the sound card";

    // Whether request can run at rate (the device's duplexRate()): the
    // error says what is wrong with it.
    static audimera::Status checkRequest(const DuplexRequest& request, int rate);

    static int clampRate(int rate)
    {
        return rate < MinRate ? MinRate : (rate > MaxRate ? MaxRate : rate);
    }
};

} // namespace audimera
