#include "signal/TablePlayer.h"

#include "common/Rounding.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <vector>

namespace audimera {

namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr int N = TablePlayer::TableSamples;

using Table = std::vector<int16_t>;

// The generator's sine: 100-sample period (or 5 with k = 20), peak 16000.
Table sineTable(int k = 1)
{
    Table t(N);
    for (int i = 0; i < N; ++i)
        t[i] = int16_t(audimera::nearest(std::sin(i * ((k + k) * 3.14159265358979 / 100)) * 16000));
    return t;
}

Table squareTable()
{
    Table t(N);
    for (int i = 0; i < N; ++i)
        t[i] = std::fmod(audimera::nearest(2.0 * i / 100), 2.0) == 0.0 ? 8000 : -8000;
    return t;
}

// Full-scale pseudo-random table including both 16-bit extremes.
Table noiseTable()
{
    Table t(N);
    uint32_t x = 12345;
    for (int i = 0; i < N; ++i) {
        x = x * 1664525u + 1013904223u;
        t[i] = int16_t(x >> 16);
    }
    t[10] = -32768;
    t[11] = 32767;
    return t;
}

std::vector<float> play(TablePlayer& player, int count, int block = 441)
{
    std::vector<float> out(count);
    for (int n = 0; n < count; n += block)
        player.render(out.data() + n, std::min(block, count - n));
    return out;
}

// Ideal band-limited playback of a table of the given period into a stream
// of outputRate: its harmonics below half that rate, at a position given in
// 1/outputRate of a table sample.
class Ideal {
public:
    Ideal(const Table& table, int period, int outputRate)
        : m_period(period), m_outputRate(outputRate), m_c(period / 2 + 1)
    {
        for (int k = 0; k <= period / 2; ++k) {
            for (int n = 0; n < period; ++n)
                m_c[k] += double(table[n]) * std::polar(1.0, -2.0 * Pi * k * n / period);
            m_c[k] /= period;
        }
    }
    double at(int64_t position, int rate) const
    {
        const int64_t cycle = int64_t(m_outputRate) * m_period;
        double y = m_c[0].real();
        for (int k = 1; k <= m_period / 2; ++k) {
            if (double(k) * rate / m_period >= m_outputRate / 2.0)
                break;
            const double angle = 2.0 * Pi * double((position % cycle) * k % cycle) / double(cycle);
            y += (2 * k == m_period ? 1.0 : 2.0) * (m_c[k] * std::polar(1.0, angle)).real();
        }
        return y;
    }
    std::complex<double> fundamental() const { return m_c[1]; }

private:
    int m_period;
    int m_outputRate;
    std::vector<std::complex<double>> m_c;
};

struct Deviation {
    double flatnessDb;
    double residualDb; // RMS of all other error, re the tone's RMS
};

// Plays a table at a fixed rate into a stream of outputRate and compares it
// with the ideal: the fundamental's gain, and everything else left in the
// error (a tone off its frequency would leave nearly all of itself there).
Deviation compare(const Table& table, int period, int rate, int outputRate = TablePlayer::DefaultOutputRate,
                  int count = 8192)
{
    TablePlayer player;
    player.setOutputRate(outputRate);
    player.setTable(table.data());
    player.setRate(rate);
    player.start();
    const std::vector<float> out = play(player, count);
    const Ideal ideal(table, period, outputRate);
    const double w = 2.0 * Pi * rate / (double(outputRate) * period);
    std::vector<double> error(count);
    double cc = 0, ss = 0, cs = 0, ec = 0, es = 0;
    for (int m = 0; m < count; ++m) {
        error[m] = out[m] - ideal.at(int64_t(m) * rate, rate);
        const double c = std::cos(w * m), s = std::sin(w * m);
        cc += c * c, ss += s * s, cs += c * s, ec += error[m] * c, es += error[m] * s;
    }
    const double det = cc * ss - cs * cs;
    const double a = (ec * ss - es * cs) / det, b = (es * cc - ec * cs) / det;
    double power = 0;
    for (int m = 0; m < count; ++m) {
        const double r = error[m] - a * std::cos(w * m) - b * std::sin(w * m);
        power += r * r;
    }
    // The ideal fundamental is 2 Re(c1) cos - 2 Im(c1) sin; the fit adds to it.
    const std::complex<double> c1 = ideal.fundamental();
    const double tone = 2.0 * std::abs(c1);
    Deviation d;
    d.flatnessDb = 20.0 * std::log10(std::hypot(2.0 * c1.real() + a, -2.0 * c1.imag() + b) / tone);
    d.residualDb = 10.0 * std::log10(power / count / (tone * tone / 2));
    return d;
}

TEST(TablePlayer, StartsAtTheFirstSampleAndPassesTheTableUnchangedAt44100)
{
    const Table table = noiseTable();
    TablePlayer player;
    player.setTable(table.data());
    EXPECT_EQ(player.rate(), 44100);
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(play(player, 100), std::vector<float>(100, 0.0f)) << "silent until started";

    player.start();
    EXPECT_TRUE(player.isPlaying());
    // Two and a half laps, in odd block sizes: bit for bit, wrapping included.
    const std::vector<float> out = play(player, 5 * N / 2, 997);
    for (int m = 0; m < int(out.size()); ++m)
        ASSERT_EQ(out[m], float(table[m % N])) << "output sample " << m;

    for (int rate : {100, 4410, 30000, 44099}) {
        player.setRate(rate);
        player.start();
        EXPECT_EQ(play(player, 1)[0], float(table[0])) << "rate " << rate;
    }
}

TEST(TablePlayer, StopSilencesAndRewinds)
{
    const Table table = sineTable();
    TablePlayer player;
    player.setTable(table.data());
    player.setRate(31234);
    player.start();
    const std::vector<float> first = play(player, 3000);

    player.stop();
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(play(player, 500), std::vector<float>(500, 0.0f));
    player.start();
    EXPECT_EQ(play(player, 3000), first) << "start after stop plays from the beginning";

    play(player, 1234);
    player.start(); // while playing: rewinds too
    EXPECT_EQ(play(player, 3000), first);

    player.stop();
    player.start(); // both before the next render: one rewind, playing
    EXPECT_EQ(play(player, 3000), first);

    player.setTable(table.data()); // a new table rewinds as well
    EXPECT_EQ(play(player, 3000), first);
}

TEST(TablePlayer, RateChangesContinueThePhase)
{
    // A 100-sample sine is 16000 sin(2 pi p / 100) at table position p, to
    // within the table's own rounding. The position only ever advances by
    // rate / 44100 per output sample, whatever the rate does.
    const Table table = sineTable();
    TablePlayer player;
    player.setTable(table.data());
    player.start();

    int64_t position = 0; // in 1/44100 of a table sample
    double worst = 0;
    auto check = [&](int rate, int count) {
        player.setRate(rate);
        const std::vector<float> out = play(player, count, count);
        for (int m = 0; m < count; ++m) {
            const double p = double(position % (44100 * 100)) / 44100.0;
            worst = std::max(worst, std::abs(out[m] - 16000.0 * std::sin(2.0 * Pi * p / 100.0)));
            position += rate;
        }
    };
    check(1234, 777);
    check(56789, 1500);  // up to a decimating rate
    check(44100, 333);   // exactly 44100, from an odd position
    check(100000, 1000);
    check(100, 50);
    check(20000, 2000);
    for (int m = 0; m < 3000; ++m) // a sweep that changes at every sample
        check(2000 + 29 * m, 1);
    for (int m = 0; m < 3000; ++m)
        check(90000 - 29 * m, 1);
    // A jump of a hundredth of a period would show as about 1000.
    EXPECT_LT(worst, 2.0);
}

TEST(TablePlayer, PlaysTheRateItIsGivenWithoutTheDeviceLimits)
{
    // The card limits rates to 100..100000; the player does not, so the
    // device layer must clamp before it passes a rate on.
    const Table table = sineTable();
    TablePlayer player;
    player.setTable(table.data());
    for (int rate : {1, 50, 150000, TablePlayer::MaxRate}) {
        player.setRate(rate);
        EXPECT_EQ(player.rate(), rate);
        player.start();
        const std::vector<float> out = play(player, 4000);
        double worst = 0;
        for (int m = 0; m < 4000; ++m) {
            const double p = double((int64_t(m) * rate) % (44100 * 100)) / 44100.0;
            worst = std::max(worst, std::abs(out[m] - 16000.0 * std::sin(2.0 * Pi * p / 100.0)));
        }
        EXPECT_LT(worst, 2.0) << "rate " << rate;
    }
    // Only its own working range is enforced.
    player.setRate(0);
    EXPECT_EQ(player.rate(), 1);
    player.setRate(1000000);
    EXPECT_EQ(player.rate(), TablePlayer::MaxRate);
}

TEST(TablePlayer, StaysCloseToTheIdealBandLimitedPlayback)
{
    // Quick checks; the benchmark sweeps the full range much more finely.
    struct Case {
        int k, period, rate;
    };
    const Case sines[] = {{1, 100, 2000},   {1, 100, 31500},  {1, 100, 44101}, {1, 100, 100000},
                          {20, 5, 100},     {20, 5, 12500},   {20, 5, 44099},  {20, 5, 55125},
                          {20, 5, 88199},   {20, 5, 100000}};
    for (const Case& c : sines) {
        const Deviation d = compare(sineTable(c.k), c.period, c.rate);
        EXPECT_LT(std::abs(d.flatnessDb), 0.01) << "period " << c.period << " rate " << c.rate;
        EXPECT_LT(d.residualDb, -90.0) << "period " << c.period << " rate " << c.rate;
    }
    // A square below 44100 keeps every harmonic up to half its rate, even
    // the one exactly there, and adds no images.
    for (int rate : {10000, 44000}) {
        const Deviation d = compare(squareTable(), 100, rate);
        EXPECT_LT(d.residualDb, -80.0) << "square, rate " << rate;
    }
}

TEST(TablePlayerOutputRate, DefaultsTo44100AndIsClampedToItsRange)
{
    TablePlayer player;
    EXPECT_EQ(player.outputRate(), 44100);
    for (auto [asked, kept] : {std::pair{48000, 48000}, std::pair{8000, 8000}, std::pair{7999, 8000},
                               std::pair{0, 8000}, std::pair{192000, 192000}, std::pair{400000, 192000}}) {
        player.setOutputRate(asked);
        EXPECT_EQ(player.outputRate(), kept) << "asked " << asked;
    }
}

TEST(TablePlayerOutputRate, SettingItRewindsAndPlaysAsIfNew)
{
    // A stream reopened at another rate while a decimating rate plays: the
    // player must not keep what it had worked out for the old output rate.
    const Table table = sineTable(20);
    TablePlayer fresh;
    fresh.setOutputRate(48000);
    fresh.setTable(table.data());
    fresh.setRate(80000);
    fresh.start();
    const std::vector<float> first = play(fresh, 3000);

    TablePlayer player;
    player.setTable(table.data());
    player.setRate(80000);
    player.start();
    play(player, 1234);
    player.setOutputRate(48000);
    EXPECT_EQ(play(player, 3000), first);
    play(player, 1234);
    player.setOutputRate(48000);
    EXPECT_EQ(play(player, 3000), first);
}

TEST(TablePlayerOutputRate, TableAtTheOutputRatePassesUnchanged)
{
    const Table table = noiseTable();
    for (int outputRate : {48000, 88200, 96000, 192000, 8000}) {
        TablePlayer player;
        player.setOutputRate(outputRate);
        player.setTable(table.data());
        player.setRate(outputRate);
        player.start();
        const std::vector<float> out = play(player, 3 * N / 2, 997);
        for (int m = 0; m < int(out.size()); ++m)
            ASSERT_EQ(out[m], float(table[m % N])) << "output rate " << outputRate << ", sample " << m;
    }
}

TEST(TablePlayerOutputRate, SameToneFlatAndCleanAtEveryOutputRate)
{
    // The sweep's own rates (20 Hz, 1 kHz, 12.5, 16 and 20 kHz) and those on
    // either side of the output rate, where the reading changes method.
    struct Tone {
        int k, period, rate;
    };
    const Tone sweepTones[] = {{1, 100, 2000}, {1, 100, 100000}, {20, 5, 62500}, {20, 5, 80000}, {20, 5, 100000}};
    for (int outputRate : {44100, 48000, 88200, 96000, 192000}) {
        std::vector<Tone> tones(std::begin(sweepTones), std::end(sweepTones));
        tones.push_back({20, 5, outputRate - 1});
        if (outputRate < TablePlayer::MaxRate)
            tones.push_back({20, 5, outputRate + 1});
        for (const Tone& t : tones) {
            const Deviation d = compare(sineTable(t.k), t.period, t.rate, outputRate);
            EXPECT_LT(std::abs(d.flatnessDb), 0.01) << "output " << outputRate << ", rate " << t.rate;
            EXPECT_LT(d.residualDb, -90.0) << "output " << outputRate << ", rate " << t.rate;
        }
    }
    // Any output rate in range, flat up to 0.45 of it: odd ones, and low ones
    // that read the shortest copies of the table at the highest rates.
    const struct {
        int outputRate;
        Tone tone;
    } others[] = {{44056, {20, 5, 100000}}, {50000, {20, 5, 100000}},   {8000, {1, 100, TablePlayer::MaxRate}},
                  {8000, {20, 5, 17500}},   {11025, {1, 100, 100000}}, {22050, {20, 5, 49000}},
                  {32000, {20, 5, 70000}}};
    for (const auto& o : others) {
        const Deviation d = compare(sineTable(o.tone.k), o.tone.period, o.tone.rate, o.outputRate);
        EXPECT_LT(std::abs(d.flatnessDb), 0.01) << "output " << o.outputRate << ", rate " << o.tone.rate;
        EXPECT_LT(d.residualDb, -90.0) << "output " << o.outputRate << ", rate " << o.tone.rate;
    }
}

TEST(TablePlayerOutputRate, SquareKeepsItsHarmonicsWithoutImagesAt48000)
{
    for (int rate : {10000, 30000, 47000}) {
        const Deviation d = compare(squareTable(), 100, rate, 48000);
        EXPECT_LT(d.residualDb, -80.0) << "square, rate " << rate;
    }
}

TEST(TablePlayerPeriod, LoopsEverySampleAsItIsWhateverTheRateThenBackToTheTable)
{
    const Table table = noiseTable();
    struct Case {
        std::size_t length; int outputRate, rate, block;
    };
    for (const Case& c : {Case{TablePlayer::MinPeriod, 44100, 44100, 7}, Case{4097, 48000, 12345, 997},
                          Case{TablePlayer::MaxPeriod, 96000, 100000, 4096}}) {
        std::vector<float> period(c.length);
        uint32_t x = uint32_t(c.length);
        for (float& v : period) // any float in [-1, 1), not on the 16-bit grid
            v = float(int32_t(x = x * 1664525u + 1013904223u)) / 2147483648.0f;
        TablePlayer player;
        player.setOutputRate(c.outputRate);
        player.setRate(c.rate);
        EXPECT_FALSE(player.setPeriod(period.data(), TablePlayer::MinPeriod - 1)
                     || player.setPeriod(period.data(), TablePlayer::MaxPeriod + 1));
        ASSERT_TRUE(player.setPeriod(period.data(), c.length));
        player.start();
        play(player, int(c.length) / 3, c.block);
        player.start(); // rewinds to the period's first sample
        const std::vector<float> out = play(player, int(5 * c.length / 2), c.block);
        for (std::size_t m = 0; m < out.size(); ++m)
            ASSERT_EQ(out[m] / 32768.0f, period[m % c.length]) << "length " << c.length << ", sample " << m;

        player.setTable(table.data());
        player.setRate(c.outputRate);
        player.start();
        EXPECT_EQ(play(player, 3, 3), (std::vector<float>{float(table[0]), float(table[1]), float(table[2])}));
    }
}

} // namespace

} // namespace audimera
