// Cost of the signal tables and of reading a frequency list: GenSineWave runs
// at every point of a sweep, the noise tables once at start-up.
#include "dsp/DspLibrary.h"
#include "signal/FrequencyPlan.h"
#include "signal/SignalSynthesis.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace audimera;

namespace {

void BM_GenSineWave(benchmark::State& state)
{
    const bool by20 = state.range(0) != 0;
    std::vector<int16_t> table(ToneTableSize, 0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(GenSineWave(table.data(), by20 ? 5000 : 440, by20));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * ToneTablePlayed);
}
BENCHMARK(BM_GenSineWave)->ArgName("by20")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_GenSquareWave(benchmark::State& state)
{
    std::vector<int16_t> table(ToneTableSize, 0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(GenSquareWave(table.data(), 440, false));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * ToneTablePlayed);
}
BENCHMARK(BM_GenSquareWave)->Unit(benchmark::kMicrosecond);

void BM_GenTriangleWave(benchmark::State& state)
{
    std::vector<int16_t> table(ToneTableSize, 0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(GenTriangleWave(table.data(), 440, false));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * ToneTablePlayed);
}
BENCHMARK(BM_GenTriangleWave)->Unit(benchmark::kMicrosecond);

void BM_InitWhitePinkBuffers(benchmark::State& state)
{
    if (!DspLibrary::instance().require({"LowPass44"})) {
        state.SkipWithError("Audidsp not loadable");
        return;
    }
    std::vector<int16_t> white(ToneTableSize, 0), pink(ToneTableSize, 0);
    for (auto _ : state) {
        Audidsp::LowPass44(0, 0, 1);
        InitWhitePinkBuffers(white.data(), pink.data(), Audidsp::LowPass44);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_InitWhitePinkBuffers)->Unit(benchmark::kMicrosecond);

// A list file of 100000 rising frequencies, one per CR LF line.
void BM_ReadListFile(benchmark::State& state)
{
    const std::string path = (std::filesystem::temp_directory_path()
                              / ("audimera_bench_list_" + std::to_string(::getpid()) + ".txt"))
                                 .string();
    {
        std::ofstream out(path, std::ios::binary);
        for (int i = 0; i < 100000; ++i)
            out << 10 + i * 0.2 << "\r\n";
    }
    const auto bytes = std::filesystem::file_size(path);
    FrequencyPlan plan;
    for (auto _ : state) {
        const audimera::Status read = plan.ResetGenerator(FrequencyPlan::UserFilePlan, path);
        if (!read || plan.FreqList.size() != 100001) {
            state.SkipWithError("list file not read as expected");
            break;
        }
    }
    std::filesystem::remove(path);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
    state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_ReadListFile)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
