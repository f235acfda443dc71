#include "signal/RealFft.h"

#include <fftw3.h>

#include <mutex>
#include <new>

namespace audimera {

std::mutex& fftwPlannerLock()
{
    static std::mutex lock;
    return lock;
}

RealFft::RealFft(std::size_t n) : m_size(n < 2 ? 2 : n)
{
    m_time = fftw_alloc_real(m_size);
    m_spectrum = reinterpret_cast<std::complex<double>*>(fftw_alloc_complex(bins()));
    if (!m_time || !m_spectrum) {
        fftw_free(m_time);
        fftw_free(m_spectrum);
        throw std::bad_alloc();
    }
    auto* spectrum = reinterpret_cast<fftw_complex*>(m_spectrum);
    const int size = static_cast<int>(m_size);
    std::lock_guard<std::mutex> guard(fftwPlannerLock());
    m_forward = fftw_plan_dft_r2c_1d(size, m_time, spectrum, FFTW_ESTIMATE);
    m_inverse = fftw_plan_dft_c2r_1d(size, spectrum, m_time, FFTW_ESTIMATE);
}

RealFft::~RealFft()
{
    {
        std::lock_guard<std::mutex> guard(fftwPlannerLock());
        fftw_destroy_plan(static_cast<fftw_plan>(m_forward));
        fftw_destroy_plan(static_cast<fftw_plan>(m_inverse));
    }
    fftw_free(m_time);
    fftw_free(m_spectrum);
}

void RealFft::forward()
{
    fftw_execute(static_cast<fftw_plan>(m_forward));
}

void RealFft::inverse()
{
    fftw_execute(static_cast<fftw_plan>(m_inverse));
    const double scale = 1.0 / static_cast<double>(m_size);
    for (std::size_t i = 0; i < m_size; ++i)
        m_time[i] *= scale;
}

std::size_t RealFft::goodLength(std::size_t n)
{
    if (n < 2)
        return 2;
    for (std::size_t m = n;; ++m) {
        std::size_t rest = m;
        for (std::size_t p : {2, 3, 5, 7})
            while (rest % p == 0)
                rest /= p;
        if (rest == 1)
            return m;
    }
}

} // namespace audimera
