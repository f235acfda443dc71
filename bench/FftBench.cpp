// The FFT window's work per analysed block: the 16384-point transform alone,
// and TraceFFT (transform, scale, grid and the 8189-segment spectrum) on a
// picture of the window's first size, with heap allocations per block.
#include "tests/support/AllocationCounter.h"
#include "display/models/AudioFFT.h"
#include "display/models/FftPlot.h"
#include "display/windows/FormFFT.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <random>
#include <vector>

using namespace audimera;


namespace {

// A 1 kHz tone with some noise, as a measured section would hold.
std::vector<int16_t> measuredSection()
{
    std::vector<int16_t> x(30001, 0);
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0, 30);
    const double pi = std::acos(-1.0);
    for (int n = 0; n < AudioFFT::Size; ++n)
        x[n] = static_cast<int16_t>(
            std::lround(12000 * std::sin(2 * pi * 1000 * n / 44100.0) + noise(rng)));
    return x;
}

void BM_ComputeFFT(benchmark::State& state)
{
    AudioFFT fft;
    fft.InitFFTTables();
    const std::vector<int16_t> in = measuredSection();
    std::vector<float> out(in.size(), 0.0f);
    for (auto _ : state) {
        fft.ComputeFFT(in.data(), out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ComputeFFT)->Unit(benchmark::kMicrosecond);

void BM_TraceFFT(benchmark::State& state)
{
    FftPlot plot;
    plot.Picture1().setSize(FormFFT::InitialWidth, FormFFT::InitialHeight);
    plot.audioFFT().InitFFTTables();
    const std::vector<int16_t> in = measuredSection();
    std::vector<float> out(in.size(), 0.0f);
    plot.TraceFFT(in.data(), out.data(), false); // the image is detached once, not per block

    const long long before = allocations::count.load();
    for (auto _ : state) {
        plot.TraceFFT(in.data(), out.data(), false);
        benchmark::DoNotOptimize(plot.Picture1().image().constBits());
    }
    state.counters["allocs/block"] =
        static_cast<double>(allocations::count.load() - before) / static_cast<double>(state.iterations());
    state.counters["target_ms"] = 2;
}
BENCHMARK(BM_TraceFFT)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
