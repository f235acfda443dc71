// The session file with a full session: 8 traces of 22051 points (with
// phase) and 20 measurements of 2^18 samples at 48 kHz (about 21 MB of
// samples). Goal: a save and an open each in at most 1 s.
//
// - to_bytes / from_bytes: the archive made and read in memory.
// - write / read: the same through a file in the temporary folder (the save
//   rules' temporary file, fsync and rename included).
// - recovery_post: what keeping the recovery file costs the UI thread: a
//   copy of the session handed to the writer's thread (its write untimed).
// The counter "MB" is the file's size.
#include "engine/RecoveryWriter.h"
#include "engine/SessionFile.h"
#include "signal/UniformRandom.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace audimera;

namespace {

const SessionData& session()
{
    static const SessionData d = [] {
        UniformRandom random(5);
        SessionData data;
        for (int t = 0; t < 8; ++t) {
            SessionTrace trace;
            trace.name = "Trace " + std::to_string(t + 1);
            trace.slot = t;
            for (int k = 0; k < 22051; ++k) {
                trace.frequencies.push_back(k * 48000.0 / 44100.0 + 0.5);
                trace.levelsDb.push_back(-60 * random.next());
                trace.phaseDeg.push_back(360 * random.next() - 180);
            }
            data.traces.push_back(std::move(trace));
        }
        for (int m = 0; m < 20; ++m) {
            SessionMeasurement s;
            s.name = "Log sweep " + std::to_string(m);
            s.kind = "logsweep";
            s.rate = 48000;
            s.settingsJson = R"({"length":262144,"volume":-6})";
            s.impulse.resize(std::size_t(1) << 18);
            for (float& v : s.impulse)
                v = static_cast<float>(random.next() - 0.5);
            data.measurements.push_back(std::move(s));
        }
        return data;
    }();
    return d;
}

std::string tempPath()
{
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/audimera-bench-session.audimera";
}

void to_bytes(benchmark::State& state)
{
    const SessionData& d = session();
    std::size_t size = 0;
    for (auto _ : state) {
        const Result<std::vector<std::uint8_t>> bytes = SessionFile::toBytes(d);
        if (!bytes)
            state.SkipWithError(bytes.message().c_str());
        else
            size = bytes->size();
    }
    state.counters["MB"] = static_cast<double>(size) / 1e6;
}

void from_bytes(benchmark::State& state)
{
    const std::vector<std::uint8_t> bytes = *SessionFile::toBytes(session());
    for (auto _ : state) {
        const Result<SessionFile::Opened> opened = SessionFile::fromBytes(bytes.data(), bytes.size());
        if (!opened || opened->data.measurements.size() != 20)
            state.SkipWithError("the session did not read back");
    }
    state.counters["MB"] = static_cast<double>(bytes.size()) / 1e6;
}

void write(benchmark::State& state)
{
    const std::string path = tempPath();
    for (auto _ : state)
        if (const Status saved = SessionFile::write(path, session()); !saved)
            state.SkipWithError(saved.message().c_str());
    std::remove(path.c_str());
}

void read(benchmark::State& state)
{
    const std::string path = tempPath();
    if (!SessionFile::write(path, session()))
        state.SkipWithError("the session could not be written");
    for (auto _ : state) {
        const Result<SessionFile::Opened> opened = SessionFile::read(path);
        if (!opened || opened->data.traces.size() != 8)
            state.SkipWithError("the session did not read back");
    }
    std::remove(path.c_str());
}

void recovery_post(benchmark::State& state)
{
    const std::string path = tempPath();
    RecoveryWriter writer;
    for (auto _ : state) {
        writer.post(path, session());
        state.PauseTiming();
        writer.flush();
        state.ResumeTiming();
    }
    writer.discard(path);
}

} // namespace

BENCHMARK(to_bytes)->Unit(benchmark::kMillisecond);
BENCHMARK(from_bytes)->Unit(benchmark::kMillisecond);
BENCHMARK(write)->Unit(benchmark::kMillisecond);
BENCHMARK(read)->Unit(benchmark::kMillisecond);
BENCHMARK(recovery_post)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
