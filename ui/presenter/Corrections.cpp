// The correction boxes: each loads a curve into one column of the
// document's correction table and switches its subtraction on.
#include "ui/presenter/MainPresenter.h"

#include "ui/presenter/ControlNames.h"

namespace audimera {

bool MainPresenter::LoadCalibFile(const std::string& FileName, int CalibIndex)
{
    const audimera::Status loaded = m_session.loadCorrection(CorrectionUse::Main, CalibIndex, FileName);
    if (!loaded) {
        m_host.message(loaded.message(), MessageIcon::Critical);
        return false;
    }
    // A calibration file's sensitivity factor is for the user to see; the
    // curve stays relative.
    if (const auto& sensitivity = m_document.corrections().sensitivity(CalibIndex)) {
        std::string text = "'" + FileName + "': sensitivity factor " + m_panel.formatNumber(sensitivity->value);
        if (!sensitivity->unit.empty())
            text += " " + sensitivity->unit;
        m_panel.setStatusText(text);
    }
    return true;
}

void MainPresenter::correctionClicked(int index, std::string_view box, const std::string& file)
{
    m_session.disableCorrection(CorrectionUse::Main, index);
    if (m_panel.value(box) != 0) {
        if (!LoadCalibFile(file, index)) {
            m_panel.setValue(box, 0);
        } else if (const audimera::Status enabled = m_session.enableCorrection(CorrectionUse::Main, index); !enabled) {
            m_host.message(enabled.message(), MessageIcon::Critical);
            m_panel.setValue(box, 0);
        }
    }
    showSensitivity();
}

void MainPresenter::showSensitivity()
{
    // Its own place in the status bar: the progress line overwrites the
    // status text, never this.
    std::string text;
    for (int i = CorrectionTable::Count - 1; i >= 0 && text.empty(); --i) {
        const auto& sensitivity = m_document.corrections().sensitivity(i);
        if (m_document.corrections().enabled[i] && sensitivity) {
            text = "Sens Factor " + m_panel.formatNumber(sensitivity->value);
            if (!sensitivity->unit.empty())
                text += " " + sensitivity->unit;
        }
    }
    m_panel.setCaption(names::LabelSensitivity, text);
}

void MainPresenter::CheckSPLCorrect_Click()
{
    correctionClicked(0, names::CheckSPLCorrect, SplCurveFile);
}

void MainPresenter::CheckSoundCard_Click()
{
    correctionClicked(1, names::CheckSoundCard, SoundCardFile);
}

void MainPresenter::CheckUserCalib_Click()
{
    correctionClicked(2, names::CheckUserCalib, m_panel.text(names::txtUserCalibFile));
}

} // namespace audimera
