// The measurement engine: block analysis, a whole 31-band sweep on the
// simulated sound card, and heap allocations per measured point.
#include "tests/support/AllocationCounter.h"
#include "engine/BlockAnalysis.h"
#include "dsp/DspLibrary.h"
#include "ui/presenter/MainPresenter.h"
#include "ui/presenter/PanelTable.h"
#include "devices/SimulatedSoundCard.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>

using namespace audimera;


namespace {

class QuietHost : public Host {
public:
    void yield() override {}
    void sleepMs(int) override {}
    MessageAnswer message(std::string_view, MessageIcon, MessageButtons) override { return MessageAnswer::Yes; }
};

// Windows that draw nothing; the points go to the document's trace store.
class QuietDisplays : public Displays {
public:
    void TraceResponse() override {}
    void DrawCurve(int, int, const int16_t*, int, bool, int) override {}
    void TraceFFT(const int16_t*, float*, bool) override {}
};

struct Rig {
    PanelTable panel;
    QuietHost host;
    SimulatedSoundCard card;
    QuietDisplays displays;
    MeasurementDocument document;
    MeasurementSession session{host, card, document};
    MainPresenter engine{panel, session, displays};
    Rig()
    {
        (void)card.initAudio();
        session.initialiseTables();
    }
    // A fresh trace for each sweep: the store holds eight.
    void sweep()
    {
        document.traces().ClearAllTraces();
        engine.cmdStart_Click();
    }
    size_t points() const { return static_cast<size_t>(document.traces().pointCount(0)); }
};

// A tone block's analysis as a run makes it: the section with its FFT
// copy, then the waveform window's four periods.
void BM_AnalyseBlock(benchmark::State& state)
{
    MeasurementState s;
    for (int i = 0; i < 30000; ++i)
        s.RecBuffer[i] = static_cast<int16_t>(std::lround(12000 * std::sin(i * 0.0712)));
    for (auto _ : state) {
        const BlockResult block = AnalyseBlock(s.RecBuffer.data(), 500, true, s.FFTIn.data(), s.FFTOUT.data());
        const WaveformView view = waveformView(s.RecBuffer.data(), block, 500);
        benchmark::DoNotOptimize(block.MeanLevel);
        benchmark::DoNotOptimize(view.Off);
    }
}
BENCHMARK(BM_AnalyseBlock)->Unit(benchmark::kMicrosecond);

void BM_Sweep31BandsSimulated(benchmark::State& state)
{
    Rig rig;
    rig.panel.select("OptionAutoSigGen", MainPresenter::PlanIso31, 4);
    for (auto _ : state) {
        rig.session.forgetCalibration(); // each sweep calibrates, as a first one does
        rig.sweep();
    }
    state.counters["points"] = static_cast<double>(rig.points());
}
BENCHMARK(BM_Sweep31BandsSimulated)->Unit(benchmark::kMillisecond);

// Allocations of a calibrated range sweep, per measured point: the
// difference between a 151-point and a 31-point sweep, so that what a run
// allocates once does not count.
void BM_AllocationsPerPoint(benchmark::State& state)
{
    Rig rig;
    auto sweep = [&](const char* stop, int step) {
        rig.panel["TextStart"].text = "20";
        rig.panel["TextStop"].text = stop;
        rig.panel["HScrollStep"].value = step;
        const long long before = allocations::count.load();
        rig.sweep();
        return std::pair<long long, size_t>{allocations::count.load() - before, rig.points()};
    };
    sweep("200", 101); // calibrates and warms everything up
    double perPoint = 0;
    for (auto _ : state) {
        const auto small = sweep("20000", 126);
        const auto large = sweep("200", 101);
        perPoint = static_cast<double>(large.first - small.first) /
                   static_cast<double>(large.second - small.second);
    }
    state.counters["allocations_per_point"] = perPoint;
}
BENCHMARK(BM_AllocationsPerPoint)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
