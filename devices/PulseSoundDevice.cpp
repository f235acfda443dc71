#include "devices/PulseSoundDevice.h"

#include "signal/Dropout.h"
#include "signal/RateConverter.h"

#include <algorithm>
#include <cmath>
#include <chrono>
#include <optional>
#include <utility>

namespace audimera {

using audimera::Error;
using audimera::Result;
using audimera::Status;

namespace {

constexpr const char* NoServer = "No sound server reachable: ";

// outputs samples of in (count samples, stride apart) converted from rate
// from to rate to, aligned: input sample n lands on output n * to / from.
// Zeros follow the input as far as the kernel reaches. UI thread (allocates).
std::vector<float> convertAligned(const float* in, size_t count, size_t stride, int from, int to, size_t outputs)
{
    RateConverter converter(from, to);
    const size_t delay = size_t(converter.delay());
    std::vector<float> input(size_t(converter.inputNeeded(int64_t(delay + outputs))), 0.0f);
    for (size_t i = 0; i < std::min(count, input.size()); ++i)
        input[i] = in[i * stride];
    std::vector<float> output(size_t(converter.maxOutputs(int(input.size()))));
    const size_t written = size_t(converter.process(input.data(), int(input.size()), output.data()));
    output.resize(std::max(written, delay + outputs), 0.0f);
    return std::vector<float>(output.begin() + std::ptrdiff_t(delay),
                              output.begin() + std::ptrdiff_t(delay + outputs));
}

int indexOf(const std::vector<SoundDeviceInfo>& devices, const std::string& name)
{
    for (size_t i = 0; i < devices.size(); ++i)
        if (devices[i].name == name)
            return int(i);
    return -1;
}

} // namespace

class PulseSoundDevice::Busy {
public:
    explicit Busy(PulseSoundDevice& device) : m_device(device), m_refused(device.m_busy)
    {
        if (m_refused)
            return;
        m_device.m_busy = true;
        m_action.emplace(m_device.m_pulse);
    }
    ~Busy()
    {
        if (!m_refused)
            m_device.m_busy = false;
    }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;
    bool refused() const { return m_refused; }

private:
    PulseSoundDevice& m_device;
    bool m_refused;
    std::optional<PulseContext::Action> m_action;
};

PulseSoundDevice::PulseSoundDevice(std::string server)
    : m_pulse(std::move(server)),
      m_play(m_pulse),
      m_record(m_pulse),
      m_sweepPlay(m_pulse),
      m_sweepRecord(m_pulse),
      m_live(m_pulse)
{
}

PulseSoundDevice::~PulseSoundDevice()
{
    closeAudio();
}

Status PulseSoundDevice::probeServer(const std::string& server)
{
    PulseContext pulse(server);
    if (Status connected = pulse.connect(); !connected)
        return Error{NoServer + connected.message()};
    return {};
}

Error PulseSoundDevice::outputError(const SoundDeviceInfo& device, const std::string& reason)
{
    return Error{"Error opening output device '" + device.description
                 + "' or no real time frequency support, try another device in settings menu\n" + reason};
}

Error PulseSoundDevice::inputError(const SoundDeviceInfo& device, const std::string& reason)
{
    return Error{"Error opening input device '" + device.description + "', try another device in settings menu\n"
                 + reason};
}

Status PulseSoundDevice::ensureConnected()
{
    if (m_pulse.isReady())
        return {};
    // Streams of a dead context go with it.
    m_play.close();
    m_record.close();
    m_sweepPlay.close();
    m_sweepRecord.close();
    m_live.close();
    m_output = -1;
    m_input = -1;
    return m_pulse.connect();
}

Status PulseSoundDevice::refresh()
{
    if (Status connected = ensureConnected(); !connected)
        return connected;
    const std::string output = m_output >= 0 ? m_playDevices[size_t(m_output)].name : std::string();
    const std::string input = m_input >= 0 ? m_recordDevices[size_t(m_input)].name : std::string();
    // Whatever the server announced before the question is in the answer.
    const unsigned events = m_pulse.deviceEvents();
    std::vector<SoundDeviceInfo> play, record;
    if (Status listed = m_pulse.listDevices(play, record); !listed)
        return listed;
    m_seenEvents = events;
    m_playDevices = std::move(play);
    m_recordDevices = std::move(record);
    // The entries in use follow their devices (-1 once one is not listed).
    if (m_output >= 0)
        m_output = indexOf(m_playDevices, output);
    if (m_input >= 0)
        m_input = indexOf(m_recordDevices, input);
    return {};
}

Status PulseSoundDevice::refreshDevices()
{
    Busy busy(*this);
    if (busy.refused())
        return Error{BusyError};
    return refresh();
}

Status PulseSoundDevice::initAudio()
{
    Busy busy(*this);
    if (busy.refused())
        return Error{BusyError};
    if (Status connected = ensureConnected(); !connected)
        return noSoundCard(NoServer + connected.message());
    if (Status listed = refresh(); !listed)
        return noSoundCard("The sound server did not list its devices: " + listed.message());
    if (Status lists = requireDevices(m_playDevices, m_recordDevices); !lists)
        return lists;
    if (Status output = openOutput(0); !output)
        return output;
    return openInput(0, 1);
}

std::vector<SoundDeviceInfo> PulseSoundDevice::playDevices()
{
    return m_playDevices;
}

std::vector<SoundDeviceInfo> PulseSoundDevice::recordDevices()
{
    return m_recordDevices;
}

Status PulseSoundDevice::openOutputDevice(int index)
{
    Busy busy(*this);
    if (busy.refused())
        return Error{BusyError};
    return openOutput(index);
}

Status PulseSoundDevice::openOutput(int index)
{
    if (index < 0 || index >= int(m_playDevices.size()))
        return Error{"There is no play device number " + std::to_string(index)};
    const SoundDeviceInfo device = m_playDevices[size_t(index)];
    Status opened = ensureConnected();
    if (opened)
        opened = m_play.open(device.name);
    if (!opened)
        return outputError(device, opened.message());
    m_output = index;
    return {};
}

Status PulseSoundDevice::openInputDevice(int index)
{
    return openInputDevice(index, m_recordChannel == RecordChannel::Mix ? 1 : 2);
}

Status PulseSoundDevice::setRecordInput(RecordChannel channel)
{
    const int channels = channel == RecordChannel::Mix ? 1 : 2;
    if (m_input >= 0 && m_record.isOpen() && m_record.channels() != channels)
        if (Status opened = openInputDevice(m_input, channels); !opened)
            return opened;
    m_recordChannel = channel;
    m_stereoBlock.resize(channels == 2 ? size_t(2 * RecordSamples) : 0);
    return {};
}

Status PulseSoundDevice::openInputDevice(int index, int channels)
{
    Busy busy(*this);
    if (busy.refused())
        return Error{BusyError};
    return openInput(index, channels);
}

Status PulseSoundDevice::openInput(int index, int channels)
{
    if (index < 0 || index >= int(m_recordDevices.size()))
        return Error{"There is no record device number " + std::to_string(index)};
    const SoundDeviceInfo device = m_recordDevices[size_t(index)];
    stopCapture(); // it recorded the device in use
    Status opened = ensureConnected();
    if (opened)
        opened = m_record.open(device.name, channels);
    if (!opened)
        return inputError(device, opened.message());
    m_input = index;
    return {};
}

void PulseSoundDevice::closeAudio()
{
    // Inside a wait the server's thread is still in use; the caller closes
    // once the wait has returned.
    if (m_busy)
        return;
    // The streams go before a hold ends: nothing of theirs reaches the
    // server's thread after.
    m_play.close();
    m_record.close();
    m_sweepPlay.close();
    m_sweepRecord.close();
    m_live.close();
    holdServerThread(false);
    m_pulse.disconnect();
    m_output = -1;
    m_input = -1;
}

DeviceChanges PulseSoundDevice::followDevices()
{
    DeviceChanges changes;
    changes.output = m_output;
    changes.input = m_input;
    // Never connected, or closed: there is nothing to follow.
    if (!m_pulse.hasMainloop())
        return changes;
    Busy busy(*this);
    if (busy.refused())
        return changes;
    if (m_pulse.isReady() && m_pulse.deviceEvents() == m_seenEvents)
        return changes;

    // What is in use, by name: the lists are about to change under it.
    const std::optional<SoundDeviceInfo> output =
        m_output >= 0 ? std::optional(m_playDevices[size_t(m_output)]) : std::nullopt;
    const std::optional<SoundDeviceInfo> input =
        m_input >= 0 ? std::optional(m_recordDevices[size_t(m_input)]) : std::nullopt;
    const bool outputWorks = output && m_play.status().ok();
    const bool inputWorks = input && !m_record.hasFailed();
    const int channels = m_record.channels();
    const std::vector<SoundDeviceInfo> play = m_playDevices;
    const std::vector<SoundDeviceInfo> record = m_recordDevices;

    // Reconnects after the server died; its streams are gone then.
    const Status listed = refresh();
    if (!listed && m_pulse.isReady())
        return changes; // connected but not listed: the events stay unseen, tried again later
    changes.listed = play != m_playDevices || record != m_recordDevices;
    changes.changed = changes.listed;

    // A device in use that failed or left its entry is opened again by name;
    // entry is where it is now, -1 when it could not be.
    auto reopen = [&](const std::vector<SoundDeviceInfo>& devices, const SoundDeviceInfo& device, int& entry,
                      auto open) -> Status {
        const int index = listed ? indexOf(devices, device.name) : -1;
        const Status opened = !listed ? listed : index < 0 ? Status(Error{GoneError}) : open();
        entry = opened ? index : -1;
        return opened;
    };
    if (output && (!outputWorks || m_output < 0)) {
        const Status reopened = reopen(m_playDevices, *output, m_output, [&] { return m_play.open(output->name); });
        if (reopened) {
            changes.outputReopened = true;
        } else {
            m_play.close();
            changes.outputLost = outputError(*output, reopened.message()).message;
        }
        changes.changed = true;
    }
    if (input && (!inputWorks || m_input < 0)) {
        const Status reopened =
            reopen(m_recordDevices, *input, m_input, [&] { return m_record.open(input->name, channels); });
        if (!reopened) {
            m_record.close();
            changes.inputLost = inputError(*input, reopened.message()).message;
        }
        changes.changed = true;
    }
    changes.output = m_output;
    changes.input = m_input;
    return changes;
}

void PulseSoundDevice::StopPlayback()
{
    if (m_play.isOpen())
        m_play.stop();
}

Status PulseSoundDevice::PlayLoop(const int16_t* table, int rate)
{
    if (m_busy)
        return Error{BusyError};
    return m_play.playLoop(table, rate);
}

void PulseSoundDevice::SetPlayRate(int rate)
{
    if (m_play.isOpen())
        m_play.setRate(rate);
}

void PulseSoundDevice::SetPlayVolume(int volume)
{
    if (m_play.isOpen())
        m_play.setVolume(volume);
}

void PulseSoundDevice::SetPlayPan(int pan)
{
    if (m_play.isOpen())
        m_play.setPan(pan);
}

Result<Recorded> PulseSoundDevice::RecordBlock(int16_t* buffer, RecordWaiter& waiter)
{
    if (capturing() || m_blockRecording)
        return Error::of(audimera::Failure::Busy, BusyError);
    struct Block {
        bool& flag;
        explicit Block(bool& f) : flag(f) { flag = true; }
        ~Block() { flag = false; }
    } block{m_blockRecording};
    // A block is only worth anything while the tone it measures plays: a
    // play device that has gone (unplugged, its module unloaded) fails the
    // block too, before or after it is recorded.
    auto playing = [&]() -> Status {
        if (!m_play.isOpen())
            return {};
        if (Status works = m_play.status(); !works)
            return Error{"The play device failed: " + works.message()};
        return {};
    };
    if (Status before = playing(); !before)
        return before.error();
    // A tone just stopped: the block starts once the server has dropped
    // what was queued of it, or some of it may still reach the block.
    if (m_play.isOpen() && !m_play.awaitFlush(waiter))
        return Recorded::Cancelled;
    const bool mono = m_recordChannel == RecordChannel::Mix || m_record.channels() != 2;
    if (mono)
        m_inputLevels = {}; // not measured on a mono block
    Result<Recorded> result = mono ? recordSamples(buffer, RecordSamples, waiter) : recordOneInput(buffer, waiter);
    if (result && *result == Recorded::Complete)
        if (Status after = playing(); !after)
            return after.error();
    return result;
}

Result<Recorded> PulseSoundDevice::recordOneInput(int16_t* buffer, RecordWaiter& waiter)
{
    Result<Recorded> result = recordSamples(m_stereoBlock.data(), 2 * RecordSamples, waiter);
    if (!result || *result != Recorded::Complete)
        return result;
    double energy[2] = {0.0, 0.0};
    const int taken = m_recordChannel == RecordChannel::Left ? 0 : 1;
    for (int i = 0; i < RecordSamples; ++i) {
        for (int c = 0; c < 2; ++c) {
            const double x = m_stereoBlock[size_t(2 * i + c)] / 32768.0;
            energy[c] += x * x;
        }
        buffer[i] = m_stereoBlock[size_t(2 * i + taken)];
    }
    const auto db = [](double e) { return e > 0.0 ? 10.0 * std::log10(e / RecordSamples) : -400.0; };
    m_inputLevels = {true, db(energy[0]), db(energy[1])};
    return result;
}

Result<Recorded> PulseSoundDevice::recordSamples(int16_t* buffer, int samples, RecordWaiter& waiter)
{
    if (m_busy)
        return Error{BusyError};
    return m_record.record(buffer, samples, waiter);
}

void PulseSoundDevice::holdServerThread(bool hold)
{
    if (hold == m_holding || !m_pulse.hasMainloop())
        return;
    m_holding = hold;
    // The mainloop's lock is recursive: this thread's own calls still work.
    if (hold)
        m_pulse.lockMainloop();
    else
        m_pulse.unlockMainloop();
}

Status PulseSoundDevice::startCapture(RecordChannel channel)
{
    Busy busy(*this);
    if (busy.refused() || m_blockRecording || capturing())
        return Error::of(audimera::Failure::Busy, BusyError);
    if (m_input < 0 || !m_record.isOpen())
        return Error::of(audimera::Failure::Device, "No record device is open");
    const int rate = m_record.streamRate();
    if (Status opened = m_live.open(m_recordDevices[size_t(m_input)].name, rate, channel); !opened)
        return Error::of(audimera::Failure::Device, "The record device failed: " + opened.message());
    m_captureRate = rate;
    m_lastCapture = std::chrono::steady_clock::now();
    // A second record stream of one program on the same source may be held
    // back by PipeWire while the first runs (see runDuplex).
    m_record.pause(true);
    return {};
}

Result<CaptureRead> PulseSoundDevice::readCapture(std::vector<float>& out)
{
    if (!capturing())
        return Error::of(audimera::Failure::Device, "No capture is running");
    const auto now = std::chrono::steady_clock::now();
    std::string failed;
    if (Status works = m_live.status(); !works)
        failed = works.message();
    CaptureRead read;
    if (failed.empty()) {
        const PulseLiveStream::Taken taken = m_live.read(out);
        read = {taken.frames, taken.gap};
        if (taken.frames > 0 || taken.gap)
            m_lastCapture = now;
        else if (now - m_lastCapture >= std::chrono::milliseconds(PulseRecordStream::StallMs))
            failed = PulseRecordStream::StalledError;
    }
    if (!failed.empty()) {
        stopCapture();
        return Error::of(audimera::Failure::Device, failed);
    }
    return read;
}

void PulseSoundDevice::stopCapture()
{
    if (!capturing())
        return;
    m_live.close();
    m_record.pause(false);
}

Status PulseSoundDevice::playPeriod(const std::vector<float>& period)
{
    if (m_busy)
        return Error::of(audimera::Failure::Busy, BusyError);
    if (m_output < 0 || !m_play.isOpen())
        return Error::of(audimera::Failure::Device, "No play device is open");
    return m_play.playPeriod(period);
}

int PulseSoundDevice::duplexRate() const
{
    const int play = m_play.streamRate();
    return play > 0 && play == m_record.streamRate() ? play : SampleRate;
}

Result<Recorded> PulseSoundDevice::playAndRecord(const DuplexRequest& request, std::vector<float>& recorded,
                                                 RecordWaiter& waiter)
{
    Busy busy(*this);
    if (busy.refused())
        return Error{BusyError};
    if (capturing())
        return Error::of(audimera::Failure::Busy, BusyError);
    if (m_output < 0 || !m_play.isOpen())
        return Error{"No play device is open"};
    if (m_input < 0 || !m_record.isOpen())
        return Error{"No record device is open"};
    if (Status fits = checkRequest(request, duplexRate()); !fits)
        return fits.error();
    m_play.stop();
    return runDuplex(request, recorded, waiter);
}

Result<Recorded> PulseSoundDevice::runDuplex(const DuplexRequest& request, std::vector<float>& recorded,
                                             RecordWaiter& waiter)
{
    using Channels = DuplexRequest::Channels;
    const int rate = request.rate;
    const int sinkRate = m_play.streamRate();
    const int sourceRate = m_record.streamRate();
    const size_t channels = size_t(request.recordChannels);
    const size_t frames = request.recordFrames;

    // The signal as the sink plays it: at its rate, on the channels asked.
    const std::vector<float> mono =
        sinkRate == rate ? std::vector<float>(request.play, request.play + request.playFrames)
                         : convertAligned(request.play, request.playFrames, 1, rate, sinkRate,
                                          size_t((uint64_t(request.playFrames) * uint64_t(sinkRate) + uint64_t(rate) - 1)
                                                 / uint64_t(rate)));
    const float left = request.playChannels == Channels::Right ? 0.0f : 1.0f;
    const float right = request.playChannels == Channels::Left ? 0.0f : 1.0f;
    // The signal comes after LeadInMs of silence of the stream's own. A sink
    // that renders ahead and rewinds (a PulseAudio null sink without
    // norewinds=1) starts a new stream at once, inside what its monitor has
    // already delivered: that much of the stream's start never reaches the
    // recording, and it is silence, not the signal.
    const size_t leadIn = size_t((int64_t(LeadInMs) * sinkRate + 500) / 1000);
    std::vector<float> played((leadIn + mono.size()) * 2, 0.0f);
    for (size_t i = 0; i < mono.size(); ++i) {
        played[2 * (leadIn + i)] = mono[i] * left;
        played[2 * (leadIn + i) + 1] = mono[i] * right;
    }

    // The recording, at the source's rate, always in stereo: a mono run
    // takes the mean of the two channels here, because sound servers mix
    // differently (PipeWire mixes a stereo source into a mono stream 3 dB
    // louder than PulseAudio does) and the log sweep reads levels re the
    // played one. A mono source comes up as two equal channels. Enough of it
    // to convert from afterwards when the source's rate is not the run's.
    constexpr size_t CaptureChannels = 2;
    recorded.assign(frames * channels, 0.0f);
    size_t captureFrames = frames;
    if (sourceRate != rate) {
        const RateConverter converter(sourceRate, rate);
        captureFrames = size_t(converter.inputNeeded(int64_t(size_t(converter.delay()) + frames)));
    }
    std::vector<float> captured(captureFrames * CaptureChannels, 0.0f);
    float* target = captured.data();
    // The stepped sweep's streams pause until the sweep's are closed.
    // PipeWire on a busy machine held a second record stream of one program
    // on the same source back for seconds while the first one ran, and the
    // looping stream's short buffer keeps the server's cycle short, so the
    // sweep's streams would skip more often.
    struct Pause {
        PulseStream& play;
        PulseStream& record;
        Pause(PulseStream& p, PulseStream& r) : play(p), record(r)
        {
            play.pause(true);
            record.pause(true);
        }
        ~Pause()
        {
            record.pause(false);
            play.pause(false);
        }
    } pause{m_play, m_record};

    // The streams' callbacks read played and write target: the streams go
    // before the buffers, however this returns.
    struct Closer {
        PulseSoundDevice& device;
        ~Closer()
        {
            device.m_sweepPlay.close();
            device.m_sweepRecord.close();
        }
    } closer{*this};

    const std::string& sink = m_playDevices[size_t(m_output)].name;
    const std::string& source = m_recordDevices[size_t(m_input)].name;
    if (Status opened = m_sweepRecord.open(source, sourceRate, int(CaptureChannels)); !opened)
        return Error{"The record device failed: " + opened.message()};
    if (Status opened = m_sweepPlay.open(sink, sinkRate, played.data(), leadIn + mono.size()); !opened)
        return Error{"The play device failed: " + opened.message()};
    // Recording first, and some of it in before the sweep starts: a sink
    // that renders in blocks would otherwise put the sweep's first sample
    // on the recording's first, with nothing before it.
    m_sweepRecord.arm(target, captureFrames);
    const size_t preRoll =
        std::min(captureFrames, size_t((int64_t(PreRollFrames) * sourceRate + SampleRate - 1) / SampleRate));
    bool started = false;

    using Clock = std::chrono::steady_clock;
    const auto armed = Clock::now();
    auto lastArrival = armed;
    size_t lastCollected = 0;
    for (;;) {
        const size_t collected = m_sweepRecord.collected();
        if (m_sweepRecord.lostSamples() || m_sweepPlay.underflowed())
            return Error{LostSamplesError};
        // A server may hold a monitor's sound back until its sink plays
        // (PipeWire on a busy machine): after PreRollWaitMs without the
        // pre-roll the sweep starts anyway; its leading fade and the
        // devices' latency still put silence before it.
        if (!started && (collected >= preRoll || Clock::now() - armed >= std::chrono::milliseconds(PreRollWaitMs))) {
            if (Status playing = m_sweepPlay.start(); !playing)
                return Error{"The play device failed: " + playing.message()};
            started = true;
        }
        if (collected >= captureFrames && started)
            break;
        if (Status works = m_sweepRecord.status(); !works)
            return works.error();
        if (Status works = m_sweepPlay.status(); !works)
            return works.error();
        const auto now = Clock::now();
        if (collected != lastCollected) {
            lastCollected = collected;
            lastArrival = now;
        } else if (now - lastArrival >= std::chrono::milliseconds(PulseRecordStream::StallMs)) {
            return Error{PulseRecordStream::StalledError};
        }
        if (request.progress)
            request.progress(double(collected) / double(captureFrames));
        if (!waiter.waitOnce())
            return Recorded::Cancelled;
    }
    m_sweepRecord.disarm();
    if (request.progress)
        request.progress(1.0);
    // The server may also have lost sound without saying so: a stretch of
    // digital silence in the middle of the sweep.
    if (m_sweepPlay.underflowed() || Dropout::find(captured.data(), captureFrames, CaptureChannels))
        return Error{LostSamplesError};
    // Or digital silence to the end that begins before the signal can have
    // ended in the recording (a sink muted or suspended mid-run; PipeWire
    // leaves zeros): the signal's last sound is handed over at stream frame
    // leadIn + its length and reaches the recording no earlier than its
    // length, since a rewinding sink takes at most the lead-in. A recording
    // silent throughout is left to the analysis (nothing came back).
    {
        size_t lastSound = mono.size();
        while (lastSound > 0 && mono[lastSound - 1] == 0.0f)
            --lastSound;
        const auto signalEnd = size_t(uint64_t(lastSound) * uint64_t(sourceRate) / uint64_t(sinkRate));
        size_t zeros = captureFrames;
        while (zeros > 0 && captured[CaptureChannels * (zeros - 1)] == 0.0f
               && captured[CaptureChannels * (zeros - 1) + 1] == 0.0f)
            --zeros;
        if (zeros > 0 && zeros < signalEnd)
            return Error{LostSamplesError};
    }

    // Record channel: both inputs' levels, then the input(s) a mono run takes.
    m_inputLevels = InputLevels::measure(captured.data(), captureFrames);
    if (channels == 1) {
        const float wl = request.recordChannel == RecordChannel::Right ? 0.0f
                         : request.recordChannel == RecordChannel::Left ? 1.0f : 0.5f;
        const float wr = request.recordChannel == RecordChannel::Left ? 0.0f
                         : request.recordChannel == RecordChannel::Right ? 1.0f : 0.5f;
        for (size_t i = 0; i < captureFrames; ++i)
            captured[i] = wl * captured[2 * i] + wr * captured[2 * i + 1];
        captured.resize(captureFrames);
    }
    // End of record channel.
    if (sourceRate == rate) {
        std::copy(captured.begin(), captured.begin() + std::ptrdiff_t(frames * channels), recorded.begin());
    } else {
        for (size_t c = 0; c < channels; ++c) {
            const std::vector<float> converted =
                convertAligned(captured.data() + c, captureFrames, channels, sourceRate, rate, frames);
            for (size_t i = 0; i < frames; ++i)
                recorded[i * channels + c] = converted[i];
        }
    }
    return Recorded::Complete;
}

} // namespace audimera
