// The file types the program's dialogs offer, and the one rule by which a
// name typed in a save dialog picks the type written: the extension the user
// typed counts for more than the entry left selected in the type list.
//
// Plain functions on strings, no toolkit; saveTypeQuestion() shows the
// host's message box and so runs on the UI thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace audimera {

class Host;
struct FileDialogRequest;

namespace FileTypes {

// The first entry of every dialog that opens a curve or a calibration file,
// and the last one.
inline constexpr const char* CurveAndCalibration = "Curve and calibration files (*.txt *.cal *.frd *.csv)";
inline constexpr const char* AllFiles = "All files (*)";
// The one entry of the dialogs that save and open a session file.
inline constexpr const char* SessionFiles = "Audimera session (*.audimera)";

// Sets the entries of request, a dialog that opens a curve or calibration
// file: CurveAndCalibration, then the dialog's own entries, then AllFiles.
void offerCurveFiles(FileDialogRequest& request, std::vector<std::string> entries);

// The extensions an entry's label lists, lower case, without "*.":
// {"txt", "cal"} for "Curves (*.txt *.cal)"; none for "All files (*)".
std::vector<std::string> extensionsOf(std::string_view label);

// The extension of path's file name, lower case, without the dot; empty
// when the name has none ("x", "x.", ".profile", "dir.d/x").
std::string extensionOf(std::string_view path);

struct SaveType {
    int entry = 0;        // the entry whose format is written
    bool unknown = false; // the typed extension is listed by no entry
};

// The entry a save of path writes, among entries (the dialog's labels in
// order) with entry chosen selected:
// - no extension, or one the chosen entry lists: the chosen entry (so
//   "PNG, twice the size" stays twice the size for "x.png");
// - one another entry lists: the first such entry ("x.frd" writes FRD
//   whatever is selected);
// - one no entry lists: the chosen entry, marked unknown, for the caller to
//   ask before writing.
SaveType saveTypeOf(std::string_view path, const std::vector<std::string>& entries, int chosen);

// The entries of request in the order the dialog lists them.
std::vector<std::string> entriesOf(const FileDialogRequest& request);

// saveTypeOf() for what request's dialog returned; an unknown extension is
// put to the user as a Yes/No question through host. The entry to write, or
// nullopt when the user answered No (nothing is written).
std::optional<int> saveTypeQuestion(Host& host, const std::string& path, const FileDialogRequest& request,
                                    int chosen);

} // namespace FileTypes

} // namespace audimera
