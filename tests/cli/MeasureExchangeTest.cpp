// audimera-measure with the files other tools write and read: a microphone
// calibration file as the user correction, FRD, CSV and SVG output, and
// plot reading what Load Trace reads.
#include "cli/MeasureCommand.h"
#include "tests/cli/CommandRun.h"
#include "curves/CorrectionCurve.h"
#include "curves/CurveFile.h"
#include "tests/support/TestFolder.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QXmlStreamReader>

#include <fstream>
#include <sstream>

namespace audimera {

namespace {

std::vector<ResponsePoint> readResponse(const std::string& path)
{
    std::vector<ResponsePoint> points;
    const Status read = CurveFile::read(path, 22051, points);
    EXPECT_TRUE(read.ok()) << path << ": " << read.message();
    return points;
}

std::vector<ResponsePoint> parse(const std::string& text)
{
    const std::string path = testFile("printed.txt");
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    return readResponse(path);
}

std::string writeFile(const std::string& name, const std::string& text)
{
    const std::string path = testFile(name);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    return path;
}

// Whether the file is well-formed XML whose root element is svg; the
// number of polyline elements.
int svgPolylines(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    QXmlStreamReader xml(&file);
    int polylines = 0;
    bool root = true;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement) {
            if (root && xml.name() != QLatin1String("svg"))
                return -1;
            root = false;
            polylines += xml.name() == QLatin1String("polyline");
        }
    }
    return xml.hasError() ? -1 : polylines;
}

// A calibration file in the microphone form corrects a sweep exactly as the
// same records in the documented form do: by the interpolated gain at each
// band. Its sensitivity factor is reported and subtracts nothing.
TEST(MeasureExchangeTest, CalibrationFileCorrectsLikeTheDocumentedForm)
{
    const std::string documented = writeFile("documented.txt", "20,1.5\n100,-0.25\n1000,0\n5000,2.75\n16000,-4\n");
    const std::string calibration = writeFile(
        "umik.txt", "\xEF\xBB\xBF\"Sens Factor =-.7dB, SERNO: 7001234\"\r\n* comment\r\n20\t1.5\t0\r\n"
                    "100\t-0.25\t10\r\n1000\t0\t0\r\n5000\t2.75\t-20\r\n16000\t-4\t-90\r\n");
    std::vector<double> column(CorrectionCurve::Entries);
    ASSERT_TRUE(CorrectionCurve::load(documented, column.data()).ok());

    const Outcome plain = measure({"sweep", "--simulate", "", "--bands", "31"});
    const Outcome byDocumented = measure({"sweep", "--simulate", "", "--bands", "31", "--correct-user", documented});
    const Outcome byCalibration = measure({"sweep", "--simulate", "", "--bands", "31", "--correct-user", calibration});
    ASSERT_EQ(byCalibration.code, 0) << byCalibration.err;
    const auto p = parse(plain.out), d = parse(byDocumented.out), c = parse(byCalibration.out);
    ASSERT_EQ(c.size(), 31u);
    ASSERT_EQ(d.size(), c.size());
    ASSERT_EQ(p.size(), c.size());
    for (size_t i = 0; i < c.size(); ++i) {
        EXPECT_NEAR(c[i].level, d[i].level, 0.001) << c[i].frequency;
        EXPECT_NEAR(p[i].level - c[i].level, column[CorrectionCurve::entryOf(c[i].frequency)], 0.001)
            << c[i].frequency;
    }
    EXPECT_NE(byCalibration.err.find("'" + calibration + "': sensitivity factor -0.7 dB"), std::string::npos)
        << byCalibration.err;
    EXPECT_EQ(byDocumented.err.find("sensitivity"), std::string::npos);

    // The log sweep loads corrections the same way, and says the same.
    const Outcome swept = measure({"logsweep", "--simulate", "", "--length", "32768", "--range", "100", "10000",
                                   "--correct-user", calibration});
    ASSERT_EQ(swept.code, 0) << swept.err;
    EXPECT_NE(swept.err.find("'" + calibration + "': sensitivity factor -0.7 dB"), std::string::npos) << swept.err;

    // A line that begins with a number must hold numbers: nothing is measured.
    const std::string bad = writeFile("bad.cal", "\"Sens Factor =-.7dB\"\n20\t1.5\n100\tn/a\n");
    for (const char* command : {"sweep", "logsweep"}) {
        const Outcome refused = measure({command, "--simulate", "", "--correct-user", bad});
        EXPECT_EQ(refused.code, MeasureCommand::FileError) << command;
        EXPECT_NE(refused.err.find("Error loading calibration file '" + bad + "' : not a number \"n/a\" at line 3"),
                  std::string::npos)
            << refused.err;
    }
}

TEST(MeasureExchangeTest, SweepWritesFrdCsvAndSvg)
{
    const std::string frd = testFile("sweep.frd"), csv = testFile("sweep.csv"), svg = testFile("sweep.svg");
    const Outcome r = measure({"sweep", "--simulate", "lowpass=2000", "--bands", "15", "--frd", frd, "--csv", csv,
                           "--svg", svg});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto printed = parse(r.out);
    const auto fromFrd = readResponse(frd);
    ASSERT_EQ(fromFrd.size(), printed.size());
    for (size_t i = 0; i < printed.size(); ++i) {
        EXPECT_EQ(fromFrd[i].frequency, printed[i].frequency);
        EXPECT_EQ(fromFrd[i].level, printed[i].level);
        EXPECT_EQ(fromFrd[i].phase, 0.0);
    }
    std::ifstream in(csv);
    std::string header;
    std::getline(in, header);
    EXPECT_EQ(header, "frequency_hz,level_db\r");
    EXPECT_GT(svgPolylines(svg), 10);
}

// plot reads what Load Trace reads, by content: an FRD with comments and
// phase, a calibration file, a saved curve.
TEST(MeasureExchangeTest, PlotReadsFrdAndCalibrationFiles)
{
    const std::string frd = writeFile("speaker.frd", "* tool output\n20 -3 10\n200 0 5\n2000 1 -5\n20000 -6 -80\n");
    const std::string cal = writeFile("mic.cal", "\"Sens Factor =-1.2dB\"\n20\t-1\n20000\t1\n");
    const std::string saved = writeFile("saved.txt", "20,0\r\n20000,0\r\n");
    const std::string svg = testFile("plot.svg"), png = testFile("plot.png");
    const Outcome r = measure({"plot", frd, cal, saved, "--svg", svg, "--png", png});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_GT(svgPolylines(svg), 3);
    EXPECT_TRUE(QFile::exists(QString::fromStdString(png)));

    EXPECT_EQ(measure({"plot", frd}).code, MeasureCommand::BadUsage);
    EXPECT_EQ(measure({"plot", frd, "--svg", ""}).code, MeasureCommand::BadUsage);
    EXPECT_EQ(measure({"sweep", "--simulate", "", "--frd"}).code, MeasureCommand::BadUsage);
}

} // namespace

} // namespace audimera
