// audimera-measure room on impulse responses written here: an exponential
// decay of known reverberation time, and files it must refuse.
#include "cli/MeasureCommand.h"
#include "curves/ImpulseFile.h"
#include "engine/RoomReport.h"
#include "tests/cli/CommandRun.h"
#include "tests/support/TestFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <random>
#include <sstream>

namespace audimera {

namespace {

// White noise times exp(-6.91 t / T): a decay of T seconds to -60 dB.
std::vector<float> decay(double seconds, int rate, double length)
{
    std::mt19937 generator(24);
    std::normal_distribution<float> noise(0, 0.25f);
    std::vector<float> samples(static_cast<std::size_t>(length * rate));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = noise(generator) * static_cast<float>(std::exp(-6.91 * static_cast<double>(i) / rate / seconds));
    return samples;
}

std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(!line.empty() && line.back() == '\r' ? line.substr(0, line.size() - 1) : line);
    return lines;
}

TEST(RoomCommandTest, ADecayOfHalfASecondPrintsItsT30AndWritesARowPerBand)
{
    TestFolder folder;
    const std::string wav = folder.file("decay.wav"), csv = folder.file("room.csv");
    ASSERT_TRUE(ImpulseFile::writeWav(wav, decay(0.5, 48000, 1.5), 48000).ok());
    struct Case {
        const char* bands;
        std::size_t rows; // broadband and the bands
        const char* first;
        const char* last;
    };
    for (const Case& c : {Case{"octave", 9, "63", "8000"}, Case{"third", 25, "50", "10000"}}) {
        const Outcome r = measure({"room", wav, "--bands", c.bands, "--csv", csv});
        ASSERT_EQ(r.code, MeasureCommand::Measured) << r.err;
        const std::vector<std::string> table = splitLines(r.out);
        ASSERT_GE(table.size(), c.rows + 1) << r.out;
        EXPECT_EQ(table[0].substr(0, 4), "band");
        // Broadband: band, EDT, T20, T30.
        std::istringstream broadband(table[1]);
        std::string name, edt, t20, t30;
        broadband >> name >> edt >> t20 >> t30;
        EXPECT_EQ(name, "Broadband");
        std::cout << c.bands << ": broadband T30 " << t30 << " s (T = 0.5 s)\n";
        EXPECT_NEAR(std::stod(t30), 0.5, 0.025) << table[1];

        const std::vector<std::string> rows = splitLines(slurp(csv));
        ASSERT_EQ(rows.size(), c.rows + 1) << slurp(csv);
        EXPECT_EQ(rows[0], RoomReport::CsvHeader);
        EXPECT_EQ(rows[1].substr(0, 2), "0,");
        EXPECT_EQ(rows[2].substr(0, rows[2].find(',')), c.first);
        EXPECT_EQ(rows.back().substr(0, rows.back().find(',')), c.last);
        // A value is marked (or missing) in the table exactly when the CSV
        // lists flags for it.
        for (std::size_t i = 1; i < rows.size(); ++i) {
            ASSERT_EQ(std::count(rows[i].begin(), rows[i].end(), ','), 11) << rows[i];
            const std::string flags = rows[i].substr(rows[i].rfind(',') + 1);
            std::istringstream cells(table[i]);
            std::string cell;
            cells >> cell; // the band
            for (const char* parameter : {"edt:", "t20:", "t30:", "c50:", "c80:", "d50:", "ts:"}) {
                cells >> cell;
                EXPECT_EQ(cell.back() == '*' || cell == "-", flags.find(parameter) != std::string::npos)
                    << table[i] << "\n" << rows[i];
            }
        }
    }
}

TEST(RoomCommandTest, FilesAndOptionsItCannotUseAreRefused)
{
    TestFolder folder;
    // What the reader refuses (ImpulseFileTest) comes through as a missing file does.
    const std::string silent = folder.file("silent.wav"), good = folder.file("decay.wav"), csv = folder.file("room.csv");
    ASSERT_TRUE(ImpulseFile::writeWav(silent, std::vector<float>(48000, 0.0f), 48000).ok());
    ASSERT_TRUE(ImpulseFile::writeWav(good, decay(0.3, 48000, 1), 48000).ok());
    struct Case {
        std::vector<std::string> args;
        int code;
        const char* said;
    };
    for (const Case& c : {
             Case{{"room", folder.file("none.wav"), "--csv", csv}, MeasureCommand::FileError, "Error loading file"},
             Case{{"room", silent, "--csv", csv}, MeasureCommand::BadUsage, "no clear start"},
             Case{{"room", good, "--bands", "fifth"}, MeasureCommand::BadUsage, "--bands must be octave or third"},
             Case{{"room", good, "--channel", "0"}, MeasureCommand::BadUsage, "counted from 1"},
             Case{{"room"}, MeasureCommand::BadUsage, "needs an impulse response file"},
             Case{{"room", good, "--csv", good}, MeasureCommand::BadUsage, "is the same file as the input"},
         }) {
        const Outcome r = measure(c.args);
        EXPECT_EQ(r.code, c.code) << c.said << "\n" << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_FALSE(std::filesystem::exists(csv)) << c.said;
    }
}

} // namespace

} // namespace audimera
