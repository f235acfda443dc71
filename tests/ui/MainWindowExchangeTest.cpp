// The main window's files for other tools: Load Trace reading FRD and
// calibration files, Export Trace (FRD or CSV by the dialog's filter), Save
// Picture (PNG at the window's size times a scale, or SVG), and the
// sensitivity factor of a calibration file in the status line.
#include "tests/ui/MainWindowFixture.h"

#include "curves/CurveFile.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <cstdio>
#include <sys/stat.h>

namespace audimera {

namespace {

class MainWindowExchange : public MainWindowTest {
protected:
    std::string path(const char* name) const { return QDir(m_dir.path()).filePath(QString::fromLatin1(name)).toStdString(); }

    std::string write(const char* name, const std::string& content)
    {
        const std::string p = path(name);
        QFile file(QString::fromStdString(p));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content.data(), static_cast<qint64>(content.size()));
        return p;
    }

    static std::string readAll(const std::string& p)
    {
        QFile file(QString::fromStdString(p));
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
    }

    void answer(const std::string& p, int filter)
    {
        dialog.answers.push_back(p);
        dialog.filter = filter;
    }

    QTemporaryDir m_dir;
};

// Same value to 15 significant digits.
bool sameTo15Digits(double a, double b)
{
    char x[40], y[40];
    std::snprintf(x, sizeof x, "%.15g", a);
    std::snprintf(y, sizeof y, "%.15g", b);
    return std::string(x) == y;
}

TEST_F(MainWindowExchange, LoadTraceReadsAnFrdAndExportTraceWritesItBack)
{
    start();
    EXPECT_EQ(action("MenuEntryExportTrace")->isEnabled(), action("MenuEntrySave")->isEnabled());
    answer(write("speaker.frd", "* from a design tool\n20.5 -3.1234567890123 12.25\n1000 0.1 -5\n"
                                "19999.75 -6.5 -179.5\n"),
           1);
    trigger("MenuEntryLoadTrace");
    ASSERT_EQ(dialog.requests.size(), 1u);
    EXPECT_EQ(dialog.requests[0].filter, "Curve and calibration files (*.txt *.cal *.frd *.csv)");
    EXPECT_EQ(dialog.requests[0].moreFilters.back(), "All files (*)");
    ASSERT_TRUE(messages.empty()) << messages[0].text;
    EXPECT_TRUE(action("MenuEntryExportTrace")->isEnabled());

    // FRD: the trace read back to 15 significant digits, the phase kept.
    const std::string frd = path("export.frd");
    answer(frd, 0);
    trigger("MenuEntryExportTrace");
    ASSERT_TRUE(messages.empty()) << messages[0].text;
    const FileDialogRequest& r = dialog.requests.back();
    EXPECT_TRUE(r.save);
    EXPECT_EQ(r.fileName, "Curve1.frd");
    EXPECT_EQ(r.filter, "FRD file (*.frd)");
    EXPECT_EQ(r.moreFilters, (std::vector<std::string>{"CSV file (*.csv)", "Response Curve (*.txt)"}));
    std::vector<ResponsePoint> back;
    ASSERT_TRUE(CurveFile::read(frd, 100, back).ok());
    const std::vector<CurvePoint> trace = window->document().lastTrace();
    ASSERT_EQ(back.size(), 3u);
    ASSERT_EQ(trace.size(), 3u);
    const double phases[] = {12.25, -5, -179.5};
    for (size_t i = 0; i < back.size(); ++i) {
        EXPECT_TRUE(sameTo15Digits(back[i].frequency, trace[i].frequency)) << i;
        EXPECT_TRUE(sameTo15Digits(back[i].level, trace[i].level)) << back[i].level << " " << trace[i].level;
        EXPECT_EQ(back[i].phase, phases[i]);
    }
    EXPECT_TRUE(sameTo15Digits(back[0].level, -3.1234567890123));

    // CSV by the filter, with its header row.
    const std::string csv = path("export.csv");
    answer(csv, 1);
    trigger("MenuEntryExportTrace");
    EXPECT_EQ(readAll(csv).rfind("frequency_hz,level_db,phase_deg\r\n20.5,", 0), 0u) << readAll(csv);

    // A read-only file is refused and kept whole.
    const std::string locked = write("locked.frd", "old");
    ASSERT_EQ(chmod(locked.c_str(), 0444), 0);
    answer(locked, 0);
    trigger("MenuEntryExportTrace");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Error saving file '" + locked + "' : the file is read-only");
    EXPECT_EQ(readAll(locked), "old");

    // Clearing the traces disables it with Save Last Trace.
    click("cmdClearTraces");
    EXPECT_FALSE(action("MenuEntryExportTrace")->isEnabled());
}

TEST_F(MainWindowExchange, SavePictureWritesWhatTheResponseWindowShows)
{
    start();
    answer(write("curve.txt", "100,-1.5\r\n1000,0\r\n10000,-3.25\r\n"), 0);
    trigger("MenuEntryLoadTrace");
    const QImage shown = window->responseWindow().picture().image().convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(shown.isNull());

    // PNG at the window's size: the same pixels as the window.
    const std::string png = path("plot.png");
    answer(png, 0);
    trigger("MenuEntrySavePicture");
    ASSERT_TRUE(messages.empty()) << messages[0].text;
    EXPECT_EQ(dialog.requests.back().filter, "PNG picture (*.png)");
    ASSERT_EQ(dialog.requests.back().moreFilters.size(), 3u);
    QImage saved(QString::fromStdString(png));
    ASSERT_EQ(saved.size(), shown.size());
    EXPECT_TRUE(saved.convertToFormat(QImage::Format_RGB32) == shown);

    // Twice the size: the window's geometry scaled, a grid line's column too.
    const std::string big = path("plot2.png");
    answer(big, 1);
    trigger("MenuEntrySavePicture");
    saved = QImage(QString::fromStdString(big));
    EXPECT_EQ(saved.size(), shown.size() * 2);
    const auto zeroLineRow = [](const QImage& image) {
        for (int y = 0; y < image.height(); ++y)
            if (image.pixel(image.width() / 2, y) == qRgb(255, 0, 0))
                return y;
        return -1;
    };
    const int row = zeroLineRow(shown);
    ASSERT_GT(row, 0);
    EXPECT_NEAR(zeroLineRow(saved), 2 * row, 1);

    // SVG: well-formed, the window's size as its view box.
    const std::string svg = path("plot.svg");
    answer(svg, 3);
    trigger("MenuEntrySavePicture");
    ASSERT_TRUE(messages.empty()) << messages[0].text;
    QFile file(QString::fromStdString(svg));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    QString viewBox;
    int polylines = 0;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("svg"))
            viewBox = xml.attributes().value(QLatin1String("viewBox")).toString();
        polylines += xml.name() == QLatin1String("polyline");
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_EQ(viewBox, QStringLiteral("0 0 %1 %2").arg(shown.width()).arg(shown.height()));
    EXPECT_GT(polylines, 10);
}

TEST_F(MainWindowExchange, LegendInPicturesAndFitRangeToTraces)
{
    start();
    // An FRD file at 70-86 dB SPL: above even the +/- 48 dB plot.
    answer(write("spl.frd", "100 70\n1000 86\n10000 78\n"), 0);
    trigger("MenuEntryLoadTrace");
    EXPECT_EQ(window->statusLine()->text().toStdString(), "Trace 'spl.frd' lies 46 dB above the plot");
    const std::string svg = path("legend.svg");
    answer(svg, 3);
    trigger("CheckLegend");
    trigger("MenuEntrySavePicture");
    for (const char* text : {"spl.frd", "Frequency (Hz)", "Level (dB)"})
        EXPECT_NE(readAll(svg).find(text), std::string::npos) << text;

    auto* fit = window->responseWindow().findChild<QAction*>(QStringLiteral("MenuEntryFitRange"));
    ASSERT_NE(fit, nullptr);
    EXPECT_EQ(fit->text(), QStringLiteral("Fit Range to Traces"));
    fit->trigger();
    EXPECT_EQ(window->engine().document().plot().dbCentre, 78);
    EXPECT_EQ(combo("ComboDBRange")->currentText(), QStringLiteral("+/- 12 dB"));
    EXPECT_EQ(window->statusLine()->text(), QString());
}

TEST_F(MainWindowExchange, ACalibrationFilesSensitivityShowsInTheStatusLine)
{
    start();
    edit("txtUserCalibFile")
        ->setText(QString::fromStdString(write("umik.txt", "\"Sens Factor =-.7dB, SERNO: 7001234\"\n20\t0.5\n20000\t-1\n")));
    click("CheckUserCalib");
    ASSERT_TRUE(messages.empty()) << messages[0].text;
    EXPECT_TRUE(window->document().corrections().enabled[2]);
    const std::string status = window->statusLine()->text().toStdString();
    // In the user's locale, as every number on screen.
    const std::string number = window->panel().formatNumber(-0.7);
    EXPECT_NE(status.find("umik.txt': sensitivity factor " + number + " dB"), std::string::npos) << status;
    // Also in a place of its own, which the next status message leaves alone.
    window->panel().setStatusText("Measuring 1000 Hz");
    EXPECT_EQ(labelText("LabelSensitivity"), "Sens Factor " + number + " dB");
    click("CheckUserCalib");
    EXPECT_EQ(labelText("LabelSensitivity"), "");
}

} // namespace

} // namespace audimera
