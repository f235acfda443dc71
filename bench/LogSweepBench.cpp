// The log sweep's analysis: deconvolution (FFTW), impulse responses,
// magnitude, phase and distortion at 48 points per octave, from a recording
// already made (a perfect loopback at 256 samples' delay plus the tail the
// measurement records). Goal for the default 2^18 samples: at most 100 ms
// on 2 cores.
//
// - analyse/N: a repeated measurement with the same sweep (plans and the
//   sweep's own response kept, as the window's repeated runs would).
// - first_analysis/N: a fresh measurement object each time: planning, the
//   sweep's inverse and its own response included.
// - make_sweep/N: generating the sweep.
// - loopback_figures/RATE: a first analysis of a perfect loopback of the
//   default length at RATE Hz (range 20 Hz to 20 kHz), with its figures:
//   ir_vs_band_edges_db, the largest departure of the deconvolved response
//   from the band edges' own impulse response (dB re its peak; goal -80);
//   after_1ms_pct, its energy more than 1 ms after the peak (goal 0.1);
//   flat_db, the magnitude's largest departure from 0 dB (goal 0.02);
//   thd_pct, the largest THD from harmonics up to 20 kHz (goal 0.001).
// - dropout_scan/N: looking for a dropout in the stereo recording of a
//   device run (the sweep at its delay on both channels, none found: the
//   whole recording is read).
// - loopback_run: a whole measurement at the default length on the private
//   test server (./test sets AUDIMERA_TEST_PULSE_SERVER; left out without
//   it), played into its sink "audimera_test" and recorded from the
//   monitor: wall time, and "over_sweep_s", what it takes beyond the
//   sweep's own duration (target at most 1.0 s).
#include "engine/LogSweepMeasurement.h"
#include "signal/Dropout.h"
#include "devices/PulseSoundDevice.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>

using namespace audimera;

namespace {

constexpr int Rate = 44100;

struct Fixture {
    LogSweep sweep;
    LogSweepSettings settings;
    std::vector<float> recording;
};

Fixture makeFixture(std::size_t length)
{
    audimera::Result<LogSweep> sweep = LogSweep::make({Rate, length, 20, 20000, -6});
    if (!sweep) {
        std::fprintf(stderr, "%s\n", sweep.message().c_str());
        std::abort();
    }
    LogSweepSettings settings;
    settings.length = length;
    const std::size_t frames = length + static_cast<std::size_t>(std::ceil(LogSweepSettings::TailSeconds * Rate));
    std::vector<float> recording(frames, 0.0f);
    std::copy(sweep->samples().begin(), sweep->samples().end(), recording.begin() + 256);
    return {std::move(sweep.value()), settings, std::move(recording)};
}

void BM_Analyse(benchmark::State& state)
{
    const Fixture f = makeFixture(static_cast<std::size_t>(state.range(0)));
    LogSweepMeasurement measurement;
    for (auto _ : state) {
        audimera::Result<LogSweepResults> r =
            measurement.analyse(f.sweep, f.settings, f.recording.data(), f.recording.size(), 1);
        if (!r) {
            state.SkipWithError(r.message().c_str());
            break;
        }
        benchmark::DoNotOptimize(r->response.data());
    }
}

// The analysis of 2^18 samples with each phase reference (0: auto, the
// default; 1: peak): what auto's minimum-phase fit costs.
void BM_AnalysePhaseRef(benchmark::State& state)
{
    Fixture f = makeFixture(std::size_t(1) << 18);
    f.settings.phaseRef = state.range(0) == 0 ? LogSweepSettings::PhaseRef::Auto : LogSweepSettings::PhaseRef::Peak;
    LogSweepMeasurement measurement;
    for (auto _ : state) {
        audimera::Result<LogSweepResults> r =
            measurement.analyse(f.sweep, f.settings, f.recording.data(), f.recording.size(), 1);
        benchmark::DoNotOptimize(r.ok());
    }
}

void BM_FirstAnalysis(benchmark::State& state)
{
    const Fixture f = makeFixture(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        LogSweepMeasurement measurement;
        audimera::Result<LogSweepResults> r =
            measurement.analyse(f.sweep, f.settings, f.recording.data(), f.recording.size(), 1);
        benchmark::DoNotOptimize(r.ok());
    }
}

void BM_MakeSweep(benchmark::State& state)
{
    for (auto _ : state) {
        audimera::Result<LogSweep> sweep =
            LogSweep::make({Rate, static_cast<std::size_t>(state.range(0)), 20, 20000, -6});
        benchmark::DoNotOptimize(sweep.ok());
    }
}

void BM_DropoutScan(benchmark::State& state)
{
    const Fixture f = makeFixture(static_cast<std::size_t>(state.range(0)));
    std::vector<float> stereo(2 * f.recording.size());
    for (std::size_t i = 0; i < f.recording.size(); ++i)
        stereo[2 * i] = stereo[2 * i + 1] = f.recording[i];
    for (auto _ : state) {
        const std::optional<std::size_t> found = Dropout::find(stereo.data(), f.recording.size(), 2);
        if (found) {
            state.SkipWithError("a dropout in a clean recording");
            break;
        }
        benchmark::DoNotOptimize(found);
    }
}

void BM_LoopbackFigures(benchmark::State& state)
{
    const int rate = static_cast<int>(state.range(0));
    const audimera::Result<LogSweep> sweep = LogSweep::make({rate, LogSweep::defaultLength(rate), 20, 20000, -6});
    if (!sweep) {
        state.SkipWithError(sweep.message().c_str());
        return;
    }
    LogSweepSettings settings;
    const std::size_t delay = 256;
    std::vector<float> recording(sweep->length() + static_cast<std::size_t>(LogSweepSettings::TailSeconds * rate));
    std::copy(sweep->samples().begin(), sweep->samples().end(), recording.begin() + delay);
    audimera::Result<LogSweepResults> r = audimera::Error{"not run"};
    for (auto _ : state) {
        LogSweepMeasurement measurement;
        r = measurement.analyse(*sweep, settings, recording.data(), recording.size(), 1);
        benchmark::DoNotOptimize(r.ok());
    }
    if (!r) {
        state.SkipWithError(r.message().c_str());
        return;
    }
    SweepDeconvolver deconvolver(*sweep);
    std::vector<double> h;
    deconvolver.deconvolve(recording.data(), recording.size(), 1, h);
    const std::vector<double> edges = sweep->bandEdgeImpulse(h.size());
    double worst = 0, peak = 0, total = 0, tail = 0, flat = 0, thd = 0;
    for (std::size_t i = 0; i < h.size(); ++i) {
        worst = std::max(worst, std::abs(h[i] - (i >= delay ? edges[i - delay] : 0.0)));
        peak = std::max(peak, std::abs(h[i]));
        total += h[i] * h[i];
        tail += i > delay + static_cast<std::size_t>(0.001 * rate) ? h[i] * h[i] : 0;
    }
    for (const ResponsePoint& p : r->response)
        flat = std::max(flat, std::abs(p.level));
    for (const DistortionPoint& d : r->distortion) {
        double sum = 0;
        for (int k = 2; k <= 5; ++k)
            if (k * d.frequency <= 20000 && d.harmonicDb[k - 2])
                sum += std::pow(10, *d.harmonicDb[k - 2] / 10);
        thd = std::max(thd, 100 * std::sqrt(sum));
    }
    state.counters["ir_vs_band_edges_db"] = 20 * std::log10(std::max(worst, 1e-300) / peak);
    state.counters["after_1ms_pct"] = 100 * tail / total;
    state.counters["flat_db"] = flat;
    state.counters["thd_pct"] = thd;
}

class SleepWaiter : public RecordWaiter {
public:
    bool waitOnce() override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return true;
    }
};

void BM_LoopbackRun(benchmark::State& state)
{
    PulseSoundDevice device(std::getenv("AUDIMERA_TEST_PULSE_SERVER"));
    std::string error = device.initAudio().message();
    int play = -1, record = -1;
    const auto plays = device.playDevices();
    const auto records = device.recordDevices();
    for (size_t i = 0; i < plays.size(); ++i)
        if (plays[i].name == "audimera_test")
            play = int(i);
    for (size_t i = 0; i < records.size(); ++i)
        if (records[i].name == "audimera_test.monitor")
            record = int(i);
    if (error.empty() && (play < 0 || record < 0))
        error = "the test sink audimera_test is not there";
    if (error.empty())
        error = device.openOutputDevice(play).message();
    if (error.empty())
        error = device.openInputDevice(record).message();
    if (!error.empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    LogSweepSettings settings; // the default length
    LogSweepMeasurement measurement;
    SleepWaiter waiter;
    double over = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const audimera::Result<LogSweepResults> r = measurement.run(device, settings, waiter);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!r) {
            state.SkipWithError(r.message().c_str());
            break;
        }
        state.SetIterationTime(seconds);
        over = seconds - static_cast<double>(settings.lengthAt(device.duplexRate())) / device.duplexRate();
    }
    state.counters["over_sweep_s"] = over;
    device.closeAudio();
}

} // namespace

BENCHMARK(BM_Analyse)->Name("analyse")->Arg(1 << 16)->Arg(1 << 18)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AnalysePhaseRef)->Name("analyse_phase_ref")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirstAnalysis)->Name("first_analysis")->Arg(1 << 18)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MakeSweep)->Name("make_sweep")->Arg(1 << 18)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoopbackFigures)->Name("loopback_figures")->Arg(44100)->Arg(48000)->Arg(96000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DropoutScan)->Name("dropout_scan")->Arg(1 << 18)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    const char* server = std::getenv("AUDIMERA_TEST_PULSE_SERVER");
    if (server && *server)
        benchmark::RegisterBenchmark("loopback_run", BM_LoopbackRun)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    else
        std::printf("bench_logsweep: AUDIMERA_TEST_PULSE_SERVER is not set; loopback_run not measured\n");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
