// Plot windows that record what a run draws: a trace store of up to 8
// traces, and the waveform and FFT calls.
#pragma once

#include "Displays.h"

#include <utility>
#include <vector>

class RecordingDisplays : public Displays {
public:
    struct Curve {
        int width, height, first, offset;
        bool bad;
    };

    bool AddTrace() override
    {
        if (traces.size() >= 8) {
            ++refusedTraces;
            return false;
        }
        traces.emplace_back();
        return true;
    }
    void AddPoint(double frequency, double dB) override
    {
        if (!traces.empty() && traces.back().size() < 22051)
            traces.back().emplace_back(frequency, dB);
    }
    void TraceResponse() override { ++redraws; }
    int GetTraceCount() const override { return static_cast<int>(traces.size()); }
    void ClearAllTraces() override { traces.clear(); }
    int GetLastTraceData(std::vector<double>& Tx, std::vector<double>& Ty) const override
    {
        Tx.clear();
        Ty.clear();
        if (traces.empty())
            return 0;
        for (const auto& p : traces.back()) {
            Tx.push_back(p.first);
            Ty.push_back(p.second * 100);
        }
        return static_cast<int>(Tx.size());
    }
    void DrawCurve(int OsciWidth, int OsciHeight, const int16_t*, int First, bool CheckSat, int Off) override
    {
        curves.push_back(Curve{OsciWidth, OsciHeight, First, Off, CheckSat});
    }
    void TraceFFT(const int16_t*, float*, bool Satured) override { ffts.push_back(Satured); }

    std::vector<double> frequencies(size_t trace = 0) const
    {
        std::vector<double> f;
        if (trace < traces.size())
            for (const auto& p : traces[trace])
                f.push_back(p.first);
        return f;
    }

    std::vector<std::vector<std::pair<double, double>>> traces;
    int refusedTraces = 0;
    int redraws = 0;
    std::vector<Curve> curves;
    std::vector<bool> ffts;
};
