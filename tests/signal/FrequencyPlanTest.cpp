#include "signal/FrequencyPlan.h"
#include "tests/support/TestFolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>
#include <vector>

namespace audimera {

namespace {

using Values = std::vector<double>;

// Reads content as list file through plan 3 and removes the file again.
audimera::Status readList(FrequencyPlan& plan, const std::string& content, std::string* path = nullptr)
{
    const std::string file = testFile("list.txt");
    std::ofstream(file, std::ios::binary) << content;
    audimera::Status outcome = plan.ResetGenerator(3, file);
    std::filesystem::remove(file);
    if (path)
        *path = file;
    return outcome;
}

std::string readError(const std::string& path, const std::string& reason)
{
    return "Error reading user frequency file '" + path + "' : \n" + reason;
}

} // namespace

TEST(FrequencyPlanTest, BandPlansAndHandingOut)
{
    FrequencyPlan plan;
    EXPECT_EQ(plan.GetNextGeneratorFreq(), -1); // nothing built yet

    audimera::Status outcome = plan.ResetGenerator(1, "");
    EXPECT_TRUE(outcome.ok() && plan.notice().empty());
    EXPECT_EQ(plan.FreqList, (Values{25, 40, 63, 100, 160, 250, 400, 630, 1000, 1600, 2500, 4000,
                                     6300, 10000, 16000, -1}));
    outcome = plan.ResetGenerator(2, "");
    EXPECT_TRUE(outcome.ok() && plan.notice().empty());
    EXPECT_EQ(plan.FreqList,
              (Values{20,   25,   31.5, 40,   50,   63,   80,    100,   125,   160,   200,
                      250,  315,  400,  500,  630,  800,  1000,  1250,  1600,  2000,  2500,
                      3150, 4000, 5000, 6300, 8000, 10000, 12500, 16000, 20000, -1}));

    // Handed out in order; past the end the end mark again, without running off.
    for (double band : FrequencyPlan::IsoBands31)
        EXPECT_EQ(plan.GetNextGeneratorFreq(), band);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(plan.GetNextGeneratorFreq(), -1);
    EXPECT_EQ(plan.FreqListPos, 32);

    // The range plan and unknown plans rewind but keep the list.
    EXPECT_TRUE(plan.ResetGenerator(0, "").ok());
    EXPECT_EQ(plan.FreqListPos, 0);
    EXPECT_TRUE(plan.ResetGenerator(7, "").ok());
    EXPECT_EQ(plan.FreqList.size(), 32u);
    plan.FreqListPos = -3;
    EXPECT_EQ(plan.GetNextGeneratorFreq(), -1);
}

TEST(FrequencyPlanTest, ListFiles)
{
    FrequencyPlan plan;
    audimera::Status outcome = readList(plan, "100\n50\n200\n200\n5\n30000\n300\n");
    EXPECT_TRUE(outcome.ok() && plan.notice().empty());
    EXPECT_EQ(plan.FreqList, (Values{100, 200, 300, -1}));

    // Both ends of the range count; CR LF, commas, tabs and a last line
    // without a line break all work; a skipped value is not a last one kept.
    EXPECT_TRUE(readList(plan, "9.99, 10\r\n10.5\t24000\r\n24000.000001,1e4\r\n20 23999 +2.4e4 24001").ok());
    EXPECT_EQ(plan.FreqList, (Values{10, 10.5, 24000, -1}));
    EXPECT_TRUE(readList(plan, "1000 20 900 30000 1100").ok());
    EXPECT_EQ(plan.FreqList, (Values{1000, 1100, -1}));
    // A decimal comma splits a number in two fields.
    EXPECT_TRUE(readList(plan, "1000\n1,5e3\n").ok());
    EXPECT_EQ(plan.FreqList, (Values{1000, 5000, -1}));

    for (const char* nothing : {"", "\r\n\r\n", "5 9 30000 -100"}) {
        outcome = readList(plan, nothing);
        EXPECT_TRUE(outcome.ok());
        EXPECT_EQ(plan.notice(), "Bad frequency file, no entry found !");
        EXPECT_EQ(plan.FreqList, Values{-1});
    }

    // 300000 fields of which every third is kept.
    std::string many;
    for (int i = 0; i < 100000; ++i)
        many += std::to_string(10 + i * 0.2) + "\r\n5\r\n" + std::to_string(10 + i * 0.2) + "\n";
    outcome = readList(plan, many);
    EXPECT_TRUE(outcome.ok() && plan.notice().empty());
    ASSERT_EQ(plan.FreqList.size(), 100001u);
    EXPECT_NEAR(plan.FreqList[99999], 20009.8, 1e-9);
}

TEST(FrequencyPlanTest, UnreadableListFiles)
{
    FrequencyPlan plan;
    audimera::Status outcome = plan.ResetGenerator(3, "/nonexistent/UserFreq.txt");
    EXPECT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.message(), readError("/nonexistent/UserFreq.txt", std::strerror(ENOENT)));
    EXPECT_EQ(plan.FreqList, Values{-1});
    const std::string folder = TestFolder::current().path();
    EXPECT_EQ(plan.ResetGenerator(3, folder).message(), readError(folder, std::strerror(EISDIR)));

    // Bad content stops the reading; the values kept before it stay, ended by -1.
    std::string path;
    outcome = readList(plan, "100\n200\n12kHz\n300\n", &path);
    EXPECT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.message(), readError(path, "not a number \"12kHz\" at line 3"));
    EXPECT_EQ(plan.FreqList, (Values{100, 200, -1}));
    EXPECT_EQ(readList(plan, std::string("100\n\0\0\x7f" "ELF", 8)).message(),
              readError(path, "NUL byte at line 2"));
    EXPECT_EQ(readList(plan, "1000\n" + std::string(100000, '1')).message(),
              readError(path, "field too long at line 2"));

    // One rising entry more than the limit is refused.
    const std::size_t limit = FrequencyPlan::MaxListEntries;
    std::string tooMany;
    for (std::size_t i = 0; i <= limit; ++i)
        tooMany += std::to_string(10 + static_cast<double>(i) * 0.01) + "\n";
    outcome = readList(plan, tooMany);
    EXPECT_FALSE(outcome.ok());
    EXPECT_EQ(outcome.message(), readError(path, "more than " + std::to_string(limit)
                                                   + " frequencies at line "
                                                   + std::to_string(limit + 1)));
    EXPECT_EQ(plan.FreqList.size(), limit + 1);
}

} // namespace audimera
