// A sound card that needs no hardware, for tests, demos and the headless
// command: its output is looped back to its input through a SoundChain.
//
// Playback goes through the same band-limited TablePlayer as the real card,
// then volume and pan, then the chain; the recorded channel (left unless
// chosen otherwise) is rounded to 16 bits (halves to even, saturating).
// Time is simulated: the stream advances only while RecordBlock runs, which
// returns the next RecordSamples samples at once instead of in real time. A
// stopped player gives silence, to which the chain still applies (noise...).
//
// RecordBlock calls waiter.waitOnce() waitsPerBlock() times (1 unless set),
// generating an equal share of the block after each call, so what the
// handlers run inside a wait change (level, rate, stop) acts on the rest of
// the block; it gives up with Cancelled as soon as a wait returns false.
//
// playAndRecord(), the log sweep's play-once run, also happens at once, at
// 44100 Hz (duplexRate()), with no 16-bit rounding:
// - Output channel c carries the request's signal when its playChannels
//   include c, silence otherwise; the looping table's level and balance do
//   not apply.
// - The card's own latency, duplexLatency() frames (DuplexLatencyFrames
//   unless set), delays every record channel: with an empty chain the first
//   played sample is recorded at that frame, silence before it.
// - A mono recording hears output channel recordChannel() through the
//   chain (on both inputs, or on one with the chain's input item; the
//   request's recordChannel takes their mean or one of them), which starts each run from a clean state (so runs repeat
//   exactly). In a stereo one, the reference channel hears its own output
//   channel directly, as through a cable (its only delay the latency), and
//   the other channel hears its output channel through the chain. The
//   reference is the chain's refchannel item when it has one, else
//   setReferenceChannel() (Right unless set); refchannel=none leaves the
//   reference channel silent, as an unplugged cable would.
// - A drift item in the chain (a record clock apart from the play clock)
//   applies to both record channels, as they share the record clock; see
//   SoundChain for its sign.
// - The recording is clamped to +-1.0, the converter's full scale, so a
//   signal too loud for the card shows as clipping.
// - It waits, yields and gives up like RecordBlock (waitsPerBlock() waits,
//   an equal share of the recording after each, then the progress); the
//   hooks below act on it as on RecordBlock, and loseSamplesAt() makes it
//   lose samples.
//
// The live capture (startCapture) also runs in simulated time: each
// readCapture() returns the next captureStretch() frames (10 ms at
// captureRate(), 44100 Hz, unless set) of the stream RecordBlock records
// (the looping table or playPeriod()'s period, level and balance, the chain,
// the recorded channel), as floats, full scale 1.0, not rounded to 16 bits;
// the channel chosen takes the inputs as RecordBlock's record input does.
// No gap unless skipCapture() makes one. RecordBlock and playAndRecord()
// are refused (Busy) while it runs, and it is refused during them.
// playPeriod() loops its period at 44100 Hz, the card's only rate.
//
// Both devices start closed, like a real card before the start sequence
// opens device 0 of each kind.
//
// Single-threaded: everything runs on the caller's thread.
#pragma once

#include "devices/SoundChain.h"
#include "devices/SoundDevice.h"
#include "signal/TablePlayer.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace audimera {

class SimulatedSoundCard : public SoundDevice {
public:
    enum class Channel { Left, Right };

    // One play and one record device, both named "simulated".
    SimulatedSoundCard();
    // Custom device lists, e.g. none or several, for menu tests.
    SimulatedSoundCard(std::vector<SoundDeviceInfo> playDevices, std::vector<SoundDeviceInfo> recordDevices);

    static SoundDeviceInfo defaultDevice() { return {"simulated", "Simulated sound card"}; }

    // SoundDevice
    std::vector<SoundDeviceInfo> playDevices() override;
    std::vector<SoundDeviceInfo> recordDevices() override;
    audimera::Status openOutputDevice(int index) override;
    audimera::Status openInputDevice(int index) override;
    int outputDevice() const override { return m_output; }
    int inputDevice() const override { return m_input; }
    void closeAudio() override;
    void StopPlayback() override;
    audimera::Status PlayLoop(const int16_t* table, int rate) override;
    void SetPlayRate(int rate) override;
    void SetPlayVolume(int volume) override;
    void SetPlayPan(int pan) override;
    audimera::Result<Recorded> RecordBlock(int16_t* buffer, RecordWaiter& waiter) override;
    int duplexRate() const override { return SampleRate; }
    InputLevels lastInputLevels() const override { return m_inputLevels; }
    // The input RecordBlock takes (see the chain's input item).
    audimera::Status setRecordInput(RecordChannel channel) override;
    audimera::Result<Recorded> playAndRecord(const DuplexRequest& request, std::vector<float>& recorded,
                                             RecordWaiter& waiter) override;
    audimera::Status startCapture(RecordChannel channel) override;
    audimera::Result<CaptureRead> readCapture(std::vector<float>& out) override;
    void stopCapture() override { m_capturing = false; }
    bool capturing() const override { return m_capturing; }
    audimera::Status playPeriod(const std::vector<float>& period) override;
    // Frames each readCapture() returns (at least 1).
    void setCaptureStretch(std::size_t frames) { m_captureStretch = frames < 1 ? 1 : frames; }
    std::size_t captureStretch() const { return m_captureStretch; }

    // What lies between output and input; replaces the chain and starts it
    // from a clean state.
    void setChain(SoundChain chain);
    const SoundChain& chain() const { return m_chain; }
    void setRecordChannel(Channel channel) { m_channel = channel; }
    Channel recordChannel() const { return m_channel; }
    void setWaitsPerBlock(int waits) { m_waitsPerBlock = waits < 0 ? 0 : waits; }
    int waitsPerBlock() const { return m_waitsPerBlock; }

    // The wiring of a stereo playAndRecord() (see above). referenceChannel()
    // is the one in effect, the chain's refchannel item first; with
    // refchannel=none it names the silent channel.
    void setReferenceChannel(Channel channel) { m_reference = channel; }
    Channel referenceChannel() const;
    bool referenceWired() const { return m_chain.reference() != SoundChain::Reference::None; }
    // The card's own latency in playAndRecord(), in frames at 44100 Hz.
    static constexpr int DuplexLatencyFrames = 256;
    void setDuplexLatency(int frames) { m_latency = frames < 0 ? 0 : frames; }
    int duplexLatency() const { return m_latency; }

    // Test hooks. failNextRecord: the next RecordBlock fails at once with
    // this text. failNextOpen: the next open of either kind fails with this
    // text. setStalled: no samples arrive; RecordBlock waits MaxStallWaits
    // times (about 2 s) and then fails with StalledError.
    void failNextRecord(const std::string& error) { m_recordFailure = error; }
    void failNextOpen(const std::string& error) { m_openFailure = error; }
    void setStalled(bool stalled) { m_stalled = stalled; }
    // The next playAndRecord() loses samples once its recording reaches
    // frame (having waited and reported progress up to there) and fails
    // with LostSamplesError.
    void loseSamplesAt(std::size_t frame) { m_loseAt = frame; }
    // The next readCapture() first skips frames frames of the stream and
    // reports a gap. failNextRecord() fails the next readCapture() too,
    // ending the capture; setStalled() makes reads return nothing.
    void skipCapture(std::size_t frames) { m_captureSkip = frames; }
    static constexpr int MaxStallWaits = 2000;
    static constexpr const char* StalledError = "No sound was recorded for 2 seconds";

    // State as the card sees it.
    bool isPlaying() const { return m_player.isPlaying(); }
    int playRate() const { return m_rate; } // as clamped
    int playLoopCount() const { return m_playLoops; }
    const std::vector<int16_t>& playTable() const { return m_table; } // as last given to PlayLoop
    int volume() const { return m_volume; }
    int pan() const { return m_pan; }
    int recordedBlocks() const { return m_recordedBlocks; }

private:
    // Appends count samples of the recorded stream to buffer.
    void generate(int16_t* buffer, int count);
    // Hands the next count samples of the recorded stream, from the chain
    // (16-bit scale), to take(x).
    template <typename Take>
    void pull(std::size_t count, Take take);
    double channelGain() const;
    // Records frames [from, to) of the playAndRecord() run of request.
    void generateDuplex(const DuplexRequest& request, std::vector<float>& recorded, std::size_t from,
                        std::size_t to);

    std::vector<SoundDeviceInfo> m_playDevices;
    std::vector<SoundDeviceInfo> m_recordDevices;
    int m_output = -1;
    int m_input = -1;

    TablePlayer m_player;
    std::vector<int16_t> m_table;
    int m_rate = SampleRate;
    int m_volume = 0;
    int m_pan = 0;
    int m_playLoops = 0;

    SoundChain m_chain;
    Channel m_channel = Channel::Left;
    int m_waitsPerBlock = 1;
    int m_recordedBlocks = 0;
    std::string m_recordFailure;
    std::string m_openFailure;
    bool m_stalled = false;
    Channel m_reference = Channel::Right;
    int m_latency = DuplexLatencyFrames;
    std::optional<std::size_t> m_loseAt;
    std::size_t m_chainInput = 0; // frames of the run fed to the chain so far

    bool m_capturing = false;
    bool m_blockRecording = false; // inside RecordBlock or playAndRecord()
    RecordChannel m_captureChannel = RecordChannel::Mix;
    std::size_t m_captureStretch = SampleRate / 100;
    std::size_t m_captureSkip = 0;

    std::vector<float> m_played;
    std::vector<double> m_stream;
    std::vector<double> m_carry; // what the chain gave beyond the last call (drift lengthens)
    // Record channel: the input RecordBlock takes; the two inputs' energy
    // and levels over the last block or duplex run.
    double blockInputGain(double x);
    InputLevels levelsSoFar() const;
    RecordChannel m_recordInput = RecordChannel::Mix;
    double m_inputEnergy[2] = {0.0, 0.0};
    std::size_t m_inputFrames = 0;
    InputLevels m_inputLevels;
};

} // namespace audimera
