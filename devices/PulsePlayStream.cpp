#include "devices/PulsePlayStream.h"

#include "signal/OutputLevel.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace audimera {

using audimera::Status;

namespace {

constexpr size_t FrameBytes = sizeof(float) * PulsePlayStream::Channels;
// Output samples per pass through the player inside one callback.
constexpr int RenderChunk = 4096;
// The player's output is on the 16-bit scale.
constexpr float FullScale = 32768.0f;

// frames at 44100 Hz as the same time at rate, in frames.
int framesAt(int rate, int frames)
{
    return int((int64_t(frames) * rate + SoundDevice::SampleRate / 2) / SoundDevice::SampleRate);
}

} // namespace

PulsePlayStream::PulsePlayStream(PulseContext& pulse)
    : PulseStream(pulse, "play"),
      m_mono(RenderChunk)
{
    const std::vector<int16_t> silence(SoundDevice::PlaySamples, 0);
    m_player.setTable(silence.data());
    m_player.setRate(m_rate);
}

PulsePlayStream::~PulsePlayStream()
{
    close();
}

void PulsePlayStream::writeCallback(pa_stream* stream, size_t bytes, void* self)
{
    auto* play = static_cast<PulsePlayStream*>(self);
    while (bytes >= FrameBytes) {
        void* data = nullptr;
        size_t length = std::min(bytes, RenderChunk * FrameBytes);
        if (pa_stream_begin_write(stream, &data, &length) < 0 || !data)
            return;
        const int frames = int(std::min(length, RenderChunk * FrameBytes) / FrameBytes);
        if (frames == 0) {
            pa_stream_cancel_write(stream);
            return;
        }
        auto* out = static_cast<float*>(data);
        // A stream that is not (yet) the current one only keeps its server
        // side going, with silence.
        if (stream == play->m_stream)
            play->render(out, frames);
        else
            std::memset(out, 0, size_t(frames) * FrameBytes);
        if (pa_stream_write(stream, data, size_t(frames) * FrameBytes, nullptr, 0, PA_SEEK_RELATIVE) < 0)
            return;
        bytes -= std::min(bytes, size_t(frames) * FrameBytes);
    }
}

void PulsePlayStream::render(float* out, int frames) noexcept
{
    if (m_tableBusy.load(std::memory_order_acquire)) {
        std::memset(out, 0, size_t(frames) * FrameBytes);
        return;
    }
    const float leftTarget = m_leftGain.load(std::memory_order_relaxed);
    const float rightTarget = m_rightGain.load(std::memory_order_relaxed);
    if (leftTarget != m_leftTo || rightTarget != m_rightTo) {
        m_leftTo = leftTarget;
        m_rightTo = rightTarget;
        m_leftStep = (m_leftTo - m_left) / float(m_rampFrames);
        m_rightStep = (m_rightTo - m_right) / float(m_rampFrames);
        m_rampLeft = m_rampFrames;
    }
    for (int done = 0; done < frames;) {
        const int n = std::min(RenderChunk, frames - done);
        m_player.render(m_mono.data(), n);
        float* frame = out + 2 * done;
        for (int i = 0; i < n; ++i, frame += 2) {
            if (m_rampLeft > 0) {
                m_left += m_leftStep;
                m_right += m_rightStep;
                if (--m_rampLeft == 0) {
                    m_left = m_leftTo;
                    m_right = m_rightTo;
                }
            }
            const float x = m_mono[i] / FullScale;
            frame[0] = x * m_left;
            frame[1] = x * m_right;
        }
        done += n;
    }
}

Status PulsePlayStream::open(const std::string& device)
{
    // The sink's own rate: whatever the stream's rate, the server would
    // convert to it (and cut the top of the band).
    const int sinkRate = m_pulse.deviceRate(true, device);
    const int rate = sinkRate > 0 ? std::clamp(sinkRate, int(TablePlayer::MinOutputRate),
                                               int(TablePlayer::MaxOutputRate))
                                  : SoundDevice::SampleRate;
    const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, uint32_t(rate), uint8_t(Channels)};
    pa_channel_map map;
    pa_channel_map_init_stereo(&map);
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = uint32_t(size_t(framesAt(rate, TargetFrames)) * FrameBytes);
    attr.prebuf = uint32_t(size_t(framesAt(rate, PrebufferFrames)) * FrameBytes);
    attr.minreq = uint32_t(size_t(framesAt(rate, RequestFrames)) * FrameBytes);
    attr.fragsize = uint32_t(-1);

    const auto connect = [&](pa_stream* fresh) {
        pa_stream_set_write_callback(fresh, &PulsePlayStream::writeCallback, this);
        return pa_stream_connect_playback(fresh, device.c_str(), &attr, Flags, nullptr, nullptr);
    };
    const auto adopt = [&] {
        // The callback is kept out (lock held): a new device starts silent,
        // at full level and centred.
        m_player.stop();
        m_player.setOutputRate(rate);
        m_rampFrames = std::max(1, framesAt(rate, RampFrames));
        m_rate = SoundDevice::SampleRate;
        m_player.setRate(m_rate);
        m_volume = 0;
        m_pan = 0;
        applyGains();
        m_left = m_leftTo = 1.0f;
        m_right = m_rightTo = 1.0f;
        m_rampLeft = 0;
    };
    return openStream("Test tone", format, map, connect, adopt);
}

void PulsePlayStream::close()
{
    m_player.stop();
    if (!m_stream && !m_flush)
        return;
    PulseContext::Lock lock(m_pulse);
    forgetFlush();
    if (m_stream)
        releaseStream();
}

void PulsePlayStream::flushQueued()
{
    forgetFlush();
    if (m_stream && pa_stream_get_state(m_stream) == PA_STREAM_READY)
        m_flush = pa_stream_flush(m_stream, nullptr, nullptr);
}

void PulsePlayStream::forgetFlush()
{
    if (m_flush)
        pa_operation_unref(m_flush);
    m_flush = nullptr;
}

bool PulsePlayStream::awaitFlush(RecordWaiter& waiter)
{
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    for (;;) {
        {
            PulseContext::Lock lock(m_pulse);
            if (!m_flush || pa_operation_get_state(m_flush) != PA_OPERATION_RUNNING) {
                forgetFlush();
                return true;
            }
        }
        // A server that does not answer is the record's to find out.
        if (Clock::now() - start >= std::chrono::milliseconds(StallMs))
            return true;
        if (!waiter.waitOnce())
            return false;
    }
}

template <typename Load>
Status PulsePlayStream::restart(Load load)
{
    if (Status works = status(); !works)
        return works;
    m_player.stop();
    // Hand the player over: once the callback has seen the flag (taking the
    // lock makes sure a running callback has finished) it leaves the player
    // alone until the flag clears.
    m_tableBusy.store(true, std::memory_order_seq_cst);
    {
        PulseContext::Lock lock(m_pulse);
        flushQueued();
    }
    load();
    m_player.start();
    m_tableBusy.store(false, std::memory_order_release);
    return {};
}

Status PulsePlayStream::playLoop(const int16_t* table, int rate)
{
    return restart([&] {
        m_player.setTable(table);
        setRate(rate);
    });
}

Status PulsePlayStream::playPeriod(const std::vector<float>& period)
{
    if (period.size() < TablePlayer::MinPeriod || period.size() > TablePlayer::MaxPeriod)
        return audimera::Error::of(audimera::Failure::BadInput,
                                   "A looped signal has " + std::to_string(TablePlayer::MinPeriod) + " to "
                                       + std::to_string(TablePlayer::MaxPeriod) + " samples, not "
                                       + std::to_string(period.size()));
    return restart([&] { m_player.setPeriod(period.data(), period.size()); });
}

void PulsePlayStream::stop()
{
    m_player.stop();
    if (!m_stream)
        return;
    PulseContext::Lock lock(m_pulse);
    flushQueued();
}

void PulsePlayStream::setRate(int rate)
{
    m_rate = SoundDevice::clampRate(rate);
    m_player.setRate(m_rate);
}

void PulsePlayStream::setVolume(int volume)
{
    m_volume = volume;
    applyGains();
}

void PulsePlayStream::setPan(int pan)
{
    m_pan = pan;
    applyGains();
}

void PulsePlayStream::applyGains()
{
    const double level = OutputLevel::gainOf(m_volume);
    const double left = m_pan > 0 ? OutputLevel::gainOf(-m_pan) : 1.0;
    const double right = m_pan < 0 ? OutputLevel::gainOf(m_pan) : 1.0;
    m_leftGain.store(float(level * left), std::memory_order_relaxed);
    m_rightGain.store(float(level * right), std::memory_order_relaxed);
}

} // namespace audimera
