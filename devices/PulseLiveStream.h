// The live capture on the sound server, for the analyser and the sound level
// meter: one record stream, always stereo 32-bit float at the source's own
// rate (a mono source comes up as two equal channels), in fragments of
// FragmentMs, mixed to mono here, not by the server (servers mix a stereo
// source into a mono stream differently; see PulseSoundDevice::playAndRecord),
// into a ring that keeps at least SoundDevice::CaptureKeptSeconds.
//
// The ring is single-producer/single-consumer and lock-free: the read
// callback (server's thread) writes frames and then publishes the count
// written; read() (UI thread) copies what is published and then publishes the
// count read. A fragment that does not fit (the reader fell more than the
// ring behind) is dropped. A hole in the stream, an overflow the server
// reports, or a dropped fragment marks a gap at the count written at that
// moment; read() skips to the latest gap and says so, since whatever came
// before it is no longer continuous with what follows.
//
// Threads: the public methods run on the UI thread. The ring is allocated by
// open() before the stream exists and freed by close() after it is released;
// the callbacks share with the UI thread only the ring's samples (each
// sample owned by one side at a time, as the counts say) and atomics. They
// never allocate, block, log or throw.
#pragma once

#include "devices/PulseStream.h"
#include "devices/SoundDevice.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace audimera {

class PulseLiveStream : public PulseStream {
public:
    static constexpr int FragmentMs = 20;

    explicit PulseLiveStream(PulseContext& pulse);
    ~PulseLiveStream();

    // Connects a stream to the source named device at rate, keeping channel
    // (Mix: the mean of left and right). Fails with the server's reason.
    audimera::Status open(const std::string& device, int rate, RecordChannel channel);
    void close();
    // Frames the ring holds (a power of two); 0 while closed.
    std::size_t capacity() const { return m_ring.size(); }

    struct Taken {
        std::size_t frames = 0;
        bool gap = false;
    };
    // Appends to out what arrived since the last read, from the latest gap
    // on. Never waits.
    Taken read(std::vector<float>& out);

private:
    static void readCallback(pa_stream* stream, size_t bytes, void* self);
    static void overflowCallback(pa_stream* stream, void* self);
    // Takes what arrived (data null: a hole). Server's thread.
    void take(const void* data, size_t bytes) noexcept;
    void markGap() noexcept; // server's thread

    // Set by the UI thread while no stream exists.
    std::vector<float> m_ring;
    std::size_t m_mask = 0;
    float m_leftWeight = 0.5f, m_rightWeight = 0.5f;

    // Server's thread: a partial frame left over from the last fragment.
    float m_partial[2] = {0.0f, 0.0f};
    std::size_t m_partialBytes = 0;

    // Frames written and read since the stream opened; the gap's position
    // plus one (0: none yet).
    std::atomic<uint64_t> m_written{0};
    std::atomic<uint64_t> m_read{0};
    std::atomic<uint64_t> m_gapAt{0};
    uint64_t m_seenGap = 0; // UI thread
};

} // namespace audimera
