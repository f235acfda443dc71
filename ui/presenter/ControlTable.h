// The main window's controls as the user first sees them, written once: for
// each control its name, kind, first caption (or text), first state and tool
// tip, and the frame or menu that holds it. The window builds its widgets
// from this table (the layout is the window's own), the headless panel
// starts from it, and the start-up test checks the window against it.
//
// Plain constant data, no toolkit; readable from any thread.
#pragma once

#include "engine/PlotSettings.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace audimera {

class Panel;

enum class ControlKind {
    Frame,         // a group box; caption is its title
    Button,        // a push button
    PictureButton, // a small browse button ("...")
    Option,        // an option button of an array; value 1 when selected
    TextBox,       // a one-line text box; caption is its text
    Label,
    ScrollBar,     // horizontal; value between minimum and maximum
    CheckBox,      // value 0 unchecked, 1 checked
    List,          // a drop-down list of items; value is the selected index, -1 none
    Menu,          // a menu of the menu bar, or a submenu of parent
    MenuEntry,
    MenuTick,      // a menu entry that carries a tick; value 1 when ticked
    Separator,     // a menu separator
};

struct ControlRow {
    std::string_view name{}; // its objectName; members of arrays "OptionSigGen(3)"
    ControlKind kind = ControlKind::Label;
    // The frame or menu holding it; empty: the window (menus: the menu bar).
    std::string_view parent{};
    std::string_view caption{};
    // Shown after the caption with two decimals in the user's locale.
    std::optional<double> captionNumber{};
    int value = 0;
    int minimum = 0; // scroll bars only
    int maximum = 0;
    bool enabled = true;
    std::string_view toolTip{};
    // Text colour (red + 256 * green + 65536 * blue); none: the style's own.
    std::optional<uint32_t> foreColor{};
    std::span<const ListItem> items{};
};

class ControlTable {
public:
    static constexpr const auto& DBRangeItems = PlotSettings::DBRangeItems;
    static constexpr const auto& SmoothItems = PlotSettings::SmoothItems;

    // Every control, frames in the order of the window, then the menus with
    // their entries in menu order.
    static std::span<const ControlRow> rows();

    // The row of the control called name, or nullptr.
    static const ControlRow* find(std::string_view name);

    // The first caption (or text) as shown: the number, if any, written by
    // panel in the user's locale.
    static std::string caption(const ControlRow& row, const Panel& panel);
};

} // namespace audimera
