// Quality and speed of the record path's rate converter (the source's own
// rate to 44100 Hz), next to libsoxr at its very-high-quality setting, the
// alternative it was chosen over.
//
// Quality (printed once before the timings), at the record rates of real
// devices:
//   - tones from 20 Hz to 20 kHz: the gain of the tone (dB), its timing
//     against the stated delay (output samples), and the worst other
//     component of the output below 20 kHz in dB re the tone (windowed FFT);
//     targets +-0.01 dB, exact, -100 dB.
//   - tones from 24.1 kHz up to the input's half rate, which would fold back
//     below 20 kHz: the worst output component below 20 kHz, dB re the
//     input tone; target -100 dB.
// Speed: CPU time to convert one second of input, given in 5 ms pieces as
// the record stream delivers it; the time per iteration.
#include "signal/RateConverter.h"

#include "bench/RadixTwoFft.h"

#include <benchmark/benchmark.h>

#ifdef AUDIMERA_HAVE_SOXR
#include <soxr.h>
#endif

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace audimera;

namespace {

using Complex = std::complex<double>;
constexpr double Pi = 3.14159265358979323846;
constexpr int Out = RateConverter::OutputRate;
constexpr int Block = 32768; // outputs analysed
constexpr int Rates[] = {48000, 88200, 96000, 192000};

// One converter under test: converts count inputs, appending to out.
struct Converter {
    virtual ~Converter() = default;
    virtual void reset() = 0;
    virtual void process(const float* in, int count, std::vector<float>& out) = 0;
    // Output position of input sample 0, in output samples.
    virtual double delay() const = 0;
    // Outputs to skip before analysing.
    virtual int settling() const = 0;
};

struct Ours : Converter {
    explicit Ours(int rate) : converter(rate), part(converter.maxOutputs(rate)) {}
    void reset() override { converter.reset(); }
    void process(const float* in, int count, std::vector<float>& out) override
    {
        const int written = converter.process(in, count, part.data());
        out.insert(out.end(), part.begin(), part.begin() + written);
    }
    double delay() const override { return converter.delay(); }
    int settling() const override { return converter.settlingOutputs(); }
    RateConverter converter;
    std::vector<float> part;
};

#ifdef AUDIMERA_HAVE_SOXR
// libsoxr, 28-bit precision, linear phase, passband widened to 20.5 kHz. Its
// output stream starts at input sample 0 (it holds back what its filter has
// not settled yet, soxr_delay()).
struct Soxr : Converter {
    explicit Soxr(int rate) : part(8192)
    {
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, SOXR_LINEAR_PHASE);
        quality.passband_end = 20500.0 / 22050.0;
        soxr_error_t error = nullptr;
        resampler = soxr_create(rate, Out, 1, &error, &io, &quality, nullptr);
    }
    ~Soxr() override { soxr_delete(resampler); }
    void reset() override { soxr_clear(resampler); }
    void process(const float* in, int count, std::vector<float>& out) override
    {
        while (count > 0) {
            size_t used = 0, written = 0;
            soxr_process(resampler, in, size_t(count), &used, part.data(), part.size(), &written);
            out.insert(out.end(), part.begin(), part.begin() + long(written));
            in += used;
            count -= int(used);
            if (used == 0 && written == 0)
                break;
        }
    }
    double delay() const override { return 0.0; }
    int settling() const override { return 2048; } // past its start-up, generously
    soxr_t resampler = nullptr;
    std::vector<float> part;
};
#endif

using bench::fft;

// Worst component below 20 kHz of y (4-term Blackman-Harris window, -92 dB
// side lobes, scaled so that a sine of amplitude A reads A), in dB re 1.
double worstBelow20k(const std::vector<double>& y)
{
    std::vector<Complex> spectrum(y.size());
    double windowSum = 0;
    for (size_t m = 0; m < y.size(); ++m) {
        const double x = 2.0 * Pi * double(m) / double(y.size());
        const double win = 0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2 * x) - 0.01168 * std::cos(3 * x);
        windowSum += win;
        spectrum[m] = y[m] * win;
    }
    fft(spectrum);
    double worst = 1e-30;
    for (size_t k = 0; k <= y.size() / 2 && double(k) * Out / double(y.size()) <= 20000.0; ++k)
        worst = std::max(worst, (k == 0 ? 1.0 : 2.0) * std::abs(spectrum[k]) / windowSum);
    return 20.0 * std::log10(worst);
}

// Converts a unit sine of hz at rate and returns the analysed outputs.
std::vector<double> convertTone(Converter& converter, int rate, double hz)
{
    converter.reset();
    std::vector<float> out;
    const int piece = rate / 200;
    std::vector<float> x(piece);
    int64_t n = 0;
    while (int(out.size()) < converter.settling() + Block) {
        for (int i = 0; i < piece; ++i, ++n)
            x[i] = float(std::sin(2.0 * Pi * hz * double(n % rate) / rate));
        converter.process(x.data(), piece, out);
    }
    return std::vector<double>(out.begin() + converter.settling(), out.begin() + converter.settling() + Block);
}

struct ToneResult {
    double gainDb, timing, worstDb;
};

// Fits the tone, timed from input sample 0 moved by the stated delay; the
// timing is how far (in output samples) the output sits from there.
ToneResult measureTone(Converter& converter, int rate, double hz)
{
    const std::vector<double> y = convertTone(converter, rate, hz);
    const double w = 2.0 * Pi * hz / Out;
    const double start = converter.settling() - converter.delay();
    double cc = 0, ss = 0, cs = 0, yc = 0, ys = 0;
    for (int m = 0; m < Block; ++m) {
        const double c = std::cos(w * (m + start)), s = std::sin(w * (m + start));
        cc += c * c, ss += s * s, cs += c * s, yc += y[m] * c, ys += y[m] * s;
    }
    const double det = cc * ss - cs * cs;
    const double a = (yc * ss - ys * cs) / det, b = (ys * cc - yc * cs) / det;
    std::vector<double> rest(Block);
    for (int m = 0; m < Block; ++m)
        rest[m] = y[m] - a * std::cos(w * (m + start)) - b * std::sin(w * (m + start));
    return {20.0 * std::log10(std::hypot(a, b)), -std::atan2(a, b) / w, worstBelow20k(rest)};
}

void report(const char* name, const std::function<std::unique_ptr<Converter>(int)>& make)
{
    std::printf("== %s\n", name);
    std::printf("%7s %12s %14s %16s %16s\n", "rate", "flatness dB", "timing smp", "spurious <20k", "folded <20k");
    const double tones[] = {20,   25,   31.5, 40,   50,   63,   80,    100,   125,   160,   200,
                            250,  315,  400,  500,  630,  800,  1000,  1250,  1600,  2000,  2500,
                            3150, 4000, 5000, 6300, 8000, 10000, 12500, 16000, 19000, 20000};
    for (int rate : Rates) {
        const std::unique_ptr<Converter> converter = make(rate);
        double flat = 0, timing = 0, spurious = -400, folded = -400;
        for (double hz : tones) {
            const ToneResult r = measureTone(*converter, rate, hz);
            flat = std::max(flat, std::abs(r.gainDb));
            if (hz >= 100) // the timing of a slow tone is poorly fixed by a block
                timing = std::max(timing, std::abs(r.timing));
            spurious = std::max(spurious, r.worstDb);
        }
        for (double hz = 24100; hz < 0.4995 * rate; hz += 1931.7) {
            std::vector<double> y = convertTone(*converter, rate, hz);
            folded = std::max(folded, worstBelow20k(y));
        }
        std::printf("%7d %12.5f %14.6f %16.1f %16s\n", rate, flat, timing, spurious,
                    folded > -400 ? std::to_string(folded).substr(0, 6).c_str() : "none");
    }
    std::printf("\n");
}

void printQualityReport()
{
    std::printf("Rate converter quality: worst over 32 tones 20 Hz..20 kHz (flatness, timing, spurious)\n"
                "and over tones from 24.1 kHz to half the input rate (folded), all below 20 kHz\n"
                "[targets: 0.01 dB, exact, -100 dB, -100 dB]\n\n");
    report("RateConverter (windowed sinc, Kaiser 120 dB): the one in use",
           [](int rate) { return std::make_unique<Ours>(rate); });
#ifdef AUDIMERA_HAVE_SOXR
    report("libsoxr 0.1 VHQ, linear phase, passband to 20.5 kHz: for comparison",
           [](int rate) { return std::make_unique<Soxr>(rate); });
    std::printf("  libsoxr's output starts at input sample 0 after it has held back soxr_delay() outputs:");
    for (int rate : Rates) {
        Soxr soxr(rate);
        std::vector<float> out;
        std::vector<float> x(rate / 200, 0.0f);
        soxr.process(x.data(), int(x.size()), out);
        std::printf(" %d: %.0f", rate, soxr_delay(soxr.resampler));
    }
    std::printf("\n\n");
#endif
    std::printf("CPU per second of audio: the Time column of BM_ConvertOneSecond below, in ms\n\n");
    std::fflush(stdout);
}

void run(benchmark::State& state, Converter& converter, int rate)
{
    const int piece = rate / 200;
    std::vector<float> x(rate);
    for (int n = 0; n < rate; ++n)
        x[n] = float(0.5 * std::sin(2.0 * Pi * 997.0 * n / rate));
    std::vector<float> out;
    out.reserve(size_t(Out) * 2);
    for (auto _ : state) {
        out.clear();
        for (int n = 0; n < rate; n += piece)
            converter.process(x.data() + n, std::min(piece, rate - n), out);
        benchmark::DoNotOptimize(out.data());
    }
}

// The input rates every converter is timed at.
void inputRates(benchmark::internal::Benchmark* b)
{
    b->ArgName("rate")->Arg(48000)->Arg(96000)->Arg(88200)->Arg(192000)->Unit(benchmark::kMillisecond);
}

void BM_ConvertOneSecond(benchmark::State& state)
{
    Ours converter(int(state.range(0)));
    run(state, converter, int(state.range(0)));
}
BENCHMARK(BM_ConvertOneSecond)->Apply(inputRates);

#ifdef AUDIMERA_HAVE_SOXR
void BM_ConvertOneSecondSoxr(benchmark::State& state)
{
    Soxr converter(int(state.range(0)));
    run(state, converter, int(state.range(0)));
}
BENCHMARK(BM_ConvertOneSecondSoxr)->Apply(inputRates);
#endif

// Making one (when the record stream opens): the kernel rows.
void BM_Construct(benchmark::State& state)
{
    for (auto _ : state) {
        RateConverter converter(int(state.range(0)));
        benchmark::DoNotOptimize(&converter);
    }
}
BENCHMARK(BM_Construct)->ArgName("rate")->Arg(48000)->Arg(192000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    printQualityReport();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
