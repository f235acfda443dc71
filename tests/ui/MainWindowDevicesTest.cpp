// The level and balance bars and the Settings menu: label texts and colours,
// what reaches the device, the device entries, switching devices, and user
// actions versus the engine's own changes.
#include "tests/ui/MainWindowFixture.h"

#include <QMenu>

namespace audimera {

namespace {

constexpr uint32_t Blue = 255u * 65536u;
constexpr uint32_t Black = 0;

std::vector<SoundDeviceInfo> devices(const char* prefix, int count)
{
    std::vector<SoundDeviceInfo> list;
    for (int i = 1; i <= count; ++i)
        list.push_back({std::string(prefix) + std::to_string(i), std::string(prefix) + " device " + std::to_string(i)});
    return list;
}

class MainWindowDevices : public MainWindowTest {
protected:
    uint32_t foreColor(const char* name) const
    {
        const QColor c = label(name)->palette().color(QPalette::WindowText);
        return uint32_t(c.red()) + 256u * uint32_t(c.green()) + 65536u * uint32_t(c.blue());
    }
    std::vector<uint32_t> marks() const
    {
        return {foreColor("LabelLeft"), foreColor("LabelCenter"), foreColor("LabelRight")};
    }
    // The entries of a device menu that are ticked.
    std::vector<int> ticked(const char* array) const
    {
        std::vector<int> on;
        for (int i = 0; i < frmMain::DeviceEntries; ++i)
            if (action(controlName(array, i))->isChecked())
                on.push_back(i);
        return on;
    }
    // The user moves a bar (a click on it or a key: the value changes).
    void moveBar(const char* name, int value) { scroll(name)->setValue(value); }
};

TEST_F(MainWindowDevices, TheLevelBarShowsTheAttenuationAndSetsTheDevice)
{
    start();
    moveBar("HScrollVolume", 0);
    EXPECT_EQ(labelText("LabelVol"), "-100.00 dB");
    EXPECT_EQ(card->volume(), -10000);
    moveBar("HScrollVolume", 500);
    EXPECT_EQ(labelText("LabelVol"), "-6.02 dB");
    EXPECT_EQ(card->volume(), -602);
    moveBar("HScrollVolume", 1000);
    EXPECT_EQ(labelText("LabelVol"), "0.00 dB");
    EXPECT_EQ(card->volume(), 0);
}

TEST_F(MainWindowDevices, TheBalanceBarShowsSideAttenuationsAndMarksItsPosition)
{
    start();
    EXPECT_EQ(marks(), (std::vector<uint32_t>{Black, Blue, Black}));

    moveBar("HScrollPan", -1000);
    EXPECT_EQ(labelText("LabelVolRight"), "Mute");
    EXPECT_EQ(labelText("LabelVolLeft"), "0.00 dB");
    EXPECT_EQ(marks(), (std::vector<uint32_t>{Blue, Black, Black}));
    EXPECT_EQ(card->pan(), -10000);

    moveBar("HScrollPan", 500);
    EXPECT_EQ(labelText("LabelVolLeft"), "-6.02 dB");
    EXPECT_EQ(labelText("LabelVolRight"), "0.00 dB");
    EXPECT_EQ(marks(), (std::vector<uint32_t>{Black, Black, Black}));
    EXPECT_EQ(card->pan(), 602);

    moveBar("HScrollPan", 999);
    EXPECT_EQ(labelText("LabelVolLeft"), "-60.00 dB");

    moveBar("HScrollPan", 1000);
    EXPECT_EQ(labelText("LabelVolLeft"), "Mute");
    EXPECT_EQ(marks(), (std::vector<uint32_t>{Black, Black, Blue}));

    moveBar("HScrollPan", 0);
    EXPECT_EQ(labelText("LabelVolLeft"), "0.00 dB");
    EXPECT_EQ(labelText("LabelVolRight"), "0.00 dB");
    EXPECT_EQ(marks(), (std::vector<uint32_t>{Black, Blue, Black}));
    EXPECT_EQ(card->pan(), 0);
}

TEST_F(MainWindowDevices, DraggingABarActsWhileTheThumbMoves)
{
    start();
    QScrollBar* bar = scroll("HScrollVolume");
    bar->setSliderDown(true);
    bar->setSliderPosition(500);
    // The scroll handler has seen the thumb's place before the drag ends.
    EXPECT_EQ(labelText("LabelVol"), "-6.02 dB");
    EXPECT_EQ(card->volume(), -602);
    bar->setSliderPosition(250);
    EXPECT_EQ(card->volume(), -1204);
    bar->setSliderDown(false);
    EXPECT_EQ(labelText("LabelVol"), "-12.04 dB");
    EXPECT_EQ(bar->value(), 250);
}

TEST_F(MainWindowDevices, TheGeneratorBarsSetTheFrequencyText)
{
    start();
    moveBar("HScrollFine", 5);
    EXPECT_EQ(edit("TextFFT")->text().toStdString(), window->panel().formatNumber(100.05));
    EXPECT_EQ(card->playRate(), 10005);
    click("CheckBy5");
    EXPECT_EQ(edit("TextFFT")->text().toStdString(), window->panel().formatNumber(2001.0));
}

TEST_F(MainWindowDevices, ChangesMadeThroughThePanelFireNoHandler)
{
    start();
    Panel& panel = window->panel();
    panel.setValue("HScrollVolume", 500);
    panel.setValue("HScrollPan", -1000);
    panel.setValue("HScrollFine", 10);
    panel.setValue("CheckSPLCorrect", 1);
    panel.setValue("OptionSigGen(2)", 1);
    panel.setValue("OptionAutoSigGen(3)", 1);
    EXPECT_EQ(labelText("LabelVol"), "0.00 dB");
    EXPECT_EQ(card->volume(), 0);
    EXPECT_EQ(card->pan(), 0);
    EXPECT_EQ(edit("TextFFT")->text().toStdString(), "100");
    EXPECT_FALSE(window->document().corrections().enabled[0]);
    EXPECT_EQ(window->session().choice(), 0);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(scroll("HScrollVolume")->value(), 500);
    EXPECT_TRUE(button("OptionSigGen(2)")->isChecked());
}

// ---------------------------------------------------------------- Settings menu

TEST_F(MainWindowDevices, TwoDevicesHideAndDisableTheLastTwoEntries)
{
    start(std::make_unique<LoggingSoundCard>(devices("out", 2), devices("in", 2)));
    for (const char* array : {"MenuEntryOutDevice", "MenuEntryInDevice"}) {
        for (int i = 0; i < frmMain::DeviceEntries; ++i) {
            QAction* entry = action(controlName(array, i));
            EXPECT_EQ(entry->isVisible(), i < 2) << array << i;
            EXPECT_EQ(entry->isEnabled(), i < 2) << array << i;
            EXPECT_TRUE(entry->isCheckable());
        }
        EXPECT_EQ(ticked(array), std::vector<int>{0});
    }
    EXPECT_EQ(action("MenuEntryOutDevice(0)")->text().toStdString(), "out device 1");
    EXPECT_EQ(action("MenuEntryOutDevice(1)")->text().toStdString(), "out device 2");
    EXPECT_EQ(action("MenuEntryInDevice(1)")->text().toStdString(), "in device 2");
}

TEST_F(MainWindowDevices, SixDevicesShowTheFirstFour)
{
    start(std::make_unique<LoggingSoundCard>(devices("out", 6), devices("in", 6)));
    for (int i = 0; i < frmMain::DeviceEntries; ++i) {
        QAction* entry = action(controlName("MenuEntryOutDevice", i));
        EXPECT_TRUE(entry->isVisible());
        EXPECT_TRUE(entry->isEnabled());
        EXPECT_EQ(entry->text().toStdString(), "out device " + std::to_string(i + 1));
        EXPECT_EQ(action(controlName("MenuEntryInDevice", i))->text().toStdString(),
                  "in device " + std::to_string(i + 1));
    }
    EXPECT_EQ(find<QMenu>("MenuOutDevice")->actions().size(), 6); // and a separator, "Other Device..."
}

TEST_F(MainWindowDevices, AnAmpersandInADescriptionIsShownNotTakenAsAMnemonic)
{
    start(std::make_unique<LoggingSoundCard>(
        std::vector<SoundDeviceInfo>{{"a", "Speakers & Headphones"}}, devices("in", 1)));
    EXPECT_EQ(action("MenuEntryOutDevice(0)")->text().toStdString(), "Speakers && Headphones");
}

TEST_F(MainWindowDevices, ChoosingAnEntryOpensItAndMovesTheTick)
{
    start(std::make_unique<LoggingSoundCard>(devices("out", 3), devices("in", 3)));
    trigger("MenuEntryOutDevice(2)");
    EXPECT_EQ(card->outputDevice(), 2);
    EXPECT_EQ(ticked("MenuEntryOutDevice"), std::vector<int>{2});
    EXPECT_EQ(ticked("MenuEntryInDevice"), std::vector<int>{0});
    trigger("MenuEntryInDevice(1)");
    EXPECT_EQ(card->inputDevice(), 1);
    EXPECT_EQ(ticked("MenuEntryInDevice"), std::vector<int>{1});
    // Choosing the ticked entry again keeps it ticked.
    trigger("MenuEntryInDevice(1)");
    EXPECT_EQ(ticked("MenuEntryInDevice"), std::vector<int>{1});
    EXPECT_TRUE(messages.empty());
}

TEST_F(MainWindowDevices, AFailedSwitchShowsTheReasonAndKeepsThePreviousDevice)
{
    start(std::make_unique<LoggingSoundCard>(devices("out", 3), devices("in", 3)));
    trigger("MenuEntryOutDevice(1)");
    const std::string reason = "Error opening output device 'out device 3' or no real time frequency support, try "
                               "another device in settings menu\nConnection refused";
    card->failNextOpen(reason);
    trigger("MenuEntryOutDevice(2)");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, reason);
    EXPECT_EQ(messages[0].icon, MessageIcon::Critical);
    EXPECT_EQ(card->outputDevice(), 1);
    EXPECT_EQ(ticked("MenuEntryOutDevice"), std::vector<int>{1});

    card->failNextOpen("Error opening input device 'in device 2', try another device in settings menu");
    trigger("MenuEntryInDevice(1)");
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(card->inputDevice(), 0);
    EXPECT_EQ(ticked("MenuEntryInDevice"), std::vector<int>{0});
}

TEST_F(MainWindowDevices, ANewPlayDeviceGetsTheLevelAndBalanceOfTheBars)
{
    start(std::make_unique<LoggingSoundCard>(devices("out", 2), devices("in", 1)));
    moveBar("HScrollVolume", 500);
    moveBar("HScrollPan", 500);
    ASSERT_EQ(card->volume(), -602);
    trigger("MenuEntryOutDevice(1)");
    EXPECT_EQ(card->outputDevice(), 1);
    EXPECT_EQ(card->volume(), -602);
    EXPECT_EQ(card->pan(), 602);
    EXPECT_EQ(labelText("LabelVol"), "-6.02 dB");
    EXPECT_EQ(labelText("LabelVolLeft"), "-6.02 dB");
}

} // namespace

namespace {

TEST_F(MainWindowDevices, TheStatusLineSaysWhenTheRecordDeviceIsAMonitor)
{
    std::vector<SoundDeviceInfo> record = devices("in", 1);
    record.push_back({"out1.monitor", "Monitor of out device 1", "out device 1"});
    start(std::make_unique<LoggingSoundCard>(devices("out", 1), record));
    EXPECT_EQ(window->recordNote()->text().toStdString(), "");
    trigger("MenuEntryInDevice(1)");
    EXPECT_EQ(window->recordNote()->text().toStdString(),
              "Recording the monitor of out device 1: a loopback of the program's own output");
    trigger("MenuEntryInDevice(0)");
    EXPECT_EQ(window->recordNote()->text().toStdString(), "");
}

TEST_F(MainWindowDevices, AtStartUpOnlyADeviceThatOpenedIsTicked)
{
    auto card = std::make_unique<LoggingSoundCard>(devices("out", 2), std::vector<SoundDeviceInfo>{
        {"out1.monitor", "Monitor of out device 1", "out device 1"}});
    card->failNextOpen("Error opening output device 'out device 1' or no real time frequency support, try another "
                       "device in settings menu");
    create(std::move(card));
    ASSERT_TRUE(window->startUp().ok);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(ticked("MenuEntryOutDevice").empty());
    EXPECT_EQ(ticked("MenuEntryInDevice"), std::vector<int>{0});
    // The monitor in use from the start is named at once.
    EXPECT_EQ(window->recordNote()->text().toStdString(), frmMain::monitorNote("out device 1"));
}

} // namespace

} // namespace audimera
