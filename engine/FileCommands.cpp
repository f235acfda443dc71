// Loading and saving traces, and the commands that pick files.
#include "MeasurementEngine.h"

#include "CurveFile.h"

#include <vector>

namespace {
constexpr const char* CurveFilter = "Response Curve (*.txt)";
} // namespace

void MeasurementEngine::LoadFile(const std::string& FileName)
{
    // The reader stops at what one trace holds and reports it, so a huge
    // file never writes past the store.
    const CurveFile::ReadResult curve = CurveFile::read(FileName, MaxTracePoints);
    bool opened = false;
    for (const CurvePoint& p : curve.points) {
        if (!opened) {
            // Only reached with fewer than 8 traces; should the store be full
            // anyway, no other curve is appended to.
            if (!m_displays.AddTrace())
                return;
            m_panel.setEnabled("cmdClearTraces", true);
            m_panel.setEnabled("MenuEntrySave", true);
            opened = true;
        }
        m_displays.AddPoint(p.frequency, p.level);
    }
    if (!curve.error.empty()) {
        m_host.message("Error loading file '" + FileName + "' : " + curve.error, MessageIcon::Critical);
        return;
    }
    m_displays.TraceResponse();
    if (!opened)
        m_host.message("Bad file, no points were found !", MessageIcon::Critical);
}

void MeasurementEngine::SaveFile(const std::string& FileName, const double* X, const double* Y, int n)
{
    std::vector<CurvePoint> points;
    points.reserve(static_cast<size_t>(n > 0 ? n : 0));
    for (int i = 0; i < n; ++i)
        points.push_back(CurvePoint{X[i], Y[i] / 100});
    const std::string error = CurveFile::write(FileName, points);
    if (!error.empty())
        m_host.message("Error saving file '" + FileName + "' : " + error, MessageIcon::Critical);
}

void MeasurementEngine::MenuEntryLoadTrace_Click()
{
    if (m_displays.GetTraceCount() >= 8) {
        m_host.message(TooManyTraces, MessageIcon::Critical);
        return;
    }
    if (!m_dialog)
        return;
    FileDialogRequest request;
    request.title = "Load a new response curve...";
    request.filter = CurveFilter;
    request.flags = FileDialogRequest::OpenFlags;
    const std::optional<std::string> path = m_dialog->show(request);
    if (path && !path->empty())
        LoadFile(*path);
}

void MeasurementEngine::MenuEntrySave_Click()
{
    const int traces = m_displays.GetTraceCount();
    if (traces == 0 || !m_dialog)
        return;
    std::vector<double> x, y;
    const int n = m_displays.GetLastTraceData(x, y);
    if (n <= 0)
        return;
    FileDialogRequest request;
    request.save = true;
    request.defaultExtension = "txt";
    request.title = "Save last curve as...";
    request.fileName = "Curve" + std::to_string(traces) + ".txt";
    request.filter = CurveFilter;
    request.flags = FileDialogRequest::SaveFlags;
    const std::optional<std::string> path = m_dialog->show(request);
    if (path && !path->empty())
        SaveFile(*path, x.data(), y.data(), n);
}

void MeasurementEngine::cmdFreqBrowse_Click()
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
    m_panel.setText("txtUserFreqFile", *path);
    for (int i = 0; i < 4; ++i)
        m_panel.setValue(controlName("OptionAutoSigGen", i), i == PlanUserFile ? 1 : 0);
    OptionAutoSigGen_Click(PlanUserFile);
}

void MeasurementEngine::cmdCalibBrowse_Click()
{
    if (!m_dialog)
        return;
    FileDialogRequest request;
    request.title = "Select User Calibration file...";
    request.filter = CurveFilter;
    request.flags = FileDialogRequest::OpenFlags;
    const std::optional<std::string> path = m_dialog->show(request);
    if (!path || path->empty())
        return;
    m_panel.setText("txtUserCalibFile", *path);
    if (m_panel.value("CheckUserCalib") == 0) {
        m_panel.setValue("CheckUserCalib", 1);
        CheckUserCalib_Click();
    }
}

void MeasurementEngine::cmdClearTraces_Click()
{
    m_panel.setEnabled("cmdClearTraces", false);
    m_panel.setEnabled("MenuEntrySave", false);
    m_displays.ClearAllTraces();
    m_displays.TraceResponse();
}

void MeasurementEngine::ComboSmooth_Click(int itemData)
{
    Smooth = itemData;
    if (!Running)
        m_displays.TraceResponse();
}

void MeasurementEngine::ComboDBRange_Click()
{
    if (!Running)
        m_displays.TraceResponse();
}
