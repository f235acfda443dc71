// Single-sample recursive low-pass filters with library-wide state.
#include "dsp/Audidsp.h"

namespace {

constexpr int MaxOrder = 1;

// One filter section: order N (feedback), numerator order M, feedback
// coefficients A[0..N-1], feed-forward B[0..M], state z[0..N] (z[0] oldest).
struct Section {
    int n;
    int m;
    double a[MaxOrder];
    double b[MaxOrder + 1];
    double z[MaxOrder + 1];
};

struct Filter {
    double gain;
    double resetScale;
    int sectionCount;
    Section sections[1];
};

// Coefficients of a first-order bilinear low-pass with a 20 Hz corner at the
// named rate, rounded to four significant digits. The state starts at zero.
Filter g_lowPass44 = {0.001423, 0.5, 1, {{1, 1, {-0.9972}, {1.0, 0.0}, {0.0, 0.0}}}};
Filter g_lowPass48 = {0.001307, 0.5, 1, {{1, 1, {-0.9974}, {1.0, 0.0}, {0.0, 0.0}}}};

// The general section routine: one input sample through every section.
double runSections(Filter& f, double x)
{
    double in = f.gain * x;
    for (int s = 0; s < f.sectionCount; ++s) {
        Section& sec = f.sections[s];
        double sumA = 0.0;
        double sumB = 0.0;
        for (int j = 0; j < sec.n; ++j) {
            sec.z[j] = sec.z[j + 1];
            sumA += sec.z[j] * sec.a[j];
            if (j <= sec.m)
                sumB += sec.z[j] * sec.b[j];
        }
        sec.z[sec.n] = in - sumA;
        if (sec.m == sec.n)
            sumB += sec.z[sec.n];
        in = sumB;
    }
    return in;
}

double step(Filter& f, double x, double init, int32_t reset)
{
    if (reset == 1) {
        // Settle the filter so that its next outputs continue from init.
        Section& sec = f.sections[0];
        sec.z[0] = sec.z[1] = f.resetScale * init;
        return init;
    }
    return runSections(f, x);
}

} // namespace

extern "C" {

double AUDIDSP_CALL LowPass48(double x, double init, int32_t reset)
{
    return step(g_lowPass48, x, init, reset);
}

double AUDIDSP_CALL LowPass44(double x, double init, int32_t reset)
{
    return step(g_lowPass44, x, init, reset);
}

} // extern "C"
