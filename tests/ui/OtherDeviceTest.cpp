// "Other Device..." in each device menu: the list of every device with its
// rate and monitor, and the one chosen used like a menu entry.
#include "tests/ui/MainWindowFixture.h"

#include "ui/DeviceDialog.h"

#include <QTreeWidget>

namespace audimera {

namespace {

class OtherDevice : public MainWindowTest {};

TEST_F(OtherDevice, ListsEveryDeviceWithRateAndMonitorAndOpensTheOneChosen)
{
    std::vector<SoundDeviceInfo> play, record;
    for (int i = 0; i < 6; ++i) {
        play.push_back({"sink" + std::to_string(i), "Out " + std::to_string(i), {}, 44100});
        record.push_back({"source" + std::to_string(i), "In " + std::to_string(i), i == 5 ? "Out 5" : "", 48000});
    }
    start(std::make_unique<LoggingSoundCard>(play, record));
    const struct {
        const char* entry;
        const char* menuArray;
        int (SoundDevice::*inUse)() const;
        QStringList lastRow;
    } kinds[] = {
        {"MenuEntryOtherOutDevice", "MenuEntryOutDevice", &SoundDevice::outputDevice,
         {"Out 5", "44100 Hz", "", "sink5"}},
        {"MenuEntryOtherInDevice", "MenuEntryInDevice", &SoundDevice::inputDevice,
         {"In 5", "48000 Hz", "Monitor of Out 5", "source5"}},
    };
    for (const auto& k : kinds) {
        QStringList lastRow;
        int rows = 0;
        QTimer pick;
        QObject::connect(&pick, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<DeviceDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            auto* list = dialog->findChild<QTreeWidget*>(QStringLiteral("ListDevices"));
            rows = list->topLevelItemCount();
            QTreeWidgetItem* last = list->topLevelItem(rows - 1);
            for (int c = 0; c < list->columnCount(); ++c)
                lastRow << last->text(c);
            list->setCurrentItem(last);
            dialog->accept();
        });
        pick.start(5);
        trigger(k.entry);
        EXPECT_EQ(rows, 6) << k.entry;
        EXPECT_EQ(lastRow, k.lastRow) << k.entry;
        EXPECT_EQ(((*card).*k.inUse)(), 5) << k.entry;
        // No entry of the four is ticked; "Other Device..." is.
        for (int i = 0; i < frmMain::DeviceEntries; ++i)
            EXPECT_FALSE(action(controlName(k.menuArray, i))->isChecked()) << k.entry << i;
        EXPECT_TRUE(action(k.entry)->isChecked());
        // An entry of the four takes over again.
        trigger(controlName(k.menuArray, 1));
        EXPECT_EQ(((*card).*k.inUse)(), 1);
        EXPECT_FALSE(action(k.entry)->isChecked());
    }
    EXPECT_TRUE(messages.empty());
}

} // namespace

} // namespace audimera
