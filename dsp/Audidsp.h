/*
 * Audidsp: numeric routines shared by Audimera and other callers.
 *
 * Plain C interface. Every export has an undecorated name; the declarations
 * below keep the library's export order (1 PackVolume ... 6 LowPass44).
 * Callers usually bind these by name at run time (see DspLibrary.h); the
 * AUDIDSP_PFN_* pointer types are the signatures to bind them with.
 */
#ifndef AUDIDSP_H
#define AUDIDSP_H

#include <stdint.h>

/* On 32-bit x86 the callee removes its arguments (stdcall); elsewhere the
 * default C convention applies. */
#if defined(__i386__) || defined(_M_IX86)
#  if defined(_MSC_VER)
#    define AUDIDSP_CALL __stdcall
#  else
#    define AUDIDSP_CALL __attribute__((stdcall))
#  endif
#else
#  define AUDIDSP_CALL
#endif

#if defined(AUDIDSP_BUILDING)
#  define AUDIDSP_API __attribute__((visibility("default")))
#else
#  define AUDIDSP_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* 1. Packs the low 16 bits of Left (bits 0-15) and of Right (bits 16-31) into
 *    one word. Higher bits of both arguments are dropped. */
AUDIDSP_API int32_t AUDIDSP_CALL PackVolume(int32_t Left, int32_t Right);

/* 2. The left value of a packed word: its low 16 bits, 0..65535. */
AUDIDSP_API int32_t AUDIDSP_CALL UnpackLeftVolume(int32_t Packed);

/* 3. The right value of a packed word: its bits 16-31, 0..65535. */
AUDIDSP_API int32_t AUDIDSP_CALL UnpackRightVolume(int32_t Packed);

/* 4. Resamples the nIn control points (xIn, yIn) along a clamped B-spline of
 *    the given order (clamped to 1..10) into res evenly parameterised points
 *    written to xOut and yOut; *outCount receives res. The first and last
 *    output points are the first and last control points. Requires res >= 1,
 *    nIn >= 1, and order <= nIn for a meaningful curve. If res or nIn is
 *    below 1, or working memory cannot be had, the arrays are left alone
 *    and *outCount receives 0. Reentrant. */
AUDIDSP_API void AUDIDSP_CALL GetBSpline(int32_t res, const double* xIn, const double* yIn,
                                         int32_t nIn, double* xOut, double* yOut,
                                         int32_t* outCount, int32_t order);

/* 5. First-order low-pass (20 Hz corner at 48000 Hz), one sample per call.
 *    reset == 1 settles the filter at output init and returns init. The state
 *    is process-wide: one stream at a time, one thread at a time. */
AUDIDSP_API double AUDIDSP_CALL LowPass48(double x, double init, int32_t reset);

/* 6. As LowPass48, for 44100 Hz, with a state of its own. */
AUDIDSP_API double AUDIDSP_CALL LowPass44(double x, double init, int32_t reset);

typedef int32_t(AUDIDSP_CALL* AUDIDSP_PFN_PackVolume)(int32_t, int32_t);
typedef int32_t(AUDIDSP_CALL* AUDIDSP_PFN_UnpackLeftVolume)(int32_t);
typedef int32_t(AUDIDSP_CALL* AUDIDSP_PFN_UnpackRightVolume)(int32_t);
typedef void(AUDIDSP_CALL* AUDIDSP_PFN_GetBSpline)(int32_t, const double*, const double*, int32_t,
                                                   double*, double*, int32_t*, int32_t);
typedef double(AUDIDSP_CALL* AUDIDSP_PFN_LowPass48)(double, double, int32_t);
typedef double(AUDIDSP_CALL* AUDIDSP_PFN_LowPass44)(double, double, int32_t);

#ifdef __cplusplus
}
#endif

#endif /* AUDIDSP_H */
