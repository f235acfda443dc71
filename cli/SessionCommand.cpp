#include "cli/SessionCommand.h"

#include "cli/CommandSetup.h"
#include "cli/ExitCode.h"
#include "curves/CurveFile.h"
#include "curves/ImpulseFile.h"
#include "engine/SessionFile.h"
#include "engine/TraceStore.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <ostream>
#include <sys/stat.h>

namespace audimera {

namespace MeasureCommand {

namespace {

struct Options {
    std::string file;
    std::string extractDir; // --extract
    bool make = false;      // --make
    std::vector<std::string> impulses, traces;
};

Status parse(const std::vector<std::string>& args, Options& o)
{
    auto bad = [](std::string what) { return Error::of(Failure::BadInput, std::move(what)); };
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string v;
        if (a == "--extract") {
            if (!takeValue(args, i, o.extractDir))
                return bad("--extract needs a folder");
        } else if (a == "--make") {
            o.make = true;
        } else if (a == "--ir" || a == "--trace") {
            if (!takeValue(args, i, v))
                return bad(a + " needs a file");
            (a == "--ir" ? o.impulses : o.traces).push_back(v);
        } else if (a.rfind("--", 0) == 0) {
            return bad("unknown option '" + a + "'");
        } else if (!o.file.empty()) {
            return bad("session takes one session file");
        } else {
            o.file = a;
        }
    }
    if (o.file.empty())
        return bad("session needs a session file");
    if (o.make && !o.extractDir.empty())
        return bad("--make and --extract cannot go together");
    if (!o.make && (!o.impulses.empty() || !o.traces.empty()))
        return bad("--ir and --trace go with --make");
    if (o.make && o.impulses.empty() && o.traces.empty())
        return bad("--make needs at least one --ir or --trace");
    if (o.traces.size() > static_cast<std::size_t>(TraceStore::MaxTraces))
        return bad("a session holds at most " + std::to_string(TraceStore::MaxTraces) + " traces");
    return {};
}

std::string quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

int list(const std::string& path, const SessionFile::Opened& opened, std::ostream& out)
{
    const SessionData& d = opened.data;
    out << "Session file " << path << '\n' << "Traces: " << d.traces.size() << '\n';
    for (std::size_t i = 0; i < d.traces.size(); ++i) {
        const SessionTrace& t = d.traces[i];
        out << "  " << i + 1 << "  " << quoted(t.name) << ", " << t.frequencies.size() << " points"
            << (t.phaseDeg.empty() ? "" : ", with phase") << ", slot " << t.slot;
        if (t.offsetDb != 0)
            out << ", offset " << t.offsetDb << " dB";
        out << (t.shown ? "" : ", hidden") << (t.scale.empty() ? "" : ", " + t.scale) << '\n';
    }
    out << "Measurements: " << d.measurements.size() << '\n';
    for (std::size_t i = 0; i < d.measurements.size(); ++i) {
        const SessionMeasurement& m = d.measurements[i];
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.3f s", m.rate > 0 ? static_cast<double>(m.impulse.size()) / m.rate : 0.0);
        out << "  " << i + 1 << "  " << quoted(m.name) << ", " << (m.date.empty() ? "no date" : m.date) << ", "
            << m.rate << " Hz, " << m.impulse.size() << " samples (" << seconds << ")"
            << (m.kind.empty() ? "" : ", " + m.kind) << '\n';
    }
    if (!d.corrections.empty())
        out << "Corrections: " << d.corrections.size() << '\n';
    if (!opened.skipped.empty()) {
        out << "Skipped: " << opened.skipped.size() << '\n';
        for (const std::string& line : opened.skipped)
            out << "  " << line << '\n';
    }
    return Measured;
}

std::string member(const std::string& dir, const char* stem, std::size_t index, const char* extension)
{
    char name[64];
    std::snprintf(name, sizeof name, "%s-%03zu.%s", stem, index + 1, extension);
    return (std::filesystem::path(dir) / name).string();
}

// Writes every impulse response and trace into dir (made when missing),
// each under the save rules; an existing file is never replaced: the first
// one found stops the command before anything is written. A trace FRD
// cannot hold (a level that is not finite) is said and left out.
int extract(const SessionData& d, const std::string& dir, std::ostream& err)
{
    const auto fileError = [&err](const std::string& path, const std::string& why) {
        err << CurveFile::saveError(path, why) << '\n';
        return FileError;
    };
    if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST)
        return fileError(dir, std::strerror(errno));
    std::vector<std::pair<std::string, std::string>> files;
    for (std::size_t i = 0; i < d.measurements.size(); ++i) {
        const SessionMeasurement& m = d.measurements[i];
        if (m.impulse.empty())
            continue;
        const std::string path = member(dir, "measurement", i, "wav");
        Result<std::string> wav = ImpulseFile::wavBytes(m.impulse, m.rate);
        if (!wav)
            return fileError(path, wav.message());
        files.emplace_back(path, std::move(*wav));
    }
    for (std::size_t i = 0; i < d.traces.size(); ++i) {
        const std::string path = member(dir, "trace", i, "frd");
        Result<std::string> frd = SessionFile::traceFrd(d.traces[i]);
        // A level that is not finite (null in session.json) has no FRD.
        if (!frd)
            err << "Not written: trace " << i + 1 << " (" << frd.message() << ")\n";
        else
            files.emplace_back(path, std::move(*frd));
    }
    for (const auto& [path, bytes] : files) {
        struct stat st;
        if (::lstat(path.c_str(), &st) == 0)
            return fileError(path, "the file exists; session --extract replaces none");
    }
    for (const auto& [path, bytes] : files) {
        if (const Status saved = CurveFile::writeText(path, bytes); !saved)
            return fileError(path, saved.message());
        err << "Written " << path << '\n';
    }
    return Measured;
}

std::string modificationTime(const std::string& path)
{
    struct stat st;
    std::tm local{};
    char text[32] = "";
    if (::stat(path.c_str(), &st) == 0 && localtime_r(&st.st_mtime, &local))
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

int make(const Options& o, std::ostream& err)
{
    std::vector<std::string> inputs = o.impulses;
    inputs.insert(inputs.end(), o.traces.begin(), o.traces.end());
    if (const Status checked = checkOutputs(inputs, {{"session", o.file}}); !checked)
        return report(checked, err);
    SessionData d;
    for (const std::string& path : o.impulses) {
        Result<ImpulseFile::Impulse> read = ImpulseFile::read(path);
        if (!read) {
            err << "Error loading file '" << path << "' : " << read.message() << '\n';
            return exitCodeFor(read);
        }
        SessionMeasurement m;
        m.name = std::filesystem::path(path).filename().string();
        m.kind = "impulse";
        m.date = modificationTime(path);
        m.rate = read->rate;
        m.impulse = std::move(read->samples);
        d.measurements.push_back(std::move(m));
    }
    for (const std::string& path : o.traces) {
        std::vector<ResponsePoint> points;
        if (const Status read = CurveFile::read(path, TraceStore::MaxPoints, points); !read) {
            err << "Error loading file '" << path << "' : " << read.message() << '\n';
            return FileError;
        }
        SessionTrace t;
        t.name = std::filesystem::path(path).filename().string();
        t.slot = static_cast<int>(d.traces.size());
        bool phase = false;
        for (const ResponsePoint& p : points) {
            t.frequencies.push_back(p.frequency);
            t.levelsDb.push_back(p.level);
            t.phaseDeg.push_back(p.phase ? *p.phase : NAN);
            phase = phase || p.phase;
        }
        if (!phase)
            t.phaseDeg.clear();
        d.traces.push_back(std::move(t));
    }
    if (const Status written = SessionFile::write(o.file, d); !written) {
        err << CurveFile::saveError(o.file, written.message()) << '\n';
        return exitCodeFor(written);
    }
    err << "Session written to " << o.file << " (" << d.measurements.size() << " impulse responses, "
        << d.traces.size() << " traces)\n";
    return Measured;
}

} // namespace

std::string sessionUsage()
{
    return R"(  audimera-measure session FILE
  audimera-measure session FILE --extract DIR
  audimera-measure session OUT --make [--ir WAV]... [--trace FILE]...
      A session file (.audimera: a ZIP holding session.json, the impulse
      responses as WAV and the traces as FRD). Alone: lists its traces
      (points), its measurements (name, date, rate, length) and what could
      not be read. --extract DIR writes the impulse responses
      (measurement-NNN.wav) and the traces (trace-NNN.frd) into DIR, made
      when missing; it replaces no file that is there. --make writes OUT
      from impulse responses (sound files) and up to 8 trace files (what
      Load Trace reads).
)";
}

int session(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const std::string& usage)
{
    Options o;
    if (const Status parsed = parse(args, o); !parsed) {
        err << "audimera-measure: " << parsed.message() << "\n\n" << usage;
        return exitCodeFor(parsed);
    }
    if (o.make)
        return make(o, err);
    const Result<SessionFile::Opened> opened = SessionFile::read(o.file);
    if (!opened) {
        err << "Error loading file '" << o.file << "' : " << opened.message() << '\n';
        return exitCodeFor(opened);
    }
    if (!o.extractDir.empty()) {
        for (const std::string& line : opened->skipped)
            err << "Skipped " << line << '\n';
        return extract(opened->data, o.extractDir, err);
    }
    return list(o.file, *opened, out);
}

} // namespace MeasureCommand

} // namespace audimera
