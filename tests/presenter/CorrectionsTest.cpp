#include "tests/engine/EngineFixture.h"
#include "tests/support/TestFolder.h"

#include <filesystem>
#include <fstream>

namespace audimera {

namespace {

class CorrectionsTest : public ::testing::Test {
protected:
    EngineRig<SilentSoundDevice> rig;
    MainPresenter& e = *rig.engine;
    CorrectionTable& table = rig.document.corrections();
    std::string file(const char* name, const char* text)
    {
        const std::string path = testFile(name);
        std::ofstream(path, std::ios::trunc) << text;
        return path;
    }
};

TEST_F(CorrectionsTest, BoxesSwitchTheirCurveOnAndOff)
{
    rig.panel["txtUserCalibFile"].text = file("user-calib.txt", "1000,2\n");
    rig.panel["CheckUserCalib"].value = 1;
    e.CheckUserCalib_Click();
    EXPECT_TRUE(table.enabled[2]);
    EXPECT_NEAR(table.levelAt(440), 2, 1e-12);

    rig.panel["CheckUserCalib"].value = 0;
    e.CheckUserCalib_Click();
    EXPECT_FALSE(table.enabled[2]);
    EXPECT_NEAR(table.levelAt(440), 0, 1e-12);
    EXPECT_TRUE(rig.host.messages.empty());
}

TEST_F(CorrectionsTest, AFailedLoadSwitchesTheBoxOff)
{
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(TestFolder::current().path());
    std::filesystem::remove("SoundCard.txt");
    rig.document.corrections().setDataFolder(""); // nothing shipped to fall back on
    rig.panel["CheckSoundCard"].value = 1;
    e.CheckSoundCard_Click();
    EXPECT_EQ(rig.panel["CheckSoundCard"].value, 0);
    EXPECT_FALSE(table.enabled[1]);
    ASSERT_EQ(rig.host.messages.size(), 1u);
    EXPECT_EQ(rig.host.messages[0].text,
              "Error loading calibration file 'SoundCard.txt' : No such file or directory");
    EXPECT_EQ(rig.host.messages[0].icon, MessageIcon::Critical);

    // Read by its relative name from the working directory.
    file("SoundCard.txt", "20,1\n20000,1\n");
    rig.panel["CheckSoundCard"].value = 1;
    e.CheckSoundCard_Click();
    EXPECT_TRUE(table.enabled[1]);
    std::filesystem::current_path(cwd);

    rig.panel["txtUserCalibFile"].text = file("empty-calib.txt", "");
    rig.panel["CheckUserCalib"].value = 1;
    e.CheckUserCalib_Click();
    EXPECT_EQ(rig.panel["CheckUserCalib"].value, 0);
    EXPECT_EQ(rig.host.messages.back().text, "Bad calibration file, no points were found !");
}

TEST_F(CorrectionsTest, TwoActiveCurvesAddUp)
{
    rig.panel["txtUserCalibFile"].text = file("user-a.txt", "100,0\n200,6\n");
    rig.panel["CheckUserCalib"].value = 1;
    e.CheckUserCalib_Click();
    ASSERT_TRUE(e.LoadCalibFile(file("spl.txt", "1000,1.5\n"), 0));
    table.enabled[0] = true;
    EXPECT_NEAR(table.levelAt(150), 4.5, 1e-12);
}

} // namespace

} // namespace audimera
