#include "PanelTable.h"

#include <charconv>

PanelTable::PanelTable(char decimal) : m_decimal(decimal)
{
    for (const char* name :
         {"cmdStart", "cmdStop", "cmdClearTraces", "cmdCalibrate", "cmdStartSignal", "cmdFreqBrowse", "TextStart",
          "TextStop", "TextFFT", "txtUserFreqFile", "HScrollStep", "LabelStep", "HScrollFFT", "HScrollFine",
          "CheckBy5", "HScrollVolume", "HScrollPan", "LabelVol", "LabelVolLeft", "LabelVolRight", "LabelLeft",
          "LabelCenter", "LabelRight", "LabelFreq", "LabelDB", "LabelSNR", "LabelCardSNR", "CheckInput",
          "CheckFFT", "CheckBadInputWave", "CheckSPLCorrect", "CheckSoundCard", "CheckUserCalib", "txtUserCalibFile",
          "CheckResponse", "MenuInDevice", "MenuOutDevice", "MenuEntrySave", "MenuEntryLoadTrace",
          "MenuEntryExit"})
        m_controls[name] = Control{};
    for (int i = 0; i < 4; ++i)
        m_controls[controlName("OptionAutoSigGen", i)] = Control{};
    for (int i = 0; i < 6; ++i)
        m_controls[controlName("OptionSigGen", i)] = Control{};

    m_controls["cmdStart"].caption = "Start Trace";
    m_controls["cmdStop"].caption = "Stop";
    m_controls["cmdStop"].enabled = false;
    m_controls["cmdClearTraces"].caption = "Clear Traces";
    m_controls["cmdClearTraces"].enabled = false;
    m_controls["cmdCalibrate"].caption = "Recenter 0dB";
    m_controls["cmdCalibrate"].enabled = false;
    m_controls["cmdStartSignal"].caption = "Play Signal";
    m_controls["TextStart"].text = "20";
    m_controls["TextStop"].text = "20000";
    m_controls["TextFFT"].text = "100";
    m_controls["txtUserFreqFile"].text = "UserFreq.txt";
    m_controls["txtUserCalibFile"].text = "UserCalib.txt";
    m_controls["HScrollStep"].value = 126;
    m_controls["LabelStep"].caption = "Step: x" + formatNumber(1.26);
    m_controls["HScrollFFT"].value = 1000;
    m_controls["HScrollVolume"].value = 1000;
    m_controls["OptionAutoSigGen(0)"].value = 1;
    m_controls["OptionSigGen(0)"].value = 1;
    m_controls["CheckInput"].value = 1;
    m_controls["CheckFFT"].value = 1;
    m_controls["CheckBadInputWave"].value = 1;
    m_controls["CheckResponse"].value = 1;
    for (const char* label : {"LabelVol", "LabelVolLeft", "LabelVolRight"})
        m_controls[label].caption = "0.00 dB";
    m_controls["LabelCenter"].foreColor = 255u * 65536u;
    for (const char* label : {"LabelFreq", "LabelDB", "LabelSNR", "LabelCardSNR"})
        m_controls[label].caption = "N/A";
}

PanelTable::Control& PanelTable::control(std::string_view name) const
{
    auto it = m_controls.find(name);
    if (it == m_controls.end()) {
        unknownControl(name);
        it = m_controls.emplace(std::string(name), Control{}).first;
    }
    return it->second;
}

void PanelTable::select(std::string_view array, int index, int count)
{
    for (int i = 0; i < count; ++i)
        control(controlName(array, i)).value = i == index ? 1 : 0;
}

std::optional<double> PanelTable::parseNumber(std::string_view text) const
{
    std::string s(text);
    for (char& c : s) {
        if (c == m_decimal)
            c = '.';
        else if (c == '.' || c == ',')
            return std::nullopt; // the other separator is not ours
    }
    const char* first = s.data();
    const char* last = s.data() + s.size();
    if (first != last && *first == '+')
        ++first;
    double v = 0;
    const auto [end, ec] = std::from_chars(first, last, v);
    if (s.empty() || ec != std::errc() || end != last)
        return std::nullopt;
    return v;
}

std::string PanelTable::formatNumber(double value) const
{
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 2);
    std::string s(buf, ec == std::errc() ? end : buf);
    for (char& c : s)
        if (c == '.')
            c = m_decimal;
    return s;
}
