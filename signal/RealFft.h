// A real discrete Fourier transform of one length on FFTW3, double
// precision: forward (n reals -> n / 2 + 1 complex bins) and inverse (bins
// -> n reals, scaled by 1 / n so inverse(forward(x)) == x).
//
// The plans are made once, when the object is created, on buffers the object
// owns (FFTW_ESTIMATE: planning costs microseconds and never times the
// machine), and reused by every transform. FFTW's planner is not
// thread-safe, so every plan is made and destroyed under one process-wide
// lock; executing does not take it.
//
// Threads: one object is used by one thread at a time; different objects
// may run at once on different threads.
#pragma once

#include <complex>
#include <cstddef>
#include <mutex>

namespace audimera {

// FFTW's planner is not thread-safe: whoever makes or destroys a plan holds
// this lock.
std::mutex& fftwPlannerLock();

class RealFft {
public:
    // n >= 2. FFTW is fastest for lengths with small prime factors (see
    // goodLength()).
    explicit RealFft(std::size_t n);
    ~RealFft();
    RealFft(const RealFft&) = delete;
    RealFft& operator=(const RealFft&) = delete;

    std::size_t size() const { return m_size; }
    std::size_t bins() const { return m_size / 2 + 1; }

    // The transform's own buffers: fill time() then forward() leaves the
    // spectrum in spectrum(); fill spectrum() then inverse() leaves the
    // signal in time(). Either transform may overwrite its input.
    double* time() { return m_time; }
    std::complex<double>* spectrum() { return m_spectrum; }

    void forward();
    void inverse(); // includes the 1 / n scale

    // The smallest length >= n whose prime factors are 2, 3, 5 and 7 only.
    static std::size_t goodLength(std::size_t n);

private:
    std::size_t m_size;
    double* m_time = nullptr;
    std::complex<double>* m_spectrum = nullptr;
    void* m_forward = nullptr; // fftw_plan
    void* m_inverse = nullptr;
};

} // namespace audimera
