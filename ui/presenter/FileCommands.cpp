// Loading and saving traces, the commands that pick files, and the lists
// that choose how the plot is drawn: all on the measurement document.
#include "ui/presenter/MainPresenter.h"

#include "curves/CurveFile.h"
#include "engine/FileTypes.h"
#include "ui/presenter/ControlNames.h"

#include <vector>

namespace audimera {

namespace {
constexpr const char* CurveFilter = "Response Curve (*.txt)";
} // namespace

const char* const MainPresenter::CurveFilesFilter = "Curve files (*.txt *.frd *.cal *.csv)";
const char* const MainPresenter::FrdFilter = "FRD file (*.frd)";
const char* const MainPresenter::CsvFilter = "CSV file (*.csv)";

void MainPresenter::LoadFile(const std::string& FileName)
{
    const int before = m_document.traces().GetTraceCount();
    const audimera::Status loaded = m_session.loadTrace(FileName);
    if (m_document.traces().GetTraceCount() > before) {
        m_panel.setEnabled(names::cmdClearTraces, true);
        m_panel.setEnabled(names::MenuEntrySave, true);
    }
    // A file that fails part-way keeps what was read, undrawn until the
    // next redraw; one without a point is drawn and then said to be bad.
    if (!loaded && loaded.kind() != Failure::BadInput) {
        m_host.message(loaded.message(), MessageIcon::Critical);
        return;
    }
    m_displays.TraceResponse();
    if (!loaded) {
        m_host.message(loaded.message(), MessageIcon::Critical);
        return;
    }
    notePlotRange();
}

void MainPresenter::SaveFile(const std::string& FileName, const double* X, const double* Y, int n)
{
    std::vector<CurvePoint> points;
    points.reserve(static_cast<size_t>(n > 0 ? n : 0));
    for (int i = 0; i < n; ++i)
        points.push_back(CurvePoint{X[i], Y[i] / 100});
    if (const audimera::Status written = CurveFile::write(FileName, points); !written)
        m_host.message(CurveFile::saveError(FileName, written.message()), MessageIcon::Critical);
}

void MainPresenter::MenuEntryLoadTrace_Click()
{
    if (m_document.traces().GetTraceCount() >= TraceStore::MaxTraces) {
        m_host.message(TooManyTraces, MessageIcon::Critical);
        return;
    }
    if (!m_dialog)
        return;
    FileDialogRequest request;
    request.title = "Load a new response curve...";
    FileTypes::offerCurveFiles(request, {CurveFilter, CurveFilesFilter});
    request.flags = FileDialogRequest::OpenFlags;
    const std::optional<std::string> path = m_dialog->show(request);
    if (path && !path->empty())
        LoadFile(*path);
}

void MainPresenter::MenuEntrySave_Click()
{
    const int traces = m_document.traces().GetTraceCount();
    std::vector<double> x, y;
    if (traces == 0 || !m_dialog || m_document.traces().GetLastTraceData(x, y) <= 0)
        return;
    // FRD and CSV, as Export Trace writes them, for a name typed with their
    // extension; the curve file stays the first entry.
    const FileDialogRequest request = FileDialogRequest::saveAs(
        "Save last curve as...", "Curve" + std::to_string(traces) + ".txt", "txt", {CurveFilter, FrdFilter, CsvFilter});
    const std::optional<std::string> path = m_dialog->show(request);
    if (!path || path->empty())
        return;
    if (const std::optional<int> type = FileTypes::saveTypeQuestion(m_host, *path, request, m_dialog->selectedFilter()))
        writeLastTrace(*path, static_cast<TraceFormat>(*type));
}

void MainPresenter::MenuEntryExportTrace_Click()
{
    const int traces = m_document.traces().GetTraceCount();
    if (traces == 0 || !m_dialog)
        return;
    if (m_document.lastResponse().empty())
        return;
    // The curve file last, for a name typed with ".txt".
    const FileDialogRequest request = FileDialogRequest::saveAs("Export last curve as...",
                                                                "Curve" + std::to_string(traces) + ".frd", "frd",
                                                                {FrdFilter, CsvFilter, CurveFilter});
    const std::optional<std::string> path = m_dialog->show(request);
    if (!path || path->empty())
        return;
    constexpr TraceFormat formats[] = {TraceFormat::Frd, TraceFormat::Csv, TraceFormat::Curve};
    if (const std::optional<int> type = FileTypes::saveTypeQuestion(m_host, *path, request, m_dialog->selectedFilter()))
        writeLastTrace(*path, formats[*type]);
}

void MainPresenter::writeLastTrace(const std::string& path, TraceFormat format)
{
    if (const audimera::Status written = m_session.exportTrace(path, format); !written)
        m_host.message(written.message(), MessageIcon::Critical);
}

void MainPresenter::cmdFreqBrowse_Click()
{
    if (!m_dialog)
        return;
    FileDialogRequest request;
    request.title = "Select Frequency list file...";
    request.filter = "Frequency list (*.txt)";
    request.flags = FileDialogRequest::OpenFlags;
    const std::optional<std::string> path = m_dialog->show(request);
    if (!path || path->empty())
        return;
    m_panel.setText(names::txtUserFreqFile, *path);
    for (int i = 0; i < 4; ++i)
        m_panel.setValue(controlName(names::OptionAutoSigGen, i), i == PlanUserFile ? 1 : 0);
    OptionAutoSigGen_Click(PlanUserFile);
}

void MainPresenter::cmdCalibBrowse_Click()
{
    if (!m_dialog)
        return;
    FileDialogRequest request;
    request.title = "Select User Calibration file...";
    FileTypes::offerCurveFiles(request, {CurveFilter});
    request.flags = FileDialogRequest::OpenFlags;
    const std::optional<std::string> path = m_dialog->show(request);
    if (!path || path->empty())
        return;
    m_panel.setText(names::txtUserCalibFile, *path);
    if (m_panel.value(names::CheckUserCalib) == 0) {
        m_panel.setValue(names::CheckUserCalib, 1);
        CheckUserCalib_Click();
    }
}

void MainPresenter::cmdClearTraces_Click()
{
    m_panel.setEnabled(names::cmdClearTraces, false);
    m_panel.setEnabled(names::MenuEntrySave, false);
    m_session.clearTraces();
    m_displays.TraceResponse();
}

void MainPresenter::ComboSmooth_Click(int itemData)
{
    m_document.plot().smooth = itemData;
    if (!m_session.sweeping())
        m_displays.TraceResponse();
}

void MainPresenter::ComboDBRange_Click(int itemData)
{
    m_document.plot().dbSpan = itemData;
    m_document.plot().dbCentre = 0; // the list's ranges are centred on 0 dB
    if (!m_session.sweeping())
        m_displays.TraceResponse();
}

} // namespace audimera
