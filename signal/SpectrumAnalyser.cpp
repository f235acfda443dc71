#include "signal/SpectrumAnalyser.h"

namespace audimera {

// Placeholder until the analyser is built.
struct SpectrumAnalyser::Impl {
    SpectrumSettings settings;
    int rate = 0;
};

Status SpectrumAnalyser::check(const SpectrumSettings&, int) { return Error::of(Failure::Other, "not built yet"); }
double SpectrumAnalyser::noiseBandwidth(AnalyserWindow, int) { return 1.0; }
SpectrumAnalyser::SpectrumAnalyser(const SpectrumSettings& settings, int rate) : m(new Impl{settings, rate}) {}
SpectrumAnalyser::~SpectrumAnalyser() = default;
const SpectrumSettings& SpectrumAnalyser::settings() const { return m->settings; }
int SpectrumAnalyser::rate() const { return m->rate; }
void SpectrumAnalyser::setCorrection(const std::function<double(double)>&) {}
std::size_t SpectrumAnalyser::push(const float*, std::size_t) { return 0; }
void SpectrumAnalyser::reset() {}
void SpectrumAnalyser::resetPeak() {}
SpectrumFrame SpectrumAnalyser::frame() const { return {}; }

} // namespace audimera
