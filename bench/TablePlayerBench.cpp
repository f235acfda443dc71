// Quality and speed of the band-limited table player.
//
// Quality (printed once before the timings, for an output stream at 44100 Hz
// and at 48000 Hz, the rate of most sound servers): the real tone tables are
// played at the rates a sweep uses and at awkward rates, and every output
// block is compared with the ideal band-limited playback of the table as
// given: its exact trigonometric interpolation at the exact read positions,
// keeping only components below half the output rate (so the table's own
// rounding counts as signal).
//   - sine: flatness of the tone (dB) and the worst other component of the
//     error below 20 kHz, in dB below the tone; targets +-0.01 dB and 100 dB.
//     The edge from 20 kHz to half the output rate is shown apart: there the
//     decimating kernel's transition band meets components the ideal still
//     keeps.
//   - square and triangle: worst component of the error below 20 kHz (images,
//     aliases), in dB relative to the fundamental; target -80 dB.
// Speed: CPU time to render one second of output (44100 or 48000 samples) in
// 10 ms callbacks, the time per iteration; target at most 20 ms at every rate.
#include "common/Rounding.h"
#include "signal/TablePlayer.h"

#include "bench/RadixTwoFft.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <string>
#include <vector>

using namespace audimera;

namespace {

using Complex = std::complex<double>;
constexpr double Pi = 3.14159265358979323846;
constexpr int TableLength = TablePlayer::TableSamples;
constexpr int Block = 65536;

enum class Wave { Sine, Square, Triangle };

// The generator's tables: period 100 (k = 1) or 5 (k = 20).
std::vector<int16_t> makeTable(Wave wave, int k)
{
    std::vector<int16_t> t(TableLength);
    for (int i = 0; i < TableLength; ++i) {
        switch (wave) {
        case Wave::Sine:
            t[i] = int16_t(audimera::nearest(std::sin(i * ((k + k) * 3.14159265358979 / 100)) * 16000));
            break;
        case Wave::Square:
            t[i] = std::fmod(audimera::nearest(2.0 * i * k / 100), 2.0) == 0.0 ? 8000 : -8000;
            break;
        case Wave::Triangle: {
            const int v = 200 * ((i * k) % 100);
            t[i] = int16_t(v < 10000 ? v - 5000 : 15000 - v);
            break;
        }
        }
    }
    return t;
}

using bench::fft;

struct Measurement {
    double flatnessDb = 0; // fundamental's gain against the ideal
    // Worst error component against the fundamental, below 20 kHz and in the
    // band edge from 20 kHz to 22050 Hz.
    double worstDb = -400;
    double worstHz = 0;
    double edgeDb = -400;
    double edgeHz = 0;
};

// Plays one period-P table at rate into a stream of outRate and compares
// Block output samples with the ideal. fitTone: take the fundamental's own
// error out (reported as flatness) before looking for the worst component.
Measurement measure(const std::vector<int16_t>& table, int period, int rate, int outRate, bool fitTone)
{
    TablePlayer player;
    player.setOutputRate(outRate);
    player.setTable(table.data());
    player.setRate(rate);
    player.start();
    std::vector<float> out(Block);
    for (int n = 0; n < Block; n += 441)
        player.render(out.data() + n, std::min(441, Block - n));

    // c[k] = (1/P) sum x[n] e^(-2 pi i k n / P), one period.
    std::vector<Complex> c(period / 2 + 1);
    for (int k = 0; k <= period / 2; ++k) {
        for (int n = 0; n < period; ++n)
            c[k] += double(table[n]) * std::polar(1.0, -2.0 * Pi * k * n / period);
        c[k] /= period;
    }
    // Ideal: the harmonics below outRate / 2 at position m * rate / outRate.
    const long cycle = long(outRate) * period; // positions repeat after this many 1/outRate steps
    std::vector<double> ideal(Block, c[0].real());
    for (int k = 1; k <= period / 2; ++k) {
        if (double(k) * rate / period >= outRate / 2.0)
            continue;
        const bool nyquist = 2 * k == period;
        const Complex amp = nyquist ? c[k] : 2.0 * c[k];
        const Complex stepTurn = std::polar(1.0, 2.0 * Pi * double((long(rate) * k) % cycle) / double(cycle));
        Complex turn;
        for (int m = 0; m < Block; ++m) {
            if (m % 512 == 0) // exact every 512 samples, rotated in between
                turn = std::polar(1.0, 2.0 * Pi * double((long(m) * rate * k) % cycle) / double(cycle));
            ideal[m] += (amp * turn).real();
            turn *= stepTurn;
        }
    }

    std::vector<double> error(Block);
    for (int m = 0; m < Block; ++m)
        error[m] = out[m] - ideal[m];

    Measurement result;
    const double toneAmp = 2.0 * std::abs(c[1]);
    if (fitTone) {
        // Least squares of the error on cos and sin of the fundamental.
        const double w = 2.0 * Pi * double(rate) / (double(period) * outRate);
        double cc = 0, ss = 0, cs = 0, ec = 0, es = 0;
        for (int m = 0; m < Block; ++m) {
            const double co = std::cos(w * m), si = std::sin(w * m);
            cc += co * co;
            ss += si * si;
            cs += co * si;
            ec += error[m] * co;
            es += error[m] * si;
        }
        const double det = cc * ss - cs * cs;
        const double a = (ec * ss - es * cs) / det, b = (es * cc - ec * cs) / det;
        for (int m = 0; m < Block; ++m)
            error[m] -= a * std::cos(w * m) + b * std::sin(w * m);
        // Ideal fundamental: 2 Re(c1) cos - 2 Im(c1) sin.
        const double oc = 2.0 * c[1].real() + a, os = -2.0 * c[1].imag() + b;
        result.flatnessDb = 20.0 * std::log10(std::hypot(oc, os) / toneAmp);
    }

    // Windowed FFT of the error (4-term Blackman-Harris, -92 dB side lobes),
    // scaled so a sine of amplitude A reads A.
    std::vector<Complex> spectrum(Block);
    double windowSum = 0;
    for (int m = 0; m < Block; ++m) {
        const double x = 2.0 * Pi * m / Block;
        const double win = 0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2 * x) - 0.01168 * std::cos(3 * x);
        windowSum += win;
        spectrum[m] = error[m] * win;
    }
    fft(spectrum);
    for (int k = 0; k <= Block / 2; ++k) {
        const double hz = double(k) * outRate / Block;
        const double amp = (k == 0 ? 1.0 : 2.0) * std::abs(spectrum[k]) / windowSum;
        const double db = 20.0 * std::log10(std::max(amp, 1e-30) / toneAmp);
        double& worst = hz <= 20000.0 ? result.worstDb : result.edgeDb;
        if (db > worst) {
            worst = db;
            (hz <= 20000.0 ? result.worstHz : result.edgeHz) = hz;
        }
    }
    return result;
}

struct SweepPoint {
    int period;
    int rate;
    double hz() const { return double(rate) / period; }
};

// The 31 third-octave band centres as a sweep plays them, then awkward rates
// (among them those around the output rate, where the reading changes).
std::vector<SweepPoint> sweep(int outRate)
{
    const double bands[] = {20, 25, 31.5, 40, 50, 63, 80, 100, 125, 160, 200, 250, 315, 400, 500, 630,
                            800, 1000, 1250, 1600, 2000, 2500, 3150, 4000, 5000, 6300, 8000, 10000,
                            12500, 16000, 20000};
    std::vector<SweepPoint> points;
    for (double f : bands) {
        if (f <= 1000)
            points.push_back({100, int(audimera::nearest(f * 100))});
        else
            points.push_back({5, int(audimera::nearest(f * 100 / 20))});
    }
    for (int period : {100, 5}) {
        for (int rate : {100, 22050, 44099, 44100, 44101, 55124, 55125, 86133, 88199, 88200, 99999, 100000})
            points.push_back({period, rate});
        if (outRate != 44100)
            for (int rate : {outRate - 1, outRate, outRate + 1})
                points.push_back({period, rate});
    }
    return points;
}

// Worst value seen and where.
struct Worst {
    double db = -400;
    std::string at;
    void offer(double value, const std::string& where)
    {
        if (value > db) {
            db = value;
            at = where;
        }
    }
};

void printQualityReport(int outRate)
{
    const std::string edgeBand = "20k-" + std::to_string(outRate / 2000.0).substr(0, 5) + "k";
    std::printf("== Table player quality, output at %d Hz: error against the ideal band-limited playback\n",
                outRate);
    std::printf("   sine tables; spurious = worst other component, dB re the tone\n");
    std::printf("%-7s %7s %9s %12s %16s %20s\n", "period", "rate", "tone Hz", "flatness dB", "spurious <20k",
                ("spurious " + edgeBand).c_str());
    Worst flat, spur, edge;
    for (const SweepPoint& p : sweep(outRate)) {
        const std::vector<int16_t> table = makeTable(Wave::Sine, p.period == 100 ? 1 : 20);
        const Measurement m = measure(table, p.period, p.rate, outRate, true);
        std::printf("%-7d %7d %9.2f %+12.5f %16.1f %20.1f\n", p.period, p.rate, p.hz(), m.flatnessDb, m.worstDb,
                    m.edgeDb);
        const std::string at = "rate " + std::to_string(p.rate) + " (period " + std::to_string(p.period) + ")";
        flat.offer(std::abs(m.flatnessDb), at);
        spur.offer(m.worstDb, at + ", at " + std::to_string(int(m.worstHz)) + " Hz");
        edge.offer(m.edgeDb, at + ", at " + std::to_string(int(m.edgeHz)) + " Hz");
    }

    const struct {
        const char* name;
        Wave wave;
    } others[] = {{"square", Wave::Square}, {"triangle", Wave::Triangle}};
    Worst alias[2];
    for (int w = 0; w < 2; ++w) {
        for (const SweepPoint& p : sweep(outRate)) {
            const std::vector<int16_t> table = makeTable(others[w].wave, p.period == 100 ? 1 : 20);
            const Measurement m = measure(table, p.period, p.rate, outRate, false);
            alias[w].offer(m.worstDb, "rate " + std::to_string(p.rate) + " (period " + std::to_string(p.period) +
                                          "), at " + std::to_string(int(m.worstHz)) + " Hz");
        }
    }

    auto verdict = [](bool ok) { return ok ? "ok" : "MISSED"; };
    std::printf("\nSummary over the sweep at %d Hz (31 third-octave bands and awkward rates):\n", outRate);
    std::printf("  sine flatness, worst:            %.5f dB, %s   [target 0.01 dB: %s]\n", flat.db,
                flat.at.c_str(), verdict(flat.db <= 0.01));
    std::printf("  sine spurious below 20 kHz:      %.1f dB below the tone, %s   [target 100 dB: %s]\n", -spur.db,
                spur.at.c_str(), verdict(spur.db <= -100));
    std::printf("  sine spurious %-17s %.1f dB below the tone, %s\n", (edgeBand + ":").c_str(), -edge.db,
                edge.at.c_str());
    std::printf("    (the cut-off's transition band: the table's own rounding harmonics within a few kHz\n"
                "     under half the output rate are kept by the ideal but partly removed by any real filter)\n");
    for (int w = 0; w < 2; ++w)
        std::printf("  %-8s images/aliases below 20 kHz: %.1f dB re fundamental, %s   [target -80 dB: %s]\n",
                    others[w].name, alias[w].db, alias[w].at.c_str(), verdict(alias[w].db <= -80));
    std::printf("  CPU per second of output: the Time column of BM_RenderOneSecond/output:%d below, in ms"
                "   [target 20 ms]\n\n",
                outRate);
    std::fflush(stdout);
}

// One second of output rendered in 10 ms callbacks; the time per iteration is
// the CPU cost of a second of sound.
void BM_RenderOneSecond(benchmark::State& state)
{
    const int rate = int(state.range(0));
    const int outRate = int(state.range(1));
    const int callback = outRate / 100;
    const std::vector<int16_t> table = makeTable(Wave::Sine, rate > 44100 ? 20 : 1);
    TablePlayer player;
    player.setOutputRate(outRate);
    player.setTable(table.data());
    player.setRate(rate);
    player.start();
    std::vector<float> out(callback);
    for (auto _ : state) {
        for (int n = 0; n < outRate; n += callback)
            player.render(out.data(), callback);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_RenderOneSecond)
    ->ArgNames({"rate", "output"})
    ->Args({44100, 44100})
    ->Args({100000, 44100})
    ->Args({100, 44100})
    ->Args({44099, 44100})
    ->Args({88199, 44100})
    ->Args({44100, 48000})
    ->Args({100000, 48000})
    ->Args({100, 48000})
    ->Args({47999, 48000})
    ->Args({88199, 48000})
    ->Unit(benchmark::kMillisecond);

// Replacing the table (PlayLoop): the exact 2x upsampling and the shorter
// copies, on the calling thread while playback is stopped.
void BM_SetTable(benchmark::State& state)
{
    const std::vector<int16_t> table = makeTable(Wave::Square, 1);
    TablePlayer player;
    for (auto _ : state)
        player.setTable(table.data());
}
BENCHMARK(BM_SetTable)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    printQualityReport(44100);
    printQualityReport(48000);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
