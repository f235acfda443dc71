// Every save dialog writes the type its typed extension names, whatever entry
// is selected, and asks before writing an extension no entry lists; the
// dialogs that open curves offer calibration files first and all files last.
#include "engine/FileTypes.h"
#include "tests/ui/MainWindowFixture.h"
#include "ui/FormLogSweep.h"

#include <QDoubleSpinBox>
#include <QFile>
#include <QTemporaryDir>

namespace audimera {

namespace {

class SaveTypes : public MainWindowTest {
protected:
    std::string path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)).toStdString(); }
    template <typename T>
    T* logControl(const char* name) const
    {
        return window->logSweepWindow().findChild<T*>(QString::fromLatin1(name));
    }
    QTemporaryDir m_dir;
};

TEST_F(SaveTypes, EachDialogWritesTheTypeOfTheTypedExtension)
{
    start();
    QFile curve(QString::fromStdString(path("in.txt")));
    ASSERT_TRUE(curve.open(QIODevice::WriteOnly));
    curve.write("100,-1.5\r\n1000,0\r\n10000,-3.25\r\n");
    curve.close();
    dialog.answers.push_back(path("in.txt"));
    trigger("MenuEntryLoadTrace");
    trigger("MenuEntryLogSweep");
    logControl<QComboBox>("ComboLogLength")->setCurrentIndex(0);
    logControl<QDoubleSpinBox>("SpinLogStart")->setValue(100);
    logControl<QAbstractButton>("cmdLogMeasure")->click();
    ASSERT_TRUE(window->logSweepWindow().results().has_value());
    ASSERT_TRUE(messages.empty()) << messages[0].text;

    struct Row {
        const char* control; // an action of the main window, else a button of the Log Sweep window
        int chosen;
        const char* name;
        QByteArray begins;
        bool asks;
    };
    for (const Row& r : {Row{"cmdLogSave", 0, "a.frd", "* Audimera log sweep", false},
                         Row{"cmdLogSave", 0, "b.wav", "RIFF", false},
                         Row{"cmdLogSave", 3, "c.csv", "frequency_hz,h2_db", false},
                         Row{"cmdLogSave", 1, "d.TXT", "100,", false},
                         Row{"cmdLogSave", 0, "e.xyz", "100,", true},
                         Row{"MenuEntrySave", 0, "f.frd", "* Audimera frequency response", false},
                         Row{"MenuEntrySave", 0, "g.csv", "frequency_hz,level_db", false},
                         Row{"MenuEntryExportTrace", 0, "h.csv", "frequency_hz,level_db", false},
                         Row{"MenuEntryExportTrace", 1, "i.frd", "* Audimera frequency response", false},
                         Row{"MenuEntryExportTrace", 1, "j.txt", "frequency_hz,level_db", true},
                         Row{"MenuEntrySavePicture", 3, "k.png", "\x89PNG", false},
                         Row{"MenuEntrySavePicture", 0, "l.svg", "<?xml", false}}) {
        const std::size_t shown = messages.size();
        dialog.filter = r.chosen;
        dialog.answers.push_back(path(r.name));
        if (QAction* a = action(r.control))
            a->trigger();
        else
            logControl<QAbstractButton>(r.control)->click();
        QFile file(QString::fromStdString(path(r.name)));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly) && file.readAll().startsWith(r.begins)) << r.name;
        ASSERT_EQ(messages.size(), shown + (r.asks ? 1 : 0)) << r.name;
        if (r.asks) {
            EXPECT_EQ(messages.back().buttons, MessageButtons::YesNo) << messages.back().text;
        }
    }

    // The correction dialogs list calibration files first, all files last.
    click("cmdCalibBrowse");
    logControl<QAbstractButton>("cmdLogCalibBrowse")->click();
    for (std::size_t i : {dialog.requests.size() - 2, dialog.requests.size() - 1}) {
        EXPECT_EQ(dialog.requests[i].filter, FileTypes::CurveAndCalibration);
        EXPECT_EQ(dialog.requests[i].moreFilters, (std::vector<std::string>{"Response Curve (*.txt)", "All files (*)"}));
    }
}

} // namespace

} // namespace audimera
