#include "engine/EqDesign.h"

namespace audimera {

// Placeholders until the fit lands.
double EqTarget::shapeAt(double) const { return 0; }
Status loadHouseCurve(const std::string&, EqTarget&) { return Error::of(Failure::BadInput, "not built yet"); }
Result<EqFit> fitEq(const std::vector<CurvePoint>&, const EqTarget&, const EqFitSettings&)
{
    return Error::of(Failure::BadInput, "not built yet");
}
double targetLevelAt(const EqTarget&, double placedLevelDb, double) { return placedLevelDb; }
std::vector<CurvePoint> predictedResponse(const std::vector<CurvePoint>& response, const std::vector<EqFilter>& filters,
                                          double rate)
{
    std::vector<CurvePoint> out = response;
    for (CurvePoint& p : out)
        p.level += eqGainDb(filters, p.frequency, rate);
    return out;
}

} // namespace audimera
