#include "curves/CurveFile.h"
#include "tests/support/TestFolder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace audimera {

namespace {

// A file in the running test's own folder.
std::string tempPath(const char* name)
{
    return testFile(std::string("curvefile-") + name);
}

TEST(CurveFileTest, WritesOneRecordALineWithPointDecimals)
{
    EXPECT_EQ(CurveFile::record(1000, -3.25), "1000,-3.25");
    EXPECT_EQ(CurveFile::record(25.2, 0.5), "25.2,0.5");
    const std::string path = tempPath("write.txt");
    ASSERT_EQ(CurveFile::write(path, {{20, 0}, {31.5, -0.125}, {20000, 1.5e-7}}).message(), "");
    EXPECT_EQ(slurp(path), "20,0\r\n31.5,-0.125\r\n20000,1.5e-07\r\n");
    // No temporary file is left behind.
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(TestFolder::current().path()))
        files += entry.path().filename().string().rfind("curvefile-write.txt", 0) == 0;
    EXPECT_EQ(files, 1);
}

TEST(CurveFileTest, RoundTripGivesBackTheSameDoubles)
{
    std::vector<CurvePoint> points;
    double f = 20;
    for (int i = 0; i < 200; ++i, f *= 1.03)
        points.push_back({f, std::sin(i) * 37.0 / 3.0});
    points.push_back({24000, -1e-300});
    const std::string path = tempPath("roundtrip.txt");
    ASSERT_EQ(CurveFile::write(path, points).message(), "");
    std::vector<CurvePoint> r;
    EXPECT_EQ(CurveFile::read(path, 22051, r).message(), "");
    ASSERT_EQ(r.size(), points.size());
    for (size_t i = 0; i < points.size(); ++i) {
        EXPECT_EQ(r[i].frequency, points[i].frequency);
        EXPECT_EQ(r[i].level, points[i].level);
    }
}

TEST(CurveFileTest, ReaderKeepsAscendingRecordsInRange)
{
    const std::string path = tempPath("rules.txt");
    spit(path, "9.99,1 10,2 100,3\n50,4\n100,5,200,6\r\n24000,7 24000.001,8");
    std::vector<CurvePoint> r;
    EXPECT_EQ(CurveFile::read(path, 100, r).message(), "");
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0].frequency, 10);
    EXPECT_EQ(r[1].level, 3);
    EXPECT_EQ(r[2].frequency, 200);
    EXPECT_EQ(r[3].level, 7);

    spit(path, "5,1\n30000,2\n");
    EXPECT_EQ(CurveFile::read(path, 100, r).message(), "");
    EXPECT_TRUE(r.empty());
}

TEST(CurveFileTest, ReaderStopsWithAnErrorAndKeepsWhatCameBefore)
{
    const std::string path = tempPath("errors.txt");
    spit(path, "100,1\n200,2\n300");
    std::vector<CurvePoint> r;
    std::string error = CurveFile::read(path, 100, r).message();
    EXPECT_EQ(r.size(), 2u);
    EXPECT_NE(error.find("middle of a record"), std::string::npos) << error;

    spit(path, "100,1\n200,x\n300,3\n");
    error = CurveFile::read(path, 100, r).message();
    EXPECT_EQ(r.size(), 1u);
    EXPECT_NE(error.find("line 2"), std::string::npos) << error;

    spit(path, "100,1\n200,2\n300,3\n400,4\n");
    error = CurveFile::read(path, 3, r).message();
    EXPECT_EQ(r.size(), 3u);
    EXPECT_NE(error.find("more than 3"), std::string::npos) << error;
    // Exactly the limit is fine.
    error = CurveFile::read(path, 4, r).message();
    EXPECT_EQ(error, "");

    error = CurveFile::read(tempPath("missing.txt"), 100, r).message();
    EXPECT_EQ(error, "No such file or directory");
}

TEST(CurveFileTest, FailedSaveLeavesTheOldFileAlone)
{
    const std::string path = tempPath("keep.txt");
    spit(path, "old content");
    const std::string bad = tempPath("no-such-folder/keep.txt");
    EXPECT_EQ(CurveFile::write(bad, {{100, 1}}).message(), "No such file or directory");
    EXPECT_EQ(slurp(path), "old content");
    // Saving over a folder fails too and leaves nothing behind.
    const std::string folder = tempPath("folder");
    std::filesystem::create_directories(folder);
    EXPECT_NE(CurveFile::write(folder, {{100, 1}}).message(), "");
    EXPECT_TRUE(std::filesystem::is_directory(folder));
}

} // namespace

namespace {

TEST(CurveFileFaultTest, SavingOntoAFullDeviceReportsIt)
{
    // Written in place: the device is not replaced by a file.
    EXPECT_EQ(CurveFile::write("/dev/full", {{100, 1}, {200, 2}}).message(), "No space left on device");
    struct stat st {};
    ASSERT_EQ(stat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(CurveFile::write("/dev/null", {{100, 1}}).message(), "");
}

TEST(CurveFileFaultTest, ALinkedFileIsReplacedThroughTheLinkWithItsMode)
{
    const std::string real = tempPath("linked-real.txt"), link = tempPath("linked-link.txt");
    std::filesystem::remove(link);
    spit(real, "old");
    chmod(real.c_str(), 0640);
    std::filesystem::create_symlink(real, link);
    ASSERT_EQ(CurveFile::write(link, {{100, 1}}).message(), "");
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(slurp(real), "100,1\r\n");
    struct stat st {};
    ASSERT_EQ(stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(CurveFileFaultTest, AReadOnlyFolderRefusesTheSaveAndKeepsTheOldFile)
{
    // Root may write anywhere; the check needs an ordinary user.
    const std::string dir = tempPath("readonly-dir");
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/old.txt";
    spit(path, "old content\r\n");
    chmod(path.c_str(), 0666);
    chmod(dir.c_str(), 0555);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (getuid() == 0 && setuid(65534) != 0)
            _exit(3);
        const std::string error = CurveFile::write(path, {{100, 1}}).message();
        _exit(error == "Permission denied" ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    chmod(dir.c_str(), 0755);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "exit " << WEXITSTATUS(status);
    EXPECT_EQ(slurp(path), "old content\r\n");
}

} // namespace

} // namespace audimera
