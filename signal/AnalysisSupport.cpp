#include "signal/AnalysisSupport.h"

#include "signal/RealFft.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <utility>

namespace audimera::analysis {

namespace {

constexpr auto ProgressInterval = std::chrono::milliseconds(10);
constexpr double MaxWindowMs = 10000;
constexpr std::size_t MinWindowSamples = 16;
constexpr double MaxTimeMs = 3600e3; // an hour either side of the peak
constexpr int MaxPointsPerOctave = 1000;
constexpr double MaxRangeDb = 300;

} // namespace

bool ProgressGate::at(double fraction)
{
    if (!m_progress)
        return true;
    const auto now = std::chrono::steady_clock::now();
    if (m_called && now - m_last < ProgressInterval)
        return true;
    m_called = true;
    m_last = now;
    return m_progress(std::clamp(fraction, 0.0, 1.0));
}

Error badInput(std::string text)
{
    return Error::of(Failure::BadInput, std::move(text));
}

Error cancelled()
{
    return Error::of(Failure::Cancelled, AnalysisCancelledMessage);
}

std::optional<Error> checkView(const ImpulseView& impulse)
{
    if (!impulse.samples || impulse.size == 0)
        return badInput("The impulse response is empty");
    if (impulse.rate <= 0)
        return badInput("The impulse response has no sample rate");
    if (impulse.peak >= impulse.size)
        return badInput("The impulse response's peak lies outside it");
    bool sound = false;
    for (std::size_t i = 0; i < impulse.size; ++i) {
        if (!std::isfinite(impulse.samples[i]))
            return badInput("The impulse response holds samples that are not finite numbers");
        sound = sound || impulse.samples[i] != 0;
    }
    if (!sound)
        return badInput("The impulse response is silent");
    return std::nullopt;
}

std::optional<Error> checkWindow(double windowMs, int rate, const std::string& what)
{
    if (!(windowMs > 0 && windowMs <= MaxWindowMs))
        return badInput("The " + what + "'s window must be longer than 0 ms and at most 10 s");
    if (windowMs * 1e-3 * rate < MinWindowSamples)
        return badInput("The " + what + "'s window must span at least 16 samples");
    return std::nullopt;
}

std::optional<Error> checkTimeRange(double startMs, double endMs, const std::string& what)
{
    if (!std::isfinite(startMs) || !std::isfinite(endMs) || std::abs(startMs) > MaxTimeMs
        || std::abs(endMs) > MaxTimeMs)
        return badInput("The " + what + "'s time range must be finite and within an hour of the peak");
    return std::nullopt;
}

std::optional<Error> checkLevelsAndFrequencies(double rangeDb, int pointsPerOctave, double lowHz, double highHz,
                                               int rate, const std::string& what)
{
    if (!(rangeDb > 0 && rangeDb <= MaxRangeDb))
        return badInput("The " + what + "'s level range must be above 0 dB and at most 300 dB");
    if (pointsPerOctave < 1 || pointsPerOctave > MaxPointsPerOctave)
        return badInput("The " + what + " needs 1 to 1000 points per octave");
    if (!(lowHz > 0 && std::min(highHz, HighestOfRate * rate) > lowHz))
        return badInput("The " + what + "'s frequency range is empty: the lowest frequency must be above 0 Hz and "
                        "below the highest, and that below half the sample rate");
    return std::nullopt;
}

std::vector<double> logFrequencies(double lowHz, double highHz, int perOctave)
{
    const double octaves = std::log2(highHz / lowHz);
    const std::size_t steps = std::max<std::size_t>(1, static_cast<std::size_t>(std::ceil(octaves * perOctave - 1e-9)));
    std::vector<double> frequencies(steps + 1);
    for (std::size_t i = 0; i <= steps; ++i)
        frequencies[i] = lowHz * std::pow(highHz / lowHz, static_cast<double>(i) / static_cast<double>(steps));
    frequencies.back() = highHz;
    return frequencies;
}

BandReading bandReading(double hz, double binHz, std::size_t bins, int perOctave)
{
    BandReading reading;
    const double position = hz / binHz;
    reading.below = std::min(bins - 2, static_cast<std::size_t>(position));
    reading.fraction = std::clamp(position - static_cast<double>(reading.below), 0.0, 1.0);
    if (perOctave > 0) {
        const double half = std::pow(2.0, 0.5 / perOctave);
        const double first = std::ceil(hz / half / binHz);
        const double last = std::min(std::floor(hz * half / binHz), static_cast<double>(bins - 1));
        if (last >= first) {
            reading.first = static_cast<std::size_t>(first);
            reading.last = static_cast<std::size_t>(last);
            reading.inBand = true;
        }
    }
    return reading;
}

double interpolatedPower(const std::vector<double>& power, const BandReading& reading)
{
    return power[reading.below] + reading.fraction * (power[reading.below + 1] - power[reading.below]);
}

void windowedPower(RealFft& fft, const ImpulseView& impulse, long long from, const std::vector<double>& window,
                   std::vector<double>& power)
{
    const auto size = static_cast<long long>(impulse.size);
    double* time = fft.time();
    for (std::size_t n = 0; n < window.size(); ++n) {
        const long long i = from + static_cast<long long>(n);
        time[n] = i >= 0 && i < size ? window[n] * impulse.samples[i] : 0.0;
    }
    std::fill(time + window.size(), time + fft.size(), 0.0);
    fft.forward();
    const std::complex<double>* spectrum = fft.spectrum();
    for (std::size_t k = 0; k < fft.bins(); ++k)
        power[k] = std::norm(spectrum[k]);
}

} // namespace audimera::analysis
