// The measurement list's edits: the names each leaves, whether the last
// delete can then be undone, and whether it counted as a change; and which
// delays it flags as untimed.
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
        {"two removed at once", [](L& l) { return l.remove(std::vector<int>{1, 3}).ok(); }, "B", true, true},
        {"both undone, each at its place",
         [](L& l) { return l.remove(std::vector<int>{3, 1}).ok() && l.undoRemove() && !l.canUndo(); }, abc, false, true},
        {"one not listed: none removed", [](L& l) { return !l.remove(std::vector<int>{1, 9}).ok(); }, abc, false, false},
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

TEST(MeasurementListTest, DelaysOfSweepsWithoutAReferenceAreFlagged)
{
    const auto made = [](const char* name, const char* kind, const char* settings) {
        SessionMeasurement m;
        m.name = name, m.kind = kind, m.settingsJson = settings, m.rate = 48000;
        m.impulse.assign(4096, 0.0f);
        m.impulse[100] = 1;
        return m;
    };
    MeasurementList list;
    const int timed = list.add(made("R", "logsweep", R"({"reference":"right"})"));
    const int timed2 = list.add(made("L", "logsweep", R"({"reference":"left"})"));
    const int file = list.add(made("F", "impulse", ""));
    const int bare = list.add(made("A", "logsweep", R"({"reference":"none"})"));
    const int bare2 = list.add(made("B", "logsweep", R"({"reference":"none"})"));
    const Result<int> mixed = list.average({timed, bare}, AverageMode::Rms, false);
    const Result<int> clean = list.average({timed, timed2}, AverageMode::Rms, false);
    ASSERT_TRUE(mixed.ok() && clean.ok());
    const struct {
        int reference;
        std::vector<int> ids;
        const char* names; // those the caveat names, "" for none
    } cases[] = {
        {timed, {timed2, file, *clean}, ""},
        {bare, {bare}, ""}, // a measurement against itself
        {timed, {bare}, "'A' was"},
        {bare, {timed, bare2}, "'A' and 'B' were"},
        {timed, {*mixed}, "'Average of 2 (rms)' was"},
    };
    for (const auto& c : cases) {
        const std::string caveat = list.timingCaveat(c.reference, c.ids);
        EXPECT_EQ(caveat.substr(0, std::string(c.names).size()), c.names) << caveat;
        EXPECT_EQ(caveat.empty(), *c.names == 0) << caveat;
    }
}

} // namespace audimera
