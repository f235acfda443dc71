#include "ui/QtFileDialog.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QMessageBox>

#include <algorithm>

namespace audimera {

namespace {

// QFileDialog checks neither that the folder of a name typed for saving
// exists nor whether the chosen file is read-only. Qt's own dialog refuses
// such a choice in accept(), before it asks about overwriting, and stays
// open. A platform chooser (drawn with the dialog itself off screen) may
// have closed already: show() checks its choice and opens it again.
class CheckedFileDialog : public QFileDialog {
public:
    CheckedFileDialog(QWidget* parent, const FileDialogRequest& request) : QFileDialog(parent), m_request(request) {}

    void accept() override
    {
        if (!testAttribute(Qt::WA_DontShowOnScreen)) {
            const QString reason = QtFileDialog::refusal(m_request, selectedFiles().value(0));
            if (!reason.isEmpty()) {
                QMessageBox::warning(this, windowTitle(), reason);
                return;
            }
        }
        QFileDialog::accept();
    }

private:
    const FileDialogRequest& m_request;
};

QStringList filtersOf(const FileDialogRequest& request)
{
    QStringList filters{QtFileDialog::filterFor(request.filter)};
    for (const std::string& more : request.moreFilters)
        filters << QtFileDialog::filterFor(more);
    return filters;
}

// The extension of a filter entry's first pattern: "frd" for "FRD file (*.frd)".
QString suffixOf(const QString& filter)
{
    const int dot = filter.indexOf(QStringLiteral("*."));
    if (dot < 0)
        return {};
    QString suffix;
    for (int i = dot + 2; i < filter.size() && filter[i].isLetterOrNumber(); ++i)
        suffix += filter[i];
    return suffix;
}

} // namespace

int QtFileDialog::filterIndex(const FileDialogRequest& request, const QString& chosen)
{
    return std::max(0, static_cast<int>(filtersOf(request).indexOf(chosen)));
}

QtFileDialog::QtFileDialog(QWidget* parent) : m_parent(parent)
{
}

QString QtFileDialog::filterFor(const std::string& label)
{
    const QString text = QString::fromStdString(label).trimmed();
    if (text.isEmpty())
        return QStringLiteral("*.txt");
    if (text.contains(QLatin1Char('(')) && text.endsWith(QLatin1Char(')')))
        return text;
    return text + QStringLiteral(" (*.txt)");
}

void QtFileDialog::configure(QFileDialog& dialog, const FileDialogRequest& request)
{
    dialog.setWindowTitle(QString::fromStdString(request.title));
    dialog.setNameFilters(filtersOf(request));
    QFileDialog::Options options;
    if (request.save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        if (!(request.flags & FileDialogRequest::OverwritePrompt))
            options |= QFileDialog::DontConfirmOverwrite;
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        const bool mustExist =
            request.flags & (FileDialogRequest::FileMustExist | FileDialogRequest::PathMustExist);
        dialog.setFileMode(mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    }
    // A check box needs Qt's own dialog: a platform chooser has no room for one.
    if (!request.checkCaption.empty())
        options |= QFileDialog::DontUseNativeDialog;
    dialog.setOptions(options);
    if (!request.checkCaption.empty()) {
        auto* box = new QCheckBox(QString::fromStdString(request.checkCaption), &dialog);
        box->setObjectName(QStringLiteral("CheckDialogOption"));
        box->setChecked(request.checked);
        if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
            grid->addWidget(box, grid->rowCount(), 0, 1, grid->columnCount());
        else if (dialog.layout())
            dialog.layout()->addWidget(box);
    }
    // A name typed without an extension gets one; curves are text files.
    QString suffix = QString::fromStdString(request.defaultExtension);
    if (suffix.isEmpty() && request.save)
        suffix = QStringLiteral("txt");
    dialog.setDefaultSuffix(suffix);
    if (request.save && !request.moreFilters.empty()) {
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [d = &dialog](const QString& filter) {
            if (const QString chosen = suffixOf(filter); !chosen.isEmpty())
                d->setDefaultSuffix(chosen);
        });
    }
    if (!request.fileName.empty())
        dialog.selectFile(QFile::decodeName(request.fileName.c_str()));
}

QString QtFileDialog::refusal(const FileDialogRequest& request, const QString& path)
{
    if (path.isEmpty())
        return {};
    const QFileInfo info(path);
    const QString shown = QDir::toNativeSeparators(info.absoluteFilePath());
    if ((request.flags & FileDialogRequest::PathMustExist) && !info.absoluteDir().exists())
        return QStringLiteral("%1\nThe folder does not exist.\nCheck the path and try again.").arg(shown);
    // The permission bits, not isWritable(): root may write anything.
    constexpr QFile::Permissions anyWrite = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    if ((request.flags & FileDialogRequest::NoReadOnlyReturn) && info.exists() && !info.isDir()
        && !(info.permissions() & anyWrite))
        return QStringLiteral("%1\nThe file is read-only.\nChoose another name.").arg(shown);
    return {};
}

std::optional<std::string> QtFileDialog::show(const FileDialogRequest& request)
{
    CheckedFileDialog dialog(m_parent.data(), request);
    configure(dialog, request);
    m_selectedFilter = 0;
    m_checked.reset();
    for (;;) {
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        m_selectedFilter = filterIndex(request, dialog.selectedNameFilter());
        if (const auto* box = dialog.findChild<QCheckBox*>(QStringLiteral("CheckDialogOption")))
            m_checked = box->isChecked();
        const QStringList files = dialog.selectedFiles();
        if (files.isEmpty() || files.first().isEmpty())
            return std::nullopt;
        const QString reason = refusal(request, files.first());
        if (reason.isEmpty())
            return QFile::encodeName(files.first()).toStdString();
        QMessageBox::warning(m_parent.data(), dialog.windowTitle(), reason);
    }
}

} // namespace audimera
