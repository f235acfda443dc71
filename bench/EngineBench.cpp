// The measurement engine: block analysis, a whole 31-band sweep on the
// simulated sound card, and heap allocations per measured point.
#include "AllocationCounter.h"
#include "DspLibrary.h"
#include "MeasurementEngine.h"
#include "PanelTable.h"
#include "SimulatedSoundCard.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>


namespace {

class QuietHost : public Host {
public:
    void yield() override {}
    void sleepMs(int) override {}
    MessageAnswer message(std::string_view, MessageIcon, MessageButtons) override { return MessageAnswer::Yes; }
};

// A trace store allocated whole, as the plot's is.
class FixedDisplays : public Displays {
public:
    FixedDisplays() { m_points.reserve(22051); }
    bool AddTrace() override
    {
        m_points.clear();
        ++m_traces;
        return true;
    }
    void AddPoint(double f, double dB) override
    {
        if (m_points.size() < m_points.capacity())
            m_points.push_back({f, dB});
    }
    void TraceResponse() override {}
    int GetTraceCount() const override { return m_traces; }
    void DrawCurve(int, int, const int16_t*, int, bool, int) override {}
    void TraceFFT(const int16_t*, float*, bool) override {}
    size_t points() const { return m_points.size(); }

private:
    std::vector<std::pair<double, double>> m_points;
    int m_traces = 0;
};

struct Rig {
    PanelTable panel;
    QuietHost host;
    SimulatedSoundCard card;
    FixedDisplays displays;
    MeasurementEngine engine{panel, host, card, displays};
    Rig()
    {
        card.openOutputDevice(0);
        card.openInputDevice(0);
        engine.InitWhitePinkBuffers();
    }
};

void BM_AnalyseBlock(benchmark::State& state)
{
    Rig rig;
    for (int i = 0; i < 30000; ++i)
        rig.engine.RecBuffer[i] = static_cast<int16_t>(std::lround(12000 * std::sin(i * 0.0712)));
    rig.engine.Frequency = 500;
    for (auto _ : state) {
        rig.engine.AnalyseBlock(true);
        benchmark::DoNotOptimize(rig.engine.MeanLevel);
    }
}
BENCHMARK(BM_AnalyseBlock)->Unit(benchmark::kMicrosecond);

void BM_Sweep31BandsSimulated(benchmark::State& state)
{
    Rig rig;
    rig.panel.select("OptionAutoSigGen", MeasurementEngine::PlanIso31, 4);
    for (auto _ : state) {
        rig.engine.Calib = 0; // each sweep calibrates, as a first one does
        rig.engine.cmdStart_Click();
    }
    state.counters["points"] = static_cast<double>(rig.displays.points());
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
        rig.engine.cmdStart_Click();
        return std::pair<long long, size_t>{allocations::count.load() - before, rig.displays.points()};
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
