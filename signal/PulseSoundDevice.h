// The real sound card, reached through the sound server (PulseAudio, or
// PipeWire serving the same protocol).
//
// Play devices are the server's sinks and record devices its sources,
// monitors of sinks included; entry 0 of each list is the server's default
// device, the others follow in the server's order. Playing is one stereo
// float stream fed by the band-limited TablePlayer with software level and
// balance (PulsePlayStream); recording is one 16-bit stream of which each
// block keeps only what was captured after it began (PulseRecordStream).
//
// When the server goes away, the operation in progress fails with a text and
// nothing hangs. The next open or initAudio() connects again, so a restarted
// server is used without restarting the program.
//
// Threads: every method runs on the UI thread (the SoundDevice contract). The
// streams' callbacks run on the server's thread; see the stream classes.
#pragma once

#include "PulseContext.h"
#include "PulsePlayStream.h"
#include "PulseRecordStream.h"
#include "SoundDevice.h"

#include <string>
#include <vector>

class PulseSoundDevice : public SoundDevice {
public:
    // First line of every start-up failure after which the program cannot
    // run; the second line gives the cause.
    static constexpr const char* NoSoundCardMessage = "Sorry but this program requires a sound card supporting directx.";

    // server: a server string such as "unix:/tmp/x/native"; empty for the
    // user's default server. Nothing is connected before initAudio() or an
    // open.
    explicit PulseSoundDevice(std::string server = {});
    ~PulseSoundDevice() override;
    PulseSoundDevice(const PulseSoundDevice&) = delete;
    PulseSoundDevice& operator=(const PulseSoundDevice&) = delete;

    // The program's start: connects, lists the devices and opens entry 0 of
    // each kind. Returns an empty string on success. With no server, or no
    // play or no record device, the text is NoSoundCardMessage, a line break
    // and the cause (isFatal() holds: the program ends). A failed open of
    // entry 0 returns that open's text instead; the program may go on and let
    // the user pick another device.
    std::string initAudio();
    static bool isFatal(const std::string& initError);

    // Whether a server answers at server (empty: the default); an empty
    // string, or "No sound server reachable: " and the reason.
    static std::string probeServer(const std::string& server = {});

    // Asks the server for its devices again (connecting when needed), for
    // when devices came or went. Returns an empty string or the reason.
    std::string refreshDevices();

    // SoundDevice. The lists are those of the last initAudio() or
    // refreshDevices(); open picks its entry by the device's name.
    std::vector<SoundDeviceInfo> playDevices() override;
    std::vector<SoundDeviceInfo> recordDevices() override;
    std::string openOutputDevice(int index) override;
    std::string openInputDevice(int index) override;
    void closeAudio() override;
    void StopPlayback() override;
    std::string PlayLoop(const int16_t* table, int rate) override;
    void SetPlayRate(int rate) override;
    void SetPlayVolume(int volume) override;
    void SetPlayPan(int pan) override;
    RecordResult RecordBlock(int16_t* buffer, RecordWaiter& waiter, std::string* error) override;

    // Opens a record device with 1 or 2 channels; with 2, RecordBlock and
    // recordSamples() return interleaved left/right samples (used to check
    // the balance).
    std::string openInputDevice(int index, int channels);
    // Records samples interleaved samples into buffer, all captured after
    // the call began; RecordBlock is this with RecordSamples.
    RecordResult recordSamples(int16_t* buffer, int samples, RecordWaiter& waiter, std::string* error);

    // State as the device sees it.
    int outputDevice() const { return m_output; } // -1: none open
    int inputDevice() const { return m_input; }   // -1: none open
    bool isConnected() const { return m_pulse.isReady(); }
    bool isPlaying() const { return m_play.isPlaying(); }
    int playRate() const { return m_play.rate(); }
    int volume() const { return m_play.volume(); }
    int pan() const { return m_play.pan(); }
    // Samples of the block being recorded that have arrived so far.
    int recordedSoFar() const { return m_record.collected(); }

private:
    // Connects, dropping the streams of a context that has died first.
    std::string ensureConnected();

    PulseContext m_pulse;
    PulsePlayStream m_play;
    PulseRecordStream m_record;
    std::vector<SoundDeviceInfo> m_playDevices;
    std::vector<SoundDeviceInfo> m_recordDevices;
    int m_output = -1;
    int m_input = -1;
};
