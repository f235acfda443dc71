// audimera-measure session: a session made from files, listed and taken
// apart again into the same samples and points; bad usage and bad files end
// with their exit codes and write nothing.
#include "curves/CurveFile.h"
#include "curves/ImpulseFile.h"
#include "engine/SessionFile.h"
#include "tests/cli/CommandRun.h"
#include "tests/support/TestFolder.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <cstring>
#include <filesystem>

namespace audimera {

namespace {

TEST(SessionCommandTest, MakeListAndExtractGiveBackTheFiles)
{
    TestFolder folder;
    const std::string ir = folder.file("hall.wav"), trace = folder.file("t.frd"), session = folder.file("s.audimera");
    std::vector<float> samples(3000);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<float>(i % 7) * -1.25e-39f + static_cast<float>(i) / 3000;
    ASSERT_TRUE(ImpulseFile::writeWav(ir, samples, 96000).ok());
    spit(trace, "* measured\n20 -1.5 10\n1000 0.125 -45.5\n20000 3 170\n");

    const Outcome made = measure({"session", session, "--make", "--ir", ir, "--trace", trace});
    ASSERT_EQ(made.code, 0) << made.err;
    const Outcome listed = measure({"session", session});
    EXPECT_EQ(listed.code, 0) << listed.err;
    EXPECT_NE(listed.out.find("\"t.frd\", 3 points, with phase"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("\"hall.wav\", "), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find(", 96000 Hz, 3000 samples (0.031 s), impulse"), std::string::npos) << listed.out;

    const std::string out = folder.file("out");
    ASSERT_EQ(measure({"session", session, "--extract", out}).code, 0);
    const Result<ImpulseFile::Impulse> back = ImpulseFile::read(out + "/measurement-001.wav");
    ASSERT_TRUE(back.ok()) << back.message();
    EXPECT_EQ(back->rate, 96000);
    EXPECT_TRUE(back->samples.size() == samples.size()
                && std::memcmp(back->samples.data(), samples.data(), samples.size() * sizeof(float)) == 0);
    std::vector<ResponsePoint> points;
    ASSERT_TRUE(CurveFile::read(out + "/trace-001.frd", 100, points).ok());
    ASSERT_EQ(points.size(), 3u);
    EXPECT_TRUE(points[1].frequency == 1000 && points[1].level == 0.125 && points[1].phase == -45.5);
    // A second extraction replaces nothing.
    spit(out + "/trace-001.frd", "mine");
    EXPECT_EQ(measure({"session", session, "--extract", out}).code, 5);
    EXPECT_EQ(slurp(out + "/trace-001.frd"), "mine");
}

TEST(SessionCommandTest, BadUsageAndBadFilesEndWithTheirCodes)
{
    TestFolder folder;
    const std::string junk = folder.file("junk.audimera"), newer = folder.file("newer.audimera");
    spit(junk, "not a zip");
    {
        // A session from a newer schema, written by hand.
        zip_t* z = zip_open(newer.c_str(), ZIP_CREATE | ZIP_TRUNCATE, nullptr);
        static const char json[] = R"({"schemaVersion":99,"traces":[]})";
        zip_file_add(z, "session.json", zip_source_buffer(z, json, sizeof json - 1, 0), 0);
        ASSERT_EQ(zip_close(z), 0);
    }
    const struct {
        std::vector<std::string> args;
        int code;
        std::string said;
    } cases[] = {
        {{"session"}, 2, "needs a session file"},
        {{"session", "a", "b"}, 2, "one session file"},
        {{"session", "a", "--make"}, 2, "at least one --ir or --trace"},
        {{"session", "a", "--ir", "x.wav"}, 2, "go with --make"},
        {{"session", "a", "--make", "--extract", "d", "--ir", "x"}, 2, "cannot go together"},
        {{"session", "a", "--bogus"}, 2, "unknown option"},
        {{"session", folder.file("none.audimera")}, 5, "No such file"},
        {{"session", junk}, 5, "not a session file"},
        {{"session", newer}, 2, "from a newer Audimera"},
        {{"session", junk, "--extract", folder.file("d")}, 5, "not a session file"},
        {{"session", folder.file("new.audimera"), "--make", "--ir", junk}, 5, "Error loading file"},
        {{"session", junk, "--make", "--trace", junk}, 2, "the same file"},
    };
    for (const auto& c : cases) {
        const Outcome o = measure(c.args);
        EXPECT_EQ(o.code, c.code) << c.args.back() << ": " << o.err;
        EXPECT_NE(o.err.find(c.said), std::string::npos) << c.args.back() << ": " << o.err;
    }
    EXPECT_EQ(slurp(junk), "not a zip");
    EXPECT_FALSE(std::filesystem::exists(folder.file("d")));
    EXPECT_FALSE(std::filesystem::exists(folder.file("new.audimera")));
}

} // namespace

} // namespace audimera
