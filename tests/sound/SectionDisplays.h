// Displays for the sound tests' sweeps that draw nothing and hand each
// measured tone's analysed section to the test (the calibration's noise
// passes are left out).
#pragma once

#include "engine/BlockAnalysis.h"
#include "engine/Displays.h"
#include "engine/MeasurementEngine.h"

#include <cstdint>

namespace audimera::pulsetest {

class SectionDisplays : public Displays {
public:
    // engine is set by the test once the engine exists.
    explicit SectionDisplays(const MeasurementEngine*& engine) : m_engine(engine) {}
    void TraceResponse() override {}
    void DrawCurve(int, int, const int16_t*, int, bool, int) override {}
    void TraceFFT(const int16_t* section, float*, bool) final
    {
        const MeasurementEngine& e = *m_engine;
        if (e.Calib != 0)
            measured(e, section, BlockAnalysis::SectionEnd - e.SampleStart + 1);
    }

protected:
    // The section of e's current tone: samples of it, from e.SampleStart.
    virtual void measured(const MeasurementEngine& e, const int16_t* section, int samples) = 0;

private:
    const MeasurementEngine*& m_engine;
};

} // namespace audimera::pulsetest
