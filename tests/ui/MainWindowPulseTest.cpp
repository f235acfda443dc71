// Start-up of the main window on the real sound device: no server at all,
// and the private test server that ./test starts (skipped without it).
#include "MainWindowFixture.h"

#include "PulseSoundDevice.h"

#include <cstdlib>

namespace {

class MainWindowPulse : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (window && !window->isShutDown())
            window->Form_Unload();
        window.reset();
    }

    void create(const std::string& server)
    {
        sound = std::make_unique<PulseSoundDevice>(server);
        window = std::make_unique<frmMain>(*sound, dialog);
        window->host().setPresenter([this](std::string_view text, MessageIcon icon, MessageButtons) {
            messages.push_back(ShownMessage{std::string(text), icon, MessageButtons::Ok});
            return MessageAnswer::Ok;
        });
    }

    ScriptedFileDialog dialog;
    std::unique_ptr<PulseSoundDevice> sound;
    std::unique_ptr<frmMain> window;
    std::vector<ShownMessage> messages;
};

TEST_F(MainWindowPulse, NoSoundServerIsTheSoundCardMessageAndNoWindow)
{
    create("unix:/nonexistent-audimera-folder/native");
    const frmMain::StartResult result = window->startUp();
    EXPECT_FALSE(result.ok);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(PulseSoundDevice::isFatal(messages[0].text)) << messages[0].text;
    EXPECT_EQ(messages[0].icon, MessageIcon::Critical);
    for (QWidget* w : QApplication::topLevelWidgets())
        EXPECT_FALSE(w->isVisible()) << w->objectName().toStdString();
}

TEST_F(MainWindowPulse, TheServersDevicesFillTheMenusAndEntryZeroIsOpen)
{
    const char* server = std::getenv("AUDIMERA_TEST_PULSE_SERVER");
    if (!server || !*server)
        GTEST_SKIP() << "AUDIMERA_TEST_PULSE_SERVER is not set (./test starts a private server)";
    create(server);
    const frmMain::StartResult result = window->startUp();
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(sound->outputDevice(), 0);
    EXPECT_EQ(sound->inputDevice(), 0);
    const std::vector<SoundDeviceInfo> play = sound->playDevices();
    ASSERT_FALSE(play.empty());
    auto* entry = window->findChild<QAction*>(QStringLiteral("MenuEntryOutDevice(0)"));
    EXPECT_EQ(QtPanel::fromMnemonicText(entry->text()).toStdString(), play[0].description);
    EXPECT_TRUE(entry->isChecked());
    const std::vector<SoundDeviceInfo> record = sound->recordDevices();
    for (int i = 0; i < frmMain::DeviceEntries; ++i)
        EXPECT_EQ(window->findChild<QAction*>(QString::fromStdString(controlName("MenuEntryInDevice", i)))->isVisible(),
                  i < int(record.size()));

    window->MenuEntryExit_Click();
    EXPECT_TRUE(window->isShutDown());
    EXPECT_EQ(sound->outputDevice(), -1);
    EXPECT_EQ(sound->inputDevice(), -1);
}

} // namespace
