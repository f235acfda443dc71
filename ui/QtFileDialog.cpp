#include "QtFileDialog.h"

#include <QFile>
#include <QFileDialog>

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
    dialog.setNameFilter(filterFor(request.filter));
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
    dialog.setOptions(options);
    // A name typed without an extension gets one; curves are text files.
    QString suffix = QString::fromStdString(request.defaultExtension);
    if (suffix.isEmpty() && request.save)
        suffix = QStringLiteral("txt");
    dialog.setDefaultSuffix(suffix);
    if (!request.fileName.empty())
        dialog.selectFile(QFile::decodeName(request.fileName.c_str()));
}

std::optional<std::string> QtFileDialog::show(const FileDialogRequest& request)
{
    QFileDialog dialog(m_parent.data());
    configure(dialog, request);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty() || files.first().isEmpty())
        return std::nullopt;
    return QFile::encodeName(files.first()).toStdString();
}
