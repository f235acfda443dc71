#include "ui/presenter/PanelTable.h"

#include "ui/presenter/ControlTable.h"

#include <charconv>

namespace audimera {

PanelTable::PanelTable(char decimal) : m_decimal(decimal)
{
    for (const ControlRow& row : ControlTable::rows()) {
        Control& c = m_controls[std::string(row.name)];
        (row.kind == ControlKind::TextBox ? c.text : c.caption) = ControlTable::caption(row, *this);
        c.value = row.value;
        c.enabled = row.enabled;
        c.foreColor = row.foreColor.value_or(0);
    }
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

} // namespace audimera
