// Redraw cost of the live analyser's plot on the window's first size, done
// at every update (12 a second): 1/48-octave bars with the peak hold and a
// frozen reference, and the line of the longest transform (65536 lines).
#include "display/models/AnalyserPlot.h"
#include "display/models/LogSweepPlots.h"

#include <benchmark/benchmark.h>

#include <cmath>

using namespace audimera;

namespace {

constexpr int kWidth = 1060;
constexpr int kHeight = 420;

// A frame of bands at 1/fraction octave from 20 Hz to 20 kHz, or of the
// lines of a transform of fftLength at 44.1 kHz (fraction 0).
SpectrumFrame frameOf(int fraction, int fftLength)
{
    SpectrumFrame f;
    f.binHz = 44100.0 / fftLength;
    if (fraction == 0) {
        for (int k = 0; k < fftLength / 2; ++k)
            f.frequencies.push_back(k * f.binHz);
    } else {
        const double g = std::pow(10.0, 0.3);
        for (int x = -40 * fraction; x <= 40 * fraction; ++x) {
            const double fm = 1000 * std::pow(g, (fraction % 2 ? 2.0 * x : 2.0 * x + 1) / (2 * fraction));
            if (fm >= 20 && fm <= 20000) {
                f.bands.push_back({fm, fm * std::pow(g, -0.5 / fraction), fm * std::pow(g, 0.5 / fraction), ""});
                f.frequencies.push_back(fm);
            }
        }
    }
    for (std::size_t i = 0; i < f.frequencies.size(); ++i) {
        f.levelsDb.push_back(-40 - 20 * std::sin(i * 0.01) + 3 * std::cos(i * 1.7));
        f.peakDb.push_back(f.levelsDb.back() + 4);
    }
    return f;
}

void BM_AnalyserPlotRedraw(benchmark::State& state)
{
    const SpectrumFrame frame = frameOf(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const SpectrumFrame reference = frameOf(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    DrawingSurface surface(LogSweepPlots::UnitsPerPixel);
    surface.setSize(kWidth * LogSweepPlots::UnitsPerPixel, kHeight * LogSweepPlots::UnitsPerPixel);
    std::vector<QRectF> boxes;
    AnalyserPlot::View view;
    view.frame = &frame;
    view.reference = &reference;
    view.peakHold = true;
    view.labelBoxes = &boxes;
    for (auto _ : state) {
        AnalyserPlot::draw(surface, view);
        benchmark::DoNotOptimize(surface.pixelColor(1, 1));
    }
}
BENCHMARK(BM_AnalyserPlotRedraw)->Args({48, 32768})->Args({3, 32768})->Args({0, 131072})->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
