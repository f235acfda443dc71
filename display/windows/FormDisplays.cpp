#include "display/windows/FormDisplays.h"

#include "display/windows/FormFFT.h"
#include "display/windows/FormInputWave.h"
#include "display/windows/FormResponse.h"

namespace audimera {

FormDisplays::FormDisplays(FormResponse& response, FormInputWave& inputWave, FormFFT& fft)
    : m_response(response), m_inputWave(inputWave), m_fft(fft)
{
}

void FormDisplays::TraceResponse()
{
    m_response.TraceResponse();
}

void FormDisplays::DrawCurve(int OsciWidth, int OsciHeight, const int16_t* RecBuffer, int First, bool CheckSat,
                             int Off)
{
    m_inputWave.DrawCurve(OsciWidth, OsciHeight, RecBuffer, First, CheckSat, Off);
}

void FormDisplays::TraceFFT(const int16_t* FFTIn, float* FFTOUT, bool Satured)
{
    m_fft.TraceFFT(FFTIn, FFTOUT, Satured);
}

} // namespace audimera
