// The main window's file dialog, as the commands that pick a file see it.
// The program shows a modal file chooser; tests inject the answer.
#pragma once

#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace audimera {

struct FileDialogRequest {
    // Option bits of the dialog, as the callers set them.
    static constexpr int HideReadOnly = 0x4;
    static constexpr int OverwritePrompt = 0x2;
    static constexpr int PathMustExist = 0x800;
    static constexpr int FileMustExist = 0x1000;
    static constexpr int NoReadOnlyReturn = 0x8000;
    static constexpr int LongNames = 0x200000;
    static constexpr int OpenFlags = HideReadOnly | PathMustExist | FileMustExist | LongNames; // 0x201804
    static constexpr int SaveFlags = OverwritePrompt | PathMustExist | NoReadOnlyReturn | LongNames; // 0x208802

    bool save = false;
    std::string title;
    std::string fileName;   // suggested name (saving) or empty
    std::string filter;     // the first filter entry's label, e.g. "Response Curve (*.txt)"
    // Further filter entries, each a label with its patterns ("Curve files
    // (*.txt *.frd *.cal *.csv)"). Saving: the chosen entry's first pattern
    // gives the default extension of a typed name.
    std::vector<std::string> moreFilters;
    int flags = 0;
    std::string defaultExtension; // appended to a typed name without one ("txt")
    // An optional check box under the file names (objectName
    // "CheckDialogOption"): its caption, empty for none, and its first state.
    std::string checkCaption;
    bool checked = false;

    // A save dialog (SaveFlags) titled title, suggesting fileName, whose
    // filter entries are filters, the first chosen; a typed name without an
    // extension gets extension.
    static FileDialogRequest saveAs(std::string title, std::string fileName, std::string extension,
                                    std::vector<std::string> filters)
    {
        FileDialogRequest request;
        request.save = true;
        request.title = std::move(title);
        request.fileName = std::move(fileName);
        request.defaultExtension = std::move(extension);
        if (!filters.empty()) {
            request.filter = std::move(filters.front());
            request.moreFilters.assign(std::make_move_iterator(filters.begin() + 1),
                                       std::make_move_iterator(filters.end()));
        }
        request.flags = SaveFlags;
        return request;
    }
};

class FileDialog {
public:
    virtual ~FileDialog() = default;
    // Shows the dialog modally; the chosen full path, or nullopt when the
    // user cancelled.
    virtual std::optional<std::string> show(const FileDialogRequest& request) = 0;
    // The filter entry chosen at the last show(): 0 for filter, 1 for the
    // first of moreFilters, ...
    virtual int selectedFilter() const { return 0; }
    // The check box's state when the last show() was accepted; nullopt when
    // its request had none (or a dialog without one answered).
    virtual std::optional<bool> checkedOption() const { return std::nullopt; }
};

} // namespace audimera
