// How a typed name picks the type a save dialog writes.
#include "engine/FileDialog.h"
#include "engine/FileTypes.h"
#include "tests/engine/ScriptedHost.h"

#include <gtest/gtest.h>

namespace audimera {

TEST(FileTypes, TheTypedExtensionChoosesTheEntryAndAnUnknownOneIsAskedAbout)
{
    const FileDialogRequest request = FileDialogRequest::saveAs(
        "Save", "x.png", "png", {"PNG (*.png)", "PNG, twice the size (*.png)", "SVG (*.svg)", "Text (*.txt *.csv)"});
    struct Row { const char* path; int chosen, entry; bool unknown; };
    for (const Row& r : {Row{"/tmp/x.SVG", 0, 2, false}, Row{"x.png", 1, 1, false}, Row{"x.png", 2, 0, false},
                         Row{"x.csv", 0, 3, false}, Row{"x", 2, 2, false}, Row{"dir.svg/x", 1, 1, false},
                         Row{".svg", 0, 0, false}, Row{"x.svg.jpg", 1, 1, true}, Row{"x.svg", 9, 2, false}}) {
        const FileTypes::SaveType t = FileTypes::saveTypeOf(r.path, FileTypes::entriesOf(request), r.chosen);
        EXPECT_TRUE(t.entry == r.entry && t.unknown == r.unknown) << r.path << " " << r.chosen << ": " << t.entry;
    }
    ScriptedHost host;
    host.answer(MessageAnswer::No);
    EXPECT_EQ(FileTypes::saveTypeQuestion(host, "x.jpg", request, 1), std::nullopt); // No writes nothing
    EXPECT_EQ(FileTypes::saveTypeQuestion(host, "x.jpg", request, 1), 1);
}

} // namespace audimera
