// audimera-measure sweep --detector and --distortion on the simulated card.
#include "cli/MeasureCommand.h"
#include "tests/cli/CommandRun.h"
#include "curves/CurveFile.h"
#include "signal/SignalSynthesis.h"
#include "devices/SoundChain.h"
#include "tests/support/TestFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <fstream>
#include <map>
#include <sstream>

namespace audimera {

namespace {

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
        // A harmonic has a cell exactly when it lies at or below 20 kHz; THD
        // only when all of H2..H5 do.
        for (int k = 2; k <= 5; ++k)
            EXPECT_EQ(cells[size_t(k - 1)].empty(), k * f > 20000) << line;
        EXPECT_EQ(cells[5].empty(), 5 * f > 20000) << line;
        if (f == 1000) {
            EXPECT_NEAR(std::stod(cells[1]), h2, 0.3);
        }
    }
    EXPECT_EQ(rows, 31);
}

// The distortion table of a file: frequency -> (H2, H3) in dB, rows whose
// H3 cell is empty left out.
std::map<double, std::pair<double, double>> harmonics(const std::string& path)
{
    std::map<double, std::pair<double, double>> table;
    std::ifstream file(path);
    std::string line;
    std::getline(file, line); // the header row
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::vector<std::string> cells = split(line);
        if (cells.size() == 6 && !cells[1].empty() && !cells[2].empty())
            table[std::stod(cells[0])] = {std::stod(cells[1]), std::stod(cells[2])};
    }
    return table;
}

// The stepped sweep's distortion and the log sweep's agree on the same chain
// at the same level: two methods, one answer.
TEST(MeasureDetectorTest, SteppedAndLogSweepsMeasureTheSameDistortion)
{
    TestFolder folder;
    const std::string stepped = folder.file("stepped.csv"), swept = folder.file("swept.csv");
    const std::string chain = "poly=0.05,0.1";
    const Outcome a = measure({"sweep", "--simulate", chain, "--bands", "31", "--detector", "narrow",
                               "--distortion", stepped});
    ASSERT_EQ(a.code, 0) << a.err;
    char volume[32];
    std::snprintf(volume, sizeof volume, "%.6f", 20 * std::log10(SinePeak / 32768.0));
    const Outcome b = measure({"logsweep", "--simulate", chain, "--volume", volume, "--distortion", swept});
    ASSERT_EQ(b.code, 0) << b.err;

    const auto steps = harmonics(stepped), sweep = harmonics(swept);
    ASSERT_GT(sweep.size(), 100u);
    int compared = 0;
    double worst = 0;
    for (const auto& [f, h] : steps) {
        if (f < 50 || f > 4000)
            continue;
        // The log sweep's table, linearly in log frequency between its rows.
        const auto above = sweep.lower_bound(f);
        ASSERT_TRUE(above != sweep.end() && above != sweep.begin()) << f;
        const auto below = std::prev(above);
        const double t = std::log(f / below->first) / std::log(above->first / below->first);
        const double h2 = below->second.first + t * (above->second.first - below->second.first);
        const double h3 = below->second.second + t * (above->second.second - below->second.second);
        EXPECT_NEAR(h.first, h2, 0.5) << f << " Hz, H2";
        EXPECT_NEAR(h.second, h3, 0.5) << f << " Hz, H3";
        worst = std::max({worst, std::abs(h.first - h2), std::abs(h.second - h3)});
        ++compared;
    }
    std::printf("stepped against log sweep, 50 Hz to 4 kHz: H2 and H3 within %.3f dB\n", worst);
    EXPECT_EQ(compared, 20); // the bands from 50 Hz to 4 kHz
}

} // namespace

} // namespace audimera
