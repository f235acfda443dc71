#include "signal/Spectrogram.h"

#include "signal/AnalysisSupport.h"
#include "signal/RealFft.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <mutex>
#include <new>

namespace audimera {

namespace {

using namespace analysis;

constexpr double Pi = 3.14159265358979323846;

constexpr double MaxOverlap = 0.99;
constexpr double MinCycles = 1;
constexpr double MaxCycles = 100;
constexpr std::size_t MaxCells = std::size_t(1) << 25;
constexpr std::size_t MaxWaveletLength = std::size_t(1) << 26;

// The wavelet's Gaussian: its sigma a sixth of the window; the frequency
// response is taken over GaussianReach sigmas either side of the centre,
// and the response is read PadSigmas time sigmas beyond the time range so
// that nothing wraps round into it.
constexpr double SigmasPerWindow = 6;
constexpr double GaussianReach = 4;
constexpr double PadSigmas = 5;

std::optional<Error> checkSettings(const SpectrogramSettings& s, int rate)
{
    if (std::optional<Error> error = checkWindow(s.windowMs, rate, "spectrogram"))
        return error;
    if (!(s.overlap >= 0 && s.overlap <= MaxOverlap))
        return badInput("The spectrogram's overlap must be 0 to 0.99");
    if (s.window == SpectrogramSettings::Window::Wavelet && !(s.cycles >= MinCycles && s.cycles <= MaxCycles))
        return badInput("The wavelet needs 1 to 100 cycles per window");
    if (std::optional<Error> error = checkTimeRange(s.startMs, s.endMs, "spectrogram"))
        return error;
    if (!(s.endMs >= s.startMs))
        return badInput("The spectrogram's time range ends before it starts");
    return checkLevelsAndFrequencies(s.rangeDb, s.pointsPerOctave, s.lowHz, s.highHz, rate, "spectrogram");
}

// The columns and rows both kinds of window fill.
struct Grid {
    std::vector<double> rows;
    std::size_t columns = 0;
    long long hop = 1;          // samples between columns
    long long firstCentre = 0;  // the first column's centre, samples from samples[0]
};

// The image's levels in dB, column by column, before they are taken re the
// highest.
using Levels = std::vector<float>;

// Fills levels from the Gaussian or Hann window's spectra; false when
// cancelled.
bool shortTime(const ImpulseView& impulse, const SpectrogramSettings& settings, const Grid& grid,
               std::size_t length, Levels& levels, ProgressGate& gate, double& binHz)
{
    const bool gaussian = settings.window == SpectrogramSettings::Window::Gaussian;
    std::vector<double> window(length);
    const double middle = 0.5 * static_cast<double>(length - 1);
    const double sigma = static_cast<double>(length) / SigmasPerWindow;
    for (std::size_t n = 0; n < length; ++n) {
        const double x = static_cast<double>(n);
        if (gaussian) {
            const double u = (x - middle) / sigma;
            window[n] = std::exp(-0.5 * u * u);
        } else {
            const double s = std::sin(Pi * (x + 0.5) / static_cast<double>(length));
            window[n] = s * s;
        }
    }
    RealFft fft(RealFft::goodLength(2 * length));
    const std::size_t bins = fft.bins();
    binHz = static_cast<double>(impulse.rate) / static_cast<double>(fft.size());

    // Each row reads its band, half a row either side.
    std::vector<BandReading> readings;
    readings.reserve(grid.rows.size());
    for (const double hz : grid.rows)
        readings.push_back(bandReading(hz, binHz, bins, settings.pointsPerOctave));

    std::vector<double> power(bins);
    const long long before = static_cast<long long>(length - 1) / 2; // window start to centre
    for (std::size_t c = 0; c < grid.columns; ++c) {
        windowedPower(fft, impulse, grid.firstCentre + static_cast<long long>(c) * grid.hop - before, window, power);
        float* column = levels.data() + c * grid.rows.size();
        for (std::size_t r = 0; r < readings.size(); ++r) {
            const BandReading& reading = readings[r];
            const double value = reading.inBand
                                     ? *std::max_element(power.begin() + reading.first, power.begin() + reading.last + 1)
                                     : interpolatedPower(power, reading);
            column[r] = static_cast<float>(10 * std::log10(std::max(value, SilentPower)));
        }
        if (!gate.at(static_cast<double>(c + 1) / static_cast<double>(grid.columns)))
            return false;
    }
    return true;
}

// A complex inverse transform of one length on its own buffer.
class ComplexInverse {
public:
    explicit ComplexInverse(std::size_t n) : m_size(n)
    {
        m_data = fftw_alloc_complex(n);
        if (!m_data)
            throw std::bad_alloc();
        std::lock_guard<std::mutex> guard(fftwPlannerLock());
        m_plan = fftw_plan_dft_1d(static_cast<int>(n), m_data, m_data, FFTW_BACKWARD, FFTW_ESTIMATE);
    }
    ~ComplexInverse()
    {
        {
            std::lock_guard<std::mutex> guard(fftwPlannerLock());
            fftw_destroy_plan(m_plan);
        }
        fftw_free(m_data);
    }
    ComplexInverse(const ComplexInverse&) = delete;
    ComplexInverse& operator=(const ComplexInverse&) = delete;

    std::complex<double>* data() { return reinterpret_cast<std::complex<double>*>(m_data); }
    std::size_t size() const { return m_size; }
    void run() { fftw_execute(m_plan); }

private:
    std::size_t m_size;
    fftw_complex* m_data = nullptr;
    fftw_plan m_plan = nullptr;
};

// The wavelet's one transform: the time range with pad hops of silence
// either side, k hops, points samples.
struct WaveletSpan {
    std::size_t pad = 0;
    std::size_t k = 0;
    std::size_t points = 0;
};

WaveletSpan waveletSpan(const SpectrogramSettings& settings, const Grid& grid, int rate)
{
    WaveletSpan span;
    const double widestSigma = settings.cycles / (SigmasPerWindow * grid.rows.front()) * rate; // samples
    const double pad = std::ceil(PadSigmas * widestSigma / static_cast<double>(grid.hop));
    if (2 * pad * static_cast<double>(grid.hop) > static_cast<double>(MaxWaveletLength)) {
        span.points = MaxWaveletLength + 1; // too long
        return span;
    }
    span.pad = static_cast<std::size_t>(pad);
    span.k = RealFft::goodLength(2 * span.pad + grid.columns);
    span.points = span.k * static_cast<std::size_t>(grid.hop);
    return span;
}

// The wavelet rows: one transform of the span; per row the bins about its
// frequency weighted by the Gaussian's frequency response (peak 1, so that
// a steady sine reads the same in every row), shifted down to 0 Hz and
// folded modulo k. The k-point inverse of those is the row's analytic
// signal at every hop: exactly, since the fold only drops the points
// between the hops. False when cancelled.
bool wavelet(const ImpulseView& impulse, const SpectrogramSettings& settings, const Grid& grid,
             const WaveletSpan& span, Levels& levels, ProgressGate& gate)
{
    const double rate = impulse.rate;
    const std::size_t pad = span.pad;
    const std::size_t k = span.k;
    const std::size_t points = span.points;
    RealFft fft(points);
    ComplexInverse row(k);

    double* time = fft.time();
    const long long from = grid.firstCentre - static_cast<long long>(pad) * grid.hop;
    const auto size = static_cast<long long>(impulse.size);
    for (std::size_t n = 0; n < points; ++n) {
        const long long i = from + static_cast<long long>(n);
        time[n] = i >= 0 && i < size ? impulse.samples[i] : 0.0;
    }
    fft.forward();
    const std::complex<double>* spectrum = fft.spectrum();
    const std::size_t bins = fft.bins();
    const double binHz = rate / static_cast<double>(points);
    const double scale = 2.0 / static_cast<double>(points); // the analytic signal's amplitude
    if (!gate.at(0.1))
        return false;

    std::complex<double>* folded = row.data();
    for (std::size_t r = 0; r < grid.rows.size(); ++r) {
        const double hz = grid.rows[r];
        const double sigmaHz = SigmasPerWindow * hz / (2 * Pi * settings.cycles);
        const auto centre = static_cast<std::size_t>(std::lround(hz / binHz));
        const auto low = static_cast<std::size_t>(std::max(1.0, std::ceil((hz - GaussianReach * sigmaHz) / binHz)));
        const auto high = std::min(bins - 1, static_cast<std::size_t>((hz + GaussianReach * sigmaHz) / binHz));
        std::fill(folded, folded + k, std::complex<double>(0));
        // The weights by recurrence: w(u + d) = w(u) exp(-u d - d^2 / 2),
        // renewed now and then.
        const double d = binHz / sigmaHz;
        const double ratioStep = std::exp(-d * d);
        double weight = 0;
        double ratio = 0;
        std::size_t slot = (low + k - centre % k) % k;
        for (std::size_t b = low; b <= high; ++b) {
            if ((b - low) % 256 == 0) {
                const double u = (static_cast<double>(b) * binHz - hz) / sigmaHz;
                weight = std::exp(-0.5 * u * u);
                ratio = std::exp(-u * d - 0.5 * d * d);
            }
            folded[slot] += spectrum[b] * weight;
            weight *= ratio;
            ratio *= ratioStep;
            if (++slot == k)
                slot = 0;
        }
        row.run();
        for (std::size_t c = 0; c < grid.columns; ++c) {
            const double value = std::norm(folded[pad + c] * scale);
            levels[c * grid.rows.size() + r] = static_cast<float>(10 * std::log10(std::max(value, SilentPower)));
        }
        if (!gate.at(0.1 + 0.9 * static_cast<double>(r + 1) / static_cast<double>(grid.rows.size())))
            return false;
    }
    return true;
}

} // namespace

Result<SpectrogramResult> spectrogram(const ImpulseView& impulse, const SpectrogramSettings& settings,
                                      const AnalysisProgress& progress)
{
    if (std::optional<Error> error = checkView(impulse))
        return *error;
    const int rate = impulse.rate;
    if (std::optional<Error> error = checkSettings(settings, rate))
        return *error;

    const auto length = static_cast<std::size_t>(std::lround(settings.windowMs * 1e-3 * rate));
    Grid grid;
    grid.hop = std::max<long long>(1, std::llround(static_cast<double>(length) * (1 - settings.overlap)));
    const double hopMs = 1e3 * static_cast<double>(grid.hop) / rate;
    const double columns = std::floor((settings.endMs - settings.startMs) / hopMs + 1e-9) + 1;
    grid.rows = logFrequencies(settings.lowHz, std::min(settings.highHz, HighestOfRate * rate),
                               settings.pointsPerOctave);
    if (columns * static_cast<double>(grid.rows.size()) > static_cast<double>(MaxCells))
        return badInput("The spectrogram would have too many points: choose a shorter time range, less overlap "
                        "or fewer points per octave");
    grid.columns = static_cast<std::size_t>(columns);
    const long long start = std::llround(settings.startMs * 1e-3 * rate); // from the peak
    grid.firstCentre = static_cast<long long>(impulse.peak) + start;
    if (settings.window == SpectrogramSettings::Window::Wavelet
        && waveletSpan(settings, grid, rate).points > MaxWaveletLength)
        return badInput("The wavelet's longest window does not fit this time range: raise the lowest frequency, "
                        "take fewer cycles or a shorter time range");

    ProgressGate gate(progress);
    if (!gate.at(0))
        return cancelled();

    SpectrogramResult result;
    result.rangeDb = settings.rangeDb;
    result.hopMs = hopMs;
    Levels levels(grid.columns * grid.rows.size());
    // Where a column's centre lies: an even window's is half a sample late.
    double centreOffset = 0;
    if (settings.window == SpectrogramSettings::Window::Wavelet) {
        if (!wavelet(impulse, settings, grid, waveletSpan(settings, grid, rate), levels, gate))
            return cancelled();
    } else {
        if (!shortTime(impulse, settings, grid, length, levels, gate, result.binHz))
            return cancelled();
        centreOffset = 0.5 * static_cast<double>((length - 1) % 2);
    }

    const float highest = *std::max_element(levels.begin(), levels.end());
    if (highest <= 10 * std::log10(SilentPower) + 1)
        return badInput("The spectrogram's time range holds none of the impulse response");
    const auto floor = static_cast<float>(-settings.rangeDb);
    for (float& level : levels)
        level = std::max(level - highest, floor);
    result.levelsDb = std::move(levels);
    result.frequencies = std::move(grid.rows);
    result.timesMs.resize(grid.columns);
    for (std::size_t c = 0; c < grid.columns; ++c)
        result.timesMs[c] = 1e3 * (static_cast<double>(start + static_cast<long long>(c) * grid.hop) + centreOffset)
                            / rate;
    if (!gate.done())
        return cancelled();
    return result;
}

} // namespace audimera
