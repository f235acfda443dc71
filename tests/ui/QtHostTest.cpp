// The host's real message boxes and the real file dialog, answered from
// inside their own event loops.
#include "ui/QtFileDialog.h"
#include "ui/QtHost.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace audimera {

namespace {

// Runs answer on the first visible dialog of type T once its event loop
// runs. Should none show up, every visible dialog is rejected after a while
// so that the call showing it returns and the test fails instead of hanging.
template <typename T>
void whenShown(std::function<void(T&)> answer, int triesLeft = 200)
{
    QTimer::singleShot(0, [answer, triesLeft] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<T*>(w); dialog && dialog->isVisible()) {
                answer(*dialog);
                return;
            }
        if (triesLeft > 0) {
            whenShown<T>(answer, triesLeft - 1);
            return;
        }
        ADD_FAILURE() << "no dialog was shown";
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<QDialog*>(w); dialog && dialog->isVisible())
                dialog->reject();
    });
}

struct SeenBox {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    bool modal = false;
};

SeenBox pressOn(QMessageBox& box, QMessageBox::StandardButton press)
{
    SeenBox seen{box.windowTitle(), box.text(), box.icon(), box.standardButtons(), box.isModal()};
    box.button(press)->click();
    return seen;
}

TEST(QtHostTest, AMessageIsAModalBoxTitledAudimeraWithItsIcon)
{
    QtHost host;
    SeenBox seen;
    whenShown<QMessageBox>([&](QMessageBox& box) { seen = pressOn(box, QMessageBox::Ok); });
    EXPECT_EQ(host.message("Bad file, no points were found !", MessageIcon::Critical), MessageAnswer::Ok);
    EXPECT_EQ(seen.title.toStdString(), "Audimera");
    EXPECT_EQ(seen.text.toStdString(), "Bad file, no points were found !");
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
    EXPECT_EQ(seen.buttons, QMessageBox::Ok);
    EXPECT_TRUE(seen.modal);
}

TEST(QtHostTest, AYesNoQuestionReturnsTheButtonPressed)
{
    QtHost host;
    SeenBox seen;
    whenShown<QMessageBox>([&](QMessageBox& box) { seen = pressOn(box, QMessageBox::No); });
    EXPECT_EQ(host.message("Warning: input level too low or too much noise.\r\n\r\nContinue anyway ?",
                           MessageIcon::Exclamation, MessageButtons::YesNo),
              MessageAnswer::No);
    EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(seen.icon, QMessageBox::Warning);
    EXPECT_EQ(seen.text.toStdString(), "Warning: input level too low or too much noise.\n\nContinue anyway ?");

    whenShown<QMessageBox>([&](QMessageBox& box) { seen = pressOn(box, QMessageBox::Yes); });
    EXPECT_EQ(host.message("Again ?", MessageIcon::Question, MessageButtons::YesNo), MessageAnswer::Yes);
    EXPECT_EQ(seen.icon, QMessageBox::Question);
}

TEST(QtHostTest, IconsMapOntoTheBoxIcons)
{
    const std::pair<MessageIcon, QMessageBox::Icon> icons[] = {
        {MessageIcon::None, QMessageBox::NoIcon},
        {MessageIcon::Critical, QMessageBox::Critical},
        {MessageIcon::Exclamation, QMessageBox::Warning},
        {MessageIcon::Question, QMessageBox::Question},
        {MessageIcon::Information, QMessageBox::Information},
    };
    for (const auto& [icon, boxIcon] : icons) {
        QMessageBox box;
        QtHost::prepare(box, "Uh ?", icon, MessageButtons::Ok);
        EXPECT_EQ(box.icon(), boxIcon);
    }
    // Texts are shown as written, never as markup.
    QMessageBox box;
    QtHost::prepare(box, "<b>'C:\\x'</b>", MessageIcon::None, MessageButtons::Ok);
    EXPECT_EQ(box.textFormat(), Qt::PlainText);
}

TEST(QtHostTest, APresenterAnswersInsteadOfABox)
{
    QtHost host;
    std::string seen;
    host.setPresenter([&](std::string_view text, MessageIcon, MessageButtons) {
        seen = text;
        return MessageAnswer::No;
    });
    EXPECT_EQ(host.message("Question", MessageIcon::Question, MessageButtons::YesNo), MessageAnswer::No);
    EXPECT_EQ(seen, "Question");
}

TEST(QtHostTest, YieldRunsPendingEvents)
{
    QtHost host;
    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    host.yield();
    EXPECT_TRUE(ran);
}

// ---------------------------------------------------------------- file dialog

FileDialogRequest openRequest()
{
    FileDialogRequest r;
    r.title = "Load a new response curve...";
    r.filter = "Response Curve (*.txt)";
    r.flags = FileDialogRequest::OpenFlags;
    return r;
}

FileDialogRequest saveRequest()
{
    FileDialogRequest r;
    r.save = true;
    r.title = "Save last curve as...";
    r.fileName = "Curve1.txt";
    r.filter = "Response Curve (*.txt)";
    r.flags = FileDialogRequest::SaveFlags;
    r.defaultExtension = "txt";
    return r;
}

TEST(QtFileDialogTest, OpeningAsksForAnExistingTextFile)
{
    QFileDialog dialog;
    QtFileDialog::configure(dialog, openRequest());
    EXPECT_EQ(dialog.windowTitle().toStdString(), "Load a new response curve...");
    EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(dialog.nameFilters(), QStringList{QStringLiteral("Response Curve (*.txt)")});
}

TEST(QtFileDialogTest, SavingConfirmsOverwritingAndAddsTxt)
{
    QFileDialog dialog;
    QtFileDialog::configure(dialog, saveRequest());
    EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
    EXPECT_FALSE(dialog.testOption(QFileDialog::DontConfirmOverwrite));
    EXPECT_EQ(dialog.defaultSuffix().toStdString(), "txt");

    FileDialogRequest quiet = saveRequest();
    quiet.flags &= ~FileDialogRequest::OverwritePrompt;
    QFileDialog other;
    QtFileDialog::configure(other, quiet);
    EXPECT_TRUE(other.testOption(QFileDialog::DontConfirmOverwrite));
}

// Several entries: all listed; saving, the chosen entry's pattern gives the
// suffix of a typed name, and its index is what the caller reads back.
TEST(QtFileDialogTest, MoreFilterEntriesChooseTheSuffixAndAreReported)
{
    FileDialogRequest r = saveRequest();
    r.filter = "FRD file (*.frd)";
    r.moreFilters = {"CSV file (*.csv)"};
    r.defaultExtension = "frd";
    QFileDialog dialog;
    QtFileDialog::configure(dialog, r);
    EXPECT_EQ(dialog.nameFilters(), (QStringList{QStringLiteral("FRD file (*.frd)"), QStringLiteral("CSV file (*.csv)")}));
    EXPECT_EQ(dialog.defaultSuffix().toStdString(), "frd");
    emit dialog.filterSelected(QStringLiteral("CSV file (*.csv)"));
    EXPECT_EQ(dialog.defaultSuffix().toStdString(), "csv");
    EXPECT_EQ(QtFileDialog::filterIndex(r, QStringLiteral("CSV file (*.csv)")), 1);
    EXPECT_EQ(QtFileDialog::filterIndex(r, QStringLiteral("FRD file (*.frd)")), 0);

    FileDialogRequest open = openRequest();
    open.moreFilters = {"Curve files (*.txt *.frd *.cal *.csv)"};
    QFileDialog load;
    QtFileDialog::configure(load, open);
    EXPECT_EQ(load.nameFilters().size(), 2);
}

TEST(QtFileDialogTest, AFilterLabelWithoutAPatternListsTextFiles)
{
    EXPECT_EQ(QtFileDialog::filterFor("Frequency list (*.txt)").toStdString(), "Frequency list (*.txt)");
    EXPECT_EQ(QtFileDialog::filterFor("Frequency list").toStdString(), "Frequency list (*.txt)");
    EXPECT_EQ(QtFileDialog::filterFor("").toStdString(), "*.txt");
}

TEST(QtFileDialogTest, CancellingReturnsNothing)
{
    QtFileDialog files;
    bool shown = false;
    whenShown<QFileDialog>([&](QFileDialog& dialog) {
        shown = true;
        dialog.reject();
    });
    EXPECT_FALSE(files.show(openRequest()));
    EXPECT_TRUE(shown);
}

TEST(QtFileDialogTest, ANameTypedWithoutExtensionIsSavedAsTxt)
{
    QTemporaryDir dir;
    QtFileDialog files;
    QString suggested;
    whenShown<QFileDialog>([&](QFileDialog& dialog) {
        suggested = dialog.selectedFiles().value(0);
        dialog.setDirectory(dir.path());
        dialog.selectFile(QStringLiteral("response"));
        static_cast<QDialog&>(dialog).accept(); // as the Save button does
    });
    const std::optional<std::string> chosen = files.show(saveRequest());
    ASSERT_TRUE(chosen);
    EXPECT_EQ(*chosen, QDir(dir.path()).filePath(QStringLiteral("response.txt")).toStdString());
    EXPECT_TRUE(suggested.endsWith(QStringLiteral("Curve1.txt"))) << suggested.toStdString();
}

// A request's check box (Save Picture's legend) is in the dialog with its
// first state, and what the user left it at is read back; without one there
// is nothing to read.
TEST(QtFileDialogTest, ACheckBoxIsShownAndItsStateReadBack)
{
    QTemporaryDir dir;
    QtFileDialog files;
    for (const auto& [caption, first] : {std::pair{"Legend and axis titles", false}, {"Legend and axis titles", true},
                                         {"", false}}) {
        FileDialogRequest r = saveRequest();
        r.checkCaption = caption;
        r.checked = first;
        std::optional<bool> shownAs;
        whenShown<QFileDialog>([&](QFileDialog& dialog) {
            if (auto* box = dialog.findChild<QCheckBox*>(QStringLiteral("CheckDialogOption"))) {
                EXPECT_EQ(box->text().toStdString(), caption);
                shownAs = box->isChecked();
                box->setChecked(!first);
            }
            dialog.setDirectory(dir.path());
            dialog.selectFile(QStringLiteral("picture.png"));
            static_cast<QDialog&>(dialog).accept();
        });
        ASSERT_TRUE(files.show(r));
        const std::optional<bool> none;
        EXPECT_EQ(shownAs, *caption ? std::optional<bool>(first) : none) << caption;
        EXPECT_EQ(files.checkedOption(), *caption ? std::optional<bool>(!first) : none) << caption;
    }
}

// A file without any write permission bit: refused for saving, even to root.
bool makeReadOnlyFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && QFile::setPermissions(path, QFile::ReadOwner);
}

TEST(QtFileDialogTest, ARefusedChoiceKeepsTheSaveDialogOpen)
{
    QTemporaryDir dir;
    ASSERT_TRUE(makeReadOnlyFile(dir.filePath(QStringLiteral("locked.txt"))));
    QtFileDialog files;
    QStringList boxes;
    bool stayedOpen = true;
    whenShown<QFileDialog>([&](QFileDialog& dialog) {
        dialog.setDirectory(dir.path());
        for (const char* name : {"locked.txt", "missing/response.txt"}) {
            dialog.selectFile(QString::fromLatin1(name));
            whenShown<QMessageBox>([&](QMessageBox& box) {
                boxes << box.text();
                box.reject();
            });
            static_cast<QDialog&>(dialog).accept();
            stayedOpen = stayedOpen && dialog.isVisible();
        }
        dialog.selectFile(QStringLiteral("response"));
        static_cast<QDialog&>(dialog).accept();
    });
    const std::optional<std::string> chosen = files.show(saveRequest());
    EXPECT_TRUE(stayedOpen);
    ASSERT_EQ(boxes.size(), 2);
    EXPECT_TRUE(boxes[0].contains(QStringLiteral("read-only"))) << boxes[0].toStdString();
    EXPECT_TRUE(boxes[1].contains(QStringLiteral("does not exist"))) << boxes[1].toStdString();
    EXPECT_EQ(chosen.value_or(""), QDir(dir.path()).filePath(QStringLiteral("response.txt")).toStdString());
}

TEST(QtFileDialogTest, APlatformChooserThatClosedOnARefusedChoiceOpensAgain)
{
    QTemporaryDir dir;
    ASSERT_TRUE(makeReadOnlyFile(dir.filePath(QStringLiteral("locked.txt"))));
    FileDialogRequest request = saveRequest();
    request.flags &= ~FileDialogRequest::OverwritePrompt;
    QtFileDialog files;
    QString box;
    int shown = 0;
    whenShown<QFileDialog>([&](QFileDialog& dialog) {
        ++shown;
        // As a platform chooser is drawn: the dialog itself stays off screen.
        dialog.setAttribute(Qt::WA_DontShowOnScreen);
        dialog.setDirectory(dir.path());
        dialog.selectFile(QStringLiteral("locked.txt"));
        whenShown<QMessageBox>([&](QMessageBox& b) {
            box = b.text();
            b.reject();
        });
        whenShown<QFileDialog>([&](QFileDialog& again) {
            ++shown;
            again.reject();
        });
        static_cast<QDialog&>(dialog).accept();
    });
    EXPECT_FALSE(files.show(request));
    EXPECT_EQ(shown, 2);
    EXPECT_TRUE(box.contains(QStringLiteral("read-only"))) << box.toStdString();
}

} // namespace

} // namespace audimera
