#include "engine/MeasurementList.h"

namespace audimera {

// Placeholders until the list is built.
int MeasurementList::add(SessionMeasurement m)
{
    m_items.push_back({m_nextId, std::move(m)});
    ++m_changes;
    return m_nextId++;
}

const Measurement* MeasurementList::find(int id) const
{
    for (const Measurement& m : m_items)
        if (m.id == id)
            return &m;
    return nullptr;
}

Status MeasurementList::rename(int, const std::string&) { return Error::of(Failure::Other, "not built yet"); }
Status MeasurementList::setNote(int, const std::string&) { return Error::of(Failure::Other, "not built yet"); }
Status MeasurementList::remove(int) { return Error::of(Failure::Other, "not built yet"); }
bool MeasurementList::undoRemove() { return false; }
Result<int> MeasurementList::average(const std::vector<int>&, AverageMode, bool) { return Error::of(Failure::Other, "not built yet"); }
Result<std::vector<Alignment>> MeasurementList::delays(int, const std::vector<int>&, const AlignmentBand&) const
{
    return Error::of(Failure::Other, "not built yet");
}
Status MeasurementList::align(int, const std::vector<int>&, const AlignmentBand&) { return Error::of(Failure::Other, "not built yet"); }

void MeasurementList::replace(std::vector<SessionMeasurement> measurements)
{
    m_items.clear();
    m_removed.reset();
    for (SessionMeasurement& m : measurements)
        m_items.push_back({m_nextId++, std::move(m)});
    ++m_changes;
}

} // namespace audimera
