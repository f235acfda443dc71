// Microphone calibration files and FRD files: one record a line, headers
// and comments skipped. Each accepted variant must give exactly the column
// (or trace) of the same records in the curve files' own form; each refusal
// names the line and what is wrong.
#include "curves/CorrectionCurve.h"
#include "curves/CurveFile.h"
#include "tests/support/TestFolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

namespace audimera {

namespace {

std::string writeFile(const std::string& name, const std::string& text)
{
    const std::string path = testFile(name);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    return path;
}

struct FormCase {
    const char* name;
    std::string text;
    // Accepted: the same records in the documented form. Refused: empty.
    std::string documented;
    // Refused: the end of the message (after "' : " for read errors).
    std::string error;
    // Every record has a phase.
    bool phase = false;
};

// Named by its name in test listings (not by its bytes).
void PrintTo(const FormCase& c, std::ostream* out)
{
    *out << c.name;
}

const std::string Bom = "\xEF\xBB\xBF";
const std::string SensHeader = "\"Sens Factor =-.7dB, SERNO: 7001234\"";

const FormCase FormCases[] = {
    // Accepted variants: the column of "100,0 / 200,6 / 1000,-1.5".
    {"Tabs", SensHeader + "\n100\t0\n200\t6\n1000\t-1.5\n", "100,0\n200,6\n1000,-1.5\n", ""},
    {"Spaces", "*header\n100  0\n200 6\n1000   -1.5\n", "100,0\n200,6\n1000,-1.5\n", ""},
    {"Commas", "Freq,dB\n100,0\n200,6\n1000,-1.5\n", "100,0\n200,6\n1000,-1.5\n", ""},
    {"CommaSpace", "Freq, dB\n100, 0\n200, 6\n1000, -1.5\n", "100,0\n200,6\n1000,-1.5\n", ""},
    {"HeaderLines", SensHeader + "\n\"Serial 7001234\"\nMy microphone\n100 0\n200 6\n1000 -1.5\n",
     "100,0\n200,6\n1000,-1.5\n", ""},
    {"Comments", "* made by a tool\n; another\n100 0\n* between\n200 6\n\n# and\n1000 -1.5\n",
     "100,0\n200,6\n1000,-1.5\n", ""},
    {"PhaseColumn", "100 0 12.5\n200 6 -45\n1000 -1.5 0\n", "100,0\n200,6\n1000,-1.5\n", "", true},
    {"PhaseColumnAfterHeader", SensHeader + "\n100\t0\t12.5\n200\t6\t-45\n1000\t-1.5\t0\n",
     "100,0\n200,6\n1000,-1.5\n", "", true},
    {"WindowsLineEnds", SensHeader + "\r\n100\t0\r\n200\t6\r\n1000\t-1.5\r\n", "100,0\n200,6\n1000,-1.5\n", ""},
    {"ByteOrderMark", Bom + SensHeader + "\n100\t0\n200\t6\n1000\t-1.5\n", "100,0\n200,6\n1000,-1.5\n", ""},
    {"ByteOrderMarkAndPhase", Bom + "100 0 1\n200 6 2\n1000 -1.5 3\n", "100,0\n200,6\n1000,-1.5\n", "", true},
    {"SignsAndPoints", "x\n+100 .0e0\n200. +6\n1e3 -1.5\n", "100,0\n200,6\n1000,-1.5\n", ""},
    // The documented rules of the records: one record, falling frequencies
    // (the ends from the first kept and the last read record), out of range.
    {"OneRecord", SensHeader + "\n1000\t2\n", "1000,2\n", ""},
    {"FallingFrequencies", "*\n1000 4\n100 0\n", "1000,4\n100,0\n", ""},
    {"OutOfRangeSkipped", "*\n5 9\n100 0\n30000 3\n", "5,9\n100,0\n30000,3\n", ""},
    // The documented form itself: fields paired across lines as before.
    {"DocumentedShiftedPairs", "100,1,200\n2\n300,3\n", "100,1\n200,2\n300,3\n", ""},
    // Refusals.
    {"NonNumberGain", SensHeader + "\n100\t0\n200\tx\n", "", "not a number \"x\" at line 3"},
    {"NonNumberPhase", "*\n100 0 0\n200 6 north\n", "", "not a number \"north\" at line 3"},
    {"NonNumberFrequency", "*\n100 0\n12kHz 6\n", "", "not a number \"12kHz\" at line 3"},
    {"MissingGain", "*\r\n100 0\r\n200\r\n", "", "no level after the frequency at line 3"},
    {"NulByte", std::string("*\n100 0\n2\0 6\n", 12), "", "NUL byte at line 3"},
    {"EmptyFile", "", "", "Bad calibration file, no points were found !"},
    {"OnlyHeaders", SensHeader + "\r\n* nothing else\r\n", "", "Bad calibration file, no points were found !"},
};

class CalibrationForms : public testing::TestWithParam<FormCase> {};

TEST_P(CalibrationForms, LoadLikeTheDocumentedFormOrSayWhy)
{
    const FormCase& c = GetParam();
    const std::string path = writeFile("calibration.cal", c.text);
    std::vector<double> column(CorrectionCurve::Entries, 12345);
    const Status loaded = CorrectionCurve::load(path, column.data());
    if (c.documented.empty()) {
        ASSERT_FALSE(loaded.ok());
        const std::string& m = loaded.message();
        EXPECT_EQ(m.substr(m.size() - std::min(m.size(), c.error.size())), c.error) << m;
        return;
    }
    ASSERT_TRUE(loaded.ok()) << loaded.message();
    std::vector<double> expected(CorrectionCurve::Entries, 12345);
    ASSERT_TRUE(CorrectionCurve::load(writeFile("documented.txt", c.documented), expected.data()).ok());
    for (int k = 0; k < CorrectionCurve::Entries; ++k)
        ASSERT_EQ(column[k], expected[k]) << "entry " << k;
}

// Load Trace reads the same forms: the records as the documented form
// gives them, the phase kept where the file has one.
TEST_P(CalibrationForms, LoadAsATraceLikeTheDocumentedForm)
{
    const FormCase& c = GetParam();
    std::vector<ResponsePoint> trace;
    const Status read = CurveFile::read(writeFile("trace.frd", c.text), 100, trace);
    if (c.documented.empty()) {
        if (!read.ok())
            EXPECT_EQ(read.message().find(c.error), 0u) << read.message();
        else
            EXPECT_TRUE(trace.empty());
        return;
    }
    ASSERT_TRUE(read.ok()) << read.message();
    std::vector<CurvePoint> expected;
    ASSERT_TRUE(CurveFile::read(writeFile("documented.txt", c.documented), 100, expected).ok());
    ASSERT_EQ(trace.size(), expected.size());
    for (size_t i = 0; i < trace.size(); ++i) {
        EXPECT_EQ(trace[i].frequency, expected[i].frequency);
        EXPECT_EQ(trace[i].level, expected[i].level);
        EXPECT_EQ(trace[i].phase.has_value(), c.phase) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(All, CalibrationForms, testing::ValuesIn(FormCases),
                         [](const testing::TestParamInfo<FormCase>& info) { return std::string(info.param.name); });

TEST(CalibrationFormsTest, PhaseIsKeptPerRecord)
{
    std::vector<ResponsePoint> trace;
    const std::string path = writeFile("phase.frd", "* FRD\n20 1.5 -10\n25 2\n30 2.5 170.25\n");
    ASSERT_TRUE(CurveFile::read(path, 100, trace).ok());
    ASSERT_EQ(trace.size(), 3u);
    EXPECT_EQ(trace[0].phase, -10);
    EXPECT_FALSE(trace[1].phase.has_value());
    EXPECT_EQ(trace[2].phase, 170.25);
}

TEST(CalibrationFormsTest, SensitivityFactorFromTheHeader)
{
    struct Case {
        std::string text;
        std::optional<double> value;
        std::string unit;
    };
    const Case cases[] = {
        {SensHeader + "\n100\t0\n", -0.7, "dB"},
        {"\"sensitivity: -37.5 dBFS\"\n100 0\n", -37.5, "dBFS"},
        {"* Sens Factor = +1.25\n100 0\n", 1.25, ""},
        {"* no factor here\n100 0\n", std::nullopt, ""},
        {"* Sens Factor = unknown\n100 0\n", std::nullopt, ""},
        {"100,0\n200,1\n", std::nullopt, ""},
    };
    for (const Case& c : cases) {
        std::vector<double> column(CorrectionCurve::Entries);
        std::optional<FieldReader::Sensitivity> sensitivity = FieldReader::Sensitivity{99, "x"};
        ASSERT_TRUE(CorrectionCurve::load(writeFile("sens.cal", c.text), column.data(), &sensitivity).ok()) << c.text;
        ASSERT_EQ(sensitivity.has_value(), c.value.has_value()) << c.text;
        if (c.value) {
            EXPECT_EQ(sensitivity->value, *c.value);
            EXPECT_EQ(sensitivity->unit, c.unit);
        }
        // It changes nothing in the curve.
        EXPECT_EQ(column[CorrectionCurve::entryOf(100)], 0);
    }
}

// The form is decided by the first chunk: a header line beyond it does not
// turn a documented file into one record a line, so the file reads field
// for field (and fails at the header) as before.
TEST(CalibrationFormsTest, FormIsDecidedByTheFirstChunk)
{
    std::string text;
    while (text.size() < FieldReader::ChunkSize)
        text += "100,1,200\n2\n300,3\n";
    FieldReader early = FieldReader::fromText("title\n" + text);
    EXPECT_EQ(early.form(), FieldReader::Form::Lines);
    FieldReader late = FieldReader::fromText(text + "title\n");
    EXPECT_EQ(late.form(), FieldReader::Form::Fields);
}

} // namespace

} // namespace audimera
