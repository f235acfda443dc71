// Cases found by fuzzing the correction loader (fuzz/fuzz_correction_curve).
// Each one failed before its fix.
#include "curves/CorrectionCurve.h"
#include "tests/support/TestFolder.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

namespace audimera {

namespace {

using CorrectionCurve::Entries;
using CorrectionCurve::entryOf;
using CorrectionCurve::NoPoint;

std::vector<double> loaded(const std::string& text)
{
    const std::string path = testFile("correction-regression.txt");
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    std::vector<double> column(Entries, 12345);
    const audimera::Status r = CorrectionCurve::load(path, column.data());
    EXPECT_TRUE(r.ok()) << r.message();
    return column;
}

// Every entry finite and between lo and hi.
void expectFiniteWithin(const std::vector<double>& column, double lo, double hi)
{
    for (int k = 0; k < Entries; ++k) {
        ASSERT_TRUE(std::isfinite(column[k])) << "entry " << k << " is " << column[k];
        ASSERT_GE(column[k], lo) << k;
        ASSERT_LE(column[k], hi) << k;
    }
}

} // namespace

// A level near the top of the double range: the gap times the distance to
// the next point overflowed, and every filled entry became +-infinity, which
// the correction would then subtract from each measured level.
TEST(CorrectionCurveRegressionTest, HugeLevelsOfOneSignInterpolateFinitely)
{
    const std::vector<double> c = loaded("100,1e306\n200,1\n");
    expectFiniteWithin(c, 1, 1e306);
    EXPECT_EQ(c[entryOf(100)], 1e306);
    EXPECT_EQ(c[entryOf(200)], 1);
    for (int k = entryOf(100) + 1; k <= entryOf(200); ++k)
        ASSERT_LE(c[k], c[k - 1]) << k; // falls steadily
    EXPECT_NEAR(c[entryOf(150)] / 5e305, 1, 1e-12);
}

// The largest level a file can give next to the lowest one it may give.
TEST(CorrectionCurveRegressionTest, LevelsAtBothLimitsInterpolateFinitely)
{
    const std::vector<double> c = loaded("100,-999.5\n200,1.7976931348623157e308\n");
    expectFiniteWithin(c, -999.5, DBL_MAX);
    for (int k = entryOf(100) + 1; k <= entryOf(200); ++k)
        ASSERT_GT(c[k], c[k - 1]) << k; // rises steadily
    EXPECT_NEAR(c[entryOf(150)] / (DBL_MAX / 2), 1, 1e-12);
    EXPECT_EQ(c[0], -999.5);
    EXPECT_EQ(c[Entries - 1], DBL_MAX);
}

// Known entries of opposite signs whose difference itself is beyond the
// double range (entry 0 counts as known whatever it holds).
TEST(CorrectionCurveRegressionTest, InterpolateAcrossADifferenceBeyondTheDoubleRange)
{
    std::vector<double> c(Entries, NoPoint);
    c[0] = -1.7e308;
    c[200] = 1.7e308;
    CorrectionCurve::Interpolate(c.data());
    for (int j = 1; j <= 200; ++j) {
        ASSERT_TRUE(std::isfinite(c[j])) << j;
        ASSERT_GT(c[j], c[j - 1]) << j;
    }
    EXPECT_NEAR(c[100], 0, 1e295);
    EXPECT_EQ(c[0], -1.7e308);
    EXPECT_EQ(c[200], 1.7e308);
}

// The fuzzer's own input: one huge level 900 Hz above the 0 dB of entry 0.
TEST(CorrectionCurveRegressionTest, InterpolateFromEntryZeroToAHugeLevel)
{
    std::vector<double> c(Entries, NoPoint);
    c[0] = 0;
    c[1800] = 1.999999e306;
    CorrectionCurve::Interpolate(c.data());
    for (int j = 1; j < 1800; ++j) {
        ASSERT_TRUE(std::isfinite(c[j])) << j;
        ASSERT_GT(c[j], c[j - 1]) << j;
    }
    EXPECT_NEAR(c[900] / 0.9999995e306, 1, 1e-12);
    EXPECT_EQ(c[1800], 1.999999e306);
    EXPECT_EQ(c[1801], NoPoint); // after the last known entry: untouched
}

// Ordinary levels still follow the documented formula exactly.
TEST(CorrectionCurveRegressionTest, OrdinaryLevelsKeepTheDocumentedFormula)
{
    const std::vector<double> c = loaded("100,-3.1\n1000.5,7.7\n");
    const int p = entryOf(100), k = entryOf(1000.5);
    for (int j = p + 1; j < k; ++j)
        ASSERT_EQ(c[j], (7.7 - -3.1) * (j - p) / (k - p) + -3.1) << j;
    EXPECT_EQ(c[p], -3.1);
    EXPECT_EQ(c[k], 7.7);
    EXPECT_EQ(c[Entries - 1], 7.7);
}

} // namespace audimera
