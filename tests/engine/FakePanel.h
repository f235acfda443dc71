// A control panel held in a table, starting in the main window's initial
// state. Unknown control names fail the test, so a misspelt name is caught.
#pragma once

#include "Panel.h"

#include <gtest/gtest.h>

#include <charconv>
#include <map>
#include <string>

class FakePanel : public Panel {
public:
    struct Control {
        std::string text;
        std::string caption;
        int value = 0;
        bool enabled = true;
        uint32_t foreColor = 0;
    };

    // decimal: the user's decimal separator ('.' or ',').
    explicit FakePanel(char decimal = '.') : m_decimal(decimal)
    {
        for (const char* name :
             {"cmdStart", "cmdStop", "cmdClearTraces", "cmdCalibrate", "cmdStartSignal", "cmdFreqBrowse",
              "TextStart", "TextStop", "TextFFT", "txtUserFreqFile", "HScrollStep", "LabelStep", "HScrollFFT",
              "HScrollFine", "CheckBy5", "HScrollVolume", "HScrollPan", "LabelVol", "LabelVolLeft",
              "LabelVolRight", "LabelLeft", "LabelCenter", "LabelRight", "LabelFreq", "LabelDB", "LabelSNR", "LabelCardSNR", "CheckInput", "CheckFFT",
              "CheckBadInputWave", "CheckSPLCorrect", "CheckSoundCard", "CheckUserCalib", "CheckResponse",
              "MenuInDevice", "MenuOutDevice", "MenuEntrySave", "MenuEntryLoadTrace", "MenuEntryExit"})
            m_controls[name] = Control{};
        for (int i = 0; i < 4; ++i)
            m_controls[controlName("OptionAutoSigGen", i)] = Control{};
        for (int i = 0; i < 6; ++i)
            m_controls[controlName("OptionSigGen", i)] = Control{};

        m_controls["cmdStart"].caption = "Start Trace";
        m_controls["cmdStop"].enabled = false;
        m_controls["cmdClearTraces"].enabled = false;
        m_controls["cmdCalibrate"].enabled = false;
        m_controls["cmdStartSignal"].caption = "Play Signal";
        m_controls["TextStart"].text = "20";
        m_controls["TextStop"].text = "20000";
        m_controls["TextFFT"].text = "100";
        m_controls["txtUserFreqFile"].text = "UserFreq.txt";
        m_controls["HScrollStep"].value = 126;
        m_controls["HScrollFFT"].value = 1000;
        m_controls["HScrollVolume"].value = 1000;
        m_controls["OptionAutoSigGen(0)"].value = 1;
        m_controls["OptionSigGen(0)"].value = 1;
        m_controls["CheckInput"].value = 1;
        m_controls["CheckFFT"].value = 1;
        m_controls["CheckBadInputWave"].value = 1;
        m_controls["CheckResponse"].value = 1;
        for (const char* label : {"LabelFreq", "LabelDB", "LabelSNR", "LabelCardSNR"})
            m_controls[label].caption = "N/A";
    }

    Control& operator[](std::string_view name) { return get(name); }

    // Selects one member of an option-button array, clearing the others.
    void select(std::string_view array, int index, int count)
    {
        for (int i = 0; i < count; ++i)
            get(controlName(array, i)).value = i == index ? 1 : 0;
    }

    std::string text(std::string_view name) const override { return get(name).text; }
    void setText(std::string_view name, std::string_view text) override { get(name).text = text; }
    std::string caption(std::string_view name) const override { return get(name).caption; }
    void setCaption(std::string_view name, std::string_view caption) override { get(name).caption = caption; }
    int value(std::string_view name) const override { return get(name).value; }
    void setValue(std::string_view name, int value) override { get(name).value = value; }
    bool enabled(std::string_view name) const override { return get(name).enabled; }
    void setEnabled(std::string_view name, bool enabled) override { get(name).enabled = enabled; }
    void setForeColor(std::string_view name, uint32_t color) override { get(name).foreColor = color; }

    std::optional<double> parseNumber(std::string_view text) const override
    {
        std::string s(text);
        for (char& c : s) {
            if (c == m_decimal)
                c = '.';
            else if (c == '.' || c == ',')
                return std::nullopt; // the other separator is not the locale's
        }
        double v = 0;
        const char* first = s.data();
        if (!s.empty() && s[0] == '+')
            ++first;
        const auto [end, ec] = std::from_chars(first, s.data() + s.size(), v);
        if (ec != std::errc() || end != s.data() + s.size() || s.empty())
            return std::nullopt;
        return v;
    }

    std::string formatNumber(double value) const override
    {
        char buf[64];
        const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 2);
        std::string s(buf, ec == std::errc() ? end : buf);
        for (char& c : s)
            if (c == '.')
                c = m_decimal;
        return s;
    }

private:
    Control& get(std::string_view name) const
    {
        auto it = m_controls.find(name);
        if (it == m_controls.end()) {
            ADD_FAILURE() << "unknown control '" << name << "'";
            return m_unknown;
        }
        return it->second;
    }

    char m_decimal;
    mutable std::map<std::string, Control, std::less<>> m_controls;
    mutable Control m_unknown;
};
