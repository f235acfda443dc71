#include "CurveFile.h"
#include "MeasureCommand.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

struct Result {
    int code;
    std::string out, err;
};

Result measure(std::vector<std::string> args)
{
    std::ostringstream out, err;
    const int code = MeasureCommand::run(args, out, err);
    return {code, out.str(), err.str()};
}

std::vector<CurvePoint> parse(const std::string& text)
{
    const std::string path = testing::TempDir() + "/measure-parse.txt";
    std::ofstream(path, std::ios::trunc) << text;
    return CurveFile::read(path, 22051).points;
}

TEST(MeasureCommandTest, UsageAndBadArguments)
{
    Result r = measure({"--help"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("Exit codes"), std::string::npos);
    EXPECT_NE(r.out.find("--simulate CHAIN"), std::string::npos);

    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {},
             {"frobnicate"},
             {"sweep", "--simulate", "", "--step", "1.005"},
             {"sweep", "--simulate", "", "--step", "2.5"},
             {"sweep", "--simulate", "", "--step", "x"},
             {"sweep", "--simulate", "", "--bands", "7"},
             {"sweep", "--simulate", "", "--volume", "3"},
             {"sweep", "--simulate", "", "--range", "20"},
             {"sweep", "--simulate", "", "--range", "20", "2O000"},
             {"sweep", "--simulate", "", "--bands", "15", "--freq-file", "x.txt"},
             {"sweep", "--simulate", "", "--whatever"},
             {"sweep", "--simulate", "bogus=1"},
             {"sweep", "--simulate", "", "--range", "0.5", "20000"},
             {"sweep", "--simulate", "", "--range", "300", "300"},
             {"devices", "--all"},
         }) {
        r = measure(args);
        EXPECT_EQ(r.code, MeasureCommand::BadUsage) << testing::PrintToString(args);
        EXPECT_FALSE(r.err.empty());
        EXPECT_TRUE(r.out.empty());
    }
    r = measure({"sweep", "--simulate", "bogus=1"});
    EXPECT_NE(r.err.find("bogus"), std::string::npos) << r.err;
    r = measure({"sweep", "--simulate", "", "--range", "0.5", "20000"});
    EXPECT_NE(r.err.find("Start frequency minimun: 1 Hz"), std::string::npos) << r.err;
}

TEST(MeasureCommandTest, SweepOnTheSimulatedCardPrintsTheCurve)
{
    const Result r = measure({"sweep", "--simulate", ""});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto points = parse(r.out);
    ASSERT_EQ(points.size(), 31u);
    EXPECT_EQ(points.front().frequency, 20);
    EXPECT_EQ(points.back().frequency, 20000);
    // Flat, within what the mean-magnitude measure allows.
    for (const CurvePoint& p : points)
        EXPECT_NEAR(p.level, points[17].level, 0.1) << p.frequency;
    // Progress lines and a summary on the error stream.
    EXPECT_NE(r.err.find("20000.00 Hz"), std::string::npos);
    EXPECT_NE(r.err.find("SNR"), std::string::npos);
    EXPECT_NE(r.err.find("31 points from 20 Hz to 20000 Hz"), std::string::npos) << r.err;
}

TEST(MeasureCommandTest, GainsAheadOfTheCalibrationCancelOut)
{
    const auto flat = parse(measure({"sweep", "--simulate", "", "--bands", "15"}).out);
    const Result r = measure({"sweep", "--simulate", "gain=-6", "--bands", "15", "--volume", "-3.5"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto quiet = parse(r.out);
    ASSERT_EQ(quiet.size(), 15u);
    ASSERT_EQ(flat.size(), 15u);
    // The calibration noise plays through the same level and chain, so a
    // flat loss changes no level.
    for (size_t i = 0; i < quiet.size(); ++i)
        EXPECT_NEAR(quiet[i].level, flat[i].level, 0.05);
}

TEST(MeasureCommandTest, OutputFileAndFileErrors)
{
    const std::string path = testing::TempDir() + "/measure-out.txt";
    std::filesystem::remove(path);
    Result r = measure({"sweep", "--simulate", "", "--bands", "31", "--range", "20", "1000", "--out", path});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(r.out.empty());
    const CurveFile::ReadResult file = CurveFile::read(path, 22051);
    EXPECT_EQ(file.error, "");
    EXPECT_EQ(file.points.size(), 18u);

    r = measure({"sweep", "--simulate", "", "--out", testing::TempDir() + "/no/such/dir/x.txt"});
    EXPECT_EQ(r.code, MeasureCommand::FileError);
    EXPECT_NE(r.err.find("Error saving file '"), std::string::npos);

    r = measure({"sweep", "--simulate", "", "--freq-file", testing::TempDir() + "/missing-list.txt"});
    EXPECT_EQ(r.code, MeasureCommand::FileError);
    EXPECT_NE(r.err.find("Error reading user frequency file '"), std::string::npos);

    const std::string list = testing::TempDir() + "/measure-list.txt";
    std::ofstream(list, std::ios::trunc) << "100\n50\n200\n200\n5\n30000\n300\n";
    r = measure({"sweep", "--simulate", "", "--freq-file", list});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto points = parse(r.out);
    ASSERT_EQ(points.size(), 3u);
    EXPECT_EQ(points[2].frequency, 300);
}

TEST(MeasureCommandTest, LowSignalNeedsConfirmation)
{
    Result r = measure({"sweep", "--simulate", "silence", "--bands", "15"});
    EXPECT_EQ(r.code, MeasureCommand::LowSignal);
    EXPECT_NE(r.err.find("Warning: input level too low or too much noise."), std::string::npos);
    EXPECT_EQ(r.err.find('\r'), std::string::npos);

    r = measure({"sweep", "--simulate", "silence", "--bands", "15", "--yes"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(parse(r.out).size(), 15u);
}

} // namespace
