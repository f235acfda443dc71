// Files from other tools, half-written files and files that change under
// the reader: the documented messages, in bounded time and memory.
#include "curves/CorrectionCurve.h"
#include "curves/CurveFile.h"
#include "curves/FieldReader.h"
#include "signal/FrequencyPlan.h"
#include "tests/support/TestFolder.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <vector>

namespace audimera {

namespace {

// A file in the running test's own folder.
std::string tempPath(const char* name)
{
    return testFile(std::string("hostile-") + name);
}

long maxRssKb()
{
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return r.ru_maxrss;
}

// A million fields: half a million rising records from 10 Hz, written at
// the first call in a test.
std::string millionFields()
{
    const std::string path = tempPath("million.txt");
    if (!std::filesystem::exists(path)) {
        std::ofstream out(path, std::ios::trunc);
        for (int i = 0; i < 500000; ++i)
            out << 10 + i * 0.047 << ',' << (i % 200) * 0.01 << '\n';
    }
    return path;
}

TEST(HostileFilesTest, AMillionFieldsStayWithinBounds)
{
    const long before = maxRssKb();
    std::vector<CurvePoint> trace;
    const std::string error = CurveFile::read(millionFields(), 22051, trace).message();
    EXPECT_EQ(trace.size(), 22051u);
    EXPECT_NE(error.find("more than 22051 points"), std::string::npos) << error;

    std::vector<double> column(CorrectionCurve::Entries);
    const audimera::Status correction = CorrectionCurve::load(millionFields(), column.data());
    EXPECT_TRUE(correction.ok()) << correction.message();

    FrequencyPlan plan;
    const audimera::Status list = plan.ResetGenerator(3, millionFields());
    EXPECT_TRUE(list.ok()) << list.message();
    // The levels read as frequencies are not rising: only the odd fields count.
    EXPECT_EQ(plan.FreqList.back(), -1);
    // Reading streams: what stays is the accepted data, not the file.
    EXPECT_LT(maxRssKb() - before, 64 * 1024);
}

TEST(HostileFilesTest, LongLinesAndNulBytes)
{
    const std::string wide = tempPath("wide.txt");
    {
        std::ofstream out(wide, std::ios::trunc);
        for (int i = 0; i < 100000; ++i)
            out << 10 + i * 0.2 << ",0,";
    }
    std::vector<CurvePoint> r;
    std::string error = CurveFile::read(wide, 22051, r).message();
    EXPECT_EQ(r.size(), 22051u); // one line, read like any other

    const std::string longField = tempPath("long-field.txt");
    std::ofstream(longField, std::ios::trunc) << "100,1\n" << std::string(10 << 20, '7') << ",2\n";
    error = CurveFile::read(longField, 22051, r).message();
    EXPECT_EQ(r.size(), 1u);
    EXPECT_NE(error.find("too long"), std::string::npos) << error;

    const std::string nul = tempPath("nul.txt");
    std::ofstream(nul, std::ios::binary | std::ios::trunc) << std::string("100,1\n200,\0" "2\n", 12);
    error = CurveFile::read(nul, 22051, r).message();
    EXPECT_EQ(r.size(), 1u);
    EXPECT_NE(error.find("NUL"), std::string::npos) << error;
}

TEST(HostileFilesTest, FilesThatChangeOrVanishWhileRead)
{
    const std::string path = tempPath("changing.txt");
    {
        std::ofstream out(path, std::ios::trunc);
        for (int i = 0; i < 200000; ++i)
            out << 10 + i * 0.1 << ",1\n";
    }
    // Removed after opening: the open file reads to its end.
    FieldReader gone;
    ASSERT_EQ(gone.open(path).message(), "");
    std::filesystem::remove(path);
    double v = 0;
    int fields = 0;
    while (gone.next(v) == FieldReader::Status::Field)
        ++fields;
    EXPECT_EQ(fields, 400000);

    // Cut short while read: the reader ends without reading past the end.
    {
        std::ofstream out(path, std::ios::trunc);
        for (int i = 0; i < 200000; ++i)
            out << 10 + i * 0.1 << ",1\n";
    }
    FieldReader cut;
    ASSERT_EQ(cut.open(path).message(), "");
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(cut.next(v), FieldReader::Status::Field);
    std::filesystem::resize_file(path, 100);
    FieldReader::Status status;
    fields = 1000;
    while ((status = cut.next(v)) == FieldReader::Status::Field)
        ++fields;
    EXPECT_NE(status, FieldReader::Status::Field);
    EXPECT_LT(fields, 400000);

    // Rewritten with garbage while read: an error, not a crash.
    {
        std::ofstream out(path, std::ios::trunc);
        for (int i = 0; i < 200000; ++i)
            out << 10 + i * 0.1 << ",1\n";
    }
    FieldReader changed;
    ASSERT_EQ(changed.open(path).message(), "");
    ASSERT_EQ(changed.next(v), FieldReader::Status::Field);
    {
        std::ofstream out(path, std::ios::binary | std::ios::in | std::ios::out);
        out.seekp(1 << 20);
        out << "zzzz";
    }
    while ((status = changed.next(v)) == FieldReader::Status::Field) {
    }
    EXPECT_EQ(status, FieldReader::Status::Error);
}

} // namespace

} // namespace audimera
