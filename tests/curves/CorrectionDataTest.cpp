// The correction curves that ship in data/: "SPL C Curve.txt" must be the C
// weighting of IEC 61672-1 and "SoundCard.txt" flat, both in the record
// syntax as the program writes it, and both must load through the same
// loader the correction boxes use.
#include "curves/CorrectionCurve.h"
#include "curves/CurveFile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

namespace audimera {

namespace {

// The shipped data folder, <root>/data, from <root>/tests/data.
std::string dataFile(const std::string& name)
{
    const std::filesystem::path testData(AUDIMERA_TEST_DATA);
    return (testData.parent_path().parent_path() / "data" / name).string();
}

const std::string SplFile = dataFile("SPL C Curve.txt");
const std::string SoundCardFile = dataFile("SoundCard.txt");

// IEC 61672-1 C weighting in dB, 0 dB at 1 kHz to within its constant.
double cWeighting(double f)
{
    const double f1 = 20.598997, f4 = 12194.217, c1000 = -0.062;
    const double f2 = f * f;
    return 20 * std::log10(f4 * f4 * f2 / ((f2 + f1 * f1) * (f2 + f4 * f4))) - c1000;
}

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The CR LF lines of a file, without their line ends; fails on a lone LF or
// a missing last line end.
std::vector<std::string> crlfLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find("\r\n", at);
        EXPECT_NE(end, std::string::npos) << "no CR LF after byte " << at;
        if (end == std::string::npos)
            break;
        lines.push_back(text.substr(at, end - at));
        EXPECT_EQ(lines.back().find('\n'), std::string::npos) << lines.back();
        at = end + 2;
    }
    return lines;
}

struct Column {
    std::vector<double> v = std::vector<double>(CorrectionCurve::Entries, 12345);
    double at(double hz) const { return v[CorrectionCurve::entryOf(hz)]; }
};

} // namespace

TEST(CorrectionDataTest, SplCurveFileIsWrittenInTheRecordSyntax)
{
    const std::string text = readAll(SplFile);
    ASSERT_FALSE(text.empty()) << SplFile;
    const std::vector<std::string> lines = crlfLines(text);
    ASSERT_GE(lines.size(), 200u);

    const std::regex record(R"(^([0-9]+(\.[0-9]+)?),(-?[0-9]+\.[0-9]+)$)");
    double previous = 0;
    for (const std::string& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, record)) << line;
        const double f = std::stod(m[1]);
        EXPECT_GT(f, previous) << line;
        // Frequencies on the half-hertz grid of the correction table, so the
        // table holds each record at its own frequency.
        EXPECT_EQ(2 * f, std::round(2 * f)) << line;
        // At least 1/12 octave apart nowhere.
        if (previous > 0) {
            EXPECT_LE(f / previous, std::pow(2.0, 1.0 / 12)) << line;
        }
        previous = f;
    }
    EXPECT_EQ(lines.front().substr(0, 3), "10,");
    EXPECT_EQ(lines.back().substr(0, 6), "24000,");

    // Every record loads as a trace as well: in range and strictly rising.
    std::vector<CurvePoint> read;
    EXPECT_EQ(CurveFile::read(SplFile, 22051, read).message(), "");
    EXPECT_EQ(read.size(), lines.size());
}

TEST(CorrectionDataTest, SplCurveRecordsAreTheCWeightingFormula)
{
    std::vector<CurvePoint> read;
    ASSERT_EQ(CurveFile::read(SplFile, 22051, read).message(), "");
    bool has1000 = false;
    for (const CurvePoint& p : read) {
        // Written to 0.001 dB.
        EXPECT_NEAR(p.level, cWeighting(p.frequency), 0.0006) << p.frequency;
        if (p.frequency == 1000) {
            has1000 = true;
            EXPECT_EQ(p.level, 0.0);
        }
    }
    EXPECT_TRUE(has1000);
}

TEST(CorrectionDataTest, SplCurveLoadsIntoTheTableAsTheCWeighting)
{
    Column c;
    const audimera::Status result = CorrectionCurve::load(SplFile, c.v.data());
    ASSERT_TRUE(result.ok()) << result.message();

    // The weighting's published values at the bands a sweep measures. The
    // table rounds them to 0.1 dB and gives them at the exact band centres
    // (15849 Hz for 16 kHz), hence the looser second check.
    const struct {
        double hz, dB;
    } published[] = {{10, -14.3}, {20, -6.2}, {31.5, -3.0}, {63, -0.8}, {125, -0.2}, {1000, 0.0},
                     {4000, -0.8}, {8000, -3.0}, {10000, -4.4}, {16000, -8.5}, {20000, -11.2}};
    for (const auto& band : published) {
        EXPECT_NEAR(c.at(band.hz), cWeighting(band.hz), 0.01) << band.hz;
        EXPECT_NEAR(c.at(band.hz), band.dB, 0.15) << band.hz;
    }
    EXPECT_EQ(c.at(1000), 0.0);

    // Between the records the straight lines stay on the curve: every half
    // hertz from 10 to 24000 Hz is within 0.01 dB of the formula.
    double worst = 0;
    int worstEntry = 0;
    for (int k = CorrectionCurve::entryOf(10); k < CorrectionCurve::Entries; ++k) {
        const double error = std::fabs(c.v[k] - cWeighting(k / 2.0));
        if (error > worst) {
            worst = error;
            worstEntry = k;
        }
    }
    EXPECT_LE(worst, 0.01) << "at " << worstEntry / 2.0 << " Hz";

    // Below 10 Hz the table holds the level at 10 Hz.
    EXPECT_EQ(c.v[0], c.at(10));
    EXPECT_EQ(c.at(5), c.at(10));
}

TEST(CorrectionDataTest, SoundCardCurveIsFlatZeroFrom10To24000Hz)
{
    EXPECT_EQ(readAll(SoundCardFile), "10,0\r\n24000,0\r\n");

    Column c;
    const audimera::Status result = CorrectionCurve::load(SoundCardFile, c.v.data());
    ASSERT_TRUE(result.ok()) << result.message();
    for (int k = 0; k < CorrectionCurve::Entries; ++k)
        ASSERT_EQ(c.v[k], 0.0) << "entry " << k;
}

} // namespace audimera
