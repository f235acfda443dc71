// What the log-sweep window asks of the main window's logic: one
// measurement at a time, and its curve as a trace of the response plot.
#include "ui/presenter/MainPresenter.h"

#include "ui/presenter/ControlNames.h"


namespace audimera {

namespace {
// Off while a log sweep or the analyser runs: what would start another
// measurement or change the devices (or the channel heard) under it.
constexpr std::string_view LockedByLogSweep[] = {names::cmdStart, names::cmdStartSignal, names::MenuInDevice,
                                                 names::MenuOutDevice, names::MenuRecordChannel};
} // namespace

void MainPresenter::activityChanged()
{
    // A log sweep or the live analyser turns off what would start another
    // measurement or change the devices under it, and gives them back when
    // it ends (a sweep or the signal cannot have started meanwhile: their
    // buttons were off).
    const bool locked = m_session.logSweeping() || m_session.analysing();
    if (locked != m_lockedByLogSweep) {
        m_lockedByLogSweep = locked;
        for (std::string_view name : LockedByLogSweep)
            m_panel.setEnabled(name, !m_lockedByLogSweep);
    }
    tellActivity();
}

bool MainPresenter::addResponseTrace(const std::vector<ResponsePoint>& points, const std::string& name)
{
    if (m_session.sweeping() || points.empty())
        return false;
    if (const audimera::Status added = m_session.addTrace(points, name); !added) {
        m_host.message(added.message(), MessageIcon::Critical);
        return false;
    }
    tracesAdded();
    return true;
}

bool MainPresenter::addMeasurementTraces(const std::vector<int>& ids, const LogSweepSettings& settings)
{
    if (m_session.sweeping() || ids.empty())
        return false;
    const int before = m_session.document().traces().GetTraceCount();
    const audimera::Status added = m_session.addMeasurementTraces(ids, settings);
    if (m_session.document().traces().GetTraceCount() != before)
        tracesAdded();
    if (!added)
        m_host.message(added.message(), MessageIcon::Critical);
    return static_cast<bool>(added);
}

void MainPresenter::tracesAdded()
{
    m_panel.setEnabled(names::cmdClearTraces, true);
    m_panel.setEnabled(names::MenuEntrySave, true);
    m_displays.TraceResponse();
    notePlotRange();
}

} // namespace audimera
