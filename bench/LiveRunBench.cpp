// The live analyser's run through the session on the simulated card: what a
// second of audio costs the UI thread (capture reads of 10 ms, the
// spectrum's transforms and bands, the meter, the updates), periodic pink
// noise playing. The counter "load" is the share of one core the run would
// take in real time.
#include "devices/SimulatedSoundCard.h"
#include "engine/MeasurementDocument.h"
#include "engine/MeasurementSession.h"

#include <benchmark/benchmark.h>

namespace audimera {

namespace {

class NoHost : public Host {
public:
    void yield() override {}
    void sleepMs(int) override {}
    MessageAnswer message(std::string_view, MessageIcon, MessageButtons) override { return MessageAnswer::Ok; }
};

class Counting : public LiveObserver {
public:
    void liveUpdate(const LiveUpdate& update) override { benchmark::DoNotOptimize(update.spectrum.levelsDb.data()); }
};

// Args: the transform's length and the octave fraction (0: the line).
void BM_LiveRun(benchmark::State& state)
{
    NoHost host;
    SimulatedSoundCard card;
    (void)card.initAudio();
    MeasurementDocument document;
    MeasurementSession session(host, card, document);
    LiveSettings s;
    s.spectrum.fftLength = static_cast<int>(state.range(0));
    s.spectrum.fraction = static_cast<int>(state.range(1));
    s.spectrum.averaging = AnalyserAveraging::Exponential;
    s.signal = LiveSignal::PeriodicPink;
    s.seconds = 10;
    Counting observer;
    for (auto _ : state) {
        const Status run = session.runAnalyser(s, observer);
        if (!run)
            state.SkipWithError(run.message().c_str());
    }
    // Seconds of work per second of audio.
    state.counters["load"] = benchmark::Counter(s.seconds * double(state.iterations()),
                                                benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_LiveRun)
    ->Args({32768, 3})
    ->Args({32768, 48})
    ->Args({131072, 3})
    ->Args({8192, 0})
    ->Unit(benchmark::kMillisecond);

} // namespace

} // namespace audimera

BENCHMARK_MAIN();
