#include "devices/PulseLiveStream.h"

#include <algorithm>
#include <cstring>

namespace audimera {

using audimera::Status;

namespace {

constexpr size_t FrameBytes = 2 * sizeof(float);

} // namespace

PulseLiveStream::PulseLiveStream(PulseContext& pulse)
    : PulseStream(pulse, "record")
{
}

PulseLiveStream::~PulseLiveStream()
{
    close();
}

void PulseLiveStream::readCallback(pa_stream* stream, size_t, void* self)
{
    auto* live = static_cast<PulseLiveStream*>(self);
    live->drainRecorded(stream, [live](const void* data, size_t bytes) { live->take(data, bytes); });
}

void PulseLiveStream::overflowCallback(pa_stream* stream, void* self)
{
    auto* live = static_cast<PulseLiveStream*>(self);
    if (stream == live->m_stream)
        live->markGap();
}

void PulseLiveStream::markGap() noexcept
{
    m_partialBytes = 0;
    m_gapAt.store(m_written.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

void PulseLiveStream::take(const void* data, size_t bytes) noexcept
{
    if (!data) {
        markGap(); // the frames that belong here never came
        return;
    }
    const auto* in = static_cast<const uint8_t*>(data);
    const uint64_t written = m_written.load(std::memory_order_relaxed);
    const size_t frames = (m_partialBytes + bytes) / FrameBytes;
    if (written + frames - m_read.load(std::memory_order_acquire) > m_ring.size()) {
        markGap(); // the reader is more than the ring behind: drop, say so
        return;
    }
    uint64_t at = written;
    if (m_partialBytes > 0) { // complete the frame split between fragments
        const size_t rest = std::min(bytes, FrameBytes - m_partialBytes);
        std::memcpy(reinterpret_cast<uint8_t*>(m_partial) + m_partialBytes, in, rest);
        m_partialBytes += rest;
        in += rest;
        bytes -= rest;
        if (m_partialBytes < FrameBytes)
            return;
        m_ring[at++ & m_mask] = m_leftWeight * m_partial[0] + m_rightWeight * m_partial[1];
        m_partialBytes = 0;
    }
    const size_t whole = bytes / FrameBytes;
    for (size_t i = 0; i < whole; ++i, in += FrameBytes) {
        float lr[2];
        std::memcpy(lr, in, FrameBytes);
        m_ring[at++ & m_mask] = m_leftWeight * lr[0] + m_rightWeight * lr[1];
    }
    m_partialBytes = bytes - whole * FrameBytes;
    std::memcpy(m_partial, in, m_partialBytes);
    m_written.store(at, std::memory_order_release);
}

Status PulseLiveStream::open(const std::string& device, int rate, RecordChannel channel)
{
    close();
    // At least CaptureKeptSeconds, a power of two for the index mask.
    const auto kept = size_t(SoundDevice::CaptureKeptSeconds * rate) + 1;
    size_t capacity = 1;
    while (capacity < kept)
        capacity *= 2;
    m_ring.assign(capacity, 0.0f);
    m_mask = capacity - 1;
    m_leftWeight = channel == RecordChannel::Right ? 0.0f : channel == RecordChannel::Left ? 1.0f : 0.5f;
    m_rightWeight = channel == RecordChannel::Left ? 0.0f : channel == RecordChannel::Right ? 1.0f : 0.5f;

    const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, uint32_t(rate), 2};
    pa_channel_map map;
    pa_channel_map_init_stereo(&map);
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = uint32_t(-1);
    attr.prebuf = uint32_t(-1);
    attr.minreq = uint32_t(-1);
    attr.fragsize = uint32_t(size_t((int64_t(FragmentMs) * rate + 999) / 1000) * FrameBytes);

    const auto connect = [&](pa_stream* fresh) {
        pa_stream_set_read_callback(fresh, &PulseLiveStream::readCallback, this);
        pa_stream_set_overflow_callback(fresh, &PulseLiveStream::overflowCallback, this);
        return pa_stream_connect_record(fresh, device.c_str(), &attr, Flags);
    };
    const auto adopt = [&] {
        m_written.store(0);
        m_read.store(0);
        m_gapAt.store(0);
        m_seenGap = 0;
        m_partialBytes = 0;
    };
    Status opened = openStream("Live input", format, map, connect, adopt);
    if (!opened && !m_stream)
        m_ring.clear();
    return opened;
}

void PulseLiveStream::close()
{
    if (m_stream) {
        PulseContext::Lock lock(m_pulse);
        pa_stream_set_overflow_callback(m_stream, nullptr, nullptr);
        releaseStream();
    }
    // No callback of the stream runs any more: the ring is the UI thread's.
    m_ring.clear();
    m_ring.shrink_to_fit();
    m_mask = 0;
}

PulseLiveStream::Taken PulseLiveStream::read(std::vector<float>& out)
{
    Taken taken;
    if (!m_stream)
        return taken;
    // The gap and the count as of one moment: a gap marked between the two
    // loads would lie inside the frames taken, unseen.
    uint64_t gap, written;
    do {
        gap = m_gapAt.load(std::memory_order_acquire);
        written = m_written.load(std::memory_order_acquire);
    } while (gap != m_gapAt.load(std::memory_order_acquire));
    uint64_t from = m_read.load(std::memory_order_relaxed);
    if (gap != m_seenGap) {
        m_seenGap = gap;
        taken.gap = true;
        from = std::max(from, gap - 1);
    }
    taken.frames = size_t(written - from);
    out.reserve(out.size() + taken.frames);
    for (uint64_t i = from; i < written; ++i)
        out.push_back(m_ring[i & m_mask]);
    m_read.store(written, std::memory_order_release);
    return taken;
}

} // namespace audimera
