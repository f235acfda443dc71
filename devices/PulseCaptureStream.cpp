#include "devices/PulseCaptureStream.h"

#include <algorithm>
#include <cstring>

namespace audimera {

using audimera::Status;

PulseCaptureStream::PulseCaptureStream(PulseContext& pulse)
    : PulseStream(pulse, "record")
{
}

PulseCaptureStream::~PulseCaptureStream()
{
    close();
}

void PulseCaptureStream::readCallback(pa_stream* stream, size_t, void* self)
{
    auto* capture = static_cast<PulseCaptureStream*>(self);
    capture->drainRecorded(stream, [capture](const void* data, size_t bytes) { capture->take(data, bytes); });
}

void PulseCaptureStream::overflowCallback(pa_stream* stream, void* self)
{
    auto* capture = static_cast<PulseCaptureStream*>(self);
    if (stream == capture->m_stream && capture->m_target.load(std::memory_order_relaxed))
        capture->m_lost.store(true, std::memory_order_release);
}

void PulseCaptureStream::take(const void* data, size_t bytes) noexcept
{
    uint8_t* target = m_target.load(std::memory_order_relaxed);
    if (!target)
        return;
    const size_t wanted = m_wanted.load(std::memory_order_relaxed);
    const size_t filled = m_filled.load(std::memory_order_relaxed);
    if (filled >= wanted)
        return;
    if (!data) {
        // A hole: the frames that belong here never came.
        m_lost.store(true, std::memory_order_release);
        return;
    }
    const size_t n = std::min(bytes, wanted - filled);
    std::memcpy(target + filled, data, n);
    m_filled.store(filled + n, std::memory_order_release);
}

Status PulseCaptureStream::open(const std::string& device, int rate, int channels)
{
    close();
    m_channels = channels == 2 ? 2 : 1;
    const size_t frameBytes = sizeof(float) * size_t(m_channels);
    const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, uint32_t(rate), uint8_t(m_channels)};
    pa_channel_map map;
    pa_channel_map_init_auto(&map, unsigned(m_channels), PA_CHANNEL_MAP_DEFAULT);
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = uint32_t(-1);
    attr.prebuf = uint32_t(-1);
    attr.minreq = uint32_t(-1);
    attr.fragsize =
        uint32_t(size_t((int64_t(FragmentFrames) * rate + SoundDevice::SampleRate - 1) / SoundDevice::SampleRate)
                 * frameBytes);

    const auto connect = [&](pa_stream* fresh) {
        pa_stream_set_read_callback(fresh, &PulseCaptureStream::readCallback, this);
        pa_stream_set_overflow_callback(fresh, &PulseCaptureStream::overflowCallback, this);
        return pa_stream_connect_record(fresh, device.c_str(), &attr, Flags);
    };
    const auto adopt = [&] {
        m_target.store(nullptr);
        m_wanted.store(0);
        m_filled.store(0);
        m_lost.store(false);
    };
    return openStream("Sweep input", format, map, connect, adopt);
}

void PulseCaptureStream::close()
{
    if (!m_stream)
        return;
    PulseContext::Lock lock(m_pulse);
    m_target.store(nullptr);
    pa_stream_set_overflow_callback(m_stream, nullptr, nullptr);
    releaseStream();
}

void PulseCaptureStream::arm(float* buffer, std::size_t frames)
{
    if (!m_stream)
        return;
    PulseContext::Lock lock(m_pulse);
    m_wanted.store(frames * sizeof(float) * size_t(m_channels));
    m_filled.store(0);
    m_lost.store(false);
    m_target.store(reinterpret_cast<uint8_t*>(buffer));
}

void PulseCaptureStream::disarm()
{
    if (!m_stream)
        return;
    PulseContext::Lock lock(m_pulse);
    m_target.store(nullptr);
}

} // namespace audimera
