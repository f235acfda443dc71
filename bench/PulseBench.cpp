// Timing of the real sound card on the private test server (./test starts it
// and sets AUDIMERA_TEST_PULSE_SERVER; without it this prints a note and
// does nothing). It plays into the server's null sink and records its
// monitor, as the sound tests do: the sink at 44100 Hz, and (the names
// ending in _48k) the one at 48000 Hz, where the player renders at 48000 Hz
// and the recording is converted to 44100 Hz.
//
// - rate_change: from SetPlayRate to the new tone dominating the recording,
//   in ms (the Time column and "latency_ms"; target at most 50 ms). The
//   moment of the call is placed in the recording by the number of samples
//   that had arrived then, so the figure is the whole way round: queued play
//   data, the server, and the record stream's fragment.
// - play_loop: the same from PlayLoop (new table) to the tone.
// - record_block: wall time of one RecordBlock (30000 samples are 680 ms).
#include "devices/PulseSoundDevice.h"
#include "signal/SignalSynthesis.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace audimera;

namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr double Before = 200.0; // Hz, rate 20000
constexpr double After = 800.0;  // Hz, rate 80000: well apart in 10 ms windows
constexpr int Window = 441;      // 10 ms
constexpr int Hop = 22;          // 0.5 ms

std::string g_server;
std::unique_ptr<PulseSoundDevice> g_device;
std::string g_sink; // the sink g_device plays into
std::vector<int16_t> g_block(SoundDevice::RecordSamples + 1);

class SleepWaiter : public RecordWaiter {
public:
    // Runs once when at least `at` samples of the block have arrived; notes
    // how many had.
    int at = -1;
    int arrivedThen = -1;
    void (*action)() = nullptr;
    bool waitOnce() override
    {
        if (at >= 0 && arrivedThen < 0 && g_device->recordedSoFar() >= at) {
            arrivedThen = g_device->recordedSoFar();
            action();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return true;
    }
};

double amplitude(const int16_t* x, int count, double frequency)
{
    double re = 0, im = 0, weights = 0;
    for (int n = 0; n < count; ++n) {
        const double w = 0.5 - 0.5 * std::cos(2 * Pi * n / count);
        const double phase = 2 * Pi * frequency * n / SoundDevice::SampleRate;
        re += w * x[n] * std::cos(phase);
        im -= w * x[n] * std::sin(phase);
        weights += w;
    }
    return 2 * std::hypot(re, im) / weights;
}

// Centre of the first window from `from` on in which `after` is the louder
// tone (and above a tenth of the sine's peak); -1 when none.
int onset(int from, double before, double after)
{
    for (int start = std::max(0, from - Window); start + Window <= SoundDevice::RecordSamples; start += Hop) {
        const double a = amplitude(&g_block[size_t(start)], Window, after);
        const double b = before > 0 ? amplitude(&g_block[size_t(start)], Window, before) : 0.0;
        if (a > b && a > SinePeak * 0.1)
            return start + Window / 2;
    }
    return -1;
}

// Opens sink and its monitor (once; again when another sink is asked for).
bool setUp(benchmark::State& state, const std::string& sink)
{
    if (g_device && g_sink == sink) {
        state.counters["device_rate"] = g_device->outputDeviceRate();
        return true;
    }
    std::string error;
    if (!g_device) {
        g_device = std::make_unique<PulseSoundDevice>(g_server);
        error = g_device->initAudio().message();
    }
    g_sink = sink;
    int play = -1, record = -1;
    const auto plays = g_device->playDevices();
    const auto records = g_device->recordDevices();
    for (size_t i = 0; i < plays.size(); ++i)
        if (plays[i].name == sink)
            play = int(i);
    for (size_t i = 0; i < records.size(); ++i)
        if (records[i].name == sink + ".monitor")
            record = int(i);
    if (error.empty() && (play < 0 || record < 0))
        error = "the test sink " + sink + " is not there";
    if (error.empty())
        error = g_device->openOutputDevice(play).message();
    if (error.empty())
        error = g_device->openInputDevice(record).message();
    if (!error.empty()) {
        state.SkipWithError(error.c_str());
        g_device.reset();
        return false;
    }
    state.counters["device_rate"] = g_device->outputDeviceRate();
    return true;
}

bool recordBlock(benchmark::State& state, SleepWaiter& waiter)
{
    const audimera::Result<Recorded> recorded = g_device->RecordBlock(g_block.data(), waiter);
    if (!recorded || *recorded != Recorded::Complete) {
        const std::string error = recorded ? "cancelled" : recorded.message();
        state.SkipWithError(error.c_str());
        return false;
    }
    return true;
}

std::vector<int16_t> g_before(ToneTableSize), g_after(ToneTableSize);
int g_afterRate = 0;

void reportLatency(benchmark::State& state, const std::vector<double>& latencies)
{
    double sum = 0, worst = 0;
    for (double ms : latencies) {
        sum += ms;
        worst = std::max(worst, ms);
    }
    state.counters["latency_ms"] = latencies.empty() ? 0 : sum / double(latencies.size());
    state.counters["worst_ms"] = worst;
}

// One iteration: a tone plays, a block starts, and 200 ms into it `change`
// switches to the After tone; the time until the recording shows it.
void measureChange(benchmark::State& state, const std::string& sink, void (*change)())
{
    if (!setUp(state, sink))
        return;
    const int beforeRate = GenSineWave(g_before.data(), Before, false);
    g_afterRate = GenSineWave(g_after.data(), After, false);
    std::vector<double> latencies;
    for (auto _ : state) {
        (void)g_device->PlayLoop(g_before.data(), beforeRate);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        SleepWaiter waiter;
        waiter.at = SoundDevice::SampleRate / 5;
        waiter.action = change;
        if (!recordBlock(state, waiter))
            return;
        const int at = onset(waiter.arrivedThen, Before, After);
        if (at < 0) {
            state.SkipWithError("the new tone never showed");
            return;
        }
        const double ms = 1000.0 * (at - waiter.arrivedThen) / SoundDevice::SampleRate;
        latencies.push_back(ms);
        state.SetIterationTime(ms / 1000.0);
    }
    reportLatency(state, latencies);
}

void BM_RateChange(benchmark::State& state, const char* sink)
{
    measureChange(state, sink, [] { g_device->SetPlayRate(g_afterRate); });
}

void BM_PlayLoop(benchmark::State& state, const char* sink)
{
    // A new table: the Before tone stops, the After one starts.
    measureChange(state, sink, [] { (void)g_device->PlayLoop(g_after.data(), g_afterRate); });
}

void BM_RecordBlock(benchmark::State& state, const char* sink)
{
    if (!setUp(state, sink))
        return;
    for (auto _ : state) {
        SleepWaiter waiter;
        if (!recordBlock(state, waiter))
            return;
    }
}

constexpr const char* Sink = "audimera_test";
constexpr const char* Sink48k = "audimera_test_48k";

BENCHMARK_CAPTURE(BM_RateChange, 44100, Sink)
    ->Name("rate_change")->Iterations(8)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PlayLoop, 44100, Sink)
    ->Name("play_loop")->Iterations(8)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RecordBlock, 44100, Sink)
    ->Name("record_block")->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RateChange, 48000, Sink48k)
    ->Name("rate_change_48k")->Iterations(8)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PlayLoop, 48000, Sink48k)
    ->Name("play_loop_48k")->Iterations(8)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RecordBlock, 48000, Sink48k)
    ->Name("record_block_48k")->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    const char* server = std::getenv("AUDIMERA_TEST_PULSE_SERVER");
    if (!server || !*server) {
        std::printf("bench_pulse: AUDIMERA_TEST_PULSE_SERVER is not set (./test starts a private sound server);"
                    " nothing measured\n");
        return 0;
    }
    g_server = server;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_device.reset();
    return 0;
}
