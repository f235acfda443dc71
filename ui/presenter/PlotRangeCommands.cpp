// The response plot's range against the traces: the note on a trace that
// cannot be seen, and Fit Range to Traces.
#include "ui/presenter/MainPresenter.h"

#include "ui/presenter/ControlTable.h"
#include "engine/PlotRange.h"
#include "ui/presenter/ControlNames.h"

namespace audimera {

void MainPresenter::notePlotRange()
{
    const int last = m_document.traces().GetTraceCount() - 1;
    const double by = PlotRange::outsideBy(m_document.traces(), last, m_document.plot());
    if (by != 0) {
        m_panel.setStatusText(PlotRange::outsideNote(m_document.traceName(last), by));
        m_rangeNoted = true;
    }
}

void MainPresenter::FitRangeToTraces()
{
    PlotSettings& plot = m_document.plot();
    const PlotSettings fitted = PlotRange::fitted(m_document.traces(), plot);
    plot.dbSpan = fitted.dbSpan;
    plot.dbCentre = fitted.dbCentre;
    for (size_t i = 0; i < ControlTable::DBRangeItems.size(); ++i)
        if (ControlTable::DBRangeItems[i].data == plot.dbSpan)
            m_panel.setValue(names::ComboDBRange, static_cast<int>(i));
    if (m_rangeNoted) {
        m_panel.setStatusText("");
        m_rangeNoted = false;
    }
    if (!m_session.sweeping())
        m_displays.TraceResponse();
}

} // namespace audimera
