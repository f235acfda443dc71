// Time-frequency analyses of a 2^18-sample impulse response at 48 kHz (white
// noise times a 1 s exponential decay over a floor 60 dB down, its peak
// 10 ms in). Goals: the waterfall of 30 slices in at most 150 ms, the
// spectrogram at its defaults in at most 300 ms.
//
// - waterfall: the default settings (30 slices of 300 ms, 0 to 300 ms).
// - waterfall_third: as waterfall, smoothed to 1/3 octave.
// - spectrogram: the default settings (Gaussian, 20 ms, 95 % overlap,
//   -10 to 500 ms).
// - spectrogram_hann: as spectrogram with the Hann window.
// - wavelet: the wavelet mode, 6 cycles, the same hops and range.
// - wavelet_whole: the wavelet over the whole response (0 to 5 s).
#include "signal/Spectrogram.h"
#include "signal/UniformRandom.h"
#include "signal/Waterfall.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

using namespace audimera;

namespace {

constexpr int Rate = 48000;
constexpr std::size_t Peak = 480;

const std::vector<float>& response()
{
    static std::vector<float> x;
    if (x.empty()) {
        UniformRandom random(5);
        x.resize(std::size_t(1) << 18);
        for (std::size_t i = 0; i < x.size(); ++i) {
            const double g1 = std::sqrt(-2 * std::log(1 - random.next())) * std::cos(2 * M_PI * random.next());
            const double g2 = std::sqrt(-2 * std::log(1 - random.next())) * std::cos(2 * M_PI * random.next());
            const double decay = i < Peak ? 0 : std::exp(-6.91 * static_cast<double>(i - Peak) / Rate);
            x[i] = static_cast<float>(decay * g1 + 1e-3 * g2);
        }
        x[Peak] = 10;
    }
    return x;
}

ImpulseView view()
{
    const std::vector<float>& x = response();
    ImpulseView v;
    v.samples = x.data();
    v.size = x.size();
    v.rate = Rate;
    v.peak = Peak;
    return v;
}

void runWaterfall(benchmark::State& state, const WaterfallSettings& settings)
{
    const ImpulseView v = view();
    std::size_t slices = 0;
    for (auto _ : state) {
        const Result<WaterfallResult> result = waterfall(v, settings);
        slices = result.ok() ? result->timesMs.size() : 0;
        benchmark::DoNotOptimize(result);
    }
    state.counters["slices"] = static_cast<double>(slices);
}

void runSpectrogram(benchmark::State& state, const SpectrogramSettings& settings)
{
    const ImpulseView v = view();
    std::size_t columns = 0, rows = 0;
    for (auto _ : state) {
        const Result<SpectrogramResult> result = spectrogram(v, settings);
        columns = result.ok() ? result->timesMs.size() : 0;
        rows = result.ok() ? result->frequencies.size() : 0;
        benchmark::DoNotOptimize(result);
    }
    state.counters["columns"] = static_cast<double>(columns);
    state.counters["rows"] = static_cast<double>(rows);
}

void BM_Waterfall(benchmark::State& state)
{
    runWaterfall(state, {});
}
BENCHMARK(BM_Waterfall)->Name("waterfall")->Unit(benchmark::kMillisecond);

void BM_WaterfallThird(benchmark::State& state)
{
    WaterfallSettings settings;
    settings.smoothing = 3;
    runWaterfall(state, settings);
}
BENCHMARK(BM_WaterfallThird)->Name("waterfall_third")->Unit(benchmark::kMillisecond);

void BM_Spectrogram(benchmark::State& state)
{
    runSpectrogram(state, {});
}
BENCHMARK(BM_Spectrogram)->Name("spectrogram")->Unit(benchmark::kMillisecond);

void BM_SpectrogramHann(benchmark::State& state)
{
    SpectrogramSettings settings;
    settings.window = SpectrogramSettings::Window::Hann;
    runSpectrogram(state, settings);
}
BENCHMARK(BM_SpectrogramHann)->Name("spectrogram_hann")->Unit(benchmark::kMillisecond);

void BM_Wavelet(benchmark::State& state)
{
    SpectrogramSettings settings;
    settings.window = SpectrogramSettings::Window::Wavelet;
    runSpectrogram(state, settings);
}
BENCHMARK(BM_Wavelet)->Name("wavelet")->Unit(benchmark::kMillisecond);

void BM_WaveletWhole(benchmark::State& state)
{
    SpectrogramSettings settings;
    settings.window = SpectrogramSettings::Window::Wavelet;
    settings.startMs = 0;
    settings.endMs = 5000;
    runSpectrogram(state, settings);
}
BENCHMARK(BM_WaveletWhole)->Name("wavelet_whole")->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
