#include "curves/FieldReader.h"
#include "tests/support/TestFolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <locale>
#include <unistd.h>
#include <vector>

namespace audimera {

namespace {

using FieldStatus = FieldReader::Status;
using Values = std::vector<double>;

// Writes content to a file in the running test's own folder.
std::string tempFile(const std::string& content, const std::string& tag = "")
{
    const std::string path = testFile("fields" + tag + ".txt");
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

// Every field up to the end or the first error, and that error ("" at End).
std::pair<Values, std::string> readAll(FieldReader& reader)
{
    Values values;
    double v = 0;
    FieldStatus status;
    while ((status = reader.next(v)) == FieldStatus::Field)
        values.push_back(v);
    return {values, status == FieldStatus::Error ? reader.error() : ""};
}

Values fields(const std::string& text)
{
    FieldReader reader = FieldReader::fromText(text);
    auto [values, error] = readAll(reader);
    EXPECT_EQ(error, "");
    return values;
}

std::string firstError(const std::string& text)
{
    FieldReader reader = FieldReader::fromText(text);
    return readAll(reader).second;
}

} // namespace

TEST(FieldReaderTest, SeparatorsLineBreaksAndNumberForms)
{
    EXPECT_EQ(fields("1,2 3\t4  ,  5\n6\r\n7\r8"), (Values{1, 2, 3, 4, 5, 6, 7, 8}));
    // Runs of separators count as one, so empty fields and blank lines vanish;
    // a decimal comma is a separator.
    EXPECT_EQ(fields(",1,,2,\n\n\r\n,3, "), (Values{1, 2, 3}));
    EXPECT_EQ(fields("1,5"), (Values{1, 5}));
    EXPECT_EQ(fields(",, \r\n\t"), Values{});
    EXPECT_EQ(fields("+5 .5 -.5 +.5 5. 1e3 2.5E-2 1e+2 007 31.5 1000,-3.25 4.9e-324"),
              (Values{5, 0.5, -0.5, 0.5, 5, 1000, 0.025, 100, 7, 31.5, 1000, -3.25, 4.9e-324}));
    // A UTF-8 byte order mark is skipped at the start only.
    EXPECT_EQ(fields("\xEF\xBB\xBF" "100,2"), (Values{100, 2}));
    EXPECT_EQ(firstError("1 \xEF\xBB\xBF" "2"), "not a number \"???2\" at line 1");

    // LF, CR LF and a lone CR each end one line.
    FieldReader reader = FieldReader::fromText("1\n2\r\n3\r4\n\r5\r\n\r\n6 7");
    double v = 0;
    for (const auto& [value, line] : std::vector<std::pair<double, int>>{
             {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 6}, {6, 8}, {7, 8}}) {
        ASSERT_EQ(reader.next(v), FieldStatus::Field);
        EXPECT_EQ(v, value);
        EXPECT_EQ(reader.line(), line) << value;
    }
    EXPECT_EQ(reader.next(v), FieldStatus::End);
    EXPECT_EQ(reader.next(v), FieldStatus::End);
}

TEST(FieldReaderTest, BadInputStopsTheReadingWithItsLine)
{
    for (const char* bad : {"abc", "1.2.3", "12kHz", "+-5", "++5", "+", ".", "e5", "1e", "inf",
                            "nan", "0x10", "1;2", "5\v", "\xC2\xBD"}) {
        FieldReader reader = FieldReader::fromText(std::string("10\r\n") + bad + " 20");
        double v = 0;
        ASSERT_EQ(reader.next(v), FieldStatus::Field);
        EXPECT_EQ(reader.next(v), FieldStatus::Error) << bad;
        EXPECT_EQ(reader.line(), 2);
        EXPECT_EQ(reader.error().rfind("not a number \"", 0), 0u) << reader.error();
        // The error is final and leaves the value alone.
        EXPECT_EQ(reader.next(v), FieldStatus::Error);
        EXPECT_EQ(v, 10);
    }
    // Control and non-ASCII bytes are not echoed into the message.
    EXPECT_EQ(firstError("\n\n\x1b[2J\xFF"), "not a number \"?[2J?\" at line 3");
    EXPECT_EQ(firstError("5\n-1e400"), "number out of range \"-1e400\" at line 2");
    EXPECT_EQ(firstError("1e-400"), "number out of range \"1e-400\" at line 1");

    const std::string longest = "1." + std::string(FieldReader::MaxFieldLength - 2, '5');
    EXPECT_EQ(firstError(longest), "");
    EXPECT_EQ(firstError("1\n" + longest + "5"), "field too long at line 2");
    EXPECT_EQ(firstError(std::string(10'000'000, '7')), "field too long at line 1");
    EXPECT_EQ(firstError(std::string("1\n2\0003", 5)), "NUL byte at line 2");
    EXPECT_EQ(firstError(std::string("1,\0", 3)), "NUL byte at line 1");
}

TEST(FieldReaderTest, Files)
{
    FieldReader reader;
    EXPECT_EQ(reader.open("/nonexistent/UserFreq.txt").message(), std::strerror(ENOENT));
    // A folder is refused when opened (it was once opened, then unreadable).
    EXPECT_EQ(reader.open(TestFolder::current().path()).message(), std::strerror(EISDIR));

    // Reopening starts afresh; the last line needs no line break.
    const std::string noNewline = tempFile("1000,-3.25\r\n2000,-1.5");
    ASSERT_EQ(reader.open(noNewline).message(), "");
    EXPECT_EQ(readAll(reader).first, (Values{1000, -3.25, 2000, -1.5}));
    EXPECT_EQ(reader.line(), 2);

    // A CR LF split by a chunk boundary, a field split by the next one, then
    // many lines.
    constexpr std::size_t Chunk = FieldReader::ChunkSize;
    std::string text = "1" + std::string(Chunk - 2, ' ') + "\r\n" + std::string(Chunk - 3, ',')
        + "123.25\n";
    constexpr int Lines = 50000;
    for (int i = 0; i < Lines; ++i)
        text += std::to_string(i) + ".5, " + std::to_string(-i) + "\r\n";
    const std::string big = tempFile(text, "big");
    ASSERT_EQ(reader.open(big).message(), "");
    const auto [values, error] = readAll(reader);
    EXPECT_EQ(error, "");
    ASSERT_EQ(values.size(), 2u + 2 * Lines);
    EXPECT_EQ(values[1], 123.25);
    EXPECT_EQ(values[2 + 2 * 4321], 4321.5);
    EXPECT_EQ(values.back(), -(Lines - 1));
    EXPECT_EQ(reader.line(), 3 + Lines);
    std::filesystem::remove(noNewline);
    std::filesystem::remove(big);
}

namespace {
struct CommaDecimal : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
};
} // namespace

TEST(FieldReaderTest, IgnoresTheLocale)
{
    const std::locale previous =
        std::locale::global(std::locale(std::locale::classic(), new CommaDecimal));
    EXPECT_EQ(fields("1.5,2.25"), (Values{1.5, 2.25}));
    std::locale::global(previous);

    const std::string previousC = std::setlocale(LC_ALL, nullptr);
    bool commaLocale = false;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"})
        if ((commaLocale = std::setlocale(LC_ALL, name) != nullptr))
            break;
    if (!commaLocale)
        GTEST_SKIP() << "no locale with a decimal comma installed";
    EXPECT_EQ(*std::localeconv()->decimal_point, ',');
    EXPECT_EQ(fields("1.5,2.25\n-.5 3e-1"), (Values{1.5, 2.25, -0.5, 0.3}));
    std::setlocale(LC_ALL, previousC.c_str());
}

} // namespace audimera
