// How a typed name picks the type a save dialog writes.
#include "engine/FileDialog.h"
#include "engine/FileTypes.h"
#include "tests/engine/ScriptedHost.h"

#include <gtest/gtest.h>

namespace audimera {

namespace {

const std::vector<std::string> LogSweep = {"Response Curve (*.txt)", "FRD file (*.frd)", "Distortion table (*.csv)",
                                           "Impulse response (*.wav)"};
const std::vector<std::string> Pictures = {"PNG picture (*.png)", "PNG picture, twice the size (*.png)",
                                           "PNG picture, four times the size (*.png)", "SVG picture (*.svg)"};

TEST(FileTypes, TheTypedExtensionChoosesTheEntryAndAnUnknownOneIsMarked)
{
    struct Row {
        const std::vector<std::string>* entries;
        const char* path;
        int chosen, entry;
        bool unknown;
    };
    for (const Row& r : {Row{&LogSweep, "/tmp/x.frd", 0, 1, false}, Row{&LogSweep, "x.WAV", 0, 3, false},
                         Row{&LogSweep, "x.txt", 3, 0, false}, Row{&LogSweep, "x", 2, 2, false},
                         Row{&LogSweep, "dir.frd/x", 1, 1, false}, Row{&LogSweep, ".frd", 3, 3, false},
                         Row{&LogSweep, "x.frd.png", 2, 2, true}, Row{&LogSweep, "x.csv", 9, 2, false},
                         Row{&Pictures, "x.png", 2, 2, false}, Row{&Pictures, "x.png", 3, 0, false},
                         Row{&Pictures, "x.SVG", 1, 3, false}, Row{&Pictures, "x.jpg", 1, 1, true}}) {
        const FileTypes::SaveType t = FileTypes::saveTypeOf(r.path, *r.entries, r.chosen);
        EXPECT_EQ(t.entry, r.entry) << r.path << " " << r.chosen;
        EXPECT_EQ(t.unknown, r.unknown) << r.path << " " << r.chosen;
    }
    EXPECT_EQ(FileTypes::extensionsOf(FileTypes::CurveAndCalibration),
              (std::vector<std::string>{"txt", "cal", "frd", "csv"}));

    // An unknown extension is asked about; No writes nothing.
    ScriptedHost host;
    host.answer(MessageAnswer::No);
    const FileDialogRequest request = FileDialogRequest::saveAs("Save", "x.txt", "txt", LogSweep);
    EXPECT_EQ(FileTypes::saveTypeQuestion(host, "x.png", request, 1), std::nullopt);
    EXPECT_EQ(FileTypes::saveTypeQuestion(host, "x.png", request, 1), 1);
    ASSERT_EQ(host.messages.size(), 2u);
    EXPECT_EQ(host.messages[0].icon, MessageIcon::Question);
}

} // namespace

} // namespace audimera
