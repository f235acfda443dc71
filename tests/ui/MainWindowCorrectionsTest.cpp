// The correction boxes of a program started outside its data folder, as from
// a desktop menu: the shipped curves still load.
#include "tests/ui/MainWindowFixture.h"
#include "tests/support/TestFolder.h"

#include <filesystem>
#include <utility>

namespace audimera {

namespace {

TEST_F(MainWindowTest, ShippedCurvesLoadWhenStartedFromAFolderWithoutThem)
{
    TestFolder home;
    const std::filesystem::path old = std::filesystem::current_path();
    std::filesystem::current_path(home.path());
    start();
    for (const auto& [box, column] : {std::pair{"CheckSPLCorrect", 0}, std::pair{"CheckSoundCard", 1}}) {
        click(box);
        EXPECT_TRUE(window->document().corrections().enabled[column]) << box;
        EXPECT_EQ(window->panel().value(box), 1) << box;
    }
    std::filesystem::current_path(old);
    EXPECT_TRUE(messages.empty()) << messages.front().text;
}

} // namespace

} // namespace audimera
