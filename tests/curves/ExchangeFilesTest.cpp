#include "curves/ExchangeFiles.h"
#include "curves/CurveFile.h"
#include "tests/support/TestFolder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <ostream>
#include <limits>
#include <sstream>

#include <sys/stat.h>

namespace audimera {

namespace {

const double Inf = std::numeric_limits<double>::infinity();

struct WriterCase {
    const char* name;
    std::function<Status(const std::string&)> write;
    std::string expected;
};

// Named by its name in test listings (not by its bytes).
void PrintTo(const WriterCase& c, std::ostream* out)
{
    *out << c.name;
}

// Every writer's exact text for the shapes that matter: with and without
// phase, comments, missing cells, values that need full precision.
const WriterCase WriterCases[] = {
    {"FrdPhaseZeroWhereNoneMeasured",
     [](const std::string& p) {
         return ExchangeFiles::writeFrd(p, {{20, -3.25, std::nullopt}, {1000.5, 0.1, 45.5}});
     },
     "20 -3.25 0\r\n1000.5 0.1 45.5\r\n"},
    {"FrdCommentsEachOneLine",
     [](const std::string& p) {
         return ExchangeFiles::writeFrd(p, {{100, 1, std::nullopt}}, {"Audimera", "two\nlines"});
     },
     "* Audimera\r\n* two lines\r\n100 1 0\r\n"},
    {"FrdEmpty", [](const std::string& p) { return ExchangeFiles::writeFrd(p, {}); }, ""},
    {"CsvWithoutPhase",
     [](const std::string& p) { return ExchangeFiles::writeCsv(p, {{20, -3.25, std::nullopt}, {25.2, 1e-7, std::nullopt}}); },
     "frequency_hz,level_db\r\n20,-3.25\r\n25.2,1e-07\r\n"},
    {"CsvPhaseColumnWhenAnyPointHasOne",
     [](const std::string& p) { return ExchangeFiles::writeCsv(p, {{20, -3, std::nullopt}, {40, 2, -90}}); },
     "frequency_hz,level_db,phase_deg\r\n20,-3,\r\n40,2,-90\r\n"},
    {"CsvEmptyHasHeader", [](const std::string& p) { return ExchangeFiles::writeCsv(p, {}); },
     "frequency_hz,level_db\r\n"},
    {"DistortionEmptyCellsForMissingAndInfinite",
     [](const std::string& p) {
         DistortionPoint a{1000, {-40, -50.5, std::nullopt, -Inf}, 1.25};
         DistortionPoint b{15000, {-60, std::nullopt, std::nullopt, std::nullopt}, std::nullopt};
         return ExchangeFiles::writeDistortionCsv(p, {a, b});
     },
     "frequency_hz,h2_db,h3_db,h4_db,h5_db,thd_percent\r\n1000,-40,-50.5,,,1.25\r\n15000,-60,,,,\r\n"},
};

class ExchangeFilesWriters : public testing::TestWithParam<WriterCase> {};

TEST_P(ExchangeFilesWriters, WriteExactText)
{
    const std::string path = testFile("out");
    spit(path, "old content that must go\r\n");
    ASSERT_EQ(GetParam().write(path).message(), "");
    EXPECT_EQ(slurp(path), GetParam().expected);
}

// The save rules are the curve files': a read-only file is refused and kept.
TEST_P(ExchangeFilesWriters, RefuseAReadOnlyFileAndKeepIt)
{
    const std::string path = testFile("readonly");
    spit(path, "old\r\n");
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    EXPECT_EQ(GetParam().write(path).message(), CurveFile::ReadOnlyError);
    EXPECT_EQ(slurp(path), "old\r\n");
}

// A folder that does not exist: the failure is reported, nothing is made.
TEST_P(ExchangeFilesWriters, ReportAFailedSave)
{
    const std::string path = testFile("missing-folder") + "/out";
    EXPECT_FALSE(GetParam().write(path).ok());
}

INSTANTIATE_TEST_SUITE_P(All, ExchangeFilesWriters, testing::ValuesIn(WriterCases),
                         [](const testing::TestParamInfo<WriterCase>& info) { return std::string(info.param.name); });

// The shortest text that reads back to the same double: any trace's
// frequencies and levels survive an FRD or CSV round trip exactly.
TEST(ExchangeFilesTest, NumbersReadBackToTheSameDoubles)
{
    const std::vector<double> values = {1.0 / 3, 20.000000000000004, -123.456789012345678, 2.5e-300, 1e22};
    for (double v : values) {
        const std::string path = testFile("precise.frd");
        ASSERT_TRUE(ExchangeFiles::writeFrd(path, {{v, v, v}}).ok());
        std::istringstream in(slurp(path));
        double f = 0, l = 0, ph = 0;
        in >> f >> l >> ph;
        EXPECT_EQ(f, v);
        EXPECT_EQ(l, v);
        EXPECT_EQ(ph, v);
    }
}

} // namespace

} // namespace audimera
