// Where a correction curve named by a relative path is read: the working
// directory first, then the data folder shipped with the program.
#include "curves/DataFolder.h"
#include "engine/CorrectionTable.h"
#include "tests/support/TestFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace audimera {

namespace {

// Runs in its own working directory and puts it back afterwards.
class InFolder {
public:
    explicit InFolder(const std::string& dir) : m_old(std::filesystem::current_path())
    {
        std::filesystem::current_path(dir);
    }
    ~InFolder() { std::filesystem::current_path(m_old); }

private:
    std::filesystem::path m_old;
};

TEST(CorrectionTableTest, LevelAtSumsTheEnabledColumnsAtTheHalfHertzEntry)
{
    CorrectionTable table;
    table.column(0)[2000] = 1.5;
    table.column(1)[2000] = 100; // not enabled
    table.column(2)[2000] = -0.25;
    table.column(0)[0] = 7;
    table.column(2)[48000] = 3;
    EXPECT_EQ(table.levelAt(1000), 0); // nothing enabled
    table.enabled = {true, false, true};
    struct Case {
        double frequency;
        double level;
    } cases[] = {
        {1000, 1.25},
        {1000.25, 1.25}, // 2000.5 rounds to the even entry 2000
        {-5, 7},         // outside the table: its first entry
        {30000, 3},      // and its last
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(table.levelAt(c.frequency), c.level) << c.frequency;
}

TEST(CorrectionLookupTest, WorkingDirectoryFirstThenTheDataFolder)
{
    TestFolder work, data;
    const std::string name = "SoundCard.txt";
    // A flat curve whose level says where it was read from.
    auto write = [&](const std::string& path, const char* level) {
        std::ofstream(path, std::ios::trunc) << "1000," << level << "\n";
    };
    struct Case {
        const char* what;
        bool inWork, inData;
        std::string asked; // the name the load is given
        double level;      // 0: the load fails, naming `asked`
    } cases[] = {
        {"in both: the working directory wins", true, true, name, 1},
        {"in the working directory only", true, false, name, 1},
        {"in the data folder only", false, true, name, 2},
        {"nowhere", false, false, name, 0},
        {"an absolute path is never redirected", false, true, work.file(name), 0},
    };
    InFolder in(work.path());
    for (const Case& c : cases) {
        std::filesystem::remove(work.file(name));
        std::filesystem::remove(data.file(name));
        if (c.inWork)
            write(work.file(name), "1");
        if (c.inData)
            write(data.file(name), "2");
        CorrectionTable table;
        table.setDataFolder(data.path());
        const audimera::Status loaded = table.load(1, c.asked);
        if (c.level == 0) {
            ASSERT_FALSE(loaded.ok()) << c.what;
            EXPECT_EQ(loaded.message().rfind("Error loading calibration file '" + c.asked + "' : ", 0), 0u)
                << c.what << ": " << loaded.message();
        } else {
            ASSERT_TRUE(loaded.ok()) << c.what << ": " << loaded.message();
            EXPECT_EQ(table.column(1)[2000], c.level) << c.what;
        }
    }
}

TEST(CorrectionLookupTest, AnythingOfThatNameInTheWorkingDirectoryIsOpenedAsItIs)
{
    // A folder of that name stands in the way: its own error is the answer,
    // not a curve from elsewhere.
    TestFolder work, data;
    std::filesystem::create_directory(work.file("SoundCard.txt"));
    std::ofstream(data.file("SoundCard.txt")) << "1000,2\n";
    InFolder in(work.path());
    EXPECT_EQ(DataFolder::locate("SoundCard.txt", data.path()), "SoundCard.txt");
    EXPECT_EQ(DataFolder::locate("", data.path()), "");
    EXPECT_EQ(DataFolder::locate("other.txt", ""), "other.txt");
}

TEST(CorrectionLookupTest, TheBuildTreeShipsBothCurvesWhereTheInstalledLayoutHasThem)
{
    // Tests run from build/bin like the programs; the data folder beside it
    // holds the two fixed files, so the default table finds them anywhere.
    const std::string folder = DataFolder::installed();
    EXPECT_EQ(std::filesystem::path(folder).filename(), "audimera") << folder;
    TestFolder elsewhere;
    InFolder in(elsewhere.path());
    for (const char* name : {CorrectionTable::SplCurveFile, CorrectionTable::SoundCardFile}) {
        CorrectionTable table;
        EXPECT_EQ(table.dataFolder(), folder);
        const audimera::Status loaded = table.load(0, name);
        EXPECT_TRUE(loaded.ok()) << name << ": " << loaded.message();
    }
}

} // namespace

} // namespace audimera
