// The record side of the log sweep's duplex run on the sound server: one
// record stream, mono or stereo, 32-bit float at the source's own rate, in
// fragments of 40 ms (nothing waits on the sound as it comes, and longer
// fragments let the server's cycle be longer), that collects into a buffer of the caller's from the
// moment it is armed until the buffer is full. Nothing is converted here
// (see PulseSoundDevice::playAndRecord for the rates).
//
// What arrives before arm() or after the buffer is full is dropped. Every
// frame the server sends between the two goes into the buffer in order; a
// hole in the stream (the server skipped ahead) or an overflow the server
// reports means frames were lost on the way, and lostSamples() says so
// rather than letting a shorter stretch pass for the real one.
//
// Threads: the public methods run on the UI thread. The read and overflow
// callbacks run on the server's thread; the buffer is handed to them by
// arm() and taken back by disarm(), both with the lock held, and otherwise
// they share only atomics. They never allocate, block or throw.
#pragma once

#include "devices/PulseStream.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace audimera {

class PulseCaptureStream : public PulseStream {
public:
    // At 44100 Hz; the same time at the stream's own rate.
    static constexpr int FragmentFrames = 1764; // 40 ms

    explicit PulseCaptureStream(PulseContext& pulse);
    ~PulseCaptureStream();

    // Connects a stream of channels (1 or 2) to the source named device at
    // rate. Fails with the server's reason.
    audimera::Status open(const std::string& device, int rate, int channels);
    void close();

    // Collects the next frames frames (interleaved) into buffer from now on.
    void arm(float* buffer, std::size_t frames);
    // Stops collecting; the buffer is the caller's again.
    void disarm();

    std::size_t collected() const
    {
        return m_filled.load(std::memory_order_acquire) / (sizeof(float) * size_t(m_channels));
    }
    bool lostSamples() const { return m_lost.load(std::memory_order_acquire); }

private:
    static void readCallback(pa_stream* stream, size_t bytes, void* self);
    static void overflowCallback(pa_stream* stream, void* self);
    // Takes what arrived (data null: a hole). Server's thread.
    void take(const void* data, size_t bytes) noexcept;

    int m_channels = 1; // set before the stream exists
    std::atomic<uint8_t*> m_target{nullptr};
    std::atomic<size_t> m_wanted{0}; // bytes
    std::atomic<size_t> m_filled{0}; // bytes
    std::atomic<bool> m_lost{false};
};

} // namespace audimera
