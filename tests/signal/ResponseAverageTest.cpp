// Averages of responses and their time alignment, against answers known in
// closed form: flat gains, a comb from two arrivals, a band-limited
// fractional delay and a woofer behind an LR4 low-pass (exact biquads).
#include "signal/RealFft.h"
#include "signal/ResponseAverage.h"
#include "signal/TimeAlignment.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <complex>
#include <iomanip>
#include <iostream>
#include <numbers>
#include <random>

namespace audimera {

namespace {

constexpr double Pi = std::numbers::pi;
using Complex = std::complex<double>;
using Biquad = std::array<double, 5>; // b0 b1 b2 a1 a2

// A 2nd-order Butterworth biquad at f0 (bilinear transform).
Biquad butterworth(bool highPass, double f0, int rate)
{
    const double k = std::tan(Pi * f0 / rate), norm = 1 / (1 + std::sqrt(2.0) * k + k * k);
    const double b0 = (highPass ? 1 : k * k) * norm;
    return {b0, (highPass ? -2 : 2) * b0, b0, 2 * (k * k - 1) * norm, (1 - std::sqrt(2.0) * k + k * k) * norm};
}

Complex responseAt(const std::vector<Biquad>& chain, double f, int rate)
{
    const Complex z = std::polar(1.0, -2 * Pi * f / rate);
    Complex h = 1;
    for (const auto& q : chain)
        h *= (q[0] + q[1] * z + q[2] * z * z) / (1.0 + q[3] * z + q[4] * z * z);
    return h;
}

// A unit impulse at sample start through chain, n samples.
std::vector<float> driver(const std::vector<Biquad>& chain, std::size_t start, std::size_t n, double gain = 1)
{
    std::vector<double> x(n);
    x[start] = gain;
    for (const auto& q : chain) {
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const double y = q[0] * x[i] + q[1] * x1 + q[2] * x2 - q[3] * y1 - q[4] * y2;
            x2 = x1, x1 = x[i], y2 = y1, y1 = y, x[i] = y;
        }
    }
    return {x.begin(), x.end()};
}

double levelDb(const std::vector<float>& x, double f, int rate)
{
    Complex sum = 0;
    for (std::size_t i = 0; i < x.size(); ++i)
        sum += double(x[i]) * std::polar(1.0, -2 * Pi * f * double(i) / rate);
    return 20 * std::log10(std::abs(sum));
}

} // namespace

TEST(ResponseAverageTest, PlusAndMinusSixDbAverageToTheirPowerOrTheirDbMean)
{
    const double up = std::pow(10, 6 / 20.0), down = 1 / up;
    for (const auto& [mode, expected] : {std::pair{AverageMode::Rms, 3.26}, {AverageMode::Db, 0.0}}) {
        const std::vector<double> grid{20, 1000, 20000};
        const auto grids = ResponseAverage::ofGrids({{grid, {up, up, up}, {}}, {grid, {down, down, down}, {}}}, mode);
        const Result<std::vector<float>> impulses =
            ResponseAverage::ofImpulses({driver({}, 0, 256, up), driver({}, 0, 128, down)}, 48000, mode);
        ASSERT_TRUE(grids.ok() && impulses.ok() && impulses->size() == 256);
        for (std::size_t k = 0; k < grid.size(); ++k) {
            const double fromGrid = 20 * std::log10(grids->magnitude[k]);
            const double fromImpulse = levelDb(*impulses, grid[k], 48000);
            std::cout << averageModeName(mode) << " at " << grid[k] << " Hz: grids " << fromGrid << " dB, impulses "
                      << fromImpulse << " dB\n";
            EXPECT_NEAR(fromGrid, expected, 0.005);
            EXPECT_NEAR(fromImpulse, expected, 0.005);
        }
    }
}

TEST(ResponseAverageTest, TwoArrivalsOneMsApartCombUnlessAligned)
{
    const int rate = 48000;
    const std::vector<Biquad> chain{butterworth(true, 40, rate), butterworth(false, 12000, rate)};
    const std::vector<float> first = driver(chain, 10, 16384), second = driver(chain, 58, 16384);
    const Result<Alignment> apart = TimeAlignment::delay(first, second, rate);
    ASSERT_TRUE(apart.ok());
    const Result<std::vector<float>> combed = ResponseAverage::ofImpulses({first, second}, rate, AverageMode::Vector);
    const Result<std::vector<float>> aligned =
        ResponseAverage::ofImpulses({first, second}, rate, AverageMode::Vector, {0, -apart->delaySamples});
    ASSERT_TRUE(combed.ok() && aligned.ok());
    const double dip = levelDb(first, 500, rate) - levelDb(*combed, 500, rate);
    double worst = 0;
    for (double f = 20; f <= 20000; f *= std::pow(2, 1 / 6.0))
        worst = std::max(worst, std::abs(levelDb(*aligned, f, rate) - levelDb(first, f, rate)));
    std::cout << "delay " << apart->delaySamples << " samples, dip at 500 Hz " << dip << " dB, aligned within "
              << worst << " dB\n";
    EXPECT_GE(dip, 30);
    EXPECT_LE(worst, 0.01);
}

TEST(TimeAlignmentTest, BandLimitedFractionalDelaysAreFoundWithinAFewHundredthsOfASample)
{
    // The band: the pulse's; noise: white, its deviation relative to the pulse's peak, over 2^18 samples.
    struct Case { int rate; double delay, lowHz, highHz, noise = 0; };
    for (const Case& c : {Case{48000, 112.59, 20, 20000}, Case{44100, -37.25, 40, 300}, Case{96000, 0.3, 1000, 40000},
                          Case{48000, 4000.5, 100, 2000}, Case{48000, 112.59, 20, 20000, 1e-3},
                          Case{48000, 112.59, 200, 2000, 1e-3}, Case{44100, -37.25, 40, 300, 1e-3}}) {
        // A pulse of a sin^2 bump of spectrum over the band, at 6000 samples and 6000 + delay.
        const std::size_t n = c.noise > 0 ? 1 << 18 : 1 << 15;
        std::mt19937 generator(7);
        RealFft fft(n);
        auto pulse = [&](double at) {
            for (std::size_t k = 0; k < fft.bins(); ++k) {
                const double f = double(k) * c.rate / double(n), u = (f - c.lowHz) / (c.highHz - c.lowHz);
                const double w = u > 0 && u < 1 ? std::pow(std::sin(Pi * u), 2) : 0;
                fft.spectrum()[k] = std::polar(w, -2 * Pi * double(k) * at / double(n));
            }
            fft.inverse();
            std::normal_distribution<double> noise(0, c.noise * *std::max_element(fft.time(), fft.time() + n));
            std::vector<float> x(n);
            for (std::size_t i = 0; i < n; ++i)
                x[i] = float(fft.time()[i] + (c.noise > 0 ? noise(generator) : 0.0));
            return x;
        };
        const std::vector<float> reference = pulse(6000), response = pulse(6000 + c.delay);
        const Result<Alignment> found = TimeAlignment::delay(reference, response, c.rate);
        ASSERT_TRUE(found.ok()) << found.message();
        std::cout << c.delay << " samples at " << c.rate << " Hz, noise " << c.noise << ": " << found->delaySamples
                  << " (" << found->delayMs << " ms) over " << found->lowHz << "-" << found->highHz
                  << " Hz, confidence " << found->confidence << '\n';
        EXPECT_NEAR(found->delaySamples, c.delay, 0.05);
        EXPECT_GT(found->confidence, 0.9);
    }
}

TEST(TimeAlignmentTest, AWooferBehindItsLowPassIsLateByItsPowerWeightedGroupDelay)
{
    // The driver (a 2nd-order high-pass at 40 Hz) and the same 37 samples
    // later behind an LR4 low-pass at 800 Hz. The delay read is 37 samples
    // plus the LR4's group delay averaged with the weight |C(f)|^2 =
    // |HP|^4 |LR4|^2 over 0 Hz to half the rate (TimeAlignment.cpp).
    const int rate = 48000;
    const auto hp = butterworth(true, 40, rate), lp = butterworth(false, 800, rate);
    const std::vector<float> reference = driver({hp}, 100, 1 << 15), woofer = driver({hp, lp, lp}, 137, 1 << 15);
    double weighted = 0, weights = 0;
    for (double f = 0.5; f < rate / 2.0; f += 0.5) {
        const auto lr4 = [&](double at) { return responseAt({lp, lp}, at, rate); };
        const double w = std::pow(std::abs(responseAt({hp}, f, rate)), 4) * std::norm(lr4(f));
        weighted += w * -std::arg(lr4(f + 0.01) / lr4(f - 0.01)) / (4 * Pi * 0.01), weights += w;
    }
    const double expectedMs = 37 * 1000.0 / rate + weighted / weights * 1000;
    const Result<Alignment> found = TimeAlignment::delay(reference, woofer, rate);
    ASSERT_TRUE(found.ok()) << found.message();
    std::cout << std::setprecision(7) << "woofer: " << found->delayMs << " ms (analytic " << expectedMs
              << " ms) over " << found->lowHz << "-" << found->highHz << " Hz, confidence " << found->confidence
              << "; 1 ms at 20 C is " << TimeAlignment::metres(1.0) << " m\n";
    EXPECT_NEAR(found->delayMs, expectedMs, 0.02);
    EXPECT_NEAR(TimeAlignment::metres(1.0), 0.343, 0.0005);
}

} // namespace audimera
