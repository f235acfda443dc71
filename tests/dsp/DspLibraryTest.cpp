#include "tests/dsp/DspTestSupport.h"

#include <filesystem>
#include <utility>

namespace audimera {

namespace {

TEST(DspLibraryTest, LoadsTheBuiltLibraryFromAGivenFolderAndKeepsBindings)
{
    FreshDsp dsp;
    EXPECT_EQ(dsp.library().load(), "");
    std::string error;
    void* first = dsp.library().symbol("LowPass44", &error);
    ASSERT_NE(first, nullptr) << error;
    EXPECT_EQ(dsp.library().symbol("LowPass44", &error), first);
    EXPECT_NE(dsp.library().loadedPath().find(AUDIDSP_FILE_NAME), std::string::npos);
    EXPECT_EQ(dsp.library().require({"PackVolume", "UnpackLeftVolume", "UnpackRightVolume",
                                     "GetBSpline", "LowPass48", "LowPass44"})
                  .message(),
              "");
}

TEST(DspLibraryTest, DefaultSearchFindsTheLibraryBesideTheExecutable)
{
    // Tests live in the same folder as the built library, like the program.
    DspLibrary lib;
    EXPECT_EQ(lib.load(), "");
    EXPECT_EQ(std::filesystem::path(lib.loadedPath()).parent_path(),
              std::filesystem::path(DspLibrary::executableDir()));
}

TEST(DspLibraryTest, DefaultSearchTriesTheOwnFolderThenThePrivateFolderOfTheInstalledLayout)
{
    // An installed tree: P/bin for the program, P/lib/<multiarch>/audimera
    // for the library.
    TestFolder prefix;
    const std::string bin = prefix.file("bin");
    const std::vector<std::string> dirs = DspLibrary::defaultSearchDirs(bin);
    ASSERT_EQ(dirs.size(), 2u);
    EXPECT_EQ(dirs[0], bin);
    const std::filesystem::path privateDir(dirs[1]);
    EXPECT_EQ(privateDir.filename(), "audimera");
    EXPECT_EQ(privateDir.parent_path().parent_path(), std::filesystem::path(prefix.file("lib"))) << dirs[1];

    struct Case {
        const char* name;
        bool inBin, inPrivate;
        int loadedFrom; // index into dirs
    } cases[] = {
        {"beside the program", true, false, 0},
        {"private folder only", false, true, 1},
        {"both: the program's own folder wins", true, true, 0},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(prefix.file("bin"));
        std::filesystem::remove_all(prefix.file("lib"));
        for (const auto& [wanted, dir] : {std::pair{c.inBin, dirs[0]}, std::pair{c.inPrivate, dirs[1]}}) {
            std::filesystem::create_directories(dir);
            if (wanted)
                std::filesystem::copy_file(AUDIDSP_BUILT_PATH, dir + "/" + AUDIDSP_FILE_NAME);
        }
        DspLibrary lib(AUDIDSP_FILE_NAME, DspLibrary::defaultSearchDirs(bin));
        EXPECT_EQ(lib.load(), "") << c.name;
        EXPECT_EQ(lib.loadedPath(), dirs[c.loadedFrom] + "/" + AUDIDSP_FILE_NAME) << c.name;
    }
}

TEST(DspLibraryTest, MissingLibraryIsReportedByFileName)
{
    DspLibrary lib("libAudidspMissing.so", {"/nonexistent-folder"});
    const std::string error = lib.load();
    EXPECT_NE(error.find("libAudidspMissing.so"), std::string::npos) << error;
    std::string symbolError;
    EXPECT_EQ(lib.symbol("GetBSpline", &symbolError), nullptr);
    EXPECT_NE(symbolError.find("libAudidspMissing.so"), std::string::npos) << symbolError;
}

TEST(DspLibraryTest, FolderWithoutTheLibraryFallsBackToSystemSearch)
{
    // An empty folder first: the system search does not know the library
    // either, so the failure still names it.
    TestFolder empty;
    DspLibrary lib(AUDIDSP_FILE_NAME, {empty.path()});
    const std::string error = lib.load();
    EXPECT_NE(error.find(AUDIDSP_FILE_NAME), std::string::npos) << error;
}

TEST(DspLibraryTest, MissingExportIsReportedByName)
{
    DspLibrary lib(AUDIDSP_FILE_NAME, {AUDIDSP_PARTIAL_DIR});
    ASSERT_EQ(lib.load(), "");
    std::string error;
    EXPECT_NE(lib.symbol("PackVolume", &error), nullptr) << error;
    EXPECT_EQ(lib.symbol("GetBSpline", &error), nullptr);
    EXPECT_NE(error.find("'GetBSpline'"), std::string::npos) << error;
    const Status required = lib.require({"PackVolume", "LowPass44", "GetBSpline"});
    EXPECT_EQ(required.kind(), Failure::Install);
    EXPECT_NE(required.message().find("'LowPass44'"), std::string::npos) << required.message();
}

TEST(DspLibraryTest, AFileThatIsNotALibraryIsReportedWithItsReason)
{
    TestFolder folder;
    const std::string& dir = folder.path();
    {
        std::FILE* f = std::fopen((dir + "/" + AUDIDSP_FILE_NAME).c_str(), "w");
        std::fputs("not a shared object", f);
        std::fclose(f);
    }
    DspLibrary lib(AUDIDSP_FILE_NAME, {dir});
    const std::string error = lib.load();
    EXPECT_NE(error.find(AUDIDSP_FILE_NAME), std::string::npos) << error;
    EXPECT_NE(error.find(dir), std::string::npos) << "the reason names the broken file: " << error;
}

TEST(DspLibraryTest, TypedCallsGoThroughTheProcessWideInstance)
{
    EXPECT_EQ(DspLibrary::instance().require(Audidsp::programExports()).message(), "");
    double x[] = {0, 1, 2, 3}, y[] = {0, 1, 0, 1}, xo[7], yo[7];
    int32_t count = 0;
    Audidsp::GetBSpline(7, x, y, 4, xo, yo, &count, 2);
    EXPECT_EQ(count, 7);
    EXPECT_DOUBLE_EQ(yo[3], 0.5);
    EXPECT_EQ(Audidsp::LowPass44(0, 42, 1), 42.0);
}

} // namespace

} // namespace audimera
