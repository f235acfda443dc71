// The live analyser's and the sound level meter's run on the session's
// device (MeasurementSession::runAnalyser and its commands), and the
// calibration of the meter from a calibrator's tone.
//
// The run captures the record device without end and polls it: the host's
// events (where stop() and changeAnalyser() arrive), WaitMs of sleep, then
// every frame that arrived goes to a SpectrumAnalyser and a SoundLevelMeter,
// cut at the hops so that an update goes out at every hop of audio (one per
// poll when a poll brings several: the machine fell behind). A gap in the
// capture makes the analyser again (no transform spans the gap) and resets
// the meter's Leq, maximum and peak. New spectrum settings make it again
// too, fed the last transform's worth of sound kept since the last gap, so
// the display goes on at once with the average started afresh.
//
// The signal played meanwhile is one period looped by the device
// (SoundDevice::playPeriod) at its own rate: periodic noise of the
// transform's length, or a sine of whole cycles in the period nearest its
// frequency (see sinePeriod). With play and record at the same rate the
// noise's period is the transform's, exactly.
//
// UI thread only.
#include "engine/CorrectionTable.h"
#include "engine/MeasurementSession.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace audimera {

namespace {

constexpr double Pi = 3.14159265358979323846;
// Sleep between polls of the capture, ms.
constexpr int WaitMs = 5;
// Polls without a frame before the run gives up: about 2 s.
constexpr int MaxEmptyReads = 2000 / WaitMs;
constexpr const char* StalledMessage = "No sound was recorded for 2 seconds";
// The calibration's band: the 1 kHz third octave; the share of the power
// it must hold and its least level.
constexpr double CalibratorShare = 0.9;
constexpr double CalibratorFloorDb = -80.0;
// The longest sine period tried, s: the frequency played lies within
// hz / (2 rate MaxSineSeconds) of the one asked for, most often exactly.
constexpr double MaxSineSeconds = 1.0;
constexpr std::size_t MinPeriod = 16;
constexpr std::size_t MaxPeriod = std::size_t(1) << 20;
// The longest transform the analyser takes (SpectrumSettings::fftLength).
constexpr std::size_t MaxTransform = 131072;

std::string fixed1(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

// A sine of RMS level rmsDbfs (dB re full scale 1.0) at rate, as k whole
// cycles in a period of n samples: of the periods from MinPeriod samples to
// MaxSineSeconds, the one whose frequency k rate / n lies nearest hz (the
// first exact one: 1 kHz at 44.1 kHz is 10 cycles in 441 samples).
Result<std::vector<float>> sinePeriod(double hz, double rmsDbfs, int rate)
{
    if (!(hz > 0) || !(hz < rate / 2.0))
        return Error::of(Failure::BadInput,
                         "The sine's frequency must lie above 0 Hz and below half the play device's rate ("
                             + std::to_string(rate) + " Hz)");
    const double amplitude = std::sqrt(2.0) * std::pow(10.0, rmsDbfs / 20);
    if (!std::isfinite(amplitude) || amplitude > 1.0)
        return Error::of(Failure::BadInput, "A sine's RMS level can reach -3.01 dB re full scale at most, not "
                                                + fixed1(rmsDbfs));
    const double longest = std::clamp(MaxSineSeconds * rate, double(MinPeriod), double(MaxPeriod));
    long long cycles = 1;
    std::size_t length = 0;
    double bestError = 1e300;
    for (long long k = 1;; ++k) {
        const double exact = k * double(rate) / hz;
        if (exact > longest && length > 0)
            break;
        const auto n = static_cast<std::size_t>(std::llround(exact));
        if (n < MinPeriod)
            continue;
        const double error = std::abs(k * double(rate) / double(n) - hz);
        if (error < bestError) {
            bestError = error;
            cycles = k;
            length = n;
        }
        if (error <= 1e-9 * hz)
            break;
    }
    std::vector<float> period(length);
    for (std::size_t i = 0; i < length; ++i) {
        // The phase reduced to one cycle first, so long periods keep it exact.
        const double turns = double((cycles * static_cast<long long>(i)) % static_cast<long long>(length)) / length;
        period[i] = static_cast<float>(amplitude * std::sin(2 * Pi * turns));
    }
    return period;
}

// The period settings ask to play at rate; settings.signal is not None.
Result<std::vector<float>> signalPeriod(const LiveSettings& s, int rate)
{
    if (s.signal == LiveSignal::Sine)
        return sinePeriod(s.sineHz, s.signalDbfs, rate);
    PeriodicNoiseSettings noise;
    noise.colour = s.signal == LiveSignal::PeriodicPink ? NoiseColour::Pink : NoiseColour::White;
    noise.period = static_cast<std::size_t>(s.spectrum.fftLength);
    noise.rmsDbfs = s.signalDbfs;
    return PeriodicNoise::make(noise);
}

bool sameSpectrum(const SpectrumSettings& a, const SpectrumSettings& b)
{
    return a.fftLength == b.fftLength && a.window == b.window && a.fraction == b.fraction && a.lowHz == b.lowHz
           && a.highHz == b.highHz && a.averaging == b.averaging && a.timeConstant == b.timeConstant
           && a.updatesPerSecond == b.updatesPerSecond;
}

bool sameSignal(const LiveSettings& a, const LiveSettings& b)
{
    if (a.signal != b.signal)
        return false;
    if (a.signal == LiveSignal::None)
        return true;
    if (a.signalDbfs != b.signalDbfs)
        return false;
    return a.signal == LiveSignal::Sine ? a.sineHz == b.sineHz : a.spectrum.fftLength == b.spectrum.fftLength;
}

// What the spectrum adds at a frequency: the calibration's offset, the
// corrections' curves (which the table holds as what to subtract) and, when
// asked, the frequency weighting.
std::function<double(double)> spectrumCorrection(const LiveSettings& s)
{
    const CorrectionTable* table = s.corrections;
    const bool weighted = s.weightedSpectrum && s.weighting != FrequencyWeighting::Z;
    const double offset = s.calibrationOffsetDb.value_or(0.0);
    if (!table && !weighted && offset == 0)
        return {};
    const FrequencyWeighting weighting = s.weighting;
    return [table, weighted, weighting, offset](double hz) {
        double db = offset + (table ? -table->levelAt(hz) : 0.0);
        if (weighted)
            db += hz > 0 ? SoundLevelMeter::weightingDb(weighting, hz) : -400.0;
        return db;
    };
}

std::size_t hopOf(const SpectrumSettings& s, int rate)
{
    return static_cast<std::size_t>(std::max(1L, std::lround(rate / s.updatesPerSecond)));
}

// One run's loop, on the session's flags (which stop() and the commands
// given while the run is running set).
class LiveLoop {
public:
    struct Requests {
        const bool& wanted;                  // MeasurementSession::m_analysing
        std::optional<LiveSettings>& change; // changeAnalyser()
        bool& reset;                         // resetAnalyser()
        bool& peakReset;                     // resetAnalyserPeak()
    };

    LiveLoop(Host& host, SoundDevice& sound, const LiveSettings& settings, LiveObserver& observer, int rate,
             Requests requests)
        : m_host(host), m_sound(sound), m_settings(settings), m_observer(observer), m_rate(rate),
          m_requests(requests),
          m_analyser(std::make_unique<SpectrumAnalyser>(settings.spectrum, rate)),
          m_meter(rate, settings.weighting, settings.timeWeighting), m_hop(hopOf(settings.spectrum, rate))
    {
        m_analyser->setCorrection(spectrumCorrection(settings));
        m_meter.setOffset(settings.calibrationOffsetDb.value_or(0.0));
    }

    // Whether the loop has a signal playing (to stop at the end).
    bool playing() const { return m_playing; }
    // Plays the settings' signal, if any.
    Status startSignal()
    {
        if (m_settings.signal == LiveSignal::None) {
            if (m_playing)
                m_sound.StopPlayback();
            m_playing = false;
            return {};
        }
        Result<std::vector<float>> period = signalPeriod(m_settings, m_sound.outputDeviceRate());
        if (!period)
            return period.error();
        if (Status played = m_sound.playPeriod(*period); !played)
            return Error::of(Failure::Device, "Playing on the output device failed: " + played.message());
        m_playing = true;
        return {};
    }

    Status run()
    {
        const double seconds = m_settings.seconds;
        const std::size_t total = seconds > 0 ? static_cast<std::size_t>(std::llround(seconds * m_rate)) : 0;
        m_buffer.reserve(static_cast<std::size_t>((SoundDevice::CaptureKeptSeconds + 1) * m_rate));
        int empty = 0;
        for (;;) {
            m_host.yield();
            if (!m_requests.wanted)
                return Error::of(Failure::Cancelled, "Stopped");
            if (Status taken = takeRequests(); !taken)
                return taken;
            m_host.sleepMs(WaitMs);
            m_buffer.clear();
            const Result<CaptureRead> read = m_sound.readCapture(m_buffer);
            if (!read)
                return Error::of(Failure::Device, "Recording from the input device failed: " + read.message());
            if (read->gap)
                restart();
            const std::size_t frames = std::min(read->frames, m_buffer.size());
            if (frames == 0) {
                if (++empty >= MaxEmptyReads)
                    return Error::of(Failure::Device, StalledMessage);
                continue;
            }
            empty = 0;
            const std::size_t used = total ? std::min(frames, total - m_pushed) : frames;
            feed(m_buffer.data(), used);
            const bool done = total && m_pushed >= total;
            if (m_due || done)
                update();
            if (done)
                return {};
        }
    }

private:
    // The last count frames analysed since the last gap (fewer when fewer
    // were), oldest first.
    std::vector<float> recent(std::size_t count) const
    {
        count = std::min(count, m_kept);
        std::vector<float> frames(count);
        const std::size_t size = m_history.size();
        for (std::size_t i = 0; i < count; ++i)
            frames[i] = m_history[(m_historyAt + size - count + i) % size];
        return frames;
    }

    void keep(const float* x, std::size_t count)
    {
        const std::size_t size = m_history.size();
        if (count > size)
            x += count - size, count = size;
        const std::size_t first = std::min(count, size - m_historyAt);
        std::copy(x, x + first, m_history.begin() + static_cast<std::ptrdiff_t>(m_historyAt));
        std::copy(x + first, x + count, m_history.begin());
        m_historyAt = (m_historyAt + count) % size;
        m_kept = std::min(m_kept + count, size);
    }

    // The analyser and the meter start afresh after lost frames.
    void restart()
    {
        m_kept = 0;
        m_analyser = std::make_unique<SpectrumAnalyser>(m_settings.spectrum, m_rate);
        m_analyser->setCorrection(spectrumCorrection(m_settings));
        m_meter.reset();
        m_gap = true;
    }

    // Pushes count frames, noting an update due at each hop of audio.
    void feed(const float* x, std::size_t count)
    {
        while (count > 0) {
            const std::size_t take = std::min(count, m_hop - m_sinceUpdate);
            m_analyser->push(x, take);
            m_meter.push(x, take);
            keep(x, take);
            x += take;
            count -= take;
            m_pushed += take;
            m_sinceUpdate += take;
            if (m_sinceUpdate >= m_hop) {
                m_sinceUpdate = 0;
                m_due = true;
            }
        }
    }

    void update()
    {
        m_due = false;
        LiveUpdate u;
        u.spectrum = m_analyser->frame();
        u.level = m_meter.reading();
        u.calibrated = m_settings.calibrationOffsetDb.has_value();
        u.seconds = double(m_pushed) / m_rate;
        u.gap = std::exchange(m_gap, false);
        u.rate = m_rate;
        m_observer.liveUpdate(u);
    }

    // What the commands given since the last poll asked.
    Status takeRequests()
    {
        if (m_requests.change) {
            const LiveSettings next = *std::exchange(m_requests.change, std::nullopt);
            if (Status applied = apply(next); !applied)
                return applied;
        }
        if (std::exchange(m_requests.reset, false)) {
            m_analyser->reset();
            m_meter.reset();
        }
        if (std::exchange(m_requests.peakReset, false))
            m_analyser->resetPeak();
        return {};
    }

    Status apply(LiveSettings next)
    {
        // Settings the analyser cannot run keep the spectrum as it is.
        if (!SpectrumAnalyser::check(next.spectrum, m_rate))
            next.spectrum = m_settings.spectrum;
        const bool newSpectrum = !sameSpectrum(next.spectrum, m_settings.spectrum);
        const bool newSignal = !sameSignal(next, m_settings);
        const bool newChannel = next.channel != m_settings.channel;
        const bool newWeighting =
            next.weighting != m_settings.weighting || next.timeWeighting != m_settings.timeWeighting;
        next.seconds = m_settings.seconds; // the run's length stays
        m_settings = next;
        if (newSpectrum) {
            // The new analyser starts from the last transform's worth of
            // sound, so the display goes on at once.
            m_analyser = std::make_unique<SpectrumAnalyser>(m_settings.spectrum, m_rate);
            m_analyser->push(recent(static_cast<std::size_t>(m_settings.spectrum.fftLength)).data(),
                             std::min(m_kept, static_cast<std::size_t>(m_settings.spectrum.fftLength)));
            m_hop = hopOf(m_settings.spectrum, m_rate);
            m_sinceUpdate = std::min(m_sinceUpdate, m_hop - 1);
        }
        // The correction is read again whatever changed: the curves' boxes
        // may have been switched.
        m_analyser->setCorrection(spectrumCorrection(m_settings));
        if (newWeighting)
            m_meter.setWeighting(m_settings.weighting, m_settings.timeWeighting);
        m_meter.setOffset(m_settings.calibrationOffsetDb.value_or(0.0));
        if (newChannel) {
            m_sound.stopCapture();
            if (Status started = m_sound.startCapture(m_settings.channel); !started)
                return Error::of(Failure::Device, "Recording from the input device failed: " + started.message());
            restart();
        }
        if (newSignal)
            return startSignal();
        return {};
    }

    Host& m_host;
    SoundDevice& m_sound;
    LiveSettings m_settings;
    LiveObserver& m_observer;
    const int m_rate;
    Requests m_requests;
    std::unique_ptr<SpectrumAnalyser> m_analyser;
    SoundLevelMeter m_meter;
    std::size_t m_hop;
    std::size_t m_sinceUpdate = 0; // frames pushed since the last hop
    std::size_t m_pushed = 0;      // frames analysed since the start
    bool m_due = false;            // a hop passed since the last update
    bool m_gap = false;            // frames were lost since the last update
    bool m_playing = false;
    std::vector<float> m_buffer;
    // The last frames analysed, for a new analyser: a ring of the longest
    // transform, m_kept of them valid, the next written at m_historyAt.
    std::vector<float> m_history = std::vector<float>(MaxTransform);
    std::size_t m_historyAt = 0;
    std::size_t m_kept = 0;
};

// Keeps the last update of a run.
class LastUpdate : public LiveObserver {
public:
    void liveUpdate(const LiveUpdate& update) override { last = update; }
    std::optional<LiveUpdate> last;
};

} // namespace

Status MeasurementSession::runAnalyser(const LiveSettings& settings, LiveObserver& observer)
{
    if (busy())
        return Error::of(Failure::Busy, "Another measurement is running");
    const int rate = m_sound.captureRate();
    if (rate <= 0)
        return Error::of(Failure::Device, "No record device is open");
    if (Status checked = SpectrumAnalyser::check(settings.spectrum, rate); !checked)
        return Error::of(Failure::BadInput, checked.message());
    if (!(settings.seconds >= 0) || !std::isfinite(settings.seconds))
        return Error::of(Failure::BadInput, "The time to analyse must be 0 (until stopped) or more seconds");

    // Set first: a wait inside the device's start runs events, and those
    // must see the session busy (and may stop it).
    m_analysing = true;
    m_liveChange.reset();
    m_liveReset = m_livePeakReset = false;
    activityChanged();

    LiveLoop loop(m_host, m_sound, settings, observer, rate,
                  LiveLoop::Requests{m_analysing, m_liveChange, m_liveReset, m_livePeakReset});
    Status outcome;
    if (Status started = m_sound.startCapture(settings.channel); !started)
        outcome = Error::of(started.kind() == Failure::Busy ? Failure::Busy : Failure::Device,
                            "Recording from the input device failed: " + started.message());
    else if (Status played = loop.startSignal(); !played)
        outcome = played;
    else
        outcome = loop.run();

    m_analysing = false;
    m_sound.stopCapture();
    if (loop.playing())
        m_sound.StopPlayback();
    m_liveChange.reset();
    m_liveReset = m_livePeakReset = false;
    activityChanged();
    return outcome;
}

void MeasurementSession::changeAnalyser(const LiveSettings& settings)
{
    if (m_analysing)
        m_liveChange = settings;
}

void MeasurementSession::resetAnalyser()
{
    if (m_analysing)
        m_liveReset = true;
}

void MeasurementSession::resetAnalyserPeak()
{
    if (m_analysing)
        m_livePeakReset = true;
}

Result<double> MeasurementSession::measureCalibration(double referenceDb, double seconds, RecordChannel channel)
{
    if (busy())
        return Error::of(Failure::Busy, "Another measurement is running");
    if (!std::isfinite(referenceDb) || !(seconds > 0) || !std::isfinite(seconds))
        return Error::of(Failure::BadInput, "The calibration needs the calibrator's level and a time to measure");
    const int rate = m_sound.captureRate();
    if (rate <= 0)
        return Error::of(Failure::Device, "No record device is open");
    // The longest transform the time holds (8192 to 32768 points): the
    // third-octave band at 1 kHz needs no finer one.
    LiveSettings s;
    s.channel = channel;
    s.seconds = seconds;
    s.weighting = FrequencyWeighting::Z;
    s.timeWeighting = TimeWeighting::Slow;
    s.spectrum.window = AnalyserWindow::Hann;
    s.spectrum.fraction = 3;
    s.spectrum.lowHz = 900;
    s.spectrum.highHz = 1100;
    s.spectrum.averaging = AnalyserAveraging::Running;
    s.spectrum.fftLength = 8192;
    while (s.spectrum.fftLength < 32768 && 2.0 * s.spectrum.fftLength <= seconds * rate)
        s.spectrum.fftLength *= 2;
    if (s.spectrum.fftLength > seconds * rate)
        return Error::of(Failure::BadInput, "The calibration needs at least " + fixed1(8192.0 / rate + 0.05)
                                                + " s of the calibrator's tone");
    LastUpdate last;
    if (Status run = runAnalyser(s, last); !run)
        return run.error();
    const SpectrumFrame* frame = last.last ? &last.last->spectrum : nullptr;
    if (!frame || frame->levelsDb.empty() || frame->transforms == 0)
        return Error::of(Failure::LowSignal, "No calibrator tone was measured");
    const double bandDb = frame->levelsDb.front();
    const double totalDb = last.last->level.leqDb;
    const double share = std::pow(10.0, (bandDb - totalDb) / 10);
    if (!std::isfinite(bandDb) || bandDb < CalibratorFloorDb)
        return Error::of(Failure::LowSignal, "No calibrator tone: the 1 kHz band reads " + fixed1(bandDb)
                                                 + " dBFS, below " + fixed1(CalibratorFloorDb) + " dBFS");
    if (!(share >= CalibratorShare))
        return Error::of(Failure::LowSignal, "No calibrator tone: the 1 kHz band holds "
                                                 + fixed1(std::clamp(share, 0.0, 1.0) * 100)
                                                 + " % of the power, less than " + fixed1(CalibratorShare * 100)
                                                 + " %");
    return referenceDb - bandDb;
}

} // namespace audimera
