#include "engine/PlotRange.h"
#include "engine/FileTypes.h"
#include "tests/engine/EngineFixture.h"
#include "ui/presenter/ControlTable.h"
#include "tests/support/TestFolder.h"

#include <sys/resource.h>

#include <csignal>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace audimera {

namespace {

class ScriptedDialog : public FileDialog {
public:
    std::deque<std::optional<std::string>> answers; // nullopt: the user cancels
    std::vector<FileDialogRequest> requests;
    std::optional<std::string> show(const FileDialogRequest& request) override
    {
        requests.push_back(request);
        if (answers.empty())
            return std::nullopt;
        auto a = answers.front();
        answers.pop_front();
        return a;
    }
};

class FileCommandsTest : public ::testing::Test {
protected:
    EngineRig<SilentSoundDevice> rig;
    MainPresenter& e = *rig.engine;
    ScriptedDialog dialog;
    void SetUp() override { e.setFileDialog(&dialog); }

    std::string file(const std::string& name, const std::string& text)
    {
        const std::string path = testFile(name);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
        return path;
    }
    std::vector<double> frequencies() const { return newestFrequencies(rig.document); }
    TraceStore& traces() { return rig.document.traces(); }
};

TEST_F(FileCommandsTest, LoadKeepsAscendingRecordsInRange)
{
    e.LoadFile(file("load-rules.txt", "9.99,1\n10,2\n100,3\n50,4\n100,5\n200,6\n24000,7\n24000.5,8\n"));
    ASSERT_EQ(traceCount(rig.document), 1);
    EXPECT_EQ(frequencies(), (std::vector<double>{10, 100, 200, 24000}));
    EXPECT_EQ(newestTrace(rig.document)[1].second, 3);
    EXPECT_EQ(rig.displays.redraws, 1);
    EXPECT_TRUE(rig.panel["cmdClearTraces"].enabled);
    EXPECT_TRUE(rig.panel["MenuEntrySave"].enabled);
    EXPECT_TRUE(rig.host.messages.empty());

    e.LoadFile(file("load-none.txt", "5,1\n30000,2\n"));
    EXPECT_EQ(traceCount(rig.document), 1);
    ASSERT_EQ(rig.host.messages.size(), 1u);
    EXPECT_EQ(rig.host.messages[0].text, "Bad file, no points were found !");
    EXPECT_EQ(rig.host.messages[0].icon, MessageIcon::Critical);
}

TEST_F(FileCommandsTest, LoadErrorsKeepWhatWasReadAndDoNotRedraw)
{
    const std::string odd = file("load-odd.txt", "100,1\n200,2\n300\n");
    e.LoadFile(odd);
    ASSERT_EQ(traceCount(rig.document), 1);
    EXPECT_EQ(frequencies().size(), 2u);
    EXPECT_EQ(rig.displays.redraws, 0);
    ASSERT_EQ(rig.host.messages.size(), 1u);
    EXPECT_EQ(rig.host.messages[0].text.rfind("Error loading file '" + odd + "' : ", 0), 0u);

    e.LoadFile(file("load-word.txt", "100,1\n200,loud\n"));
    EXPECT_EQ(frequencies().size(), 1u);
    EXPECT_EQ(rig.host.messages.size(), 2u);

    // More records than a trace holds: the store's limit, and the error.
    std::string big;
    for (int i = 0; i < 22100; ++i)
        big += std::to_string(10 + i) + ",0\n";
    e.LoadFile(file("load-big.txt", big));
    EXPECT_EQ(frequencies().size(), 22051u);
    EXPECT_NE(rig.host.messages.back().text.find("22051"), std::string::npos);

    e.LoadFile(testFile("no-such-trace.txt"));
    EXPECT_NE(rig.host.messages.back().text.find("No such file or directory"), std::string::npos);
}

TEST_F(FileCommandsTest, LoadCommandAsksForAFileUnlessEightTracesAreShown)
{
    const std::string path = file("menu-load.txt", "100,1\n1000,2\n");
    dialog.answers = {path};
    e.MenuEntryLoadTrace_Click();
    ASSERT_EQ(dialog.requests.size(), 1u);
    const FileDialogRequest& r = dialog.requests[0];
    EXPECT_FALSE(r.save);
    EXPECT_EQ(r.title, "Load a new response curve...");
    EXPECT_EQ(r.filter, FileTypes::CurveAndCalibration);
    EXPECT_EQ(r.flags, 0x201804);
    EXPECT_EQ(r.fileName, "");
    EXPECT_EQ(traceCount(rig.document), 1);

    // Cancelled: nothing changes, nothing is said.
    e.MenuEntryLoadTrace_Click();
    EXPECT_EQ(traceCount(rig.document), 1);
    EXPECT_TRUE(rig.host.messages.empty());

    while (traceCount(rig.document) < 7)
        traces().AddTrace();
    dialog.answers = {path};
    e.MenuEntryLoadTrace_Click(); // seven shown: the dialog opens
    EXPECT_EQ(dialog.requests.size(), 3u);
    EXPECT_EQ(traceCount(rig.document), 8);
    e.MenuEntryLoadTrace_Click(); // eight: refused before any dialog
    EXPECT_EQ(dialog.requests.size(), 3u);
    ASSERT_EQ(rig.host.messages.size(), 1u);
    EXPECT_EQ(rig.host.messages[0].text,
              "You can't trace more than 8 curves, click on 'Clear' to erase current curves.");
}

TEST_F(FileCommandsTest, SaveCommandSuggestsANameAndWritesTheNewestTrace)
{
    e.MenuEntrySave_Click(); // no trace: nothing at all
    EXPECT_TRUE(dialog.requests.empty());
    traces().AddTrace();
    e.MenuEntrySave_Click(); // an empty trace: nothing either
    EXPECT_TRUE(dialog.requests.empty());

    traces().AddPoint(1000, -3.25);
    traces().AddPoint(25.2, 0.5);
    const std::string path = testFile("menu-save.txt");
    dialog.answers = {path};
    e.MenuEntrySave_Click();
    ASSERT_EQ(dialog.requests.size(), 1u);
    const FileDialogRequest& r = dialog.requests[0];
    EXPECT_TRUE(r.save);
    EXPECT_EQ(r.title, "Save last curve as...");
    EXPECT_EQ(r.fileName, "Curve1.txt");
    EXPECT_EQ(r.defaultExtension, "txt");
    EXPECT_EQ(r.flags, 0x208802);
    EXPECT_EQ(slurp(path), "1000,-3.25\r\n25.2,0.5\r\n");

    traces().AddTrace();
    traces().AddTrace();
    traces().AddPoint(100, 1);
    e.MenuEntrySave_Click(); // cancelled
    EXPECT_EQ(dialog.requests.back().fileName, "Curve3.txt");
    EXPECT_EQ(slurp(path), "1000,-3.25\r\n25.2,0.5\r\n");
}

TEST_F(FileCommandsTest, RoundTripUnderACommaDecimalLocale)
{
    EngineRig<SilentSoundDevice> comma(',');
    comma.engine->setFileDialog(&dialog);
    TraceStore& store = comma.document.traces();
    store.AddTrace();
    store.AddPoint(31.5, -1.75);
    store.AddPoint(12500.25, 2.125);
    const std::string path = testFile("comma-round.txt");
    dialog.answers = {path};
    comma.engine->MenuEntrySave_Click();
    EXPECT_EQ(slurp(path), "31.5,-1.75\r\n12500.25,2.125\r\n");
    dialog.answers = {path};
    comma.engine->MenuEntryLoadTrace_Click();
    ASSERT_EQ(store.GetTraceCount(), 2);
    ASSERT_EQ(store.pointCount(1), 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(store.traceX(1)[i], store.traceX(0)[i]);
        EXPECT_EQ(store.traceY(1)[i], store.traceY(0)[i]);
    }
}

TEST_F(FileCommandsTest, AFailedSaveLeavesTheOldFileByteForByte)
{
    const std::string path = file("keep-old.txt", std::string(2000, 'x') + "\r\nold\r\n");
    const std::string before = slurp(path);
    traces().AddTrace();
    for (int i = 0; i < 500; ++i)
        traces().AddPoint(20 + i, i * 0.01);
    // Files may grow to 100 bytes only: the write fails half-way.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit tiny = old;
    tiny.rlim_cur = 100;
    setrlimit(RLIMIT_FSIZE, &tiny);
    dialog.answers = {path};
    e.MenuEntrySave_Click();
    setrlimit(RLIMIT_FSIZE, &old);
    ASSERT_EQ(rig.host.messages.size(), 1u);
    EXPECT_EQ(rig.host.messages[0].text.rfind("Error saving file '" + path + "' : ", 0), 0u);
    EXPECT_EQ(slurp(path), before);
    for (const auto& entry : std::filesystem::directory_iterator(TestFolder::current().path()))
        EXPECT_EQ(entry.path().filename().string().rfind("keep-old.txt.", 0), std::string::npos)
            << "temporary file left: " << entry.path();
}

TEST_F(FileCommandsTest, BrowseButtonsFillTheirBoxes)
{
    e.cmdFreqBrowse_Click(); // cancelled
    EXPECT_EQ(rig.panel["txtUserFreqFile"].text, "UserFreq.txt");
    EXPECT_EQ(rig.panel["OptionAutoSigGen(0)"].value, 1);

    dialog.answers = {"/data/list.txt"};
    e.cmdFreqBrowse_Click();
    EXPECT_EQ(dialog.requests.back().title, "Select Frequency list file...");
    EXPECT_EQ(dialog.requests.back().filter, "Frequency list (*.txt)");
    EXPECT_EQ(rig.panel["txtUserFreqFile"].text, "/data/list.txt");
    EXPECT_EQ(rig.panel["OptionAutoSigGen(3)"].value, 1);
    EXPECT_EQ(rig.panel["OptionAutoSigGen(0)"].value, 0);
    EXPECT_EQ(rig.session.choice(), 3);

    const std::string calib = file("browse-calib.txt", "1000,1\n");
    dialog.answers = {calib};
    e.cmdCalibBrowse_Click();
    EXPECT_EQ(dialog.requests.back().title, "Select User Calibration file...");
    EXPECT_EQ(rig.panel["txtUserCalibFile"].text, calib);
    EXPECT_EQ(rig.panel["CheckUserCalib"].value, 1);
    EXPECT_TRUE(rig.document.corrections().enabled[2]);
    EXPECT_EQ(rig.document.corrections().column(2)[100], 1);

    // Already on: the new file waits for the next switch-on.
    dialog.answers = {file("browse-calib2.txt", "1000,5\n")};
    e.cmdCalibBrowse_Click();
    EXPECT_EQ(rig.document.corrections().column(2)[100], 1);
    rig.panel["CheckUserCalib"].value = 0;
    e.CheckUserCalib_Click();
    rig.panel["CheckUserCalib"].value = 1;
    e.CheckUserCalib_Click();
    EXPECT_EQ(rig.document.corrections().column(2)[100], 5);

    // A curve that sums with one switched on to no finite level is refused.
    for (int k = 0; k < CorrectionTable::Entries; ++k)
        rig.document.corrections().column(1)[k] = 1e308;
    rig.document.corrections().enabled[1] = true;
    rig.panel["CheckUserCalib"].value = 0;
    e.CheckUserCalib_Click();
    rig.panel["txtUserCalibFile"].text = file("huge.txt", "1000,1e308\n");
    rig.panel["CheckUserCalib"].value = 1;
    e.CheckUserCalib_Click();
    EXPECT_FALSE(rig.document.corrections().enabled[2]);
    EXPECT_EQ(rig.panel["CheckUserCalib"].value, 0);
    EXPECT_NE(rig.host.messages.back().text.find("not a finite number at 0 Hz"), std::string::npos);
}

TEST_F(FileCommandsTest, ClearAndDisplayListsRedraw)
{
    traces().AddTrace();
    rig.panel["cmdClearTraces"].enabled = true;
    rig.panel["MenuEntrySave"].enabled = true;
    e.cmdClearTraces_Click();
    EXPECT_EQ(traceCount(rig.document), 0);
    EXPECT_FALSE(rig.panel["cmdClearTraces"].enabled);
    EXPECT_FALSE(rig.panel["MenuEntrySave"].enabled);
    EXPECT_EQ(rig.displays.redraws, 1);

    // The lists set the document's plot settings, which the plot reads.
    e.ComboSmooth_Click(4);
    EXPECT_EQ(rig.document.plot().smooth, 4);
    EXPECT_EQ(rig.displays.redraws, 2);
    rig.host.atYield(1, [&] { // during a sweep the next point redraws
        e.ComboSmooth_Click(1);
        e.ComboDBRange_Click(96);
        e.cmdStop_Click();
    });
    e.cmdStart_Click();
    EXPECT_EQ(rig.document.plot().smooth, 1);
    EXPECT_EQ(rig.document.plot().dbSpan, 96);
    EXPECT_EQ(rig.displays.redraws, 2);
    e.ComboDBRange_Click(12);
    EXPECT_EQ(rig.document.plot().dbSpan, 12);
    EXPECT_EQ(rig.displays.redraws, 3);
}

TEST_F(FileCommandsTest, SweepShowsItsProgress)
{
    struct StatusPanel : FakePanel {
        std::vector<std::string> lines;
        void setStatusText(std::string_view text) override { lines.emplace_back(text); }
    };
    StatusPanel panel;
    ScriptedHost host;
    LoopbackDevice card;
    RecordingDisplays displays;
    MeasurementDocument document;
    MeasurementSession session(host, card, document);
    MainPresenter engine(panel, session, displays);
    initialiseTables(session);
    calibrate(session, host);
    panel.select("OptionAutoSigGen", 1, 4);
    engine.cmdStart_Click();
    ASSERT_EQ(panel.lines.size(), 16u);
    EXPECT_EQ(panel.lines[0], "Point 1 of 15");
    EXPECT_EQ(panel.lines[14], "Point 15 of 15");
    EXPECT_EQ(panel.lines.back(), ""); // cleared when the run ends

    panel.lines.clear();
    panel.select("OptionAutoSigGen", 0, 4);
    panel["TextStart"].text = "100";
    panel["TextStop"].text = "10000";
    panel["HScrollStep"].value = 200;
    engine.cmdStart_Click();
    EXPECT_EQ(panel.lines[0], "Sweep at 100.00 Hz, 0 % of the way from 100.00 to 10000 Hz");
    EXPECT_EQ(panel.lines[7], "Sweep at 10000.00 Hz, 100 % of the way from 100.00 to 10000 Hz");
}

TEST(PlotRangeTest, TraceOutsideTheRangeIsNotedAndFitRangeShowsIt)
{
    struct StatusPanel : FakePanel {
        std::string line;
        void setStatusText(std::string_view text) override { line = text; }
    };
    struct Row {
        double low, high; // the loaded file's levels, dB
        int span;         // the list's span when it is loaded
        const char* note;
        int fitSpan, fitCentre;
    };
    const Row rows[] = {
        {70, 86, 96, "Trace 'range.frd' lies 22 dB above the plot", 24, 78},
        {-60, -55, 48, "Trace 'range.frd' lies 31 dB below the plot", 12, -60},
        {24.3, 30, 48, "Trace 'range.frd' lies less than 1 dB above the plot", 96, 0},
        {-3, 5, 48, "", 12, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.low);
        StatusPanel panel;
        ScriptedHost host;
        SilentSoundDevice card;
        RecordingDisplays displays;
        MeasurementDocument document;
        MeasurementSession session(host, card, document);
        MainPresenter engine(panel, session, displays);
        engine.ComboDBRange_Click(row.span);
        const std::string path = testFile("range.frd");
        std::ofstream(path, std::ios::trunc) << "100 " << row.low << "\n1000 " << (row.low + row.high) / 2 << "\n10000 "
                                             << row.high << "\n";
        engine.LoadFile(path);
        EXPECT_EQ(panel.line, row.note);
        const int redraws = displays.redraws;
        engine.FitRangeToTraces();
        EXPECT_EQ(document.plot().dbSpan, row.fitSpan);
        EXPECT_EQ(document.plot().dbCentre, row.fitCentre);
        EXPECT_EQ(ControlTable::DBRangeItems[static_cast<size_t>(panel.value("ComboDBRange"))].data, row.fitSpan);
        EXPECT_EQ(panel.line, "");
        EXPECT_EQ(displays.redraws, redraws + 1);
        // The list's ranges stay centred on 0 dB.
        engine.ComboDBRange_Click(48);
        EXPECT_EQ(document.plot().dbCentre, 0);
    }

    // The traces as drawn: one at -2..3 dB, one at -60..-55 dB, hidden or
    // moved by an offset.
    TraceStore store;
    for (const double level : {-2.0, -60.0}) {
        store.AddTrace();
        store.AddPoint(100, level), store.AddPoint(1000, level + 5);
    }
    const struct { bool shown; double offset; int span, centre; } drawn[] = {
        {true, 0, 96, -30}, {false, 0, 12, 0}, {true, 58, 12, 0}, {true, 20, 96, 0}};
    for (const auto& d : drawn) {
        PlotSettings plot;
        plot.traceShown[1] = d.shown, plot.traceOffsetDb[1] = d.offset;
        const PlotSettings fit = PlotRange::fitted(store, plot);
        EXPECT_EQ(fit.dbSpan * 1000 + fit.dbCentre, d.span * 1000 + d.centre) << d.shown << " " << d.offset;
        EXPECT_EQ(PlotRange::outsideBy(store, 1, plot) == 0, !d.shown || d.offset > 30);
    }
}

} // namespace

} // namespace audimera
