// The simulated two-input card: the input carrying the sound (input item) against the one measured (--channel).
#include "tests/cli/CommandRun.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace audimera {

TEST(RecordChannelTest, MeasuresTheInputChosenAndNamesTheOneThatCarriesTheSound)
{
    const char* const NoteLeft = "The sound is on the left input; the right one is silent: choose Settings > "
                                 "Record Channel > Left";
    const char* const NoteRight = "The sound is on the right input; the left one is silent: choose Settings > "
                                  "Record Channel > Right";
    // levelDb: the flat level read (a sweep calibrates it away: not checked).
    struct Row {
        const char *command, *channel, *chain;
        bool measured;
        double levelDb;
        const char* note;
    };
    const double Unchecked = 1e9;
    for (const Row& row : {
             Row{"logsweep", "mix", "", true, 0.0, nullptr},
             Row{"logsweep", "mix", "input=left", true, -6.02, NoteLeft},
             Row{"logsweep", "mix", "input=right", true, -6.02, NoteRight},
             Row{"logsweep", "left", "input=left", true, 0.0, nullptr},
             Row{"logsweep", "right", "input=right", true, 0.0, nullptr},
             Row{"logsweep", "left", "input=right", false, Unchecked, NoteRight},
             Row{"sweep", "mix", "input=left", true, Unchecked, NoteLeft},
             Row{"sweep", "left", "input=left", true, Unchecked, nullptr},
         }) {
        std::vector<std::string> args = {row.command, "--simulate", row.chain, "--channel", row.channel};
        if (std::string(row.command) == "logsweep")
            args.insert(args.end(), {"--length", "65536", "--points-per-octave", "1"});
        else
            args.insert(args.end(), {"--bands", "15"});
        const Outcome r = measure(args);
        const std::string what = std::string(row.command) + " --channel " + row.channel + " " + row.chain;
        EXPECT_EQ(r.code == MeasureCommand::Measured, row.measured) << what << '\n' << r.err;
        EXPECT_EQ(r.err.find(row.note ? row.note : "The sound is on") != std::string::npos, row.note != nullptr)
            << what << '\n' << r.err;
        if (row.levelDb == Unchecked)
            continue;
        double low = 0, high = 0;
        const std::size_t at = r.err.find("levels ");
        ASSERT_NE(at, std::string::npos) << what << '\n' << r.err;
        ASSERT_EQ(std::sscanf(r.err.c_str() + at, "levels %lf to %lf dB", &low, &high), 2) << what;
        EXPECT_NEAR(low, row.levelDb, 0.005) << what;
        EXPECT_NEAR(high, row.levelDb, 0.005) << what;
    }
}

} // namespace audimera
