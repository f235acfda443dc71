// The real sound card, reached through the sound server (PulseAudio, or
// PipeWire serving the same protocol).
//
// Play devices are the server's sinks and record devices its sources,
// monitors of sinks included; entry 0 of each list is the server's default
// device, the others follow in the server's order, real inputs before
// monitors (a monitor records the program's own output). Playing is one stereo
// float stream fed by the band-limited TablePlayer with software level and
// balance (PulsePlayStream); recording is one stream of which each block
// keeps only what was captured after it began (PulseRecordStream). Both run
// at their device's own rate, so the server converts nothing: the player
// renders at the sink's rate, and a source at another rate than 44100 Hz is
// converted to it here. Each listed device carries its rate.
//
// The log sweep's duplex run (playAndRecord) opens a stream of each kind of
// its own on the devices in use and releases them at its end; the looping
// table is stopped meanwhile and its streams stay open. It runs at the
// devices' common rate when they have one, nothing converted anywhere;
// otherwise at 44100 Hz, its signal converted here to the sink's rate and
// the recording from the source's, by RateConverter (flat to 20 kHz,
// timing exact: the converters' delays are taken out). The sweep is
// uncorked only once PreRollFrames have been recorded, so the recording
// holds the whole signal, the latency and some silence before it.
// The sweep's stream begins with LeadInMs of silence: what a rewinding
// sink loses of a new stream's start (its monitor ran ahead) is silence,
// never the sweep.
//
// The live capture (startCapture) is a record stream of its own on the record
// device in use (PulseLiveStream), mixed to mono here, at the source's own
// rate; the block record stream pauses while it runs. It runs alongside the
// play stream (PlayLoop, playPeriod) but never with a block or a duplex run:
// each refuses the others with BusyError (Failure::Busy). Opening a record
// device, closeAudio() and a lost server end it. playPeriod() loops its
// period through the play stream's player at the sink's rate.
//
// When the server goes away, the operation in progress fails with a text and
// nothing hangs. The next open, initAudio() or followDevices() connects
// again, so a restarted server is used without restarting the program.
//
// Threads: every method runs on the UI thread (the SoundDevice contract). The
// streams' callbacks run on the server's thread; see the stream classes.
//
// Waits: connecting, listing and opening poll the server and run the wait
// hook in between; one call of these takes at most PulseContext::TimeoutMs
// in all. A call made from inside the hook (a handler of the program) that
// needs the server (an open, a listing, PlayLoop, RecordBlock) is refused
// with BusyError; closeAudio and followDevices then do nothing. The setters
// and StopPlayback, which only store values or send a request, always act.
#pragma once

#include "devices/PulseCaptureStream.h"
#include "devices/PulseContext.h"
#include "devices/PulseLiveStream.h"
#include "devices/PulseOncePlayStream.h"
#include "devices/PulsePlayStream.h"
#include "devices/PulseRecordStream.h"
#include "devices/SoundDevice.h"

#include <chrono>
#include <string>
#include <vector>

namespace audimera {

class PulseSoundDevice : public SoundDevice {
public:
    // What playAndRecord() records at least before it lets the sweep play,
    // in frames at 44100 Hz (the same time at the source's rate).
    static constexpr int PreRollFrames = 441; // 10 ms
    static constexpr int PreRollWaitMs = 200; // then the sweep starts without it
    // Silence the sweep's play stream plays before the sweep itself, in ms:
    // more than a monitor can have delivered ahead of its sink when the
    // sink rewinds for the new stream (about half the capture stream's
    // fragment, 20 ms; see runDuplex). It is part of the measured delay.
    static constexpr int LeadInMs = 50;
    // What a call refused while another one waits for the server returns.
    static constexpr const char* BusyError = "The sound device is busy with another request";
    // Why a device in use is reported lost when it is no longer listed.
    static constexpr const char* GoneError = "The device is no longer on the sound server";

    // server: a server string such as "unix:/tmp/x/native"; empty for the
    // user's default server. Nothing is connected before initAudio() or an
    // open.
    explicit PulseSoundDevice(std::string server = {});
    ~PulseSoundDevice() override;
    PulseSoundDevice(const PulseSoundDevice&) = delete;
    PulseSoundDevice& operator=(const PulseSoundDevice&) = delete;

    // SoundDevice. initAudio() connects first: no server is fatal ("No sound
    // server reachable: " and the reason as the cause), and so is a server
    // that does not list its devices. The lists are those of the last
    // initAudio() or refreshDevices(); open picks its entry by the device's
    // name.
    audimera::Status initAudio() override;
    std::vector<SoundDeviceInfo> playDevices() override;
    std::vector<SoundDeviceInfo> recordDevices() override;
    audimera::Status openOutputDevice(int index) override;
    audimera::Status openInputDevice(int index) override;
    int outputDevice() const override { return m_output; }
    int inputDevice() const override { return m_input; }
    void closeAudio() override;
    int outputDeviceRate() const override { return m_play.streamRate(); }
    int inputDeviceRate() const override { return m_record.streamRate(); }
    DeviceChanges followDevices() override;
    void setWaitHook(std::function<void()> hook) override { m_pulse.setWaitHook(std::move(hook)); }
    std::string serverName() const override { return m_pulse.serverName(); }
    void StopPlayback() override;
    audimera::Status PlayLoop(const int16_t* table, int rate) override;
    void SetPlayRate(int rate) override;
    void SetPlayVolume(int volume) override;
    void SetPlayPan(int pan) override;
    audimera::Result<Recorded> RecordBlock(int16_t* buffer, RecordWaiter& waiter) override;
    // The rate of the open play stream when the record stream runs at it
    // too, else SampleRate.
    int duplexRate() const override;
    // Fails as RecordBlock does (the server gone: within StallMs at most),
    // and with LostSamplesError when the sweep's stream ran dry before the
    // whole signal was handed over, the recording has a hole, or it holds a
    // dropout (Dropout::find), which a server may leave without saying so,
    // or digital silence to its end that begins before the signal can have
    // ended there (a sink muted or suspended mid-run).
    // The stepped sweep's streams pause meanwhile. Refused
    // with BusyError inside a wait, and calls of this device made from the
    // waiter's handlers that would wait are refused meanwhile.
    InputLevels lastInputLevels() const override { return m_inputLevels; }
    // Left or Right reopens the record device in stereo (Mix in mono again)
    // and RecordBlock takes that input; refused while busy.
    audimera::Status setRecordInput(RecordChannel channel) override;
    audimera::Result<Recorded> playAndRecord(const DuplexRequest& request, std::vector<float>& recorded,
                                             RecordWaiter& waiter) override;
    // Live capture. readCapture() also fails (and ends the capture) when
    // nothing has arrived for PulseRecordStream::StallMs (a stalled server).
    audimera::Status startCapture(RecordChannel channel) override;
    audimera::Result<CaptureRead> readCapture(std::vector<float>& out) override;
    void stopCapture() override;
    bool capturing() const override { return m_live.isOpen(); }
    int captureRate() const override { return capturing() ? m_captureRate : inputDeviceRate(); }
    // Frames the capture keeps (the ring's size); 0 when none runs.
    std::size_t captureCapacity() const { return m_live.capacity(); }
    audimera::Status playPeriod(const std::vector<float>& period) override;

    // Whether a server answers at server (empty: the default); the error is
    // "No sound server reachable: " and the reason.
    static audimera::Status probeServer(const std::string& server = {});

    // Asks the server for its devices again (connecting when needed), for
    // when devices came or went; the devices in use keep their entries by
    // name.
    audimera::Status refreshDevices();

    // Opens a record device with 1 or 2 channels; with 2, RecordBlock and
    // recordSamples() return interleaved left/right samples (used to check
    // the balance).
    audimera::Status openInputDevice(int index, int channels);
    // Records samples interleaved samples into buffer, all captured after
    // the call began; RecordBlock is this with RecordSamples.
    audimera::Result<Recorded> recordSamples(int16_t* buffer, int samples, RecordWaiter& waiter);

    // State as the device sees it.
    bool isConnected() const { return m_pulse.isReady(); }
    bool isPlaying() const { return m_play.isPlaying(); }
    int playRate() const { return m_play.rate(); }
    int volume() const { return m_play.volume(); }
    int pan() const { return m_play.pan(); }
    // Samples of the block being recorded that have arrived so far.
    int recordedSoFar() const { return m_record.collected(); }

    // Test hook: while held, the server's thread can neither take in what
    // the server sends nor send anything (the calling thread keeps the
    // mainloop lock), as on a machine too busy to run it; sound piles up on
    // its way. The lock is recursive: this thread's calls still go through,
    // but those that wait for an answer time out. UI thread.
    void holdServerThread(bool hold);

private:
    // One call that may wait for the server; refused when another is in
    // progress. Its waits share one time limit.
    class Busy;

    // Connects, dropping the streams of a context that has died first.
    audimera::Status ensureConnected();
    // The unguarded work of the public calls of the same names.
    audimera::Status refresh();
    audimera::Status openOutput(int index);
    audimera::Status openInput(int index, int channels);
    // RecordBlock with Left or Right: a stereo block, one input of it kept.
    audimera::Result<Recorded> recordOneInput(int16_t* buffer, RecordWaiter& waiter);
    // What a failed open of device says, with the reason on a second line.
    static audimera::Error outputError(const SoundDeviceInfo& device, const std::string& reason);
    static audimera::Error inputError(const SoundDeviceInfo& device, const std::string& reason);

    // playAndRecord() once the request is checked; the run's streams are
    // closed when it returns.
    audimera::Result<Recorded> runDuplex(const DuplexRequest& request, std::vector<float>& recorded,
                                         RecordWaiter& waiter);

    PulseContext m_pulse;
    PulsePlayStream m_play;
    PulseRecordStream m_record;
    // The duplex run's streams: open only while it runs.
    PulseOncePlayStream m_sweepPlay;
    PulseCaptureStream m_sweepRecord;
    // The live capture: open only while it runs.
    PulseLiveStream m_live;
    int m_captureRate = 0;
    std::chrono::steady_clock::time_point m_lastCapture; // when frames last arrived
    bool m_blockRecording = false; // inside RecordBlock
    std::vector<SoundDeviceInfo> m_playDevices;
    std::vector<SoundDeviceInfo> m_recordDevices;
    int m_output = -1;
    int m_input = -1;
    bool m_busy = false;
    InputLevels m_inputLevels; // of the last duplex run or stereo block
    RecordChannel m_recordChannel = RecordChannel::Mix;
    std::vector<int16_t> m_stereoBlock; // a stereo block for Left and Right
    unsigned m_seenEvents = 0; // the server's device events already followed
    bool m_holding = false;
};

} // namespace audimera
