#include "ui/presenter/ControlTable.h"

#include "ui/presenter/Panel.h"

namespace audimera {

namespace {

using enum ControlKind;

const ControlRow Rows[] = {
    {.name = "Frame1", .kind = Frame, .caption = "Response Signal Generator"},
    {.name = "cmdStart", .kind = Button, .parent = "Frame1", .caption = "Start Trace"},
    {.name = "cmdStop", .kind = Button, .parent = "Frame1", .caption = "Stop", .enabled = false},
    {.name = "cmdClearTraces", .kind = Button, .parent = "Frame1", .caption = "Clear Traces", .enabled = false},
    {.name = "cmdCalibrate", .kind = Button, .parent = "Frame1", .caption = "Recenter 0dB", .enabled = false},
    {.name = "OptionAutoSigGen(0)", .kind = Option, .parent = "Frame1", .caption = "Range:", .value = 1},
    {.name = "TextStart", .kind = TextBox, .parent = "Frame1", .caption = "20"},
    {.name = "Label1", .kind = Label, .parent = "Frame1", .caption = "Hz to"},
    {.name = "TextStop", .kind = TextBox, .parent = "Frame1", .caption = "20000"},
    {.name = "Label2", .kind = Label, .parent = "Frame1", .caption = "Hz"},
    {.name = "HScrollStep", .kind = ScrollBar, .parent = "Frame1", .value = 126, .minimum = 101, .maximum = 200},
    {.name = "LabelStep", .kind = Label, .parent = "Frame1", .caption = "Step: x", .captionNumber = 1.26},
    {.name = "OptionAutoSigGen(1)", .kind = Option, .parent = "Frame1", .caption = "15 ISO Bands 25Hz - 16kHz"},
    {.name = "OptionAutoSigGen(2)", .kind = Option, .parent = "Frame1", .caption = "31 ISO Bands 20Hz - 20kHz"},
    {.name = "OptionAutoSigGen(3)", .kind = Option, .parent = "Frame1", .caption = "User file : "},
    {.name = "txtUserFreqFile", .kind = TextBox, .parent = "Frame1", .caption = "UserFreq.txt"},
    {.name = "cmdFreqBrowse", .kind = PictureButton, .parent = "Frame1", .caption = "..."},

    {.name = "Frame4", .kind = Frame, .caption = "Simple Signal Generator"},
    {.name = "OptionSigGen(0)", .kind = Option, .parent = "Frame4", .caption = "Sine", .value = 1},
    {.name = "OptionSigGen(1)", .kind = Option, .parent = "Frame4", .caption = "Square"},
    {.name = "OptionSigGen(2)", .kind = Option, .parent = "Frame4", .caption = "Triangle"},
    {.name = "OptionSigGen(3)", .kind = Option, .parent = "Frame4", .caption = "Pink Noise"},
    {.name = "OptionSigGen(4)", .kind = Option, .parent = "Frame4", .caption = "White Noise"},
    {.name = "OptionSigGen(5)", .kind = Option, .parent = "Frame4", .caption = "Silence"},
    {.name = "TextFFT", .kind = TextBox, .parent = "Frame4", .caption = "100"},
    {.name = "Label5", .kind = Label, .parent = "Frame4", .caption = "Hz"},
    {.name = "HScrollFFT", .kind = ScrollBar, .parent = "Frame4", .value = 1000, .minimum = 10, .maximum = 9000},
    {.name = "HScrollFine", .kind = ScrollBar, .parent = "Frame4", .value = 0, .minimum = 0, .maximum = 10000},
    {.name = "CheckBy5", .kind = CheckBox, .parent = "Frame4", .caption = "x20"},
    {.name = "cmdStartSignal", .kind = Button, .parent = "Frame4", .caption = "Play Signal"},
    {.name = "HScrollVolume", .kind = ScrollBar, .parent = "Frame4", .value = 1000, .minimum = 0, .maximum = 1000},
    {.name = "Label3", .kind = Label, .parent = "Frame4", .caption = "Level:"},
    {.name = "LabelVol", .kind = Label, .parent = "Frame4", .caption = "0.00 dB"},
    {.name = "HScrollPan", .kind = ScrollBar, .parent = "Frame4", .value = 0, .minimum = -1000, .maximum = 1000},
    {.name = "LabelLeft", .kind = Label, .parent = "Frame4", .caption = "Left"},
    // The balance mark of the bar's position is blue; at start the centre.
    {.name = "LabelCenter", .kind = Label, .parent = "Frame4", .caption = "Center", .foreColor = 255u * 65536u},
    {.name = "LabelRight", .kind = Label, .parent = "Frame4", .caption = "Right"},
    {.name = "LabelVolLeft", .kind = Label, .parent = "Frame4", .caption = "0.00 dB"},
    {.name = "LabelVolRight", .kind = Label, .parent = "Frame4", .caption = "0.00 dB"},

    {.name = "Frame3", .kind = Frame, .caption = "Measure"},
    {.name = "LblFreqtxt", .kind = Label, .parent = "Frame3", .caption = "Frequency:"},
    {.name = "LabelFreq", .kind = Label, .parent = "Frame3", .caption = "N/A"},
    {.name = "LabelDBtxt", .kind = Label, .parent = "Frame3", .caption = "Level:",
     .toolTip = "Input level in dB, note this is not dBA, but signal dB"},
    {.name = "LabelDB", .kind = Label, .parent = "Frame3", .caption = "N/A"},
    {.name = "LabelSNRtxt", .kind = Label, .parent = "Frame3", .caption = "Signal SNR:",
     .toolTip = "This is the Signal to Noise ratio of the recorded signal, this ratio is based on the first "
                "calibration silence."},
    {.name = "LabelSNR", .kind = Label, .parent = "Frame3", .caption = "N/A"},
    {.name = "Label4", .kind = Label, .parent = "Frame3", .caption = "Card SNR:"},
    {.name = "LabelCardSNR", .kind = Label, .parent = "Frame3", .caption = "N/A"},
    {.name = "LabelTHDtxt", .kind = Label, .parent = "Frame3", .caption = "THD:",
     .toolTip = "Harmonic distortion of the last tone measured: harmonics 2 to 5 up to 20 kHz, in percent of the "
                "tone (N/A unless all four lie at or below 20 kHz); THD+N is everything but DC and the tone within "
                "20 Hz to 20 kHz, in percent of the whole signal's RMS in that band (the usual definition)"},
    {.name = "LabelTHD", .kind = Label, .parent = "Frame3", .caption = "N/A"},

    {.name = "Frame2", .kind = Frame, .caption = "Input Response"},
    {.name = "CheckInput", .kind = CheckBox, .parent = "Frame2", .caption = "Show Input Waveform", .value = 1,
     .toolTip = "Show/Hide the recorded waveform window"},
    {.name = "CheckFFT", .kind = CheckBox, .parent = "Frame2", .caption = "Show Signal FFT", .value = 1,
     .toolTip = "Show/Hide the Fast Fourrier Transform of input signal"},
    {.name = "CheckBadInputWave", .kind = CheckBox, .parent = "Frame2", .caption = "Red/Skip measure if bad wave",
     .value = 1,
     .toolTip = "Verify that input wave form is well formed, in some cases a bug into DirectSound causes input wave "
                "to be strange"},
    // No selection until start-up selects one.
    {.name = "ComboDBRange", .kind = List, .parent = "Frame2", .value = -1, .items = ControlTable::DBRangeItems},
    {.name = "Label8", .kind = Label, .parent = "Frame2", .caption = "dB Range:"},
    {.name = "ComboSmooth", .kind = List, .parent = "Frame2", .value = -1,
     .toolTip = "Change the frequency response curve smothing", .items = ControlTable::SmoothItems},
    {.name = "Label9", .kind = Label, .parent = "Frame2", .caption = "Smooth level:"},
    {.name = "CheckSPLCorrect", .kind = CheckBox, .parent = "Frame2", .caption = "Correct for 'C' SPL curve"},
    {.name = "CheckSoundCard", .kind = CheckBox, .parent = "Frame2", .caption = "Correct Sound Card curve"},
    {.name = "CheckUserCalib", .kind = CheckBox, .parent = "Frame2", .caption = "User Calibration file:"},
    {.name = "txtUserCalibFile", .kind = TextBox, .parent = "Frame2", .caption = "UserCalib.txt"},
    {.name = "cmdCalibBrowse", .kind = PictureButton, .parent = "Frame2", .caption = "..."},

    {.name = "CheckResponse", .kind = CheckBox, .caption = "Show Frequency Response", .value = 1,
     .toolTip = "Show/Hide the frequency response window"},
    // In the status bar, beside the status line: the sensitivity factor of
    // a ticked correction file, empty when none states one.
    {.name = "LabelSensitivity", .kind = Label,
     .toolTip = "The sensitivity factor the ticked calibration file states (the curve stays relative)"},

    {.name = "FileMenu", .kind = Menu, .caption = "&File"},
    {.name = "MenuEntryLoadTrace", .kind = MenuEntry, .parent = "FileMenu", .caption = "&Load Trace"},
    {.name = "MenuEntrySave", .kind = MenuEntry, .parent = "FileMenu", .caption = "&Save Last Trace"},
    {.name = "MenuEntryExportTrace", .kind = MenuEntry, .parent = "FileMenu", .caption = "&Export Trace..."},
    {.name = "MenuEntrySavePicture", .kind = MenuEntry, .parent = "FileMenu", .caption = "Save &Picture..."},
    // Off by default: the saved picture is the plot alone, as documented.
    {.name = "CheckLegend", .kind = MenuTick, .parent = "FileMenu", .caption = "Legend in Pictures"},
    {.name = "sepfile", .kind = Separator, .parent = "FileMenu"},
    {.name = "MenuEntryExit", .kind = MenuEntry, .parent = "FileMenu", .caption = "&Exit"},

    // The device entries are filled from the sound system at start-up.
    {.name = "SettingsMenu", .kind = Menu, .caption = "&Settings"},
    {.name = "MenuOutDevice", .kind = Menu, .parent = "SettingsMenu", .caption = "&Play Device"},
    {.name = "MenuEntryOutDevice(0)", .kind = MenuTick, .parent = "MenuOutDevice", .caption = "Device0"},
    {.name = "MenuEntryOutDevice(1)", .kind = MenuTick, .parent = "MenuOutDevice", .caption = "Device1"},
    {.name = "MenuEntryOutDevice(2)", .kind = MenuTick, .parent = "MenuOutDevice", .caption = "Device2"},
    {.name = "MenuEntryOutDevice(3)", .kind = MenuTick, .parent = "MenuOutDevice", .caption = "Device3"},
    // Every other device, from a list; ticked while one past the four is in use.
    {.name = "sepoutdevice", .kind = Separator, .parent = "MenuOutDevice"},
    {.name = "MenuEntryOtherOutDevice", .kind = MenuTick, .parent = "MenuOutDevice", .caption = "Other Device..."},
    {.name = "MenuInDevice", .kind = Menu, .parent = "SettingsMenu", .caption = "&Record Device"},
    {.name = "MenuEntryInDevice(0)", .kind = MenuTick, .parent = "MenuInDevice", .caption = "Device0"},
    {.name = "MenuEntryInDevice(1)", .kind = MenuTick, .parent = "MenuInDevice", .caption = "Device1"},
    {.name = "MenuEntryInDevice(2)", .kind = MenuTick, .parent = "MenuInDevice", .caption = "Device2"},
    {.name = "MenuEntryInDevice(3)", .kind = MenuTick, .parent = "MenuInDevice", .caption = "Device3"},
    {.name = "sepindevice", .kind = Separator, .parent = "MenuInDevice"},
    {.name = "MenuEntryOtherInDevice", .kind = MenuTick, .parent = "MenuInDevice", .caption = "Other Device..."},
    // Read when a sweep or the signal starts; the window keeps the choice
    // between sessions.
    {.name = "MenuLevelDetection", .kind = Menu, .parent = "SettingsMenu", .caption = "Level Detection"},
    {.name = "MenuEntryDetector(0)", .kind = MenuTick, .parent = "MenuLevelDetection", .caption = "Mean Magnitude",
     .value = 1},
    {.name = "MenuEntryDetector(1)", .kind = MenuTick, .parent = "MenuLevelDetection", .caption = "Narrow Band"},
    // Read when a sweep starts and by the Log Sweep window; kept between
    // sessions like the detector.
    {.name = "MenuRecordChannel", .kind = Menu, .parent = "SettingsMenu", .caption = "Record Channel"},
    {.name = "MenuEntryRecordChannel(0)", .kind = MenuTick, .parent = "MenuRecordChannel", .caption = "Mix",
     .value = 1},
    {.name = "MenuEntryRecordChannel(1)", .kind = MenuTick, .parent = "MenuRecordChannel", .caption = "Left"},
    {.name = "MenuEntryRecordChannel(2)", .kind = MenuTick, .parent = "MenuRecordChannel", .caption = "Right"},

    // Menus added to the documented ones go here, so that "?" stays last.
    // The log sweep's window (Ctrl+L).
    {.name = "MeasureMenu", .kind = Menu, .caption = "&Measure"},
    {.name = "MenuEntryLogSweep", .kind = MenuEntry, .parent = "MeasureMenu", .caption = "&Log Sweep..."},

    {.name = "HelpMenu", .kind = Menu, .caption = "&?"},
    {.name = "MenuEntryHelp", .kind = MenuEntry, .parent = "HelpMenu", .caption = "&Help"},
    {.name = "sephelp", .kind = Separator, .parent = "HelpMenu"},
    {.name = "MenuEntryAbout", .kind = MenuEntry, .parent = "HelpMenu", .caption = "&About"},
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
