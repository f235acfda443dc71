// Quality and cost of the simulated chain's band-limited poly item.
//
// Quality (printed once before the timings): poly=0.1,0.05 on a -6 dBFS
// tone of a whole number of Hz, one second at 44100 Hz analysed after one
// second of settling, so every product falls on a whole-Hz bin. For each
// tone: H2 and H3 against polyHarmonic() where they lie below half the rate
// (dB error; target within 0.001 dB up to 20 kHz; from there to half
// the rate the filters roll off), and where x^2 and x^3
// would fold back (at 44100 - 2f, 44100 - 3f or 3f - 44100 Hz) the level
// found there in dB re the tone (target below -100 dB). The same for the
// plain digital polynomial shows what band-limiting removes.
// Speed: CPU time for one second of 44100 Hz sound in 4096-sample pieces,
// as the simulated card feeds its chain, next to a chain of one biquad.
#include "signal/BandLimitedPoly.h"
#include "devices/SoundChain.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <string>
#include <vector>

using namespace audimera;

namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr int Rate = 44100;

// Peak amplitude (full scale) at a whole number of Hz over one second.
double levelAt(const std::vector<double>& y, int hz)
{
    std::complex<double> sum = 0;
    for (int n = 0; n < Rate; ++n)
        sum += y[std::size_t(n)] * std::polar(1.0, -2 * Pi * double(hz) * n / Rate);
    return 2 * std::abs(sum) / Rate / 32768.0;
}

std::vector<double> tone(int hz, double amplitude)
{
    std::vector<double> x(2 * Rate);
    for (std::size_t n = 0; n < x.size(); ++n)
        x[n] = 32768.0 * amplitude * std::sin(2 * Pi * double(hz) * double(n) / Rate);
    return x;
}

void printQuality()
{
    const double a = 0.5, a2 = 0.1, a3 = 0.05;
    std::printf("poly=0.1,0.05 at -6 dBFS, 44100 Hz: harmonic errors (dB) and folded products (dB re tone)\n");
    for (const int hz : {1000, 5000, 7000, 9000, 10000, 12000, 15000, 20000}) {
        for (const bool limited : {true, false}) {
            std::vector<double> y = tone(hz, a);
            if (limited) {
                BandLimitedPoly poly(a2, a3);
                poly.process(y);
            } else {
                for (double& v : y) {
                    const double u = v / 32768.0;
                    v = 32768.0 * (u + u * u * (a2 + a3 * u));
                }
            }
            const std::vector<double> last(y.begin() + Rate, y.end());
            const double h1 = levelAt(last, hz);
            std::string line;
            char piece[96];
            for (const int k : {2, 3}) {
                const int at = k * hz;
                const int folded = at < Rate ? Rate - at : at - Rate;
                if (at < Rate / 2) {
                    const double want = SoundChain::polyHarmonic(k, a, a2, a3);
                    std::snprintf(piece, sizeof piece, "  H%d %+.4f dB%s", k,
                                  20 * std::log10(levelAt(last, at) / want),
                                  at > 20000 ? " (above 20 kHz: the filters' transition band)" : "");
                } else {
                    std::snprintf(piece, sizeof piece, "  x^%d folded to %d Hz: %.1f dB", k, folded,
                                  20 * std::log10(std::max(levelAt(last, folded), 1e-12) / h1));
                }
                line += piece;
            }
            std::printf("  %5d Hz %-12s%s\n", hz, limited ? "band-limited" : "digital", line.c_str());
        }
    }
    std::fflush(stdout);
}

void runChain(benchmark::State& state, const char* text)
{
    std::string error;
    SoundChain chain = *SoundChain::parse(text, error);
    std::vector<double> block(4096);
    const std::vector<double> x = tone(1000, 0.5);
    for (auto _ : state) {
        chain.reset();
        for (std::size_t from = 0; from < std::size_t(Rate); from += block.size()) {
            block.assign(x.begin() + std::ptrdiff_t(from),
                         x.begin() + std::ptrdiff_t(std::min<std::size_t>(from + 4096, Rate)));
            chain.process(block);
            benchmark::DoNotOptimize(block.data());
        }
    }
}

void BM_PolyOneSecond(benchmark::State& state) { runChain(state, "poly=0.1,0.05"); }
void BM_BiquadOneSecond(benchmark::State& state) { runChain(state, "lowpass2=5000"); }

BENCHMARK(BM_PolyOneSecond)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BiquadOneSecond)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    printQuality();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
