// The sound level meter's cost: one second of audio at 48 kHz (noise, in
// 10 ms blocks) through the meter, per weighting (A, C, Z; Fast). The
// counter "core_pct" is the CPU time per second of audio as a percentage of
// one core. Also the filter's design (construction) on its own.
#include "signal/SoundLevelMeter.h"
#include "signal/UniformRandom.h"

#include <benchmark/benchmark.h>

#include <ctime>
#include <vector>

using namespace audimera;

namespace {

constexpr int Rate = 48000;
constexpr std::size_t Block = Rate / 100;

double threadSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

void run(benchmark::State& state, FrequencyWeighting weighting)
{
    UniformRandom random(7);
    std::vector<float> second(Rate);
    for (float& x : second)
        x = static_cast<float>(0.5 * (2 * random.next() - 1));
    SoundLevelMeter meter(Rate, weighting, TimeWeighting::Fast);
    const double start = threadSeconds();
    for (auto _ : state) {
        for (std::size_t i = 0; i < second.size(); i += Block)
            meter.push(second.data() + i, Block);
        benchmark::DoNotOptimize(meter.reading());
    }
    state.counters["core_pct"] = 100 * (threadSeconds() - start) / static_cast<double>(state.iterations());
}

void BM_A(benchmark::State& state)
{
    run(state, FrequencyWeighting::A);
}
BENCHMARK(BM_A)->Name("second_48k_A")->Unit(benchmark::kMicrosecond);

void BM_C(benchmark::State& state)
{
    run(state, FrequencyWeighting::C);
}
BENCHMARK(BM_C)->Name("second_48k_C")->Unit(benchmark::kMicrosecond);

void BM_Z(benchmark::State& state)
{
    run(state, FrequencyWeighting::Z);
}
BENCHMARK(BM_Z)->Name("second_48k_Z")->Unit(benchmark::kMicrosecond);

void BM_Design(benchmark::State& state)
{
    for (auto _ : state) {
        SoundLevelMeter meter(44100, FrequencyWeighting::A, TimeWeighting::Slow);
        benchmark::DoNotOptimize(meter.filterDb(1000));
    }
}
BENCHMARK(BM_Design)->Name("design_A_44k1")->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
