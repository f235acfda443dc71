#include "signal/SpectrumAnalyser.h"

#include "signal/RealFft.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace audimera {

namespace {

constexpr double TwoPi = 6.28318530717958647692;
constexpr int MinFftLength = 8192;
constexpr int MaxFftLength = 131072;
constexpr double MinUpdates = 1;
constexpr double MaxUpdates = 100;
constexpr double LowestPower = 1e-30; // -300 dB: what silence reads

// The 5-term flat-top window (equivalent noise bandwidth 3.77 bins, scallop
// loss below 0.01 dB).
constexpr double FlatTop[] = {0.21557895, 0.41663158, 0.277263158, 0.083578947, 0.006947368};

// The window of length n, periodic (DFT-even), so a sine on a bin is seen
// exactly and Hann's noise bandwidth is 1.5 bins.
std::vector<double> makeWindow(AnalyserWindow window, int n)
{
    std::vector<double> w(static_cast<std::size_t>(n), 1.0);
    for (int i = 0; i < n; ++i) {
        const double phase = TwoPi * i / n;
        switch (window) {
        case AnalyserWindow::Hann:
            w[i] = 0.5 - 0.5 * std::cos(phase);
            break;
        case AnalyserWindow::FlatTop: {
            double sum = 0;
            for (int term = 0; term < 5; ++term)
                sum += (term % 2 == 0 ? 1 : -1) * FlatTop[term] * std::cos(term * phase);
            w[i] = sum;
            break;
        }
        case AnalyserWindow::Rectangular:
            break;
        }
    }
    return w;
}

double sum(const std::vector<double>& values)
{
    double total = 0;
    for (double v : values)
        total += v;
    return total;
}

double noiseBandwidthOf(const std::vector<double>& w)
{
    double s1 = 0;
    double s2 = 0;
    for (double v : w) {
        s1 += v;
        s2 += v * v;
    }
    return static_cast<double>(w.size()) * s2 / (s1 * s1);
}

double toDb(double power)
{
    return 10 * std::log10(std::max(power, LowestPower));
}

bool powerOfTwo(int n)
{
    return n > 0 && (n & (n - 1)) == 0;
}

Status badInput(const char* text)
{
    return Error::of(Failure::BadInput, text);
}

} // namespace

// A band as the bins it sums: bins first..last, the first and the last
// weighted by the share of their width inside the band (1 inside). A band
// narrower than a bin is its one bin, weighted B as the line shows it.
struct BandBins {
    std::size_t first = 0;
    std::size_t last = 0;
    double firstWeight = 1;
    double lastWeight = 1;
};

struct SpectrumAnalyser::Impl {
    SpectrumSettings settings;
    int rate = 0;
    std::size_t length = 0;
    std::size_t hop = 0;
    double binHz = 0;
    double bandwidth = 1;  // B, bins
    double exponentialWeight = 1;

    std::vector<double> window;
    std::vector<float> ring;       // the last `length` samples, oldest at ringPos once full
    std::size_t ringPos = 0;
    std::size_t total = 0;         // samples taken since construction
    std::size_t nextTransform = 0; // the sample count at which the next transform runs
    RealFft fft;

    std::vector<double> powerScale; // per bin: 2 / (S1^2 B) (1 / (S1^2 B) at DC and Nyquist), corrected
    std::vector<double> average;    // per bin, averaged powers P_k (corrections in)
    std::size_t transforms = 0;     // in the average

    std::vector<OctaveBand> bands;
    std::vector<BandBins> bandBins;
    std::vector<double> shown; // per shown level (bin or band): power now
    std::vector<double> peak;  // its highest since the peak's reset

    Impl(const SpectrumSettings& s, int r)
        : settings(s),
          rate(r),
          length(static_cast<std::size_t>(s.fftLength)),
          fft(static_cast<std::size_t>(s.fftLength))
    {
        hop = static_cast<std::size_t>(std::max(1.0, std::round(rate / s.updatesPerSecond)));
        binHz = static_cast<double>(rate) / s.fftLength;
        window = makeWindow(s.window, s.fftLength);
        bandwidth = noiseBandwidthOf(window);
        exponentialWeight = 1 - std::exp(-static_cast<double>(hop) / (s.timeConstant * rate));
        ring.assign(length, 0.0f);
        nextTransform = length;
        average.assign(fft.bins(), 0.0);
        setCorrection({});
        if (s.fraction != 0) {
            bands = OctaveBands::plan(s.fraction, s.lowHz, s.highHz, 0.5 * rate);
            for (const OctaveBand& band : bands)
                bandBins.push_back(binsOf(band));
        }
        shown.assign(s.fraction == 0 ? fft.bins() : bands.size(), 0.0);
        peak.assign(shown.size(), 0.0);
    }

    BandBins binsOf(const OctaveBand& band) const
    {
        const std::size_t lastBin = fft.bins() - 1;
        const double lo = band.lowerHz / binHz; // in bins; bin k spans k -+ 1/2
        const double hi = band.upperHz / binHz;
        BandBins bins;
        if (hi - lo < 1) {
            bins.first = bins.last = std::min(lastBin, static_cast<std::size_t>(std::lround(band.centreHz / binHz)));
            bins.firstWeight = bandwidth;
            return bins;
        }
        bins.first = std::min(lastBin, static_cast<std::size_t>(std::lround(lo)));
        bins.last = std::min(lastBin, static_cast<std::size_t>(std::lround(hi)));
        const auto share = [&](std::size_t k) {
            const double from = std::max(k - 0.5, lo);
            const double to = std::min(k + 0.5, hi);
            return std::max(0.0, to - from);
        };
        bins.firstWeight = share(bins.first);
        bins.lastWeight = share(bins.last);
        return bins;
    }

    void setCorrection(const std::function<double(double)>& correctionDb)
    {
        const double s1 = sum(window);
        const double base = 1 / (s1 * s1 * bandwidth);
        const std::size_t count = fft.bins();
        powerScale.resize(count);
        for (std::size_t k = 0; k < count; ++k) {
            // DC and Nyquist have no mirror image to fold in.
            const bool single = k == 0 || (k == count - 1 && length % 2 == 0);
            double scale = (single ? 1 : 2) * base;
            if (correctionDb) {
                const double db = correctionDb(k * binHz);
                if (std::isfinite(db))
                    scale *= std::pow(10.0, db / 10);
            }
            powerScale[k] = scale;
        }
    }

    // One transform of the ring, into the average, the shown levels and
    // their peaks. Allocates nothing.
    void transform()
    {
        double* time = fft.time();
        const std::size_t tail = length - ringPos; // oldest samples first
        for (std::size_t i = 0; i < tail; ++i)
            time[i] = ring[ringPos + i] * window[i];
        for (std::size_t i = 0; i < ringPos; ++i)
            time[tail + i] = ring[i] * window[tail + i];
        fft.forward();
        const std::complex<double>* x = fft.spectrum();
        const std::size_t count = fft.bins();
        const AnalyserAveraging averaging = transforms == 0 ? AnalyserAveraging::None : settings.averaging;
        switch (averaging) {
        case AnalyserAveraging::None:
            for (std::size_t k = 0; k < count; ++k)
                average[k] = std::norm(x[k]) * powerScale[k];
            break;
        case AnalyserAveraging::Exponential: {
            const double a = exponentialWeight;
            for (std::size_t k = 0; k < count; ++k)
                average[k] += a * (std::norm(x[k]) * powerScale[k] - average[k]);
            break;
        }
        case AnalyserAveraging::Running: {
            const double a = 1.0 / static_cast<double>(transforms + 1);
            for (std::size_t k = 0; k < count; ++k)
                average[k] += a * (std::norm(x[k]) * powerScale[k] - average[k]);
            break;
        }
        }
        ++transforms;
        updateShown(transforms == 1);
    }

    void updateShown(bool firstPeak)
    {
        if (settings.fraction == 0) {
            for (std::size_t k = 0; k < shown.size(); ++k)
                shown[k] = average[k] * bandwidth;
        } else {
            for (std::size_t i = 0; i < bandBins.size(); ++i) {
                const BandBins& b = bandBins[i];
                double power;
                if (b.first == b.last) {
                    power = average[b.first] * b.firstWeight;
                } else {
                    power = b.firstWeight * average[b.first] + b.lastWeight * average[b.last];
                    for (std::size_t k = b.first + 1; k < b.last; ++k)
                        power += average[k];
                }
                shown[i] = power;
            }
        }
        for (std::size_t i = 0; i < shown.size(); ++i)
            peak[i] = firstPeak ? shown[i] : std::max(peak[i], shown[i]);
    }
};

Status SpectrumAnalyser::check(const SpectrumSettings& s, int rate)
{
    if (rate <= 0)
        return badInput("The sample rate must be positive.");
    if (!powerOfTwo(s.fftLength) || s.fftLength < MinFftLength || s.fftLength > MaxFftLength)
        return badInput("The FFT length must be a power of two from 8192 to 131072.");
    if (s.fraction != 0 && !OctaveBands::validFraction(s.fraction))
        return badInput("The bands must be 1/1, 1/3, 1/6, 1/12, 1/24 or 1/48 octave, or none.");
    if (!(s.updatesPerSecond >= MinUpdates && s.updatesPerSecond <= MaxUpdates))
        return badInput("The analyser updates 1 to 100 times a second.");
    if (s.averaging == AnalyserAveraging::Exponential && !(s.timeConstant > 0 && std::isfinite(s.timeConstant)))
        return badInput("The averaging's time constant must be a positive number of seconds.");
    if (s.fraction != 0) {
        if (!(s.lowHz > 0 && s.highHz >= s.lowHz && std::isfinite(s.highHz)))
            return badInput("The bands' range must be a positive frequency and a higher one.");
        if (OctaveBands::plan(s.fraction, s.lowHz, s.highHz, 0.5 * rate).empty()) {
            char text[160];
            std::snprintf(text, sizeof text, "No 1/%d-octave band lies within %g to %g Hz below half the rate (%d Hz).",
                          s.fraction, s.lowHz, s.highHz, rate);
            return badInput(text);
        }
    }
    return {};
}

double SpectrumAnalyser::noiseBandwidth(AnalyserWindow window, int fftLength)
{
    return noiseBandwidthOf(makeWindow(window, fftLength));
}

SpectrumAnalyser::SpectrumAnalyser(const SpectrumSettings& settings, int rate) : m(std::make_unique<Impl>(settings, rate)) {}
SpectrumAnalyser::~SpectrumAnalyser() = default;

const SpectrumSettings& SpectrumAnalyser::settings() const
{
    return m->settings;
}

int SpectrumAnalyser::rate() const
{
    return m->rate;
}

void SpectrumAnalyser::setCorrection(const std::function<double(double)>& correctionDb)
{
    m->setCorrection(correctionDb);
}

std::size_t SpectrumAnalyser::push(const float* samples, std::size_t count)
{
    Impl& a = *m;
    std::size_t done = 0;
    while (count > 0) {
        // Up to the next transform, or the ring's wrap.
        std::size_t take = std::min({count, a.nextTransform - a.total, a.length - a.ringPos});
        std::copy(samples, samples + take, a.ring.begin() + static_cast<std::ptrdiff_t>(a.ringPos));
        samples += take;
        count -= take;
        a.total += take;
        a.ringPos += take;
        if (a.ringPos == a.length)
            a.ringPos = 0;
        if (a.total == a.nextTransform) {
            a.transform();
            a.nextTransform += a.hop;
            ++done;
        }
    }
    return done;
}

void SpectrumAnalyser::reset()
{
    m->transforms = 0;
}

void SpectrumAnalyser::resetPeak()
{
    m->peak = m->shown;
}

double SpectrumAnalyser::resolutionBins(AnalyserWindow window)
{
    switch (window) {
    case AnalyserWindow::Hann:
        return 5.0;
    case AnalyserWindow::FlatTop:
        return 10.0;
    case AnalyserWindow::Rectangular:
        break;
    }
    return 2.0;
}

SpectrumFrame SpectrumAnalyser::frame() const
{
    const Impl& a = *m;
    SpectrumFrame frame;
    frame.binHz = a.binHz;
    frame.transforms = a.transforms;
    if (a.transforms == 0)
        return frame;
    const std::size_t count = a.shown.size();
    frame.frequencies.resize(count);
    frame.levelsDb.resize(count);
    frame.peakDb.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        frame.frequencies[i] = a.settings.fraction == 0 ? i * a.binHz : a.bands[i].centreHz;
        frame.levelsDb[i] = toDb(a.shown[i]);
        frame.peakDb[i] = toDb(a.peak[i]);
    }
    frame.bands = a.bands;
    const double narrowest = resolutionBins(a.settings.window) * a.binHz;
    frame.resolved.reserve(a.bands.size());
    for (const OctaveBand& band : a.bands)
        frame.resolved.push_back(band.upperHz - band.lowerHz >= narrowest);
    return frame;
}

} // namespace audimera
