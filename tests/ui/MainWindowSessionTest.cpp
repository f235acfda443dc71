// Session files from the File menu, the recovery file across two runs of the
// window, and the Traces panel's edits as the response plot draws them.
#include "engine/FileTypes.h"
#include "engine/SessionFile.h"
#include "tests/ui/MainWindowFixture.h"
#include "ui/TracesPanel.h"
#include "ui/presenter/ControlTable.h"

#include <QDoubleSpinBox>
#include <QFile>
#include <QTableWidget>

#include <optional>

namespace audimera {

namespace {

class MainWindowSession : public MainWindowTest {
protected:
    std::string path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)).toStdString(); }
    void write(const char* name, const QByteArray& content)
    {
        QFile file(QString::fromStdString(path(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    }
    void load(const char* name, const char* content)
    {
        write(name, content);
        dialog.answers.push_back(path(name));
        trigger("MenuEntryLoadTrace");
    }
    void restart()
    {
        if (window)
            window->Form_Unload(), window.reset();
        start();
    }
    int traces() const { return window->document().traces().GetTraceCount(); }
    QTemporaryDir m_dir;
};

TEST_F(MainWindowSession, OpeningAsksBeforeUnsavedWorkIsReplaced)
{
    // Saved: one trace at +/- 6 dB; "cut" its first half; "skipping" a
    // correction of no use. Each is opened over two unsaved traces at +/- 24 dB.
    restart();
    load("one.txt", "100,1\r\n10000,1\r\n");
    combo("ComboDBRange")->setCurrentIndex(0);
    emit combo("ComboDBRange")->activated(0);
    dialog.answers.push_back(path("saved.audimera"));
    trigger("MenuEntrySaveSession");
    ASSERT_TRUE(messages.empty()) << messages[0].text;
    EXPECT_EQ(dialog.requests.back().filter, FileTypes::SessionFiles);
    EXPECT_FALSE(window->session().unsavedWork());
    QFile saved(QString::fromStdString(path("saved.audimera")));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    write("cut", saved.readAll().chopped(saved.size() / 2));
    SessionData skipping;
    skipping.corrections.push_back({"elsewhere", 0, "curve.txt", "100,0\r\n", true});
    ASSERT_TRUE(SessionFile::write(path("skipping"), skipping));

    // After opening: the traces, the range's index, what follows the question.
    struct Case { const char* file; MessageAnswer answer; int traces, range; const char* message; } const cases[] = {
        {"saved.audimera", MessageAnswer::No, 2, 2, nullptr},
        {"saved.audimera", MessageAnswer::Yes, 1, 0, nullptr},
        {"cut", MessageAnswer::Yes, 2, 2, ""},
        {"skipping", MessageAnswer::Yes, 0, 0, MainPresenter::SkippedIntro},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + (c.answer == MessageAnswer::No ? " declined" : ""));
        restart();
        load("one.txt", "100,1\r\n10000,1\r\n");
        load("two.txt", "100,2\r\n10000,2\r\n");
        answer = c.answer;
        dialog.answers.push_back(path(c.file));
        trigger("MenuEntryOpenSession");
        EXPECT_EQ(messages.at(0).text, MainPresenter::ReplaceSessionQuestion);
        EXPECT_EQ(traces(), c.traces);
        ASSERT_EQ(messages.size(), c.message ? 2u : 1u) << messages.back().text;
        EXPECT_TRUE(!c.message || messages[1].text.starts_with(c.message)) << messages.back().text;
        EXPECT_EQ(combo("ComboDBRange")->currentIndex(), c.range);
        EXPECT_EQ(window->document().plot().dbSpan, ControlTable::DBRangeItems[size_t(c.range)].data);
        EXPECT_EQ(button("cmdClearTraces")->isEnabled(), c.traces > 0);
        messages.clear();
    }
}

TEST_F(MainWindowSession, WorkLeftAtExitIsOfferedAtTheNextStartAndRestored)
{
    start();
    EXPECT_FALSE(action("MenuEntryRestoreSession")->isEnabled());
    load("one.txt", "100,1\r\n10000,1\r\n");
    window->session().flushRecovery();
    EXPECT_TRUE(QFile::exists(QString::fromStdString(MeasurementSession::recoveryPath())));

    restart();
    EXPECT_EQ(window->statusLine()->text().toStdString(), frmMain::LeftRecoveryNote);
    EXPECT_TRUE(action("MenuEntryRestoreSession")->isEnabled());
    trigger("MenuEntryRestoreSession");
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(traces(), 1);
}

TEST_F(MainWindowSession, TheTracesPanelMovesHidesAndNormalisesTheDrawnTraces)
{
    // Trace 1 at 2 dB, trace 0 at -3 dB; each case on a fresh window. The
    // drawn trace 1 is found by its colour in the plot's middle column.
    // drawnDb: trace 1 as drawn, none when hidden.
    struct Case { const char* name; std::function<void(TracesPanel&)> edit; std::optional<double> drawnDb;
                  double offsets[2]; } const cases[] = {
        {"offset", [](TracesPanel& p) { p.offsetBox(1)->setValue(6); }, 8.0, {0, 6}},
        {"hidden", [](TracesPanel& p) { p.table()->item(1, TracesPanel::ShownColumn)->setCheckState(Qt::Unchecked); },
         std::nullopt, {0, 0}},
        {"normalised", [](TracesPanel& p) { p.findChild<QAbstractButton*>("cmdNormalise")->click(); }, 0.0, {3, -2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        load("low.txt", "100,-3\r\n10000,-3\r\n");
        load("high.txt", "100,2\r\n10000,2\r\n");
        trigger("MenuEntryTraces");
        TracesPanel& panel = window->tracesPanel();
        ASSERT_EQ(panel.table()->rowCount(), 2);
        EXPECT_EQ(panel.table()->item(0, TracesPanel::ScaleColumn)->text(), "unknown");
        const DrawingSurface& plot = window->responseWindow().picture();
        const int height = plot.image().height();
        auto drawnRow = [&] {
            for (int y = 0; y < height; ++y)
                if (plot.pixelColor(plot.image().width() / 2, y) == TraceStore::traceColor(1))
                    return y;
            return -1;
        };
        const int before = drawnRow();
        ASSERT_GE(before, 0);
        c.edit(panel);
        // Hidden: no pixel of its colour (-1).
        const double pixelsPerDb = 100.0 * height / plot.ScaleHeight();
        EXPECT_NEAR(drawnRow(), c.drawnDb ? before - (*c.drawnDb - 2) * pixelsPerDb : -1, 1.0);
        for (int t = 0; t < 2; ++t)
            EXPECT_DOUBLE_EQ(panel.offsetBox(t)->value(), c.offsets[t]) << t;
        EXPECT_TRUE(messages.empty());
    }
    // Average, with none selected: of the traces shown, as a new row.
    TracesPanel& panel = window->tracesPanel();
    panel.findChild<QAbstractButton*>("cmdTracesAverage")->click();
    ASSERT_EQ(panel.table()->rowCount(), 3);
    EXPECT_EQ(panel.table()->item(2, TracesPanel::NameColumn)->text(), "Average of 2 traces (rms)");
}

} // namespace
} // namespace audimera
