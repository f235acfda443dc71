// The tone fit of a block (narrow-band level and distortion): what it adds
// to each measured point, beside the mean-magnitude analysis
// (bench_engine's BM_AnalyseBlock). The goal is at most 1 ms a block.
#include "engine/BlockAnalysis.h"
#include "engine/ToneFit.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

using namespace audimera;

namespace {

// A block of a tone at hz with a little 2nd and 3rd harmonic, its section
// from the trigger point as a sweep analyses it.
struct Block {
    explicit Block(double hz) : samples(BlockAnalysis::SectionEnd + 1)
    {
        for (size_t n = 0; n < samples.size(); ++n) {
            const double t = 2 * 3.14159265358979 * hz * double(n) / 44100;
            samples[n] = static_cast<int16_t>(std::lround(12000 * std::sin(t) + 60 * std::sin(2 * t) + 20 * std::sin(3 * t)));
        }
        start = AnalyseBlock(samples.data(), hz, true).SampleStart;
    }
    std::vector<int16_t> samples;
    int start = 0;
};

// The range is the tone in Hz: 1000 fits H2..H5, 5000 H2..H3, 12000 none.
void BM_ToneFit(benchmark::State& state)
{
    const double hz = double(state.range(0));
    const Block block(hz);
    for (auto _ : state) {
        const ToneFit fit = fitTone(block.samples.data(), block.start, BlockAnalysis::SectionEnd, hz, 44100);
        const Distortion d = distortionOf(fit);
        benchmark::DoNotOptimize(fit.amplitude[1]);
        benchmark::DoNotOptimize(d.thdNoisePercent);
    }
    state.counters["samples"] = double(BlockAnalysis::SectionEnd - block.start + 1);
}
BENCHMARK(BM_ToneFit)->Arg(1000)->Arg(5000)->Arg(12000)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
