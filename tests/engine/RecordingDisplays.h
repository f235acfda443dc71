// Plot windows that record what the measurement logic asks of them: the
// response plot's redraws, and the waveform and FFT calls.
#pragma once

#include "engine/Displays.h"

#include <vector>

namespace audimera {

class RecordingDisplays : public Displays {
public:
    struct Curve {
        int width, height, first, offset;
        bool bad;
    };

    void TraceResponse() override { ++redraws; }
    void DrawCurve(int OsciWidth, int OsciHeight, const int16_t*, int First, bool CheckSat, int Off) override
    {
        curves.push_back(Curve{OsciWidth, OsciHeight, First, Off, CheckSat});
    }
    void TraceFFT(const int16_t*, float*, bool Satured) override { ffts.push_back(Satured); }

    int redraws = 0;
    std::vector<Curve> curves;
    std::vector<bool> ffts;
};

} // namespace audimera
