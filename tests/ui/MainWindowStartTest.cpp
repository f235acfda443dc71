// Start-up of the main window: the controls as the user first sees them,
// the menus, the windows opened, and the starts that must fail (no sound
// device, no Audidsp) leaving no window behind.
#include "MainWindowFixture.h"

#include "DspLibrary.h"
#include "PulseSoundDevice.h"

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
    EXPECT_EQ(window->engine().Smooth, 2);
    EXPECT_EQ(window->engine().GenIndex, 0);
    for (bool enabled : window->engine().CalibEnable)
        EXPECT_FALSE(enabled);
    EXPECT_EQ(window->engine().Calib, 0);
    EXPECT_EQ(window->engine().Noise, 0);
    EXPECT_EQ(window->statusLine()->text().toStdString(), "");
}

TEST_F(MainWindowStartUp, TheListsCarryTheirItemData)
{
    start();
    const std::vector<std::pair<const char*, int>> range = {
        {"+/- 6 dB", 12}, {"+/- 12 dB", 24}, {"+/- 24 dB", 48}, {"+/- 48 dB", 96}};
    const std::vector<std::pair<const char*, int>> smooth = {
        {"0 (none)", 1}, {"1 (sharp)", 2}, {"2 (light)", 3}, {"3 (strong)", 4}};
    ASSERT_EQ(combo("ComboDBRange")->count(), 4);
    ASSERT_EQ(combo("ComboSmooth")->count(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(combo("ComboDBRange")->itemText(i).toStdString(), range[size_t(i)].first);
        EXPECT_EQ(combo("ComboDBRange")->itemData(i).toInt(), range[size_t(i)].second);
        EXPECT_EQ(combo("ComboSmooth")->itemText(i).toStdString(), smooth[size_t(i)].first);
        EXPECT_EQ(combo("ComboSmooth")->itemData(i).toInt(), smooth[size_t(i)].second);
    }
}

TEST_F(MainWindowStartUp, EveryControlHasItsKindCaptionAndFirstState)
{
    start();
    struct Expect {
        const char* name;
        const char* kind;
        const char* caption; // text of a text box, caption otherwise
        int value;           // -1: not a valued control
        bool enabled;
    };
    const Expect controls[] = {
        {"cmdStart", "QPushButton", "Start Trace", -1, true},
        {"cmdStop", "QPushButton", "Stop", -1, false},
        {"cmdClearTraces", "QPushButton", "Clear Traces", -1, false},
        {"cmdCalibrate", "QPushButton", "Recenter 0dB", -1, false},
        {"OptionAutoSigGen(0)", "QRadioButton", "Range:", 1, true},
        {"OptionAutoSigGen(1)", "QRadioButton", "15 ISO Bands 25Hz - 16kHz", 0, true},
        {"OptionAutoSigGen(2)", "QRadioButton", "31 ISO Bands 20Hz - 20kHz", 0, true},
        {"OptionAutoSigGen(3)", "QRadioButton", "User file : ", 0, true},
        {"TextStart", "QLineEdit", "20", -1, true},
        {"Label1", "QLabel", "Hz to", -1, true},
        {"TextStop", "QLineEdit", "20000", -1, true},
        {"Label2", "QLabel", "Hz", -1, true},
        {"LabelStep", "QLabel", "Step: x1.26", -1, true},
        {"txtUserFreqFile", "QLineEdit", "UserFreq.txt", -1, true},
        {"cmdFreqBrowse", "QToolButton", "...", -1, true},
        {"OptionSigGen(0)", "QRadioButton", "Sine", 1, true},
        {"OptionSigGen(1)", "QRadioButton", "Square", 0, true},
        {"OptionSigGen(2)", "QRadioButton", "Triangle", 0, true},
        {"OptionSigGen(3)", "QRadioButton", "Pink Noise", 0, true},
        {"OptionSigGen(4)", "QRadioButton", "White Noise", 0, true},
        {"OptionSigGen(5)", "QRadioButton", "Silence", 0, true},
        {"TextFFT", "QLineEdit", "100", -1, true},
        {"Label5", "QLabel", "Hz", -1, true},
        {"CheckBy5", "QCheckBox", "x20", 0, true},
        {"cmdStartSignal", "QPushButton", "Play Signal", -1, true},
        {"Label3", "QLabel", "Level:", -1, true},
        {"LabelVol", "QLabel", "0.00 dB", -1, true},
        {"LabelLeft", "QLabel", "Left", -1, true},
        {"LabelCenter", "QLabel", "Center", -1, true},
        {"LabelRight", "QLabel", "Right", -1, true},
        {"LabelVolLeft", "QLabel", "0.00 dB", -1, true},
        {"LabelVolRight", "QLabel", "0.00 dB", -1, true},
        {"LblFreqtxt", "QLabel", "Frequency:", -1, true},
        {"LabelDBtxt", "QLabel", "Level:", -1, true},
        {"LabelSNRtxt", "QLabel", "Signal SNR:", -1, true},
        {"Label4", "QLabel", "Card SNR:", -1, true},
        {"CheckInput", "QCheckBox", "Show Input Waveform", 1, true},
        {"CheckFFT", "QCheckBox", "Show Signal FFT", 1, true},
        {"CheckBadInputWave", "QCheckBox", "Red/Skip measure if bad wave", 1, true},
        {"Label8", "QLabel", "dB Range:", -1, true},
        {"Label9", "QLabel", "Smooth level:", -1, true},
        {"CheckSPLCorrect", "QCheckBox", "Correct for 'C' SPL curve", 0, true},
        {"CheckSoundCard", "QCheckBox", "Correct Sound Card curve", 0, true},
        {"CheckUserCalib", "QCheckBox", "User Calibration file:", 0, true},
        {"txtUserCalibFile", "QLineEdit", "UserCalib.txt", -1, true},
        {"cmdCalibBrowse", "QToolButton", "...", -1, true},
        {"CheckResponse", "QCheckBox", "Show Frequency Response", 1, true},
        {"Frame1", "QGroupBox", "Response Signal Generator", -1, true},
        {"Frame4", "QGroupBox", "Simple Signal Generator", -1, true},
        {"Frame3", "QGroupBox", "Measure", -1, true},
        {"Frame2", "QGroupBox", "Input Response", -1, true},
    };
    Panel& panel = window->panel();
    for (const Expect& c : controls) {
        SCOPED_TRACE(c.name);
        QObject* o = find(c.name);
        ASSERT_NE(o, nullptr);
        EXPECT_STREQ(o->metaObject()->className(), c.kind);
        const std::string shown = qobject_cast<QLineEdit*>(o) ? panel.text(c.name) : panel.caption(c.name);
        EXPECT_EQ(shown, c.caption);
        if (c.value >= 0) {
            EXPECT_EQ(panel.value(c.name), c.value);
        }
        EXPECT_EQ(panel.enabled(c.name), c.enabled);
    }
    EXPECT_EQ(labelText("LabelStep"), "Step: x" + panel.formatNumber(1.26));
}

TEST_F(MainWindowStartUp, TheFramesHoldTheirControlsAndTheResponseBoxStandsOutside)
{
    start();
    const std::map<std::string, std::vector<const char*>> frames = {
        {"Frame1", {"cmdStart", "cmdStop", "cmdClearTraces", "cmdCalibrate", "OptionAutoSigGen(3)", "TextStart",
                    "HScrollStep", "LabelStep", "txtUserFreqFile", "cmdFreqBrowse"}},
        {"Frame4", {"OptionSigGen(5)", "TextFFT", "HScrollFFT", "HScrollFine", "CheckBy5", "cmdStartSignal",
                    "HScrollVolume", "HScrollPan", "LabelVolLeft", "LabelCenter"}},
        {"Frame3", {"LabelFreq", "LabelDB", "LabelSNR", "LabelCardSNR", "LabelSNRtxt"}},
        {"Frame2", {"CheckInput", "CheckFFT", "CheckBadInputWave", "ComboDBRange", "ComboSmooth",
                    "CheckSPLCorrect", "CheckSoundCard", "CheckUserCalib", "txtUserCalibFile", "cmdCalibBrowse"}},
    };
    for (const auto& [frame, members] : frames) {
        auto* box = find<QGroupBox>(frame);
        ASSERT_NE(box, nullptr) << frame;
        for (const char* member : members)
            EXPECT_NE(box->findChild<QWidget*>(QString::fromLatin1(member)), nullptr) << frame << " " << member;
    }
    for (const auto& [frame, members] : frames)
        EXPECT_EQ(find<QGroupBox>(frame)->findChild<QWidget*>(QStringLiteral("CheckResponse")), nullptr);
}

TEST_F(MainWindowStartUp, ScrollBarsAreHorizontalWithTheirRangesAndPositions)
{
    start();
    struct Bar {
        const char* name;
        int minimum, maximum, value;
    };
    for (const Bar& b : {Bar{"HScrollStep", 101, 200, 126}, Bar{"HScrollFFT", 10, 9000, 1000},
                         Bar{"HScrollFine", 0, 10000, 0}, Bar{"HScrollVolume", 0, 1000, 1000},
                         Bar{"HScrollPan", -1000, 1000, 0}}) {
        SCOPED_TRACE(b.name);
        QScrollBar* bar = scroll(b.name);
        ASSERT_NE(bar, nullptr);
        EXPECT_EQ(bar->orientation(), Qt::Horizontal);
        EXPECT_EQ(bar->minimum(), b.minimum);
        EXPECT_EQ(bar->maximum(), b.maximum);
        EXPECT_EQ(bar->value(), b.value);
    }
}

TEST_F(MainWindowStartUp, ToolTipsAreThoseOfTheControlTable)
{
    start();
    const std::vector<std::pair<const char*, const char*>> tips = {
        {"CheckInput", "Show/Hide the recorded waveform window"},
        {"CheckFFT", "Show/Hide the Fast Fourrier Transform of input signal"},
        {"CheckBadInputWave", "Verify that input wave form is well formed, in some cases a bug into DirectSound "
                              "causes input wave to be strange"},
        {"ComboSmooth", "Change the frequency response curve smothing"},
        {"LabelDBtxt", "Input level in dB, note this is not dBA, but signal dB"},
        {"LabelSNRtxt", "This is the Signal to Noise ratio of the recorded signal, this ratio is based on the "
                        "first calibration silence."},
        {"CheckResponse", "Show/Hide the frequency response window"},
    };
    for (const auto& [name, tip] : tips)
        EXPECT_EQ(find<QWidget>(name)->toolTip().toStdString(), tip) << name;
}

TEST_F(MainWindowStartUp, OptionArraysAreSeparateGroups)
{
    start();
    button("OptionSigGen(3)")->click();
    EXPECT_TRUE(button("OptionSigGen(3)")->isChecked());
    EXPECT_FALSE(button("OptionSigGen(0)")->isChecked());
    // The plan array is untouched by the signal array.
    EXPECT_TRUE(button("OptionAutoSigGen(0)")->isChecked());
    EXPECT_EQ(window->engine().GenIndex, 3);

    button("OptionAutoSigGen(2)")->click();
    EXPECT_TRUE(button("OptionAutoSigGen(2)")->isChecked());
    EXPECT_FALSE(button("OptionAutoSigGen(0)")->isChecked());
    EXPECT_TRUE(button("OptionSigGen(3)")->isChecked());
    EXPECT_EQ(window->engine().GenIndex, 2);
}

TEST_F(MainWindowStartUp, MenusHoldTheirEntriesInOrder)
{
    start();
    struct Menu {
        const char* name;
        const char* title;
        std::vector<std::pair<const char*, const char*>> entries; // objectName, caption ("" separator)
    };
    const Menu menus[] = {
        {"FileMenu", "&File",
         {{"MenuEntryLoadTrace", "&Load Trace"}, {"MenuEntrySave", "&Save Last Trace"}, {"sepfile", ""},
          {"MenuEntryExit", "&Exit"}}},
        {"SettingsMenu", "&Settings", {{"", "&Play Device"}, {"", "&Record Device"}}},
        {"HelpMenu", "&?", {{"MenuEntryHelp", "&Help"}, {"sephelp", ""}, {"MenuEntryAbout", "&About"}}},
    };
    const QList<QAction*> bar = window->menuBar()->actions();
    ASSERT_EQ(bar.size(), 3);
    for (int m = 0; m < 3; ++m) {
        const Menu& expected = menus[m];
        QMenu* menu = bar[m]->menu();
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(menu->objectName().toStdString(), expected.name);
        EXPECT_EQ(menu->title().toStdString(), expected.title);
        const QList<QAction*> entries = menu->actions();
        ASSERT_EQ(entries.size(), qsizetype(expected.entries.size())) << expected.name;
        for (size_t i = 0; i < expected.entries.size(); ++i) {
            const auto& [objectName, caption] = expected.entries[i];
            EXPECT_EQ(entries[qsizetype(i)]->text().toStdString(), caption);
            EXPECT_EQ(entries[qsizetype(i)]->isSeparator(), std::string(caption).empty());
            if (*objectName) {
                EXPECT_EQ(entries[qsizetype(i)]->objectName().toStdString(), objectName);
            }
        }
    }
    EXPECT_EQ(find<QMenu>("MenuOutDevice")->title().toStdString(), "&Play Device");
    EXPECT_EQ(find<QMenu>("MenuInDevice")->title().toStdString(), "&Record Device");
    EXPECT_EQ(find<QMenu>("MenuOutDevice")->actions().size(), 4);
    EXPECT_EQ(find<QMenu>("MenuInDevice")->actions().size(), 4);
    // Only the buttons of the table start disabled.
    EXPECT_TRUE(action("MenuEntrySave")->isEnabled());
    EXPECT_TRUE(action("MenuEntryLoadTrace")->isEnabled());
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
    EXPECT_NE(aboutText.find(AUDIMERA_VERSION), std::string::npos) << aboutText;
    EXPECT_NE(aboutTitle.find("Audimera"), std::string::npos);
}

} // namespace
