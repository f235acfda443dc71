#include "signal/SignalSynthesis.h"
#include "signal/UniformRandom.h"

#include "dsp/DspLibrary.h"
#include "common/Rounding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace audimera {

namespace {

using Table = std::vector<int16_t>;

// Fills a fresh table, marked in the entry no generator may write, and checks
// that the table repeats the given first period (if any) to its end.
Table generate(int32_t (*gen)(int16_t*, double, bool), bool by20, const Table& period)
{
    Table t(ToneTableSize, 0);
    t[ToneTablePlayed] = 7777;
    gen(t.data(), 440, by20);
    EXPECT_EQ(t[ToneTablePlayed], 7777);
    if (period.empty())
        return t;
    EXPECT_TRUE(std::equal(period.begin(), period.end(), t.begin()));
    for (int i = static_cast<int>(period.size()); i < ToneTablePlayed; ++i)
        if (t[i] != t[i % period.size()])
            ADD_FAILURE() << "not periodic at " << i;
    return t;
}

int peak(const Table& t)
{
    int m = 0;
    for (int i = 0; i < ToneTablePlayed; ++i)
        m = std::max(m, std::abs(static_cast<int>(t[i])));
    return m;
}

} // namespace

TEST(SignalSynthesisTest, PlaybackRates)
{
    Table t(ToneTableSize);
    EXPECT_EQ(GenSineWave(t.data(), 1000, false), 100000);
    EXPECT_EQ(GenSineWave(t.data(), 1000.5, true), 5002); // 5002.5 goes to even
    EXPECT_EQ(GenSineWave(t.data(), 1001.5, true), 5008); // 5007.5 goes to even
    EXPECT_EQ(GenSineWave(t.data(), 20000, true), 100000);
    EXPECT_EQ(GenSineWave(t.data(), 1, false), 100);
    EXPECT_EQ(GenSineWave(t.data(), 24000, false), 2400000); // clamped by the device layer
    EXPECT_EQ(GenSquareWave(t.data(), 1000.5, true), 5002);
    EXPECT_EQ(GenTriangleWave(t.data(), 31.5, false), 3150);
}

TEST(SignalSynthesisTest, ToneTables)
{
    const Table sine = generate(GenSineWave, false, {});
    EXPECT_EQ(sine[1], 1005); // 16000 sin(2 pi / 100) = 1004.87
    EXPECT_EQ(sine[25], 16000);
    EXPECT_EQ(sine[50], 0);
    EXPECT_EQ(sine[75], -16000);
    generate(GenSineWave, false, Table(sine.begin(), sine.begin() + 100));
    generate(GenSineWave, true, {0, 15217, 9405, -9405, -15217});

    // Square: high on 0..25, low on 26..74, high on 75..125.
    Table square(100, 8000);
    std::fill(square.begin() + 26, square.begin() + 75, -8000);
    generate(GenSquareWave, false, square);
    generate(GenSquareWave, true, {8000, 8000, -8000, -8000, 8000});

    const Table triangle = generate(GenTriangleWave, false, {});
    EXPECT_EQ(triangle[0], -5000);
    EXPECT_EQ(triangle[1], -4800);
    EXPECT_EQ(triangle[49], 4800);
    EXPECT_EQ(triangle[50], 5000);
    EXPECT_EQ(triangle[99], -4800);
    EXPECT_EQ(triangle[100], -5000);
    generate(GenTriangleWave, false, Table(triangle.begin(), triangle.begin() + 100));
    generate(GenTriangleWave, true, {-5000, -1000, 3000, 3000, -1000});
}

TEST(UniformRandomTest, KnownSequence)
{
    // From an independent implementation of splitmix64 seeding and xoshiro256**.
    UniformRandom zero(0);
    EXPECT_EQ(zero.nextBits(), 0x99EC5F36CB75F2B4ULL);
    EXPECT_EQ(zero.nextBits(), 0xBF6E1F784956452AULL);
    UniformRandom standard;
    EXPECT_EQ(standard.next(), 0.6205914220792447);
    EXPECT_EQ(standard.next(), 0.5994188009069008);

    double low = 1, high = 0;
    for (int i = 0; i < 100000; ++i) {
        const double u = standard.next();
        ASSERT_TRUE(u >= 0 && u < 1) << u;
        low = std::min(low, u);
        high = std::max(high, u);
    }
    EXPECT_LT(low, 1e-3);
    EXPECT_GT(high, 1 - 1e-3);
}

namespace {
std::vector<double> g_filterInputs;
int g_filterResets = 0;

// Passes its input through and records every call.
double recordingFilter(double x, double, int32_t reset)
{
    g_filterInputs.push_back(x);
    g_filterResets += reset != 0;
    return x;
}
} // namespace

TEST(SignalSynthesisTest, NoiseTablesFollowTheRandomSequence)
{
    Table w(ToneTableSize, 0), p(ToneTableSize, 0);
    p[ToneTablePlayed] = 7777;
    InitWhitePinkBuffers(w.data(), p.data(), recordingFilter);

    // Entries 1..24999 take the first draws at full scale, entry 0 the next;
    // the filter is only stepped, first on the unplayed zero entry, and sees
    // the full-scale values before the white table is halved.
    UniformRandom random;
    std::vector<double> full(ToneTablePlayed);
    for (int i = 1; i <= ToneTablePlayed; ++i)
        full[i % ToneTablePlayed] = audimera::nearest(random.next() * 65520 - 32760);
    ASSERT_EQ(g_filterInputs.size(), 25000u);
    EXPECT_EQ(g_filterResets, 0);
    EXPECT_EQ(g_filterInputs[0], 0);
    EXPECT_TRUE(std::equal(full.begin() + 1, full.end(), g_filterInputs.begin() + 1));
    for (int i = 0; i < ToneTablePlayed; ++i)
        ASSERT_EQ(w[i], audimera::nearest(full[i] / 2)) << i;
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(peak(p), 32760);
    EXPECT_EQ(p[ToneTablePlayed], 7777);

    // A filter that only outputs zeros leaves silence, not a division by zero.
    InitWhitePinkBuffers(w.data(), p.data(), [](double, double, int32_t) { return 0.0; });
    EXPECT_EQ(peak(p), 0);
}

TEST(SignalSynthesisTest, NoiseTablesWithTheLibraryFilter)
{
    ASSERT_EQ(DspLibrary::instance().require({"LowPass44"}).message(), "");
    // LowPass44 keeps its state for the whole process: resetting it to zero
    // before each call gives the tables of a freshly loaded library.
    Table w1(ToneTableSize, 0), p1(ToneTableSize, 0), w2(ToneTableSize, 0), p2(ToneTableSize, 0);
    Audidsp::LowPass44(0, 0, 1);
    InitWhitePinkBuffers(w1.data(), p1.data(), Audidsp::LowPass44);
    Audidsp::LowPass44(0, 0, 1);
    InitWhitePinkBuffers(w2.data(), p2.data(), Audidsp::LowPass44);
    EXPECT_EQ(w1, w2);
    EXPECT_EQ(p1, p2);
    EXPECT_LE(peak(w1), 16380);
    EXPECT_GT(peak(w1), 16300);
    EXPECT_EQ(peak(p1), 32760);
    EXPECT_EQ(p1[0], 0);
    EXPECT_EQ(p1[ToneTablePlayed], 0);
}

} // namespace audimera
