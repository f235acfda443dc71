// Fuzz target: the session file reader (SessionFile::fromBytes) on any
// bytes: ZIP archives whose directory, sizes, names and members are
// damaged or hostile.
//
// Checks, besides the sanitizers (a crash) and libFuzzer's -timeout (a
// hang) and -rss_limit_mb (a bomb that got through):
// - the reader writes nothing: the working folder keeps its names, and
//   the temporary folder (a new one, named by TMPDIR) stays empty;
// - a refusal is File or BadInput, never fatal, with a message;
// - what is read keeps its limits: traces of at most MaxTracePoints points
//   with one level (and phase, if any) per frequency, colour slots 0..7,
//   impulse responses of finite samples at a rate, settings that are
//   JSON objects;
// - what is read writes again (toBytes) and reads back the same.

#include "engine/SessionFile.h"
#include "fuzz/FuzzSupport.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <set>
#include <string>
#include <unistd.h>

using namespace audimera;

namespace {

// The names in a folder.
std::set<std::string> namesIn(const std::string& folder)
{
    std::set<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (const dirent* e = readdir(d))
            names.insert(e->d_name);
        closedir(d);
    }
    return names;
}

// The places a file written by mistake would land: the working folder, and
// the temporary folder, a new one of the process's own that TMPDIR names.
struct Places {
    std::string temp;
    std::set<std::string> working;
};

const Places& places()
{
    static const Places p = [] {
        char pattern[] = "/tmp/audimera-fuzz-session-XXXXXX";
        if (!mkdtemp(pattern))
            fuzz::checkFailed("a temporary folder can be made", __FILE__, __LINE__);
        setenv("TMPDIR", pattern, 1);
        static std::string temp = pattern;
        std::atexit([] { rmdir(temp.c_str()); });
        return Places{pattern, namesIn(".")};
    }();
    return p;
}

bool nothingWritten()
{
    const Places& p = places();
    return namesIn(p.temp).size() == 2 && namesIn(".") == p.working;
}

void checkKept(const SessionData& d)
{
    for (const SessionTrace& t : d.traces) {
        FUZZ_CHECK(t.frequencies.size() <= SessionFile::MaxTracePoints);
        FUZZ_CHECK(t.levelsDb.size() == t.frequencies.size());
        FUZZ_CHECK(t.phaseDeg.empty() || t.phaseDeg.size() == t.frequencies.size());
        FUZZ_CHECK(t.slot >= 0 && t.slot <= 7);
    }
    for (const SessionMeasurement& m : d.measurements) {
        FUZZ_CHECK(m.impulse.empty() || m.rate > 0);
        for (const float v : m.impulse)
            FUZZ_CHECK(std::isfinite(v));
        FUZZ_CHECK(m.settingsJson.empty() || m.settingsJson.front() == '{');
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    FUZZ_CHECK(nothingWritten());
    const Result<SessionFile::Opened> r = SessionFile::fromBytes(data, size);
    FUZZ_CHECK(nothingWritten());
    if (!r) {
        FUZZ_CHECK(r.kind() == Failure::File || r.kind() == Failure::BadInput);
        FUZZ_CHECK(!r.isFatal());
        FUZZ_CHECK(!r.message().empty());
        return 0;
    }
    checkKept(r->data);
    for (const std::string& line : r->skipped)
        FUZZ_CHECK(!line.empty());

    // What was read writes again, unless it holds what no writer takes (a
    // level that is not finite has no FRD, which is allowed; a trace's
    // points are checked above), and reads back as it was.
    const Result<std::vector<std::uint8_t>> again = SessionFile::toBytes(r->data);
    if (!again)
        return 0;
    const Result<SessionFile::Opened> back = SessionFile::fromBytes(again->data(), again->size());
    FUZZ_CHECK(back.ok());
    FUZZ_CHECK(back->skipped.empty());
    FUZZ_CHECK(back->data.traces.size() == r->data.traces.size());
    FUZZ_CHECK(back->data.measurements.size() == r->data.measurements.size());
    for (std::size_t i = 0; i < back->data.measurements.size(); ++i) {
        const std::vector<float>& a = back->data.measurements[i].impulse;
        const std::vector<float>& b = r->data.measurements[i].impulse;
        FUZZ_CHECK(a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
        FUZZ_CHECK(back->data.measurements[i].settingsJson == r->data.measurements[i].settingsJson);
    }
    FUZZ_CHECK(nothingWritten());
    return 0;
}
