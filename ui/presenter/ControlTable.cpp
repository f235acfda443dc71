#include "ui/presenter/ControlTable.h"

#include "ui/presenter/ControlNames.h"
#include "ui/presenter/Panel.h"

namespace audimera {

namespace {

using enum ControlKind;

const ControlRow Rows[] = {
    {.name = names::Frame1, .kind = Frame, .caption = "Response Signal Generator"},
    {.name = names::cmdStart, .kind = Button, .parent = names::Frame1, .caption = "Start Trace"},
    {.name = names::cmdStop, .kind = Button, .parent = names::Frame1, .caption = "Stop", .enabled = false},
    {.name = names::cmdClearTraces, .kind = Button, .parent = names::Frame1, .caption = "Clear Traces",
     .enabled = false},
    {.name = names::cmdCalibrate, .kind = Button, .parent = names::Frame1, .caption = "Recenter 0dB", .enabled = false},
    {.name = names::member<names::OptionAutoSigGen, 0>, .kind = Option, .parent = names::Frame1, .caption = "Range:",
     .value = 1},
    {.name = names::TextStart, .kind = TextBox, .parent = names::Frame1, .caption = "20"},
    {.name = names::Label1, .kind = Label, .parent = names::Frame1, .caption = "Hz to"},
    {.name = names::TextStop, .kind = TextBox, .parent = names::Frame1, .caption = "20000"},
    {.name = names::Label2, .kind = Label, .parent = names::Frame1, .caption = "Hz"},
    {.name = names::HScrollStep, .kind = ScrollBar, .parent = names::Frame1, .value = 126, .minimum = 101,
     .maximum = 200},
    {.name = names::LabelStep, .kind = Label, .parent = names::Frame1, .caption = "Step: x", .captionNumber = 1.26},
    {.name = names::member<names::OptionAutoSigGen, 1>, .kind = Option, .parent = names::Frame1,
     .caption = "15 ISO Bands 25Hz - 16kHz"},
    {.name = names::member<names::OptionAutoSigGen, 2>, .kind = Option, .parent = names::Frame1,
     .caption = "31 ISO Bands 20Hz - 20kHz"},
    {.name = names::member<names::OptionAutoSigGen, 3>, .kind = Option, .parent = names::Frame1,
     .caption = "User file : "},
    {.name = names::txtUserFreqFile, .kind = TextBox, .parent = names::Frame1, .caption = "UserFreq.txt"},
    {.name = names::cmdFreqBrowse, .kind = PictureButton, .parent = names::Frame1, .caption = "..."},

    {.name = names::Frame4, .kind = Frame, .caption = "Simple Signal Generator"},
    {.name = names::member<names::OptionSigGen, 0>, .kind = Option, .parent = names::Frame4, .caption = "Sine",
     .value = 1},
    {.name = names::member<names::OptionSigGen, 1>, .kind = Option, .parent = names::Frame4, .caption = "Square"},
    {.name = names::member<names::OptionSigGen, 2>, .kind = Option, .parent = names::Frame4, .caption = "Triangle"},
    {.name = names::member<names::OptionSigGen, 3>, .kind = Option, .parent = names::Frame4, .caption = "Pink Noise"},
    {.name = names::member<names::OptionSigGen, 4>, .kind = Option, .parent = names::Frame4, .caption = "White Noise"},
    {.name = names::member<names::OptionSigGen, 5>, .kind = Option, .parent = names::Frame4, .caption = "Silence"},
    {.name = names::TextFFT, .kind = TextBox, .parent = names::Frame4, .caption = "100"},
    {.name = names::Label5, .kind = Label, .parent = names::Frame4, .caption = "Hz"},
    {.name = names::HScrollFFT, .kind = ScrollBar, .parent = names::Frame4, .value = 1000, .minimum = 10,
     .maximum = 9000},
    {.name = names::HScrollFine, .kind = ScrollBar, .parent = names::Frame4, .value = 0, .minimum = 0,
     .maximum = 10000},
    {.name = names::CheckBy5, .kind = CheckBox, .parent = names::Frame4, .caption = "x20"},
    {.name = names::cmdStartSignal, .kind = Button, .parent = names::Frame4, .caption = "Play Signal"},
    {.name = names::HScrollVolume, .kind = ScrollBar, .parent = names::Frame4, .value = 1000, .minimum = 0,
     .maximum = 1000},
    {.name = names::Label3, .kind = Label, .parent = names::Frame4, .caption = "Level:"},
    {.name = names::LabelVol, .kind = Label, .parent = names::Frame4, .caption = "0.00 dB"},
    {.name = names::HScrollPan, .kind = ScrollBar, .parent = names::Frame4, .value = 0, .minimum = -1000,
     .maximum = 1000},
    {.name = names::LabelLeft, .kind = Label, .parent = names::Frame4, .caption = "Left"},
    // The balance mark of the bar's position is blue; at start the centre.
    {.name = names::LabelCenter, .kind = Label, .parent = names::Frame4, .caption = "Center",
     .foreColor = 255u * 65536u},
    {.name = names::LabelRight, .kind = Label, .parent = names::Frame4, .caption = "Right"},
    {.name = names::LabelVolLeft, .kind = Label, .parent = names::Frame4, .caption = "0.00 dB"},
    {.name = names::LabelVolRight, .kind = Label, .parent = names::Frame4, .caption = "0.00 dB"},

    {.name = names::Frame3, .kind = Frame, .caption = "Measure"},
    {.name = names::LblFreqtxt, .kind = Label, .parent = names::Frame3, .caption = "Frequency:"},
    {.name = names::LabelFreq, .kind = Label, .parent = names::Frame3, .caption = "N/A"},
    {.name = names::LabelDBtxt, .kind = Label, .parent = names::Frame3, .caption = "Level:",
     .toolTip = "Input level in dB, note this is not dBA, but signal dB"},
    {.name = names::LabelDB, .kind = Label, .parent = names::Frame3, .caption = "N/A"},
    {.name = names::LabelSNRtxt, .kind = Label, .parent = names::Frame3, .caption = "Signal SNR:",
     .toolTip = "This is the Signal to Noise ratio of the recorded signal, this ratio is based on the first "
                "calibration silence."},
    {.name = names::LabelSNR, .kind = Label, .parent = names::Frame3, .caption = "N/A"},
    {.name = names::Label4, .kind = Label, .parent = names::Frame3, .caption = "Card SNR:"},
    {.name = names::LabelCardSNR, .kind = Label, .parent = names::Frame3, .caption = "N/A"},
    {.name = names::LabelTHDtxt, .kind = Label, .parent = names::Frame3, .caption = "THD:",
     .toolTip = "Harmonic distortion of the last tone measured: harmonics 2 to 5 up to 20 kHz, in percent of the "
                "tone (N/A unless all four lie at or below 20 kHz); THD+N is everything but DC and the tone within "
                "20 Hz to 20 kHz, in percent of the whole signal's RMS in that band (the usual definition)"},
    {.name = names::LabelTHD, .kind = Label, .parent = names::Frame3, .caption = "N/A"},

    {.name = names::Frame2, .kind = Frame, .caption = "Input Response"},
    {.name = names::CheckInput, .kind = CheckBox, .parent = names::Frame2, .caption = "Show Input Waveform", .value = 1,
     .toolTip = "Show/Hide the recorded waveform window"},
    {.name = names::CheckFFT, .kind = CheckBox, .parent = names::Frame2, .caption = "Show Signal FFT", .value = 1,
     .toolTip = "Show/Hide the Fast Fourrier Transform of input signal"},
    {.name = names::CheckBadInputWave, .kind = CheckBox, .parent = names::Frame2,
     .caption = "Red/Skip measure if bad wave",
     .value = 1,
     .toolTip = "Verify that input wave form is well formed, in some cases a bug into DirectSound causes input wave "
                "to be strange"},
    // No selection until start-up selects one.
    {.name = names::ComboDBRange, .kind = List, .parent = names::Frame2, .value = -1,
     .items = ControlTable::DBRangeItems},
    {.name = names::Label8, .kind = Label, .parent = names::Frame2, .caption = "dB Range:"},
    {.name = names::ComboSmooth, .kind = List, .parent = names::Frame2, .value = -1,
     .toolTip = "Change the frequency response curve smothing", .items = ControlTable::SmoothItems},
    {.name = names::Label9, .kind = Label, .parent = names::Frame2, .caption = "Smooth level:"},
    {.name = names::CheckSPLCorrect, .kind = CheckBox, .parent = names::Frame2, .caption = "Correct for 'C' SPL curve"},
    {.name = names::CheckSoundCard, .kind = CheckBox, .parent = names::Frame2, .caption = "Correct Sound Card curve"},
    {.name = names::CheckUserCalib, .kind = CheckBox, .parent = names::Frame2, .caption = "User Calibration file:"},
    {.name = names::txtUserCalibFile, .kind = TextBox, .parent = names::Frame2, .caption = "UserCalib.txt"},
    {.name = names::cmdCalibBrowse, .kind = PictureButton, .parent = names::Frame2, .caption = "..."},

    {.name = names::CheckResponse, .kind = CheckBox, .caption = "Show Frequency Response", .value = 1,
     .toolTip = "Show/Hide the frequency response window"},
    // In the status bar, beside the status line: the sensitivity factor of
    // a ticked correction file, empty when none states one.
    {.name = names::LabelSensitivity, .kind = Label,
     .toolTip = "The sensitivity factor the ticked calibration file states (the curve stays relative)"},

    {.name = names::FileMenu, .kind = Menu, .caption = "&File"},
    {.name = names::MenuEntryLoadTrace, .kind = MenuEntry, .parent = names::FileMenu, .caption = "&Load Trace"},
    {.name = names::MenuEntrySave, .kind = MenuEntry, .parent = names::FileMenu, .caption = "&Save Last Trace"},
    {.name = names::MenuEntryExportTrace, .kind = MenuEntry, .parent = names::FileMenu, .caption = "&Export Trace..."},
    {.name = names::MenuEntrySavePicture, .kind = MenuEntry, .parent = names::FileMenu, .caption = "Save &Picture..."},
    // An impulse response from a file, shown in the Log Sweep window.
    {.name = names::MenuEntryOpenImpulse, .kind = MenuEntry, .parent = names::FileMenu,
     .caption = "Open &Impulse Response..."},
    // The whole session in one .audimera file (Ctrl+Shift+S, Ctrl+Shift+O);
    // Restore Last Session opens what an exit with unsaved work left, and is
    // enabled at start-up when there is such a session.
    {.name = names::sepsession, .kind = Separator, .parent = names::FileMenu},
    {.name = names::MenuEntrySaveSession, .kind = MenuEntry, .parent = names::FileMenu, .caption = "Sa&ve Session..."},
    {.name = names::MenuEntryOpenSession, .kind = MenuEntry, .parent = names::FileMenu, .caption = "Ope&n Session..."},
    {.name = names::MenuEntryRestoreSession, .kind = MenuEntry, .parent = names::FileMenu,
     .caption = "&Restore Last Session", .enabled = false},
    {.name = names::sepsessionend, .kind = Separator, .parent = names::FileMenu},
    // Off by default: the saved picture is the plot alone, as documented.
    {.name = names::CheckLegend, .kind = MenuTick, .parent = names::FileMenu, .caption = "Legend in Pictures"},
    {.name = names::sepfile, .kind = Separator, .parent = names::FileMenu},
    {.name = names::MenuEntryExit, .kind = MenuEntry, .parent = names::FileMenu, .caption = "&Exit"},

    // The device entries are filled from the sound system at start-up.
    {.name = names::SettingsMenu, .kind = Menu, .caption = "&Settings"},
    {.name = names::MenuOutDevice, .kind = Menu, .parent = names::SettingsMenu, .caption = "&Play Device"},
    {.name = names::member<names::MenuEntryOutDevice, 0>, .kind = MenuTick, .parent = names::MenuOutDevice,
     .caption = "Device0"},
    {.name = names::member<names::MenuEntryOutDevice, 1>, .kind = MenuTick, .parent = names::MenuOutDevice,
     .caption = "Device1"},
    {.name = names::member<names::MenuEntryOutDevice, 2>, .kind = MenuTick, .parent = names::MenuOutDevice,
     .caption = "Device2"},
    {.name = names::member<names::MenuEntryOutDevice, 3>, .kind = MenuTick, .parent = names::MenuOutDevice,
     .caption = "Device3"},
    // Every other device, from a list; ticked while one past the four is in use.
    {.name = names::sepoutdevice, .kind = Separator, .parent = names::MenuOutDevice},
    {.name = names::MenuEntryOtherOutDevice, .kind = MenuTick, .parent = names::MenuOutDevice,
     .caption = "Other Device..."},
    {.name = names::MenuInDevice, .kind = Menu, .parent = names::SettingsMenu, .caption = "&Record Device"},
    {.name = names::member<names::MenuEntryInDevice, 0>, .kind = MenuTick, .parent = names::MenuInDevice,
     .caption = "Device0"},
    {.name = names::member<names::MenuEntryInDevice, 1>, .kind = MenuTick, .parent = names::MenuInDevice,
     .caption = "Device1"},
    {.name = names::member<names::MenuEntryInDevice, 2>, .kind = MenuTick, .parent = names::MenuInDevice,
     .caption = "Device2"},
    {.name = names::member<names::MenuEntryInDevice, 3>, .kind = MenuTick, .parent = names::MenuInDevice,
     .caption = "Device3"},
    {.name = names::sepindevice, .kind = Separator, .parent = names::MenuInDevice},
    {.name = names::MenuEntryOtherInDevice, .kind = MenuTick, .parent = names::MenuInDevice,
     .caption = "Other Device..."},
    // Read when a sweep or the signal starts; the window keeps the choice
    // between sessions.
    {.name = names::MenuLevelDetection, .kind = Menu, .parent = names::SettingsMenu, .caption = "Level Detection"},
    {.name = names::member<names::MenuEntryDetector, 0>, .kind = MenuTick, .parent = names::MenuLevelDetection,
     .caption = "Mean Magnitude",
     .value = 1},
    {.name = names::member<names::MenuEntryDetector, 1>, .kind = MenuTick, .parent = names::MenuLevelDetection,
     .caption = "Narrow Band"},
    // Read when a sweep starts and by the Log Sweep window; kept between
    // sessions like the detector.
    {.name = names::MenuRecordChannel, .kind = Menu, .parent = names::SettingsMenu, .caption = "Record Channel"},
    {.name = names::member<names::MenuEntryRecordChannel, 0>, .kind = MenuTick, .parent = names::MenuRecordChannel,
     .caption = "Mix",
     .value = 1},
    {.name = names::member<names::MenuEntryRecordChannel, 1>, .kind = MenuTick, .parent = names::MenuRecordChannel,
     .caption = "Left"},
    {.name = names::member<names::MenuEntryRecordChannel, 2>, .kind = MenuTick, .parent = names::MenuRecordChannel,
     .caption = "Right"},

    // Menus added to the documented ones go here, so that "?" stays last.
    // The Traces panel beside the main window: names, offsets, hiding and
    // normalising the response plot's traces. Ticked while it is shown.
    {.name = names::ViewMenu, .kind = Menu, .caption = "&View"},
    {.name = names::MenuEntryTraces, .kind = MenuTick, .parent = names::ViewMenu, .caption = "&Traces"},
    // The log sweep's window (Ctrl+L).
    {.name = names::MeasureMenu, .kind = Menu, .caption = "&Measure"},
    {.name = names::MenuEntryLogSweep, .kind = MenuEntry, .parent = names::MeasureMenu, .caption = "&Log Sweep..."},
    // The equaliser's window: a correction designed for a trace, exported or applied.
    {.name = names::MenuEntryEqualiser, .kind = MenuEntry, .parent = names::MeasureMenu, .caption = "&Equaliser..."},
    // The live analyser and sound level meter's window.
    {.name = names::MenuEntryAnalyser, .kind = MenuEntry, .parent = names::MeasureMenu, .caption = "&Analyser..."},

    {.name = names::HelpMenu, .kind = Menu, .caption = "&?"},
    {.name = names::MenuEntryHelp, .kind = MenuEntry, .parent = names::HelpMenu, .caption = "&Help"},
    {.name = names::sephelp, .kind = Separator, .parent = names::HelpMenu},
    {.name = names::MenuEntryAbout, .kind = MenuEntry, .parent = names::HelpMenu, .caption = "&About"},
};

} // namespace

std::span<const ControlRow> ControlTable::rows()
{
    return Rows;
}

const ControlRow* ControlTable::find(std::string_view name)
{
    for (const ControlRow& row : Rows)
        if (row.name == name)
            return &row;
    return nullptr;
}

std::string ControlTable::caption(const ControlRow& row, const Panel& panel)
{
    std::string text(row.caption);
    if (row.captionNumber)
        text += panel.formatNumber(*row.captionNumber);
    return text;
}

} // namespace audimera
