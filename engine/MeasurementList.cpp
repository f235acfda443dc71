#include "engine/MeasurementList.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <ctime>

namespace audimera {

namespace {

Error noSuch(int id)
{
    return Error::of(Failure::BadInput, "There is no measurement " + std::to_string(id));
}

} // namespace

std::string MeasurementList::now()
{
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
    // strftime gives +hhmm; ISO 8601's extended form is +hh:mm.
    std::string date = text;
    if (date.size() == 24)
        date.insert(22, ":");
    return date;
}

std::string MeasurementList::defaultName(const std::string& date)
{
    // "YYYY-MM-DDTHH:MM:SS...": the time is characters 11 to 18.
    if (date.size() >= 19 && date[10] == 'T')
        return "Log sweep " + date.substr(11, 8);
    return "Log sweep";
}

Measurement* MeasurementList::at(int id)
{
    for (Measurement& m : m_items)
        if (m.id == id)
            return &m;
    return nullptr;
}

int MeasurementList::add(SessionMeasurement m)
{
    if (m.name.empty())
        m.name = defaultName(m.date);
    m_items.push_back({m_nextId, std::move(m)});
    ++m_changes;
    return m_nextId++;
}

const Measurement* MeasurementList::find(int id) const
{
    return const_cast<MeasurementList*>(this)->at(id);
}

Status MeasurementList::rename(int id, const std::string& name)
{
    Measurement* m = at(id);
    if (!m)
        return noSuch(id);
    if (name.empty())
        return Error::of(Failure::BadInput, "A measurement needs a name");
    m->data.name = name;
    ++m_changes;
    return {};
}

Status MeasurementList::setNote(int id, const std::string& note)
{
    Measurement* m = at(id);
    if (!m)
        return noSuch(id);
    m->data.note = note;
    ++m_changes;
    return {};
}

Status MeasurementList::remove(const std::vector<int>& ids)
{
    for (int id : ids)
        if (!find(id))
            return noSuch(id);
    std::vector<Removed> removed;
    for (std::size_t i = 0; i < m_items.size(); ++i)
        if (std::find(ids.begin(), ids.end(), m_items[i].id) != ids.end())
            removed.push_back({std::move(m_items[i]), i});
    if (removed.empty())
        return {};
    std::erase_if(m_items, [&](const Measurement& m) { return std::find(ids.begin(), ids.end(), m.id) != ids.end(); });
    m_removed = std::move(removed);
    ++m_changes;
    return {};
}

bool MeasurementList::undoRemove()
{
    if (m_removed.empty())
        return false;
    // By their old places, lowest first: each goes back where it stood.
    for (Removed& r : m_removed) {
        const std::size_t index = std::min(r.index, m_items.size());
        m_items.insert(m_items.begin() + static_cast<std::ptrdiff_t>(index), std::move(r.item));
    }
    m_removed.clear();
    ++m_changes;
    return true;
}

Result<int> MeasurementList::average(const std::vector<int>& ids, AverageMode mode, bool align)
{
    if (ids.size() < 2)
        return Error::of(Failure::BadInput, "An average needs at least two measurements");
    std::vector<const Measurement*> chosen;
    for (int id : ids) {
        const Measurement* m = find(id);
        if (!m)
            return noSuch(id);
        chosen.push_back(m);
    }
    const int rate = chosen.front()->data.rate;
    for (const Measurement* m : chosen)
        if (m->data.rate != rate || m->data.impulse.empty())
            return Error::of(Failure::BadInput, "Only measurements of one rate, each with its impulse response, average");

    // Each one's own alignment (never applied to its recording) as a shift;
    // aligned: each lined up with the first as that one stands.
    const bool aligned = align && mode == AverageMode::Vector;
    std::vector<std::vector<float>> impulses;
    std::vector<double> shifts;
    const double first = chosen.front()->data.alignMs * rate / 1000.0;
    for (const Measurement* m : chosen) {
        impulses.push_back(m->data.impulse);
        if (!aligned) {
            shifts.push_back(m->data.alignMs * rate / 1000.0);
            continue;
        }
        Result<Alignment> d = TimeAlignment::delay(chosen.front()->data.impulse, m->data.impulse, rate);
        if (!d)
            return d.error();
        shifts.push_back(first - d->delaySamples);
    }
    Result<std::vector<float>> averaged = ResponseAverage::ofImpulses(impulses, rate, mode, shifts);
    if (!averaged)
        return averaged.error();

    SessionMeasurement a;
    a.kind = "average";
    a.date = now();
    a.averageOf = static_cast<int>(chosen.size());
    a.averageMode = averageModeName(mode) + (aligned ? " aligned" : "");
    a.name = "Average of " + std::to_string(a.averageOf) + " (" + a.averageMode + ")";
    a.rate = rate;
    a.impulse = std::move(*averaged);
    // The devices where all agree.
    const SessionMeasurement& f = chosen.front()->data;
    const bool sameDevices = std::all_of(chosen.begin(), chosen.end(), [&](const Measurement* m) {
        return m->data.playDevice == f.playDevice && m->data.recordDevice == f.recordDevice
            && m->data.playRate == f.playRate && m->data.recordRate == f.recordRate;
    });
    if (sameDevices) {
        a.playDevice = f.playDevice;
        a.recordDevice = f.recordDevice;
        a.playRate = f.playRate;
        a.recordRate = f.recordRate;
    }
    nlohmann::json of = nlohmann::json::array();
    for (const Measurement* m : chosen)
        of.push_back(m->data.name);
    nlohmann::json settings = {{"averageOf", of}, {"mode", a.averageMode}};
    if (std::any_of(chosen.begin(), chosen.end(), [](const Measurement* m) { return untimed(m->data); }))
        settings["untimed"] = true;
    a.settingsJson = settings.dump();
    return add(std::move(a));
}

Result<std::vector<Alignment>> MeasurementList::delays(int reference, const std::vector<int>& ids,
                                                       const AlignmentBand& band) const
{
    const Measurement* ref = find(reference);
    if (!ref)
        return noSuch(reference);
    std::vector<Alignment> out;
    for (int id : ids) {
        const Measurement* m = find(id);
        if (!m)
            return noSuch(id);
        if (m->data.rate != ref->data.rate)
            return Error::of(Failure::BadInput, "'" + m->data.name + "' is at another rate than '" + ref->data.name + "'");
        Result<Alignment> d = TimeAlignment::delay(ref->data.impulse, m->data.impulse, ref->data.rate, band);
        if (!d)
            return d.error();
        out.push_back(*d);
    }
    return out;
}

bool MeasurementList::untimed(const SessionMeasurement& m)
{
    if (m.kind != "logsweep" && m.kind != "average")
        return false;
    const nlohmann::json j = nlohmann::json::parse(m.settingsJson, nullptr, false);
    if (!j.is_object())
        return false;
    if (m.kind == "average")
        return j.value("untimed", false);
    const auto reference = j.find("reference");
    return reference != j.end() && *reference == "none";
}

std::string MeasurementList::timingCaveat(int reference, const std::vector<int>& ids) const
{
    std::vector<int> all = {reference};
    for (int id : ids)
        if (std::find(all.begin(), all.end(), id) == all.end())
            all.push_back(id);
    if (all.size() < 2)
        return {};
    std::vector<std::string> names;
    for (int id : all)
        if (const Measurement* m = find(id); m && untimed(m->data))
            names.push_back("'" + m->data.name + "'");
    if (names.empty())
        return {};
    constexpr std::size_t Named = 3;
    std::string text = names.front();
    for (std::size_t i = 1; i < std::min(names.size(), Named); ++i)
        text += (i + 1 == names.size() ? " and " : ", ") + names[i];
    if (names.size() > Named)
        text += " and " + std::to_string(names.size() - Named) + " more";
    return text + (names.size() == 1 ? " was" : " were")
         + " measured without a loopback reference: the delays include when the sound server started the "
           "streams, which can move by a few ms from one sweep to the next";
}

Status MeasurementList::align(int reference, const std::vector<int>& ids, const AlignmentBand& band)
{
    // All or none: every delay is found before any is applied.
    Result<std::vector<Alignment>> found = delays(reference, ids, band);
    if (!found)
        return found.error();
    // Relative to the reference as it stands (its own alignMs, 0 unless it
    // was lined up with another before).
    const double base = find(reference)->data.alignMs;
    // The reference itself keeps its own, whatever rounding its delay to
    // itself gives.
    for (std::size_t i = 0; i < ids.size(); ++i)
        at(ids[i])->data.alignMs = ids[i] == reference ? base : base - (*found)[i].delayMs;
    ++m_changes;
    return {};
}

void MeasurementList::replace(std::vector<SessionMeasurement> measurements)
{
    m_items.clear();
    m_removed.clear();
    for (SessionMeasurement& m : measurements) {
        if (m.name.empty())
            m.name = defaultName(m.date);
        m_items.push_back({m_nextId++, std::move(m)});
    }
    ++m_changes;
}

} // namespace audimera
