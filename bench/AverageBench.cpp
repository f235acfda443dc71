// Averages and alignment of room-sized impulse responses: 2^18 samples
// (5.5 s at 48 kHz) of white noise under a 0.5 s exponential decay, each its
// own noise and its own delay.
//
// - of_impulses/rms, /db, /vector: ResponseAverage::ofImpulses of 20 of them
//   (vector with a fractional shift for each).
// - delay: TimeAlignment::delay of two of them, one 37.4 samples after the
//   other.
#include "signal/ResponseAverage.h"
#include "signal/TimeAlignment.h"
#include "signal/UniformRandom.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

using namespace audimera;

namespace {

constexpr int Rate = 48000;
constexpr std::size_t Length = std::size_t(1) << 18;

std::vector<float> response(unsigned seed, std::size_t delay)
{
    UniformRandom random(seed);
    std::vector<float> x(Length);
    for (std::size_t i = delay; i < x.size(); ++i) {
        const double g = std::sqrt(-2 * std::log(1 - random.next())) * std::cos(2 * M_PI * random.next());
        x[i] = static_cast<float>(std::exp(-13.8 * double(i - delay) / Rate) * g);
    }
    return x;
}

void ofImpulses(benchmark::State& state, AverageMode mode)
{
    std::vector<std::vector<float>> impulses;
    std::vector<double> shifts;
    for (unsigned i = 0; i < 20; ++i) {
        impulses.push_back(response(i + 1, 10 * i));
        shifts.push_back(mode == AverageMode::Vector ? -10.0 * i + 0.25 : 0.0);
    }
    for (auto _ : state) {
        Result<std::vector<float>> average = ResponseAverage::ofImpulses(impulses, Rate, mode, shifts);
        benchmark::DoNotOptimize(average);
    }
}

void delay(benchmark::State& state)
{
    const std::vector<float> reference = response(1, 0), later = response(1, 37);
    double found = 0;
    for (auto _ : state) {
        const Result<Alignment> a = TimeAlignment::delay(reference, later, Rate);
        found = a.ok() ? a->delaySamples : -1;
        benchmark::DoNotOptimize(found);
    }
    state.counters["delay_samples"] = found;
}

} // namespace

BENCHMARK_CAPTURE(ofImpulses, rms, AverageMode::Rms)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ofImpulses, db, AverageMode::Db)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ofImpulses, vector, AverageMode::Vector)->Unit(benchmark::kMillisecond);
BENCHMARK(delay)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
