// Group delay, minimum and excess phase of a 2^18-sample impulse response at
// 44.1 kHz (a 2nd-order low-pass at 1 kHz, 5 ms late, over a noise floor
// 90 dB down), 20 Hz to 20 kHz at 48 points per octave, through the
// measurement's band edges. Goal: at most 50 ms.
#include "signal/LogSweep.h"
#include "signal/PhaseAnalysis.h"
#include "signal/UniformRandom.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

using namespace audimera;

namespace {

constexpr int Rate = 44100;

std::vector<float> response()
{
    const double k = std::tan(M_PI * 1000 / Rate), norm = 1 / (1 + std::sqrt(2.0) * k + k * k);
    const double b0 = k * k * norm, a1 = 2 * (k * k - 1) * norm, a2 = (1 - std::sqrt(2.0) * k + k * k) * norm;
    UniformRandom random(5);
    std::vector<float> x(std::size_t(1) << 18);
    double z1 = 0, z2 = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double in = i == 9000 ? 1.0 : 0.0; // the peak region 9000 samples in
        const double y = b0 * in + z1;
        z1 = 2 * b0 * in - a1 * y + z2;
        z2 = b0 * in - a2 * y;
        x[i] = static_cast<float>(y + 3e-5 * (random.next() - 0.5));
    }
    return x;
}

void BM_GroupDelayAndMinimumPhase(benchmark::State& state)
{
    const std::vector<float> x = response();
    auto sweep = std::make_shared<const LogSweep>(*LogSweep::make({Rate, std::size_t(1) << 18, 20, 20000, -6}));
    ImpulseView view;
    view.samples = x.data();
    view.size = x.size();
    view.rate = Rate;
    view.peak = 9000;
    view.firstSampleTime = 220.5 - 9000;
    view.delaySamples = 220.5;
    view.stated = [sweep](double hz) { return sweep->bandEdgeResponse(hz); };
    std::size_t shown = 0;
    for (auto _ : state) {
        const Result<PhaseResult> result = analysePhase(view, PhaseSettings{});
        shown = 0;
        for (const PhasePoint& p : result->points)
            shown += p.groupDelayMs ? 1 : 0;
        benchmark::DoNotOptimize(result);
    }
    state.counters["points"] = static_cast<double>(shown);
}
BENCHMARK(BM_GroupDelayAndMinimumPhase)->Name("group_delay_minimum_phase")->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
