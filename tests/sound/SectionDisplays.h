// Displays for the sound tests' sweeps that draw nothing and hand each
// measured tone's analysed section to the test (the calibration's noise
// passes are left out), and the rig of a stepped 31-band sweep through them.
#pragma once

#include "tests/sound/PulseTestSupport.h"

#include "dsp/DspLibrary.h"
#include "engine/BlockAnalysis.h"
#include "engine/Displays.h"
#include "ui/presenter/MainPresenter.h"
#include "ui/presenter/PanelTable.h"

#include <cstdint>

namespace audimera::pulsetest {

class SectionDisplays : public Displays {
public:
    // engine is set by the test once the engine exists.
    explicit SectionDisplays(const MainPresenter*& engine) : m_engine(engine) {}
    void TraceResponse() override {}
    void DrawCurve(int, int, const int16_t*, int, bool, int) override {}
    void TraceFFT(const int16_t* section, float*, bool) final
    {
        const MainPresenter& e = *m_engine;
        if (e.Calib != 0)
            measured(e, section, BlockAnalysis::SectionEnd - e.SampleStart + 1);
    }

protected:
    // The section of e's current tone: samples of it, from e.SampleStart.
    virtual void measured(const MainPresenter& e, const int16_t* section, int samples) = 0;

private:
    const MainPresenter*& m_engine;
};

// The program's sweep on device, set for the 31 ISO bands with the input
// check off, watched by Watch (a SectionDisplays): what cmdStart_Click()
// then measures lands in document, the messages in host.
template <typename Watch>
struct SweepRig {
    explicit SweepRig(SoundDevice& device, bool realTime = true)
        : host(realTime), displays(enginePointer), engine(panel, host, device, displays, document)
    {
        enginePointer = &engine;
        Audidsp::LowPass44(0, 0, 1);
        engine.InitWhitePinkBuffers();
        panel["CheckInput"].value = 0;
        panel.select("OptionAutoSigGen", MainPresenter::PlanIso31, 4);
    }
    PanelTable panel;
    SweepHost host;
    const MainPresenter* enginePointer = nullptr;
    Watch displays;
    MeasurementDocument document;
    MainPresenter engine;
};

} // namespace audimera::pulsetest
