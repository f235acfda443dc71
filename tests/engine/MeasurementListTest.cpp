// The measurement list's edits: the names each leaves, whether the last
// delete can then be undone, and whether it counted as a change.
#include "engine/MeasurementList.h"

#include <gtest/gtest.h>
#include <functional>

namespace audimera {

TEST(MeasurementListTest, EditsLeaveTheirNamesAndCountAsChanges)
{
    using L = MeasurementList;
    const auto made = [](const char* name, const char* date) { SessionMeasurement m; m.name = name, m.date = date; return m; };
    const std::string abc = "Log sweep 21:30:05,B,C";
    const struct {
        const char* what;
        std::function<bool(L&)> apply; // true when it answered as it should
        std::string names;
        bool canUndo, counts;
    } edits[] = {
        {"added", [](L&) { return true; }, abc, false, false},
        {"renamed", [](L& l) { return l.rename(2, "W").ok(); }, "Log sweep 21:30:05,W,C", false, true},
        {"an empty name", [](L& l) { return !l.rename(2, "").ok(); }, abc, false, false},
        {"noted", [](L& l) { return l.setNote(3, "on axis").ok() && l.find(3)->data.note == "on axis"; }, abc, false, true},
        {"no such id", [](L& l) { return !l.remove(9).ok() && !l.setNote(9, "x").ok() && !l.find(9); }, abc, false, false},
        {"removed", [](L& l) { return l.remove(2).ok(); }, "Log sweep 21:30:05,C", true, true},
        {"undone, back at its place", [](L& l) { return l.remove(2).ok() && l.undoRemove() && l.find(2); }, abc, false, true},
        {"nothing to undo", [](L& l) { return !l.undoRemove(); }, abc, false, false},
        {"replaced, the undo forgotten",
         [&](L& l) { return l.remove(1).ok() && (l.replace({made("", "2026-12-10T07:00:00+01:00")}), true); },
         "Log sweep 07:00:00", false, true},
    };
    for (const auto& e : edits) {
        MeasurementList list;
        for (const SessionMeasurement& m : {made("", "2026-12-09T21:30:05+01:00"), made("B", ""), made("C", "")})
            list.add(m);
        const std::uint64_t before = list.changes();
        EXPECT_TRUE(e.apply(list)) << e.what;
        std::string names;
        for (const Measurement& m : list.items())
            names += (names.empty() ? "" : ",") + m.data.name;
        EXPECT_EQ(names, e.names) << e.what;
        EXPECT_EQ(list.canUndo(), e.canUndo) << e.what;
        EXPECT_EQ(list.changes() > before, e.counts) << e.what;
    }
}

} // namespace audimera
