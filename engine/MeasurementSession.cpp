#include "engine/MeasurementSession.h"

#include "curves/CurveFile.h"
#include "curves/DataFolder.h"
#include "curves/ExchangeFiles.h"
#include "curves/ImpulseFile.h"
#include "engine/HostWaiter.h"
#include "engine/RecoveryWriter.h"

#include <algorithm>

namespace audimera {

// The runs' observer: the session's observer when there is one, else the
// questions' defaults with the points kept in the document.
class MeasurementSession::Forwarder : public RunObserver {
public:
    static constexpr double DefaultStepFactor = 1.26;
    explicit Forwarder(MeasurementSession& session) : m_session(session) {}

    bool measuresBadBlocksAgain() const override { return to() && to()->measuresBadBlocksAgain(); }
    bool measuringAgain(double frequency, int retry) override
    {
        return !to() || to()->measuringAgain(frequency, retry);
    }
    bool showsWaveform() const override { return to() && to()->showsWaveform(); }
    bool showsSpectrum() const override { return to() && to()->showsSpectrum(); }
    double stepFactor() const override { return to() ? to()->stepFactor() : DefaultStepFactor; }
    SignalChoice signalChoice() override { return to() ? to()->signalChoice() : SignalChoice{}; }
    Status openTrace() override { return to() ? to()->openTrace() : m_session.m_document.openTrace(); }
    void playing(Sound sound, double frequency) override
    {
        if (to())
            to()->playing(sound, frequency);
    }
    void sweepProgress(int point, int points) override
    {
        if (to())
            to()->sweepProgress(point, points);
    }
    void calibrationMeasured(double snr) override
    {
        if (to())
            to()->calibrationMeasured(snr);
    }
    void pointMeasured(double frequency, double level, double snr) override
    {
        if (to())
            to()->pointMeasured(frequency, level, snr);
        else
            m_session.m_document.traces().AddPoint(frequency, level);
    }
    void levelMeasured(double level, double snr) override
    {
        if (to())
            to()->levelMeasured(level, snr);
    }
    void distortionMeasured(double frequency, const Distortion& distortion) override
    {
        if (to())
            to()->distortionMeasured(frequency, distortion);
    }
    void DrawCurve(int OsciWidth, int OsciHeight, const int16_t* RecBuffer, int First, bool CheckSat,
                   int Off) override
    {
        if (to())
            to()->DrawCurve(OsciWidth, OsciHeight, RecBuffer, First, CheckSat, Off);
    }
    void TraceFFT(const int16_t* FFTIn, float* FFTOUT, bool Satured) override
    {
        if (to())
            to()->TraceFFT(FFTIn, FFTOUT, Satured);
    }
    void inputNoted(const std::string& note) override
    {
        if (to())
            to()->inputNoted(note);
    }
    void runEnded(RunEnd why) override
    {
        if (to())
            to()->runEnded(why);
    }

private:
    SessionObserver* to() const { return m_session.m_observer; }
    MeasurementSession& m_session;
};

MeasurementSession::MeasurementSession(Host& host, SoundDevice& sound, MeasurementDocument& document)
    : m_host(host),
      m_sound(sound),
      m_document(document),
      m_forwarder(std::make_unique<Forwarder>(*this)),
      m_sweep(m_state, host, sound, *m_forwarder),
      m_signal(m_state, host, sound, *m_forwarder)
{
}

MeasurementSession::~MeasurementSession() = default;

void MeasurementSession::setObserver(SessionObserver* observer)
{
    m_observer = observer;
}

void MeasurementSession::initialiseTables()
{
    m_state.InitWhitePinkBuffers();
}

void MeasurementSession::activityChanged()
{
    if (m_observer)
        m_observer->activityChanged();
}

// ---------------------------------------------------------------- sweep and signal

void MeasurementSession::choose(int index)
{
    playAfresh();
    m_state.GenIndex = index;
}

Status MeasurementSession::runSweep(const SweepSettings& settings)
{
    // The live analyser holds the record device.
    if (analysing())
        return Error::of(Failure::Busy, "Another measurement is running");
    m_state.GenIndex = settings.plan;
    const TraceStore& traces = m_document.traces();
    const int tracesBefore = traces.GetTraceCount();
    const int pointsBefore = traces.pointCount(tracesBefore - 1);
    m_runEnd = m_sweep.run(settings);
    if (traces.GetTraceCount() != tracesBefore || traces.pointCount(tracesBefore - 1) != pointsBefore) {
        tracesChanged(SteppedSweepScale);
        keepRecovery();
    }
    return runOutcome(m_runEnd);
}

Status MeasurementSession::runSignal(const SignalSettings& settings)
{
    if (analysing())
        return Error::of(Failure::Busy, "Another measurement is running");
    m_runEnd = m_signal.run(settings);
    return runOutcome(m_runEnd);
}

void MeasurementSession::stop()
{
    stopRun(m_state, m_sound);
    // The live run ends at its next poll; its capture stops now.
    if (m_analysing) {
        m_analysing = false;
        m_sound.stopCapture();
    }
}

// ---------------------------------------------------------------- log sweep

Status MeasurementSession::runLogSweep(const LogSweepSettings& settings, const std::function<void(double)>& progress)
{
    if (!canStartLogSweep())
        return Error::of(Failure::Busy, "Another measurement is running");
    LogSweepSettings s = settings;
    if (!s.corrections)
        s.corrections = &m_logSweepCorrections;
    m_state.LogSweeping = true;
    activityChanged();
    HostWaiter waiter(m_host, m_state.LogSweeping);
    Result<LogSweepResults> measured = m_logSweepMeasurement.run(m_sound, s, waiter, progress);
    m_state.LogSweeping = false;
    activityChanged();
    if (!measured)
        return measured.error();
    // The recording kept is that of the results, so that analysing again
    // never reads a later run's that gave none.
    const int channels = s.reference == LogSweepSettings::Reference::None ? 1 : 2;
    m_logSweep = LogSweepRun{std::move(*measured), s, channels, m_logSweepMeasurement.lastRecording(), {}, {}, 0};
    const std::vector<double>& full = m_logSweepMeasurement.lastFullResponse();
    std::vector<float> impulse(full.begin(), full.end());
    // The list keeps it on the loopback reference's timing where there was
    // one, so that two runs' delays are the device's and not where the
    // streams started (the response is circular: a turn loses nothing).
    if (const auto n = static_cast<std::ptrdiff_t>(impulse.size()); n > 0) {
        const std::ptrdiff_t lead = ((m_logSweepMeasurement.lastReferenceLead() % n) + n) % n;
        std::rotate(impulse.begin(), impulse.begin() + lead, impulse.end());
    }
    m_logSweep->measurement = addMeasurement("logsweep", std::move(impulse));
    keepRecovery();
    return {};
}

Status MeasurementSession::reanalyseLogSweep(const LogSweepSettings& settings)
{
    if (!m_logSweep || logSweeping())
        return Error::of(Failure::BadInput, "No log sweep to analyse");
    LogSweepSettings s = m_logSweep->settings;
    s.smoothing = settings.smoothing;
    s.gateMs = settings.gateMs;
    s.gateTaperMs = settings.gateTaperMs;
    s.phaseRef = settings.phaseRef;
    s.phaseDelayMs = settings.phaseDelayMs;
    s.corrections = settings.corrections ? settings.corrections : &m_logSweepCorrections;
    const std::vector<float>& recording = m_logSweep->recording;
    const int rate = m_logSweep->results.rate;
    Result<LogSweepResults> analysed = Error::of(Failure::Other, "");
    if (!m_logSweep->file.empty()) {
        // An opened response: no sweep to deconvolve.
        analysed = LogSweepMeasurement::analyseImpulse(recording.data(), recording.size(), rate, s);
    } else {
        const Result<LogSweep> sweep = LogSweep::make(s.shape(rate));
        if (!sweep)
            return Error::of(Failure::BadInput, sweep.message());
        const std::size_t frames = recording.size() / static_cast<std::size_t>(m_logSweep->channels);
        analysed = m_logSweepMeasurement.analyse(*sweep, s, recording.data(), frames, m_logSweep->channels);
    }
    if (!analysed)
        return analysed.error();
    m_logSweep->results = std::move(*analysed);
    m_logSweep->settings = s;
    m_logSweep->room.reset();
    return {};
}

Status MeasurementSession::openImpulseResponse(const std::string& path, int channel, const LogSweepSettings& settings)
{
    if (!canStartLogSweep())
        return Error::of(Failure::Busy, "Another measurement is running");
    Result<ImpulseFile::Impulse> read = ImpulseFile::read(path, channel);
    if (!read)
        return Error::of(Failure::File, "Error loading file '" + path + "' : " + read.message());
    LogSweepSettings s = settings;
    if (!s.corrections)
        s.corrections = &m_logSweepCorrections;
    s.reference = LogSweepSettings::Reference::None;
    Result<LogSweepResults> analysed =
        LogSweepMeasurement::analyseImpulse(read->samples.data(), read->samples.size(), read->rate, s);
    if (!analysed)
        return analysed.error();
    s.length = s.lengthAt(read->rate);
    m_logSweep = LogSweepRun{std::move(*analysed), s, 1, std::move(read->samples), path, {}, 0};
    m_logSweep->measurement = addMeasurement("impulse", m_logSweep->recording);
    keepRecovery();
    return {};
}

// ---------------------------------------------------------------- corrections

CorrectionTable& MeasurementSession::corrections(CorrectionUse use)
{
    return use == CorrectionUse::LogSweep ? m_logSweepCorrections : m_document.corrections();
}

Status MeasurementSession::loadCorrection(CorrectionUse use, int slot, const std::string& path)
{
    if (slot < 0 || slot >= CorrectionTable::Count)
        return Error::of(Failure::BadInput, "No such correction");
    CorrectionTable& table = corrections(use);
    // Off first: nothing is ever corrected with a half-loaded column.
    table.enabled[slot] = false;
    Status loaded = table.load(slot, path);
    if (!loaded)
        return Error::of(Failure::File, loaded.message());
    m_correctionFiles[static_cast<std::size_t>(use)][static_cast<std::size_t>(slot)] =
        CorrectionFile{path, correctionText(DataFolder::locate(path, table.dataFolder()))};
    return {};
}

Status MeasurementSession::enableCorrection(CorrectionUse use, int slot)
{
    if (slot < 0 || slot >= CorrectionTable::Count)
        return Error::of(Failure::BadInput, "No such correction");
    CorrectionTable& table = corrections(use);
    table.enabled[slot] = true;
    if (const auto at = table.nonFiniteSumAt()) {
        table.enabled[slot] = false;
        return Error::of(Failure::File, CorrectionTable::nonFiniteSumMessage(*at));
    }
    return {};
}

void MeasurementSession::disableCorrection(CorrectionUse use, int slot)
{
    if (slot >= 0 && slot < CorrectionTable::Count)
        corrections(use).enabled[slot] = false;
}

// ---------------------------------------------------------------- traces

Status MeasurementSession::addTrace(const std::vector<ResponsePoint>& points, const std::string& name,
                                    const std::string& scale)
{
    if (Status put = putTrace(points, name); !put)
        return put;
    tracesChanged(scale);
    keepRecovery();
    return {};
}

Status MeasurementSession::putTrace(const std::vector<ResponsePoint>& points, const std::string& name)
{
    if (sweeping())
        return Error::of(Failure::Busy, "A sweep is adding to the newest trace");
    if (points.empty())
        return Error::of(Failure::BadInput, "No points");
    if (Status opened = m_document.openTrace(); !opened)
        return opened;
    const std::size_t n = points.size();
    const std::size_t keep = std::min<std::size_t>(n, TraceStore::MaxPoints);
    for (std::size_t j = 0; j < keep; ++j) {
        const ResponsePoint& p = points[keep == 1 ? 0 : j * (n - 1) / (keep - 1)];
        if (p.phase)
            m_document.traces().AddPoint(p.frequency, p.level, *p.phase);
        else
            m_document.traces().AddPoint(p.frequency, p.level);
    }
    m_document.setTraceName(m_document.traces().GetTraceCount() - 1, name);
    return {};
}

Status MeasurementSession::loadTrace(const std::string& path)
{
    // The reader stops at what one trace holds and reports it, so a huge
    // file never writes past the store.
    std::vector<ResponsePoint> points;
    const Status read = CurveFile::read(path, TraceStore::MaxPoints, points);
    bool opened = false;
    for (const ResponsePoint& p : points) {
        if (!opened) {
            // Should the store be full, no other curve is appended to.
            if (Status open = m_document.openTrace(); !open)
                return Error::of(Failure::Busy, open.message());
            opened = true;
        }
        if (p.phase)
            m_document.traces().AddPoint(p.frequency, p.level, *p.phase);
        else
            m_document.traces().AddPoint(p.frequency, p.level);
    }
    if (!read) {
        if (opened) {
            tracesChanged();
            keepRecovery();
        }
        return Error::of(Failure::File, "Error loading file '" + path + "' : " + read.message());
    }
    if (!opened)
        return Error::of(Failure::BadInput, "Bad file, no points were found !");
    const std::size_t slash = path.find_last_of('/');
    m_document.setTraceName(m_document.traces().GetTraceCount() - 1,
                            slash == std::string::npos ? path : path.substr(slash + 1));
    tracesChanged();
    keepRecovery();
    return {};
}

Status MeasurementSession::exportTrace(const std::string& path, TraceFormat format)
{
    Status written;
    if (format == TraceFormat::Curve) {
        const std::vector<CurvePoint> points = m_document.lastTrace();
        if (points.empty())
            return {};
        written = CurveFile::write(path, points);
    } else {
        const std::vector<ResponsePoint> points = m_document.lastResponse();
        if (points.empty())
            return {};
        written = format == TraceFormat::Csv
            ? ExchangeFiles::writeCsv(path, points)
            : ExchangeFiles::writeFrd(path, points,
                                      {"Audimera frequency response", "frequency (Hz)  level (dB)  phase (degrees)"});
    }
    if (!written)
        return Error::of(Failure::File, CurveFile::saveError(path, written.message()));
    return {};
}

void MeasurementSession::clearTraces()
{
    m_document.traces().ClearAllTraces();
    tracesChanged();
    keepRecovery();
}

// ---------------------------------------------------------------- room acoustics

Status MeasurementSession::analyseRoom(const RoomSettings& settings)
{
    if (!m_logSweep || logSweeping())
        return Error::of(logSweeping() ? Failure::Busy : Failure::BadInput, "No impulse response to analyse");
    m_logSweep->room.reset();
    const std::vector<float>& impulse = m_logSweep->results.impulse;
    Result<RoomResults> room = m_roomAcoustics.analyse(impulse.data(), impulse.size(), m_logSweep->results.rate, settings);
    if (!room)
        return room.error();
    m_logSweep->room = std::move(*room);
    return {};
}

} // namespace audimera

