// audimera-measure's outputs are checked before anything is measured: one
// that is an input or another output, or that cannot be written, ends the
// command with nothing measured and no file touched.
#include "cli/MeasureCommand.h"
#include "tests/cli/CommandRun.h"
#include "tests/support/TestFolder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace audimera {

namespace {

TEST(OutputFilesTest, BadOutputsAreRefusedBeforeMeasuring)
{
    const std::string in = testFile("in.txt"), cal = testFile("mic.cal"), good = testFile("good.txt");
    const std::string curve = "20,0\r\n1000,1\r\n20000,0\r\n";
    spit(in, curve);
    spit(cal, curve);
    std::filesystem::create_symlink(in, testFile("link.txt"));
    const std::string folder = TestFolder::current().path();
    const std::vector<std::string> log = {"logsweep", "--simulate", "", "--length", "32768"};
    const std::vector<std::string> sweep = {"sweep", "--simulate", "", "--bands", "15"};
    const auto with = [](std::vector<std::string> a, const std::vector<std::string>& more) {
        a.insert(a.end(), more.begin(), more.end());
        return a;
    };
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string said;
    };
    for (const Case& c : {
             Case{{"plot", in, "--png", in}, 2, "--png '" + in + "' is the same file as the input"},
             Case{{"plot", in, "--svg", testFile("link.txt")}, 2, "is the same file as the input"},
             Case{with(log, {"--ir", testFile("x"), "--out", testFile("x")}), 2, "are the same file"},
             Case{with(sweep, {"--correct-user", cal, "--out", cal}), 2, "is the same file as the input"},
             Case{with(sweep, {"--out", folder + "/new.txt", "--csv", folder + "/./new.txt"}), 2, "are the same"},
             Case{with(sweep, {"--out", good, "--frd", folder + "/none/x.frd"}), 5, "Error saving file"},
             Case{with(log, {"--out", good, "--png", folder}), 5, "Is a directory"},
             Case{with(log, {"--out", good, "--room", folder + "/none/room.csv"}), 5, "Error saving file"},
             Case{with(sweep, {"--volume", "+-5"}), 2, "--volume needs a level"},
         }) {
        const Outcome r = measure(c.args);
        EXPECT_EQ(r.code, c.code) << c.said << "\n" << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("points from"), std::string::npos) << "measured: " << r.err;
        EXPECT_FALSE(std::filesystem::exists(good)) << c.said;
        EXPECT_EQ(slurp(in), curve);
        EXPECT_EQ(slurp(cal), curve);
    }
    // Levels no trace is drawn at are refused; off the span, reported.
    spit(in, "20,1e306\r\n20000,-1e306\r\n");
    EXPECT_EQ(measure({"plot", in, "--png", good}).code, MeasureCommand::FileError);
    spit(in, "20,100\r\n20000,0\r\n");
    EXPECT_NE(measure({"plot", in, "--png", good}).err.find("1 of 2 points lie outside +-24 dB"), std::string::npos);
}

// A sweep whose blocks always clip says so at each retry and stops.
TEST(OutputFilesTest, ClippedBlocksAreRetriedUpToTheLimit)
{
    const Outcome r = measure({"sweep", "--simulate", "gain=20", "--bands", "15", "--max-retries", "3"});
    EXPECT_EQ(r.code, MeasureCommand::Clipped) << r.err;
    EXPECT_NE(r.err.find("measuring it again (3 of 3)"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("after 3 measurements again; the sweep stops"), std::string::npos) << r.err;
}

} // namespace

} // namespace audimera
