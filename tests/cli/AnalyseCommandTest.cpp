// audimera-measure analyse, spl and generate: the options they refuse, and
// one run of each on the simulated card.
#include "tests/cli/CommandRun.h"
#include "tests/support/TestFolder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

namespace audimera {

namespace {

TEST(AnalyseCommandTest, RefusesBadOptions)
{
    struct Case {
        std::vector<std::string> args;
        int code;
    };
    const std::vector<Case> cases = {
        {{"analyse", "--fft", "10000"}, MeasureCommand::BadUsage},
        {{"analyse", "--bands", "5"}, MeasureCommand::BadUsage},
        {{"analyse", "--window", "blackman"}, MeasureCommand::BadUsage},
        {{"analyse", "--average", "-1"}, MeasureCommand::BadUsage},
        {{"analyse", "--seconds", "0"}, MeasureCommand::BadUsage},
        {{"spl", "--weighting", "B"}, MeasureCommand::BadUsage},
        {{"spl", "--csv", "out.csv"}, MeasureCommand::BadUsage},
        {{"spl", "--calibrate", "94", "--calibration-offset", "100"}, MeasureCommand::BadUsage},
        {{"generate", "--seconds", "1"}, MeasureCommand::BadUsage},
        {{"generate", "brown"}, MeasureCommand::BadUsage},
        {{"generate", "pink", "--periodic", "1000"}, MeasureCommand::BadUsage},
        {{"generate", "sine", "--frequency", "30000", "--simulate", ""}, MeasureCommand::BadUsage},
        {{"analyse", "--simulate", "", "--csv", "/nonexistent-folder/bands.csv"}, MeasureCommand::FileError},
        {{"spl", "--simulate", "", "--seconds", "1", "--calibrate", "94"}, MeasureCommand::LowSignal},
    };
    for (const Case& c : cases) {
        const Outcome r = measure(c.args);
        EXPECT_EQ(r.code, c.code) << c.args[0] << " " << c.args[1] << ": " << r.err;
    }
}

TEST(AnalyseCommandTest, EachVerbRunsOnTheSimulatedCard)
{
    TestFolder folder;
    const std::string csv = folder.file("bands.csv");
    // A chain of noise at -40 dBFS: the meter and the bands hear it.
    const Outcome analysed = measure({"analyse", "--simulate", "noise=-40", "--seconds", "2", "--bands", "1",
                                      "--calibration-offset", "100", "--csv", csv});
    ASSERT_EQ(analysed.code, MeasureCommand::Measured) << analysed.err;
    std::ifstream file(csv);
    std::string header, row;
    std::getline(file, header);
    EXPECT_EQ(header, "frequency_hz,level_db_spl,peak_db_spl");
    int rows = 0;
    while (std::getline(file, row)) {
        ++rows; // white noise's share in the 1 kHz octave: 704.6 Hz of 22050
        if (row.rfind("1000.00,", 0) == 0)
            EXPECT_NEAR(std::stod(row.substr(8)), -40 + 10 * std::log10(704.6 / 22050) + 100, 0.5) << row;
    }
    EXPECT_EQ(rows, 9); // the octaves from 31.5 Hz to 8 kHz (16 kHz reaches past 22.05 kHz)

    const Outcome metered = measure({"spl", "--simulate", "noise=-40", "--seconds", "1", "--weighting", "Z"});
    ASSERT_EQ(metered.code, MeasureCommand::Measured) << metered.err;
    EXPECT_NE(metered.out.find("LZeq"), std::string::npos) << metered.out;
    EXPECT_NE(metered.out.find("dBFS (not calibrated)"), std::string::npos) << metered.out;

    const Outcome played = measure({"generate", "sine", "--simulate", "", "--seconds", "1", "--volume", "-10"});
    ASSERT_EQ(played.code, MeasureCommand::Measured) << played.err;
    const std::size_t heard = played.err.find("heard LZeq ");
    ASSERT_NE(heard, std::string::npos) << played.err;
    EXPECT_NEAR(std::stod(played.err.substr(heard + 11)), -10.0, 0.05) << played.err;
}

} // namespace

} // namespace audimera
