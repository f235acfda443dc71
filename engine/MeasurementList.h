// The session's measurements: every log sweep and every opened impulse
// response, with its name, note, devices, settings and full impulse
// response, kept until the user deletes it (the last delete can be undone);
// averages of several, and their delays relative to one of them.
//
// A measurement is a SessionMeasurement (engine/SessionFile.h), the same
// record the session file holds, with an id unique within the list.
//
// UI thread only.
#pragma once

#include "common/Result.h"
#include "engine/SessionFile.h"
#include "signal/ResponseAverage.h"
#include "signal/TimeAlignment.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace audimera {

struct Measurement {
    int id = 0;
    SessionMeasurement data;
};

class MeasurementList {
public:
    // Adds m (an empty name becomes "Log sweep HH:MM:SS" of its date) and
    // returns its id.
    int add(SessionMeasurement m);
    const std::vector<Measurement>& items() const { return m_items; }
    const Measurement* find(int id) const;

    Status rename(int id, const std::string& name);
    Status setNote(int id, const std::string& note);
    // Deletes it; undoRemove() puts the last one deleted back where it was.
    Status remove(int id) { return remove(std::vector<int>{id}); }
    // Deletes them all, or none when one is not listed; undoRemove() puts
    // every one back where it was.
    Status remove(const std::vector<int>& ids);
    bool canUndo() const { return !m_removed.empty(); }
    bool undoRemove();

    // Averages the measurements ids (at least two, one rate) into a new
    // measurement named "Average of N (mode)" and returns its id; Vector
    // with align lines each up with the first (by delay()) before.
    Result<int> average(const std::vector<int>& ids, AverageMode mode, bool align);
    // The delay of each of ids relative to reference (in ids' order).
    Result<std::vector<Alignment>> delays(int reference, const std::vector<int>& ids,
                                          const AlignmentBand& band = {}) const;
    // Why those delays cannot be trusted to a fraction of a sample, or "":
    // a log sweep measured without a loopback reference (or an average of
    // one) begins wherever the sound server started its streams, which moves
    // by up to a server block from run to run.
    std::string timingCaveat(int reference, const std::vector<int>& ids) const;
    // Whether m's time zero is its stream's start rather than a loopback
    // reference's (see timingCaveat).
    static bool untimed(const SessionMeasurement& m);
    // Sets each one's alignMs so that it lines up with reference (the
    // recordings are never changed).
    Status align(int reference, const std::vector<int>& ids, const AlignmentBand& band = {});

    // Replaces everything (a session opened); forgets the undo.
    void replace(std::vector<SessionMeasurement> measurements);
    void clear() { replace({}); }

    // Counts every change, for the recovery file and the unsaved-work mark.
    std::uint64_t changes() const { return m_changes; }

    // The local time now in ISO 8601 ("2026-12-09T21:30:05+01:00"), the
    // form a measurement's date takes.
    static std::string now();
    // "Log sweep HH:MM:SS" of such a date ("Log sweep" without a time).
    static std::string defaultName(const std::string& date);

private:
    Measurement* at(int id);

    std::vector<Measurement> m_items;
    struct Removed {
        Measurement item;
        std::size_t index = 0;
    };
    std::vector<Removed> m_removed; // the last delete's, by index
    int m_nextId = 1;
    std::uint64_t m_changes = 0;
};

} // namespace audimera
