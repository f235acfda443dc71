// The file commands of the main window with injected dialog answers: Load
// Trace, Save Last Trace, the two browse buttons, cancelled dialogs, and the
// limit of eight traces.
#include "engine/FileTypes.h"
#include "tests/ui/MainWindowFixture.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

#include <algorithm>

namespace audimera {

namespace {

// Sets the default locale for one test.
class DefaultLocale {
public:
    explicit DefaultLocale(const QLocale& locale) { QLocale::setDefault(locale); }
    ~DefaultLocale() { QLocale::setDefault(m_previous); }

private:
    QLocale m_previous;
};

class MainWindowFiles : public MainWindowTest {
protected:
    std::string path(const char* name) const { return QDir(m_dir.path()).filePath(QString::fromLatin1(name)).toStdString(); }

    std::string writeCurve(const char* name, const char* content)
    {
        const std::string p = path(name);
        QFile file(QString::fromStdString(p));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return p;
    }

    static std::string readAll(const std::string& p)
    {
        QFile file(QString::fromStdString(p));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return file.readAll().toStdString();
    }

    void load(const std::string& p)
    {
        dialog.answers.push_back(p);
        trigger("MenuEntryLoadTrace");
    }

    QTemporaryDir m_dir;
};

TEST_F(MainWindowFiles, LoadTraceAsksForAnExistingCurveAndAddsIt)
{
    start();
    load(writeCurve("three.txt", "100,-1.5\r\n1000,0\r\n10000,-3.25\r\n"));
    ASSERT_EQ(dialog.requests.size(), 1u);
    const FileDialogRequest& r = dialog.requests[0];
    EXPECT_FALSE(r.save);
    EXPECT_EQ(r.title, "Load a new response curve...");
    EXPECT_EQ(r.filter, FileTypes::CurveAndCalibration);
    EXPECT_EQ(r.flags, FileDialogRequest::OpenFlags);
    EXPECT_TRUE(messages.empty());
    const TraceStore& store = window->responseWindow().store();
    ASSERT_EQ(store.GetTraceCount(), 1);
    EXPECT_EQ(store.pointCount(0), 3);
    EXPECT_DOUBLE_EQ(store.traceY(0)[2], -325);
    EXPECT_TRUE(button("cmdClearTraces")->isEnabled());
    EXPECT_TRUE(action("MenuEntrySave")->isEnabled());
}

TEST_F(MainWindowFiles, SaveLastTraceOffersCurveNAndWritesTheNewestTrace)
{
    start();
    sweep();
    dialog.answers.push_back(path("saved.txt"));
    trigger("MenuEntrySave");
    ASSERT_EQ(dialog.requests.size(), 1u);
    const FileDialogRequest& r = dialog.requests[0];
    EXPECT_TRUE(r.save);
    EXPECT_EQ(r.fileName, "Curve1.txt");
    EXPECT_EQ(r.defaultExtension, "txt");
    EXPECT_EQ(r.title, "Save last curve as...");
    EXPECT_EQ(r.filter, "Response Curve (*.txt)");
    EXPECT_EQ(r.flags, FileDialogRequest::SaveFlags);
    EXPECT_TRUE(messages.empty());
    const std::string saved = readAll(path("saved.txt"));
    EXPECT_EQ(saved.rfind("1000,", 0), 0u) << saved;
    EXPECT_NE(saved.find("\r\n2000,"), std::string::npos) << saved;

    // Loaded back it is a second trace; the next save offers Curve2.txt.
    load(path("saved.txt"));
    ASSERT_EQ(window->responseWindow().store().GetTraceCount(), 2);
    EXPECT_EQ(window->responseWindow().store().pointCount(1), 2);
    trigger("MenuEntrySave");
    EXPECT_EQ(dialog.requests.back().fileName, "Curve2.txt");
}

TEST_F(MainWindowFiles, SavedAndLoadedCurvesUseAPointInACommaLocale)
{
    const DefaultLocale german(QLocale(QLocale::German, QLocale::Germany));
    start();
    sweep();
    EXPECT_EQ(labelText("LabelFreq"), "2000,00 Hz");
    dialog.answers.push_back(path("comma.txt"));
    trigger("MenuEntrySave");
    const std::string saved = readAll(path("comma.txt"));
    EXPECT_EQ(saved.rfind("1000,", 0), 0u) << saved;
    EXPECT_EQ(std::count(saved.begin(), saved.end(), ','), 2) << saved;
    load(path("comma.txt"));
    const TraceStore& store = window->responseWindow().store();
    ASSERT_EQ(store.GetTraceCount(), 2);
    EXPECT_DOUBLE_EQ(store.traceY(1)[0], store.traceY(0)[0]);
    EXPECT_DOUBLE_EQ(store.traceY(1)[1], store.traceY(0)[1]);
}

TEST_F(MainWindowFiles, SavingOverAReadOnlyFileIsRefusedAndLeavesIt)
{
    start();
    sweep();
    const std::string locked = writeCurve("locked.txt", "100,0\r\n");
    QFile::setPermissions(QString::fromStdString(locked), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    dialog.answers.push_back(locked);
    trigger("MenuEntrySave");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Error saving file '" + locked + "' : the file is read-only");
    EXPECT_EQ(messages[0].icon, MessageIcon::Critical);
    EXPECT_EQ(readAll(locked), "100,0\r\n");
}

TEST_F(MainWindowFiles, CancelledDialogsChangeNothingAndShowNothing)
{
    start();
    trigger("MenuEntryLoadTrace");
    EXPECT_EQ(window->responseWindow().store().GetTraceCount(), 0);
    EXPECT_FALSE(button("cmdClearTraces")->isEnabled());

    sweep();
    trigger("MenuEntrySave");
    EXPECT_EQ(dialog.requests.size(), 2u);
    EXPECT_TRUE(QDir(m_dir.path()).entryList(QDir::Files).isEmpty());

    click("cmdFreqBrowse");
    EXPECT_EQ(edit("txtUserFreqFile")->text().toStdString(), "UserFreq.txt");
    EXPECT_TRUE(button("OptionAutoSigGen(0)")->isChecked());
    EXPECT_EQ(window->session().choice(), 0);

    click("cmdCalibBrowse");
    EXPECT_EQ(edit("txtUserCalibFile")->text().toStdString(), "UserCalib.txt");
    EXPECT_EQ(window->panel().value("CheckUserCalib"), 0);
    EXPECT_EQ(dialog.requests.size(), 4u);
    EXPECT_TRUE(messages.empty());
}

TEST_F(MainWindowFiles, TheFrequencyBrowseButtonSelectsTheUserFilePlan)
{
    start();
    dialog.answers.push_back(path("freqs.txt"));
    click("cmdFreqBrowse");
    ASSERT_EQ(dialog.requests.size(), 1u);
    EXPECT_EQ(dialog.requests[0].title, "Select Frequency list file...");
    EXPECT_EQ(dialog.requests[0].filter, "Frequency list (*.txt)");
    EXPECT_EQ(edit("txtUserFreqFile")->text().toStdString(), path("freqs.txt"));
    EXPECT_TRUE(button("OptionAutoSigGen(3)")->isChecked());
    EXPECT_FALSE(button("OptionAutoSigGen(0)")->isChecked());
    EXPECT_EQ(window->session().choice(), MainPresenter::PlanUserFile);
}

TEST_F(MainWindowFiles, TheCalibrationBrowseButtonTicksAndLoadsTheUserCorrection)
{
    start();
    dialog.answers.push_back(writeCurve("user.txt", "10,1\r\n24000,1\r\n"));
    click("cmdCalibBrowse");
    EXPECT_EQ(dialog.requests.at(0).title, "Select User Calibration file...");
    EXPECT_EQ(edit("txtUserCalibFile")->text().toStdString(), path("user.txt"));
    EXPECT_EQ(window->panel().value("CheckUserCalib"), 1);
    EXPECT_TRUE(window->document().corrections().enabled[2]);
    EXPECT_TRUE(messages.empty());
}

TEST_F(MainWindowFiles, AFailedCorrectionUnticksItsBoxWithOneMessage)
{
    start();
    // The engine unticks the box itself and calls its handler again; the
    // window must not add a call of its own.
    edit("txtUserCalibFile")->setText(QString::fromStdString(path("missing.txt")));
    click("CheckUserCalib");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text.rfind("Error loading calibration file '", 0), 0u) << messages[0].text;
    EXPECT_EQ(window->panel().value("CheckUserCalib"), 0);
    EXPECT_FALSE(window->document().corrections().enabled[2]);
}

TEST_F(MainWindowFiles, ANinthTraceIsRefusedBeforeTheDialog)
{
    start();
    const std::string curve = writeCurve("one.txt", "100,0\r\n200,1\r\n");
    for (int i = 0; i < 8; ++i)
        load(curve);
    ASSERT_EQ(window->responseWindow().store().GetTraceCount(), 8);
    ASSERT_TRUE(messages.empty());
    dialog.answers.push_back(curve);
    trigger("MenuEntryLoadTrace");
    EXPECT_EQ(dialog.requests.size(), 8u);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, MainPresenter::TooManyTraces);
    EXPECT_EQ(messages[0].icon, MessageIcon::Critical);
    EXPECT_EQ(window->responseWindow().store().GetTraceCount(), 8);

    // A sweep is refused the same way, after its calibration.
    messages.clear();
    sweep();
    EXPECT_EQ(window->engine().lastRunEnd(), MainPresenter::RunEnd::TraceRefused);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, MainPresenter::TooManyTraces);
    EXPECT_FALSE(card->isPlaying());
}

} // namespace

} // namespace audimera
