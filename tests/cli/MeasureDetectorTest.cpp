// audimera-measure sweep --detector and --distortion on the simulated card.
#include "cli/MeasureCommand.h"
#include "curves/CurveFile.h"
#include "signal/SignalSynthesis.h"
#include "signal/SoundChain.h"
#include "tests/support/TestFolder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

namespace audimera {

namespace {

struct Outcome {
    int code;
    std::string out, err;
};

Outcome measure(std::vector<std::string> args)
{
    std::ostringstream out, err;
    const int code = MeasureCommand::run(args, out, err);
    return {code, out.str(), err.str()};
}

// "frequency,level" lines of standard output.
std::map<double, double> levels(const std::string& out)
{
    std::map<double, double> points;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t comma = line.find(',');
        points[std::stod(line.substr(0, comma))] = std::stod(line.substr(comma + 1));
    }
    return points;
}

std::vector<std::string> split(const std::string& line)
{
    std::vector<std::string> cells;
    std::istringstream in(line);
    std::string cell;
    while (std::getline(in, cell, ','))
        cells.push_back(cell);
    if (!line.empty() && line.back() == ',')
        cells.emplace_back();
    return cells;
}

TEST(MeasureDetectorTest, TheDetectorIsChosenOnTheCommandLine)
{
    struct Bad {
        std::vector<std::string> args;
        const char* message;
    };
    for (const Bad& bad : {Bad{{"sweep", "--simulate", "", "--detector", "fft"}, "--detector must be mean or narrow"},
                           Bad{{"sweep", "--simulate", "", "--detector"}, "--detector must be mean or narrow"},
                           Bad{{"sweep", "--simulate", "", "--distortion"}, "--distortion needs a file"}}) {
        const Outcome r = measure(bad.args);
        EXPECT_EQ(r.code, MeasureCommand::BadUsage) << bad.message;
        EXPECT_NE(r.err.find(bad.message), std::string::npos) << r.err;
    }

    // 3150 Hz repeats the same 14 phases, which moves the mean magnitude
    // against 3151 Hz on a perfect loopback; the narrow band reads both alike.
    for (const char* detector : {"narrow", "mean"}) {
        const Outcome r = measure({"sweep", "--simulate", "", "--range", "3150", "3151", "--detector", detector});
        ASSERT_EQ(r.code, 0) << r.err;
        const std::map<double, double> l = levels(r.out);
        ASSERT_EQ(l.size(), 2u);
        const double step = std::abs(l.at(3151) - l.at(3150));
        if (std::string(detector) == "narrow")
            EXPECT_LT(step, 0.005);
        else
            EXPECT_GT(step, 0.05);
    }
}

TEST(MeasureDetectorTest, DistortionIsWrittenForEveryPoint)
{
    const std::string path = testFile("distortion.csv");
    const Outcome r = measure({"sweep", "--simulate", "poly=0.05,0.1", "--bands", "31", "--distortion", path});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("Distortion written to " + path), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("THD 1.33"), std::string::npos) << r.err;

    std::ifstream file(path);
    std::string line;
    // Lines end in CR LF, as CSV has them.
    auto next = [&] {
        if (!std::getline(file, line))
            return false;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        return true;
    };
    ASSERT_TRUE(next());
    EXPECT_EQ(line, "frequency_hz,h2_db,h3_db,h4_db,h5_db,thd_percent");
    const double a = SinePeak / 32768.0;
    const double h1 = SoundChain::polyHarmonic(1, a, 0.05, 0.1);
    const double h2 = 20 * std::log10(SoundChain::polyHarmonic(2, a, 0.05, 0.1) / h1);
    int rows = 0;
    while (next()) {
        ++rows;
        const std::vector<std::string> cells = split(line);
        ASSERT_EQ(cells.size(), 6u) << line;
        const double f = std::stod(cells[0]);
        // A harmonic has a cell exactly when it lies below 20 kHz.
        for (int k = 2; k <= 5; ++k)
            EXPECT_EQ(cells[size_t(k - 1)].empty(), k * f >= 20000) << line;
        EXPECT_EQ(cells[5].empty(), 2 * f >= 20000) << line;
        if (f == 1000) {
            EXPECT_NEAR(std::stod(cells[1]), h2, 0.3);
        }
    }
    EXPECT_EQ(rows, 31);
}

} // namespace

} // namespace audimera
