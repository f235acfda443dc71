#include "curves/CorrectionCurve.h"
#include "tests/support/TestFolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

namespace audimera {

namespace {

using CorrectionCurve::entryOf;

struct Column {
    std::vector<double> v = std::vector<double>(CorrectionCurve::Entries, 12345);
    audimera::Status load(const std::string& text)
    {
        const std::string path = testFile("correction.txt");
        std::ofstream(path, std::ios::trunc) << text;
        return CorrectionCurve::load(path, v.data());
    }
    double at(double hz) const { return v[entryOf(hz)]; }
};

TEST(CorrectionCurveTest, EntriesAreHalfHertzRoundedToEven)
{
    EXPECT_EQ(entryOf(20.25), 40);
    EXPECT_EQ(entryOf(20.75), 42);
    EXPECT_EQ(entryOf(100.1), 200);
    EXPECT_EQ(entryOf(100.2), 200);
    EXPECT_EQ(entryOf(24000), 48000);
}

TEST(CorrectionCurveTest, SinglePointIsFlatEverywhere)
{
    Column c;
    ASSERT_TRUE(c.load("1000,2\n").ok());
    for (int k = 0; k < CorrectionCurve::Entries; k += 97)
        ASSERT_EQ(c.v[k], 2) << k;
    EXPECT_EQ(c.v[48000], 2);
}

TEST(CorrectionCurveTest, InterpolationIsLinearInHertzWithFlatEnds)
{
    Column c;
    ASSERT_TRUE(c.load("100 0\r\n200 6\r\n").ok());
    EXPECT_DOUBLE_EQ(c.at(150), 3);
    EXPECT_DOUBLE_EQ(c.at(125), 1.5);
    EXPECT_EQ(c.at(0), 0);
    EXPECT_EQ(c.at(50), 0);
    EXPECT_EQ(c.at(5000), 6);
    EXPECT_EQ(c.at(24000), 6);
}

TEST(CorrectionCurveTest, UnsortedFilesTakeTheirEndsFromFirstAndLastRecords)
{
    Column c;
    ASSERT_TRUE(c.load("1000,4\n100,0\n").ok());
    EXPECT_EQ(c.at(0), 4);
    EXPECT_DOUBLE_EQ(c.at(50), 2);
    EXPECT_EQ(c.at(100), 0);
    EXPECT_DOUBLE_EQ(c.at(550), 2);
    EXPECT_EQ(c.at(1000), 4);
    EXPECT_NEAR(c.at(12500), 2, 1e-12);
    EXPECT_EQ(c.at(24000), 0);

    // The later of two records on one entry wins; -1000 dB is no level.
    ASSERT_TRUE(c.load("100.1,1\n100.2,5\n300,-1000\n400,-999.9\n").ok());
    EXPECT_EQ(c.at(100), 5);
    EXPECT_DOUBLE_EQ(c.at(400), -999.9);
    EXPECT_DOUBLE_EQ(c.at(250), 5 + (-999.9 - 5) * 300 / 600);

    // A last record outside the range still sets the top.
    ASSERT_TRUE(c.load("100,1\n30000,7\n").ok());
    EXPECT_EQ(c.at(24000), 7);
    EXPECT_DOUBLE_EQ(c.at(12050), 4);
}

TEST(CorrectionCurveTest, ALastRecordWithoutLevelLeavesNoMinus1000Top)
{
    // The top would otherwise stay at -1000 dB and be subtracted as such.
    Column c;
    ASSERT_TRUE(c.load("100,1\n1000,3\n2000,-1000\n").ok());
    EXPECT_EQ(c.at(24000), 3);
    EXPECT_EQ(c.at(5000), 3);
    for (int k = 0; k < CorrectionCurve::Entries; ++k)
        ASSERT_GT(c.v[k], CorrectionCurve::NoPoint) << k;
}

TEST(CorrectionCurveTest, FailuresSayWhy)
{
    Column c;
    auto r = c.load("5,1\n30000,2\n");
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.message(), "Bad calibration file, no points were found !");
    r = c.load("");
    EXPECT_EQ(r.message(), "Bad calibration file, no points were found !");

    r = c.load("100,1\n200");
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.message().rfind("Error loading calibration file '", 0), 0u);
    EXPECT_NE(r.message().find("' : "), std::string::npos);

    r = c.load("100,1\n200,abc\n");
    EXPECT_FALSE(r.ok());
    EXPECT_NE(r.message().find("line 2"), std::string::npos) << r.message();

    const std::string missing = testFile("no-such-curve.txt");
    r = CorrectionCurve::load(missing, c.v.data());
    EXPECT_EQ(r.message(), "Error loading calibration file '" + missing + "' : No such file or directory");
}

} // namespace

} // namespace audimera
