#include "engine/ImpulseData.h"

#include "engine/MeasurementSession.h"
#include "signal/LogSweep.h"

namespace audimera {

std::shared_ptr<const ImpulseData> ImpulseData::of(const LogSweepRun& run)
{
    const LogSweepResults& r = run.results;
    if (r.impulse.empty() || r.rate <= 0)
        return nullptr;
    std::shared_ptr<ImpulseData> data(new ImpulseData);
    data->m_samples = r.impulse;
    ImpulseView& v = data->m_view;
    v.samples = data->m_samples.data();
    v.size = data->m_samples.size();
    v.rate = r.rate;
    v.peak = r.impulsePeak;
    v.firstSampleTime = r.impulseStartSamples;
    // The delay the measured phase is given relative to: the phase
    // reference's (Auto's line-up with the minimum phase, not the peak, which
    // a low-pass holds back). With a reference channel it counts from the
    // reference's arrival, which lies delaySamples before the measured
    // response's peak (to the sample: the peaks' fractions are not kept).
    v.delaySamples = r.phaseDelaySamples;
    if (run.settings.reference != LogSweepSettings::Reference::None)
        v.delaySamples += r.impulseStartSamples + static_cast<double>(r.impulsePeak) - r.delaySamples;
    v.lowHz = run.settings.start;
    v.highHz = run.settings.stop;
    if (run.file.empty()) {
        // The sweep the response was measured with states its band edges.
        if (Result<LogSweep> sweep = LogSweep::make(run.settings.shape(r.rate))) {
            const LogSweep::BandEdges edges = sweep->bandEdges();
            auto kept = std::make_shared<const LogSweep>(std::move(*sweep));
            if (edges.highPassHz > 0 || edges.lowPassHz > 0)
                v.stated = [kept](double hz) { return kept->bandEdgeResponse(hz); };
        }
    }
    return data;
}

} // namespace audimera
