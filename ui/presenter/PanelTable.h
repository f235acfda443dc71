// The main window's controls held in a plain table, starting in the first
// states of the ControlTable. Serves the headless command, and tests.
// Numbers use the given decimal separator instead of a locale.
#pragma once

#include "ui/presenter/Panel.h"

#include <map>
#include <string>

namespace audimera {

class PanelTable : public Panel {
public:
    struct Control {
        std::string text;
        std::string caption;
        int value = 0;
        bool enabled = true;
        uint32_t foreColor = 0;
    };

    explicit PanelTable(char decimal = '.');

    Control& operator[](std::string_view name) { return control(name); }
    const Control& operator[](std::string_view name) const { return control(name); }

    // Selects member index of an option-button array of count members,
    // clearing the others.
    void select(std::string_view array, int index, int count);

    std::string text(std::string_view name) const override { return control(name).text; }
    void setText(std::string_view name, std::string_view text) override { control(name).text = text; }
    std::string caption(std::string_view name) const override { return control(name).caption; }
    void setCaption(std::string_view name, std::string_view caption) override { control(name).caption = caption; }
    int value(std::string_view name) const override { return control(name).value; }
    void setValue(std::string_view name, int value) override { control(name).value = value; }
    bool enabled(std::string_view name) const override { return control(name).enabled; }
    void setEnabled(std::string_view name, bool enabled) override { control(name).enabled = enabled; }
    void setForeColor(std::string_view name, uint32_t color) override { control(name).foreColor = color; }

    std::optional<double> parseNumber(std::string_view text) const override;
    std::string formatNumber(double value) const override;

protected:
    // Called for a name the table does not hold; the control is then made.
    virtual void unknownControl(std::string_view name) const { (void)name; }

private:
    Control& control(std::string_view name) const;

    char m_decimal;
    mutable std::map<std::string, Control, std::less<>> m_controls;
};

} // namespace audimera
