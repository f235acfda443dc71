// MeasurementSession's measurements, trace notes and session files: what a
// log sweep or an opened impulse response adds to the measurement list, the
// session as data (SessionData), saving and opening it, and the recovery
// file kept after every change. UI thread only.
#include "engine/MeasurementSession.h"

#include "curves/DataFolder.h"
#include "curves/FieldReader.h"
#include "engine/RecoveryWriter.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <unistd.h>

namespace audimera {

namespace {

const char* referenceName(LogSweepSettings::Reference r)
{
    switch (r) {
    case LogSweepSettings::Reference::Left: return "left";
    case LogSweepSettings::Reference::Right: return "right";
    default: return "none";
    }
}

const char* channelName(RecordChannel c)
{
    switch (c) {
    case RecordChannel::Left: return "left";
    case RecordChannel::Right: return "right";
    default: return "mix";
    }
}

const char* phaseRefName(LogSweepSettings::PhaseRef p)
{
    switch (p) {
    case LogSweepSettings::PhaseRef::Peak: return "peak";
    case LogSweepSettings::PhaseRef::Reference: return "reference";
    case LogSweepSettings::PhaseRef::Delay: return "delay";
    default: return "auto";
    }
}

// The settings a log sweep was measured with, field by field (the length
// as played, at the measurement's rate).
std::string settingsJson(const LogSweepSettings& s, int rate)
{
    const nlohmann::json j = {
        {"start", s.start},
        {"stop", s.stop},
        {"length", s.lengthAt(rate)},
        {"lengthSeconds", s.lengthSeconds},
        {"levelDb", s.levelDb},
        {"reference", referenceName(s.reference)},
        {"channel", channelName(s.channel)},
        {"gateMs", s.gateMs},
        {"gateTaperMs", s.gateTaperMs},
        {"phaseRef", phaseRefName(s.phaseRef)},
        {"phaseDelayMs", s.phaseDelayMs},
        {"smoothing", s.smoothing},
        {"pointsPerOctave", s.pointsPerOctave},
    };
    return j.dump();
}

// What the user sees of entry index of a device list (its name without a
// description); empty for none.
std::string deviceName(const std::vector<SoundDeviceInfo>& list, int index)
{
    if (index < 0 || index >= static_cast<int>(list.size()))
        return {};
    const SoundDeviceInfo& d = list[static_cast<std::size_t>(index)];
    return d.description.empty() ? d.name : d.description;
}

// The user's data folder for the program: $XDG_DATA_HOME/audimera, or
// ~/.local/share/audimera.
std::filesystem::path userDataFolder()
{
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/')
        return std::filesystem::path(xdg) / "audimera";
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : "/tmp") / ".local/share/audimera";
}

// Writes text to path through a temporary file and a rename.
bool writeAtomically(const std::filesystem::path& path, const std::string& text)
{
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    const std::filesystem::path temporary = path.string() + ".tmp" + std::to_string(::getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out) {
            std::filesystem::remove(temporary, ec);
            return false;
        }
    }
    std::filesystem::rename(temporary, path, ec);
    if (ec)
        std::filesystem::remove(temporary, ec);
    return !ec;
}

// Trace t's points in Hz and dB, by ascending frequency (a loaded file may
// run either way); the store keeps 100 log10(f) and hundredths of a dB.
std::vector<CurvePoint> tracePoints(const TraceStore& store, int t)
{
    std::vector<CurvePoint> points;
    for (int i = 0; i < store.pointCount(t); ++i)
        points.push_back({std::pow(10.0, store.traceX(t)[i] / 100.0), store.traceY(t)[i] / 100.0});
    std::sort(points.begin(), points.end(),
              [](const CurvePoint& a, const CurvePoint& b) { return a.frequency < b.frequency; });
    return points;
}

bool sameNote(const SessionTrace& a, const SessionTrace& b)
{
    return a.name == b.name && a.slot == b.slot && a.offsetDb == b.offsetDb && a.shown == b.shown && a.scale == b.scale;
}

} // namespace

std::string MeasurementSession::correctionText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    std::string text;
    text.reserve(4096);
    char buffer[65536];
    while (in && text.size() < static_cast<std::size_t>(FieldReader::MaxBytes)) {
        in.read(buffer, sizeof buffer);
        text.append(buffer, static_cast<std::size_t>(in.gcount()));
    }
    return text;
}

std::string MeasurementSession::correctionPath(CorrectionUse use, int slot) const
{
    if (slot < 0 || slot >= CorrectionTable::Count)
        return {};
    return m_correctionFiles[static_cast<std::size_t>(use)][static_cast<std::size_t>(slot)].path;
}

// ---------------------------------------------------------------- measurements

int MeasurementSession::addMeasurement(const std::string& kind, const std::vector<float>& impulse)
{
    const LogSweepRun& run = *m_logSweep;
    SessionMeasurement m;
    m.kind = kind;
    m.date = MeasurementList::now();
    if (kind == "logsweep") {
        m.playDevice = deviceName(m_sound.playDevices(), m_sound.outputDevice());
        m.recordDevice = deviceName(m_sound.recordDevices(), m_sound.inputDevice());
        m.playRate = m_sound.outputDeviceRate();
        m.recordRate = m_sound.inputDeviceRate();
    }
    m.rate = run.results.rate;
    m.settingsJson = settingsJson(run.settings, run.results.rate);
    m.impulse = impulse;
    // The curves it was corrected with: those ticked in the table it used.
    const CorrectionTable* table = run.settings.corrections;
    for (const CorrectionUse use : {CorrectionUse::Main, CorrectionUse::LogSweep}) {
        if (table != &corrections(use))
            continue;
        for (int slot = 0; slot < CorrectionTable::Count; ++slot)
            if (table->enabled[static_cast<std::size_t>(slot)])
                m.corrections.push_back(
                    m_correctionFiles[static_cast<std::size_t>(use)][static_cast<std::size_t>(slot)].path);
    }
    m.clockOffsetPpm = run.results.clockOffsetPpm.value_or(0.0);
    // With a loopback reference the delay is already the reference's.
    m.delayMs = run.results.delaySeconds() * 1000.0;
    return m_measurements.add(std::move(m));
}

// ---------------------------------------------------------------- trace notes

std::vector<SessionTrace> MeasurementSession::syncedNotes(const std::string& scale) const
{
    std::vector<SessionTrace> notes = m_traceNotes;
    const int count = m_document.traces().GetTraceCount();
    notes.resize(std::min<std::size_t>(notes.size(), static_cast<std::size_t>(count)));
    for (int t = static_cast<int>(notes.size()); t < count; ++t) {
        SessionTrace note;
        note.name = m_document.traceName(t);
        note.slot = t;
        note.scale = scale;
        notes.push_back(std::move(note));
    }
    return notes;
}

void MeasurementSession::syncTraceNotes(const std::string& scale)
{
    m_traceNotes = syncedNotes(scale);
    showTraceLooks();
}

std::vector<SessionTrace>& MeasurementSession::traceNotes()
{
    syncTraceNotes();
    return m_traceNotes;
}

void MeasurementSession::tracesChanged(const std::string& scale)
{
    // A note made for the newest trace while it was being measured (a window
    // asked for the notes meanwhile) learns its scale now.
    if (!scale.empty() && !m_traceNotes.empty()
        && static_cast<int>(m_traceNotes.size()) == m_document.traces().GetTraceCount()
        && m_traceNotes.back().scale.empty())
        m_traceNotes.back().scale = scale;
    syncTraceNotes(scale);
    ++m_traceChanges;
}

bool MeasurementSession::notesChanged(const std::vector<SessionTrace>& since) const
{
    const std::vector<SessionTrace> now = syncedNotes({});
    return !std::equal(now.begin(), now.end(), since.begin(), since.end(), sameNote);
}

// ---------------------------------------------------------------- session data

SessionData MeasurementSession::sessionData() const
{
    SessionData data;
    const TraceStore& store = m_document.traces();
    const int count = store.GetTraceCount();
    std::vector<SessionTrace> notes = syncedNotes({});
    for (int t = 0; t < count; ++t) {
        SessionTrace trace = notes[static_cast<std::size_t>(t)];
        const int n = store.pointCount(t);
        std::vector<double> exact, levels;
        if (t == count - 1 && store.GetLastTraceData(exact, levels) == n && n > 0) {
            // The newest trace keeps its frequencies as given, and its phase.
            trace.frequencies = std::move(exact);
            std::vector<double> phase;
            if (store.lastTracePhase(phase))
                trace.phaseDeg = std::move(phase);
        } else {
            const double* x = store.traceX(t);
            for (int i = 0; i < n; ++i)
                trace.frequencies.push_back(std::pow(10.0, x[i] / 100.0));
        }
        const double* y = store.traceY(t);
        trace.levelsDb.assign(y, y + n);
        for (double& level : trace.levelsDb)
            level /= 100.0;
        data.traces.push_back(std::move(trace));
    }

    const PlotSettings& plot = m_document.plot();
    for (std::size_t i = 0; i < PlotSettings::DBRangeItems.size(); ++i)
        if (PlotSettings::DBRangeItems[i].data == plot.dbSpan)
            data.plot.rangeIndex = static_cast<int>(i);
    data.plot.dbCentre = plot.dbCentre;
    data.plot.smooth = plot.smooth;

    for (const CorrectionUse use : {CorrectionUse::Main, CorrectionUse::LogSweep}) {
        const CorrectionTable& table =
            use == CorrectionUse::Main ? m_document.corrections() : m_logSweepCorrections;
        for (int slot = 0; slot < CorrectionTable::Count; ++slot) {
            const CorrectionFile& file = m_correctionFiles[static_cast<std::size_t>(use)][static_cast<std::size_t>(slot)];
            if (file.path.empty())
                continue;
            data.corrections.push_back({use == CorrectionUse::Main ? "main" : "logsweep", slot, file.path, file.content,
                                        table.enabled[static_cast<std::size_t>(slot)]});
        }
    }

    for (const Measurement& m : m_measurements.items())
        data.measurements.push_back(m.data);
    return data;
}

// ---------------------------------------------------------------- save, open, recover

Status MeasurementSession::saveSession(const std::string& path)
{
    if (Status written = SessionFile::write(path, sessionData()); !written)
        return written;
    m_savedChanges = m_recoveredChanges = changeCount();
    m_savedNotes = m_recoveredNotes = syncedNotes({});
    if (!m_recoveryFile.empty())
        m_recovery->discard(m_recoveryFile);
    return {};
}

Result<std::vector<std::string>> MeasurementSession::openSession(const std::string& path)
{
    if (busy())
        return Error::of(Failure::Busy, "Another measurement is running");
    Result<SessionFile::Opened> read = SessionFile::read(path);
    if (!read)
        return read.error();
    SessionData& data = read->data;
    std::vector<std::string> skipped = std::move(read->skipped);

    // From here nothing fails: what cannot be taken is listed instead.
    // Traces, through the document as loadTrace adds them.
    m_document.traces().ClearAllTraces();
    m_traceNotes.clear();
    for (SessionTrace& trace : data.traces) {
        if (m_document.traces().GetTraceCount() >= TraceStore::MaxTraces) {
            skipped.push_back("Trace '" + trace.name + "': the plot holds no more traces");
            continue;
        }
        std::vector<ResponsePoint> points;
        const std::size_t n = std::min(trace.frequencies.size(), trace.levelsDb.size());
        for (std::size_t i = 0; i < n; ++i) {
            ResponsePoint p{trace.frequencies[i], trace.levelsDb[i], std::nullopt};
            if (i < trace.phaseDeg.size() && std::isfinite(trace.phaseDeg[i]))
                p.phase = trace.phaseDeg[i];
            points.push_back(p);
        }
        if (points.empty() || !putTrace(points, trace.name)) {
            skipped.push_back("Trace '" + trace.name + "': no points");
            continue;
        }
        trace.frequencies.clear();
        trace.levelsDb.clear();
        trace.phaseDeg.clear();
        m_traceNotes.push_back(std::move(trace));
    }

    PlotSettings& plot = m_document.plot();
    if (data.plot.rangeIndex >= 0 && data.plot.rangeIndex < static_cast<int>(PlotSettings::DBRangeItems.size()))
        plot.dbSpan = PlotSettings::DBRangeItems[static_cast<std::size_t>(data.plot.rangeIndex)].data;
    if (std::isfinite(data.plot.dbCentre))
        plot.dbCentre = static_cast<int>(std::lround(data.plot.dbCentre));
    plot.smooth = data.plot.smooth;

    // Corrections: each from its path while that still exists, else from the
    // text the file kept, written to the user's data folder and loaded from
    // there (the curve reader reads files only). Slots the file names no
    // curve for are switched off.
    for (const CorrectionUse use : {CorrectionUse::Main, CorrectionUse::LogSweep})
        for (int slot = 0; slot < CorrectionTable::Count; ++slot)
            disableCorrection(use, slot);
    for (const SessionCorrection& c : data.corrections) {
        const bool main = c.use == "main";
        if ((!main && c.use != "logsweep") || c.slot < 0 || c.slot >= CorrectionTable::Count) {
            skipped.push_back("Correction '" + c.path + "': no such use or slot");
            continue;
        }
        const CorrectionUse use = main ? CorrectionUse::Main : CorrectionUse::LogSweep;
        std::string from = c.path;
        std::error_code ec;
        if (!std::filesystem::is_regular_file(DataFolder::locate(c.path, corrections(use).dataFolder()), ec)) {
            const std::string name = std::filesystem::path(c.path).filename().string();
            const std::filesystem::path kept = userDataFolder() / "session-corrections" / (name.empty() ? "curve.txt" : name);
            if (!writeAtomically(kept, c.content)) {
                skipped.push_back("Correction '" + c.path + "': could not be written to " + kept.string());
                continue;
            }
            from = kept.string();
        }
        if (Status loaded = loadCorrection(use, c.slot, from); !loaded) {
            skipped.push_back("Correction '" + c.path + "': " + loaded.message());
            continue;
        }
        if (c.enabled)
            if (Status on = enableCorrection(use, c.slot); !on)
                skipped.push_back("Correction '" + c.path + "': " + on.message());
    }

    showTraceLooks();
    m_measurements.replace(std::move(data.measurements));
    ++m_traceChanges;
    m_savedChanges = m_recoveredChanges = changeCount();
    m_savedNotes = m_recoveredNotes = syncedNotes({});
    if (!m_recoveryFile.empty())
        m_recovery->discard(m_recoveryFile);
    return skipped;
}

void MeasurementSession::setRecoveryFile(const std::string& path)
{
    if (m_recovery && !m_recoveryFile.empty())
        m_recovery->flush();
    else if (!m_recovery && !path.empty())
        m_recovery = std::make_unique<RecoveryWriter>();
    m_recoveryFile = path;
    // Nothing written there yet: the next keepRecovery() writes if anything
    // is unsaved.
    m_recoveredChanges = m_savedChanges;
    m_recoveredNotes = m_savedNotes;
}

void MeasurementSession::keepRecovery()
{
    if (m_recoveryFile.empty())
        return;
    // A failed write leaves the last recovery file; the next call tries again.
    if (changeCount() == m_recoveredChanges && !notesChanged(m_recoveredNotes) && !m_recovery->failed())
        return;
    m_recoveredChanges = changeCount();
    m_recoveredNotes = syncedNotes({});
    // Nothing left to recover (traces and measurements cleared): no file.
    if (m_document.traces().GetTraceCount() == 0 && m_measurements.items().empty()) {
        m_recovery->discard(m_recoveryFile);
        return;
    }
    // A large session takes a few hundred ms to write: the writer's thread
    // does it, from a copy, while the window goes on.
    m_recovery->post(m_recoveryFile, sessionData());
}

void MeasurementSession::flushRecovery()
{
    if (m_recovery)
        m_recovery->flush();
}

bool MeasurementSession::unsavedWork() const
{
    return changeCount() != m_savedChanges || notesChanged(m_savedNotes);
}

// ---------------------------------------------------------------- measurements shown

Result<const SessionMeasurement*> MeasurementSession::measurementFor(int id, LogSweepSettings& s) const
{
    const Measurement* m = m_measurements.find(id);
    if (!m)
        return Error::of(Failure::BadInput, "No such measurement");
    if (m->data.impulse.empty() || m->data.rate <= 0)
        return Error::of(Failure::BadInput, "'" + m->data.name + "' holds no impulse response");
    if (!s.corrections)
        s.corrections = &m_logSweepCorrections;
    s.reference = LogSweepSettings::Reference::None;
    // The range it was measured over, where its settings say.
    const nlohmann::json j = nlohmann::json::parse(m->data.settingsJson, nullptr, false);
    if (j.is_object()) {
        const auto number = [&](const char* key, double& into) {
            if (const auto it = j.find(key); it != j.end() && it->is_number() && std::isfinite(it->get<double>())
                                              && it->get<double>() > 0)
                into = it->get<double>();
        };
        number("start", s.start);
        number("stop", s.stop);
    }
    // "Align" moved it by alignMs: a fixed phase reference moves with it.
    if (s.phaseRef == LogSweepSettings::PhaseRef::Delay)
        s.phaseDelayMs -= m->data.alignMs;
    return &m->data;
}

Result<LogSweepResults> MeasurementSession::analyseMeasurement(int id, const LogSweepSettings& settings) const
{
    LogSweepSettings s = settings;
    Result<const SessionMeasurement*> m = measurementFor(id, s);
    if (!m)
        return m.error();
    const std::vector<float>& impulse = (*m)->impulse;
    return LogSweepMeasurement::analyseImpulse(impulse.data(), impulse.size(), (*m)->rate, s);
}

Status MeasurementSession::showMeasurement(int id, const LogSweepSettings& settings)
{
    if (!canStartLogSweep())
        return Error::of(Failure::Busy, "Another measurement is running");
    LogSweepSettings s = settings;
    Result<const SessionMeasurement*> m = measurementFor(id, s);
    if (!m)
        return m.error();
    const std::vector<float>& impulse = (*m)->impulse;
    Result<LogSweepResults> analysed = LogSweepMeasurement::analyseImpulse(impulse.data(), impulse.size(), (*m)->rate, s);
    if (!analysed)
        return analysed.error();
    s.length = s.lengthAt((*m)->rate);
    // Shown as an opened response: analysing it again reads its impulse
    // response, and its name stands where a file's would.
    m_logSweep = LogSweepRun{std::move(*analysed), s, 1, impulse, (*m)->name, {}, id};
    return {};
}

Status MeasurementSession::addMeasurementTraces(const std::vector<int>& ids, const LogSweepSettings& settings)
{
    for (int id : ids) {
        Result<LogSweepResults> analysed = analyseMeasurement(id, settings);
        if (!analysed)
            return analysed.error();
        if (Status added = addTrace(analysed->response, m_measurements.find(id)->data.name); !added)
            return added;
    }
    return {};
}

// ---------------------------------------------------------------- trace notes edited

Status MeasurementSession::setTraceNote(int t, const SessionTrace& note)
{
    std::vector<SessionTrace>& notes = traceNotes();
    if (t < 0 || t >= static_cast<int>(notes.size()))
        return Error::of(Failure::BadInput, "No such trace");
    if (!std::isfinite(note.offsetDb))
        return Error::of(Failure::BadInput, "The offset is not a number");
    SessionTrace& kept = notes[static_cast<std::size_t>(t)];
    if (kept.name != note.name)
        m_document.setTraceName(t, note.name);
    kept.name = note.name;
    kept.offsetDb = note.offsetDb;
    kept.shown = note.shown;
    showTraceLooks();
    return {};
}

Status MeasurementSession::normaliseTraces(double hz)
{
    if (!(hz > 0) || !std::isfinite(hz))
        return Error::of(Failure::BadInput, "The frequency must be above 0 Hz");
    std::vector<SessionTrace>& notes = traceNotes();
    const TraceStore& store = m_document.traces();
    std::string missed;
    for (int t = 0; t < static_cast<int>(notes.size()); ++t) {
        const std::vector<CurvePoint> points = tracePoints(store, t);
        std::optional<double> level;
        if (!points.empty() && hz >= points.front().frequency && hz <= points.back().frequency)
            level = interpolateLog(points, hz);
        if (!level) {
            missed += (missed.empty() ? "" : ", ") + (notes[static_cast<std::size_t>(t)].name.empty()
                                                          ? "trace " + std::to_string(t + 1)
                                                          : "'" + notes[static_cast<std::size_t>(t)].name + "'");
            continue;
        }
        notes[static_cast<std::size_t>(t)].offsetDb = -*level;
    }
    showTraceLooks();
    if (!missed.empty())
        return Error::of(Failure::BadInput, "Not normalised, as they do not reach that frequency: " + missed);
    return {};
}

void MeasurementSession::showTraceLooks()
{
    PlotSettings& plot = m_document.plot();
    for (std::size_t t = 0; t < plot.traceOffsetDb.size(); ++t) {
        const bool noted = t < m_traceNotes.size();
        plot.traceOffsetDb[t] = noted ? m_traceNotes[t].offsetDb : 0.0;
        plot.traceShown[t] = noted ? m_traceNotes[t].shown : true;
    }
}

Status MeasurementSession::averageTraces(const std::vector<int>& traces, AverageMode mode)
{
    if (mode == AverageMode::Vector)
        return Error::of(Failure::BadInput, "Traces keep no phase to average as vectors: average the measurements instead");
    std::vector<SessionTrace>& notes = traceNotes();
    const TraceStore& store = m_document.traces();
    if (traces.size() < 2)
        return Error::of(Failure::BadInput, "An average needs at least two traces");
    // Each trace's points, and the range every trace reaches.
    std::vector<std::vector<CurvePoint>> points;
    double low = 0, high = std::numeric_limits<double>::infinity();
    for (int t : traces) {
        if (t < 0 || t >= static_cast<int>(notes.size()) || store.pointCount(t) < 2)
            return Error::of(Failure::BadInput, "No such trace, or one of fewer than two points");
        points.push_back(tracePoints(store, t));
        low = std::max(low, points.back().front().frequency);
        high = std::min(high, points.back().back().frequency);
    }
    GridResponse first;
    for (const CurvePoint& p : points[0])
        if (p.frequency >= low && p.frequency <= high && (first.frequencies.empty() || p.frequency > first.frequencies.back()))
            first.frequencies.push_back(p.frequency);
    if (first.frequencies.size() < 2)
        return Error::of(Failure::BadInput, "The traces share no range of frequencies");
    std::vector<GridResponse> grids(traces.size(), first);
    for (std::size_t k = 0; k < traces.size(); ++k)
        for (double f : first.frequencies)
            grids[k].magnitude.push_back(std::pow(
                10.0, (interpolateLog(points[k], f) + notes[static_cast<std::size_t>(traces[k])].offsetDb) / 20.0));
    Result<GridResponse> averaged = ResponseAverage::ofGrids(grids, mode);
    if (!averaged)
        return averaged.error();
    std::vector<ResponsePoint> average;
    for (std::size_t i = 0; i < averaged->frequencies.size(); ++i)
        average.push_back({averaged->frequencies[i], 20.0 * std::log10(averaged->magnitude[i]), std::nullopt});
    std::string scale = notes[static_cast<std::size_t>(traces[0])].scale;
    for (int t : traces)
        if (notes[static_cast<std::size_t>(t)].scale != scale)
            scale.clear();
    return addTrace(average, "Average of " + std::to_string(traces.size()) + " traces (" + averageModeName(mode) + ")",
                    scale);
}

// ---------------------------------------------------------------- where the recovery file lives

std::string MeasurementSession::recoveryPath()
{
    return (userDataFolder() / "recovery.audimera").string();
}

std::string MeasurementSession::lastSessionPath()
{
    return (userDataFolder() / "last-session.audimera").string();
}

bool MeasurementSession::takeLeftRecovery(const std::string& path)
{
    // Only an exit with unsaved work leaves the file: a saved or cleared
    // session removes it.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return false;
    std::filesystem::rename(path, lastSessionPath(), ec);
    return !ec;
}

} // namespace audimera
