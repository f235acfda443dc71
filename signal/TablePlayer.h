// Plays a looping 25000-sample table at a live rate into an output stream of
// a fixed rate (44100 Hz unless set otherwise), band-limited, the way a sound
// card's variable-rate play buffer does. The output rate is the play
// stream's own: a table read at rate R sounds at the same frequency whatever
// the output rate, so the device can open its stream at the rate the sink
// runs at (say 48000 Hz) and the server converts nothing.
//
// The read position is exact: a table index plus a numerator over the output
// rate that grows by the rate at every output sample, so the pitch never
// drifts and a rate change takes effect at the next output sample without a
// gap or phase jump. Output samples are floats in the 16-bit scale (full
// scale 32768).
//
// Reading (O is the output rate):
// - rate <= O: the table is upsampled once, exactly (through its DFT), to
//   twice its rate when it is set; a short fixed kernel then interpolates that
//   2x table. Everything up to half the table rate is kept, nothing above it.
//   At exactly O from a start every sample comes out unchanged.
// - rate > O: a windowed-sinc kernel cuts at O / 2 (flat to 0.4535 O, which
//   is 20 kHz at 44100 and above), so nothing above it folds back into that
//   band. It reads whichever of a few shorter copies of the table (resampled
//   exactly through the DFT, each band-limited to its own half rate) plays
//   closest above O, so the kernel is stretched by at most 1.28 and costs
//   about the same at every rate.
// The quality is the same at every output rate; the cost per output sample
// is too, so a second of output costs O / 44100 times what it does at 44100.
//
// The player plays the rate it is given (1..MaxRate); limiting the rate to
// what the sound card supports is the device's job.
//
// Period mode (setPeriod): instead of the table, a signal of any length from
// MinPeriod to MaxPeriod samples, made at the output rate, plays in a loop
// exactly at that rate: every sample as it is (scaled from full scale 1.0 to
// the 16-bit scale), nothing interpolated; the rate is ignored. setTable()
// returns to the table mode.
//
// Threads: render() runs on the audio thread and never allocates, locks or
// throws. setRate(), start(), stop() may be called from any thread.
// setTable(), setPeriod() and setOutputRate() must not run while render()
// does (call them while the audio thread is kept out of render(), e.g. before
// the stream is connected).
#pragma once

#include "common/AudioFormat.h"
#include <atomic>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace audimera {

class TablePlayer {
public:
    static constexpr int TableSamples = audimera::ToneSamples;
    static constexpr int DefaultOutputRate = audimera::SampleRate;
    static constexpr int MinOutputRate = 8000;
    static constexpr int MaxOutputRate = 192000;
    static constexpr int MaxRate = 192000;
    // Lengths of a period, in samples.
    static constexpr std::size_t MinPeriod = 16;
    static constexpr std::size_t MaxPeriod = std::size_t(1) << 20;

    TablePlayer();
    TablePlayer(const TablePlayer&) = delete;
    TablePlayer& operator=(const TablePlayer&) = delete;

    // Copies the first TableSamples samples of table and rewinds. Not
    // concurrent with render(). Allocates nothing.
    void setTable(const int16_t* table);

    // Copies count samples of period (full scale 1.0) to loop at the output
    // rate and rewinds; false (nothing changed) when count lies outside
    // MinPeriod..MaxPeriod. Allocates; not concurrent with render().
    bool setPeriod(const float* period, std::size_t count);
    bool periodMode() const { return m_periodMode; }

    // The rate of the output stream in samples per second, clamped to
    // MinOutputRate..MaxOutputRate; set it when the stream opens, to the rate
    // the stream was opened at. Rewinds. Not concurrent with render().
    // Allocates nothing.
    void setOutputRate(int outputRate);
    int outputRate() const { return m_outputRate; }

    // Reading speed in table samples per second, clamped to 1..MaxRate.
    void setRate(int rate);
    int rate() const { return m_rate.load(std::memory_order_relaxed); }

    // start() plays from the table's first sample; stop() silences and
    // rewinds. The rewind reaches the audio thread at its next render().
    void start();
    void stop();
    bool isPlaying() const { return (m_state.load(std::memory_order_relaxed) & 1u) != 0; }

    // Writes the next count output samples at the output rate (silence while
    // stopped).
    void render(float* out, int count) noexcept;

private:
    void command(bool play);
    float readUp(int index, int numerator) const noexcept;
    float readDown(int index, int numerator) const noexcept;
    void prepareDown(int rate) noexcept;

    struct KernelPoint {
        float value;
        float slope; // next point minus this one
    };

    // The table exactly upsampled to twice its rate, and the table with its
    // shorter copies one after the other; each padded on both sides with the
    // wrapped-around samples the kernels reach.
    std::vector<float> m_table2x;
    std::vector<float> m_copies;
    // Interpolation kernel of the 2x table: (phases + 1) rows of taps, and
    // the row-to-row differences for interpolating between phases.
    std::vector<float> m_upRows;
    std::vector<float> m_upSlopes;
    // One half of the decimating kernel, in output-sample units.
    std::vector<KernelPoint> m_downKernel;

    // Work space of setTable() (the exact 2x upsampling).
    std::vector<std::complex<double>> m_tableSpectrum;
    std::vector<std::complex<double>> m_spectrum;
    std::vector<std::complex<double>> m_signal;

    std::atomic<int> m_rate;
    // Bit 0: playing. Bits 1..: command count; a new count makes the audio
    // thread rewind.
    std::atomic<uint32_t> m_state{0};

    // Set only while render() cannot run.
    int m_outputRate = DefaultOutputRate;
    bool m_periodMode = false;
    std::vector<float> m_period; // in the 16-bit scale
    double m_upPhaseScale; // kernel phases per 1/m_outputRate of a 2x sample

    // Audio thread only.
    uint32_t m_seenCommand = 0;
    int m_index = 0;     // table sample at or before the read position
    int m_numerator = 0; // position past m_index, in 1/m_outputRate of a sample
    std::size_t m_periodAt = 0; // the next sample of the period
    // Decimation set-up for m_downRate.
    int m_downRate = 0;
    int m_downCopy = 0;
    int m_downStart = 0; // the copy's sample 0 in m_copies
    float m_downScale = 1.0f;
    uint64_t m_downStep = 0;
};

} // namespace audimera
