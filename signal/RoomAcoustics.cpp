#include "signal/RoomAcoustics.h"

#include "signal/OctaveBands.h"
#include "signal/RealFft.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <map>

namespace audimera {

namespace {

const double G = std::pow(10.0, 0.3); // the octave ratio, base 10
const double LnG = std::log(G);
const double Ln10 = std::log(10.0);
constexpr double Pi = 3.14159265358979323846;
constexpr double Infinity = std::numeric_limits<double>::infinity();

// The filter's magnitude: order 3 in x (octaves, mapped), tapered to zero
// from TaperFrom to TaperTo octaves.
constexpr double TaperFrom = 1.0;
constexpr double TaperTo = 2.5;

constexpr double StartWithinDb = 20;   // the start: the first sample this close to the peak
constexpr double MinAfterStart = 0.1;  // s the response must go on after its start
constexpr double MaxEnvelopeStep = 1e-3; // s between a band's envelope points
constexpr double MaxPnrDb = 200;
constexpr std::size_t MaxDecayPoints = 4000;

// The thirds analysed at most: 20 Hz (x = -17) to 20 kHz (x = 13).
constexpr int FirstThird = -17;
constexpr int LastThird = 13;

// The class-1 table for octave filters: x = log_G(f / fm) and the limits of
// relative attenuation. In the pass band (|x| < 1/2) the minimum is -0.4 dB;
// from the edge on there is no maximum.
constexpr double PassX[] = {0, 0.125, 0.25, 0.375, 0.5};
constexpr double PassMax[] = {0.4, 0.5, 0.7, 1.4, 5.3};
constexpr double PassMin = -0.4;
constexpr double StopX[] = {0.5, 1, 2, 3, 4, 5};
constexpr double StopMin[] = {1.2, 16.6, 40.5, 60, 70, 70};

// The fractional-octave mapping of the mask: the octave filter's
// normalised frequency omega1 >= 1 as 1/b-octave's.
double fromOctave(double omega1, int fraction)
{
    if (fraction <= 1)
        return omega1;
    return 1 + (std::pow(G, 0.5 / fraction) - 1) / (std::sqrt(G) - 1) * (omega1 - 1);
}

double toOctave(double omega, int fraction)
{
    if (fraction <= 1)
        return omega;
    return 1 + (omega - 1) * (std::sqrt(G) - 1) / (std::pow(G, 0.5 / fraction) - 1);
}

// A band filter's magnitude, its constants worked out once.
class BandShape {
public:
    explicit BandShape(const RoomBandPlan& band)
        : m_centre(band.centreHz), m_toOctave(toOctave(2, band.fraction) - 1)
    {
    }

    double gain(double hz) const
    {
        if (hz <= 0)
            return 0;
        double omega = hz / m_centre;
        if (omega < 1)
            omega = 1 / omega;
        // Octaves of the octave filter's normalised frequency.
        const double x = std::log(1 + (omega - 1) * m_toOctave) / LnG;
        if (x >= TaperTo)
            return 0;
        const double y = 4 * x * x;
        double gain = 1 / std::sqrt(1 + y * y * y);
        if (x > TaperFrom) {
            const double u = (x - TaperFrom) / (TaperTo - TaperFrom);
            gain *= 1 - u * u * (3 - 2 * u);
        }
        return gain;
    }

private:
    double m_centre;
    double m_toOctave; // the mask's mapping: omega1 - 1 = (omega - 1) m_toOctave
};

// Interpolates the limit at lnOmega between breakpoints (x, limit) of the
// octave table mapped to the band, linear in log frequency.
double interpolate(const double* x, const double* limit, std::size_t count, int fraction, double lnOmega)
{
    double lnPrevious = std::log(fromOctave(std::pow(G, x[0]), fraction));
    if (lnOmega <= lnPrevious)
        return limit[0];
    for (std::size_t i = 1; i < count; ++i) {
        const double lnNext = std::log(fromOctave(std::pow(G, x[i]), fraction));
        if (lnOmega <= lnNext)
            return limit[i - 1] + (limit[i] - limit[i - 1]) * (lnOmega - lnPrevious) / (lnNext - lnPrevious);
        lnPrevious = lnNext;
    }
    return limit[count - 1];
}

double powerDb(double power)
{
    return 10 * std::log10(std::max(power, 1e-300));
}

// Least squares over (t, y) pairs added one by one.
class LineFit {
public:
    void add(double t, double y)
    {
        ++m_n;
        m_t += t;
        m_y += y;
        m_tt += t * t;
        m_ty += t * y;
        m_yy += y * y;
    }
    RoomFit line() const
    {
        RoomFit fit;
        if (m_n < 2)
            return fit;
        const double n = static_cast<double>(m_n);
        const double stt = m_tt - m_t * m_t / n;
        const double sty = m_ty - m_t * m_y / n;
        const double syy = m_yy - m_y * m_y / n;
        if (stt <= 0)
            return fit;
        fit.slope = sty / stt;
        fit.intercept = (m_y - fit.slope * m_t) / n;
        fit.r = syy > 0 ? sty / std::sqrt(stt * syy) : 0;
        fit.valid = true;
        return fit;
    }

private:
    std::size_t m_n = 0;
    double m_t = 0, m_y = 0, m_tt = 0, m_ty = 0, m_yy = 0;
};

// The energy envelope of one band: count points, point m the mean power
// over [m dt, (m + 1) dt) after the start.
struct Envelope {
    const double* w = nullptr;
    std::size_t count = 0;
    double dt = 0;

    double duration() const { return static_cast<double>(count) * dt; }
    std::size_t index(double t) const
    {
        if (t <= 0)
            return 0;
        return std::min(count, static_cast<std::size_t>(t / dt));
    }
    double mean(std::size_t from, std::size_t to) const
    {
        double sum = 0;
        for (std::size_t m = from; m < to; ++m)
            sum += w[m];
        return to > from ? sum / static_cast<double>(to - from) : 0;
    }
};

struct Truncation {
    double t1 = 0;     // s
    double noise = 0;  // mean power
    RoomFit late;      // dB re 1 over s
    bool found = false;
};

// Lundeby's iteration; see the header.
class Lundeby {
public:
    Truncation run(const Envelope& e, double blockSeconds, double peak)
    {
        Truncation result;
        result.t1 = e.duration();
        const std::size_t lastTenth = e.count - e.count / 10;
        result.noise = e.mean(lastTenth, e.count);
        if (result.noise <= peak * 1e-20)
            return result; // nothing but the decay: no noise to cut off
        double noiseDb = powerDb(result.noise);

        smooth(e, blockSeconds);
        const std::size_t loudest = std::max_element(m_levels.begin(), m_levels.end()) - m_levels.begin();
        RoomFit line = fit(loudest, noiseDb + 10);
        if (!line.valid || line.slope >= 0)
            return result;
        double crossing = (noiseDb - line.intercept) / line.slope;

        for (int pass = 0; pass < 5; ++pass) {
            const double tenDb = 10 / -line.slope;
            smooth(e, tenDb / 5);
            const std::size_t from = std::min(e.index(crossing + tenDb), lastTenth);
            const double noise = e.mean(from, e.count);
            if (noise <= 0)
                break;
            const double levelDb = powerDb(noise);
            std::size_t first = std::max_element(m_levels.begin(), m_levels.end()) - m_levels.begin();
            while (first < m_levels.size() && m_levels[first] > levelDb + 30)
                ++first;
            const RoomFit late = fit(first, levelDb + 10);
            if (!late.valid || late.slope >= 0)
                break;
            result.noise = noise;
            noiseDb = levelDb;
            line = late;
            const double next = (noiseDb - line.intercept) / line.slope;
            const bool settled = std::abs(next - crossing) < 0.01;
            crossing = next;
            if (settled)
                break;
        }
        result.late = line;
        result.found = true;
        result.t1 = std::clamp(crossing, e.dt, e.duration());
        return result;
    }

private:
    // Block means of the envelope in dB, at the blocks' middles.
    void smooth(const Envelope& e, double seconds)
    {
        const std::size_t length = std::max<std::size_t>(1, static_cast<std::size_t>(std::lround(seconds / e.dt)));
        m_levels.clear();
        m_times.clear();
        for (std::size_t from = 0; from < e.count; from += length) {
            const std::size_t to = std::min(e.count, from + length);
            m_levels.push_back(powerDb(e.mean(from, to)));
            m_times.push_back(0.5 * static_cast<double>(from + to) * e.dt);
        }
    }

    // A line over the blocks from first up to the first one below floorDb.
    RoomFit fit(std::size_t first, double floorDb) const
    {
        LineFit sums;
        for (std::size_t i = first; i < m_levels.size() && m_levels[i] >= floorDb; ++i)
            sums.add(m_times[i], m_levels[i]);
        return sums.line();
    }

    std::vector<double> m_levels;
    std::vector<double> m_times;
};

double decayTime(const RoomFit& line)
{
    return -60 / line.slope;
}

} // namespace

struct RoomAcoustics::Work {
    std::unique_ptr<RealFft> fft;
    fftw_complex* band = nullptr; // the bands' short transforms, in place
    std::size_t bandSize = 0;
    std::map<std::size_t, fftw_plan> plans; // on band, by length
    std::vector<double> power;
    std::vector<double> decay;
    Lundeby lundeby;

    ~Work() { releaseBand(); }

    void releaseBand()
    {
        std::lock_guard<std::mutex> guard(fftwPlannerLock());
        for (auto& entry : plans)
            fftw_destroy_plan(entry.second);
        plans.clear();
        fftw_free(band);
        band = nullptr;
        bandSize = 0;
    }

    fftw_plan plan(std::size_t m)
    {
        if (m > bandSize) {
            releaseBand();
            band = fftw_alloc_complex(m);
            if (!band)
                throw std::bad_alloc();
            bandSize = m;
        }
        auto found = plans.find(m);
        if (found != plans.end())
            return found->second;
        std::lock_guard<std::mutex> guard(fftwPlannerLock());
        const fftw_plan made = fftw_plan_dft_1d(static_cast<int>(m), band, band, FFTW_BACKWARD, FFTW_ESTIMATE);
        plans.emplace(m, made);
        return made;
    }

    void analyseEnvelope(const Envelope& e, const RoomBandPlan& band, bool truncate, RoomBand& out);
};

RoomAcoustics::RoomAcoustics() : m_work(std::make_unique<Work>()) {}

RoomAcoustics::~RoomAcoustics() = default;

std::vector<RoomBandPlan> RoomAcoustics::bandPlan(const RoomSettings& settings, int rate)
{
    std::vector<RoomBandPlan> plan;
    const bool octaves = settings.bands == RoomSettings::Bands::Octave;
    const int fraction = octaves ? 1 : 3;
    const double lowest = settings.lowestHz > 0 ? settings.lowestHz : octaves ? 63 : 50;
    const double highest = settings.highestHz > 0 ? settings.highestHz : octaves ? 8000 : 10000;
    for (int x = FirstThird; x <= LastThird; ++x) { // in thirds
        const double nominal = OctaveBands::nominalThirdHz(x);
        if ((octaves && x % 3 != 0) || nominal < lowest || nominal > highest)
            continue;
        RoomBandPlan band;
        band.fraction = fraction;
        band.centreHz = 1000 * std::pow(G, x / 3.0);
        band.lowerHz = band.centreHz * std::pow(G, -0.5 / fraction);
        band.upperHz = band.centreHz * std::pow(G, 0.5 / fraction);
        band.label = OctaveBands::nominalLabel(nominal);
        if (band.upperHz < 0.5 * rate)
            plan.push_back(band);
    }
    return plan;
}

double RoomAcoustics::bandGain(const RoomBandPlan& band, double hz)
{
    if (band.fraction == 0)
        return 1;
    return BandShape(band).gain(hz);
}

AttenuationLimits RoomAcoustics::classOneLimits(double omega, int fraction)
{
    if (omega < 1)
        omega = 1 / omega;
    const double lnOmega = std::log(omega);
    const double lnEdge = std::log(fromOctave(std::sqrt(G), fraction));
    AttenuationLimits limits;
    if (lnOmega < lnEdge) {
        limits.min = PassMin;
        limits.max = interpolate(PassX, PassMax, std::size(PassX), fraction, lnOmega);
    } else {
        limits.min = interpolate(StopX, StopMin, std::size(StopX), fraction, lnOmega);
        limits.max = lnOmega == lnEdge ? PassMax[std::size(PassMax) - 1] : Infinity;
    }
    return limits;
}

MaskCheck RoomAcoustics::checkClassOneMask(const RoomBandPlan& band, int rate)
{
    MaskCheck check;
    check.worstMarginDb = Infinity;
    const double reach = fromOctave(std::pow(G, 5), band.fraction);
    const double low = band.centreHz / reach;
    const double high = std::min(band.centreHz * reach, 0.4999 * rate);
    const double reference = bandGain(band, band.centreHz);
    constexpr int Points = 200;
    for (int i = 0; i < Points; ++i) {
        const double hz = low * std::pow(high / low, i / (Points - 1.0));
        const double gain = bandGain(band, hz) / reference;
        const double attenuation = gain > 0 ? -20 * std::log10(gain) : Infinity;
        const AttenuationLimits limits = classOneLimits(hz / band.centreHz, band.fraction);
        const double margin = std::min(attenuation - limits.min, limits.max - attenuation);
        if (margin < check.worstMarginDb) {
            check.worstMarginDb = margin;
            check.worstHz = hz;
        }
        ++check.points;
    }
    return check;
}

const char* RoomAcoustics::flagReason(RoomFlag flag)
{
    switch (flag) {
    case LowCorrelation:
        return "the decay is not straight: the fit's correlation |r| is below 0.98";
    case LowPeakToNoise:
        return "the peak-to-noise ratio is too low for this range (EDT needs 20 dB, T20 35 dB, T30 45 dB)";
    case FilterLimited:
        return "the decay is so fast that the band filter's own ringing limits it (bandwidth times decay time below 16)";
    case NoValue:
        return "no value: the decay does not reach this range above the noise, or the response is too short";
    }
    return "";
}

std::string RoomAcoustics::flagText(unsigned flags)
{
    std::string text;
    for (RoomFlag flag : {NoValue, LowPeakToNoise, LowCorrelation, FilterLimited}) {
        if (!(flags & flag))
            continue;
        if (!text.empty())
            text += "; ";
        text += flagReason(flag);
    }
    return text;
}

void RoomAcoustics::Work::analyseEnvelope(const Envelope& e, const RoomBandPlan& band, bool truncate, RoomBand& out)
{
    out.band = band;
    const double peak = *std::max_element(e.w, e.w + e.count);
    const double blockSeconds = band.fraction == 0 ? 0.030 : std::clamp(0.8 / band.centreHz + 0.010, 0.010, 0.050);
    const Truncation cut = lundeby.run(e, blockSeconds, peak);
    out.pnrDb = cut.noise > 0 ? std::min(MaxPnrDb, powerDb(peak) - powerDb(cut.noise)) : MaxPnrDb;
    out.noiseDb = cut.noise > 0 ? powerDb(cut.noise) - powerDb(peak) : -MaxPnrDb;

    // Schroeder: decay[m] = E(m dt), from m dt to t1, plus the compensation.
    const bool cutOff = truncate && cut.found;
    const double t1 = cutOff ? cut.t1 : e.duration();
    const std::size_t end = std::clamp<std::size_t>(static_cast<std::size_t>(std::lround(t1 / e.dt)), 1, e.count);
    const double lateT = cutOff ? decayTime(cut.late) : 0;
    const double tail = cutOff ? cut.noise * lateT / (6 * Ln10) : 0; // C
    const double tailRate = cutOff ? 6 * Ln10 / lateT : 0;          // its decay, 1/s
    decay.resize(end + 1);
    decay[end] = tail;
    double weighted = 0; // integral of t p^2
    for (std::size_t m = end; m-- > 0;) {
        decay[m] = decay[m + 1] + e.w[m] * e.dt;
        weighted += (static_cast<double>(m) + 0.5) * e.dt * e.w[m] * e.dt;
    }
    const double total = decay[0];
    const double endTime = static_cast<double>(end) * e.dt;
    if (tail > 0)
        weighted += tail * (endTime + 1 / tailRate);
    out.truncation = endTime;
    out.correction = total > 0 ? tail / total : 0;
    if (cutOff) {
        out.lateFit = cut.late;
        out.lateFit.intercept -= powerDb(peak);
    }

    // The decay times.
    auto fitRange = [&](double topDb, double bottomDb, RoomFit& fit, RoomValue& value, double needPnrDb) {
        const double top = total * std::pow(10.0, topDb / 10);
        const double bottom = total * std::pow(10.0, bottomDb / 10);
        std::size_t m = 0;
        while (m <= end && decay[m] > top)
            ++m;
        LineFit sums;
        for (; m <= end && decay[m] >= bottom; ++m)
            sums.add(static_cast<double>(m) * e.dt, 10 * std::log10(decay[m] / total));
        const RoomFit line = sums.line();
        if (m > end || !line.valid || line.slope >= 0 || total <= 0) {
            value.flags = NoValue;
            return;
        }
        fit = line;
        value.value = decayTime(line);
        if (std::abs(line.r) < MinCorrelation)
            value.flags |= LowCorrelation;
        if (out.pnrDb < needPnrDb)
            value.flags |= LowPeakToNoise;
        if (band.fraction != 0 && (band.upperHz - band.lowerHz) * *value.value < MinBandwidthTime)
            value.flags |= FilterLimited;
    };
    fitRange(0, -10, out.edtFit, out.edt, EdtPnrDb);
    fitRange(-5, -25, out.t20Fit, out.t20, T20PnrDb);
    fitRange(-5, -35, out.t30Fit, out.t30, T30PnrDb);

    // E(te): inside the integrated span by the envelope, past t1 by the
    // compensation's exponential; none past the response's end.
    auto energyAfter = [&](double te) -> std::optional<double> {
        if (te > e.duration())
            return std::nullopt;
        const double position = te / e.dt;
        const std::size_t m = static_cast<std::size_t>(position);
        if (m < end)
            return decay[m] - (position - static_cast<double>(m)) * e.w[m] * e.dt;
        return tail * std::exp(-tailRate * (te - endTime));
    };
    auto clarity = [&](double te, RoomValue& value) {
        const std::optional<double> late = energyAfter(te);
        if (late && *late > 0 && total > *late)
            value.value = 10 * std::log10(total / *late - 1);
        else
            value.flags = NoValue;
    };
    clarity(0.050, out.c50);
    clarity(0.080, out.c80);
    const std::optional<double> after50 = energyAfter(0.050);
    if (after50 && total > 0)
        out.d50.value = 1 - *after50 / total;
    else
        out.d50.flags = NoValue;
    if (total > 0)
        out.ts.value = 1000 * weighted / total;
    else
        out.ts.flags = NoValue;

    // The curve for a plot.
    const std::size_t stride = end / MaxDecayPoints + 1;
    out.decayStep = static_cast<double>(stride) * e.dt;
    out.decayDb.clear();
    for (std::size_t m = 0; m <= end; m += stride)
        out.decayDb.push_back(static_cast<float>(total > 0 ? powerDb(decay[m] / total) : 0));
}

Result<RoomResults> RoomAcoustics::analyse(const float* response, std::size_t n, int rate, const RoomSettings& settings)
{
    if (n == 0 || !response)
        return Error::of(Failure::BadInput, "The impulse response is empty");
    if (rate <= 0)
        return Error::of(Failure::BadInput, "The impulse response has no sample rate");
    double peak = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double square = static_cast<double>(response[i]) * response[i];
        if (!std::isfinite(square))
            return Error::of(Failure::BadInput, "The impulse response has no clear start");
        peak = std::max(peak, square);
    }
    if (peak <= 0)
        return Error::of(Failure::BadInput, "The impulse response has no clear start");
    const double threshold = peak * std::pow(10.0, -StartWithinDb / 10);
    std::size_t start = 0;
    while (static_cast<double>(response[start]) * response[start] < threshold)
        ++start;
    const std::size_t after = n - start;
    if (static_cast<double>(after) < MinAfterStart * rate)
        return Error::of(Failure::BadInput, "The impulse response ends less than 0.1 s after its start");

    RoomResults results;
    results.rate = rate;
    results.startSample = start;
    const std::vector<RoomBandPlan> plan = bandPlan(settings, rate);
    results.bands.resize(plan.size() + 1);
    Work& work = *m_work;

    // Broadband: the squared samples themselves.
    work.power.resize(after);
    for (std::size_t m = 0; m < after; ++m)
        work.power[m] = static_cast<double>(response[start + m]) * response[start + m];
    RoomBandPlan broadband;
    broadband.label = "Broadband";
    work.analyseEnvelope(Envelope{work.power.data(), after, 1.0 / rate}, broadband, settings.truncate,
                         results.bands[0]);

    if (plan.empty())
        return results;

    // One transform of the whole response, from its start; what came
    // before the start wrapped round to the end, behind a second of zeros
    // for the filters' ringing either way.
    const std::size_t length = RealFft::goodLength(n + static_cast<std::size_t>(rate));
    if (!work.fft || work.fft->size() != length)
        work.fft = std::make_unique<RealFft>(length);
    RealFft& fft = *work.fft;
    double* time = fft.time();
    std::copy(response + start, response + n, time);
    std::fill(time + after, time + length - start, 0.0);
    std::copy(response, response + start, time + length - start);
    fft.forward();
    const std::complex<double>* spectrum = fft.spectrum();

    const double binHz = static_cast<double>(rate) / static_cast<double>(length);
    const double reach = fromOctave(std::pow(G, TaperTo), plan.front().fraction); // the filters' reach
    const std::size_t minPoints = static_cast<std::size_t>(std::ceil(static_cast<double>(length) / (MaxEnvelopeStep * rate)));
    for (std::size_t b = 0; b < plan.size(); ++b) {
        const RoomBandPlan& band = plan[b];
        const std::size_t low = std::max<std::size_t>(1, static_cast<std::size_t>(std::ceil(band.centreHz / reach / binHz)));
        const std::size_t high = std::min(length / 2, static_cast<std::size_t>(band.centreHz * reach / binHz));
        const std::size_t width = high >= low ? high - low + 1 : 0;
        const std::size_t points = RealFft::goodLength(std::max(width, minPoints));
        const fftw_plan transform = work.plan(points);
        auto* bins = reinterpret_cast<std::complex<double>*>(work.band);
        const BandShape shape(band);
        // Shifted down by low bins and half a point later, so that point m
        // is the envelope in the middle of its span.
        const std::complex<double> turn = std::polar(1.0, Pi / static_cast<double>(points));
        std::complex<double> phase = 1;
        for (std::size_t j = 0; j < width; ++j) {
            if (j % 1024 == 0)
                phase = std::polar(1.0, Pi * static_cast<double>(j) / static_cast<double>(points));
            bins[j] = spectrum[low + j] * (shape.gain(static_cast<double>(low + j) * binHz) * phase);
            phase *= turn;
        }
        std::fill(bins + width, bins + points, std::complex<double>(0));
        fftw_execute(transform);
        // The analytic signal's magnitude squared over 2: the band's power.
        const double scale = 2.0 / (static_cast<double>(length) * static_cast<double>(length));
        const double step = static_cast<double>(length) / static_cast<double>(points) / rate;
        const std::size_t count = static_cast<std::size_t>(static_cast<double>(after) / rate / step);
        work.power.resize(count);
        for (std::size_t m = 0; m < count; ++m)
            work.power[m] = std::norm(bins[m]) * scale;
        work.analyseEnvelope(Envelope{work.power.data(), count, step}, band, settings.truncate,
                             results.bands[b + 1]);
    }
    return results;
}

} // namespace audimera
