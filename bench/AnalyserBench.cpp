// The live analyser's cost: processing one second of audio at 48 kHz as the
// capture delivers it, and making the periodic test noise.
#include "signal/PeriodicNoise.h"
#include "signal/SpectrumAnalyser.h"

#include <benchmark/benchmark.h>

#include <ctime>
#include <vector>

namespace {

using namespace audimera;

constexpr int Rate = 48000;
constexpr std::size_t Block = 480; // 10 ms, as a capture stream hands it over

// This thread's processor time: what it costs whatever else the machine runs.
double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// One second of audio (pink noise) pushed in 10 ms blocks, a frame taken at
// every update. core_percent: the share of one core the analyser takes to
// keep up with the sound.
void BM_AnalyserSecond(benchmark::State& state)
{
    SpectrumSettings settings;
    settings.fftLength = 32768;
    settings.window = AnalyserWindow::Hann;
    settings.fraction = static_cast<int>(state.range(0));
    settings.averaging = AnalyserAveraging::Exponential;
    settings.timeConstant = 1.0;
    settings.updatesPerSecond = 10;
    SpectrumAnalyser analyser(settings, Rate);
    const auto noise = PeriodicNoise::make({NoiseColour::Pink, 32768, -20.0, 1});
    std::vector<float> audio(Rate);
    for (std::size_t i = 0; i < audio.size(); ++i)
        audio[i] = (*noise)[i % noise->size()];
    analyser.push(audio.data(), audio.size()); // past the first transform
    std::size_t levels = 0;
    const double cpuBefore = threadCpuSeconds();
    for (auto _ : state) {
        for (std::size_t at = 0; at < audio.size(); at += Block)
            if (analyser.push(audio.data() + at, Block) > 0)
                levels += analyser.frame().levelsDb.size();
    }
    benchmark::DoNotOptimize(levels);
    // Each iteration is one second of audio: its processor time in seconds,
    // as a percentage, is the share of a core.
    state.counters["core_percent"] = 100 * (threadCpuSeconds() - cpuBefore) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_AnalyserSecond)->Arg(48)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_PeriodicNoise(benchmark::State& state)
{
    for (auto _ : state) {
        auto noise = PeriodicNoise::make({NoiseColour::Pink, static_cast<std::size_t>(state.range(0)), -20.0, 1});
        benchmark::DoNotOptimize(noise);
    }
}
BENCHMARK(BM_PeriodicNoise)->Arg(131072)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
