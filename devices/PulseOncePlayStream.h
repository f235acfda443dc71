// The play side of the log sweep's duplex run on the sound server: one
// playback stream, stereo float at the sink's own rate, that plays a
// prepared signal once and then silence until it is closed.
//
// The stream is connected corked, so it is ready (and its first request
// filled) before start() lets it play: the caller arms the recording first,
// and the recording then holds everything from before the first sample.
// Like the looping table's, the buffer is set (the server's default would be
// about 2 s), but longer: 200 ms queued, refilled every 20 ms. Nothing here
// changes while it plays, so the queue only adds latency (the sink's share
// of it at most about 200 ms on a real card, next to nothing on a null
// sink), while a shorter one would let a busy machine stall the program's
// side of the server long enough to break the sweep.
//
// Each frame of the signal is handed to the server exactly once, in order.
// Should the server run dry before the whole signal has been handed over
// (the program's side of the server was too late), the played signal has a
// gap: underflowed() says so and the run must be thrown away. Silence after
// the signal keeps the stream from running dry while the tail is recorded.
//
// Threads: the public methods run on the UI thread. The write and underflow
// callbacks run on the server's thread; the signal is read-only while the
// stream exists, and they share with the UI thread only atomics (frames
// handed over, the underflow). They never allocate, block or throw.
#pragma once

#include "devices/PulseStream.h"

#include <atomic>
#include <cstddef>
#include <string>

namespace audimera {

class PulseOncePlayStream : public PulseStream {
public:
    static constexpr int Channels = 2;
    // Buffer attributes in frames at 44100 Hz (the same times at the
    // stream's own rate): queued, asked for at a time, before it starts.
    static constexpr int TargetFrames = 8820;  // 200 ms
    static constexpr int RequestFrames = 882;  // 20 ms
    static constexpr int PrebufferFrames = TargetFrames;

    explicit PulseOncePlayStream(PulseContext& pulse);
    ~PulseOncePlayStream();

    // Connects a corked stream to the sink named device at rate, to play
    // frames (interleaved left/right, count frames) once. The signal is the
    // caller's and must stay unchanged until close(). Fails with the
    // server's reason.
    audimera::Status open(const std::string& device, int rate, const float* frames, std::size_t count);
    // Uncorks: the signal plays from its first frame.
    audimera::Status start();
    // Releases the stream (what is still queued is dropped).
    void close();

    // Frames of the signal handed to the server so far.
    std::size_t handedOver() const { return m_position.load(std::memory_order_acquire); }
    // The server ran dry before the whole signal was handed over.
    bool underflowed() const { return m_underflow.load(std::memory_order_acquire); }

private:
    static void writeCallback(pa_stream* stream, size_t bytes, void* self);
    static void underflowCallback(pa_stream* stream, void* self);

    // Set by open() before the stream exists, then read-only.
    const float* m_frames = nullptr;
    std::size_t m_count = 0;
    std::atomic<std::size_t> m_position{0};
    std::atomic<bool> m_underflow{false};
};

} // namespace audimera
