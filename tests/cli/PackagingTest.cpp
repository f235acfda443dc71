// What an installed Audimera tells its user about itself: both programs say
// which version they are, without a display or a sound server, and the
// manual page of audimera-measure describes every option its usage lists.
#include "cli/MeasureCommand.h"
#include "common/BuildInfo.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <sys/wait.h>

namespace audimera {

namespace {

struct Output {
    int status;
    std::string text;
};

Output runProgram(const std::string& command)
{
    Output o{-1, {}};
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return o;
    char buf[256];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
        o.text.append(buf, n);
    o.status = pclose(pipe);
    return o;
}

TEST(VersionTest, ProjectVersionIsMajorMinorPatch)
{
    EXPECT_TRUE(std::regex_match(BuildInfo::Version, std::regex("[0-9]+\\.[0-9]+\\.[0-9]+"))) << BuildInfo::Version;
}

TEST(VersionTest, BothProgramsPrintNameAndVersion)
{
    struct Case {
        const char* program;
        const char* name;
    } cases[] = {
        {AUDIMERA_MEASURE_PATH, "audimera-measure"},
        // No display, no sound server: answered before either is needed.
        {AUDIMERA_PROGRAM_PATH, "audimera"},
    };
    for (const Case& c : cases) {
        const Output o = runProgram("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" + std::string(c.program)
                                    + "' --version");
        EXPECT_EQ(o.status, 0) << c.name << ": " << o.text;
        EXPECT_EQ(o.text, std::string(c.name) + " " + BuildInfo::Version + "\n");
    }

    std::ostringstream out, err;
    EXPECT_EQ(MeasureCommand::run({"--version"}, out, err), MeasureCommand::Measured);
    EXPECT_EQ(out.str(), std::string("audimera-measure ") + BuildInfo::Version + "\n");
    EXPECT_EQ(err.str(), "");
    EXPECT_NE(MeasureCommand::usage().find("--version"), std::string::npos);
}

TEST(ManPageTest, DescribesEveryCommandAndOptionOfTheUsage)
{
    std::ifstream file(AUDIMERA_MEASURE_MAN_PAGE);
    ASSERT_TRUE(file) << AUDIMERA_MEASURE_MAN_PAGE;
    const std::string page((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::string usage = MeasureCommand::usage();

    std::set<std::string> wanted;
    const std::regex option("--[a-z0-9][a-z0-9-]*");
    for (auto it = std::sregex_iterator(usage.begin(), usage.end(), option); it != std::sregex_iterator(); ++it)
        wanted.insert(it->str());
    const std::regex command("audimera-measure ([a-z]+)");
    for (auto it = std::sregex_iterator(usage.begin(), usage.end(), command); it != std::sregex_iterator(); ++it)
        wanted.insert((*it)[1].str());
    ASSERT_GT(wanted.size(), 20u);

    for (std::string w : wanted) {
        if (w[0] != '-') {
            // A command: a bold item of its own.
            EXPECT_TRUE(page.find("\n.B " + w + "\n") != std::string::npos
                        || page.find("\n.BI " + w + " ") != std::string::npos)
                << "the manual page lacks the command " << w;
            continue;
        }
        // roff writes a literal '-' as "\-".
        for (size_t at = w.find('-'); at != std::string::npos; at = w.find('-', at + 2))
            w.replace(at, 1, "\\-");
        EXPECT_NE(page.find(w), std::string::npos) << "the manual page lacks " << w;
    }
}

} // namespace

} // namespace audimera
