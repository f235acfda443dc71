#include "signal/RateConverter.h"

#include "signal/KaiserWindow.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <stdexcept>

namespace audimera {

namespace {

constexpr double Pi = 3.14159265358979323846;

// The kernel keeps the band up to 20 kHz of 44100 Hz (its share of the lower
// of the two rates below that) and is 120 dB down from the mirror of that
// edge, where anything would fold back into the band.
constexpr double PassbandShare = 20000.0 / RateConverter::OutputRate;
constexpr double StopbandDb = 120.0;
// Above this many phases per input sample the rows are interpolated.
constexpr int MaxExactRows = 1024;
constexpr int Lanes = 8; // taps summed side by side; the tap count is a multiple

using kaiser::besselI0;
using kaiser::sinc;

} // namespace

bool RateConverter::supports(int inputRate, int outputRate)
{
    const auto inRange = [](int rate) { return rate >= MinInputRate && rate <= MaxInputRate; };
    return inRange(inputRate) && inRange(outputRate) && inputRate != outputRate;
}

RateConverter::RateConverter(int inputRate, int outputRate) : m_inputRate(inputRate), m_outputRate(outputRate)
{
    if (!supports(inputRate, outputRate))
        throw std::invalid_argument("no conversion between these rates");
    const int common = std::gcd(inputRate, outputRate);
    m_up = outputRate / common;
    m_down = inputRate / common;

    // Kernel in input samples: cut-off at half the lower rate, transition
    // from the passband edge to its mirror; Kaiser's estimate of the length.
    const double lower = std::min(inputRate, outputRate);
    const double cutoff = lower / 2.0 / inputRate; // cycles per input sample
    const double transition = lower * (1.0 - 2.0 * PassbandShare) / inputRate;
    const double length = (StopbandDb - 7.95) / (2.285 * 2.0 * Pi * transition);
    m_halfTaps = int(std::ceil(length / 2.0));
    m_halfTaps = (m_halfTaps + Lanes / 2 - 1) / (Lanes / 2) * (Lanes / 2);
    m_taps = 2 * m_halfTaps;
    const double beta = kaiser::beta(StopbandDb);
    const double windowNorm = besselI0(beta);
    auto kernel = [&](double t) {
        const double x = t / m_halfTaps;
        if (std::abs(x) >= 1.0)
            return 0.0;
        return 2.0 * cutoff * sinc(2.0 * cutoff * t) * besselI0(beta * std::sqrt(1.0 - x * x)) / windowNorm;
    };

    // Row p, tap k: the kernel at p / rows + halfTaps - 1 - k input samples,
    // for input sample base - (halfTaps - 1) + k.
    m_rowCount = m_up <= MaxExactRows ? m_up : MaxExactRows;
    m_rows.resize(size_t(m_rowCount + 1) * m_taps);
    for (int p = 0; p <= m_rowCount; ++p)
        for (int k = 0; k < m_taps; ++k)
            m_rows[size_t(p) * m_taps + k] = float(kernel(double(p) / m_rowCount + m_halfTaps - 1 - k));
    if (m_rowCount != m_up) {
        m_slopes.resize(size_t(m_rowCount) * m_taps);
        for (size_t i = 0; i < m_slopes.size(); ++i)
            m_slopes[i] = m_rows[i + m_taps] - m_rows[i];
    }

    // The smallest whole delay at which output m needs no input beyond about
    // m * M / L: output 0 then needs input sample 0 at most.
    m_delay = int((int64_t(m_halfTaps) * m_up + m_down - 1) / m_down);
    // The first output whose earliest tap is input sample 0 or later.
    m_settling = m_delay + int((int64_t(m_halfTaps - 1) * m_up + m_down - 1) / m_down);

    // At reset the silence before sample 0 reaches back at most
    // halfTaps - 1 + halfTaps + M / L + 1 samples; after each chunk at most
    // taps - 1 samples are kept.
    m_history.resize(size_t(m_taps + m_down / m_up + 2 + ChunkSamples));
    reset();
}

int64_t RateConverter::inputNeeded(int64_t outputs) const
{
    if (outputs <= 0)
        return 0;
    const int64_t q = (outputs - 1 - m_delay) * m_down;
    const int64_t base = q >= 0 ? q / m_up : -((-q + m_up - 1) / m_up);
    // The first outputs may need only the silence before sample 0, but they
    // are written by a call that gives input.
    return std::max<int64_t>(1, base + m_halfTaps + 1);
}

int RateConverter::maxOutputs(int count) const
{
    return int((int64_t(count) * m_up + m_down - 1) / m_down) + 1;
}

void RateConverter::reset() noexcept
{
    // Output 0 sits at -delay * M / L input samples.
    const int64_t q = -int64_t(m_delay) * m_down;
    m_base = -((-q + m_up - 1) / m_up);
    m_phase = int(q - m_base * m_up);
    m_first = m_base - (m_halfTaps - 1);
    m_held = int(-m_first);
    std::fill(m_history.begin(), m_history.begin() + m_held, 0.0f);
}

int RateConverter::process(const float* in, int count, float* out) noexcept
{
    int written = 0;
    while (count > 0) {
        const int piece = std::min(count, int(ChunkSamples));
        written += processChunk(in, piece, out + written);
        in += piece;
        count -= piece;
    }
    return written;
}

int RateConverter::processChunk(const float* in, int count, float* out) noexcept
{
    std::memcpy(&m_history[size_t(m_held)], in, size_t(count) * sizeof(float));
    m_held += count;
    const int64_t end = m_first + m_held;
    const bool exact = m_rowCount == m_up;
    int written = 0;
    while (m_base + m_halfTaps < end) {
        const float* x = &m_history[size_t(m_base - (m_halfTaps - 1) - m_first)];
        float acc[Lanes] = {};
        if (exact) {
            const float* h = &m_rows[size_t(m_phase) * m_taps];
            for (int k = 0; k < m_taps; k += Lanes)
                for (int lane = 0; lane < Lanes; ++lane)
                    acc[lane] += x[k + lane] * h[k + lane];
        } else {
            const int64_t scaled = int64_t(m_phase) * m_rowCount;
            const int row = int(scaled / m_up);
            const float between = float(double(scaled - int64_t(row) * m_up) / m_up);
            const float* h = &m_rows[size_t(row) * m_taps];
            const float* s = &m_slopes[size_t(row) * m_taps];
            for (int k = 0; k < m_taps; k += Lanes)
                for (int lane = 0; lane < Lanes; ++lane)
                    acc[lane] += x[k + lane] * (h[k + lane] + between * s[k + lane]);
        }
        out[written++] = ((acc[0] + acc[1]) + (acc[2] + acc[3])) + ((acc[4] + acc[5]) + (acc[6] + acc[7]));
        m_phase += m_down;
        m_base += m_phase / m_up;
        m_phase %= m_up;
    }
    // Keep what the next output reaches back to.
    const int drop = int(std::min<int64_t>(m_base - (m_halfTaps - 1) - m_first, m_held));
    if (drop > 0) {
        m_held -= drop;
        std::memmove(m_history.data(), m_history.data() + drop, size_t(m_held) * sizeof(float));
        m_first += drop;
    }
    return written;
}

} // namespace audimera
