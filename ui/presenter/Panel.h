// The main window's controls as the engine sees them: addressed by their
// names ("TextStart", "HScrollStep", "LabelDB", "OptionSigGen(3)", ...).
// The window implements this over its widgets, tests over a plain table.
//
// UI thread only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace audimera {

class Panel {
public:
    virtual ~Panel() = default;

    // Text boxes.
    virtual std::string text(std::string_view name) const = 0;
    virtual void setText(std::string_view name, std::string_view text) = 0;

    // Labels, buttons, menu entries, frames.
    virtual std::string caption(std::string_view name) const = 0;
    virtual void setCaption(std::string_view name, std::string_view caption) = 0;

    // Scroll bars (their position), check boxes (0 unchecked, 1 checked,
    // 2 greyed), option buttons and menu ticks (1 selected, 0 not).
    virtual int value(std::string_view name) const = 0;
    virtual void setValue(std::string_view name, int value) = 0;

    virtual bool enabled(std::string_view name) const = 0;
    virtual void setEnabled(std::string_view name, bool enabled) = 0;

    // Text colour of a label, as red + 256 * green + 65536 * blue.
    virtual void setForeColor(std::string_view name, uint32_t color) = 0;

    // A line of progress outside the documented controls (a status bar);
    // empty clears it.
    virtual void setStatusText(std::string_view text) { (void)text; }

    // A number typed by the user, read in the user's locale; nullopt when
    // the text is not a number.
    virtual std::optional<double> parseNumber(std::string_view text) const = 0;

    // A number for display with two decimals ("0.00") in the user's locale.
    virtual std::string formatNumber(double value) const = 0;
};

// The name of member index of a control array: "OptionSigGen(3)".
inline std::string controlName(std::string_view array, int index)
{
    return std::string(array) + "(" + std::to_string(index) + ")";
}

} // namespace audimera
