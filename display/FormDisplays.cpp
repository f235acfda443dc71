#include "FormDisplays.h"

#include "FormFFT.h"
#include "FormInputWave.h"
#include "FormResponse.h"

FormDisplays::FormDisplays(FormResponse& response, FormInputWave& inputWave, FormFFT& fft)
    : m_response(response), m_inputWave(inputWave), m_fft(fft)
{
}

bool FormDisplays::AddTrace()
{
    return m_response.AddTrace();
}

void FormDisplays::AddPoint(double frequency, double dB)
{
    m_response.AddPoint(frequency, dB);
}

void FormDisplays::TraceResponse()
{
    m_response.TraceResponse();
}

int FormDisplays::GetTraceCount() const
{
    return m_response.GetTraceCount();
}

void FormDisplays::ClearAllTraces()
{
    m_response.ClearAllTraces();
}

int FormDisplays::GetLastTraceData(std::vector<double>& Tx, std::vector<double>& Ty) const
{
    return m_response.GetLastTraceData(Tx, Ty);
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
