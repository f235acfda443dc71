#include "engine/PlotRange.h"

#include "engine/PlotSettings.h"

#include <algorithm>
#include <cmath>

namespace audimera::PlotRange {

double topDb(const PlotSettings& settings)
{
    return settings.dbCentre + settings.dbSpan / 2.0;
}

double bottomDb(const PlotSettings& settings)
{
    return settings.dbCentre - settings.dbSpan / 2.0;
}

namespace {

// Lowest and highest finite level (dB) of a trace as drawn (its offset
// added); false without any, or when the plot hides it.
bool levelRange(const TraceStore& store, int trace, const PlotSettings& settings, double& low, double& high)
{
    const auto t = static_cast<std::size_t>(trace);
    if (t >= settings.traceShown.size() || !settings.traceShown[t])
        return false;
    bool any = false;
    const double* y = store.traceY(trace);
    for (int i = 0; i < store.pointCount(trace); ++i) {
        const double level = y[i] / 100 + settings.traceOffsetDb[t];
        if (!std::isfinite(level))
            continue;
        low = any ? std::min(low, level) : level;
        high = any ? std::max(high, level) : level;
        any = true;
    }
    return any;
}

} // namespace

double outsideBy(const TraceStore& store, int trace, const PlotSettings& settings)
{
    double low = 0, high = 0;
    if (trace < 0 || trace >= store.GetTraceCount() || settings.dbSpan <= 0 || !levelRange(store, trace, settings, low, high))
        return 0;
    if (low > topDb(settings))
        return low - topDb(settings);
    if (high < bottomDb(settings))
        return high - bottomDb(settings);
    return 0;
}

std::string outsideNote(const std::string& name, double by)
{
    if (by == 0)
        return {};
    const double gap = std::abs(by);
    const std::string far = gap < 1 ? "less than 1 dB" : std::to_string(std::lround(gap)) + " dB";
    return "Trace '" + name + "' lies " + far + (by > 0 ? " above" : " below") + " the plot";
}

PlotSettings fitted(const TraceStore& store, PlotSettings settings)
{
    double low = 0, high = 0;
    bool any = false;
    for (int t = 0; t < store.GetTraceCount(); ++t) {
        double l = 0, h = 0;
        if (!levelRange(store, t, settings, l, h))
            continue;
        low = any ? std::min(low, l) : l;
        high = any ? std::max(high, h) : h;
        any = true;
    }
    if (!any)
        return settings;
    const int mid = static_cast<int>(6 * std::lround((low + high) / 12));
    for (const int centre : {0, mid}) {
        for (const auto& item : PlotSettings::DBRangeItems) {
            if (low >= centre - item.data / 2.0 && high <= centre + item.data / 2.0) {
                settings.dbSpan = item.data;
                settings.dbCentre = centre;
                return settings;
            }
        }
    }
    settings.dbSpan = PlotSettings::DBRangeItems.back().data;
    settings.dbCentre = mid;
    return settings;
}

} // namespace audimera::PlotRange
