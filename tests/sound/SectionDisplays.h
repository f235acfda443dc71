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
    explicit SectionDisplays(const MeasurementSession& session) : m_session(session) {}
    void TraceResponse() override {}
    // The waveform of each block comes first: it says where the section starts.
    void DrawCurve(int, int, const int16_t*, int First, bool, int) final { m_start = First; }
    void TraceFFT(const int16_t* section, float*, bool) final
    {
        if (m_session.calibrated())
            measured(m_session.frequency(), m_start, section, BlockAnalysis::SectionEnd - m_start + 1);
    }

protected:
    // The section of the tone at frequency (Hz): samples of it, from sample
    // `start` of the recorded block.
    virtual void measured(double frequency, int start, const int16_t* section, int samples) = 0;

private:
    const MeasurementSession& m_session;
    int m_start = 0;
};

// The program's sweep on device, set for the 31 ISO bands with the input
// window's box on (its block start marks the section), watched by Watch (a
// SectionDisplays): what cmdStart_Click() then measures lands in document,
// the messages in host.
template <typename Watch>
struct SweepRig {
    explicit SweepRig(SoundDevice& device, bool realTime = true)
        : host(realTime), session(host, device, document), displays(session), engine(panel, session, displays)
    {
        Audidsp::LowPass44(0, 0, 1);
        session.initialiseTables();
        panel["CheckInput"].value = 1;
        panel.select("OptionAutoSigGen", MainPresenter::PlanIso31, 4);
    }
    PanelTable panel;
    SweepHost host;
    MeasurementDocument document;
    MeasurementSession session;
    Watch displays;
    MainPresenter engine;
};

} // namespace audimera::pulsetest
