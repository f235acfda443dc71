#include "signal/TablePlayer.h"

#include "signal/KaiserWindow.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <stdexcept>

namespace audimera {

namespace {

using Complex = std::complex<double>;

constexpr double Pi = 3.14159265358979323846;

// Kernel of the 2x table: passes up to a quarter of the 2x rate (the table's
// own band) and stops from three quarters (the first image), so 8 taps a side
// reach about 120 dB. Interpolated linearly between UpPhases phases.
constexpr int UpHalfTaps = 8;
constexpr int UpTaps = 2 * UpHalfTaps;
constexpr int UpPhases = 512;
constexpr double UpStopbandDb = 120.0;

// Decimating kernel in output-sample units: cut-off at half the output rate,
// with a transition of 0.042 of the output rate each side (1.9 kHz at 44100),
// so the band up to 20 kHz (at 44100) is flat and nothing from 24.1 kHz up
// folds back below 20 kHz.
constexpr int DownHalfWidth = 42;
constexpr int DownPoints = 1024; // kernel points per output sample
constexpr double DownStopbandDb = 110.0;

// Lengths of the copies the decimating kernel reads: the table itself, then
// shorter ones in steps of at most 1.28, down to one that plays MaxRate at
// 9600, above the lowest output rate. Each copy is read at the shortest length
// whose reading rate is still at least the output rate, so the kernel is
// stretched by 1 to 1.28. (At 44100 and above only the first seven are read.)
constexpr int CopyLengths[] = {25000, 20000, 16000, 12500, 10000, 8000, 6250,
                               5000,  4000,  3125,  2500,  2000,  1600, 1250};
constexpr int Copies = int(std::size(CopyLengths));
constexpr double MaxStretch = 1.28;
static_assert(double(TablePlayer::MaxRate) * CopyLengths[Copies - 1] / TablePlayer::TableSamples
              >= TablePlayer::MinOutputRate);
static_assert(double(TablePlayer::MaxRate) * CopyLengths[Copies - 1] / TablePlayer::TableSamples
              <= MaxStretch * TablePlayer::MinOutputRate);

// Wrapped samples kept beside each table for the kernels to run over the ends.
constexpr int PadCopy = 64; // >= DownHalfWidth * MaxStretch + 2
constexpr int Pad2x = 16;   // >= UpHalfTaps + 1
static_assert(DownHalfWidth * MaxStretch + 2 <= PadCopy);

// Start of copy c (its sample 0) in m_copies.
constexpr int copyStart(int c)
{
    int start = PadCopy;
    for (int i = 0; i < c; ++i)
        start += CopyLengths[i] + 2 * PadCopy;
    return start;
}

constexpr double FixedOne = 4294967296.0; // 2^32, the fixed-point unit of kernel positions

using kaiser::sinc;

// Mixed-radix FFT for lengths made of the factors 2, 3, 5 and 7 (the tables
// are 25000 and 50000 long). Forward: X[k] = sum x[n] e^(-2 pi i k n / N).
class Fft {
public:
    explicit Fft(int n) : m_n(n), m_twiddles(n)
    {
        for (int k = 0; k < n; ++k)
            m_twiddles[k] = std::polar(1.0, -2.0 * Pi * k / n);
        int rest = n;
        for (int radix : {4, 2, 3, 5, 7}) {
            while (rest % radix == 0) {
                rest /= radix;
                m_factors.push_back(radix);
                m_factors.push_back(rest);
            }
        }
        if (rest != 1)
            throw std::invalid_argument("FFT length with a prime factor above 7");
    }

    void forward(const Complex* in, Complex* out) const { work(out, in, 1, m_factors.data()); }

    int size() const { return m_n; }

private:
    // Each stage: radix p, sub-transform length m; the sub-transforms are
    // computed recursively, then combined by a generic radix-p butterfly.
    void work(Complex* out, const Complex* in, int stride, const int* factors) const
    {
        const int p = factors[0];
        const int m = factors[1];
        if (m == 1) {
            for (int q = 0; q < p; ++q)
                out[q] = in[q * stride];
        } else {
            for (int q = 0; q < p; ++q)
                work(out + q * m, in + q * stride, stride * p, factors + 2);
        }
        std::array<Complex, 8> scratch;
        for (int u = 0; u < m; ++u) {
            for (int q = 0; q < p; ++q)
                scratch[q] = out[u + q * m];
            for (int q1 = 0; q1 < p; ++q1) {
                const int k = u + q1 * m;
                Complex sum = scratch[0];
                long twiddle = 0;
                for (int q = 1; q < p; ++q) {
                    twiddle += long(stride) * k;
                    if (twiddle >= m_n)
                        twiddle %= m_n;
                    sum += scratch[q] * m_twiddles[twiddle];
                }
                out[k] = sum;
            }
        }
    }

    int m_n;
    std::vector<Complex> m_twiddles;
    std::vector<int> m_factors;
};

// Transform plans, made once and shared: the table's length, twice it, and
// each shorter copy's.
const Fft& fftOfLength(int n)
{
    static const std::vector<Fft> plans = [] {
        std::vector<Fft> all;
        all.emplace_back(2 * TablePlayer::TableSamples);
        for (int length : CopyLengths)
            all.emplace_back(length);
        return all;
    }();
    for (const Fft& plan : plans)
        if (plan.size() == n)
            return plan;
    throw std::invalid_argument("no FFT plan for this length");
}

// Writes the wrapped-around samples on both sides of a padded periodic table.
void wrapPads(float* first, int length, int pad)
{
    for (int i = 0; i < pad; ++i) {
        first[-1 - i] = first[length - 1 - i];
        first[length + i] = first[i];
    }
}

} // namespace

TablePlayer::TablePlayer()
    : m_table2x(2 * TableSamples + 2 * Pad2x, 0.0f),
      m_copies(copyStart(Copies) - PadCopy, 0.0f),
      m_upRows((UpPhases + 1) * UpTaps),
      m_upSlopes(UpPhases * UpTaps),
      m_downKernel(DownHalfWidth * DownPoints + 1),
      m_tableSpectrum(TableSamples),
      m_spectrum(2 * TableSamples),
      m_signal(2 * TableSamples),
      m_rate(DefaultOutputRate),
      m_upPhaseScale(double(UpPhases) / DefaultOutputRate)
{
    fftOfLength(TableSamples);

    // Row r holds the taps for a read position r / UpPhases past a 2x sample:
    // tap k sits at distance r / UpPhases + UpHalfTaps - 1 - k from it.
    const double upBeta = kaiser::beta(UpStopbandDb);
    for (int r = 0; r <= UpPhases; ++r) {
        for (int k = 0; k < UpTaps; ++k) {
            const double t = double(r) / UpPhases + (UpHalfTaps - 1 - k);
            double value = sinc(t) * kaiser::window(t / UpHalfTaps, upBeta);
            if (r == 0) // exactly on a sample: exactly that sample
                value = (k == UpHalfTaps - 1) ? 1.0 : 0.0;
            m_upRows[r * UpTaps + k] = float(value);
        }
    }
    for (int r = 0; r < UpPhases; ++r)
        for (int k = 0; k < UpTaps; ++k)
            m_upSlopes[r * UpTaps + k] = m_upRows[(r + 1) * UpTaps + k] - m_upRows[r * UpTaps + k];

    const double downBeta = kaiser::beta(DownStopbandDb);
    std::vector<double> points(DownHalfWidth * DownPoints + 1);
    for (int e = 0; e < DownHalfWidth * DownPoints; ++e) {
        const double u = double(e) / DownPoints;
        points[e] = sinc(u) * kaiser::window(u / DownHalfWidth, downBeta);
    }
    points.back() = 0.0;
    for (int e = 0; e < DownHalfWidth * DownPoints; ++e)
        m_downKernel[e] = {float(points[e]), float(points[e + 1] - points[e])};
    m_downKernel.back() = {0.0f, 0.0f};
}

void TablePlayer::setTable(const int16_t* table)
{
    constexpr int N = TableSamples;
    for (int i = 0; i < N; ++i)
        m_signal[i] = table[i];
    fftOfLength(N).forward(m_signal.data(), m_tableSpectrum.data());
    const std::vector<Complex>& spectrum = m_tableSpectrum;

    // Periodic resampling through the spectrum: the bins below half the new
    // length, back with an inverse transform (the conjugate of the forward
    // one) of that length. The half-length bin of a longer result is the
    // table's half-rate bin split between its two images.
    auto resample = [&](int length, float* out) {
        for (int k = 0; k < length; ++k)
            m_signal[k] = 0.0;
        const int kept = std::min(length, N);
        for (int k = 0; k < (kept + 1) / 2; ++k)
            m_signal[k] = std::conj(spectrum[k]);
        for (int k = 1; k < (kept + 1) / 2; ++k)
            m_signal[length - k] = std::conj(spectrum[N - k]);
        if (length > N) {
            m_signal[N / 2] = std::conj(spectrum[N / 2]) * 0.5;
            m_signal[length - N / 2] = std::conj(spectrum[N / 2]) * 0.5;
        }
        fftOfLength(length).forward(m_signal.data(), m_spectrum.data());
        for (int n = 0; n < length; ++n)
            out[n] = float(m_spectrum[n].real() / N);
    };

    float* const twice = &m_table2x[Pad2x];
    resample(2 * N, twice);
    for (int i = 0; i < N; ++i) // the table's own samples stay bit for bit
        twice[2 * i] = table[i];
    wrapPads(twice, 2 * N, Pad2x);

    float* const own = &m_copies[copyStart(0)];
    for (int i = 0; i < N; ++i)
        own[i] = table[i];
    wrapPads(own, N, PadCopy);
    for (int c = 1; c < Copies; ++c) {
        float* const copy = &m_copies[copyStart(c)];
        resample(CopyLengths[c], copy);
        wrapPads(copy, CopyLengths[c], PadCopy);
    }

    m_index = 0;
    m_numerator = 0;
    m_periodMode = false;
}

bool TablePlayer::setPeriod(const float* period, std::size_t count)
{
    if (count < MinPeriod || count > MaxPeriod)
        return false;
    m_period.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        m_period[i] = period[i] * 32768.0f; // a power of two: exact
    m_periodAt = 0;
    m_periodMode = true;
    return true;
}

void TablePlayer::setOutputRate(int outputRate)
{
    m_outputRate = std::clamp(outputRate, int(MinOutputRate), int(MaxOutputRate));
    m_upPhaseScale = double(UpPhases) / m_outputRate;
    m_downRate = 0; // the decimation set-up depends on it
    m_index = 0;
    m_numerator = 0;
    m_periodAt = 0;
}

void TablePlayer::setRate(int rate)
{
    m_rate.store(rate < 1 ? 1 : (rate > MaxRate ? MaxRate : rate), std::memory_order_relaxed);
}

void TablePlayer::start()
{
    command(true);
}

void TablePlayer::stop()
{
    command(false);
}

void TablePlayer::command(bool play)
{
    uint32_t state = m_state.load(std::memory_order_relaxed);
    uint32_t next;
    do {
        next = (((state >> 1) + 1) << 1) | (play ? 1u : 0u);
    } while (!m_state.compare_exchange_weak(state, next, std::memory_order_release,
                                            std::memory_order_relaxed));
}

void TablePlayer::render(float* out, int count) noexcept
{
    const uint32_t state = m_state.load(std::memory_order_acquire);
    if ((state >> 1) != m_seenCommand) {
        m_seenCommand = state >> 1;
        m_index = 0;
        m_numerator = 0;
        m_periodAt = 0;
    }
    if ((state & 1u) == 0) {
        for (int n = 0; n < count; ++n)
            out[n] = 0.0f;
        return;
    }
    if (m_periodMode) {
        const std::size_t length = m_period.size();
        for (int n = 0; n < count; ++n) {
            out[n] = m_period[m_periodAt];
            if (++m_periodAt == length)
                m_periodAt = 0;
        }
        return;
    }
    const int outputRate = m_outputRate;
    for (int n = 0; n < count; ++n) {
        const int rate = m_rate.load(std::memory_order_relaxed);
        if (rate <= outputRate) {
            out[n] = readUp(m_index, m_numerator);
        } else {
            if (rate != m_downRate)
                prepareDown(rate);
            out[n] = readDown(m_index, m_numerator);
        }
        m_numerator += rate;
        while (m_numerator >= outputRate) {
            m_numerator -= outputRate;
            ++m_index;
        }
        if (m_index >= TableSamples)
            m_index -= TableSamples;
    }
}

float TablePlayer::readUp(int index, int numerator) const noexcept
{
    // Position in 2x samples: 2 * index + 2 * numerator / m_outputRate.
    int base = 2 * index;
    int rest = 2 * numerator;
    if (rest >= m_outputRate) {
        ++base;
        rest -= m_outputRate;
    }
    const double phase = rest * m_upPhaseScale;
    const int row = int(phase);
    const float between = float(phase - row);
    const float* taps = &m_table2x[Pad2x + base - (UpHalfTaps - 1)];
    const float* values = &m_upRows[row * UpTaps];
    const float* slopes = &m_upSlopes[row * UpTaps];
    float acc[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    for (int k = 0; k < UpTaps; k += 4)
        for (int lane = 0; lane < 4; ++lane)
            acc[lane] += taps[k + lane] * (values[k + lane] + between * slopes[k + lane]);
    return (acc[0] + acc[1]) + (acc[2] + acc[3]);
}

void TablePlayer::prepareDown(int rate) noexcept
{
    m_downRate = rate;
    m_downCopy = 0;
    while (m_downCopy + 1 < Copies
           && int64_t(rate) * CopyLengths[m_downCopy + 1] >= int64_t(m_outputRate) * TableSamples)
        ++m_downCopy;
    // Output samples per sample of the copy, and kernel points per sample
    // of the copy in 32.32 fixed point, so each tap costs one add to place.
    const double scale = double(m_outputRate) * TableSamples / (double(rate) * CopyLengths[m_downCopy]);
    m_downScale = float(scale);
    m_downStart = copyStart(m_downCopy);
    m_downStep = uint64_t(scale * DownPoints * FixedOne + 0.5);
}

float TablePlayer::readDown(int index, int numerator) const noexcept
{
    // The read position in samples of the copy, exactly, then as a fraction.
    const int length = CopyLengths[m_downCopy];
    const int64_t unit = int64_t(m_outputRate) * TableSamples;
    const int64_t scaled = (int64_t(index) * m_outputRate + numerator) * length;
    const int64_t whole = scaled / unit;
    const double past = double(scaled - whole * unit) / double(unit);
    const float* x = &m_copies[m_downStart + whole];

    const double step = double(m_downStep) / FixedOne;
    constexpr uint64_t end = uint64_t(DownHalfWidth * DownPoints) << 32;
    constexpr float fraction = float(1.0 / FixedOne);

    float left[2] = {0.0f, 0.0f};
    uint64_t at = uint64_t(past * step * FixedOne + 0.5);
    for (int k = 0; at < end; ++k, at += m_downStep) {
        const KernelPoint& p = m_downKernel[at >> 32];
        left[k & 1] += x[-k] * (p.value + float(uint32_t(at)) * fraction * p.slope);
    }
    float right[2] = {0.0f, 0.0f};
    at = uint64_t((1.0 - past) * step * FixedOne + 0.5);
    for (int k = 1; at < end; ++k, at += m_downStep) {
        const KernelPoint& p = m_downKernel[at >> 32];
        right[k & 1] += x[k] * (p.value + float(uint32_t(at)) * fraction * p.slope);
    }
    return m_downScale * ((left[0] + left[1]) + (right[0] + right[1]));
}

} // namespace audimera
