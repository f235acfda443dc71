#include "devices/PulseRecordStream.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

namespace audimera {

using audimera::Error;
using audimera::Result;
using audimera::Status;

namespace {

// Float samples are on a full scale of 1; the blocks on the 16-bit scale.
constexpr float FullScale = 32768.0f;

// frames at 44100 Hz as the same time at rate, in frames (rounded up).
int framesAt(int rate, int frames)
{
    return int((int64_t(frames) * rate + SoundDevice::SampleRate - 1) / SoundDevice::SampleRate);
}

} // namespace

PulseRecordStream::Conversion::Conversion(int rate, int channels)
    : converters(size_t(channels), RateConverter(rate)),
      frames(size_t(RateConverter::ChunkSamples) * size_t(channels)),
      input(size_t(RateConverter::ChunkSamples))
{
    outputStride = size_t(converters[0].maxOutputs(RateConverter::ChunkSamples));
    output.resize(outputStride * size_t(channels));
}

PulseRecordStream::PulseRecordStream(PulseContext& pulse)
    : PulseStream(pulse, "record")
{
}

PulseRecordStream::~PulseRecordStream()
{
    close();
}

void PulseRecordStream::flushCallback(pa_stream* stream, int success, void* self)
{
    auto* record = static_cast<PulseRecordStream*>(self);
    if (stream != record->m_stream)
        return;
    const unsigned done = record->m_flushesDone.fetch_add(1, std::memory_order_relaxed) + 1;
    if (!success) {
        record->markFailed(stream);
        return;
    }
    // A flush of a block given up earlier must not start the new one.
    if (done == record->m_flushesAsked.load(std::memory_order_relaxed)
        && record->m_phase.load(std::memory_order_relaxed) == Flushing)
        record->m_phase.store(Collecting, std::memory_order_relaxed);
}

void PulseRecordStream::readCallback(pa_stream* stream, size_t, void* self)
{
    auto* record = static_cast<PulseRecordStream*>(self);
    record->drainRecorded(stream, [record](const void* data, size_t bytes) {
        if (record->m_phase.load(std::memory_order_relaxed) == Collecting)
            record->take(data, bytes); // data is null for a hole: silence
    });
}

void PulseRecordStream::take(const void* data, size_t bytes) noexcept
{
    if (const size_t skip = m_skip.load(std::memory_order_relaxed); skip > 0) {
        const size_t dropped = std::min(skip, bytes);
        m_skip.store(skip - dropped, std::memory_order_relaxed);
        bytes -= dropped;
        if (data)
            data = static_cast<const uint8_t*>(data) + dropped;
        if (bytes == 0)
            return;
    }
    if (m_conversion) {
        convert(static_cast<const uint8_t*>(data), bytes);
        return;
    }
    uint8_t* target = m_target.load(std::memory_order_relaxed);
    const size_t wanted = m_wanted.load(std::memory_order_relaxed);
    const size_t filled = m_filled.load(std::memory_order_relaxed);
    const size_t n = std::min(bytes, wanted - filled);
    if (data)
        std::memcpy(target + filled, data, n);
    else
        std::memset(target + filled, 0, n);
    if (filled + n >= wanted)
        m_phase.store(Idle, std::memory_order_relaxed);
    m_filled.store(filled + n, std::memory_order_release);
}

void PulseRecordStream::convert(const uint8_t* data, size_t bytes) noexcept
{
    Conversion& c = *m_conversion;
    const int channels = m_channels;
    const size_t frameBytes = size_t(channels) * sizeof(float);
    auto* target = reinterpret_cast<int16_t*>(m_target.load(std::memory_order_relaxed));
    const size_t wanted = m_wanted.load(std::memory_order_relaxed) / sizeof(int16_t);
    size_t filled = m_filled.load(std::memory_order_relaxed) / sizeof(int16_t);
    // The server hands over whole frames.
    size_t frames = bytes / frameBytes;
    while (frames > 0 && filled < wanted) {
        const int n = int(std::min(frames, size_t(RateConverter::ChunkSamples)));
        // Copied first: the server's data need not be aligned for floats.
        if (data)
            std::memcpy(c.frames.data(), data, size_t(n) * frameBytes);
        else
            std::fill_n(c.frames.begin(), size_t(n) * size_t(channels), 0.0f);
        int outputs = 0;
        for (int ch = 0; ch < channels; ++ch) {
            for (int i = 0; i < n; ++i)
                c.input[size_t(i)] = c.frames[size_t(i) * size_t(channels) + size_t(ch)] * FullScale;
            float* out = c.output.data() + size_t(ch) * c.outputStride;
            outputs = c.converters[size_t(ch)].process(c.input.data(), n, out);
        }
        const int settled = std::min(outputs, m_settleLeft);
        m_settleLeft -= settled;
        for (int i = settled; i < outputs && filled < wanted; ++i)
            for (int ch = 0; ch < channels && filled < wanted; ++ch) {
                const float v = c.output[size_t(ch) * c.outputStride + size_t(i)];
                target[filled++] = int16_t(std::lrint(std::clamp(v, -32768.0f, 32767.0f)));
            }
        if (data)
            data += size_t(n) * frameBytes;
        frames -= size_t(n);
    }
    if (filled >= wanted)
        m_phase.store(Idle, std::memory_order_relaxed);
    m_filled.store(filled * sizeof(int16_t), std::memory_order_release);
}

Status PulseRecordStream::open(const std::string& device, int channels)
{
    channels = channels == 2 ? 2 : 1;
    // At the source's own rate, converted here; at 44100 Hz (or a rate the
    // converter does not take) in 16 bits as the blocks are.
    const int sourceRate = m_pulse.deviceRate(false, device);
    const bool converting = RateConverter::supports(sourceRate);
    const int rate = converting ? sourceRate : SoundDevice::SampleRate;
    std::unique_ptr<Conversion> conversion;
    if (converting)
        conversion = std::make_unique<Conversion>(rate, channels);
    const size_t frameBytes = size_t(channels) * (converting ? sizeof(float) : sizeof(int16_t));
    const pa_sample_spec format{converting ? PA_SAMPLE_FLOAT32NE : PA_SAMPLE_S16NE, uint32_t(rate),
                                uint8_t(channels)};
    pa_channel_map map;
    pa_channel_map_init_auto(&map, unsigned(channels), PA_CHANNEL_MAP_DEFAULT);
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = uint32_t(-1);
    attr.prebuf = uint32_t(-1);
    attr.minreq = uint32_t(-1);
    attr.fragsize = uint32_t(size_t(framesAt(rate, FragmentFrames)) * frameBytes);

    const auto connect = [&](pa_stream* fresh) {
        pa_stream_set_read_callback(fresh, &PulseRecordStream::readCallback, this);
        return pa_stream_connect_record(fresh, device.c_str(), &attr, Flags);
    };
    const auto adopt = [&] {
        m_phase.store(Idle);
        m_target.store(nullptr);
        m_flushesAsked.store(0);
        m_flushesDone.store(0);
        m_channels = channels;
        m_rate = rate;
        m_frameBytes = frameBytes;
        m_guardFrames = framesAt(rate, GuardFrames);
        m_conversion = std::move(conversion);
        ++m_opened;
    };
    return openStream("Measurement input", format, map, connect, adopt);
}

void PulseRecordStream::close()
{
    if (!m_stream)
        return;
    PulseContext::Lock lock(m_pulse);
    m_phase.store(Idle);
    m_target.store(nullptr);
    releaseStream();
    m_conversion.reset();
    ++m_opened;
}

void PulseRecordStream::disarm()
{
    if (!m_stream)
        return;
    PulseContext::Lock lock(m_pulse);
    m_phase.store(Idle);
    m_target.store(nullptr);
}

Result<Recorded> PulseRecordStream::record(int16_t* buffer, int samples, RecordWaiter& waiter)
{
    if (!m_stream)
        return notOpen();
    if (hasFailed())
        return failure();
    const size_t wanted = size_t(std::max(samples, 0)) * sizeof(int16_t);
    if (wanted == 0)
        return Recorded::Complete;

    {
        PulseContext::Lock lock(m_pulse);
        m_target.store(reinterpret_cast<uint8_t*>(buffer));
        m_wanted.store(wanted);
        m_filled.store(0);
        m_skip.store(size_t(m_guardFrames) * m_frameBytes);
        if (m_conversion) {
            for (RateConverter& converter : m_conversion->converters)
                converter.reset();
            m_settleLeft = m_conversion->converters[0].settlingOutputs();
        }
        m_phase.store(Flushing);
        // The server's flush leaves what has already reached this side; the
        // callback drops it as it comes, but make sure.
        const void* data;
        size_t bytes;
        while (pa_stream_peek(m_stream, &data, &bytes) == 0 && bytes > 0)
            pa_stream_drop(m_stream);
        pa_operation* flush = pa_stream_flush(m_stream, &PulseRecordStream::flushCallback, this);
        if (!flush) {
            m_phase.store(Idle);
            m_target.store(nullptr);
            return failure(m_pulse.errorText());
        }
        // Counted only once asked; the answer cannot come before (lock held).
        m_flushesAsked.fetch_add(1);
        pa_operation_unref(flush);
    }

    const int opened = m_opened;
    using Clock = std::chrono::steady_clock;
    auto lastArrival = Clock::now();
    size_t lastFilled = 0;
    for (;;) {
        const size_t filled = m_filled.load(std::memory_order_acquire);
        if (filled >= wanted) {
            disarm();
            return Recorded::Complete;
        }
        if (m_opened != opened)
            return Error{"The record device was closed"};
        if (hasFailed()) {
            disarm();
            return failure();
        }
        const auto now = Clock::now();
        if (filled != lastFilled) {
            lastFilled = filled;
            lastArrival = now;
        } else if (now - lastArrival >= std::chrono::milliseconds(StallMs)) {
            disarm();
            return Error{StalledError};
        }
        if (!waiter.waitOnce()) {
            disarm();
            return Recorded::Cancelled;
        }
    }
}

} // namespace audimera
