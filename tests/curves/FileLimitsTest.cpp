// What the readers and writers refuse: inputs that are no regular file or
// never end, and numbers that are not finite; and a set of files saved all
// or none.
#include "curves/CorrectionCurve.h"
#include "curves/CurveFile.h"
#include "curves/ExchangeFiles.h"
#include "curves/ImpulseFile.h"
#include "engine/CorrectionTable.h"
#include "tests/support/TestFolder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>

#include <sys/stat.h>

namespace audimera {

namespace {

TEST(FileLimitsTest, ReadersTakeBoundedRegularFilesOnly)
{
    const std::string fifo = testFile("fifo"), folder = TestFolder::current().path();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string comments;
    for (int i = 0; i <= FieldReader::MaxLines; ++i)
        comments += "* c\n";
    spit(testFile("comments.txt"), "20 0 0\n" + comments + "30 0 0\n");
    const std::string notRegular = "not a regular file (a pipe, a device or a socket is not read)";
    struct Case {
        std::string path, error;
    };
    for (const Case& c : {Case{fifo, notRegular}, Case{"/dev/null", notRegular},
                          Case{folder, std::strerror(EISDIR)},
                          Case{testFile("comments.txt"), "more than 1000000 lines"}}) {
        std::vector<CurvePoint> points;
        EXPECT_EQ(CurveFile::read(c.path, 100, points).message(), c.error) << c.path;
        std::vector<double> column(CorrectionCurve::Entries);
        EXPECT_NE(CorrectionCurve::load(c.path, column.data()).message().find(c.error), std::string::npos);
    }
}

TEST(FileLimitsTest, NothingThatIsNotFiniteIsWrittenOrSummed)
{
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    const std::string path = testFile("out");
    const std::vector<ResponsePoint> good = {{20, 0, 0}, {30, 1, 0}};
    auto withPoint = [&](ResponsePoint p) {
        std::vector<ResponsePoint> points = good;
        points.push_back(p);
        return points;
    };
    DistortionPoint badFrequency{inf, {}, {}};
    for (const std::function<Status()>& write : std::vector<std::function<Status()>>{
             [&] { return CurveFile::write(path, {{20, 0}, {1000, -inf}}); },
             [&] { return ExchangeFiles::writeFrd(path, withPoint({40, nan, 0})); },
             [&] { return ExchangeFiles::writeFrd(path, withPoint({40, 0, inf})); },
             [&] { return ExchangeFiles::writeCsv(path, withPoint({inf, 0, {}})); },
             [&] { return ExchangeFiles::writeDistortionCsv(path, {badFrequency}); },
             [&] { return ImpulseFile::writeWav(path, {0.5f, std::nanf("")}, 44100); },
         }) {
        const Status written = write();
        EXPECT_NE(written.message().find("not a finite number"), std::string::npos) << written.message();
        EXPECT_FALSE(std::filesystem::exists(path));
    }

    // Two curves at 1e308 dB: each loads, their sum is refused.
    CorrectionTable table;
    spit(path, "20,1e308\r\n20000,1e308\r\n");
    for (int i : {1, 2}) {
        ASSERT_TRUE(table.load(i, path).ok());
        table.enabled[i] = true;
    }
    EXPECT_EQ(table.nonFiniteSumAt(), 0.0);
}

TEST(FileLimitsTest, ASetOfFilesIsSavedAllOrNone)
{
    const std::string kept = testFile("kept.txt"), folder = TestFolder::current().path();
    spit(kept, "old");
    std::size_t failed = 99;
    const Status written = CurveFile::writeAll({{kept, "new"}, {testFile("new.txt"), "x"}, {testFile("none/y"), "y"}}, &failed);
    EXPECT_FALSE(written.ok());
    EXPECT_EQ(failed, 2u);
    EXPECT_EQ(slurp(kept), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1) << "temporaries left";
    ASSERT_TRUE(CurveFile::writeAll({{kept, "new"}, {testFile("new.txt"), "x"}}).ok());
    EXPECT_EQ(slurp(kept) + slurp(testFile("new.txt")), "newx");
}

} // namespace

} // namespace audimera
