// The automatic EQ fit on synthetic responses (peaking filters of known
// shape laid on a flat line): what it flattens within its limits, that it
// is deterministic, where it places the targets, and what it refuses.
#include "engine/EqDesign.h"
#include "tests/support/TestFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace audimera {

namespace {

constexpr double Rate = 48000;

EqFilter peak(double hz, double gainDb, double q)
{
    EqFilter f;
    f.hz = hz;
    f.gainDb = gainDb;
    f.q = q;
    return f;
}

// A trace at 1/48 octave from 10 Hz to 21 kHz: level plus the filters.
std::vector<CurvePoint> traceOf(const std::vector<EqFilter>& room, double level = 0)
{
    std::vector<CurvePoint> trace;
    for (double f = 10; f <= 21000; f *= std::exp2(1.0 / 48))
        trace.push_back({f, level + eqGainDb(room, f, Rate)});
    return trace;
}

EqFitSettings with(const std::function<void(EqFitSettings&)>& change)
{
    EqFitSettings s;
    change(s);
    return s;
}

} // namespace

TEST(EqDesignTest, FlattensWhatTheLimitsAllow)
{
    struct Case {
        const char* what;
        std::vector<EqFilter> room;
        double maxBoostDb;
        std::optional<double> levelDb;
        double withinDb;          // over 20-300 Hz, on the trace itself
        std::size_t mostFilters;
    };
    const Case cases[] = {
        {"three room modes", {peak(42, 10, 7), peak(71, 10, 5), peak(115, 10, 9)}, 3, {}, 1.5, 10},
        {"sharper modes and a dip", {peak(42, 10, 10), peak(90, -3, 3), peak(160, 8, 6)}, 3, {}, 1.5, 10},
        // Cuts only: the dip stays, nothing else moves.
        {"a dip only a boost could fill", {peak(60, -12, 4)}, 0, 0.0, 12.1, 0},
    };
    for (const Case& c : cases) {
        const std::vector<CurvePoint> trace = traceOf(c.room);
        EqTarget target;
        target.levelDb = c.levelDb;
        const EqFitSettings settings = with([&](EqFitSettings& s) { s.maxBoostDb = c.maxBoostDb; });
        const Result<EqFit> fit = fitEq(trace, target, settings);
        ASSERT_TRUE(fit) << c.what << ": " << fit.message();
        double worst = 0;
        for (const CurvePoint& p : predictedResponse(trace, fit->filters, Rate))
            if (p.frequency >= 20 && p.frequency <= 300)
                worst = std::max(worst, std::abs(p.level - targetLevelAt(target, fit->targetLevelDb, p.frequency)));
        std::printf("%s: %zu filters; residual RMS %.2f dB, max %.2f dB smoothed (before %.2f, %.2f), max %.2f dB on "
                    "the trace\n",
                    c.what, fit->filters.size(), fit->rmsDb, fit->maxDb, fit->rmsBeforeDb, fit->maxBeforeDb, worst);
        EXPECT_LE(fit->filters.size(), c.mostFilters) << c.what;
        EXPECT_LE(worst, c.withinDb) << c.what;
        EXPECT_LE(fit->maxDb, c.withinDb) << c.what;
        for (const EqFilter& f : fit->filters) {
            EXPECT_LE(f.gainDb, c.maxBoostDb + 1e-12) << c.what;
            EXPECT_GE(std::abs(f.gainDb), EqFitSettings::DropBelowDb) << c.what;
            EXPECT_GE(f.q, EqFitSettings::MinQ - 1e-12) << c.what;
            EXPECT_LE(f.q, EqFitSettings::MaxQ + 1e-12) << c.what;
        }
    }
}

TEST(EqDesignTest, SameInputGivesTheSameFilters)
{
    std::vector<CurvePoint> trace = traceOf({peak(42, 10, 7), peak(71, 10, 5), peak(600, -5, 2), peak(1500, 6, 4)});
    const EqFitSettings settings = with([](EqFitSettings& s) { s.highHz = 2000; });
    const Result<EqFit> first = fitEq(trace, {}, settings);
    // The points in another order are the same response.
    std::reverse(trace.begin(), trace.end());
    const Result<EqFit> again = fitEq(trace, {}, settings);
    ASSERT_TRUE(first && again);
    EXPECT_FALSE(first->filters.empty());
    EXPECT_EQ(first->filters, again->filters);
}

TEST(EqDesignTest, PlacesTheTargets)
{
    const std::string house = testFile("house.txt");
    spit(house, "* a house curve\n20 6\n100 0\n1000 0\n10000 -4\n");
    EqTarget fromFile;
    ASSERT_TRUE(loadHouseCurve(house, fromFile));
    EqTarget tilt;
    tilt.kind = EqTarget::Kind::Shape;
    tilt.tiltDbPerOctave = -1;
    EqTarget shelf = tilt;
    shelf.tiltDbPerOctave = 0;
    shelf.bassShelfDb = 6;
    shelf.levelDb = -3;
    struct Case {
        const char* what;
        EqTarget target;
        double lowHz, highHz;
        double placedDb;
        std::vector<CurvePoint> expected; // where the placed target lies
    };
    // The trace is flat at 5 dB.
    const Case cases[] = {
        {"a tilt, at the trace's mean", tilt, 250, 4000, 5, {{1000, 5}, {2000, 4}, {250, 7}}},
        {"a bass shelf, at the level set", shelf, 20, 500, -3, {{20, 2.99}, {100, 0}, {1000, -3}}},
        {"a house curve, at the trace's mean", fromFile, 100, 1000, 5,
         {{5, 11}, {20, 11}, {std::sqrt(2000.0), 8}, {std::sqrt(1e7), 3}, {20000, 1}}},
    };
    for (const Case& c : cases) {
        const EqFitSettings settings = with([&](EqFitSettings& s) { s.lowHz = c.lowHz, s.highHz = c.highHz; });
        const Result<EqFit> fit = fitEq(traceOf({}, 5), c.target, settings);
        ASSERT_TRUE(fit) << c.what << ": " << fit.message();
        EXPECT_NEAR(fit->targetLevelDb, c.placedDb, 1e-9) << c.what;
        for (const CurvePoint& p : c.expected)
            EXPECT_NEAR(targetLevelAt(c.target, fit->targetLevelDb, p.frequency), p.level, 0.02)
                << c.what << " at " << p.frequency << " Hz";
    }
    // A house curve that does not read leaves the target as it was.
    spit(house, "20 6\n100 abc\n");
    EqTarget kept;
    EXPECT_EQ(loadHouseCurve(house, kept).kind(), Failure::BadInput);
    EXPECT_EQ(loadHouseCurve(house + ".none", kept).kind(), Failure::File);
    EXPECT_EQ(kept.kind, EqTarget::Kind::Flat);
}

TEST(EqDesignTest, RefusesWhatCannotBeFitted)
{
    const std::vector<CurvePoint> good = traceOf({peak(60, 6, 4)});
    std::vector<CurvePoint> nanLevel = good, infFrequency = good, sparse, fromFifty;
    nanLevel[100].level = std::numeric_limits<double>::quiet_NaN();
    infFrequency[5].frequency = std::numeric_limits<double>::infinity();
    for (double f = 10; f < 21000; f *= 2)
        sparse.push_back({f, 0});
    std::copy_if(good.begin(), good.end(), std::back_inserter(fromFifty),
                 [](const CurvePoint& p) { return p.frequency >= 50; });
    EqTarget emptyHouse;
    emptyHouse.kind = EqTarget::Kind::File;
    struct Case {
        const char* what;
        const std::vector<CurvePoint>& trace;
        EqTarget target;
        EqFitSettings settings;
        const char* says;
    };
    const Case cases[] = {
        {"one point an octave", sparse, {}, {}, "points in the fit range"},
        {"a level not a number", nanLevel, {}, {}, "not a number at its point 101"},
        {"an infinite frequency", infFrequency, {}, {}, "not a number at its point 6"},
        {"below 20 Hz", good, {}, with([](EqFitSettings& s) { s.lowHz = 10; }), "within 20 Hz to 20 kHz"},
        {"above 20 kHz", good, {}, with([](EqFitSettings& s) { s.highHz = 20500; }), "within 20 Hz to 20 kHz"},
        {"low above high", good, {}, with([](EqFitSettings& s) { s.lowHz = 600; }), "within 20 Hz to 20 kHz"},
        {"beyond half the rate", good, {}, with([](EqFitSettings& s) { s.rate = 32000, s.highHz = 16000; }),
         "below half the sample rate"},
        {"outside the trace", fromFifty, {}, {}, "outside the trace"},
        {"no filters", good, {}, with([](EqFitSettings& s) { s.filters = 0; }), "number of filters"},
        {"21 filters", good, {}, with([](EqFitSettings& s) { s.filters = 21; }), "number of filters"},
        {"a boost not a number", good, {}, with([](EqFitSettings& s) { s.maxBoostDb = std::nan(""); }), "maximum boost"},
        {"a negative cut", good, {}, with([](EqFitSettings& s) { s.maxCutDb = -1; }), "maximum cut"},
        {"neither boost nor cut", good, {}, with([](EqFitSettings& s) { s.maxBoostDb = s.maxCutDb = 0; }),
         "no filter can be fitted"},
        {"a house curve without points", good, emptyHouse, {}, "no points"},
    };
    for (const Case& c : cases) {
        const Result<EqFit> fit = fitEq(c.trace, c.target, c.settings);
        EXPECT_EQ(fit.kind(), Failure::BadInput) << c.what;
        EXPECT_NE(fit.message().find(c.says), std::string::npos) << c.what << ": " << fit.message();
    }
}

} // namespace audimera
