#include "curves/CurveFile.h"
#include "cli/MeasureCommand.h"
#include "engine/RunObserver.h"
#include "tests/support/TestFolder.h"

#include <gtest/gtest.h>

#include <QImage>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace audimera {

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

// The points of a curve file; a reading error fails the test.
std::vector<CurvePoint> readCurve(const std::string& path)
{
    std::vector<CurvePoint> points;
    const audimera::Status read = CurveFile::read(path, 22051, points);
    EXPECT_TRUE(read.ok()) << read.message();
    return points;
}

std::vector<CurvePoint> parse(const std::string& text)
{
    const std::string path = testFile("measure-parse.txt");
    std::ofstream(path, std::ios::trunc) << text;
    return readCurve(path);
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
             {"sweep", "--simulate", "", "--out", ""},
             {"sweep", "--simulate", "", "--freq-file", ""},
             {"sweep", "--simulate", "", "--correct-user", ""},
             {"sweep", "--simulate", "", "--png", ""},
             {"sweep", "--simulate", "", "--play", ""},
             {"sweep", "--simulate", "", "--range", "", "100"},
             {"sweep", "--simulate", "", "--range", "1e400", "100"},
             {"sweep", "--simulate", "", "--range", "nan", "100"},
             {"sweep", "--simulate", "", "--volume", "-inf"},
             {"sweep", "--simulate", "", "--size", "99999x10", "--png", "x.png"},
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
    const std::string path = testFile("measure-out.txt");
    std::filesystem::remove(path);
    Result r = measure({"sweep", "--simulate", "", "--bands", "31", "--range", "20", "1000", "--out", path});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(r.out.empty());
    EXPECT_EQ(readCurve(path).size(), 18u);

    r = measure({"sweep", "--simulate", "", "--out", testFile("no/such/dir/x.txt")});
    EXPECT_EQ(r.code, MeasureCommand::FileError);
    EXPECT_NE(r.err.find("Error saving file '"), std::string::npos);

    // Root too is refused a file without any write permission bit.
    std::filesystem::permissions(path, std::filesystem::perms::owner_read);
    r = measure({"sweep", "--simulate", "", "--bands", "15", "--out", path});
    EXPECT_EQ(r.code, MeasureCommand::FileError);
    EXPECT_NE(r.err.find("' : the file is read-only"), std::string::npos) << r.err;
    EXPECT_EQ(readCurve(path).size(), 18u);
    std::filesystem::remove(path);

    r = measure({"sweep", "--simulate", "", "--freq-file", testFile("missing-list.txt")});
    EXPECT_EQ(r.code, MeasureCommand::FileError);
    EXPECT_NE(r.err.find("Error reading user frequency file '"), std::string::npos);

    const std::string list = testFile("measure-list.txt");
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

// The documented exit code of every way a sweep ends.
TEST(MeasureCommandTest, EveryRunEndHasItsExitCode)
{
    using namespace MeasureCommand;
    const std::pair<RunEnd, int> ends[] = {
        {RunEnd::Completed, Measured},        {RunEnd::Stopped, DeviceFailure},
        {RunEnd::Refused, BadUsage},          {RunEnd::PlanFailed, FileError},
        {RunEnd::TraceRefused, DeviceFailure}, {RunEnd::LowSignalDeclined, LowSignal},
        {RunEnd::DeviceFailed, DeviceFailure}, {RunEnd::RetriesRefused, Clipped},
    };
    for (const auto& [end, code] : ends)
        EXPECT_EQ(exitCodeFor(runOutcome(end)), code) << static_cast<int>(end);
}

} // namespace

namespace {

TEST(MeasureCommandPictureTest, SweepAndPlotDrawPngs)
{
    const std::string png = testFile("measure-sweep.png");
    std::filesystem::remove(png);
    Result r = measure({"sweep", "--simulate", "lowpass=2000", "--bands", "31", "--png", png, "--smooth", "3",
                        "--db-range", "48"});
    ASSERT_EQ(r.code, 0) << r.err;
    QImage image(QString::fromStdString(png));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), 792);
    EXPECT_EQ(image.height(), 211);
    // The first trace is black: some of it is in the picture.
    int black = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            black += image.pixel(x, y) == qRgb(0, 0, 0);
    EXPECT_GT(black, 300);

    // Two saved curves overlaid, at a size of our own.
    const std::string a = testFile("measure-a.txt"), b = testFile("measure-b.txt");
    ASSERT_EQ(measure({"sweep", "--simulate", "", "--bands", "15", "--out", a}).code, 0);
    ASSERT_EQ(measure({"sweep", "--simulate", "highpass=500", "--bands", "15", "--out", b}).code, 0);
    const std::string overlay = testFile("measure-overlay.png");
    r = measure({"plot", a, b, "--png", overlay, "--size", "400x300"});
    ASSERT_EQ(r.code, 0) << r.err;
    image = QImage(QString::fromStdString(overlay));
    EXPECT_EQ(image.size(), QSize(400, 300));
    int blue = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            blue += image.pixel(x, y) == qRgb(0, 0, 255);
    EXPECT_GT(blue, 100); // the second trace's colour
}

TEST(MeasureCommandPictureTest, BadPictureArguments)
{
    const std::string a = testFile("measure-pic.txt");
    std::ofstream(a, std::ios::trunc) << "100,1\n1000,2\n";
    const std::string png = testFile("measure-bad.png");
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"plot", a},
             {"plot", "--png", png},
             {"plot", a, "--png", png, "--size", "0x10"},
             {"plot", a, "--png", png, "--size", "wide"},
             {"plot", a, "--png", png, "--smooth", "4"},
             {"plot", a, "--png", png, "--db-range", "10"},
             {"plot", a, "--png", png, "--colour", "red"},
             {"plot", a, a, a, a, a, a, a, a, a, "--png", png},
             {"sweep", "--simulate", "", "--png"},
         })
        EXPECT_EQ(measure(args).code, MeasureCommand::BadUsage) << testing::PrintToString(args);

    EXPECT_EQ(measure({"plot", testFile("none.txt"), "--png", png}).code, MeasureCommand::FileError);
    const std::string empty = testFile("measure-empty.txt");
    std::ofstream(empty, std::ios::trunc) << "5,1\n";
    Result r = measure({"plot", empty, "--png", png});
    EXPECT_EQ(r.code, MeasureCommand::FileError);
    EXPECT_NE(r.err.find("Bad file, no points were found !"), std::string::npos);
    r = measure({"plot", a, "--png", testFile("no/dir/x.png")});
    EXPECT_EQ(r.code, MeasureCommand::FileError);
    EXPECT_NE(r.err.find("Error saving file '"), std::string::npos);
}

} // namespace

namespace {

TEST(MeasureCommandCorrectionTest, CorrectionsAreSubtracted)
{
    const std::string user = testFile("measure-user-calib.txt");
    std::ofstream(user, std::ios::trunc) << "1000,2\n";
    const auto plain = parse(measure({"sweep", "--simulate", "", "--bands", "15"}).out);
    Result r = measure({"sweep", "--simulate", "", "--bands", "15", "--correct-user", user});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto corrected = parse(r.out);
    ASSERT_EQ(corrected.size(), plain.size());
    for (size_t i = 0; i < plain.size(); ++i)
        EXPECT_NEAR(corrected[i].level, plain[i].level - 2, 1e-9);

    // The fixed files come from the working directory.
    const auto cwd = std::filesystem::current_path();
    const std::string dir = testFile("measure-corrections");
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    std::filesystem::remove("SoundCard.txt");
    std::filesystem::remove("SPL C Curve.txt");
    // Not there: the curve shipped with the program (build/share/audimera
    // here, as share/audimera beside bin/ when installed), flat at 0 dB.
    r = measure({"sweep", "--simulate", "", "--bands", "15", "--correct-soundcard"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto shipped = parse(r.out);
    ASSERT_EQ(shipped.size(), plain.size());
    for (size_t i = 0; i < plain.size(); ++i)
        EXPECT_NEAR(shipped[i].level, plain[i].level, 1e-9);
    r = measure({"sweep", "--simulate", "", "--bands", "15", "--correct-user", "no-such-calib.txt"});
    EXPECT_EQ(r.code, MeasureCommand::FileError);
    EXPECT_NE(r.err.find("Error loading calibration file 'no-such-calib.txt' : "), std::string::npos) << r.err;
    std::ofstream("SoundCard.txt") << "20,0.5\n20000,0.5\n";
    std::ofstream("SPL C Curve.txt") << "1000,0.25\n";
    r = measure({"sweep", "--simulate", "", "--bands", "15", "--correct-soundcard", "--correct-spl"});
    std::filesystem::current_path(cwd);
    ASSERT_EQ(r.code, 0) << r.err;
    const auto both = parse(r.out);
    for (size_t i = 0; i < plain.size(); ++i)
        EXPECT_NEAR(both[i].level, plain[i].level - 0.75, 1e-9);

    EXPECT_EQ(measure({"sweep", "--simulate", "", "--correct-user"}).code, MeasureCommand::BadUsage);
}

} // namespace

} // namespace audimera
