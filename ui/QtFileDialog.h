// The main window's file dialog in the program: a modal QFileDialog set up
// from the caller's request, which also refuses the choices the request's
// flags rule out. UI thread only.
#pragma once

#include "engine/FileDialog.h"

#include <QPointer>
#include <QString>
#include <QWidget>

class QFileDialog;

namespace audimera {

class QtFileDialog : public FileDialog {
public:
    // parent: the window the dialog is modal to; may be set later.
    explicit QtFileDialog(QWidget* parent = nullptr);

    void setParentWidget(QWidget* parent) { m_parent = parent; }

    // Shows the dialog modally: the chosen full path, nullopt on cancel.
    std::optional<std::string> show(const FileDialogRequest& request) override;
    int selectedFilter() const override { return m_selectedFilter; }
    std::optional<bool> checkedOption() const override { return m_checked; }

    // Sets dialog up for request without showing it: title, open or save,
    // the filter entries (the first listing "*.txt"; saving with several,
    // the chosen entry's first pattern is the default suffix), an existing
    // file when the file
    // must exist, the overwrite question only when asked for, the default
    // suffix and the suggested name.
    static void configure(QFileDialog& dialog, const FileDialogRequest& request);

    // Why the dialog refuses path for request, or empty: with the path must
    // exist flag, a folder that does not exist; with the no read-only return
    // flag, an existing file without any write permission bit (root
    // included). The dialog shows the reason and stays open.
    static QString refusal(const FileDialogRequest& request, const QString& path);

    // The filter entry for a caller's label: the label itself when it
    // already holds a pattern ("Response Curve (*.txt)"), else the label
    // with " (*.txt)".
    static QString filterFor(const std::string& label);

    // The index among request's filter entries of a dialog's chosen entry.
    static int filterIndex(const FileDialogRequest& request, const QString& chosen);

private:
    QPointer<QWidget> m_parent;
    int m_selectedFilter = 0;
    std::optional<bool> m_checked;
};

} // namespace audimera
