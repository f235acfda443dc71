// The help window and the texts that ship with the program: the window under
// the offscreen platform (title, its one browser filling it, close only
// hiding, in-page links), the help page (self-contained, naming the
// program's real captions, files, messages, bands, colours and limits), and
// the About text.
#include "display/windows/FormFFT.h"
#include "display/windows/FormHelp.h"
#include "display/windows/FormInputWave.h"
#include "signal/FrequencyPlan.h"
#include "display/help/HelpPage.h"
#include "ui/presenter/MainPresenter.h"
#include "ui/presenter/PanelTable.h"
#include "devices/SoundDevice.h"
#include "engine/TraceStore.h"

#include <QApplication>
#include <QPointer>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QSet>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace audimera {

namespace {

QString pagePlainText()
{
    QTextDocument doc;
    doc.setHtml(HelpPage::html());
    return doc.toPlainText();
}

// Every anchor name the rich-text engine found in the page.
QSet<QString> anchorNames(const QTextDocument& doc)
{
    QSet<QString> names;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            for (const QString& name : it.fragment().charFormat().anchorNames())
                names.insert(name);
    return names;
}

QStringList linkTargets(const QString& html)
{
    QStringList targets;
    static const QRegularExpression href(QStringLiteral("href=\"([^\"]*)\""));
    for (auto it = href.globalMatch(html); it.hasNext();)
        targets << it.next().captured(1);
    return targets;
}

QString bandList(const double* bands, std::size_t n)
{
    QStringList parts;
    for (std::size_t i = 0; i < n; ++i)
        parts << QString::number(bands[i], 'g', 10);
    return parts.join(QStringLiteral(", ")) + QStringLiteral(" Hz");
}

} // namespace

// --- The window.

TEST(FormHelpTest, StartsHiddenAsHelpWithOneBrowserShowingThePage)
{
    FormHelp form;
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Help"));
    EXPECT_EQ(form.size(), QSize(FormHelp::InitialWidth, FormHelp::InitialHeight));

    const QList<QTextBrowser*> browsers = form.findChildren<QTextBrowser*>();
    ASSERT_EQ(browsers.size(), 1);
    EXPECT_EQ(browsers[0], form.browser());
    EXPECT_EQ(browsers[0]->objectName(), QStringLiteral("WebBrowser1"));
    EXPECT_EQ(form.findChild<QTextBrowser*>(QStringLiteral("WebBrowser1")), form.browser());

    EXPECT_EQ(form.browser()->toPlainText(), pagePlainText());
    EXPECT_EQ(form.browser()->documentTitle(), QStringLiteral("Audimera Help"));
    EXPECT_FALSE(form.browser()->openExternalLinks());
    // Ready before the first show: the browser already covers the window.
    EXPECT_EQ(form.browser()->geometry(), form.rect());
}

TEST(FormHelpTest, TheBrowserFillsTheWindowAtEverySize)
{
    FormHelp form;
    form.show();
    for (const QSize size : {QSize(500, 300), QSize(900, 700), QSize(220, 140)}) {
        form.resize(size);
        QApplication::processEvents();
        EXPECT_EQ(form.size(), size);
        EXPECT_EQ(form.browser()->geometry(), QRect(QPoint(0, 0), size)) << size.width();
    }
    form.setClosingAllowed(true);
    form.close();
}

TEST(FormHelpTest, CloseOnlyHidesAndTheReaderKeepsThePlace)
{
    QPointer<FormHelp> form = new FormHelp;
    form->setAttribute(Qt::WA_DeleteOnClose, false);
    form->showHelp();
    form->move(40, 30);
    ASSERT_TRUE(form->isVisible());
    const QPoint where = form->pos();
    form->browser()->scrollToAnchor(QStringLiteral("files"));
    QApplication::processEvents();
    const int scrolled = form->browser()->verticalScrollBar()->value();
    ASSERT_GT(scrolled, 0);

    EXPECT_FALSE(form->close());
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_FALSE(form.isNull());
    EXPECT_FALSE(form->isVisible());

    form->showHelp();
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->pos(), where);
    EXPECT_EQ(form->browser()->verticalScrollBar()->value(), scrolled);
    EXPECT_EQ(form->browser()->toPlainText(), pagePlainText());

    // Shut-down closes it for real.
    form->setClosingAllowed(true);
    EXPECT_TRUE(form->close());
    EXPECT_FALSE(form->isVisible());
    delete form.data();
}

TEST(FormHelpTest, PlacementKeepsItOnScreen)
{
    FormHelp form;
    const QRect screen = form.screen()->geometry();
    form.move(screen.right() - 100, screen.bottom() - 50);
    form.placeOnScreen();
    EXPECT_LE(form.frameGeometry().right(), screen.right());
    EXPECT_LE(form.frameGeometry().bottom(), screen.bottom());
    form.move(10, 20); // already on screen: left alone
    form.placeOnScreen();
    EXPECT_EQ(form.pos(), QPoint(10, 20));
}

TEST(FormHelpTest, FollowingALinkOfThePageScrollsToItsSectionAndKeepsThePage)
{
    FormHelp form;
    form.show();
    QApplication::processEvents();
    QTextBrowser& browser = *form.browser();
    ASSERT_EQ(browser.verticalScrollBar()->value(), 0);

    // What a click on a contents entry does.
    browser.setSource(QUrl(QStringLiteral("#limits")));
    QApplication::processEvents();
    const int atLimits = browser.verticalScrollBar()->value();
    EXPECT_GT(atLimits, 0);
    EXPECT_EQ(browser.toPlainText(), pagePlainText());

    browser.setSource(QUrl(QStringLiteral("#top")));
    QApplication::processEvents();
    EXPECT_LT(browser.verticalScrollBar()->value(), atLimits);
    EXPECT_EQ(browser.toPlainText(), pagePlainText());
    form.setClosingAllowed(true);
    form.close();
}

// --- The page.

TEST(HelpPageTest, IsOneSelfContainedDocumentWhoseLinksAllLand)
{
    const QString html = HelpPage::html();
    EXPECT_TRUE(html.startsWith(QStringLiteral("<html>")));
    EXPECT_TRUE(html.trimmed().endsWith(QStringLiteral("</html>")));
    for (const char* outside : {"http:", "https:", "file://", "ftp:", "mailto:", "<script", "<img", "src=",
                                "<link", "<object", "<iframe", "@import", "url("})
        EXPECT_FALSE(html.contains(QLatin1String(outside), Qt::CaseInsensitive)) << outside;

    QTextDocument doc;
    doc.setHtml(html);
    EXPECT_EQ(doc.metaInformation(QTextDocument::DocumentTitle), QStringLiteral("Audimera Help"));
    const QSet<QString> anchors = anchorNames(doc);
    const QStringList targets = linkTargets(html);
    ASSERT_GE(targets.size(), 16);
    for (const QString& target : targets) {
        ASSERT_TRUE(target.startsWith(QLatin1Char('#'))) << target.toStdString();
        EXPECT_TRUE(anchors.contains(target.mid(1))) << target.toStdString();
    }
    // Every section is reachable from the contents.
    for (const QString& anchor : anchors)
        EXPECT_TRUE(targets.contains(QLatin1Char('#') + anchor)) << anchor.toStdString();
}

TEST(HelpPageTest, NamesTheProgramsOwnCaptionsFilesAndMessages)
{
    const QString text = pagePlainText();
    auto expectNamed = [&](const std::string& s) {
        EXPECT_TRUE(text.contains(QString::fromStdString(s))) << s;
    };

    // Buttons, with the captions the engine gives them.
    const PanelTable panel;
    for (const char* button : {"cmdStart", "cmdStop", "cmdClearTraces", "cmdCalibrate", "cmdStartSignal"})
        expectNamed(panel[button].caption);
    expectNamed("Stop Signal");

    // The files the correction boxes read, and the default file names.
    expectNamed(MainPresenter::SplCurveFile);
    expectNamed(MainPresenter::SoundCardFile);
    expectNamed(panel["txtUserFreqFile"].text);
    expectNamed(panel["txtUserCalibFile"].text);

    // Messages, as the program words them.
    expectNamed(MainPresenter::TooManyTraces);
    expectNamed(std::string(TraceStore::TooManyTracesMessage));
    const std::string question = MainPresenter::LowSignalQuestion;
    expectNamed(question.substr(0, question.find('\r')));
    expectNamed(question.substr(question.rfind('\n') + 1));
    expectNamed(SoundDevice::NoSoundCardMessage);
    for (const char* message :
         {"Start frequency minimun: 1 Hz", "Stop frequency maximum: 20000 Hz", "Stop frequency must be > Start !",
          "Bad file, no points were found !", "Bad calibration file, no points were found !",
          "Bad frequency file, no entry found !", "Error loading file '", "Error loading calibration file '",
          "Error saving file '", "Error reading user frequency file '"})
        expectNamed(message);

    // The other windows, by their titles.
    expectNamed(FormInputWave().windowTitle().toStdString());
    expectNamed(FormFFT().windowTitle().toStdString());
    expectNamed("Frequency Response");

    // Controls and menus of the main window.
    for (const char* caption :
         {"Range:", "15 ISO Bands 25Hz - 16kHz", "31 ISO Bands 20Hz - 20kHz", "User file :", "Sine", "Square",
          "Triangle", "Pink Noise", "White Noise", "Silence", "x20", "Level:", "Left", "Center", "Right", "Mute",
          "Signal SNR:", "Card SNR:", "N/A", "Red/Skip measure if bad wave", "Correct for 'C' SPL curve",
          "Correct Sound Card curve", "User Calibration file:", "Show Input Waveform", "Show Signal FFT",
          "Show Frequency Response", "dB Range:", "+/- 6 dB", "+/- 12 dB", "+/- 24 dB", "+/- 48 dB",
          "Smooth level:", "0 (none)", "1 (sharp)", "2 (light)", "3 (strong)", "Play Device", "Record Device",
          "Load Trace", "Save Last Trace", "Exit", "About", "Silence...", "White noise...",
          "Response Signal Generator", "Simple Signal Generator", "Measure", "Level Detection", "Mean Magnitude",
          "Narrow Band", "THD:", "THD+N"})
        expectNamed(caption);

    // The headless command and the topics a user looks for.
    for (const char* topic :
         {"audimera-measure --help", "loop", "Monitor of", "microphone", "mixer", "clipping", "calibrat",
          "SNR", "IEC 61672-1", "C weighting", "working directory", "Curve1.txt", "subtract", "commas, spaces or line breaks",
          "10 Hz", "24000 Hz", "rise strictly", "B-spline", "16384"})
        EXPECT_TRUE(text.contains(QLatin1String(topic), Qt::CaseInsensitive)) << topic;
}

TEST(HelpPageTest, BandsColoursAndLimitsAreThoseOfTheProgram)
{
    const QString text = pagePlainText();
    EXPECT_TRUE(text.contains(bandList(FrequencyPlan::IsoBands15.data(), FrequencyPlan::IsoBands15.size())));
    EXPECT_TRUE(text.contains(bandList(FrequencyPlan::IsoBands31.data(), FrequencyPlan::IsoBands31.size())));

    // The colour table: trace number and colour name, four rows of two.
    const std::map<QString, RgbColor> named = {
        {QStringLiteral("black"), rgbColor(0, 0, 0)},        {QStringLiteral("blue"), rgbColor(0, 0, 255)},
        {QStringLiteral("red"), rgbColor(255, 0, 0)},        {QStringLiteral("grey"), rgbColor(128, 128, 128)},
        {QStringLiteral("purple"), rgbColor(200, 0, 200)},   {QStringLiteral("teal"), rgbColor(0, 128, 128)},
        {QStringLiteral("dark green"), rgbColor(0, 128, 0)}, {QStringLiteral("yellow-green"), rgbColor(128, 255, 0)},
    };
    static const QRegularExpression row(QStringLiteral("<td align=\"center\">(\\d)</td><td>([a-z -]+)</td>"));
    QSet<int> seen;
    for (auto it = row.globalMatch(HelpPage::html()); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const int trace = m.captured(1).toInt();
        const auto colour = named.find(m.captured(2));
        ASSERT_NE(colour, named.end()) << m.captured(2).toStdString();
        EXPECT_EQ(TraceStore::traceColor(trace - 1), colour->second) << trace;
        seen.insert(trace);
    }
    EXPECT_EQ(seen.size(), TraceStore::MaxTraces);

    // Limits table.
    // (each table cell is a paragraph of its own in the plain text)
    EXPECT_TRUE(text.contains(
        QRegularExpression(QStringLiteral("Traces shown at once\\s+%1\\s").arg(TraceStore::MaxTraces))));
    EXPECT_TRUE(text.contains(
        QRegularExpression(QStringLiteral("Points in one trace\\s+%1\\s").arg(TraceStore::MaxPoints))));
    EXPECT_EQ(TraceStore::MaxPoints, MainPresenter::MaxTracePoints);
}

// --- The About box.

TEST(AboutTextTest, NamesTheProgramItsVersionAndItsAuthors)
{
    EXPECT_EQ(HelpPage::aboutTitle(), QStringLiteral("About Audimera"));
    const QString version = HelpPage::version();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9]+(\\.[0-9]+)+([-+][0-9A-Za-z.]+)?$"))
                    .match(version)
                    .hasMatch())
        << version.toStdString();

    const QStringList lines = HelpPage::aboutText().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 5);
    EXPECT_EQ(lines[0], QStringLiteral("Audimera ") + version);
    EXPECT_TRUE(lines[1].isEmpty());
    EXPECT_EQ(lines[2], QString::fromUtf8(HelpPage::Description));
    EXPECT_TRUE(lines[2].contains(QStringLiteral("frequency response")));
    EXPECT_TRUE(lines[3].isEmpty());
    EXPECT_EQ(lines[4], QStringLiteral("The Audimera developers"));
}

} // namespace audimera
