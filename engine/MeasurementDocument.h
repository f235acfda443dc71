// What the user measured and how it is shown: the traces of the response
// plot, the plot settings (dB range, smoothing) and the correction curves.
// One document per program (or per command): the windows draw from it, the
// file commands and the command line read and write it, and what a sweep
// reports is added to it. Allocated whole at creation; adding points
// allocates nothing. UI thread only.
#pragma once

#include "engine/TraceStore.h"
#include "engine/CorrectionTable.h"
#include "curves/CurveFile.h"
#include "engine/PlotSettings.h"
#include "common/Result.h"

#include <string>
#include <vector>

namespace audimera {

class MeasurementDocument {
public:
    TraceStore& traces() { return m_traces; }
    const TraceStore& traces() const { return m_traces; }
    PlotSettings& plot() { return m_plot; }
    const PlotSettings& plot() const { return m_plot; }
    CorrectionTable& corrections() { return m_corrections; }
    const CorrectionTable& corrections() const { return m_corrections; }

    // Opens a new empty trace; fails with the documented message (the store
    // unchanged) when TraceStore::MaxTraces are shown.
    audimera::Status openTrace();

    // The traces' names for a picture's legend (a loaded file's name, ""
    // for a measured trace); opening a trace gives it "".
    void setTraceName(int trace, std::string name);
    std::string traceName(int trace) const;
    const std::vector<std::string>& traceNames() const { return m_traceNames; }

    // The newest trace: frequencies as measured or loaded, levels in dB as
    // stored (hundredths divided by 100). Empty without a trace.
    std::vector<CurvePoint> lastTrace() const;
    // The same with the phases a loaded file gave, where it gave any.
    std::vector<ResponsePoint> lastResponse() const;

private:
    TraceStore m_traces;
    PlotSettings m_plot;
    CorrectionTable m_corrections;
    std::vector<std::string> m_traceNames;
};

} // namespace audimera
