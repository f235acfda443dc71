// Plays a looping 25000-sample table at a live rate into the 44100 Hz output
// stream, band-limited, the way a sound card's variable-rate play buffer does.
//
// The read position is exact: a table index plus a numerator over 44100 that
// grows by the rate at every output sample, so the pitch never drifts and a
// rate change takes effect at the next output sample without a gap or phase
// jump. Output samples are floats in the 16-bit scale (full scale 32768).
//
// Reading:
// - rate <= 44100: the table is upsampled once, exactly (through its DFT), to
//   twice its rate when it is set; a short fixed kernel then interpolates that
//   2x table. Everything up to half the table rate is kept, nothing above it.
//   At exactly 44100 from a start every sample comes out unchanged.
// - rate > 44100: a windowed-sinc kernel cuts at 22050 Hz, so nothing above it
//   folds back below 20 kHz. It reads whichever of a few shorter copies of
//   the table (resampled exactly through the DFT, each band-limited to its
//   own half rate) plays closest above 44100, so the kernel is stretched by at
//   most 1.28 and costs about the same at every rate.
//
// The player plays the rate it is given (1..MaxRate); limiting the rate to
// what the sound card supports is the device's job.
//
// Threads: render() runs on the audio thread and never allocates, locks or
// throws. setRate(), start(), stop() may be called from any thread. setTable()
// must not run while render() does (call it while stopped, with the audio
// thread kept out of render()).
#pragma once

#include <atomic>
#include <complex>
#include <cstdint>
#include <vector>

class TablePlayer {
public:
    static constexpr int TableSamples = 25000;
    static constexpr int OutputRate = 44100;
    static constexpr int MaxRate = 192000;

    TablePlayer();
    TablePlayer(const TablePlayer&) = delete;
    TablePlayer& operator=(const TablePlayer&) = delete;

    // Copies the first TableSamples samples of table and rewinds. Not
    // concurrent with render(). Allocates nothing.
    void setTable(const int16_t* table);

    // Reading speed in table samples per second, clamped to 1..MaxRate.
    void setRate(int rate);
    int rate() const { return m_rate.load(std::memory_order_relaxed); }

    // start() plays from the table's first sample; stop() silences and
    // rewinds. The rewind reaches the audio thread at its next render().
    void start();
    void stop();
    bool isPlaying() const { return (m_state.load(std::memory_order_relaxed) & 1u) != 0; }

    // Writes the next count output samples (silence while stopped).
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

    // Audio thread only.
    uint32_t m_seenCommand = 0;
    int m_index = 0;     // table sample at or before the read position
    int m_numerator = 0; // position past m_index, in 1/44100 of a sample
    // Decimation set-up for m_downRate.
    int m_downRate = 0;
    int m_downCopy = 0;
    int m_downStart = 0; // the copy's sample 0 in m_copies
    float m_downScale = 1.0f;
    uint64_t m_downStep = 0;
};
