// GetBSpline on the largest trace the response plot holds (22051 points,
// resampled to 7 * 22051 - 7 = 154350), and the plain summation beside it.
#include "tests/support/BSplineReference.h"
#include "dsp/DspLibrary.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <vector>

using namespace audimera;

namespace {

struct Input {
    std::vector<double> x, y;
    explicit Input(int n) : x(n), y(n)
    {
        for (int k = 0; k < n; ++k) {
            x[k] = 130.0 + k * (430.0 - 130.0) / n;
            y[k] = 300.0 * std::sin(k / 37.0) + 40.0 * std::cos(k * 1.7);
        }
    }
};

void BM_GetBSpline(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    const int order = static_cast<int>(state.range(1));
    const int res = 7 * n - 7;
    Input in(n);
    std::vector<double> xo(res), yo(res);
    int32_t count = 0;
    if (!DspLibrary::instance().require({"GetBSpline"})) {
        state.SkipWithError("Audidsp not loadable");
        return;
    }
    for (auto _ : state) {
        Audidsp::GetBSpline(res, in.x.data(), in.y.data(), n, xo.data(), yo.data(), &count, order);
        benchmark::DoNotOptimize(yo.data());
    }
    state.counters["points_out"] = res;
}
BENCHMARK(BM_GetBSpline)
    ->ArgNames({"nIn", "order"})
    ->Args({22051, 2})
    ->Args({22051, 3})
    ->Args({22051, 4})
    ->Args({500, 4})
    ->Unit(benchmark::kMillisecond);

void BM_PlainSummation(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    const int order = static_cast<int>(state.range(1));
    const int res = 7 * n - 7;
    Input in(n);
    std::vector<double> xo(res), yo(res);
    for (auto _ : state) {
        reference::getBSpline(res, in.x.data(), in.y.data(), n, xo.data(), yo.data(), order);
        benchmark::DoNotOptimize(yo.data());
    }
}
BENCHMARK(BM_PlainSummation)->ArgNames({"nIn", "order"})->Args({500, 4})->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
