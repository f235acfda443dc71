// The main window on the real sound device: start-up with no server at all
// and with the private test server that ./test starts (skipped without it);
// menus that follow the server's devices, and a server that never answers,
// on servers of the tests' own.
#include "tests/ui/MainWindowFixture.h"

#include "tests/sound/PulseTestSupport.h"
#include "devices/PulseSoundDevice.h"

#include <QThread>

#include <chrono>
#include <csignal>
#include <cstdlib>

namespace audimera {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

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

    QAction* entry(const char* array, int index) const
    {
        return window->findChild<QAction*>(QString::fromStdString(controlName(array, index)));
    }
    // The captions of the entries shown in a device menu.
    std::vector<std::string> captions(const char* array) const
    {
        std::vector<std::string> shown;
        for (int i = 0; i < frmMain::DeviceEntries; ++i)
            if (entry(array, i)->isVisible())
                shown.push_back(QtPanel::fromMnemonicText(entry(array, i)->text()).toStdString());
        return shown;
    }
    std::vector<int> ticked(const char* array) const
    {
        std::vector<int> on;
        for (int i = 0; i < frmMain::DeviceEntries; ++i)
            if (entry(array, i)->isChecked())
                on.push_back(i);
        return on;
    }
    // Processes the window's events until condition holds (at most 5 s).
    static bool waitFor(const std::function<bool()>& condition)
    {
        const auto start = Clock::now();
        while (!condition()) {
            if (secondsSince(start) > 5)
                return false;
            QCoreApplication::processEvents();
            QThread::msleep(5);
        }
        return true;
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
    EXPECT_EQ(messages[0].text.rfind(SoundDevice::NoSoundCardMessage, 0), 0u) << messages[0].text;
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

TEST_F(MainWindowPulse, TheMenusFollowTheServersDevicesAndTheTickTheDevicesInUse)
{
    REQUIRE_PULSE_SERVER();
    using namespace pulsetest;
    PrivateServer server;
    ASSERT_EQ(server.start(), "");
    // Only the devices of this test, the first of them the defaults.
    ASSERT_EQ(pactl(server.address(), "unload-module module-null-sink").status, 0);
    PrivateSink first(server.address(), "first");
    ASSERT_EQ(pactl(server.address(), "set-default-sink " + first.name()).status, 0);
    ASSERT_EQ(pactl(server.address(), "set-default-source " + first.monitor()).status, 0);
    const std::string firstMonitor = "Monitor of " + first.description();

    create(server.address());
    ASSERT_TRUE(window->startUp().ok);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(captions("MenuEntryOutDevice"), std::vector<std::string>{first.description()});
    EXPECT_EQ(captions("MenuEntryInDevice"), std::vector<std::string>{firstMonitor});
    EXPECT_EQ(ticked("MenuEntryInDevice"), std::vector<int>{0});
    EXPECT_EQ(window->recordNote()->text().toStdString(), frmMain::monitorNote(first.description()));

    // A second sink and a real input come: the input before the monitors.
    PrivateSink second(server.address(), "second");
    ASSERT_EQ(pactl(server.address(), "load-module module-null-source source_name=audimera_mic description=Mic").status,
              0);
    const std::string secondMonitor = "Monitor of " + second.description();
    EXPECT_TRUE(waitFor([&] { return captions("MenuEntryInDevice").size() == 3; }));
    EXPECT_EQ(captions("MenuEntryOutDevice"), (std::vector<std::string>{first.description(), second.description()}));
    EXPECT_EQ(captions("MenuEntryInDevice"), (std::vector<std::string>{firstMonitor, "Mic", secondMonitor}));
    EXPECT_EQ(ticked("MenuEntryOutDevice"), std::vector<int>{0});
    EXPECT_EQ(ticked("MenuEntryInDevice"), std::vector<int>{0});

    // A new default takes entry 0; the tick moves with the device in use.
    ASSERT_EQ(pactl(server.address(), "set-default-source audimera_mic").status, 0);
    EXPECT_TRUE(waitFor([&] { return captions("MenuEntryInDevice")[0] == "Mic"; }));
    EXPECT_EQ(captions("MenuEntryInDevice"), (std::vector<std::string>{"Mic", firstMonitor, secondMonitor}));
    EXPECT_EQ(ticked("MenuEntryInDevice"), std::vector<int>{1});
    EXPECT_EQ(window->recordNote()->text().toStdString(), frmMain::monitorNote(first.description()));
    entry("MenuEntryInDevice", 0)->trigger();
    EXPECT_EQ(window->recordNote()->text().toStdString(), "");

    // The devices in use vanish: reported as failed opens, nothing ticked.
    entry("MenuEntryOutDevice", 1)->trigger();
    entry("MenuEntryInDevice", 2)->trigger();
    ASSERT_TRUE(messages.empty()) << messages[0].text;
    EXPECT_EQ(ticked("MenuEntryOutDevice"), std::vector<int>{1});
    EXPECT_EQ(window->recordNote()->text().toStdString(), frmMain::monitorNote(second.description()));
    second.unload();
    EXPECT_TRUE(waitFor([&] { return messages.size() == 2; }));
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text, "Error opening output device '" + second.description()
                                    + "' or no real time frequency support, try another device in settings menu\n"
                                    + PulseSoundDevice::GoneError);
    EXPECT_EQ(messages[1].text, "Error opening input device '" + secondMonitor
                                    + "', try another device in settings menu\n" + PulseSoundDevice::GoneError);
    EXPECT_EQ(messages[1].icon, MessageIcon::Critical);
    EXPECT_EQ(captions("MenuEntryOutDevice"), std::vector<std::string>{first.description()});
    EXPECT_EQ(captions("MenuEntryInDevice"), (std::vector<std::string>{"Mic", firstMonitor}));
    EXPECT_TRUE(ticked("MenuEntryOutDevice").empty());
    EXPECT_TRUE(ticked("MenuEntryInDevice").empty());
    EXPECT_EQ(window->recordNote()->text().toStdString(), "");
}

TEST_F(MainWindowPulse, TheWindowStaysResponsiveWhileAFrozenServerIsAwaited)
{
    REQUIRE_PULSE_SERVER();
    pulsetest::PrivateServer server;
    ASSERT_EQ(server.start(), "");
    create(server.address());
    ASSERT_TRUE(window->startUp().ok);
    ASSERT_TRUE(window->responseWindow().isVisible());

    // Events while the play device is opened on a server that never answers:
    // a timer, a check box, and commands that need the device.
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (++ticks != 20)
            return;
        window->findChild<QAbstractButton*>(QStringLiteral("CheckResponse"))->click();
        entry("MenuEntryInDevice", 0)->trigger();
        window->findChild<QAbstractButton*>(QStringLiteral("cmdStart"))->click();
        window->findChild<QAbstractButton*>(QStringLiteral("cmdStartSignal"))->click();
    });
    timer.start(10);
    server.signal(SIGSTOP);
    const auto start = Clock::now();
    entry("MenuEntryOutDevice", 0)->trigger();
    const double waited = secondsSince(start);
    server.signal(SIGCONT);

    EXPECT_LT(waited, 6.0);
    EXPECT_GT(ticks, 50);
    EXPECT_FALSE(window->responseWindow().isVisible());
    // Nothing that needs the device ran meanwhile.
    EXPECT_FALSE(window->session().sweeping());
    EXPECT_FALSE(window->session().playing());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text.rfind("Error opening output device '", 0), 0u) << messages[0].text;
    // The previous devices stay in use and ticked.
    EXPECT_EQ(sound->outputDevice(), 0);
    EXPECT_EQ(ticked("MenuEntryOutDevice"), std::vector<int>{0});
    EXPECT_EQ(ticked("MenuEntryInDevice"), std::vector<int>{0});
}

TEST_F(MainWindowPulse, AServerFrozenAtStartUpIsTheSoundCardMessageWithinTheTimeout)
{
    REQUIRE_PULSE_SERVER();
    pulsetest::PrivateServer server;
    ASSERT_EQ(server.start(), "");
    server.signal(SIGSTOP);
    create(server.address());
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(10);
    const auto start = Clock::now();
    const frmMain::StartResult result = window->startUp();
    EXPECT_LT(secondsSince(start), 6.0);
    server.signal(SIGCONT);
    EXPECT_FALSE(result.ok);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text.rfind(SoundDevice::NoSoundCardMessage, 0), 0u) << messages[0].text;
    EXPECT_GT(ticks, 50);
}

} // namespace audimera
