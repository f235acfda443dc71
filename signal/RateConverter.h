// Converts a recorded stream from the record device's own rate to the
// measurement's 44100 Hz, so that the sound server converts nothing: the
// record stream is opened at the source's rate in 32-bit float, and the
// device turns it into the 44100 Hz block the analysis sees.
//
// Quality, at every input rate of 44100 Hz and above: flat within 0.01 dB up
// to 20 kHz, and everything that would fold back below 20 kHz (input from
// 24.1 kHz up) at least 100 dB down; below 44100 Hz the same up to 0.4535 of
// the input rate, with images 100 dB down. It is a linear-phase windowed-sinc
// filter (Kaiser, 120 dB) evaluated at the exact output positions: the
// ratio of the rates is kept as a fraction L/M, so the standard rates (all
// of which need at most 441 kernel phases) use exact kernel rows, and other
// rates interpolate between 1024 rows. No drift, no jitter. It costs about
// 0.7 ms of CPU per second of 48000 Hz input and 1.2 ms at 96000 Hz
// (bench_rateconverter). libsoxr at its very-high-quality setting is cleaner
// still at about the same cost, but it allocates while it runs (a few times
// a second) and on every clear, so it could not run in the read callback;
// this one allocates nothing after construction and states its delay and
// its settling exactly.
//
// Timing is exact and constant: input sample n (counted from reset()) comes
// out centred on output position n * 44100 / inputRate + delay(), a whole
// number of output samples. Output sample m depends on the input around
// (m - delay()) * inputRate / 44100 only, and is written as soon as the
// input it needs has been given.
//
// How the record device uses it (for a source rate other than 44100 only;
// at 44100 it records as it always did, with no converter at all):
// - Make one per record stream when the stream opens, at the stream's rate
//   (the constructor allocates; check supports() first).
// - Each block: reset(), then feed the float samples captured after the call
//   began (after the flush and its guard), in any pieces, to process(). Drop
//   the first settlingOutputs() outputs: until then the kernel still reaches
//   back into the silence before reset(), and from there on every output is
//   made only of sound captured after the call began. The next 30000 outputs
//   are the block (rounded and clamped to 16 bits by the device).
// - inputNeeded(settlingOutputs() + 30000) is the number of input samples
//   that completes the block: a capture buffer of that many source frames
//   (converted once the block is in), or a count to collect until (converted
//   as it arrives). maxOutputs() sizes the output of a process() call.
// - At 30000 outputs and 48000 Hz the settling part is about 2 ms of sound,
//   and the block holds the sound of 0.68 s as before.
//
// Threads: no shared state; one thread at a time per object. process() and
// reset() never allocate, lock or throw, so the device may run them on the
// audio thread (in the read callback) or on the UI thread (on the captured
// samples, once the block is in); the constructor allocates and belongs on
// the UI thread, when the stream opens.
#pragma once

#include "common/AudioFormat.h"
#include <cstdint>
#include <vector>

namespace audimera {

class RateConverter {
public:
    static constexpr int OutputRate = audimera::SampleRate;
    static constexpr int MinInputRate = 8000;
    static constexpr int MaxInputRate = 192000;
    // Largest number of input samples process() takes in one go internally;
    // any count may be passed.
    static constexpr int ChunkSamples = 4096;

    // True for every rate from MinInputRate to MaxInputRate except
    // outputRate, which needs no conversion. The log sweep also converts the
    // other way, from 44100 Hz to a play device's rate: any two rates of
    // that range work, with the quality above relative to the lower one.
    static bool supports(int inputRate, int outputRate = OutputRate);

    // The rates must be supported (std::invalid_argument otherwise).
    explicit RateConverter(int inputRate, int outputRate = OutputRate);

    int inputRate() const { return m_inputRate; }
    int outputRate() const { return m_outputRate; }
    // Group delay in output samples (see above).
    int delay() const { return m_delay; }
    // Outputs after reset() that still depend on the silence before it.
    int settlingOutputs() const { return m_settling; }
    // Input samples the kernel reaches on either side of an output's
    // position.
    int kernelReach() const { return m_halfTaps; }
    // Input samples needed, from reset(), until outputs outputs (settling
    // ones included) have been written.
    int64_t inputNeeded(int64_t outputs) const;
    // Upper bound of the outputs one process() call of count inputs writes.
    int maxOutputs(int count) const;

    // Forgets all input: the next input sample is sample 0, and what came
    // before it counts as silence.
    void reset() noexcept;

    // Takes count input samples and writes the outputs they complete to out
    // (room for maxOutputs(count) samples); returns how many.
    int process(const float* in, int count, float* out) noexcept;

private:
    int processChunk(const float* in, int count, float* out) noexcept;

    int m_inputRate;
    int m_outputRate;
    int m_up = 1;   // L: output samples per M input samples
    int m_down = 1; // M
    int m_halfTaps = 0;
    int m_taps = 0;
    int m_delay = 0;
    int m_settling = 0;
    // Kernel rows: m_rows + 1 rows of m_taps taps; row p is for an output
    // position p / m_rows of an input sample past the base sample. Exact
    // when m_rows == m_up; otherwise interpolated with m_slopes.
    int m_rowCount = 0;
    std::vector<float> m_rows;
    std::vector<float> m_slopes;

    // Input kept for the kernel: m_history[i] is input sample m_first + i.
    std::vector<float> m_history;
    int m_held = 0;
    int64_t m_first = 0;
    // Next output: its position is m_base + m_phase / m_up input samples.
    int64_t m_base = 0;
    int m_phase = 0;
};

} // namespace audimera
