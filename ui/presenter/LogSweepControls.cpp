// What the log-sweep window asks of the main window's logic: one
// measurement at a time, and its curve as a trace of the response plot.
#include "ui/presenter/MainPresenter.h"

#include <algorithm>

namespace audimera {

namespace {
// Off while a log sweep runs: what would start another measurement or
// change the devices under it.
constexpr const char* LockedByLogSweep[] = {"cmdStart", "cmdStartSignal", "MenuInDevice", "MenuOutDevice"};
} // namespace

bool MainPresenter::beginLogSweep()
{
    if (!canStartLogSweep())
        return false;
    LogSweeping = true;
    for (const char* name : LockedByLogSweep)
        m_panel.setEnabled(name, false);
    activityChanged();
    return true;
}

void MainPresenter::endLogSweep()
{
    LogSweeping = false;
    // A sweep or the signal cannot have started meanwhile: their buttons
    // were off.
    for (const char* name : LockedByLogSweep)
        m_panel.setEnabled(name, true);
    activityChanged();
}

bool MainPresenter::addResponseTrace(const std::vector<ResponsePoint>& points)
{
    if (Running || points.empty())
        return false;
    if (const audimera::Status opened = m_document.openTrace(); !opened) {
        m_host.message(opened.message(), MessageIcon::Critical);
        return false;
    }
    const std::size_t n = points.size();
    const std::size_t keep = std::min<std::size_t>(n, MaxTracePoints);
    for (std::size_t j = 0; j < keep; ++j) {
        const ResponsePoint& p = points[keep == 1 ? 0 : j * (n - 1) / (keep - 1)];
        if (p.phase)
            m_document.traces().AddPoint(p.frequency, p.level, *p.phase);
        else
            m_document.traces().AddPoint(p.frequency, p.level);
    }
    m_panel.setEnabled("cmdClearTraces", true);
    m_panel.setEnabled("MenuEntrySave", true);
    m_document.setTraceName(m_document.traces().GetTraceCount() - 1, "Log sweep");
    m_displays.TraceResponse();
    notePlotRange();
    return true;
}

} // namespace audimera
