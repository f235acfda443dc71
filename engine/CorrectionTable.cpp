#include "engine/CorrectionTable.h"

#include "curves/DataFolder.h"

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

audimera::Status CorrectionTable::load(int index, const std::string& path)
{
    return CorrectionCurve::load(DataFolder::locate(path, m_dataFolder), column(index), &m_sensitivity[index]);
}

} // namespace audimera
