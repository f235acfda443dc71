// Redraw cost of the response plot on the window's first size: the worst
// case (8 full traces smoothed at order 4) and the common case during a
// third-octave sweep (one point added, then a redraw).
#include "display/models/DrawingSurface.h"
#include "dsp/DspLibrary.h"
#include "display/models/ResponsePlot.h"
#include "engine/TraceStore.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

using namespace audimera;

namespace {

constexpr int kWidth = 792;
constexpr int kHeight = 211;

DrawingSurface makePicture()
{
    DrawingSurface picture(ResponsePlot::TwipsPerPixel);
    picture.setBackColor(rgbColor(240, 240, 240));
    picture.setSize(kWidth * ResponsePlot::TwipsPerPixel, kHeight * ResponsePlot::TwipsPerPixel);
    return picture;
}

bool dspReady(benchmark::State& state)
{
    if (DspLibrary::instance().require({"GetBSpline"}))
        return true;
    state.SkipWithError("Audidsp not loadable");
    return false;
}

void BM_TraceResponseEightFullTraces(benchmark::State& state)
{
    if (!dspReady(state))
        return;
    const int smooth = static_cast<int>(state.range(0));
    auto store = std::make_unique<TraceStore>();
    for (int t = 0; t < TraceStore::MaxTraces; ++t) {
        store->AddTrace();
        for (int i = 0; i < TraceStore::MaxPoints; ++i)
            store->AddPoint(10 + i, 3 * std::sin(i / 300.0 + t) + std::cos(i * 1.7) + t - 4);
    }
    auto plot = std::make_unique<ResponsePlot>();
    DrawingSurface picture = makePicture();
    for (auto _ : state) {
        plot->TraceResponse(picture, *store, {48, smooth});
        benchmark::DoNotOptimize(picture.image().constBits());
    }
    state.counters["points_drawn"] =
        TraceStore::MaxTraces * (smooth > 1 ? 7.0 * TraceStore::MaxPoints - 7 : TraceStore::MaxPoints);
}
BENCHMARK(BM_TraceResponseEightFullTraces)
    ->ArgName("Smooth")
    ->Arg(4)
    ->Arg(3)
    ->Arg(2)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);

// A 31-band sweep: each iteration measures one point (add, redraw) and
// starts a fresh trace after the 31st, as the next sweep would.
void BM_AddPointThenTraceResponse31(benchmark::State& state)
{
    if (!dspReady(state))
        return;
    static constexpr double kBands[31] = {20,   25,   31.5, 40,   50,    63,    80,    100,
                                          125,  160,  200,  250,  315,   400,   500,   630,
                                          800,  1000, 1250, 1600, 2000,  2500,  3150,  4000,
                                          5000, 6300, 8000, 10000, 12500, 16000, 20000};
    auto store = std::make_unique<TraceStore>();
    auto plot = std::make_unique<ResponsePlot>();
    DrawingSurface picture = makePicture();
    int i = 0;
    for (auto _ : state) {
        if (i == 0) {
            store->ClearAllTraces();
            store->AddTrace();
        }
        store->AddPoint(kBands[i], 2 * std::sin(i * 0.4));
        plot->TraceResponse(picture, *store, {48, 2});
        benchmark::DoNotOptimize(picture.image().constBits());
        i = (i + 1) % 31;
    }
}
BENCHMARK(BM_AddPointThenTraceResponse31)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
