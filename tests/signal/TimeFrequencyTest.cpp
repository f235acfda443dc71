#include "signal/Spectrogram.h"
#include "signal/Waterfall.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace audimera {

namespace {

constexpr int Rate = 48000;

ImpulseView viewOf(const std::vector<float>& x, std::size_t peak)
{
    ImpulseView view;
    view.samples = x.data();
    view.size = x.size();
    view.rate = Rate;
    view.peak = peak;
    return view;
}

// A resonance's impulse response: exp(-pi f0 t / Q) sin(wd t) after 10 ms
// of silence; its peak is the strongest sample.
std::vector<float> resonance(double f0, double q)
{
    std::vector<float> x(std::size_t(1) << 16);
    const double wd = 2 * M_PI * f0 * std::sqrt(1 - 1 / (4 * q * q));
    for (std::size_t i = 480; i < x.size(); ++i) {
        const double t = static_cast<double>(i - 480) / Rate;
        x[i] = static_cast<float>(std::exp(-M_PI * f0 * t / q) * std::sin(wd * t));
    }
    return x;
}

std::size_t strongest(const std::vector<float>& x)
{
    return std::max_element(x.begin(), x.end(), [](float a, float b) { return std::abs(a) < std::abs(b); })
           - x.begin();
}

} // namespace

// The decay rate read from the waterfall's slices at f0, fitted over the
// slices above the floor, against the resonance's 8.686 pi f0 / Q.
TEST(TimeFrequencyTest, WaterfallDecayOfAResonance)
{
    struct Case {
        double f0, q;
        int smoothing;
        double endMs;
    } cases[] = {{50, 10, 0, 300}, {50, 10, 6, 300}, {1000, 20, 0, 30}, {1000, 20, 3, 30}};
    for (const Case& c : cases) {
        const std::vector<float> x = resonance(c.f0, c.q);
        WaterfallSettings settings;
        settings.smoothing = c.smoothing;
        settings.endMs = c.endMs;
        const Result<WaterfallResult> result = waterfall(viewOf(x, strongest(x)), settings);
        ASSERT_TRUE(result.ok()) << result.message();
        const auto& f = result->frequencies;
        const std::size_t at = std::min_element(f.begin(), f.end(), [&](double a, double b) {
                                   return std::abs(a - c.f0) < std::abs(b - c.f0);
                               }) - f.begin();
        double n = 0, st = 0, sy = 0, stt = 0, sty = 0;
        for (std::size_t s = 0; s < result->timesMs.size(); ++s) {
            const double t = result->timesMs[s] / 1e3, y = result->levelsDb[s][at];
            if (y > 3 - settings.rangeDb)
                n += 1, st += t, sy += y, stt += t * t, sty += t * y;
        }
        ASSERT_GE(n, 5);
        const double rate = -(sty - st * sy / n) / (stt - st * st / n);
        const double expected = 20 / std::log(10.0) * M_PI * c.f0 / c.q;
        std::printf("waterfall f0 %g Hz Q %g smoothing 1/%d: decay %.2f dB/s, expected %.2f (%+.2f %%)\n", c.f0,
                    c.q, c.smoothing, rate, expected, 100 * (rate / expected - 1));
        EXPECT_NEAR(rate, expected, 0.05 * expected) << c.f0 << " Hz, 1/" << c.smoothing;
    }
}

// A linear chirp's ridge (the strongest row of each column whose window lies
// inside the chirp) against its instantaneous frequency, within one bin (the
// wavelet: one row); a 1 kHz burst's onset (where the burst's row crosses
// 6.02 dB below its steady level, as half the window covers the burst,
// between columns linearly) within one hop of the true onset.
TEST(TimeFrequencyTest, SpectrogramRidgeAndOnset)
{
    using Window = SpectrogramSettings::Window;
    constexpr double ChirpFrom = 200, ChirpTo = 1600, ChirpS = 0.4, BurstS = 0.1;
    std::vector<float> chirp(Rate), burst(Rate);
    for (std::size_t i = 0; i < static_cast<std::size_t>(ChirpS * Rate); ++i) {
        const double t = static_cast<double>(i) / Rate;
        const double phase = ChirpFrom * t + (ChirpTo - ChirpFrom) * t * t / (2 * ChirpS);
        chirp[i] = static_cast<float>(std::sin(2 * M_PI * phase));
    }
    for (std::size_t i = static_cast<std::size_t>(BurstS * Rate); i < static_cast<std::size_t>(0.3 * Rate); ++i)
        burst[i] = static_cast<float>(std::sin(2 * M_PI * 1000.0 * i / Rate));
    for (const Window window : {Window::Gaussian, Window::Hann, Window::Wavelet}) {
        SCOPED_TRACE(static_cast<int>(window));
        SpectrogramSettings settings;
        settings.window = window;
        const Result<SpectrogramResult> c = spectrogram(viewOf(chirp, 0), settings);
        const Result<SpectrogramResult> b = spectrogram(viewOf(burst, 0), settings);
        ASSERT_TRUE(c.ok() && b.ok()) << c.message() << b.message();

        const std::size_t rows = c->frequencies.size();
        double worst = 0, tolerance = c->binHz;
        for (std::size_t col = 0; col < c->timesMs.size(); ++col) {
            const double t = c->timesMs[col] / 1e3, hz = ChirpFrom + (ChirpTo - ChirpFrom) * t / ChirpS;
            const double reach = window == Window::Wavelet ? settings.cycles / ChirpFrom / 2 : settings.windowMs / 2e3;
            if (t < reach || t > ChirpS - reach)
                continue;
            std::size_t ridge = 0;
            for (std::size_t r = 1; r < rows; ++r)
                ridge = c->levelAt(col, r) > c->levelAt(col, ridge) ? r : ridge;
            if (window == Window::Wavelet)
                tolerance = hz * (std::pow(2.0, 1.0 / settings.pointsPerOctave) - 1);
            worst = std::max(worst, std::abs(c->frequencies[ridge] - hz) / tolerance);
        }
        EXPECT_LE(worst, 1.0);

        const std::size_t steady = static_cast<std::size_t>(0.2 / (b->hopMs / 1e3));
        std::size_t row = 0, onset = 1;
        for (std::size_t r = 1; r < rows; ++r)
            row = b->levelAt(steady, r) > b->levelAt(steady, row) ? r : row;
        const double half = b->levelAt(steady, row) - 20 * std::log10(2.0);
        while (onset < steady && b->levelAt(onset, row) < half)
            ++onset;
        const double before = b->levelAt(onset - 1, row), step = b->levelAt(onset, row) - before;
        const double late = b->timesMs[onset - 1] + b->hopMs * (half - before) / step - 1e3 * BurstS;
        std::printf("spectrogram %s: ridge off by %.2f of its tolerance, onset %+.3f ms (hop %.3f ms)\n",
                    window == Window::Wavelet ? "wavelet" : window == Window::Hann ? "Hann" : "Gaussian", worst, late,
                    b->hopMs);
        EXPECT_LE(std::abs(late), b->hopMs);
    }
}

// Settings that make no image and the view's faults give BadInput; progress
// saying stop, at its first call or its last, gives Cancelled.
TEST(TimeFrequencyTest, RefusalsAndCancel)
{
    const std::vector<float> x = resonance(100, 5);
    using Run = std::function<Failure(const ImpulseView&, const AnalysisProgress&)>;
    auto fall = [](std::function<void(WaterfallSettings&)> change) -> Run {
        return [change](const ImpulseView& v, const AnalysisProgress& p) {
            WaterfallSettings s;
            change(s);
            return waterfall(v, s, p).kind();
        };
    };
    auto gram = [](SpectrogramSettings::Window window, std::function<void(SpectrogramSettings&)> change) -> Run {
        return [window, change](const ImpulseView& v, const AnalysisProgress& p) {
            SpectrogramSettings s;
            s.window = window;
            change(s);
            return spectrogram(v, s, p).kind();
        };
    };
    using W = SpectrogramSettings::Window;
    const Run analyses[] = {fall([](auto&) {}), gram(W::Gaussian, [](auto&) {}), gram(W::Hann, [](auto&) {}),
                            gram(W::Wavelet, [](auto&) {})};
    const Run refused[] = {
        fall([](auto& s) { s.slices = 1; }),          fall([](auto& s) { s.endMs = s.startMs; }),
        fall([](auto& s) { s.windowMs = 0.1; }),      fall([](auto& s) { s.riseMs = -1; }),
        fall([](auto& s) { s.smoothing = -3; }),      fall([](auto& s) { s.lowHz = 30000; }),
        fall([](auto& s) { s.rangeDb = 0; }),         fall([](auto& s) { s.startMs = 2000; s.endMs = 3000; }),
        gram(W::Hann, [](auto& s) { s.overlap = 1; }), gram(W::Gaussian, [](auto& s) { s.windowMs = NAN; }),
        gram(W::Wavelet, [](auto& s) { s.cycles = 0; }), gram(W::Wavelet, [](auto& s) { s.lowHz = 1e-6; }),
        gram(W::Gaussian, [](auto& s) { s.endMs = s.startMs - 1; }),
        gram(W::Gaussian, [](auto& s) { s.overlap = 0.99; s.endMs = 1e6; }),
    };
    for (std::size_t i = 0; i < std::size(refused); ++i)
        EXPECT_EQ(refused[i](viewOf(x, strongest(x)), {}), Failure::BadInput) << "refusal " << i;
    std::vector<float> silent(1000), notFinite(x);
    notFinite[5000] = NAN;
    const ImpulseView view = viewOf(x, strongest(x));
    for (std::size_t i = 0; i < std::size(analyses); ++i) {
        for (const ImpulseView& bad : {viewOf(x, x.size()), viewOf(silent, 0), viewOf(notFinite, 0), ImpulseView{}})
            EXPECT_EQ(analyses[i](bad, {}), Failure::BadInput) << "analysis " << i;
        double last = -1;
        bool ascending = true;
        const auto watch = [&](double f) { ascending &= f >= last; last = f; return true; };
        EXPECT_EQ(analyses[i](view, watch), Failure::Other);
        EXPECT_TRUE(ascending && last == 1.0) << "analysis " << i;
        for (const bool first : {true, false})
            EXPECT_EQ(analyses[i](view, [&](double f) { return !first && f < 1; }), Failure::Cancelled)
                << "analysis " << i << (first ? " stopped at once" : " stopped at the end");
    }
}

} // namespace audimera
