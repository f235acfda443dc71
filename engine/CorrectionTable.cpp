#include "engine/CorrectionTable.h"

#include "curves/DataFolder.h"

#include <charconv>
#include <cmath>

namespace audimera {

CorrectionTable::CorrectionTable()
    : m_values(static_cast<size_t>(Count) * Entries), m_dataFolder(DataFolder::installed())
{
}

double CorrectionTable::levelAt(double frequency) const
{
    int k = CorrectionCurve::entryOf(frequency);
    if (k < 0)
        k = 0;
    if (k >= Entries)
        k = Entries - 1;
    double sum = 0;
    for (int i = 0; i < Count; ++i)
        if (enabled[i])
            sum += column(i)[k];
    return sum;
}

std::optional<double> CorrectionTable::nonFiniteSumAt() const
{
    for (int k = 0; k < Entries; ++k) {
        double sum = 0;
        for (int i = 0; i < Count; ++i)
            if (enabled[i])
                sum += column(i)[k];
        if (!std::isfinite(sum))
            return k / 2.0;
    }
    return std::nullopt;
}

namespace {

std::string plain(double value)
{
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
    return ec == std::errc() ? std::string(text, end) : std::string("?");
}

} // namespace

std::string CorrectionTable::nonFiniteSumMessage(double frequency)
{
    return "The correction curves add up to a level that is not a finite number at " + plain(frequency)
           + " Hz; the correction is not applied";
}

audimera::Status CorrectionTable::load(int index, const std::string& path)
{
    return CorrectionCurve::load(DataFolder::locate(path, m_dataFolder), column(index), &m_sensitivity[index]);
}

} // namespace audimera
