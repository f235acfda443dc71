#include "devices/SimulatedSoundCard.h"

#include "common/Rounding.h"
#include "signal/ClockOffset.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace audimera {

using audimera::Error;
using audimera::Result;
using audimera::Status;

namespace {

// Samples generated per pass through the player and the chain.
constexpr int Chunk = 4096;

// Hundredths of a dB as an amplitude factor; -10000 and below are silence.
double attenuation(int hundredths)
{
    return hundredths <= -10000 ? 0.0 : std::pow(10.0, hundredths / 2000.0);
}

} // namespace

SimulatedSoundCard::SimulatedSoundCard()
    : SimulatedSoundCard({defaultDevice()}, {defaultDevice()})
{
}

SimulatedSoundCard::SimulatedSoundCard(std::vector<SoundDeviceInfo> playDevices,
                                       std::vector<SoundDeviceInfo> recordDevices)
    : m_playDevices(std::move(playDevices)),
      m_recordDevices(std::move(recordDevices)),
      m_table(PlaySamples, 0),
      m_played(Chunk),
      m_stream(Chunk)
{
    m_player.setTable(m_table.data());
    m_player.setRate(m_rate);
}

std::vector<SoundDeviceInfo> SimulatedSoundCard::playDevices()
{
    return m_playDevices;
}

std::vector<SoundDeviceInfo> SimulatedSoundCard::recordDevices()
{
    return m_recordDevices;
}

Status SimulatedSoundCard::openOutputDevice(int index)
{
    if (index < 0 || index >= int(m_playDevices.size()))
        return Error{"There is no play device number " + std::to_string(index)};
    if (!m_openFailure.empty())
        return Error{std::exchange(m_openFailure, std::string())};
    // A new device: a new, silent buffer at full level, centred.
    m_player.stop();
    m_rate = SampleRate;
    m_player.setRate(m_rate);
    m_volume = 0;
    m_pan = 0;
    m_output = index;
    return {};
}

Status SimulatedSoundCard::openInputDevice(int index)
{
    if (index < 0 || index >= int(m_recordDevices.size()))
        return Error{"There is no record device number " + std::to_string(index)};
    if (!m_openFailure.empty())
        return Error{std::exchange(m_openFailure, std::string())};
    m_input = index;
    return {};
}

void SimulatedSoundCard::closeAudio()
{
    m_player.stop();
    m_capturing = false;
    m_output = -1;
    m_input = -1;
}

void SimulatedSoundCard::StopPlayback()
{
    if (m_output >= 0)
        m_player.stop();
}

Status SimulatedSoundCard::PlayLoop(const int16_t* table, int rate)
{
    if (m_output < 0)
        return Error{"No play device is open"};
    m_player.stop();
    std::copy(table, table + PlaySamples, m_table.begin());
    m_player.setTable(m_table.data());
    SetPlayRate(rate);
    m_player.start();
    ++m_playLoops;
    return {};
}

void SimulatedSoundCard::SetPlayRate(int rate)
{
    if (m_output < 0)
        return;
    m_rate = clampRate(rate);
    m_player.setRate(m_rate);
}

void SimulatedSoundCard::SetPlayVolume(int volume)
{
    if (m_output >= 0)
        m_volume = volume;
}

void SimulatedSoundCard::SetPlayPan(int pan)
{
    if (m_output >= 0)
        m_pan = pan;
}

void SimulatedSoundCard::setChain(SoundChain chain)
{
    m_chain = std::move(chain);
    m_chain.reset();
    m_carry.clear();
}

Status SimulatedSoundCard::setRecordInput(RecordChannel channel)
{
    m_recordInput = channel;
    return {};
}

namespace {

// Record channel: whether each input hears the chain (its input item), and
// what a mono recording taking channel keeps of the chain's sound; Mix on
// both inputs is the sound as it is.
struct InputWiring {
    double toLeft, toRight, taken;
    InputWiring(SoundChain::Input input, RecordChannel channel)
        : toLeft(input == SoundChain::Input::Right ? 0.0 : 1.0), toRight(input == SoundChain::Input::Left ? 0.0 : 1.0),
          taken(channel == RecordChannel::Left    ? toLeft
                : channel == RecordChannel::Right ? toRight
                                                  : 0.5 * (toLeft + toRight))
    {
    }
};

// Set while a recording runs, however it returns.
struct BlockFlag {
    bool& flag;
    explicit BlockFlag(bool& f) : flag(f) { flag = true; }
    ~BlockFlag() { flag = false; }
    BlockFlag(const BlockFlag&) = delete;
    BlockFlag& operator=(const BlockFlag&) = delete;
};

} // namespace

double SimulatedSoundCard::blockInputGain(double x)
{
    const InputWiring wiring(m_chain.input(), m_recordInput);
    const double y = x / 32768.0;
    m_inputEnergy[0] += y * y * wiring.toLeft;
    m_inputEnergy[1] += y * y * wiring.toRight;
    ++m_inputFrames;
    return wiring.taken;
}

InputLevels SimulatedSoundCard::levelsSoFar() const
{
    const auto db = [&](double e) { return e > 0.0 ? 10.0 * std::log10(e / double(m_inputFrames)) : -400.0; };
    return {true, db(m_inputEnergy[0]), db(m_inputEnergy[1])};
}

Result<Recorded> SimulatedSoundCard::RecordBlock(int16_t* buffer, RecordWaiter& waiter)
{
    if (m_capturing)
        return Error::of(audimera::Failure::Busy, "The sound device is busy with another recording");
    const BlockFlag block(m_blockRecording);
    m_inputEnergy[0] = m_inputEnergy[1] = 0.0;
    m_inputFrames = 0;
    if (m_input < 0)
        return Error{"No record device is open"};
    if (!m_recordFailure.empty())
        return Error{std::exchange(m_recordFailure, std::string())};
    if (m_stalled) {
        for (int n = 0; n < MaxStallWaits; ++n)
            if (!waiter.waitOnce())
                return Recorded::Cancelled;
        return Error{StalledError};
    }

    int filled = 0;
    for (int w = 0; w < m_waitsPerBlock; ++w) {
        if (!waiter.waitOnce())
            return Recorded::Cancelled;
        if (m_input < 0) // closed by a handler during the wait
            return Error{"The record device was closed"};
        const int upTo = int(int64_t(RecordSamples) * (w + 1) / m_waitsPerBlock);
        generate(buffer + filled, upTo - filled);
        filled = upTo;
    }
    generate(buffer + filled, RecordSamples - filled);
    ++m_recordedBlocks;
    m_inputLevels = levelsSoFar();
    return Recorded::Complete;
}

double SimulatedSoundCard::channelGain() const
{
    double gain = attenuation(m_volume);
    if (m_channel == Channel::Left && m_pan > 0)
        gain *= attenuation(-m_pan);
    if (m_channel == Channel::Right && m_pan < 0)
        gain *= attenuation(m_pan);
    return gain;
}

template <typename Take>
void SimulatedSoundCard::pull(std::size_t count, Take take)
{
    // Pull from the player until the chain has given count samples: it may
    // shorten what it is given (drop) or lengthen it (drift), and what it
    // gives beyond count waits for the next call.
    std::size_t filled = 0;
    std::size_t used = 0;
    for (; used < m_carry.size() && filled < count; ++used, ++filled)
        take(m_carry[used]);
    m_carry.erase(m_carry.begin(), m_carry.begin() + std::ptrdiff_t(used));
    while (filled < count) {
        const int n = int(std::min(std::size_t(Chunk), count - filled));
        m_player.render(m_played.data(), n);
        const double gain = channelGain();
        m_stream.resize(n);
        for (int i = 0; i < n; ++i)
            m_stream[i] = m_played[i] * gain;
        m_chain.process(m_stream);
        std::size_t i = 0;
        for (; i < m_stream.size() && filled < count; ++i, ++filled)
            take(m_stream[i]);
        m_carry.assign(m_stream.begin() + std::ptrdiff_t(i), m_stream.end());
    }
}

void SimulatedSoundCard::generate(int16_t* buffer, int count)
{
    pull(std::size_t(count), [&](double x) { *buffer++ = audimera::nearestSample(x * blockInputGain(x)); });
}

Status SimulatedSoundCard::startCapture(RecordChannel channel)
{
    if (m_capturing || m_blockRecording)
        return Error::of(audimera::Failure::Busy, "The sound device is busy with another recording");
    if (m_input < 0)
        return Error::of(audimera::Failure::Device, "No record device is open");
    m_captureChannel = channel;
    m_capturing = true;
    return {};
}

Result<CaptureRead> SimulatedSoundCard::readCapture(std::vector<float>& out)
{
    if (!m_capturing || m_input < 0) {
        m_capturing = false;
        return Error::of(audimera::Failure::Device, "No capture is running");
    }
    if (!m_recordFailure.empty()) {
        m_capturing = false;
        return Error::of(audimera::Failure::Device, std::exchange(m_recordFailure, std::string()));
    }
    if (m_stalled)
        return CaptureRead{};
    CaptureRead read;
    if (m_captureSkip > 0) {
        pull(std::exchange(m_captureSkip, 0), [](double) {});
        read.gap = true;
    }
    const double taken = InputWiring(m_chain.input(), m_captureChannel).taken / 32768.0;
    out.reserve(out.size() + m_captureStretch);
    pull(m_captureStretch, [&](double x) { out.push_back(float(x * taken)); });
    read.frames = m_captureStretch;
    return read;
}

Status SimulatedSoundCard::playPeriod(const std::vector<float>& period)
{
    if (m_output < 0)
        return Error::of(audimera::Failure::Device, "No play device is open");
    m_player.stop();
    if (!m_player.setPeriod(period.data(), period.size()))
        return Error::of(audimera::Failure::BadInput, "A looped signal has " + std::to_string(TablePlayer::MinPeriod)
                                                          + " to " + std::to_string(TablePlayer::MaxPeriod)
                                                          + " samples, not " + std::to_string(period.size()));
    m_player.start();
    return {};
}

SimulatedSoundCard::Channel SimulatedSoundCard::referenceChannel() const
{
    switch (m_chain.reference()) {
    case SoundChain::Reference::Left:
        return Channel::Left;
    case SoundChain::Reference::Right:
        return Channel::Right;
    case SoundChain::Reference::Unset:
    case SoundChain::Reference::None:
        break;
    }
    return m_reference;
}

Result<Recorded> SimulatedSoundCard::playAndRecord(const DuplexRequest& request, std::vector<float>& recorded,
                                                   RecordWaiter& waiter)
{
    if (m_output < 0)
        return Error{"No play device is open"};
    if (m_input < 0)
        return Error{"No record device is open"};
    if (Status fits = checkRequest(request, duplexRate()); !fits)
        return fits.error();
    if (m_capturing)
        return Error::of(audimera::Failure::Busy, "The sound device is busy with another recording");
    const BlockFlag block(m_blockRecording);
    m_player.stop();
    if (!m_recordFailure.empty())
        return Error{std::exchange(m_recordFailure, std::string())};
    std::optional<std::size_t> loseAt = std::exchange(m_loseAt, std::nullopt);
    // A chain that drops samples is a card losing them, and it says so as a
    // real one reports an overrun: evenly spaced drops look to the analysis
    // like a clock offset, which it takes out.
    if (const std::optional<std::size_t> drop = m_chain.firstDrop())
        loseAt = std::min(loseAt.value_or(SIZE_MAX), *drop);
    if (m_stalled) {
        for (int n = 0; n < MaxStallWaits; ++n)
            if (!waiter.waitOnce())
                return Recorded::Cancelled;
        return Error{StalledError};
    }

    recorded.assign(request.recordFrames * std::size_t(request.recordChannels), 0.0f);
    m_inputEnergy[0] = m_inputEnergy[1] = 0.0;
    m_inputFrames = 0;
    m_inputLevels = {};
    m_chain.reset();
    m_carry.clear();
    m_chainInput = 0;
    const std::size_t total = request.recordFrames;
    std::size_t filled = 0;
    // Up to frame upTo, unless the samples are lost before it.
    auto recordUpTo = [&](std::size_t upTo) -> Status {
        if (loseAt && *loseAt < upTo) {
            generateDuplex(request, recorded, filled, std::max(filled, *loseAt));
            return Error{LostSamplesError};
        }
        generateDuplex(request, recorded, filled, upTo);
        filled = upTo;
        return {};
    };
    for (int w = 0; w < m_waitsPerBlock; ++w) {
        if (!waiter.waitOnce())
            return Recorded::Cancelled;
        if (m_input < 0 || m_output < 0) // closed by a handler during the wait
            return Error{"The sound device was closed"};
        if (Status fine = recordUpTo(std::size_t(uint64_t(total) * uint64_t(w + 1) / uint64_t(m_waitsPerBlock)));
            !fine)
            return fine.error();
        if (request.progress)
            request.progress(double(filled) / double(total));
    }
    if (filled < total) {
        if (Status fine = recordUpTo(total); !fine)
            return fine.error();
        if (request.progress)
            request.progress(1.0);
    }
    if (request.recordChannels == 2) {
        m_inputLevels = InputLevels::measure(recorded.data(), total);
    } else {
        m_inputLevels = levelsSoFar();
    }
    return Recorded::Complete;
}

void SimulatedSoundCard::generateDuplex(const DuplexRequest& request, std::vector<float>& recorded,
                                        std::size_t from, std::size_t to)
{
    using Channels = DuplexRequest::Channels;
    const auto plays = [&](Channel c) {
        return request.playChannels == Channels::Both
               || request.playChannels == (c == Channel::Left ? Channels::Left : Channels::Right);
    };
    // Output frame f as the card records it: latency first, then the signal.
    const auto played = [&](std::size_t frame) -> double {
        const std::size_t latency = std::size_t(m_latency);
        return frame >= latency && frame - latency < request.playFrames ? double(request.play[frame - latency]) : 0.0;
    };
    const auto card = [](double x) { return float(std::clamp(x, -1.0, 1.0)); };
    const std::size_t channels = std::size_t(request.recordChannels);
    const Channel reference = referenceChannel();
    const Channel measured = channels == 1 ? m_channel : (reference == Channel::Left ? Channel::Right : Channel::Left);
    const std::size_t measuredSlot = channels == 1 || measured == Channel::Left ? 0 : 1;

    if (channels == 2) {
        const std::size_t slot = 1 - measuredSlot;
        const bool heard = referenceWired() && plays(reference);
        // The reference shares the record clock: with a drift item it hears
        // the output at the same drifted times as the measured channel.
        const double step = 1.0 / (1.0 + m_chain.driftPpm() * 1e-6);
        const auto& interpolator = ClockOffset::Interpolator::instance();
        const auto at = [&](int64_t i) { return i >= 0 ? played(std::size_t(i)) : 0.0; };
        for (std::size_t f = from; f < to; ++f)
            recorded[f * 2 + slot] =
                !heard ? 0.0f : step == 1.0 ? card(played(f)) : card(interpolator.at(at, double(f) * step));
    }
    // Feed the chain until the frames are there: it may shorten what it is
    // given (drop) or lengthen it (drift); what it gives beyond waits for the
    // next call.
    const bool heard = plays(measured);
    // Record channel: the inputs that hear the chain (input item), and what
    // a mono recording takes of them.
    const InputWiring wiring(m_chain.input(), request.recordChannel);
    const double toLeft = wiring.toLeft, toRight = wiring.toRight;
    const double measuredGain = channels == 1 ? wiring.taken : (measured == Channel::Left ? toLeft : toRight);
    std::size_t f = from;
    // One sample of the chain's output (16-bit scale) into the next frame.
    const auto take = [&](double x) {
        const double y = card(x / 32768.0);
        if (channels == 1) {
            m_inputEnergy[0] += y * y * toLeft;
            m_inputEnergy[1] += y * y * toRight;
            ++m_inputFrames;
        }
        recorded[channels * f++ + measuredSlot] = float(y * measuredGain);
    };
    std::size_t used = 0;
    for (; used < m_carry.size() && f < to; ++used)
        take(m_carry[used]);
    m_carry.erase(m_carry.begin(), m_carry.begin() + std::ptrdiff_t(used));
    while (f < to) {
        const std::size_t n = std::min(std::size_t(Chunk), to - f);
        m_stream.resize(n);
        for (std::size_t i = 0; i < n; ++i)
            m_stream[i] = heard ? played(m_chainInput + i) * 32768.0 : 0.0;
        m_chainInput += n;
        m_chain.process(m_stream);
        std::size_t i = 0;
        for (; i < m_stream.size() && f < to; ++i)
            take(m_stream[i]);
        m_carry.assign(m_stream.begin() + std::ptrdiff_t(i), m_stream.end());
    }
    // End of record channel.
}

} // namespace audimera
