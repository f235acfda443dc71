#include "engine/SessionFile.h"

#include "curves/CurveFile.h"
#include "curves/ExchangeFiles.h"
#include "curves/FieldReader.h"
#include "curves/ImpulseFile.h"

#include <nlohmann/json.hpp>
#include <zip.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <stdexcept>

#include <cerrno>
#include <unistd.h>

namespace audimera {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* SessionMember = "session.json";
constexpr const char* FormatName = "audimera-session";
// Every member's time in the archive: fixed, so that the same session gives
// the same bytes (2000-01-01 00:00 UTC).
constexpr time_t MemberTime = 946684800;

std::string memberName(const char* folder, std::size_t index, const char* extension)
{
    char name[64];
    std::snprintf(name, sizeof name, "%s/%03zu.%s", folder, index, extension);
    return name;
}

// --- Writing.

// A number as JSON: not finite becomes null (nlohmann writes NaN and
// infinities as null anyway; said here so the reader's rule is visible).
Json number(double v)
{
    return std::isfinite(v) ? Json(v) : Json(nullptr);
}

Json numbers(const std::vector<double>& values)
{
    Json out = Json::array();
    for (double v : values)
        out.push_back(number(v));
    return out;
}

// The archive being written, in memory; the members' bytes are kept here
// until zip_close() has read them.
class ZipWriter {
public:
    ZipWriter()
    {
        zip_error_t error;
        zip_error_init(&error);
        m_source = zip_source_buffer_create(nullptr, 0, 0, &error);
        if (m_source) {
            m_archive = zip_open_from_source(m_source, ZIP_TRUNCATE, &error);
            if (!m_archive) {
                zip_source_free(m_source);
                m_source = nullptr;
            } else {
                // Kept after zip_close(), which writes into it.
                zip_source_keep(m_source);
            }
        }
        if (!m_archive)
            m_failure = zip_error_strerror(&error);
        zip_error_fini(&error);
    }
    ~ZipWriter()
    {
        if (m_archive)
            zip_discard(m_archive);
        if (m_source)
            zip_source_free(m_source);
    }
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // Adds a member; stored members are not deflated (sample data hardly
    // shrinks, and storing keeps a save fast), the others are at level 1
    // (the default level took three times as long on a full session for
    // a file 4 % smaller: bench_sessionfile).
    bool add(const std::string& name, std::string bytes, bool store)
    {
        if (!m_archive)
            return false;
        m_bytes.push_back(std::move(bytes));
        const std::string& kept = m_bytes.back();
        zip_source_t* member = zip_source_buffer(m_archive, kept.data(), kept.size(), 0);
        if (!member)
            return fail();
        const zip_int64_t index = zip_file_add(m_archive, name.c_str(), member, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(member);
            return fail();
        }
        const auto i = static_cast<zip_uint64_t>(index);
        if (zip_set_file_compression(m_archive, i, store ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 1) != 0
            || zip_file_set_mtime(m_archive, i, MemberTime, 0) != 0)
            return fail();
        return true;
    }

    // The archive's bytes; an error when it or any member could not be made.
    Result<std::string> finish()
    {
        if (!m_archive || !m_failure.empty())
            return Error::of(Failure::File, "the archive could not be made (" + m_failure + ")");
        if (zip_close(m_archive) != 0) {
            fail();
            zip_discard(m_archive);
            m_archive = nullptr;
            return Error::of(Failure::File, "the archive could not be made (" + m_failure + ")");
        }
        m_archive = nullptr;
        std::string out;
        if (zip_source_open(m_source) != 0)
            return Error::of(Failure::File, "the archive could not be read back");
        zip_source_seek(m_source, 0, SEEK_END);
        const zip_int64_t size = zip_source_tell(m_source);
        zip_source_seek(m_source, 0, SEEK_SET);
        if (size > 0) {
            out.resize(static_cast<std::size_t>(size));
            if (zip_source_read(m_source, out.data(), out.size()) != size)
                out.clear();
        }
        zip_source_close(m_source);
        if (out.empty())
            return Error::of(Failure::File, "the archive could not be read back");
        return out;
    }

private:
    bool fail()
    {
        if (m_archive && m_failure.empty())
            m_failure = zip_strerror(m_archive);
        if (m_failure.empty())
            m_failure = "a member could not be added";
        return false;
    }

    zip_source_t* m_source = nullptr;
    zip_t* m_archive = nullptr;
    std::deque<std::string> m_bytes;
    std::string m_failure;
};

Result<std::string> archiveOf(const SessionData& data)
{
    const auto bad = [](std::string why) { return Error::of(Failure::BadInput, std::move(why)); };
    ZipWriter zip;
    Json root;
    root["format"] = FormatName;
    root["schemaVersion"] = SessionFile::SchemaVersion;
    root["plot"] = Json{{"rangeIndex", data.plot.rangeIndex},
                        {"dbCentre", number(data.plot.dbCentre)},
                        {"lowHz", number(data.plot.lowHz)},
                        {"highHz", number(data.plot.highHz)},
                        {"smooth", data.plot.smooth}};

    Json traces = Json::array();
    for (std::size_t i = 0; i < data.traces.size(); ++i) {
        const SessionTrace& t = data.traces[i];
        const std::size_t n = t.frequencies.size();
        if (t.levelsDb.size() != n || (!t.phaseDeg.empty() && t.phaseDeg.size() != n))
            return bad("trace " + std::to_string(i + 1) + " has not one level and phase per frequency");
        Json trace{{"name", t.name},       {"slot", t.slot},   {"offsetDb", number(t.offsetDb)},
                   {"shown", t.shown},     {"scale", t.scale}, {"frequencies", numbers(t.frequencies)},
                   {"levelsDb", numbers(t.levelsDb)}};
        if (!t.phaseDeg.empty())
            trace["phaseDeg"] = numbers(t.phaseDeg);
        // The FRD copy for other tools; a trace with a point that is not
        // finite has none (FRD cannot say it).
        if (const Result<std::string> frd = SessionFile::traceFrd(t)) {
            const std::string name = memberName("traces", i, "frd");
            trace["file"] = name;
            zip.add(name, *frd, false);
        }
        traces.push_back(std::move(trace));
    }
    root["traces"] = std::move(traces);

    Json corrections = Json::array();
    for (const SessionCorrection& c : data.corrections)
        corrections.push_back(Json{{"use", c.use}, {"slot", c.slot}, {"path", c.path},
                                   {"content", c.content}, {"enabled", c.enabled}});
    root["corrections"] = std::move(corrections);

    Json measurements = Json::array();
    for (std::size_t i = 0; i < data.measurements.size(); ++i) {
        const SessionMeasurement& m = data.measurements[i];
        Json settings = nullptr;
        if (!m.settingsJson.empty()) {
            settings = Json::parse(m.settingsJson, nullptr, false);
            if (settings.is_discarded() || !settings.is_object())
                return bad("the settings of measurement " + std::to_string(i + 1) + " are not a JSON object");
        }
        Json entry{{"name", m.name},
                   {"note", m.note},
                   {"kind", m.kind},
                   {"date", m.date},
                   {"playDevice", m.playDevice},
                   {"recordDevice", m.recordDevice},
                   {"playRate", m.playRate},
                   {"recordRate", m.recordRate},
                   {"rate", m.rate},
                   {"samples", m.impulse.size()},
                   {"settings", std::move(settings)},
                   {"corrections", m.corrections},
                   {"clockOffsetPpm", number(m.clockOffsetPpm)},
                   {"delayMs", number(m.delayMs)},
                   {"alignMs", number(m.alignMs)},
                   {"averageOf", m.averageOf},
                   {"averageMode", m.averageMode}};
        if (!m.impulse.empty()) {
            Result<std::string> wav = ImpulseFile::wavBytes(m.impulse, m.rate);
            if (!wav)
                return bad("the impulse response of measurement " + std::to_string(i + 1)
                           + " cannot be written: " + wav.message());
            const std::string name = memberName("measurements", i, "wav");
            entry["file"] = name;
            zip.add(name, std::move(*wav), true);
        }
        measurements.push_back(std::move(entry));
    }
    root["measurements"] = std::move(measurements);

    std::string text;
    try {
        // Strings that are not UTF-8 are written with U+FFFD in their place.
        text = root.dump(-1, ' ', false, Json::error_handler_t::replace);
    } catch (const std::exception& e) {
        return Error::of(Failure::Other, std::string("the session could not be written as JSON: ") + e.what());
    }
    text += '\n';
    zip.add(SessionMember, std::move(text), false);
    return zip.finish();
}

// --- Reading.

// A member or a field that cannot be taken: the message says why.
struct Damaged : std::runtime_error {
    using std::runtime_error::runtime_error;
};

const Json* field(const Json& object, const char* key)
{
    const auto it = object.find(key);
    return it == object.end() || it->is_null() ? nullptr : &*it;
}

std::string text(const Json& object, const char* key)
{
    const Json* v = field(object, key);
    if (!v)
        return {};
    if (!v->is_string())
        throw Damaged(std::string("\"") + key + "\" is not text");
    return v->get<std::string>();
}

double real(const Json& object, const char* key, double otherwise)
{
    const Json* v = field(object, key);
    if (!v)
        return otherwise;
    if (!v->is_number())
        throw Damaged(std::string("\"") + key + "\" is not a number");
    return v->get<double>();
}

long long integer(const Json& object, const char* key, long long low, long long high, long long otherwise)
{
    const Json* v = field(object, key);
    if (!v)
        return otherwise;
    if (!v->is_number_integer())
        throw Damaged(std::string("\"") + key + "\" is not a whole number");
    if (v->is_number_unsigned() ? v->get<std::uint64_t>() > static_cast<std::uint64_t>(high)
                                : v->get<long long>() < low || v->get<long long>() > high)
        throw Damaged(std::string("\"") + key + "\" is out of range");
    return v->get<long long>();
}

// Whether v nests no deeper than depth (bounded recursion: the writer
// recurses as deep as the value nests).
bool shallow(const Json& v, int depth)
{
    if (!v.is_structured())
        return true;
    if (depth == 0)
        return false;
    for (const Json& item : v)
        if (!shallow(item, depth - 1))
            return false;
    return true;
}

bool flag(const Json& object, const char* key, bool otherwise)
{
    const Json* v = field(object, key);
    if (!v)
        return otherwise;
    if (!v->is_boolean())
        throw Damaged(std::string("\"") + key + "\" is not true or false");
    return v->get<bool>();
}

// An array of numbers, null read as NaN where allowed.
std::vector<double> reals(const Json& object, const char* key, bool nullIsNaN)
{
    const Json* v = field(object, key);
    if (!v)
        return {};
    if (!v->is_array())
        throw Damaged(std::string("\"") + key + "\" is not a list");
    if (v->size() > SessionFile::MaxTracePoints)
        throw Damaged(std::string("\"") + key + "\" holds more than " + std::to_string(SessionFile::MaxTracePoints)
                      + " values");
    std::vector<double> out;
    out.reserve(v->size());
    for (const Json& x : *v) {
        if (x.is_number())
            out.push_back(x.get<double>());
        else if (x.is_null() && nullIsNaN)
            out.push_back(std::numeric_limits<double>::quiet_NaN());
        else
            throw Damaged(std::string("\"") + key + "\" holds a value that is not a number");
    }
    return out;
}

const Json& objectOf(const Json& v)
{
    if (!v.is_object())
        throw Damaged("it is not a JSON object");
    return v;
}

// Whether a member's name could leave a folder it were extracted to.
bool escapes(const std::string& name)
{
    if (name.empty() || name[0] == '/' || name[0] == '\\' || (name.size() >= 2 && name[1] == ':'))
        return true;
    if (name.find('\0') != std::string::npos)
        return true;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = name.find_first_of("/\\", start);
        if (name.compare(start, end == std::string::npos ? std::string::npos : end - start, "..") == 0
            && (end == std::string::npos ? name.size() - start : end - start) == 2)
            return true;
        if (end == std::string::npos)
            return false;
        start = end + 1;
    }
}

// The archive opened for reading, its central directory vetted.
class ZipReader {
public:
    ~ZipReader()
    {
        if (m_archive)
            zip_discard(m_archive);
    }

    Status open(const std::uint8_t* bytes, std::size_t size)
    {
        zip_error_t error;
        zip_error_init(&error);
        zip_source_t* source = zip_source_buffer_create(bytes, size, 0, &error);
        if (source) {
            m_archive = zip_open_from_source(source, ZIP_RDONLY, &error);
            if (!m_archive)
                zip_source_free(source);
        }
        const std::string why = zip_error_strerror(&error);
        zip_error_fini(&error);
        if (!m_archive)
            return Error::of(Failure::File, "not a session file (not a ZIP archive that can be read: " + why + ")");
        return vet();
    }

    // The member's bytes; an error when it is missing or unreadable (File),
    // or holds more than its directory entry says (BadInput).
    Result<std::string> member(const std::string& name) const
    {
        const zip_int64_t index = zip_name_locate(m_archive, name.c_str(), 0);
        if (index < 0)
            return Error::of(Failure::File, "there is no " + name);
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(m_archive, static_cast<zip_uint64_t>(index), 0, &st) != 0)
            return Error::of(Failure::File, name + " cannot be read");
        const std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> file(
            zip_fopen_index(m_archive, static_cast<zip_uint64_t>(index), 0), zip_fclose);
        if (!file)
            return Error::of(Failure::File, name + " cannot be read (" + zip_strerror(m_archive) + ")");
        // Read up to the stated size and one byte more: that byte would be
        // a member larger than its directory entry says, which stops here
        // however much more it would inflate to.
        std::string out(static_cast<std::size_t>(st.size) + 1, '\0');
        std::size_t got = 0;
        while (got < out.size()) {
            const zip_int64_t n = zip_fread(file.get(), out.data() + got, out.size() - got);
            if (n < 0)
                return Error::of(Failure::File, name + " cannot be read whole (" + zip_file_strerror(file.get()) + ")");
            if (n == 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        if (got > st.size)
            return Error::of(Failure::BadInput, "refused: " + name + " holds more than its directory entry says");
        if (got < st.size)
            return Error::of(Failure::File, name + " is shorter than its directory entry says");
        out.resize(got);
        return out;
    }

private:
    Status vet()
    {
        const auto refuse = [](std::string why) { return Error::of(Failure::BadInput, "refused: " + why); };
        const zip_int64_t count = zip_get_num_entries(m_archive, 0);
        if (count < 0 || static_cast<std::uint64_t>(count) > SessionFile::MaxEntries)
            return refuse("it holds more than " + std::to_string(SessionFile::MaxEntries) + " members");
        std::uint64_t total = 0;
        for (zip_int64_t i = 0; i < count; ++i) {
            zip_stat_t st;
            zip_stat_init(&st);
            if (zip_stat_index(m_archive, static_cast<zip_uint64_t>(i), 0, &st) != 0 || !(st.valid & ZIP_STAT_NAME)
                || !(st.valid & ZIP_STAT_SIZE) || !(st.valid & ZIP_STAT_COMP_SIZE))
                return Error::of(Failure::File, "not a session file (member " + std::to_string(i + 1)
                                                    + " cannot be read)");
            const std::string name = st.name;
            if (escapes(name))
                return refuse("the member name '" + name + "' would leave the folder it is in");
            if (st.size > SessionFile::MaxMemberBytes)
                return refuse(name + " is larger than " + std::to_string(SessionFile::MaxMemberBytes >> 20) + " MiB");
            total += st.size;
            if (total > SessionFile::MaxTotalBytes)
                return refuse("its members hold more than " + std::to_string(SessionFile::MaxTotalBytes >> 20)
                              + " MiB");
            if (st.size > SessionFile::RatioFloorBytes
                && static_cast<double>(st.size) > SessionFile::MaxRatio * static_cast<double>(st.comp_size))
                return refuse(name + " would inflate more than " + std::to_string(static_cast<int>(SessionFile::MaxRatio))
                              + " times");
        }
        return {};
    }

    zip_t* m_archive = nullptr;
};

SessionTrace traceOf(const Json& v)
{
    const Json& o = objectOf(v);
    SessionTrace t;
    t.name = text(o, "name");
    t.slot = static_cast<int>(integer(o, "slot", 0, 7, 0));
    t.frequencies = reals(o, "frequencies", false);
    t.levelsDb = reals(o, "levelsDb", true);
    t.phaseDeg = reals(o, "phaseDeg", true);
    if (t.levelsDb.size() != t.frequencies.size() || (!t.phaseDeg.empty() && t.phaseDeg.size() != t.frequencies.size()))
        throw Damaged("it has not one level and phase per frequency");
    t.offsetDb = real(o, "offsetDb", 0);
    t.shown = flag(o, "shown", true);
    t.scale = text(o, "scale");
    return t;
}

SessionCorrection correctionOf(const Json& v)
{
    const Json& o = objectOf(v);
    SessionCorrection c;
    c.use = text(o, "use");
    c.slot = static_cast<int>(integer(o, "slot", 0, 1000, 0));
    c.path = text(o, "path");
    c.content = text(o, "content");
    c.enabled = flag(o, "enabled", false);
    return c;
}

SessionMeasurement measurementOf(const Json& v, const ZipReader& zip)
{
    constexpr long long MaxRate = 10'000'000;
    const Json& o = objectOf(v);
    SessionMeasurement m;
    m.name = text(o, "name");
    m.note = text(o, "note");
    m.kind = text(o, "kind");
    m.date = text(o, "date");
    m.playDevice = text(o, "playDevice");
    m.recordDevice = text(o, "recordDevice");
    m.playRate = static_cast<int>(integer(o, "playRate", 0, MaxRate, 0));
    m.recordRate = static_cast<int>(integer(o, "recordRate", 0, MaxRate, 0));
    m.rate = static_cast<int>(integer(o, "rate", 0, MaxRate, 0));
    if (const Json* settings = field(o, "settings")) {
        if (!settings->is_object())
            throw Damaged("\"settings\" is not a JSON object");
        if (!shallow(*settings, SessionFile::MaxSettingsDepth))
            throw Damaged("\"settings\" nest deeper than " + std::to_string(SessionFile::MaxSettingsDepth) + " levels");
        m.settingsJson = settings->dump(-1, ' ', false, Json::error_handler_t::replace);
    }
    if (const Json* list = field(o, "corrections")) {
        if (!list->is_array() || list->size() > SessionFile::MaxEntries)
            throw Damaged("\"corrections\" is not a short list");
        for (const Json& path : *list) {
            if (!path.is_string())
                throw Damaged("\"corrections\" holds a value that is not text");
            m.corrections.push_back(path.get<std::string>());
        }
    }
    m.clockOffsetPpm = real(o, "clockOffsetPpm", 0);
    m.delayMs = real(o, "delayMs", 0);
    m.alignMs = real(o, "alignMs", 0);
    m.averageOf = static_cast<int>(integer(o, "averageOf", 0, 1'000'000, 0));
    m.averageMode = text(o, "averageMode");
    const long long samples = integer(o, "samples", 0, ImpulseFile::MaxFrames, -1);
    const std::string file = text(o, "file");
    if (!file.empty()) {
        Result<std::string> bytes = zip.member(file);
        if (!bytes)
            throw Damaged(bytes.message());
        Result<ImpulseFile::Impulse> impulse = ImpulseFile::fromBytes(std::move(*bytes));
        if (!impulse)
            throw Damaged(file + ": " + impulse.message());
        if (impulse->channels != 1)
            throw Damaged(file + " is not mono");
        if (samples >= 0 && static_cast<std::size_t>(samples) != impulse->samples.size())
            throw Damaged(file + " holds " + std::to_string(impulse->samples.size()) + " samples, not "
                          + std::to_string(samples) + " (truncated?)");
        m.rate = impulse->rate;
        m.impulse = std::move(impulse->samples);
    } else if (samples > 0) {
        throw Damaged("its impulse response is missing");
    }
    return m;
}

// Reads one list of session.json, each item by read; an item that cannot
// be read is left out and listed in skipped.
template <typename Item, typename ReadItem>
std::vector<Item> listOf(const Json& root, const char* key, const char* what, std::vector<std::string>& skipped,
                         ReadItem readItem)
{
    std::vector<Item> out;
    const Json* list = field(root, key);
    if (!list)
        return out;
    if (!list->is_array()) {
        skipped.push_back(std::string("the ") + key + ": \"" + key + "\" is not a list");
        return out;
    }
    for (std::size_t i = 0; i < list->size(); ++i) {
        try {
            out.push_back(readItem((*list)[i]));
        } catch (const std::exception& e) {
            // Damaged, or nlohmann's own (a value out of its type's range).
            skipped.push_back(std::string(what) + " " + std::to_string(i + 1) + ": " + e.what());
        }
    }
    return out;
}

Result<SessionFile::Opened> sessionOf(const std::uint8_t* bytes, std::size_t size)
{
    ZipReader zip;
    if (Status opened = zip.open(bytes, size); !opened)
        return opened.error();
    Result<std::string> json = zip.member(SessionMember);
    if (!json) {
        if (json.kind() == Failure::BadInput)
            return json.error();
        return Error::of(Failure::File, std::string("not a session file (") + json.message() + ")");
    }
    const Json root = Json::parse(*json, nullptr, false);
    json = std::string();
    if (root.is_discarded() || !root.is_object())
        return Error::of(Failure::File, "not a session file (session.json is not a JSON object)");
    const Json* version = field(root, "schemaVersion");
    if (!version || !version->is_number_unsigned())
        return Error::of(Failure::File, "not a session file (session.json states no schema version)");
    if (version->get<std::uint64_t>() > SessionFile::SchemaVersion)
        return Error::of(Failure::BadInput, "the file is from a newer Audimera (session schema "
                                                + version->dump() + "; this version reads up to "
                                                + std::to_string(SessionFile::SchemaVersion) + ")");

    SessionFile::Opened opened;
    SessionData& data = opened.data;
    std::vector<std::string>& skipped = opened.skipped;
    if (const Json* plot = field(root, "plot")) {
        try {
            const Json& o = objectOf(*plot);
            SessionPlot p;
            p.rangeIndex = static_cast<int>(integer(o, "rangeIndex", 0, 1000, 0));
            p.dbCentre = real(o, "dbCentre", 0);
            p.lowHz = real(o, "lowHz", 20);
            p.highHz = real(o, "highHz", 20000);
            p.smooth = static_cast<int>(integer(o, "smooth", 1, 4, 2));
            data.plot = p;
        } catch (const std::exception& e) {
            skipped.push_back(std::string("the plot settings: ") + e.what());
        }
    }
    data.traces = listOf<SessionTrace>(root, "traces", "trace", skipped, traceOf);
    data.corrections = listOf<SessionCorrection>(root, "corrections", "correction", skipped, correctionOf);
    data.measurements = listOf<SessionMeasurement>(root, "measurements", "measurement", skipped,
                                                   [&zip](const Json& v) { return measurementOf(v, zip); });
    return opened;
}

} // namespace

Result<std::string> SessionFile::traceFrd(const SessionTrace& trace)
{
    const std::size_t n = std::min(trace.frequencies.size(), trace.levelsDb.size());
    std::vector<ResponsePoint> points(n);
    for (std::size_t k = 0; k < n; ++k) {
        points[k] = {trace.frequencies[k], trace.levelsDb[k], std::nullopt};
        if (k < trace.phaseDeg.size() && !std::isnan(trace.phaseDeg[k]))
            points[k].phase = trace.phaseDeg[k];
    }
    // The name as one comment line, whatever line breaks it holds.
    std::string name = trace.name;
    for (char& c : name)
        if (c == '\r' || c == '\n')
            c = ' ';
    return ExchangeFiles::frdText(points, {name});
}

Result<std::vector<std::uint8_t>> SessionFile::toBytes(const SessionData& data)
{
    const Result<std::string> bytes = archiveOf(data);
    if (!bytes)
        return bytes.error();
    return std::vector<std::uint8_t>(bytes->begin(), bytes->end());
}

Status SessionFile::write(const std::string& path, const SessionData& data)
{
    const Result<std::string> bytes = archiveOf(data);
    if (!bytes)
        return bytes.error();
    const Status saved = CurveFile::writeText(path, *bytes);
    if (!saved)
        return Error::of(Failure::File, saved.message());
    return {};
}

Result<SessionFile::Opened> SessionFile::fromBytes(const std::uint8_t* bytes, std::size_t size)
{
    try {
        return sessionOf(bytes, size);
    } catch (const std::bad_alloc&) {
        return Error::of(Failure::File, "the session file is too large to be read");
    }
}

Result<SessionFile::Opened> SessionFile::read(const std::string& path)
{
    const Result<int> fd = FieldReader::openRegular(path);
    if (!fd)
        return fd.error();
    std::vector<std::uint8_t> bytes;
    std::uint8_t block[1 << 16];
    int code = 0;
    for (;;) {
        const ssize_t n = ::read(*fd, block, sizeof block);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            code = errno;
        if (n <= 0)
            break;
        bytes.insert(bytes.end(), block, block + n);
        if (bytes.size() > MaxTotalBytes) {
            ::close(*fd);
            return Error::of(Failure::BadInput, "refused: the file is larger than "
                                                    + std::to_string(MaxTotalBytes >> 20) + " MiB");
        }
    }
    ::close(*fd);
    if (code)
        return Error::of(Failure::File, std::strerror(code));
    return fromBytes(bytes.data(), bytes.size());
}

} // namespace audimera
