// The measurement list's edits: the names each leaves, whether the last
// delete can then be undone, and whether it counted as a change.
#include "engine/MeasurementList.h"

#include <gtest/gtest.h>

#include <functional>

namespace audimera {

TEST(MeasurementListTest, EditsLeaveTheirNamesAndCountAsChanges)
{
    using L = MeasurementList;
    struct Edit {
        const char* what;
        std::function<bool(L&)> apply; // true when it answered as it should
        const char* names;
        bool canUndo, counts;
    };
    const std::vector<Edit> edits = {
        {"added", [](L&) { return true; }, "Log sweep 21:30:05,B,C", false, false},
        {"renamed", [](L& l) { return l.rename(2, "Woofer").ok(); }, "Log sweep 21:30:05,Woofer,C", false, true},
        {"an empty name", [](L& l) { return !l.rename(2, "").ok(); }, "Log sweep 21:30:05,B,C", false, false},
        {"noted", [](L& l) { return l.setNote(3, "on axis").ok() && l.find(3)->data.note == "on axis"; },
         "Log sweep 21:30:05,B,C", false, true},
        {"no such id", [](L& l) { return !l.remove(9).ok() && !l.setNote(9, "x").ok() && !l.find(9); },
         "Log sweep 21:30:05,B,C", false, false},
        {"removed", [](L& l) { return l.remove(2).ok(); }, "Log sweep 21:30:05,C", true, true},
        {"undone, back at its place", [](L& l) { return l.remove(2).ok() && l.undoRemove() && l.find(2); },
         "Log sweep 21:30:05,B,C", false, true},
        {"nothing to undo", [](L& l) { return !l.undoRemove(); }, "Log sweep 21:30:05,B,C", false, false},
        {"replaced, the undo forgotten", [](L& l) {
             l.remove(1);
             l.replace({SessionMeasurement{.date = "2026-12-10T07:00:00+01:00"}});
             return true;
         }, "Log sweep 07:00:00", false, true},
    };
    for (const Edit& e : edits) {
        MeasurementList list;
        list.add({.date = "2026-12-09T21:30:05+01:00"});
        list.add({.name = "B"});
        list.add({.name = "C"});
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
