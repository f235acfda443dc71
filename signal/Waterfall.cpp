#include "signal/Waterfall.h"

#include "signal/AnalysisSupport.h"
#include "signal/RealFft.h"

#include <algorithm>
#include <cmath>

namespace audimera {

namespace {

using namespace analysis;

constexpr double Pi = 3.14159265358979323846;

constexpr int MaxSlices = 1000;
constexpr int MaxSmoothing = 96;
constexpr std::size_t MaxLevels = std::size_t(1) << 24;

std::optional<Error> checkSettings(const WaterfallSettings& s, int rate)
{
    if (s.slices < 2 || s.slices > MaxSlices)
        return badInput("The waterfall needs 2 to 1000 slices");
    if (std::optional<Error> error = checkTimeRange(s.startMs, s.endMs, "waterfall"))
        return error;
    if (!(s.endMs > s.startMs))
        return badInput("The waterfall's last slice must start after its first");
    if (std::optional<Error> error = checkWindow(s.windowMs, rate, "waterfall"))
        return error;
    if (!(s.riseMs >= 0 && s.riseMs <= s.windowMs))
        return badInput("The waterfall's rise must be between 0 ms and the window's length");
    if (s.smoothing < 0 || s.smoothing > MaxSmoothing)
        return badInput("The waterfall's smoothing must be 0 (none) or 1/1 to 1/96 octave");
    return checkLevelsAndFrequencies(s.rangeDb, s.pointsPerOctave, s.lowHz, s.highHz, rate, "waterfall");
}

// The mean power over the reading's band, or the power interpolated.
double readPower(const std::vector<double>& power, const BandReading& reading)
{
    if (!reading.inBand)
        return interpolatedPower(power, reading);
    double sum = 0;
    for (std::size_t k = reading.first; k <= reading.last; ++k)
        sum += power[k];
    return sum / static_cast<double>(reading.last - reading.first + 1);
}

// The slices' window: a half-Hann rise over rise samples, then after
// samples whose last third falls as a half-Hann.
std::vector<double> sliceWindow(std::size_t rise, std::size_t after)
{
    std::vector<double> window(rise + after, 1.0);
    for (std::size_t n = 0; n < rise; ++n) {
        const double s = std::sin(0.5 * Pi * (static_cast<double>(n) + 0.5) / static_cast<double>(rise));
        window[n] = s * s;
    }
    const std::size_t taper = after / 3;
    for (std::size_t m = 0; m < taper; ++m) {
        const double c = std::cos(0.5 * Pi * (static_cast<double>(m) + 0.5) / static_cast<double>(taper));
        window[rise + after - taper + m] = c * c;
    }
    return window;
}

} // namespace

Result<WaterfallResult> waterfall(const ImpulseView& impulse, const WaterfallSettings& settings,
                                  const AnalysisProgress& progress)
{
    if (std::optional<Error> error = checkView(impulse))
        return *error;
    const int rate = impulse.rate;
    if (std::optional<Error> error = checkSettings(settings, rate))
        return *error;

    WaterfallResult result;
    result.rangeDb = settings.rangeDb;
    result.frequencies = logFrequencies(settings.lowHz, std::min(settings.highHz, HighestOfRate * rate),
                                        settings.pointsPerOctave);
    if (result.frequencies.size() * static_cast<std::size_t>(settings.slices) > MaxLevels)
        return badInput("The waterfall would have too many points: choose fewer slices or fewer points per octave");
    const std::size_t rise = static_cast<std::size_t>(std::lround(settings.riseMs * 1e-3 * rate));
    const std::size_t after = static_cast<std::size_t>(std::lround(settings.windowMs * 1e-3 * rate));
    const std::vector<double> window = sliceWindow(rise, after);
    RealFft fft(RealFft::goodLength(window.size()));
    const std::size_t bins = fft.bins();
    const double binHz = static_cast<double>(rate) / static_cast<double>(fft.size());

    ProgressGate gate(progress);
    if (!gate.at(0))
        return cancelled();

    // With smoothing each point reads the power mean over its band.
    std::vector<BandReading> readings;
    readings.reserve(result.frequencies.size());
    for (const double hz : result.frequencies)
        readings.push_back(bandReading(hz, binHz, bins, settings.smoothing));
    std::vector<double> power(bins);
    result.timesMs.resize(static_cast<std::size_t>(settings.slices));
    result.levelsDb.assign(result.timesMs.size(), std::vector<double>(result.frequencies.size()));

    const auto peak = static_cast<long long>(impulse.peak);
    const double stepMs = (settings.endMs - settings.startMs) / (settings.slices - 1);
    double highest = 0;        // power, over every slice
    double firstHighest = 0;   // over the first slice
    for (std::size_t slice = 0; slice < result.timesMs.size(); ++slice) {
        const double ms = settings.startMs + stepMs * static_cast<double>(slice);
        const long long start = std::llround(ms * 1e-3 * rate); // from the peak
        result.timesMs[slice] = 1e3 * static_cast<double>(start) / rate;

        windowedPower(fft, impulse, peak + start - static_cast<long long>(rise), window, power);

        std::vector<double>& levels = result.levelsDb[slice];
        for (std::size_t p = 0; p < readings.size(); ++p) {
            const double value = readPower(power, readings[p]);
            highest = std::max(highest, value);
            if (slice == 0)
                firstHighest = highest;
            levels[p] = 10 * std::log10(std::max(value, SilentPower));
        }
        if (!gate.at(static_cast<double>(slice + 1) / static_cast<double>(result.timesMs.size())))
            return cancelled();
    }
    if (highest <= SilentPower)
        return badInput("The waterfall's time range holds none of the impulse response");

    // Re the first slice's highest; re the highest of all when the first
    // slice is silent (a time range starting well before the response).
    const double referenceDb = 10 * std::log10(firstHighest > SilentPower ? firstHighest : highest);
    for (std::vector<double>& levels : result.levelsDb)
        for (double& level : levels)
            level = std::max(level - referenceDb, -settings.rangeDb);
    if (!gate.done())
        return cancelled();
    return result;
}

} // namespace audimera
