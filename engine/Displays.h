// The drawing operations a measurement calls: the response plot's trace
// store, the input waveform window and the FFT window. UI thread only.
#pragma once

#include <cstdint>
#include <vector>

class Displays {
public:
    virtual ~Displays() = default;

    // Response plot. AddTrace opens a new empty trace and returns true, or
    // tells the user that no more traces fit and returns false.
    virtual bool AddTrace() = 0;
    virtual void AddPoint(double frequency, double dB) = 0;
    virtual void TraceResponse() = 0;
    virtual int GetTraceCount() const = 0;
    // Empties the plot (the window redraws on the next TraceResponse).
    virtual void ClearAllTraces() {}
    // The newest trace: frequencies in Hz as measured or loaded, levels in
    // hundredths of a dB. Returns its point count (0 without a trace).
    virtual int GetLastTraceData(std::vector<double>& Tx, std::vector<double>& Ty) const
    {
        (void)Tx;
        (void)Ty;
        return 0;
    }

    // Input waveform window: OsciWidth samples of RecBuffer from First,
    // OsciHeight the vertical scale, Off the offset removed, CheckSat draws
    // the block as bad.
    virtual void DrawCurve(int OsciWidth, int OsciHeight, const int16_t* RecBuffer, int First,
                           bool CheckSat, int Off) = 0;

    // FFT window: FFTIn holds the analysed section from index 0, FFTOUT is
    // the zeroed work array of the same length.
    virtual void TraceFFT(const int16_t* FFTIn, float* FFTOUT, bool Satured) = 0;
};
