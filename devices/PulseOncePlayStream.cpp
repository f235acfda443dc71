#include "devices/PulseOncePlayStream.h"

#include <algorithm>
#include <cstring>

namespace audimera {

using audimera::Error;
using audimera::Status;

namespace {

constexpr size_t FrameBytes = sizeof(float) * PulseOncePlayStream::Channels;

// frames at 44100 Hz as the same time at rate, in frames.
uint32_t bytesAt(int rate, int frames)
{
    return uint32_t(size_t((int64_t(frames) * rate + SoundDevice::SampleRate / 2) / SoundDevice::SampleRate)
                    * FrameBytes);
}

} // namespace

PulseOncePlayStream::PulseOncePlayStream(PulseContext& pulse)
    : PulseStream(pulse, "play")
{
}

PulseOncePlayStream::~PulseOncePlayStream()
{
    close();
}

void PulseOncePlayStream::writeCallback(pa_stream* stream, size_t bytes, void* self)
{
    // Called for the one stream this object has (a released one is called
    // no more), also before open() has adopted it: its first request is
    // the signal's beginning.
    auto* play = static_cast<PulseOncePlayStream*>(self);
    while (bytes >= FrameBytes) {
        void* data = nullptr;
        size_t length = bytes;
        if (pa_stream_begin_write(stream, &data, &length) < 0 || !data)
            return;
        const size_t frames = std::min(length, bytes) / FrameBytes;
        if (frames == 0) {
            pa_stream_cancel_write(stream);
            return;
        }
        const size_t position = play->m_position.load(std::memory_order_relaxed);
        const size_t signal = std::min(frames, play->m_count - position);
        if (signal > 0)
            std::memcpy(data, play->m_frames + position * Channels, signal * FrameBytes);
        std::memset(static_cast<char*>(data) + signal * FrameBytes, 0, (frames - signal) * FrameBytes);
        if (pa_stream_write(stream, data, frames * FrameBytes, nullptr, 0, PA_SEEK_RELATIVE) < 0)
            return;
        play->m_position.store(position + signal, std::memory_order_release);
        bytes -= frames * FrameBytes;
    }
}

void PulseOncePlayStream::underflowCallback(pa_stream* stream, void* self)
{
    auto* play = static_cast<PulseOncePlayStream*>(self);
    if (stream == play->m_stream && play->m_position.load(std::memory_order_relaxed) < play->m_count)
        play->m_underflow.store(true, std::memory_order_release);
}

Status PulseOncePlayStream::open(const std::string& device, int rate, const float* frames, std::size_t count)
{
    close();
    m_frames = frames;
    m_count = count;
    m_position.store(0);
    m_underflow.store(false);
    const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, uint32_t(rate), uint8_t(Channels)};
    pa_channel_map map;
    pa_channel_map_init_stereo(&map);
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = bytesAt(rate, TargetFrames);
    attr.prebuf = bytesAt(rate, PrebufferFrames);
    attr.minreq = bytesAt(rate, RequestFrames);
    attr.fragsize = uint32_t(-1);

    const auto connect = [&](pa_stream* fresh) {
        pa_stream_set_write_callback(fresh, &PulseOncePlayStream::writeCallback, this);
        pa_stream_set_underflow_callback(fresh, &PulseOncePlayStream::underflowCallback, this);
        const auto flags = pa_stream_flags_t(Flags | PA_STREAM_START_CORKED);
        return pa_stream_connect_playback(fresh, device.c_str(), &attr, flags, nullptr, nullptr);
    };
    return openStream("Sweep", format, map, connect, [] {});
}

Status PulseOncePlayStream::start()
{
    if (!m_stream)
        return notOpen();
    PulseContext::Lock lock(m_pulse);
    pa_operation* uncork = pa_stream_cork(m_stream, 0, nullptr, nullptr);
    if (!uncork)
        return failure(m_pulse.errorText());
    pa_operation_unref(uncork);
    return {};
}

void PulseOncePlayStream::close()
{
    if (!m_stream)
        return;
    PulseContext::Lock lock(m_pulse);
    pa_stream_set_underflow_callback(m_stream, nullptr, nullptr);
    releaseStream();
}

} // namespace audimera
