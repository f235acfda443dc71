#include "devices/PulseStream.h"

#include <utility>

namespace audimera {

using audimera::Error;

void PulseStream::release(pa_stream* stream)
{
    if (!stream)
        return;
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
}

void PulseStream::releaseStream()
{
    release(std::exchange(m_stream, nullptr));
}

void PulseStream::stateCallback(pa_stream* stream, void* self)
{
    auto* owner = static_cast<PulseStream*>(self);
    if (stream != owner->m_stream)
        return;
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)
        owner->markFailed(stream);
}

void PulseStream::markFailed(pa_stream* stream) noexcept
{
    m_error.store(pa_context_errno(pa_stream_get_context(stream)), std::memory_order_relaxed);
    m_failed.store(true, std::memory_order_release);
}

void PulseStream::pause(bool paused)
{
    if (!m_stream)
        return;
    PulseContext::Lock lock(m_pulse);
    // The server takes requests in order: nothing asked after this reaches
    // it before the stream is paused. Should the request fail, the state
    // callback says so.
    if (pa_operation* cork = pa_stream_cork(m_stream, paused ? 1 : 0, nullptr, nullptr))
        pa_operation_unref(cork);
}

Error PulseStream::notOpen() const
{
    return Error{std::string("No ") + m_kind + " device is open"};
}

Error PulseStream::failure(const std::string& reason) const
{
    return Error{std::string("The ") + m_kind + " stream failed: "
                 + (reason.empty() ? pa_strerror(m_error.load(std::memory_order_relaxed)) : reason)};
}

pa_stream* PulseStream::make(const char* name, const pa_sample_spec& format, const pa_channel_map& map)
{
    pa_stream* fresh = pa_stream_new(m_pulse.context(), name, &format, &map);
    if (fresh)
        pa_stream_set_state_callback(fresh, &PulseStream::stateCallback, this);
    return fresh;
}

void PulseStream::waitReady(pa_stream* fresh)
{
    m_pulse.waitUntil([fresh] {
        const pa_stream_state_t state = pa_stream_get_state(fresh);
        return state != PA_STREAM_UNCONNECTED && state != PA_STREAM_CREATING;
    });
}

Error PulseStream::dropFresh(pa_stream* fresh)
{
    Error why{pa_stream_get_state(fresh) == PA_STREAM_CREATING ? pa_strerror(PA_ERR_TIMEOUT) : m_pulse.errorText()};
    release(fresh);
    return why;
}

void PulseStream::takeOver(pa_stream* fresh)
{
    m_failed.store(false);
    m_error.store(PA_OK);
    release(std::exchange(m_stream, fresh));
}

audimera::Status PulseStream::status() const
{
    if (!m_stream)
        return notOpen();
    if (hasFailed())
        return failure();
    return {};
}

} // namespace audimera
