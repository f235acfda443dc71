#include "signal/SoundLevelMeter.h"

namespace audimera {

// Placeholder until the meter is built.
struct SoundLevelMeter::Impl {
    FrequencyWeighting frequency;
    TimeWeighting time;
    double offset = 0;
};

double SoundLevelMeter::weightingDb(FrequencyWeighting, double) { return 0; }
double SoundLevelMeter::timeConstant(TimeWeighting w) { return w == TimeWeighting::Fast ? 0.125 : 1.0; }
SoundLevelMeter::SoundLevelMeter(int, FrequencyWeighting f, TimeWeighting t) : m(new Impl{f, t}) {}
SoundLevelMeter::~SoundLevelMeter() = default;
double SoundLevelMeter::filterDb(double) const { return 0; }
void SoundLevelMeter::setOffset(double offsetDb) { m->offset = offsetDb; }
double SoundLevelMeter::offset() const { return m->offset; }
void SoundLevelMeter::setWeighting(FrequencyWeighting f, TimeWeighting t) { m->frequency = f, m->time = t; }
FrequencyWeighting SoundLevelMeter::frequencyWeighting() const { return m->frequency; }
TimeWeighting SoundLevelMeter::timeWeighting() const { return m->time; }
void SoundLevelMeter::push(const float*, std::size_t) {}
void SoundLevelMeter::reset() {}
SoundLevelReading SoundLevelMeter::reading() const { return {}; }

} // namespace audimera
