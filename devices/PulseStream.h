// What the play and the record stream on the sound server have in common:
// the stream itself, its failure as the server's thread reports it, and the
// steps of its life (make and connect it, wait until it is ready, hand it
// over from the previous stream, release it).
//
// A new stream replaces the current one only once it is ready; until then,
// and when it fails to start, the current stream stays as it was. Streams
// are never moved elsewhere by the server: a measurement must fail rather
// than go on through another device.
//
// Threads: the owner's public methods run on the UI thread, which writes
// m_stream with the lock held. The state callback and markFailed() run on
// the server's thread with the lock held; they store only atomics and never
// allocate, block or throw.
#pragma once

#include "devices/PulseContext.h"

#include <atomic>
#include <cstddef>
#include <string>

namespace audimera {

class PulseStream {
public:
    bool isOpen() const { return m_stream != nullptr; }
    // The stream failed (its device removed, the server gone).
    bool hasFailed() const { return m_failed.load(std::memory_order_acquire); }
    // notOpen() without a stream, failure() once it failed, else success.
    audimera::Status status() const;
    // Pauses the stream (the server stops taking or sending its sound) or
    // lets it go on; what is queued stays. Without a stream, nothing.
    void pause(bool paused);

protected:
    // kind: "play" or "record", as the failure texts name the stream.
    PulseStream(PulseContext& pulse, const char* kind) : m_pulse(pulse), m_kind(kind) {}
    ~PulseStream() = default;
    PulseStream(const PulseStream&) = delete;
    PulseStream& operator=(const PulseStream&) = delete;

    static constexpr auto Flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);

    // Makes a stream named name with this object's state callback, then,
    // lock held, connect(fresh) sets its data callback and returns what
    // pa_stream_connect_playback/record returned. Once the stream is ready,
    // adopt() sets the owner's state for it (lock held) and it becomes the
    // stream, its failure cleared and the previous stream released.
    // Otherwise the new stream is released and the server's reason (a time-
    // out when it never got ready) returned; the current stream stays.
    template <typename Connect, typename Adopt>
    audimera::Status openStream(const char* name, const pa_sample_spec& format, const pa_channel_map& map,
                                Connect connect, Adopt adopt)
    {
        if (!m_pulse.isReady())
            return audimera::Error{PulseContext::NotConnected};
        pa_stream* fresh;
        {
            PulseContext::Lock lock(m_pulse);
            fresh = make(name, format, map);
            if (!fresh)
                return audimera::Error{m_pulse.errorText()};
            if (connect(fresh) < 0)
                return dropFresh(fresh);
        }
        waitReady(fresh);
        PulseContext::Lock lock(m_pulse);
        if (pa_stream_get_state(fresh) != PA_STREAM_READY)
            return dropFresh(fresh);
        adopt();
        takeOver(fresh);
        return {};
    }

    // Releases the current stream. Lock held.
    void releaseStream();

    // A record stream's read callback: hands each fragment queued on stream
    // to take(data, bytes) (data null for a hole) when it is the current
    // stream, and drops it, until none is left. A queue that cannot be read
    // fails the current stream. Server's thread, lock held.
    template <typename Take>
    void drainRecorded(pa_stream* stream, Take take) noexcept
    {
        const bool current = stream == m_stream;
        for (;;) {
            const void* data = nullptr;
            size_t bytes = 0;
            if (pa_stream_peek(stream, &data, &bytes) < 0) {
                if (current)
                    markFailed(stream);
                return;
            }
            if (bytes == 0)
                return; // nothing queued (no hole either)
            if (current)
                take(data, bytes);
            pa_stream_drop(stream);
        }
    }

    // Records the stream's failure with the context's error. Server's
    // thread, lock held.
    void markFailed(pa_stream* stream) noexcept;

    // "No <kind> device is open".
    audimera::Error notOpen() const;
    // "The <kind> stream failed: " and reason (the recorded failure's text
    // when empty).
    audimera::Error failure(const std::string& reason = {}) const;

    PulseContext& m_pulse;
    pa_stream* m_stream = nullptr; // written by the UI thread with the lock held

private:
    static void stateCallback(pa_stream* stream, void* self);
    static void release(pa_stream* stream);
    // A new stream with the state callback set; null on failure. Lock held.
    pa_stream* make(const char* name, const pa_sample_spec& format, const pa_channel_map& map);
    // Waits, lock released, until fresh has left the connecting states.
    void waitReady(pa_stream* fresh);
    // Why fresh did not start; releases it. Lock held.
    audimera::Error dropFresh(pa_stream* fresh);
    // fresh becomes the stream; the previous one is released. Lock held.
    void takeOver(pa_stream* fresh);

    const char* m_kind;
    std::atomic<bool> m_failed{false};
    std::atomic<int> m_error{PA_OK};
};

} // namespace audimera
