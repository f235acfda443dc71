// Save dialogs write the type the typed extension names; correction dialogs' entries.
#include "engine/FileTypes.h"
#include "tests/ui/MainWindowFixture.h"
#include "ui/FormLogSweep.h"

#include <QTemporaryDir>

namespace audimera {

TEST_F(MainWindowTest, EachSaveDialogWritesTheTypeOfTheTypedExtension)
{
    start();
    auto logButton = [this](const char* name) {
        return window->logSweepWindow().findChild<QAbstractButton*>(QString::fromLatin1(name));
    };
    trigger("MenuEntryLogSweep");
    window->logSweepWindow().findChild<QComboBox*>(QStringLiteral("ComboLogLength"))->setCurrentIndex(0);
    logButton("cmdLogMeasure")->click();
    logButton("cmdLogAdd")->click();
    struct Row { const char* control; int chosen; const char* name; QByteArray begins; bool asks; };
    const QTemporaryDir dir;
    for (const Row& r : {Row{"cmdLogSave", 0, "a.frd", "* Audimera log sweep", false},
                         Row{"cmdLogSave", 0, "b.wav", "RIFF", false}, Row{"cmdLogSave", 3, "c.xyz", "RIFF", true},
                         Row{"MenuEntrySave", 0, "d.frd", "* Audimera frequency response", false},
                         Row{"MenuEntryExportTrace", 0, "e.csv", "frequency_hz,level_db", false},
                         Row{"MenuEntryExportTrace", 1, "f.xyz", "frequency_hz,level_db", true},
                         Row{"MenuEntrySavePicture", 3, "g.png", "\x89PNG", false},
                         Row{"MenuEntrySavePicture", 0, "h.svg", "<?xml", false}}) {
        const std::size_t shown = messages.size();
        dialog.filter = r.chosen;
        dialog.answers.push_back(dir.filePath(QString::fromLatin1(r.name)).toStdString());
        action(r.control) ? action(r.control)->trigger() : logButton(r.control)->click();
        QFile file(dir.filePath(QString::fromLatin1(r.name)));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly) && file.readAll().startsWith(r.begins)) << r.name;
        EXPECT_EQ(messages.size() - shown, r.asks ? 1u : 0u) << r.name;
    }
    click("cmdCalibBrowse");
    logButton("cmdLogCalibBrowse")->click();
    for (std::size_t i : {dialog.requests.size() - 2, dialog.requests.size() - 1})
        EXPECT_EQ(FileTypes::entriesOf(dialog.requests[i]),
                  (std::vector<std::string>{FileTypes::CurveAndCalibration, "Response Curve (*.txt)", "All files (*)"}));
}

} // namespace audimera
