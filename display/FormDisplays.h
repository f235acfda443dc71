// The engine's display operations routed to the three plot windows.
#pragma once

#include "Displays.h"

class FormFFT;
class FormInputWave;
class FormResponse;

class FormDisplays : public Displays {
public:
    FormDisplays(FormResponse& response, FormInputWave& inputWave, FormFFT& fft);

    bool AddTrace() override;
    void AddPoint(double frequency, double dB) override;
    void TraceResponse() override;
    int GetTraceCount() const override;
    void ClearAllTraces() override;
    int GetLastTraceData(std::vector<double>& Tx, std::vector<double>& Ty) const override;
    void DrawCurve(int OsciWidth, int OsciHeight, const int16_t* RecBuffer, int First, bool CheckSat,
                   int Off) override;
    void TraceFFT(const int16_t* FFTIn, float* FFTOUT, bool Satured) override;

private:
    FormResponse& m_response;
    FormInputWave& m_inputWave;
    FormFFT& m_fft;
};
