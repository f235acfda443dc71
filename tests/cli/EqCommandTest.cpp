// audimera-measure eq: a run that writes every output, and the input it
// refuses without writing anything.
#include "curves/CurveFile.h"
#include "curves/ExchangeFiles.h"
#include "curves/ImpulseFile.h"
#include "signal/EqFilter.h"
#include "tests/cli/CommandRun.h"
#include "tests/support/TestFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <numbers>

namespace audimera {

namespace {

// "frequency level" lines, 1/48 octave from lo to hi Hz, level 75 dB.
std::string flatCurve(double lo, double hi)
{
    std::string text;
    for (double hz = lo; hz <= hi; hz *= std::exp2(1.0 / 48))
        text += CurveFile::record(hz, 75) + "\n";
    return text;
}

TEST(EqCommandTest, ThreeRoomModesGiveFiltersAndEveryFile)
{
    TestFolder folder;
    // +10 dB modes on a flat 75 dB, with their phase, 1/48 octave.
    const std::vector<EqFilter> modes = {{EqFilter::Type::Peaking, 42, 10, 5},
                                         {EqFilter::Type::Peaking, 71, 10, 8},
                                         {EqFilter::Type::Peaking, 115, 10, 10}};
    std::vector<ResponsePoint> trace;
    for (double hz = 10; hz <= 20000; hz *= std::exp2(1.0 / 48))
        trace.push_back({hz, 75 + eqGainDb(modes, hz, 48000),
                         std::arg(eqResponse(modes, hz, 48000)) * 180 / std::numbers::pi});
    const std::string frd = folder.file("room.frd");
    ASSERT_TRUE(ExchangeFiles::writeFrd(frd, trace).ok());
    const Outcome r = measure({"eq", frd, "--range", "20", "300", "--apo", folder.file("eq.txt"), "--camilladsp",
                               folder.file("eq.yml"), "--pipewire", folder.file("eq.conf"), "--fir",
                               folder.file("eq.wav"), "--predicted", folder.file("eq.frd")});
    ASSERT_EQ(r.code, MeasureCommand::Measured) << r.err;
    std::cout << r.out;
    EXPECT_EQ(r.out.rfind(" #  type", 0), 0u);
    EXPECT_NE(r.out.find("\nResidual 20-300 Hz: RMS "), std::string::npos);
    // A table row per filter line of the text.
    const std::string apo = slurp(folder.file("eq.txt"));
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n') - 3, std::count(apo.begin(), apo.end(), '\n') - 1) << apo;
    EXPECT_NE(slurp(folder.file("eq.conf")).find("audimera_eq"), std::string::npos);
    EXPECT_NE(slurp(folder.file("eq.yml")).find("pipeline:"), std::string::npos);
    const Result<ImpulseFile::Impulse> taps = ImpulseFile::read(folder.file("eq.wav"));
    ASSERT_TRUE(taps.ok()) << taps.message();
    EXPECT_EQ(taps->samples.size(), 16384u);
    EXPECT_EQ(taps->rate, 48000);
    std::vector<ResponsePoint> predicted;
    ASSERT_TRUE(CurveFile::read(folder.file("eq.frd"), trace.size(), predicted).ok());
    EXPECT_EQ(predicted.size(), trace.size());
}

TEST(EqCommandTest, InputTheFitCannotUseIsRefusedAndNothingIsWritten)
{
    struct Case {
        const char* name;
        std::string trace; // the trace file's text; none: no file
        std::vector<std::string> args;
        int code;
        const char* says;
    };
    const std::string flat = flatCurve(20, 20000);
    const Case cases[] = {
        {"NaN in the trace", "20 75\n30 nan\n40 75\n", {}, MeasureCommand::BadUsage, "not a number"},
        {"a target that does not parse", flat, {"--target", "target.txt"}, MeasureCommand::BadUsage, "Bad target"},
        {"too few points in the range", "20 75\n300 75\n", {"--range", "20", "300"}, MeasureCommand::BadUsage, "points"},
        {"a range outside the trace", flatCurve(100, 10000), {"--range", "20", "300"}, MeasureCommand::BadUsage, "range"},
        {"no trace file", "", {}, MeasureCommand::FileError, "Error loading file"},
        {"an output in no folder", flat, {"--pipewire", "none/eq.conf"}, MeasureCommand::FileError, "none/eq.conf"},
    };
    for (const Case& c : cases) {
        TestFolder folder;
        const std::string trace = folder.file("trace.txt"), apo = folder.file("eq.txt"), fir = folder.file("eq.wav");
        if (!c.trace.empty())
            spit(trace, c.trace);
        spit(folder.file("target.txt"), "100 0\n200 abc\n");
        std::vector<std::string> args{"eq", trace, "--apo", apo, "--fir", fir};
        for (const std::string& a : c.args)
            args.push_back(a.find('.') != std::string::npos ? folder.file(a) : a);
        const Outcome r = measure(args);
        EXPECT_EQ(r.code, c.code) << c.name << ": " << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.name << ": " << r.err;
        EXPECT_FALSE(std::filesystem::exists(apo) || std::filesystem::exists(fir)) << c.name;
    }
}

} // namespace

} // namespace audimera
