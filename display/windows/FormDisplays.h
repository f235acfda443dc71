// The plot windows as the measurement logic's Displays: the response plot
// redrawn from the document, the waveform and the spectrum of a block.
#pragma once

#include "engine/Displays.h"

namespace audimera {

class FormFFT;
class FormInputWave;
class FormResponse;

class FormDisplays : public Displays {
public:
    FormDisplays(FormResponse& response, FormInputWave& inputWave, FormFFT& fft);

    void TraceResponse() override;
    void DrawCurve(int OsciWidth, int OsciHeight, const int16_t* RecBuffer, int First, bool CheckSat,
                   int Off) override;
    void TraceFFT(const int16_t* FFTIn, float* FFTOUT, bool Satured) override;

private:
    FormResponse& m_response;
    FormInputWave& m_inputWave;
    FormFFT& m_fft;
};

} // namespace audimera
