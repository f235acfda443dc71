// logsweep and room write the waterfall, spectrogram, group delay and
// waterfall levels of one impulse response, and refuse their files before
// anything is measured.
#include "cli/MeasureCommand.h"
#include "curves/ImpulseFile.h"
#include "devices/SimulatedSoundCard.h"
#include "tests/cli/CommandRun.h"
#include "tests/support/TestFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace audimera {

namespace {

// The CSV's rows (the header first), split into cells.
std::vector<std::vector<std::string>> rows(const std::string& path)
{
    std::vector<std::vector<std::string>> table;
    std::istringstream in(slurp(path));
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string>& row = table.emplace_back();
        std::istringstream cells(line.substr(0, line.find('\r')));
        for (std::string cell; std::getline(cells, cell, ',');)
            row.push_back(cell);
    }
    return table;
}

// One run of each verb writes all four files: pictures by their extension,
// the group delay of a 5 ms delay (on the simulated card after its own
// latency), the waterfall's levels within its range.
TEST(TimeFrequencyOptionsTest, BothVerbsWriteEveryFileOfOneResponse)
{
    TestFolder folder;
    const std::string wav = folder.file("delay.wav");
    std::vector<float> delta(9600, 0.0f);
    delta[240] = 0.5f; // 5 ms at 48 kHz
    ASSERT_TRUE(ImpulseFile::writeWav(wav, delta, 48000).ok());
    struct Case {
        std::vector<std::string> run;
        const char* waterfall;
        const char* spectrogram;
        double delayMs;
    };
    // delay=5: 220 samples at 44.1 kHz, after the card's own latency.
    const double cardMs = 1000.0 * (SimulatedSoundCard::DuplexLatencyFrames + 220) / 44100;
    for (const Case& c : {Case{{"logsweep", "--simulate", "delay=5", "--length", "32768"}, "w.png", "s.svg", cardMs},
                          Case{{"room", wav}, "w.svg", "s.PNG", 5}}) {
        const std::string gd = folder.file("gd.csv"), levels = folder.file("w.csv");
        std::vector<std::string> args = c.run;
        args.insert(args.end(), {"--waterfall", folder.file(c.waterfall), "--spectrogram", folder.file(c.spectrogram),
                                 "--group-delay", gd, "--waterfall-csv", levels});
        const Outcome r = measure(args);
        ASSERT_EQ(r.code, MeasureCommand::Measured) << c.run[0] << ": " << r.err;
        for (const std::string picture : {c.waterfall, c.spectrogram}) {
            const std::string bytes = slurp(folder.file(picture));
            if (picture.find(".svg") != std::string::npos)
                EXPECT_NE(bytes.find("<svg"), std::string::npos) << picture;
            else
                EXPECT_EQ(bytes.substr(0, 8), "\x89PNG\r\n\x1a\n") << picture;
        }
        const auto phase = rows(gd);
        ASSERT_GT(phase.size(), 400u) << c.run[0];
        EXPECT_EQ(slurp(gd).substr(0, slurp(gd).find('\r')), "frequency_hz,group_delay_ms,excess_group_delay_ms,"
                                                             "measured_phase_deg,minimum_phase_deg,excess_phase_deg");
        for (std::size_t i = 1; i < phase.size(); ++i) {
            ASSERT_EQ(phase[i].size(), 6u) << phase[i][0];
            const double hz = std::stod(phase[i][0]);
            if (hz >= 200 && hz <= 15000) {
                EXPECT_NEAR(std::stod(phase[i][1]), c.delayMs, 0.02) << c.run[0] << " at " << hz << " Hz";
                EXPECT_NEAR(std::stod(phase[i][4]), 0, 1) << c.run[0] << " at " << hz << " Hz";
            }
        }
        const auto slices = rows(levels);
        ASSERT_GT(slices.size(), 30u * 400) << c.run[0];
        EXPECT_EQ(slurp(levels).substr(0, 33), "time_ms,frequency_hz,level_db\r\n0,");
        for (std::size_t i = 1; i < slices.size(); ++i)
            ASSERT_TRUE(slices[i].size() == 3 && std::stod(slices[i][2]) <= 0.01 && std::stod(slices[i][2]) >= -50.01)
                << c.run[0] << ": row " << i;
    }
}

// Refused before anything is measured or written: a picture of another
// kind, an output that is an input or another output, one that cannot be
// written.
TEST(TimeFrequencyOptionsTest, RefusesItsFilesBeforeMeasuring)
{
    TestFolder folder;
    const std::string wav = folder.file("ir.wav"), gd = folder.file("gd.csv");
    ASSERT_TRUE(ImpulseFile::writeWav(wav, std::vector<float>(4800, 0.25f), 48000).ok());
    const std::string missing = folder.file("none") + "/w.csv";
    struct Case {
        std::vector<std::string> args;
        int code;
    };
    using MeasureCommand::BadUsage;
    for (const Case& c : {Case{{"logsweep", "--simulate", "", "--waterfall", folder.file("w.jpg")}, BadUsage},
                          Case{{"logsweep", "--simulate", "", "--spectrogram"}, BadUsage},
                          Case{{"logsweep", "--simulate", "", "--out", gd, "--group-delay", gd}, BadUsage},
                          Case{{"logsweep", "--simulate", "", "--waterfall-csv", missing}, MeasureCommand::FileError},
                          Case{{"room", wav, "--group-delay", wav}, BadUsage},
                          Case{{"room", wav, "--waterfall", folder.file("w.svgz")}, BadUsage}}) {
        const Outcome r = measure(c.args);
        EXPECT_EQ(r.code, c.code) << c.args.back() << ": " << r.err;
        EXPECT_EQ(r.err.find("Log sweep:"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "") << c.args.back();
        EXPECT_FALSE(std::filesystem::exists(gd));
    }
}

} // namespace

} // namespace audimera
