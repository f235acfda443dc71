// The tests' own temporary folders (tests/support/TestFolder.h).
#include "tests/support/TestFolder.h"

#include <filesystem>
#include <fstream>

#include <sys/wait.h>

namespace audimera {

namespace {

namespace fs = std::filesystem;

TEST(TestFolderTest, EachFolderIsNewNamedAfterTheTestAndGoesWithAllItHolds)
{
    std::string first, second;
    {
        TestFolder a, b;
        first = a.path();
        second = b.path();
        ASSERT_NE(first, second);
        EXPECT_EQ(fs::path(first).filename().string().rfind(
                      "TestFolderTest.EachFolderIsNewNamedAfterTheTestAndGoesWithAllItHolds-", 0),
                  0u)
            << first;
        // A read-only folder with a file in it does not keep the folder.
        fs::create_directories(a.file("sub"));
        std::ofstream(a.file("sub/x.txt")) << "x";
        fs::permissions(a.file("sub"), fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_TRUE(fs::exists(a.file("sub/x.txt")));
    }
    EXPECT_FALSE(fs::exists(first));
    EXPECT_FALSE(fs::exists(second));
}

TEST(TestFolderTest, ACopyOfTheProcessThatEndsLeavesTheFolderAlone)
{
    auto* folder = new TestFolder;
    const std::string path = folder->path();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        delete folder; // as a child's exit path might
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(fs::is_directory(path));
    delete folder;
    EXPECT_FALSE(fs::exists(path));
}

TEST(TestFolderTest, TestFileIsInOneFolderForTheWholeTest)
{
    const std::string a = testFile("a.txt"), b = testFile("b.txt");
    EXPECT_EQ(fs::path(a).parent_path(), fs::path(b).parent_path());
    EXPECT_EQ(fs::path(a).parent_path().string(), TestFolder::current().path());
    EXPECT_TRUE(fs::is_directory(TestFolder::current().path()));
}

} // namespace

} // namespace audimera
