// The names of the main window's controls, each written here and nowhere
// else: the control table, the window and the presenter use these
// constants, so a misspelt name fails to compile instead of missing a
// widget at run time.
//
// Control arrays have one constant for the array ("OptionSigGen"); a member
// is controlName(names::OptionSigGen, 3) at run time, or
// names::member<names::OptionSigGen, 3> where a constant is needed (both
// "OptionSigGen(3)").
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace audimera::names {

// Frame1, "Response Signal Generator".
inline constexpr std::string_view Frame1 = "Frame1";
inline constexpr std::string_view cmdStart = "cmdStart";
inline constexpr std::string_view cmdStop = "cmdStop";
inline constexpr std::string_view cmdClearTraces = "cmdClearTraces";
inline constexpr std::string_view cmdCalibrate = "cmdCalibrate";
inline constexpr std::string_view OptionAutoSigGen = "OptionAutoSigGen"; // array
inline constexpr std::string_view TextStart = "TextStart";
inline constexpr std::string_view Label1 = "Label1";
inline constexpr std::string_view TextStop = "TextStop";
inline constexpr std::string_view Label2 = "Label2";
inline constexpr std::string_view HScrollStep = "HScrollStep";
inline constexpr std::string_view LabelStep = "LabelStep";
inline constexpr std::string_view txtUserFreqFile = "txtUserFreqFile";
inline constexpr std::string_view cmdFreqBrowse = "cmdFreqBrowse";

// Frame4, "Simple Signal Generator".
inline constexpr std::string_view Frame4 = "Frame4";
inline constexpr std::string_view OptionSigGen = "OptionSigGen"; // array
inline constexpr std::string_view TextFFT = "TextFFT";
inline constexpr std::string_view Label5 = "Label5";
inline constexpr std::string_view HScrollFFT = "HScrollFFT";
inline constexpr std::string_view HScrollFine = "HScrollFine";
inline constexpr std::string_view CheckBy5 = "CheckBy5";
inline constexpr std::string_view cmdStartSignal = "cmdStartSignal";
inline constexpr std::string_view HScrollVolume = "HScrollVolume";
inline constexpr std::string_view Label3 = "Label3";
inline constexpr std::string_view LabelVol = "LabelVol";
inline constexpr std::string_view HScrollPan = "HScrollPan";
inline constexpr std::string_view LabelLeft = "LabelLeft";
inline constexpr std::string_view LabelCenter = "LabelCenter";
inline constexpr std::string_view LabelRight = "LabelRight";
inline constexpr std::string_view LabelVolLeft = "LabelVolLeft";
inline constexpr std::string_view LabelVolRight = "LabelVolRight";

// Frame3, "Measure".
inline constexpr std::string_view Frame3 = "Frame3";
inline constexpr std::string_view LblFreqtxt = "LblFreqtxt";
inline constexpr std::string_view LabelFreq = "LabelFreq";
inline constexpr std::string_view LabelDBtxt = "LabelDBtxt";
inline constexpr std::string_view LabelDB = "LabelDB";
inline constexpr std::string_view LabelSNRtxt = "LabelSNRtxt";
inline constexpr std::string_view LabelSNR = "LabelSNR";
inline constexpr std::string_view Label4 = "Label4";
inline constexpr std::string_view LabelCardSNR = "LabelCardSNR";
inline constexpr std::string_view LabelTHDtxt = "LabelTHDtxt";
inline constexpr std::string_view LabelTHD = "LabelTHD";

// Frame2, "Input Response".
inline constexpr std::string_view Frame2 = "Frame2";
inline constexpr std::string_view CheckInput = "CheckInput";
inline constexpr std::string_view CheckFFT = "CheckFFT";
inline constexpr std::string_view CheckBadInputWave = "CheckBadInputWave";
inline constexpr std::string_view ComboDBRange = "ComboDBRange";
inline constexpr std::string_view Label8 = "Label8";
inline constexpr std::string_view ComboSmooth = "ComboSmooth";
inline constexpr std::string_view Label9 = "Label9";
inline constexpr std::string_view CheckSPLCorrect = "CheckSPLCorrect";
inline constexpr std::string_view CheckSoundCard = "CheckSoundCard";
inline constexpr std::string_view CheckUserCalib = "CheckUserCalib";
inline constexpr std::string_view txtUserCalibFile = "txtUserCalibFile";
inline constexpr std::string_view cmdCalibBrowse = "cmdCalibBrowse";

// In the window itself and its status bar.
inline constexpr std::string_view CheckResponse = "CheckResponse";
inline constexpr std::string_view LabelSensitivity = "LabelSensitivity";

// File.
inline constexpr std::string_view FileMenu = "FileMenu";
inline constexpr std::string_view MenuEntryLoadTrace = "MenuEntryLoadTrace";
inline constexpr std::string_view MenuEntrySave = "MenuEntrySave";
inline constexpr std::string_view MenuEntryExportTrace = "MenuEntryExportTrace";
inline constexpr std::string_view MenuEntrySavePicture = "MenuEntrySavePicture";
inline constexpr std::string_view MenuEntryOpenImpulse = "MenuEntryOpenImpulse";
inline constexpr std::string_view sepsession = "sepsession";
inline constexpr std::string_view MenuEntrySaveSession = "MenuEntrySaveSession";
inline constexpr std::string_view MenuEntryOpenSession = "MenuEntryOpenSession";
inline constexpr std::string_view MenuEntryRestoreSession = "MenuEntryRestoreSession";
inline constexpr std::string_view sepsessionend = "sepsessionend";
inline constexpr std::string_view CheckLegend = "CheckLegend";
inline constexpr std::string_view sepfile = "sepfile";
inline constexpr std::string_view MenuEntryExit = "MenuEntryExit";

// Settings.
inline constexpr std::string_view SettingsMenu = "SettingsMenu";
inline constexpr std::string_view MenuOutDevice = "MenuOutDevice";
inline constexpr std::string_view MenuEntryOutDevice = "MenuEntryOutDevice"; // array
inline constexpr std::string_view sepoutdevice = "sepoutdevice";
inline constexpr std::string_view MenuEntryOtherOutDevice = "MenuEntryOtherOutDevice";
inline constexpr std::string_view MenuInDevice = "MenuInDevice";
inline constexpr std::string_view MenuEntryInDevice = "MenuEntryInDevice"; // array
inline constexpr std::string_view sepindevice = "sepindevice";
inline constexpr std::string_view MenuEntryOtherInDevice = "MenuEntryOtherInDevice";
inline constexpr std::string_view MenuLevelDetection = "MenuLevelDetection";
inline constexpr std::string_view MenuEntryDetector = "MenuEntryDetector"; // array
inline constexpr std::string_view MenuRecordChannel = "MenuRecordChannel";
inline constexpr std::string_view MenuEntryRecordChannel = "MenuEntryRecordChannel"; // array

// Measure.
inline constexpr std::string_view MeasureMenu = "MeasureMenu";
inline constexpr std::string_view MenuEntryLogSweep = "MenuEntryLogSweep";
inline constexpr std::string_view MenuEntryEqualiser = "MenuEntryEqualiser";
inline constexpr std::string_view MenuEntryAnalyser = "MenuEntryAnalyser";

// View.
inline constexpr std::string_view ViewMenu = "ViewMenu";
inline constexpr std::string_view MenuEntryTraces = "MenuEntryTraces";

// "?".
inline constexpr std::string_view HelpMenu = "HelpMenu";
inline constexpr std::string_view MenuEntryHelp = "MenuEntryHelp";
inline constexpr std::string_view sephelp = "sephelp";
inline constexpr std::string_view MenuEntryAbout = "MenuEntryAbout";

namespace detail {

// The characters of "Array(Index)", built at compile time.
template <const std::string_view& Array, int Index>
struct MemberName {
    static_assert(Index >= 0);
    static constexpr std::size_t Digits = [] {
        std::size_t n = 1;
        for (int i = Index; i >= 10; i /= 10)
            ++n;
        return n;
    }();
    static constexpr std::array<char, Array.size() + Digits + 2> Text = [] {
        std::array<char, Array.size() + Digits + 2> text{};
        std::size_t at = 0;
        for (char c : Array)
            text[at++] = c;
        text[at++] = '(';
        int rest = Index;
        for (std::size_t d = Digits; d-- > 0; rest /= 10)
            text[at + d] = char('0' + rest % 10);
        text[at + Digits] = ')';
        return text;
    }();
};

} // namespace detail

// Member Index of the control array Array, as controlName names it.
template <const std::string_view& Array, int Index>
inline constexpr std::string_view member{detail::MemberName<Array, Index>::Text.data(),
                                         detail::MemberName<Array, Index>::Text.size()};

} // namespace audimera::names
