// A whole sweep through the private test server's loopback (./test starts
// it and sets AUDIMERA_TEST_PULSE_SERVER; without it this prints a note and
// does nothing): the wall time of each measured point, which the block
// sizes set at 0.88 s at least (200 ms settle, 680 ms record), and of a
// 31-band sweep with its calibration.
#include "dsp/DspLibrary.h"
#include "ui/presenter/MainPresenter.h"
#include "ui/presenter/PanelTable.h"
#include "devices/PulseSoundDevice.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

using namespace audimera;

namespace {

class RealTimeHost : public Host {
public:
    void yield() override {}
    void sleepMs(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
    MessageAnswer message(std::string_view text, MessageIcon, MessageButtons) override
    {
        std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
        return MessageAnswer::Yes;
    }
};

// Times the plot's redraw that follows every measured point.
class TimedDisplays : public Displays {
public:
    using Clock = std::chrono::steady_clock;
    void TraceResponse() override
    {
        const auto now = Clock::now();
        if (points > 0)
            between.push_back(std::chrono::duration<double>(now - last).count());
        last = now;
        ++points;
    }
    void DrawCurve(int, int, const int16_t*, int, bool, int) override {}
    void TraceFFT(const int16_t*, float*, bool) override {}
    int points = 0;
    Clock::time_point last;
    std::vector<double> between;
};

void BM_LoopbackSweep31Bands(benchmark::State& state)
{
    const char* server = std::getenv("AUDIMERA_TEST_PULSE_SERVER");
    if (!server) {
        state.SkipWithError("AUDIMERA_TEST_PULSE_SERVER is not set (./test starts a private server)");
        return;
    }
    if (!DspLibrary::instance().require(Audidsp::programExports())) {
        state.SkipWithError("Audidsp not loadable");
        return;
    }
    PulseSoundDevice device(server);
    if (const audimera::Status started = device.initAudio(); !started) {
        state.SkipWithError(started.message().c_str());
        return;
    }
    PanelTable panel;
    RealTimeHost host;
    TimedDisplays displays;
    MeasurementDocument document;
    MeasurementSession session(host, device, document);
    MainPresenter engine(panel, session, displays);
    session.initialiseTables();
    panel["CheckInput"].value = 0;
    panel["CheckFFT"].value = 0;
    panel.select("OptionAutoSigGen", MainPresenter::PlanIso31, 4);
    for (auto _ : state)
        engine.cmdStart_Click();
    device.closeAudio();
    double sum = 0, worst = 0;
    for (double s : displays.between) {
        sum += s;
        worst = std::max(worst, s);
    }
    state.counters["points"] = displays.points;
    state.counters["s_per_point"] = displays.between.empty() ? 0 : sum / displays.between.size();
    state.counters["worst_s_per_point"] = worst;
}
BENCHMARK(BM_LoopbackSweep31Bands)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
