// The automatic EQ fit (fitEq): 20 filters over 20 Hz-20 kHz on a response
// at 1/48 octave, the heaviest fit the window and the command ask for (the
// goal is at most 1 s), and the three room modes below 300 Hz with the
// default settings. The counters give the residual before and after.
#include "engine/EqDesign.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

using namespace audimera;

namespace {

constexpr double Rate = 48000;

EqFilter peak(double hz, double gainDb, double q)
{
    EqFilter f;
    f.hz = hz;
    f.gainDb = gainDb;
    f.q = q;
    return f;
}

// The filters' gain at 1/48 octave from 18 Hz to 21 kHz, with a slope of
// slopeDb an octave about 1 kHz.
std::vector<CurvePoint> responseOf(const std::vector<EqFilter>& room, double slopeDb)
{
    std::vector<CurvePoint> response;
    for (double f = 18; f <= 21000; f *= std::exp2(1.0 / 48))
        response.push_back({f, eqGainDb(room, f, Rate) + slopeDb * std::log2(f / 1000)});
    return response;
}

void report(benchmark::State& state, const EqFit& fit)
{
    state.counters["filters"] = double(fit.filters.size());
    state.counters["rms_before_dB"] = fit.rmsBeforeDb;
    state.counters["max_before_dB"] = fit.maxBeforeDb;
    state.counters["rms_dB"] = fit.rmsDb;
    state.counters["max_dB"] = fit.maxDb;
}

// The range is the number of filters.
void BM_FitWholeRange(benchmark::State& state)
{
    // 24 peaks and dips from 30 Hz to 12.5 kHz and a falling slope.
    std::vector<EqFilter> room;
    for (int i = 0; i < 24; ++i)
        room.push_back(peak(30 * std::pow(1.3, i), i % 2 ? -5 : 8, 2 + (i * 7) % 9));
    const std::vector<CurvePoint> response = responseOf(room, -0.5);
    EqFitSettings settings;
    settings.lowHz = 20;
    settings.highHz = 20000;
    settings.filters = int(state.range(0));
    settings.maxBoostDb = 6;
    EqFit fit;
    for (auto _ : state) {
        Result<EqFit> result = fitEq(response, {}, settings);
        if (!result) {
            state.SkipWithError(result.message().c_str());
            return;
        }
        fit = *result;
        benchmark::DoNotOptimize(fit.filters.data());
    }
    report(state, fit);
    state.counters["points"] = double(response.size());
}
BENCHMARK(BM_FitWholeRange)->Arg(20)->Arg(10)->Unit(benchmark::kMillisecond);

void BM_FitRoomModes(benchmark::State& state)
{
    const std::vector<CurvePoint> response = responseOf({peak(42, 10, 7), peak(71, 10, 5), peak(115, 10, 9)}, 0);
    EqFit fit;
    for (auto _ : state) {
        Result<EqFit> result = fitEq(response, {}, EqFitSettings{});
        if (!result) {
            state.SkipWithError(result.message().c_str());
            return;
        }
        fit = *result;
        benchmark::DoNotOptimize(fit.filters.data());
    }
    report(state, fit);
}
BENCHMARK(BM_FitRoomModes)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
