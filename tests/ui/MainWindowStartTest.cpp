// Start-up of the main window: the controls as the user first sees them,
// the menus, the windows opened, and the starts that must fail (no sound
// device, no Audidsp) leaving no window behind.
#include "tests/ui/MainWindowFixture.h"

#include "common/BuildInfo.h"
#include "ui/presenter/ControlTable.h"
#include "dsp/DspLibrary.h"
#include "ui/presenter/PanelTable.h"
#include "ui/TracesPanel.h"
#include "devices/PulseSoundDevice.h"

#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QToolButton>

#include <map>
#include <set>

namespace audimera {

namespace {

using MainWindowStartUp = MainWindowTest;

TEST_F(MainWindowStartUp, TheMeasureFrameReadsNotAvailableAndTheListsHoldTheirDefaults)
{
    start();
    for (const char* readout : {"LabelFreq", "LabelDB", "LabelSNR", "LabelCardSNR"})
        EXPECT_EQ(labelText(readout), "N/A") << readout;
    EXPECT_EQ(combo("ComboDBRange")->currentText().toStdString(), "+/- 24 dB");
    EXPECT_EQ(combo("ComboSmooth")->currentText().toStdString(), "1 (sharp)");
    // Smooth is set to 1 and then the selection's handler makes it 2.
    EXPECT_EQ(window->document().plot().smooth, 2);
    EXPECT_EQ(window->session().choice(), 0);
    for (bool enabled : window->document().corrections().enabled)
        EXPECT_FALSE(enabled);
    EXPECT_EQ(window->session().calibration(), 0);
    EXPECT_EQ(window->session().noise(), 0);
    EXPECT_EQ(window->statusLine()->text().toStdString(), "");
}

// The window as built, and the headless panel, against the control table:
// each control of its kind, with its first caption (or text), state, range,
// items, colour and tool tip, in its frame, or in its menu in table order;
// and the window names nothing the table does not list, nor anything twice.
TEST_F(MainWindowStartUp, EveryControlStartsAsTheControlTableSays)
{
    create();
    using enum ControlKind;
    const std::map<ControlKind, const char*> classOf = {
        {Frame, "QGroupBox"},  {Button, "QPushButton"},  {PictureButton, "QToolButton"}, {Option, "QRadioButton"},
        {TextBox, "QLineEdit"}, {Label, "QLabel"},        {ScrollBar, "QScrollBar"},      {CheckBox, "QCheckBox"},
        {List, "QComboBox"},    {Menu, "QMenu"},          {MenuEntry, "QAction"},         {MenuTick, "QAction"},
        {Separator, "QAction"}};
    Panel& panel = window->panel();
    const PanelTable headless;
    std::map<std::string, qsizetype> placed; // entries so far of each menu ("": the menu bar)
    auto container = [&](const std::string& menu) {
        return menu.empty() ? window->menuBar()->actions() : find<QMenu>(menu)->actions();
    };
    for (const ControlRow& row : ControlTable::rows()) {
        const std::string name(row.name);
        SCOPED_TRACE(name);
        QObject* o = find(name);
        ASSERT_NE(o, nullptr);
        EXPECT_STREQ(o->metaObject()->className(), classOf.at(row.kind));
        const bool isText = row.kind == TextBox;
        const PanelTable::Control& h = headless[name];
        EXPECT_EQ(isText ? h.text : h.caption, ControlTable::caption(row, headless));
        if (row.kind != List && row.kind != ScrollBar) {
            EXPECT_EQ(isText ? panel.text(name) : panel.caption(name), ControlTable::caption(row, panel));
        }
        EXPECT_EQ(panel.enabled(name), row.enabled);
        EXPECT_EQ(h.enabled, row.enabled);
        if (row.kind == Option || row.kind == ScrollBar || row.kind == CheckBox || row.kind == List ||
            row.kind == MenuTick) {
            EXPECT_EQ(panel.value(name), row.value);
        }
        EXPECT_EQ(h.value, row.value);
        EXPECT_EQ(h.foreColor, row.foreColor.value_or(0));

        if (auto* bar = qobject_cast<QScrollBar*>(o)) {
            EXPECT_EQ(bar->orientation(), Qt::Horizontal);
            EXPECT_EQ(bar->minimum(), row.minimum);
            EXPECT_EQ(bar->maximum(), row.maximum);
        }
        if (auto* list = qobject_cast<QComboBox*>(o)) {
            ASSERT_EQ(list->count(), qsizetype(row.items.size()));
            for (int i = 0; i < list->count(); ++i) {
                EXPECT_EQ(list->itemText(i).toStdString(), row.items[size_t(i)].text);
                EXPECT_EQ(list->itemData(i).toInt(), row.items[size_t(i)].data);
            }
        }
        if (auto* entry = qobject_cast<QAction*>(o)) {
            EXPECT_EQ(entry->isCheckable(), row.kind == MenuTick);
            EXPECT_EQ(entry->isSeparator(), row.kind == Separator);
        }

        auto* menu = qobject_cast<QMenu*>(o);
        if (QAction* entry = menu ? menu->menuAction() : qobject_cast<QAction*>(o)) {
            const std::string holder(row.parent);
            const QList<QAction*> entries = container(holder);
            const qsizetype at = placed[holder]++;
            ASSERT_LT(at, entries.size());
            EXPECT_EQ(entries[at], entry);
        } else {
            auto* widget = qobject_cast<QWidget*>(o);
            ASSERT_NE(widget, nullptr);
            EXPECT_EQ(widget->toolTip().toStdString(), row.toolTip);
            if (row.foreColor) {
                EXPECT_EQ(widget->palette().color(QPalette::WindowText), QtPanel::toColor(*row.foreColor));
            }
            QGroupBox* frame = nullptr;
            for (QWidget* p = widget->parentWidget(); p && !frame; p = p->parentWidget())
                frame = qobject_cast<QGroupBox*>(p);
            EXPECT_EQ(frame ? frame->objectName().toStdString() : std::string(), row.parent);
        }
    }
    for (const auto& [menu, count] : placed)
        EXPECT_EQ(container(menu).size(), count) << menu;
    // The reverse: every named widget and menu entry of the window, once,
    // is a control of the table (those in a frame listed in that frame),
    // but for the window's own status lines and the Traces panel.
    const std::set<std::string> own = {"CentralWidget", "StatusText", "RecordDeviceNote", "DeviceRateNote",
                                       "TracesPanel"};
    std::map<std::string, int> named;
    for (QObject* o : window->findChildren<QObject*>()) {
        const std::string name = o->objectName().toStdString();
        auto* widget = qobject_cast<QWidget*>(o);
        if ((!widget && !qobject_cast<QAction*>(o)) || name.empty() || name.starts_with("qt_") || own.contains(name) ||
            (widget && window->tracesPanel().isAncestorOf(widget)))
            continue;
        EXPECT_EQ(++named[name], 1) << name << " twice";
        const ControlRow* row = ControlTable::find(name);
        EXPECT_NE(row, nullptr) << name;
        QGroupBox* frame = nullptr;
        for (QWidget* p = widget ? widget->parentWidget() : nullptr; p && !frame; p = p->parentWidget())
            frame = qobject_cast<QGroupBox*>(p);
        if (row && frame) {
            EXPECT_EQ(row->parent, frame->objectName().toStdString()) << name;
        }
    }
    EXPECT_EQ(named.size(), ControlTable::rows().size());
}

TEST_F(MainWindowStartUp, OptionArraysAreSeparateGroups)
{
    start();
    button("OptionSigGen(3)")->click();
    EXPECT_TRUE(button("OptionSigGen(3)")->isChecked());
    EXPECT_FALSE(button("OptionSigGen(0)")->isChecked());
    // The plan array is untouched by the signal array.
    EXPECT_TRUE(button("OptionAutoSigGen(0)")->isChecked());
    EXPECT_EQ(window->session().choice(), 3);

    button("OptionAutoSigGen(2)")->click();
    EXPECT_TRUE(button("OptionAutoSigGen(2)")->isChecked());
    EXPECT_FALSE(button("OptionAutoSigGen(0)")->isChecked());
    EXPECT_TRUE(button("OptionSigGen(3)")->isChecked());
    EXPECT_EQ(window->session().choice(), 2);
}

TEST_F(MainWindowStartUp, TheThreeWindowsOpenAndHelpWaits)
{
    start();
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->inputWaveWindow().isVisible());
    EXPECT_TRUE(window->responseWindow().isVisible());
    EXPECT_TRUE(window->fftWindow().isVisible());
    EXPECT_FALSE(window->helpWindow().isVisible());
    EXPECT_EQ(window->windowTitle().toStdString(), "Audimera");
    // Each window is its own top-level window, not a child of the main one.
    EXPECT_TRUE(window->responseWindow().isWindow());
    EXPECT_EQ(window->responseWindow().parentWidget(), nullptr);
    // The devices of entry 0 are open.
    EXPECT_EQ(card->outputDevice(), 0);
    EXPECT_EQ(card->inputDevice(), 0);
    // The plot is drawn at the list's span (+/- 24 dB: 48 dB high).
    EXPECT_FLOAT_EQ(window->responseWindow().picture().ScaleHeight(), 4800.0f);
}

TEST_F(MainWindowStartUp, AStartWithNoSoundDeviceEndsWithTheMessageAndNoWindow)
{
    create(std::make_unique<LoggingSoundCard>(std::vector<SoundDeviceInfo>{}, std::vector<SoundDeviceInfo>{}));
    const frmMain::StartResult result = window->startUp();
    EXPECT_FALSE(result.ok);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text.rfind(PulseSoundDevice::NoSoundCardMessage, 0), 0u) << messages[0].text;
    EXPECT_EQ(messages[0].icon, MessageIcon::Critical);
    EXPECT_EQ(result.message, messages[0].text);
    EXPECT_TRUE(visibleWindows().empty());
    // Both menus were emptied on the way.
    EXPECT_FALSE(action("MenuEntryOutDevice(0)")->isVisible());
    EXPECT_FALSE(action("MenuEntryInDevice(0)")->isVisible());
}

TEST_F(MainWindowStartUp, PlayDevicesWithoutARecordDeviceAreNotEnough)
{
    create(std::make_unique<LoggingSoundCard>(std::vector<SoundDeviceInfo>{SimulatedSoundCard::defaultDevice()},
                                              std::vector<SoundDeviceInfo>{}));
    const frmMain::StartResult result = window->startUp();
    EXPECT_FALSE(result.ok);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text.rfind(PulseSoundDevice::NoSoundCardMessage, 0), 0u);
    EXPECT_NE(messages[0].text.find("No record device"), std::string::npos) << messages[0].text;
    EXPECT_TRUE(visibleWindows().empty());
    EXPECT_EQ(card->outputDevice(), -1);
}

TEST_F(MainWindowStartUp, AMissingDspLibraryIsNamedAndNothingStaysOpen)
{
    DspLibrary missing("libAudidspMissing.so", {"/nonexistent-folder"});
    create();
    window->setDspLibrary(missing);
    const frmMain::StartResult result = window->startUp();
    EXPECT_FALSE(result.ok);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].text.find("libAudidspMissing.so"), std::string::npos) << messages[0].text;
    EXPECT_EQ(messages[0].icon, MessageIcon::Critical);
    EXPECT_TRUE(visibleWindows().empty());
    // The devices opened before the check are closed again.
    EXPECT_EQ(card->outputDevice(), -1);
    EXPECT_EQ(card->inputDevice(), -1);
}

TEST_F(MainWindowStartUp, ALibraryWithoutTheNeededExportsIsRefused)
{
    // The stand-in library of the binder's tests: the right file name, one export.
    const std::string partial = DspLibrary::executableDir() + "/../tests/partial";
    if (!QDir(QString::fromStdString(partial)).exists(QStringLiteral(AUDIDSP_FILE_NAME)))
        GTEST_SKIP() << "no partial library at " << partial;
    DspLibrary lacking(AUDIDSP_FILE_NAME, {partial});
    create();
    window->setDspLibrary(lacking);
    const frmMain::StartResult result = window->startUp();
    EXPECT_FALSE(result.ok);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].text.find("has no export"), std::string::npos) << messages[0].text;
    EXPECT_TRUE(visibleWindows().empty());
}

TEST_F(MainWindowStartUp, AFailedOpenOfTheFirstDeviceIsShownAndTheProgramGoesOn)
{
    auto device = std::make_unique<LoggingSoundCard>();
    device->failNextOpen("Error opening output device 'Simulated sound card' or no real time frequency support, "
                         "try another device in settings menu");
    create(std::move(device));
    const frmMain::StartResult result = window->startUp();
    EXPECT_TRUE(result.ok);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].icon, MessageIcon::Critical);
    EXPECT_EQ(messages[0].text.rfind("Error opening output device 'Simulated sound card'", 0), 0u);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(card->outputDevice(), -1);
    EXPECT_EQ(card->inputDevice(), 0);
    // Ticked only where a device is in use.
    EXPECT_FALSE(action("MenuEntryOutDevice(0)")->isChecked());
    EXPECT_TRUE(action("MenuEntryInDevice(0)")->isChecked());
}

TEST_F(MainWindowStartUp, HelpOpensModelessAndAboutNamesTheProgram)
{
    start();
    trigger("MenuEntryHelp");
    EXPECT_TRUE(window->helpWindow().isVisible());
    EXPECT_FALSE(window->helpWindow().isModal());

    std::string aboutText, aboutTitle;
    QTimer::singleShot(0, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                aboutText = box->text().toStdString();
                aboutTitle = box->windowTitle().toStdString();
                box->accept();
            }
    });
    trigger("MenuEntryAbout");
    EXPECT_NE(aboutText.find("Audimera"), std::string::npos) << aboutText;
    EXPECT_NE(aboutText.find(BuildInfo::Version), std::string::npos) << aboutText;
    EXPECT_NE(aboutTitle.find("Audimera"), std::string::npos);
}

} // namespace

} // namespace audimera
