#include "display/models/AudioFFT.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <set>
#include <vector>

namespace audimera {

namespace {

constexpr int N = AudioFFT::Size;
const double Pi = std::acos(-1.0);

using Samples = std::vector<int16_t>;

struct Spectrum {
    std::vector<float> re;
    std::vector<float> im;
    std::complex<double> at(int k) const { return {re[k], im[k]}; }
};

Spectrum transform(AudioFFT& fft, const Samples& x)
{
    Spectrum s{std::vector<float>(N, -1.0f), {}};
    fft.ComputeFFT(x.data(), s.re.data());
    s.im.assign(fft.imaginary(), fft.imaginary() + N);
    return s;
}

// Plain DFT with the transform's sign, X[k] = sum x[n] e^(+2 pi i n k / N),
// in long double with exact twiddle indices (n k mod N).
std::complex<double> dft(const Samples& x, int k)
{
    static const std::vector<std::complex<long double>> turns = [] {
        std::vector<std::complex<long double>> t(N);
        for (int m = 0; m < N; ++m) {
            const long double angle = 2 * 3.14159265358979323846264338327950288L * m / N;
            t[m] = {std::cos(angle), std::sin(angle)};
        }
        return t;
    }();
    std::complex<long double> sum = 0;
    for (int n = 0; n < N; ++n)
        sum += static_cast<long double>(x[n]) * turns[(static_cast<int64_t>(n) * k) % N];
    return {static_cast<double>(sum.real()), static_cast<double>(sum.imag())};
}

// The transform step by step as it is described, restarting the twiddle
// recurrence in every block and storing every value as a float after
// forming it in double. The production code shares one recurrence per pass
// and must give the same bits.
void describedTransform(const Samples& x, std::vector<float>& re, std::vector<float>& im)
{
    re.assign(N, 0.0f);
    im.assign(N, 0.0f);
    for (int i = 0; i < N; ++i)
        re[AudioFFT::ReverseBits(i, 13)] = x[i];
    for (int h = 1, m = 2; m <= N; h = m, m *= 2) {
        const float d = static_cast<float>(double{6.2831854820251465f} / m);
        const float a = static_cast<float>(2 * std::pow(std::sin(double{d} / 2), 2));
        const float b = static_cast<float>(std::sin(double{d}));
        for (int s = 0; s < N; s += m) {
            float wr = 1, wi = 0;
            for (int j = s; j < s + h; ++j) {
                const int k = j + h;
                const float tr = static_cast<float>(double{wr} * re[k] - double{wi} * im[k]);
                const float ti = static_cast<float>(double{wr} * im[k] + double{wi} * re[k]);
                re[k] = static_cast<float>(double{re[j]} - tr);
                im[k] = static_cast<float>(double{im[j]} - ti);
                re[j] = static_cast<float>(double{re[j]} + tr);
                im[j] = static_cast<float>(double{im[j]} + ti);
                const float t = static_cast<float>(double{wi} * b + double{wr} * a);
                wi = static_cast<float>(double{wi} - (double{a} * wi - double{b} * wr));
                wr = static_cast<float>(double{wr} - t);
            }
        }
    }
}

Samples tone(double amplitude, int k0, double phase)
{
    Samples x(N);
    for (int n = 0; n < N; ++n)
        x[n] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * Pi * k0 * n / N + phase)));
    return x;
}

} // namespace

TEST(AudioFFTTest, BitReversal)
{
    // The documented call reverses bits + 1 bits.
    EXPECT_EQ(AudioFFT::ReverseBits(1, 13), 8192);
    EXPECT_EQ(AudioFFT::ReverseBits(1, 2), 4);
    EXPECT_EQ(AudioFFT::ReverseBits(0b110, 2), 0b011);
    EXPECT_EQ(AudioFFT::ReverseBits(16383, 13), 16383);
    EXPECT_EQ(AudioFFT::ReverseBits(0x4000 | 1, 13), 8192); // bit 14 is not an index bit

    AudioFFT fft;
    fft.InitFFTTables();
    const int32_t* table = fft.bitReversal();
    EXPECT_EQ(table[0], 0);
    EXPECT_EQ(table[1], 8192);
    EXPECT_EQ(table[2], 4096);
    EXPECT_EQ(table[3], 12288);
    EXPECT_EQ(table[8192], 1);
    EXPECT_EQ(table[0b00000000000110], 0b01100000000000);
    std::set<int32_t> seen;
    for (int i = 0; i < N; ++i) {
        ASSERT_GE(table[i], 0);
        ASSERT_LT(table[i], N);
        ASSERT_EQ(table[table[i]], i) << "not an involution at " << i;
        seen.insert(table[i]);
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(N));
}

TEST(AudioFFTTest, KnownTransforms)
{
    AudioFFT fft;
    fft.InitFFTTables();

    {
        SCOPED_TRACE("impulse at 0: every bin is 1");
        Samples x(N, 0);
        x[0] = 1;
        const Spectrum s = transform(fft, x);
        for (int k = 0; k < N; ++k) {
            ASSERT_NEAR(s.re[k], 1.0, 1e-5) << k;
            ASSERT_NEAR(s.im[k], 0.0, 1e-5) << k;
        }
    }
    {
        SCOPED_TRACE("impulse at 1: the phase turns forwards, e^(+2 pi i k / N)");
        Samples x(N, 0);
        x[1] = 1000;
        const Spectrum s = transform(fft, x);
        for (int k : {1, 7, 100, 4096, 5000, 12000, N - 1}) {
            EXPECT_NEAR(s.re[k], 1000 * std::cos(2 * Pi * k / N), 0.05) << k;
            EXPECT_NEAR(s.im[k], 1000 * std::sin(2 * Pi * k / N), 0.05) << k;
        }
    }
    {
        SCOPED_TRACE("DC: all in bin 0, unscaled");
        Samples x(N, 1000);
        const Spectrum s = transform(fft, x);
        EXPECT_FLOAT_EQ(s.re[0], 1000.0f * N);
        EXPECT_FLOAT_EQ(s.im[0], 0.0f);
        double others = 0;
        for (int k = 1; k < N; ++k)
            others = std::max(others, std::abs(s.at(k)));
        EXPECT_LT(others, 1e-6 * 1000 * N);
    }
    {
        SCOPED_TRACE("bin-centred sine: imaginary +A N / 2 at k0, -A N / 2 at N - k0");
        const int k0 = 372;
        const double A = 30000;
        const Spectrum s = transform(fft, tone(A, k0, 0));
        EXPECT_NEAR(s.im[k0], A * N / 2, 1e-4 * A * N);
        EXPECT_NEAR(s.im[N - k0], -A * N / 2, 1e-4 * A * N);
        EXPECT_LT(std::abs(s.re[k0]), 1e-3 * A * N); // the real part alone hides the tone
        for (int k = 1; k < N / 2; ++k) {
            if (k != k0) {
                ASSERT_LT(std::abs(s.at(k)), 1e-3 * A * N) << k;
            }
        }
    }
    {
        SCOPED_TRACE("bin-centred cosine: real +A N / 2 at k0 and N - k0");
        const int k0 = 1500;
        const double A = 20000;
        const Spectrum s = transform(fft, tone(A, k0, Pi / 2));
        EXPECT_NEAR(s.re[k0], A * N / 2, 1e-4 * A * N);
        EXPECT_NEAR(s.re[N - k0], A * N / 2, 1e-4 * A * N);
        EXPECT_LT(std::abs(s.im[k0]), 1e-3 * A * N);
    }
}

TEST(AudioFFTTest, MatchesPlainDftOnRandomData)
{
    std::mt19937 rng(20240531);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    Samples x(N);
    double energy = 0;
    for (auto& v : x) {
        v = static_cast<int16_t>(sample(rng));
        energy += static_cast<double>(v) * v;
    }
    const double rms = std::sqrt(energy); // Parseval: the rms of |X[k]| is sqrt(sum x^2)

    AudioFFT fft; // ComputeFFT prepares the tables itself when start-up did not
    const Spectrum s = transform(fft, x);

    // Every bin of the two halves that the window never reads, the edges, and
    // a spread of bins in between.
    std::vector<int> bins{0, 1, 2, 3, 4095, 4096, 8191, 8192, 8193, N - 2, N - 1};
    for (int k = 5; k < N; k += 97)
        bins.push_back(k);

    double worst = 0, sumSq = 0;
    for (int k : bins) {
        const double err = std::abs(s.at(k) - dft(x, k));
        worst = std::max(worst, err);
        sumSq += err * err;
    }
    const double rmsErr = std::sqrt(sumSq / bins.size());
    // Single-precision stores through 14 passes and a float twiddle
    // recurrence leave errors of about 2e-6 (worst 5e-6) of the rms bin level; a wrong
    // twiddle, sign or permutation gives errors of the order of the level.
    EXPECT_LT(rmsErr / rms, 1e-5) << "rms error " << rmsErr << " of " << rms;
    EXPECT_LT(worst / rms, 4e-5) << "worst error " << worst << " of " << rms;

    // A second transform with the same input gives the same bits: nothing is
    // left over from the previous call.
    const Spectrum again = transform(fft, x);
    EXPECT_EQ(again.re, s.re);
    EXPECT_EQ(again.im, s.im);
}

TEST(AudioFFTTest, SameBitsAsTheDescribedSinglePrecisionSteps)
{
    std::mt19937 rng(99);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    Samples noise(N);
    for (auto& v : noise)
        v = static_cast<int16_t>(sample(rng));

    AudioFFT fft;
    fft.InitFFTTables();
    for (const Samples& x : {noise, tone(32767, 372, 0), tone(1000, 8191, 0.3)}) {
        const Spectrum s = transform(fft, x);
        std::vector<float> re, im;
        describedTransform(x, re, im);
        EXPECT_EQ(s.re, re);
        EXPECT_EQ(s.im, im);
    }
}

} // namespace audimera
