// Drawing cost of the time-frequency views on the Log Sweep window's size at
// twice the pixel density: a waterfall of 30 slices of 48 points an octave
// (each filled under, back to front) and a spectrogram of 500 x 480 cells.
#include "display/models/LogSweepPlots.h"
#include "display/models/TimeFrequencyPlots.h"

#include <benchmark/benchmark.h>

#include <cmath>

using namespace audimera;

namespace {

constexpr int kWidth = 792;
constexpr int kHeight = 422;

DrawingSurface makePicture()
{
    DrawingSurface picture(LogSweepPlots::UnitsPerPixel);
    picture.setBackColor(rgbColor(240, 240, 240));
    picture.setDevicePixelRatio(2);
    picture.setSize(kWidth * LogSweepPlots::UnitsPerPixel, kHeight * LogSweepPlots::UnitsPerPixel);
    return picture;
}

std::vector<double> frequencies()
{
    std::vector<double> f;
    for (int i = 0; i <= 480; ++i)
        f.push_back(20 * std::pow(2.0, i / 48.0));
    return f;
}

void BM_WaterfallThirtySlicesAtTwice(benchmark::State& state)
{
    WaterfallResult r{frequencies(), {}, {}, 50};
    for (int k = 0; k < 30; ++k) {
        r.timesMs.push_back(10.0 * k);
        r.levelsDb.emplace_back();
        for (const double f : r.frequencies)
            r.levelsDb.back().push_back(std::max(-3 * std::sin(std::log(f) * 2) - 0.02 * f / 100 * k, -50.0));
    }
    DrawingSurface picture = makePicture();
    for (auto _ : state) {
        TimeFrequencyPlots::drawWaterfall(picture, &r);
        benchmark::DoNotOptimize(picture.image().constBits());
    }
    state.counters["points_drawn"] = 30.0 * static_cast<double>(r.frequencies.size());
}
BENCHMARK(BM_WaterfallThirtySlicesAtTwice)->Unit(benchmark::kMillisecond);

void BM_SpectrogramAtTwice(benchmark::State& state)
{
    SpectrogramResult r;
    r.frequencies = frequencies();
    for (int c = 0; c < 500; ++c)
        r.timesMs.push_back(-10 + c);
    for (std::size_t c = 0; c < r.timesMs.size(); ++c)
        for (std::size_t i = 0; i < r.frequencies.size(); ++i)
            r.levelsDb.push_back(static_cast<float>(-60.0 * ((c * 31 + i * 7) % 97) / 96));
    DrawingSurface picture = makePicture();
    for (auto _ : state) {
        TimeFrequencyPlots::drawSpectrogram(picture, &r);
        benchmark::DoNotOptimize(picture.image().constBits());
    }
    state.counters["cells"] = static_cast<double>(r.levelsDb.size());
}
BENCHMARK(BM_SpectrogramAtTwice)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
