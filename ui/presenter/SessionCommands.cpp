// Session files from the File menu: Save Session, Open Session and Restore
// Last Session, on the measurement session's saveSession/openSession.
#include "ui/presenter/MainPresenter.h"

#include "engine/FileTypes.h"
#include "engine/SessionFile.h"
#include "ui/presenter/ControlNames.h"
#include "ui/presenter/ControlTable.h"

namespace audimera {

void MainPresenter::MenuEntrySaveSession_Click()
{
    if (!m_dialog)
        return;
    // ".audimera" is added to a name typed without an extension.
    const FileDialogRequest request = FileDialogRequest::saveAs(
        "Save the session as...", std::string("Session") + SessionFile::Extension,
        std::string(SessionFile::Extension).substr(1), {FileTypes::SessionFiles});
    const std::optional<std::string> path = m_dialog->show(request);
    if (!path || path->empty())
        return;
    if (const audimera::Status saved = m_session.saveSession(*path); !saved)
        m_host.message(saved.message(), MessageIcon::Critical);
}

void MainPresenter::MenuEntryOpenSession_Click()
{
    if (!m_dialog)
        return;
    FileDialogRequest request;
    request.title = "Open a session...";
    request.filter = FileTypes::SessionFiles;
    request.moreFilters = {FileTypes::AllFiles};
    request.flags = FileDialogRequest::OpenFlags;
    const std::optional<std::string> path = m_dialog->show(request);
    if (path && !path->empty())
        OpenSessionFile(*path);
}

void MainPresenter::MenuEntryRestoreSession_Click()
{
    OpenSessionFile(MeasurementSession::lastSessionPath());
}

bool MainPresenter::OpenSessionFile(const std::string& path)
{
    // Nothing is lost before the user says so.
    if (m_session.unsavedWork() &&
        m_host.message(ReplaceSessionQuestion, MessageIcon::Question, MessageButtons::YesNo) != MessageAnswer::Yes)
        return false;
    const Result<std::vector<std::string>> opened = m_session.openSession(path);
    if (!opened) {
        m_host.message(opened.error().message,
                       opened.error().kind == Failure::Busy ? MessageIcon::Exclamation : MessageIcon::Critical);
        return false;
    }
    const bool haveTrace = m_document.traces().GetTraceCount() > 0;
    m_panel.setEnabled(names::cmdClearTraces, haveTrace);
    m_panel.setEnabled(names::MenuEntrySave, haveTrace);
    // The lists show the file's span and smoothing; the centre may lie off
    // 0 dB.
    for (size_t i = 0; i < ControlTable::DBRangeItems.size(); ++i)
        if (ControlTable::DBRangeItems[i].data == m_document.plot().dbSpan)
            m_panel.setValue(names::ComboDBRange, static_cast<int>(i));
    for (size_t i = 0; i < ControlTable::SmoothItems.size(); ++i)
        if (ControlTable::SmoothItems[i].data == m_document.plot().smooth)
            m_panel.setValue(names::ComboSmooth, static_cast<int>(i));
    // The correction boxes as the file left them.
    const auto& enabled = m_document.corrections().enabled;
    m_panel.setValue(names::CheckSPLCorrect, enabled[0] ? 1 : 0);
    m_panel.setValue(names::CheckSoundCard, enabled[1] ? 1 : 0);
    m_panel.setValue(names::CheckUserCalib, enabled[2] ? 1 : 0);
    if (const std::string user = m_session.correctionPath(CorrectionUse::Main, 2); !user.empty())
        m_panel.setText(names::txtUserCalibFile, user);
    showSensitivity();
    if (m_rangeNoted) {
        m_panel.setStatusText("");
        m_rangeNoted = false;
    }
    m_displays.TraceResponse();
    if (!opened->empty()) {
        std::string text = SkippedIntro;
        for (const std::string& line : *opened)
            text += "\n" + line;
        m_host.message(text, MessageIcon::Exclamation);
    }
    return true;
}

} // namespace audimera
