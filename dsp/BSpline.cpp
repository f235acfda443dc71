// Resampling of a polyline along a clamped (open uniform) B-spline.
//
// The curve point at parameter v is the sum over the control points of
// weight(k) * point(k), the weights being the Cox-de Boor basis functions
// on integer knots. Only the t basis functions whose support holds v can be
// non-zero, so a point is evaluated from that triangle of t*(t+1)/2 values
// instead of summing the full recursion over every control point. Each value
// in the triangle is formed as the recursion forms it, except that dividing
// by a knot difference (an integer from 1 to 9) is a multiplication by its
// reciprocal: the result is the plain summation's up to rounding in the last
// bits, at a fraction of the cost.
#include "dsp/Audidsp.h"

#include <cmath>
#include <cstdlib>
#include <new>

namespace {

constexpr int MaxSplineOrder = 10;

struct Point {
    double x;
    double y;
};

// Knots: 0 (t times), then 1, 2, ..., then n - t + 2 (t times).
void MakeKnotVector(int* u, int n, int t)
{
    for (int j = 0; j <= n + t; ++j) {
        if (j < t)
            u[j] = 0;
        else if (j <= n)
            u[j] = j - t + 1;
        else
            u[j] = n - t + 2;
    }
}

// The Cox-de Boor recursion with 0/0 taken as 0. Used as it stands only for
// knot vectors too short for the fast path (order above the point count).
double BasisWeight(int k, int t, const int* u, double v)
{
    if (t == 1)
        return (u[k] <= v && v < u[k + 1]) ? 1.0 : 0.0;
    const int a = u[k + t - 1] - u[k];
    const int b = u[k + t] - u[k + 1];
    if (a == 0 && b == 0)
        return 0.0;
    if (a == 0)
        return (u[k + t] - v) / b * BasisWeight(k + 1, t - 1, u, v);
    if (b == 0)
        return (v - u[k]) / a * BasisWeight(k, t - 1, u, v);
    const double left = (v - u[k]) / a * BasisWeight(k, t - 1, u, v);
    return left + (u[k + t] - v) / b * BasisWeight(k + 1, t - 1, u, v);
}

Point plainPointAt(const int* u, int n, int t, double v, const Point* points)
{
    Point p{0.0, 0.0};
    for (int k = 0; k <= n; ++k) {
        const double w = BasisWeight(k, t, u, v);
        p.x += w * points[k].x;
        p.y += w * points[k].y;
    }
    return p;
}

// The basis of order T on a stretch of unit-spaced knots, at fraction f of
// the knot interval: w[i] is the weight of control point s - T + 1 + i. The
// same recursion as below with every knot difference equal to r - 1, so
// without branches; most of a long curve lies in such stretches.
template <int T>
Point uniformPointAt(double f, const Point* points)
{
    double w[T];
    w[0] = 1.0;
#pragma GCC unroll 10
    for (int r = 2; r <= T; ++r) {
        const double inverse = 1.0 / (r - 1);
        double previous = 0.0; // the lower-order weight left of the triangle
#pragma GCC unroll 10
        for (int i = 0; i < r; ++i) {
            const double current = i < r - 1 ? w[i] : 0.0;
            w[i] = ((f + (r - 1 - i)) * previous + ((i + 1) - f) * current) * inverse;
            previous = current;
        }
    }
    Point p{0.0, 0.0};
#pragma GCC unroll 10
    for (int i = 0; i < T; ++i) {
        p.x += w[i] * points[i].x;
        p.y += w[i] * points[i].y;
    }
    return p;
}

using UniformPointAt = Point (*)(double, const Point*);
constexpr UniformPointAt uniformPointAtOrder[MaxSplineOrder + 1] = {
    nullptr,           uniformPointAt<1>, uniformPointAt<2>, uniformPointAt<3>, uniformPointAt<4>,
    uniformPointAt<5>, uniformPointAt<6>, uniformPointAt<7>, uniformPointAt<8>, uniformPointAt<9>,
    uniformPointAt<10>};

// The curve point at v. Requires t <= n + 1, so that the knots are
// non-decreasing and knot j equals j - t + 1 for t - 1 <= j <= n + 1.
Point SplinePointAt(const int* u, int n, int t, double v, const Point* points)
{
    const int last = n - t + 2; // the largest knot
    if (!(v >= 0.0 && v < last))
        return Point{0.0, 0.0}; // outside every knot interval all weights are 0

    // The knot interval [u[s], u[s+1]) that holds v.
    int s = t - 1 + static_cast<int>(std::floor(v));
    if (s > n)
        s = n;

    // Knots u[s-t+1 .. s+t] all unit-spaced: the branch-free basis.
    if (s - t + 1 >= t - 1 && s + t <= n + 1)
        return uniformPointAtOrder[t](v - (s - t + 1), points + (s - t + 1)); // u[s] = s - t + 1 here

    // Knot differences are whole numbers below the order.
    static constexpr double reciprocal[MaxSplineOrder + 1] = {0,         1,         1.0 / 2, 1.0 / 3,
                                                              1.0 / 4,   1.0 / 5,   1.0 / 6, 1.0 / 7,
                                                              1.0 / 8,   1.0 / 9,   1.0 / 10};

    // w[i] holds the order-r weight of control point s - r + 1 + i, i < r;
    // weights of lower-order functions outside the triangle are 0.
    double w[MaxSplineOrder + 1];
    w[0] = 1.0;
    for (int r = 2; r <= t; ++r) {
        const int first = s - r + 1;
        double next[MaxSplineOrder + 1];
        for (int i = 0; i < r; ++i) {
            const int k = first + i;
            // Lower-order weights of k and k + 1: indices i - 1 and i in w.
            const double lowK = (i >= 1) ? w[i - 1] : 0.0;
            const double lowK1 = (i <= r - 2) ? w[i] : 0.0;
            const int a = u[k + r - 1] - u[k];
            const int b = u[k + r] - u[k + 1];
            double value;
            if (a == 0 && b == 0)
                value = 0.0;
            else if (a == 0)
                value = (u[k + r] - v) * reciprocal[b] * lowK1;
            else if (b == 0)
                value = (v - u[k]) * reciprocal[a] * lowK;
            else {
                const double left = (v - u[k]) * reciprocal[a] * lowK;
                value = left + (u[k + r] - v) * reciprocal[b] * lowK1;
            }
            next[i] = value;
        }
        for (int i = 0; i < r; ++i)
            w[i] = next[i];
    }

    Point p{0.0, 0.0};
    const int first = s - t + 1;
    for (int i = 0; i < t; ++i) {
        p.x += w[i] * points[first + i].x;
        p.y += w[i] * points[first + i].y;
    }
    return p;
}

// Writes res curve points into xOut/yOut: res - 1 evaluated at evenly
// accumulated parameter values, then a copy of the last control point.
bool SampleSpline(int n, int t, const Point* points, double* xOut, double* yOut, int res)
{
    int* u = static_cast<int*>(std::malloc(sizeof(int) * (static_cast<size_t>(n) + t + 1)));
    if (!u)
        return false;
    MakeKnotVector(u, n, t);

    const bool fast = t <= n + 1;
    double stepSize = 0.0;
    if (res > 1)
        stepSize = static_cast<double>(n - t + 2) / static_cast<double>(res - 1);
    double v = 0.0;
    for (int i = 0; i <= res - 2; ++i) {
        const Point p = fast ? SplinePointAt(u, n, t, v, points) : plainPointAt(u, n, t, v, points);
        xOut[i] = p.x;
        yOut[i] = p.y;
        v += stepSize; // accumulated, not i * step
    }
    xOut[res - 1] = points[n].x;
    yOut[res - 1] = points[n].y;
    std::free(u);
    return true;
}

#if defined(__x86_64__) || defined(__i386__)
// Code that used 256- or 512-bit vector registers and returned without
// clearing their upper halves (as some of the graphics library's fill
// routines do) makes every following SSE instruction wait on those halves:
// the curve then takes four times as long. Clearing them costs nothing.
__attribute__((target("avx"))) void clearUpperVectorHalves()
{
    __builtin_ia32_vzeroupper();
}

// Asked at every call: the answer is one load from libgcc's processor
// model, filled in when the library is loaded. Keeping it in a local static
// would need a guarded initialisation, which lives in the C++ runtime.
void leaveWideVectorState()
{
    if (__builtin_cpu_supports("avx"))
        clearUpperVectorHalves();
}
#else
void leaveWideVectorState() {}
#endif

} // namespace

extern "C" void AUDIDSP_CALL GetBSpline(int32_t res, const double* xIn, const double* yIn, int32_t nIn,
                                        double* xOut, double* yOut, int32_t* outCount, int32_t order)
{
    // No curve points asked for, or no control points to take them from:
    // the last output point would land before xOut or come from before xIn.
    if (res < 1 || nIn < 1) {
        *outCount = 0;
        return;
    }
    leaveWideVectorState();
    const int t = order < 1 ? 1 : (order > MaxSplineOrder ? MaxSplineOrder : order);
    const int n = nIn - 1;

    // The curve goes straight into the caller's arrays; only the control
    // points and the knots need working memory. Nothing is written before
    // both are had.
    Point* points = static_cast<Point*>(std::malloc(sizeof(Point) * static_cast<size_t>(nIn)));
    if (!points) {
        *outCount = 0;
        return;
    }
    for (int k = 0; k <= n; ++k)
        points[k] = Point{xIn[k], yIn[k]};

    const bool sampled = SampleSpline(n, t, points, xOut, yOut, res);
    std::free(points);
    *outCount = sampled ? res : 0;
}
