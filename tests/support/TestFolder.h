// Temporary files of a test's own, so that tests running side by side
// (ctest -j, or two copies of a suite) never read or replace each other's.
//
// TestFolder makes a new folder in the temporary folder (TEST_TMPDIR or
// TMPDIR, else /tmp) named after the running test, "Suite.Name-XXXXXX", and
// removes it with everything in it when it goes: only in the process that
// made it, so a forked child that exits does not take it away. The folder is
// readable by all (0755), so a child that drops root can reach its files.
//
// testFile(name) is a file in the running test's own folder, made at the
// first call in the test and removed when the test ends; for helpers that
// write a file for whichever test calls them. slurp() and spit() read and
// write a whole file's bytes.
//
// Threads: the test's thread only.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace audimera {

class TestFolder {
public:
    TestFolder()
    {
        std::string name = "audimera-test";
        if (const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info()) {
            name = std::string(test->test_suite_name()) + "." + test->name();
            // Parameterised names hold '/'; keep the name one plain component.
            for (char& c : name)
                if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_')
                    c = '_';
        }
        std::string base = testing::TempDir();
        if (base.empty() || base.back() != '/')
            base += '/';
        std::string pattern = base + name + "-XXXXXX";
        if (!mkdtemp(pattern.data())) {
            ADD_FAILURE() << "cannot make a test folder " << pattern;
            return;
        }
        chmod(pattern.c_str(), 0755);
        m_path = pattern;
        m_owner = getpid();
    }
    ~TestFolder()
    {
        if (m_path.empty() || getpid() != m_owner)
            return;
        namespace fs = std::filesystem;
        std::error_code ec;
        // A test may leave a folder read-only; make every folder writable so
        // that everything in it can go.
        for (auto it = fs::recursive_directory_iterator(m_path, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec))
            if (it->is_directory(ec) && !it->is_symlink(ec))
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(m_path, ec);
    }
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    // The folder, without a trailing '/'; empty if it could not be made.
    const std::string& path() const { return m_path; }
    // name inside the folder (name may hold subfolders; none are made).
    std::string file(std::string_view name) const { return m_path + "/" + std::string(name); }

    // The running test's own folder: made at the first call in a test and
    // removed when that test ends.
    static TestFolder& current()
    {
        struct Keeper : testing::EmptyTestEventListener {
            std::unique_ptr<TestFolder> folder;
            void OnTestEnd(const testing::TestInfo&) override { folder.reset(); }
        };
        // Appended once and owned by GoogleTest from then on.
        static Keeper* const keeper = [] {
            auto* k = new Keeper;
            testing::UnitTest::GetInstance()->listeners().Append(k);
            return k;
        }();
        if (!keeper->folder)
            keeper->folder = std::make_unique<TestFolder>();
        return *keeper->folder;
    }

private:
    std::string m_path;
    pid_t m_owner = 0;
};

// A file in the running test's own folder (see TestFolder::current()).
inline std::string testFile(std::string_view name)
{
    return TestFolder::current().file(name);
}

// The bytes of the file at path; empty when it cannot be read.
inline std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Replaces the file at path with text.
inline void spit(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

} // namespace audimera
