// Room acoustics from a 2^18-sample impulse response at 48 kHz (white noise
// times a 1 s exponential decay over a floor 60 dB down): every parameter,
// broadband plus the bands. Goal: broadband and the thirds in at most 100 ms.
//
// - thirds: broadband and the 24 third-octave bands, 50 Hz to 10 kHz.
// - thirds_31: broadband and 31 third-octave bands, 20 Hz to 20 kHz.
// - octaves: broadband and the 8 octave bands, 63 Hz to 8 kHz.
// - first_thirds: as thirds on a fresh object each time (planning and
//   allocating included).
#include "signal/RoomAcoustics.h"
#include "signal/UniformRandom.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

using namespace audimera;

namespace {

constexpr int Rate = 48000;

std::vector<float> response()
{
    UniformRandom random(3);
    std::vector<float> x(std::size_t(1) << 18);
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double g1 = std::sqrt(-2 * std::log(1 - random.next())) * std::cos(2 * M_PI * random.next());
        const double g2 = std::sqrt(-2 * std::log(1 - random.next())) * std::cos(2 * M_PI * random.next());
        x[i] = static_cast<float>(std::exp(-6.91 * i / Rate) * g1 + 1e-3 * g2);
    }
    return x;
}

void run(benchmark::State& state, const RoomSettings& settings, bool fresh)
{
    const std::vector<float> x = response();
    RoomAcoustics kept;
    std::size_t count = 0;
    for (auto _ : state) {
        RoomAcoustics first;
        RoomAcoustics& room = fresh ? first : kept;
        const Result<RoomResults> result = room.analyse(x.data(), x.size(), Rate, settings);
        count = result.ok() ? result->bands.size() : 0;
        benchmark::DoNotOptimize(result);
    }
    state.counters["bands"] = static_cast<double>(count);
}

void BM_Thirds(benchmark::State& state)
{
    run(state, {RoomSettings::Bands::Third}, false);
}
BENCHMARK(BM_Thirds)->Name("thirds")->Unit(benchmark::kMillisecond);

void BM_Thirds31(benchmark::State& state)
{
    run(state, {RoomSettings::Bands::Third, true, 20, 20000}, false);
}
BENCHMARK(BM_Thirds31)->Name("thirds_31")->Unit(benchmark::kMillisecond);

void BM_Octaves(benchmark::State& state)
{
    run(state, {RoomSettings::Bands::Octave}, false);
}
BENCHMARK(BM_Octaves)->Name("octaves")->Unit(benchmark::kMillisecond);

void BM_FirstThirds(benchmark::State& state)
{
    run(state, {RoomSettings::Bands::Third}, true);
}
BENCHMARK(BM_FirstThirds)->Name("first_thirds")->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
