// The session file: what is written reads back bit for bit and opens in
// other tools; hostile archives are refused or their damaged members
// skipped, with a message; saves keep the project's save rules.
#include "engine/SessionFile.h"

#include "tests/support/TestFolder.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace audimera {

namespace {

SessionData richSession()
{
    std::mt19937 random(7);
    std::uniform_real_distribution<double> level(-80, 20);
    SessionData d;
    d.plot = {3, -6.25, 10, 24000, 4};
    d.corrections = {{"main", 0, "/home/x/mic.txt", "20 -1.5\r\n1000 0\n", true}, {"logsweep", 1, "", "", false}};
    for (int t = 0; t < 8; ++t) {
        SessionTrace trace{"Trace \"" + std::to_string(t) + "\" é", t, {}, {}, {}, t * 0.1 - 0.35, t % 3 != 0,
                           t % 2 ? "dB re the played level" : ""};
        for (int k = 0; k < 500 + 37 * t; ++k) {
            trace.frequencies.push_back(10 * std::pow(2400.0, k / (500.0 + 37 * t)));
            trace.levelsDb.push_back(level(random));
            if (t % 2)
                trace.phaseDeg.push_back(k % 7 == 0 ? NAN : level(random) * 1.8);
        }
        d.traces.push_back(std::move(trace));
    }
    const int rates[] = {44100, 48000, 96000, 192000, 8000};
    for (int m = 0; m < 20; ++m) {
        SessionMeasurement s;
        s.name = "Log sweep 21:30:" + std::to_string(10 + m);
        s.note = "près du mur, \"coin\" \\ ♪ " + std::to_string(m);
        s.kind = m % 3 ? "logsweep" : "average";
        s.date = "2026-12-09T00:" + std::to_string(10 + m) + ":00";
        s.playDevice = "alsa_output.pci", s.recordDevice = "alsa_input.usb";
        s.playRate = s.recordRate = s.rate = rates[m % 5];
        s.settingsJson = R"({"f1":20,"f2":20000.5,"length":"2^18","tags":["a","ü"],"nested":{"x":null}})";
        s.corrections = {"/home/x/mic.txt"};
        s.clockOffsetPpm = -12.345678901234567, s.delayMs = 3.0000000000000004, s.alignMs = -0.1;
        s.averageOf = m % 3 ? 0 : 4;
        s.averageMode = m % 3 ? "" : "vector aligned";
        // Lengths from 1 to ~70000, random bit patterns: denormals and
        // negatives among them (never NaN or infinity, which WAV refuses).
        for (int i = 0, n = 1 + m * m * 173; i < n; ++i) {
            std::uint32_t bits = random();
            if ((bits & 0x7F800000u) == 0x7F800000u)
                bits &= ~0x40000000u;
            s.impulse.push_back(std::bit_cast<float>(i % 5 == 0 ? bits & 0x807FFFFFu : bits));
        }
        d.measurements.push_back(std::move(s));
    }
    return d;
}

bool same(double a, double b)
{
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b) || (std::isnan(a) && std::isnan(b));
}

bool same(const std::vector<double>& a, const std::vector<double>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](double x, double y) { return same(x, y); });
}

// An archive made by hand: (name, content, deflated) members.
std::vector<std::uint8_t> zipOf(const std::vector<std::tuple<std::string, std::string, bool>>& members)
{
    zip_error_t error;
    zip_source_t* source = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_t* z = zip_open_from_source(source, ZIP_TRUNCATE, &error);
    zip_source_keep(source);
    for (const auto& [name, content, deflate] : members) {
        const zip_int64_t i = zip_file_add(z, name.c_str(), zip_source_buffer(z, content.data(), content.size(), 0), 0);
        zip_set_file_compression(z, static_cast<zip_uint64_t>(i), deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE, 9);
    }
    zip_close(z);
    zip_source_open(source);
    zip_source_seek(source, 0, SEEK_END);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(zip_source_tell(source)));
    zip_source_seek(source, 0, SEEK_SET);
    zip_source_read(source, out.data(), out.size());
    zip_source_close(source);
    zip_source_free(source);
    return out;
}

// Sets every uncompressed-size field (local header and central directory)
// of the archive's members to size: a header that lies.
void lieAboutSizes(std::vector<std::uint8_t>& bytes, std::uint32_t size)
{
    for (std::size_t i = 0; i + 46 < bytes.size(); ++i) {
        const bool local = std::memcmp(&bytes[i], "PK\3\4", 4) == 0, central = std::memcmp(&bytes[i], "PK\1\2", 4) == 0;
        if (local || central)
            std::memcpy(&bytes[i + (local ? 22 : 24)], &size, 4);
    }
}

TEST(SessionFileTest, ASessionReadsBackBitForBitAndOpensInOtherTools)
{
    const SessionData d = richSession();
    const Result<std::vector<std::uint8_t>> bytes = SessionFile::toBytes(d);
    ASSERT_TRUE(bytes.ok()) << bytes.message();
    EXPECT_EQ(*SessionFile::toBytes(d), *bytes) << "the same session gives the same bytes";
    const Result<SessionFile::Opened> r = SessionFile::fromBytes(bytes->data(), bytes->size());
    ASSERT_TRUE(r.ok()) << r.message();
    EXPECT_TRUE(r->skipped.empty());
    const SessionData& e = r->data;
    EXPECT_TRUE(same(e.plot.dbCentre, d.plot.dbCentre) && e.plot.rangeIndex == 3 && e.plot.lowHz == 10 && e.plot.highHz == 24000 && e.plot.smooth == 4);
    ASSERT_EQ(e.corrections.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        const SessionCorrection &a = e.corrections[i], &b = d.corrections[i];
        EXPECT_TRUE(a.use == b.use && a.slot == b.slot && a.path == b.path && a.content == b.content && a.enabled == b.enabled);
    }
    ASSERT_EQ(e.traces.size(), 8u);
    for (std::size_t i = 0; i < 8; ++i) {
        const SessionTrace &a = e.traces[i], &b = d.traces[i];
        EXPECT_TRUE(a.name == b.name && a.slot == b.slot && same(a.offsetDb, b.offsetDb) && a.shown == b.shown
                    && a.scale == b.scale && same(a.frequencies, b.frequencies) && same(a.levelsDb, b.levelsDb)
                    && same(a.phaseDeg, b.phaseDeg)) << "trace " << i;
    }
    ASSERT_EQ(e.measurements.size(), 20u);
    for (std::size_t i = 0; i < 20; ++i) {
        const SessionMeasurement &a = e.measurements[i], &b = d.measurements[i];
        EXPECT_TRUE(a.name == b.name && a.note == b.note && a.kind == b.kind && a.date == b.date
                    && a.playDevice == b.playDevice && a.recordDevice == b.recordDevice && a.playRate == b.playRate
                    && a.recordRate == b.recordRate && a.rate == b.rate && a.settingsJson == b.settingsJson
                    && a.corrections == b.corrections && same(a.clockOffsetPpm, b.clockOffsetPpm)
                    && same(a.delayMs, b.delayMs) && same(a.alignMs, b.alignMs) && a.averageOf == b.averageOf
                    && a.averageMode == b.averageMode) << "measurement " << i;
        EXPECT_TRUE(a.impulse.size() == b.impulse.size()
                    && std::memcmp(a.impulse.data(), b.impulse.data(), a.impulse.size() * sizeof(float)) == 0)
            << "measurement " << i;
    }

    TestFolder folder;
    const std::string path = folder.file("s.audimera");
    ASSERT_TRUE(SessionFile::write(path, d).ok());
    EXPECT_EQ(slurp(path), std::string(bytes->begin(), bytes->end()));
    if (std::system("command -v python3 >/dev/null") == 0) {
        const std::string script =
            "import zipfile,json,sys; z=zipfile.ZipFile(sys.argv[1]); assert z.testzip() is None; "
            "s=json.loads(z.read('session.json')); assert s['schemaVersion']==1 and len(s['traces'])==8 "
            "and len(s['measurements'])==20 and s['measurements'][3]['settings']['tags'][1]=='\\u00fc'; "
            "open(sys.argv[2],'wb').write(z.read(s['measurements'][4]['file']))";
        EXPECT_EQ(std::system(("python3 -c \"" + script + "\" " + path + " " + folder.file("m.wav")).c_str()), 0);
    }
    if (std::system("command -v sox >/dev/null") == 0 && std::filesystem::exists(folder.file("m.wav"))) {
        EXPECT_EQ(std::system(("sox --i " + folder.file("m.wav") + " 2>/dev/null | grep -q '32-bit Floating Point PCM'").c_str()), 0);
    }
}

TEST(SessionFileTest, HostileArchivesAreRefusedOrTheirDamagedMembersSkipped)
{
    SessionData one;
    one.measurements.emplace_back();
    one.measurements[0].rate = 48000, one.measurements[0].impulse.assign(1000, 0.5f);
    const std::vector<std::uint8_t> valid = *SessionFile::toBytes(one);
    // Its WAV (stored, so whole in the archive) cut short.
    const std::string all(valid.begin(), valid.end());
    const std::string cutWav = all.substr(all.find("RIFF"), 2000);
    const std::string head = R"({"schemaVersion":1,)";
    const std::string spaces(3u << 20, ' ');
    std::vector<std::uint8_t> lying = zipOf({{"session.json", head + R"("traces":[]})" + spaces, true}});
    lieAboutSizes(lying, 1000);
    std::vector<std::tuple<std::string, std::string, bool>> many;
    while (many.size() <= SessionFile::MaxEntries)
        many.emplace_back("m/" + std::to_string(many.size()), "", false);
    const struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        Failure refused;       // Other: read, with skipped lines
        std::string message;   // in the error, or in every skipped line
        std::size_t skipped;
    } cases[] = {
        {"truncated", std::vector<std::uint8_t>(valid.begin(), valid.begin() + valid.size() / 2), Failure::File, "not a session file", 0},
        {"no ZIP", {'{', '}'}, Failure::File, "not a ZIP", 0},
        {"no session.json", zipOf({{"a.txt", "x", true}}), Failure::File, "no session.json", 0},
        {"bad JSON", zipOf({{"session.json", "{\"schemaVersion\":1,", true}}), Failure::File, "not a JSON object", 0},
        {"newer schema", zipOf({{"session.json", R"({"schemaVersion":2})", true}}), Failure::BadInput, "from a newer Audimera", 0},
        {"path escape", zipOf({{"session.json", head + "}", true}, {"a/../../evil", "x", false}}), Failure::BadInput, "would leave", 0},
        {"absolute path", zipOf({{"session.json", head + "}", true}, {"/tmp/evil", "x", false}}), Failure::BadInput, "would leave", 0},
        {"ratio bomb", zipOf({{"session.json", head + "}" + spaces, true}}), Failure::BadInput, "inflate more than 200", 0},
        {"lying size", lying, Failure::BadInput, "holds more than its directory entry says", 0},
        {"too many members", zipOf(many), Failure::BadInput, "more than 4096 members", 0},
        {"wrong types", zipOf({{"session.json", head + R"("traces":[{"frequencies":"x"},{"slot":9},{"name":5}],
            "measurements":[{"rate":"48000"},{"settings":[1]},{"note":7}]})", true}}), Failure::Other, "\"", 6},
        {"huge counts", zipOf({{"session.json", head + R"("measurements":[{"samples":99999999999999},
            {"averageOf":18446744073709551615},{"samples":5}]})", true}}), Failure::Other, "measurement", 3},
        {"truncated WAV", zipOf({{"session.json", head + R"("measurements":[{"samples":1000,"file":"w.wav"},{}]})", true},
                                 {"w.wav", cutWav, false}}),
         Failure::Other, "measurement 1", 1},
    };
    TestFolder folder;
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(folder.path());
    for (const Case& c : cases) {
        const Result<SessionFile::Opened> r = SessionFile::fromBytes(c.bytes.data(), c.bytes.size());
        if (c.refused != Failure::Other) {
            EXPECT_EQ(r.kind(), c.refused) << c.what << ": " << r.message();
            EXPECT_NE(r.message().find(c.message), std::string::npos) << c.what << ": " << r.message();
            continue;
        }
        ASSERT_TRUE(r.ok()) << c.what << ": " << r.message();
        EXPECT_EQ(r->skipped.size(), c.skipped) << c.what;
        for (const std::string& line : r->skipped)
            EXPECT_NE(line.find(c.message), std::string::npos) << c.what << ": " << line;
    }
    std::filesystem::current_path(before);
    EXPECT_TRUE(std::filesystem::is_empty(folder.path())) << "nothing is written";
}

TEST(SessionFileTest, ARefusedOrFailedSaveKeepsTheOldFile)
{
    TestFolder folder;
    const std::string path = folder.file("s.audimera");
    const SessionData d = richSession();
    struct Case {
        const char* what;
        mode_t mode;
        long sizeLimit; // bytes a child may write; 0: no child
    } cases[] = {{"read-only", 0444, 0}, {"the disk fills", 0644, 4096}};
    for (const Case& c : cases) {
        spit(path, "old");
        chmod(path.c_str(), c.mode);
        if (c.sizeLimit == 0) {
            const Status s = SessionFile::write(path, d);
            EXPECT_EQ(s.kind(), Failure::File) << c.what;
            EXPECT_NE(s.message().find("read-only"), std::string::npos) << c.what << ": " << s.message();
        } else {
            const pid_t child = fork();
            if (child == 0) {
                signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{static_cast<rlim_t>(c.sizeLimit), static_cast<rlim_t>(c.sizeLimit)};
                setrlimit(RLIMIT_FSIZE, &limit);
                _exit(SessionFile::write(path, d).kind() == Failure::File ? 0 : 1);
            }
            int status = 0;
            waitpid(child, &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.what;
        }
        EXPECT_EQ(slurp(path), "old") << c.what;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1) << c.what << ": no temporary left";
        chmod(path.c_str(), 0644);
    }
}

} // namespace

} // namespace audimera
