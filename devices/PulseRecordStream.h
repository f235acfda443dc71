// The record side of the sound card on the sound server: one record stream,
// mono (or stereo, to check the balance), in fragments of 5 ms, at the rate
// the source runs at. A source at 44100 Hz is recorded in 16 bits as it
// comes, nothing converted anywhere. A source at another rate is recorded in
// 32-bit float at its own rate and converted here to 44100 Hz by a
// RateConverter (flat within 0.01 dB to 20 kHz, images 100 dB down), then
// rounded to 16 bits: the server's own conversion would cut the top of the
// band, twice with the play side's. The blocks are 44100 Hz 16-bit either
// way. The stream runs from open to close and what it delivers is dropped
// unless a block is being recorded, so a block starts without waiting for a
// device to start up.
//
// A block holds only sound captured after record() began: record() flushes
// the server's queue and everything that arrives before the server confirms
// the flush is dropped. The server answers and sends sound in order, so what
// arrives after the confirmation left the source after the flush, except for
// what was on its way inside the server or still in the source's own buffer
// (each at most about one fragment): two fragments more are dropped for that.
// When converting, the converter starts afresh after those, and its first
// settlingOutputs() outputs, which still reach back into the silence before
// its start, are dropped too.
//
// Threads: the public methods run on the UI thread. The read callback runs on
// the server's thread and copies into the caller's buffer, handed over for
// the duration of one record() call: armed with the lock held, collected
// until full, and disarmed with the lock held before record() returns. They
// share only atomics otherwise; the converter and its buffers, made when the
// stream opens, are the callback's (the UI thread resets them while arming).
// The callbacks never allocate, block or throw.
#pragma once

#include "devices/PulseStream.h"
#include "signal/RateConverter.h"
#include "devices/SoundDevice.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace audimera {

class PulseRecordStream : public PulseStream {
public:
    // At 44100 Hz; the same times at the stream's own rate.
    static constexpr int FragmentFrames = 221; // 5 ms
    static constexpr int GuardFrames = 2 * FragmentFrames;
    // Nothing arriving for this long fails the block.
    static constexpr int StallMs = 2000;
    static constexpr const char* StalledError = "No sound was recorded for 2 seconds";

    explicit PulseRecordStream(PulseContext& pulse);
    ~PulseRecordStream();

    // Connects a stream of channels (1 or 2) to the source named device, at
    // the rate the source runs at (44100 Hz when the server does not say or
    // the converter cannot take it). Only when it is ready does it replace
    // the current stream; otherwise the current one stays and the server's
    // reason is returned.
    audimera::Status open(const std::string& device, int channels);
    void close();
    // The rate of the open stream in Hz (the source's); 0 when none is open.
    int streamRate() const { return m_stream ? m_rate : 0; }
    // Whether the stream's sound is converted to 44100 Hz here.
    bool converts() const { return m_stream && m_conversion; }
    int channels() const { return m_channels; }

    // Records samples interleaved samples (a whole number of frames) into
    // buffer, all captured after the call began, calling waiter.waitOnce()
    // until they are there. Fails when the stream fails or nothing arrives
    // for StallMs; gives up with Cancelled when the waiter says so.
    audimera::Result<Recorded> record(int16_t* buffer, int samples, RecordWaiter& waiter);

    // Samples collected so far by the record() in progress.
    int collected() const { return int(m_filled.load(std::memory_order_acquire) / sizeof(int16_t)); }

private:
    enum Phase { Idle, Flushing, Collecting };

    static void readCallback(pa_stream* stream, size_t bytes, void* self);
    static void flushCallback(pa_stream* stream, int success, void* self);
    // The converters of a stream at another rate than 44100 Hz (one per
    // channel) and their work space, sized for RateConverter::ChunkSamples
    // frames at a time.
    struct Conversion {
        Conversion(int rate, int channels);
        std::vector<RateConverter> converters;
        std::vector<float> frames; // interleaved input, 16-bit scale
        std::vector<float> input;  // one channel of it
        std::vector<float> output; // each channel's outputs, outputStride apart
        size_t outputStride = 0;
    };

    // Takes what arrived into the armed buffer. Server's thread.
    void take(const void* data, size_t bytes) noexcept;
    // take() for a converted stream: float frames (data null: silence).
    void convert(const uint8_t* data, size_t bytes) noexcept;
    // Stops collecting; after it the buffer is the caller's again.
    void disarm();

    int m_channels = 1;
    // Of the open stream; written by the UI thread with the lock held.
    int m_rate = 0;
    size_t m_frameBytes = sizeof(int16_t);
    int m_guardFrames = GuardFrames;
    std::unique_ptr<Conversion> m_conversion; // none at 44100 Hz
    // Converted frames still to drop before the block (settling); set while
    // arming, then the callback's.
    int m_settleLeft = 0;
    int m_opened = 0; // counts opens and closes, to notice one during record()

    // The armed block: written by the UI thread with the lock held while
    // Idle, then filled by the callback.
    std::atomic<int> m_phase{Idle};
    std::atomic<uint8_t*> m_target{nullptr};
    std::atomic<size_t> m_wanted{0};
    std::atomic<size_t> m_filled{0};
    std::atomic<size_t> m_skip{0}; // bytes still to drop before collecting
    // Flushes asked and confirmed on the current stream; only the latest one
    // starts collecting. Both start again at 0 with every stream: a flush
    // asked of a stream that went away is never confirmed.
    std::atomic<unsigned> m_flushesAsked{0};
    std::atomic<unsigned> m_flushesDone{0};
};

} // namespace audimera
