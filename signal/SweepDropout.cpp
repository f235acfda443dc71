#include "signal/SweepDropout.h"

#include "signal/RealFft.h"

#include <algorithm>
#include <cmath>

namespace audimera {

namespace SweepDropout {

namespace {

constexpr double Pi = 3.14159265358979323846;

// The median of values (reordered).
double median(std::vector<double>& values)
{
    const auto middle = values.begin() + std::ptrdiff_t(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// The median distance of values from their median m (reordered).
double spread(std::vector<double>& values, double m)
{
    for (double& v : values)
        v = std::abs(v - m);
    return median(values);
}

} // namespace

std::optional<double> largestTimingStep(const std::vector<double>& response, std::size_t peak, double fromHz,
                                        double toHz, int rate, double* stepHz)
{
    // The response within StepWindowSeconds of its peak, tapered at both
    // ends: the sweep's own arrival and the copy a skip leaves, not a
    // room's reverberation.
    const auto half = std::ptrdiff_t(std::lround(StepWindowSeconds * rate));
    const std::ptrdiff_t from = std::max<std::ptrdiff_t>(0, std::ptrdiff_t(peak) - half);
    const std::ptrdiff_t to = std::min<std::ptrdiff_t>(std::ptrdiff_t(response.size()), std::ptrdiff_t(peak) + half);
    if (to - from < 2)
        return std::nullopt;
    // Only a response whose sound arrives at once: in a reverberant one
    // (a room, a reverb) the bands' delays are the reverberation's, which
    // may step by tens of milliseconds between bands of a sound that was
    // recorded whole.
    {
        double direct = 0, all = 0;
        const auto near = std::ptrdiff_t(std::lround(StepDirectSeconds * rate));
        for (std::ptrdiff_t i = from; i < to; ++i) {
            const double e = response[std::size_t(i)] * response[std::size_t(i)];
            all += e;
            if (std::abs(i - std::ptrdiff_t(peak)) <= near)
                direct += e;
        }
        if (!(direct >= StepDirectShare * all))
            return std::nullopt;
    }
    RealFft fft(RealFft::goodLength(std::size_t(to - from)));
    std::fill(fft.time(), fft.time() + fft.size(), 0.0);
    const double length = double(to - from);
    const double taper = std::max(1.0, 0.1 * length);
    for (std::ptrdiff_t i = from; i < to; ++i) {
        const double edge = std::min(double(i - from) + 0.5, double(to - i) - 0.5);
        const double w = edge >= taper ? 1.0 : 0.5 * (1 - std::cos(Pi * edge / taper));
        // The peak at time 0, so that delays near it do not wrap.
        const std::ptrdiff_t n = std::ptrdiff_t(fft.size());
        fft.time()[((i - std::ptrdiff_t(peak)) % n + n) % n] = response[std::size_t(i)] * w;
    }
    fft.forward();
    const std::complex<double>* spectrum = fft.spectrum();
    const double binHz = double(rate) / double(fft.size());
    // Each band's delay from the phase turn between neighbouring bins.
    struct Band {
        double hz, delay, energy;
        bool coherent;
    };
    std::vector<Band> bands;
    const double step = std::exp2(1.0 / StepBandsPerOctave);
    for (auto k0 = std::size_t(std::ceil(std::max(fromHz, MinStepHz) / binHz));;) {
        const std::size_t k1 = std::max(k0 + MinStepBandBins, std::size_t(double(k0) * step));
        if (double(k1) * binHz > toHz || k1 >= fft.bins())
            break;
        std::complex<double> turn = 0;
        double energy = 0;
        for (std::size_t k = k0 + 1; k <= k1; ++k) {
            turn += spectrum[k] * std::conj(spectrum[k - 1]);
            energy += std::norm(spectrum[k]);
        }
        bands.push_back({0.5 * double(k0 + k1) * binHz, -std::arg(turn) * double(fft.size()) / (2 * Pi), energy,
                         std::abs(turn) >= StepCoherence * energy});
        k0 = k1;
    }
    if (bands.size() < 2 * StepGroupBands + StepGapBands)
        return std::nullopt;
    double loudest = 0;
    for (const Band& b : bands)
        loudest = std::max(loudest, b.energy);
    const double judged = StepBandShare * loudest;
    // Each place: the median delay of the StepGroupBands above a gap of
    // StepGapBands (where a skip leaves no sound) less that of those below.
    std::optional<double> largest;
    for (std::size_t b = 0; b + 2 * StepGroupBands + StepGapBands <= bands.size(); ++b) {
        std::vector<double> below, above;
        for (std::size_t i = b; i < b + StepGroupBands; ++i)
            if (bands[i].energy >= judged && bands[i].coherent)
                below.push_back(bands[i].delay);
        for (std::size_t i = b + StepGroupBands + StepGapBands; i < b + 2 * StepGroupBands + StepGapBands; ++i)
            if (bands[i].energy >= judged && bands[i].coherent)
                above.push_back(bands[i].delay);
        if (2 * below.size() < StepGroupBands || 2 * above.size() < StepGroupBands)
            continue;
        const double aboveAt = median(above), belowAt = median(below);
        const double jump = aboveAt - belowAt;
        // A skip moves every band after it by the same amount; a room's
        // reflections scatter the bands' delays on both sides instead.
        if (std::abs(jump) < StepOverSpread * std::max(spread(above, aboveAt), spread(below, belowAt)))
            continue;
        if (!largest || std::abs(jump) > std::abs(*largest)) {
            largest = jump;
            if (stepHz)
                *stepHz = bands[b + StepGroupBands + StepGapBands / 2].hz;
        }
    }
    return largest;
}

std::optional<std::size_t> findJump(const float* recorded, std::size_t frames, std::size_t stride,
                                    std::size_t from, std::size_t to, std::size_t periodSamples)
{
    const std::size_t m = JumpSamples;
    from = std::max(from, m);
    to = std::min(to, frames >= m ? frames - m + 1 : 0);
    if (from >= to)
        return std::nullopt;
    // The least-squares cubic through samples at -m + 1/2 ... -1/2, read at
    // 0: weights w for its value and d for its slope (per sample times m),
    // from its normal equations (Gauss-Jordan on 4 x 4, two right sides).
    std::vector<double> w(m), d(m);
    {
        double a[4][6] = {};
        for (std::size_t j = 0; j < m; ++j) {
            const double t = double(j) - double(m) + 0.5;
            const double p[4] = {1, t, t * t, t * t * t};
            for (int r = 0; r < 4; ++r)
                for (int c = 0; c < 4; ++c)
                    a[r][c] += p[r] * p[c];
        }
        a[0][4] = 1;
        a[1][5] = double(m);
        for (int c = 0; c < 4; ++c)
            for (int r = 0; r < 4; ++r)
                if (r != c) {
                    const double f = a[r][c] / a[c][c];
                    for (int k = c; k < 6; ++k)
                        a[r][k] -= f * a[c][k];
                }
        for (std::size_t j = 0; j < m; ++j) {
            const double t = double(j) - double(m) + 0.5;
            double power = 1;
            for (int r = 0; r < 4; ++r, power *= t) {
                w[j] += power * a[r][4] / a[r][r];
                d[j] += power * a[r][5] / a[r][r];
            }
        }
    }
    const auto x = [&](std::size_t i) { return double(recorded[i * stride]); };
    // The partings in value and slope at the boundary before each frame i
    // (the fit after it is that before, mirrored in time).
    std::vector<double> parting(to - from), bend(to - from);
    for (std::size_t i = from; i < to; ++i) {
        double left = 0, right = 0, leftSlope = 0, rightSlope = 0;
        for (std::size_t j = 0; j < m; ++j) {
            left += w[j] * x(i - m + j);
            right += w[j] * x(i + m - 1 - j);
            leftSlope += d[j] * x(i - m + j);
            rightSlope -= d[j] * x(i + m - 1 - j);
        }
        parting[i - from] = std::abs(left - right);
        bend[i - from] = std::abs(leftSlope - rightSlope);
    }
    std::vector<double> sorted = parting;
    const double usual = median(sorted);
    sorted = bend;
    const double usualBend = median(sorted);
    // A recording's quantum (its smallest step between neighbours): a
    // quantised sweep climbs slowly where it is low and at its crests, in
    // steps the fits see as jumps of a few quanta.
    double quantum = HUGE_VAL;
    for (std::size_t i = from - m + 1; i < to + m - 1; ++i)
        if (const double step = std::abs(x(i) - x(i - 1)); step > 0)
            quantum = std::min(quantum, step);
    // What one quantum's step anywhere in the fits' samples does to them
    // at most (partial sums of the weights).
    double stepValue = 0, stepBend = 0, sumValue = 0, sumBend = 0;
    for (std::size_t j = m; j-- > 0;) {
        sumValue += w[j];
        sumBend += d[j];
        stepValue = std::max(stepValue, std::abs(sumValue));
        stepBend = std::max(stepBend, std::abs(sumBend));
    }
    const double noise = std::max(JumpOverNoise * usual, JumpOverQuantum * quantum * stepValue);
    const double noiseBend = std::max(JumpOverNoise * usualBend, JumpOverQuantum * quantum * stepBend);
    // Running energy for the local amplitude.
    std::vector<double> energy(frames + 1, 0.0);
    for (std::size_t i = 0; i < frames; ++i)
        energy[i + 1] = energy[i] + x(i) * x(i);
    const std::size_t half = std::max<std::size_t>(1, periodSamples / 2);
    for (std::size_t i = from; i < to; ++i) {
        const double p = parting[i - from], q = bend[i - from];
        if (p < noise && q < noiseBend)
            continue;
        const std::size_t a = i > half ? i - half : 0, b = std::min(frames, i + half);
        const double least = JumpShare * std::sqrt(2 * (energy[b] - energy[a]) / double(b - a));
        if ((p >= noise && p >= least) || (q >= noiseBend && q >= least))
            return i;
    }
    return std::nullopt;
}

std::optional<std::size_t> find(const float* recorded, std::size_t frames, std::size_t stride,
                                const float* played, std::size_t playFrames, const std::vector<double>& response,
                                std::ptrdiff_t offset, std::size_t peak, const std::vector<double>& edges,
                                std::size_t judgedFrom, std::size_t judgedTo, double f1, double rateConstant, int rate)
{
    if (response.empty() || playFrames == 0 || frames == 0)
        return std::nullopt;
    // The prediction, and the recording through the same band edges, by
    // circular convolutions long enough to wrap nothing.
    RealFft fft(RealFft::goodLength(std::max(playFrames + response.size(), frames + edges.size())));
    const std::size_t n = fft.size();
    const auto spectrumOf = [&](const auto& fillTime) {
        std::fill(fft.time(), fft.time() + n, 0.0);
        fillTime(fft.time());
        fft.forward();
        return std::vector<std::complex<double>>(fft.spectrum(), fft.spectrum() + fft.bins());
    };
    const auto convolved = [&](const std::vector<std::complex<double>>& a, const std::vector<std::complex<double>>& b) {
        for (std::size_t k = 0; k < fft.bins(); ++k)
            fft.spectrum()[k] = a[k] * b[k];
        fft.inverse();
        return std::vector<double>(fft.time(), fft.time() + n);
    };
    const auto sweepSpectrum = spectrumOf([&](double* t) { std::copy(played, played + playFrames, t); });
    const auto responseSpectrum = spectrumOf([&](double* t) { std::copy(response.begin(), response.end(), t); });
    const std::vector<double> predicted = convolved(sweepSpectrum, responseSpectrum); // [m]: frame offset + m
    const auto recordedSpectrum =
        spectrumOf([&](double* t) { for (std::size_t i = 0; i < frames; ++i) t[i] = recorded[i * stride]; });
    const auto edgeSpectrum = spectrumOf([&](double* t) { std::copy(edges.begin(), edges.end(), t); });
    const std::vector<double> heard = convolved(recordedSpectrum, edgeSpectrum);

    // The judged part of the sweep after its arrival, where the recording
    // holds it: the response's peak is its sample peak.
    const std::ptrdiff_t arrival = offset + std::ptrdiff_t(peak);
    const auto first = std::max<std::ptrdiff_t>(0, arrival + std::ptrdiff_t(judgedFrom));
    const auto last = std::min<std::ptrdiff_t>(std::ptrdiff_t(frames),
                                               arrival + std::ptrdiff_t(std::min(judgedTo, playFrames)));
    // Running sums of the energies, then blocks of BlockSeconds or half a
    // period of the frequency played then (a sine's energy over half a
    // period does not depend on its phase), each half a block after the
    // last.
    std::vector<double> signalSum(1, 0.0), residualSum(1, 0.0);
    for (std::ptrdiff_t i = first; i < last; ++i) {
        const double p = predicted[std::size_t(i - offset)];
        const double r = heard[std::size_t(i)] - p;
        signalSum.push_back(signalSum.back() + p * p);
        residualSum.push_back(residualSum.back() + r * r);
    }
    struct Block {
        std::size_t start;
        double signal, residual;
    };
    std::vector<Block> blocks;
    const double shortest = std::max(1.0, BlockSeconds * rate);
    for (std::ptrdiff_t b = first;;) {
        const double hz = f1 * std::exp(double(b - arrival) / (rateConstant * rate));
        const auto length = std::ptrdiff_t(std::lround(std::max(shortest, 0.5 * rate / hz)));
        if (b + length > last)
            break;
        const auto from = std::size_t(b - first), to = std::size_t(b + length - first);
        blocks.push_back({std::size_t(b), signalSum[to] - signalSum[from], residualSum[to] - residualSum[from]});
        b += std::max<std::ptrdiff_t>(1, length / 2);
    }
    if (blocks.empty())
        return std::nullopt;
    // Zeros to the end: a sink muted or suspended for the rest of the sweep
    // leaves exact zeros that the measured response takes in as a stop band.
    // Lost when they run to the end of the judged part for at least two
    // shortest blocks, after sound (or noise) that held no run of zeros a
    // shortest block long: a recording whose quiet parts are digital
    // silence (a stop band below the last bit) fades into them.
    {
        std::ptrdiff_t zeros = last;
        while (zeros > first && recorded[std::size_t(zeros - 1) * stride] == 0.0f)
            --zeros;
        if (zeros > first && double(last - zeros) >= 2 * shortest) {
            std::ptrdiff_t run = 0, longest = 0;
            for (std::ptrdiff_t i = first; i < zeros; ++i) {
                run = recorded[std::size_t(i) * stride] == 0.0f ? run + 1 : 0;
                longest = std::max(longest, run);
            }
            if (double(longest) < shortest)
                return std::size_t(zeros);
        }
    }
    // A step in the timing: the sweep's frequencies above some point came
    // earlier or later than those below it.
    {
        double hz = 0;
        const double low = f1 * std::exp(double(judgedFrom) / (rateConstant * rate));
        const double high = f1 * std::exp(double(std::min(judgedTo, playFrames)) / (rateConstant * rate));
        const std::optional<double> jump = largestTimingStep(response, peak, low, high, rate, &hz);
        if (jump && std::abs(*jump) >= MaxStepSeconds * rate) {
            const auto at = arrival + std::ptrdiff_t(std::lround(rateConstant * rate * std::log(hz / f1)));
            return std::size_t(std::clamp(at, first, last - 1));
        }
    }
    // A jump where the sweep plays low, from its arrival.
    {
        const auto top = arrival + std::ptrdiff_t(std::lround(rateConstant * rate * std::log(MaxJumpHz / f1)));
        const auto from = std::max<std::ptrdiff_t>(0, arrival + std::ptrdiff_t(JumpSamples));
        const auto to = std::min<std::ptrdiff_t>(last, top);
        if (from < to)
            if (const auto at = findJump(recorded, frames, stride, std::size_t(from), std::size_t(to),
                                         std::size_t(std::lround(rate / std::max(f1, 1.0)))))
                return at;
    }
    std::vector<double> values(blocks.size());
    for (std::size_t i = 0; i < blocks.size(); ++i)
        values[i] = blocks[i].signal;
    const auto middle = values.begin() + std::ptrdiff_t(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    const double judged = MinSignalShare * *middle;
    values.clear();
    for (const Block& e : blocks)
        if (e.signal >= judged)
            values.push_back(e.residual);
    const auto low = values.begin() + std::ptrdiff_t(double(values.size()) * FloorQuantile);
    std::nth_element(values.begin(), low, values.end());
    const double floor = *low;
    for (const Block& e : blocks)
        if (e.residual >= ResidualShare * e.signal && e.residual > ExcessOverFloor * floor && e.signal >= judged)
            return e.start;
    return std::nullopt;
}

} // namespace SweepDropout

} // namespace audimera
