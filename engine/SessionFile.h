// The session file (.audimera): everything a session holds, in one open
// container any tool can read. A ZIP archive (libzip) of
//   session.json              the schema version, the traces of the
//                             response plot (points, phase where known,
//                             colour slot, name, offset, shown, level scale),
//                             the plot settings, the correction curves (path
//                             and content, so a moved file still opens) and
//                             each measurement's data;
//   measurements/NNN.wav      each measurement's impulse response, 32-bit
//                             float, at its own rate;
//   traces/NNN.frd            each trace as an FRD file, for other tools
//                             (the offset not applied; read back from
//                             session.json, never from here).
// session.json is one JSON document written with nlohmann-json: its
// "schemaVersion", "plot", "traces", "corrections" and "measurements" (each
// with its settings as a JSON object, "samples" and "file", its WAV's
// member name). Numbers are written in the shortest form that reads back to
// the same double, so what is read back is what was written; a value that
// is not finite (a phase of NaN: none at that point) is written null.
// The WAVs are stored, the rest deflated; every member carries the same
// fixed time, so one session gives the same bytes each time.
//
// Writing goes through the project's save rules (a temporary file and an
// atomic rename; a read-only file is refused; the old file stays on any
// failure). Reading never extracts to disk: members are read into memory
// by name, within limits (entries, each member's and the whole size, and
// the compression ratio), so a ZIP bomb or a path that would leave a
// folder is refused. The sizes are checked from the central directory
// before anything inflates, and again while inflating: a member that gives
// more than its entry states is refused at the first byte over. A file
// from a newer schema is refused; a damaged member (a truncated WAV, a
// measurement whose JSON has the wrong types, a list too long) is skipped
// and listed, and the rest is read.
//
// Pure file code on plain data (no session, no device); any thread.
#pragma once

#include "common/Result.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace audimera {

struct SessionTrace {
    std::string name;
    int slot = 0;                     // colour slot, 0..7
    std::vector<double> frequencies;  // Hz
    std::vector<double> levelsDb;
    std::vector<double> phaseDeg;     // empty, or one per point (NaN: none at that point)
    double offsetDb = 0;
    bool shown = true;
    // The level scale of the method that made it: "dB re the white-noise
    // reference" (stepped sweep), "dB re the played level" (log sweep), or
    // empty when not known (a loaded file).
    std::string scale;
};

struct SessionCorrection {
    std::string use;      // "main" or "logsweep"
    int slot = 0;
    std::string path;     // where it was loaded from
    std::string content;  // the file's text, as read
    bool enabled = false;
};

struct SessionPlot {
    int rangeIndex = 0;    // the plot's range choice
    double dbCentre = 0;
    double lowHz = 20, highHz = 20000;
    int smooth = 2;        // the B-spline order the plot draws with (1..4)
};

struct SessionMeasurement {
    std::string name;            // "Log sweep 21:30:05" unless renamed
    std::string note;
    std::string kind;            // "logsweep", "impulse" (an opened file), "average"
    std::string date;            // ISO 8601, local time
    std::string playDevice, recordDevice;
    int playRate = 0, recordRate = 0;
    int rate = 0;                // of the impulse response
    std::string settingsJson;    // the measurement's settings, a JSON object as text
    std::vector<float> impulse;  // full length
    std::vector<std::string> corrections; // paths of the curves it was corrected with
    double clockOffsetPpm = 0;
    double delayMs = 0;          // the measurement delay (the loopback reference's where there was one)
    double alignMs = 0;          // the shift "Align" applied (never to the recording)
    int averageOf = 0;           // for an average: how many it holds
    std::string averageMode;     // and how: "rms", "db", "vector", "vector aligned"
};

struct SessionData {
    std::vector<SessionTrace> traces;
    SessionPlot plot;
    std::vector<SessionCorrection> corrections;
    std::vector<SessionMeasurement> measurements;
};

class SessionFile {
public:
    static constexpr int SchemaVersion = 1;
    static constexpr const char* Extension = ".audimera";
    // Reading limits.
    static constexpr std::size_t MaxEntries = 4096;
    static constexpr std::uint64_t MaxMemberBytes = 512ull << 20;
    static constexpr std::uint64_t MaxTotalBytes = 2ull << 30;
    // Inflated size over compressed size; only members larger than
    // RatioFloorBytes are held to it (a short text may shrink far more,
    // and cannot amount to a bomb within MaxEntries).
    static constexpr double MaxRatio = 200.0;
    static constexpr std::uint64_t RatioFloorBytes = 1ull << 20;
    // The most points a trace read holds, and how deep a measurement's
    // settings may nest; longer or deeper is a damaged member.
    static constexpr std::size_t MaxTracePoints = 1u << 20;
    static constexpr int MaxSettingsDepth = 64;

    // Writes data to path through CurveFile::writeText (File on failure,
    // the old file kept; a read-only file refused). BadInput, with nothing
    // written, when data cannot be saved: a trace without one level per
    // frequency, settingsJson that is not a JSON object, an impulse response
    // with a sample that is not finite or no rate.
    static Status write(const std::string& path, const SessionData& data);
    // The same into memory (tests, fuzzing).
    static Result<std::vector<std::uint8_t>> toBytes(const SessionData& data);

    // A trace as the FRD text its traces/NNN.frd member holds: the name as
    // a comment, frequency, level (the offset not applied) and phase (0
    // where none); an error when a point is not finite.
    static Result<std::string> traceFrd(const SessionTrace& trace);

    struct Opened {
        SessionData data;
        std::vector<std::string> skipped; // what was left out, and why, one line each
    };
    // Reads a session file: File when it cannot be read or is no session
    // (not a ZIP, no session.json, not JSON, no schema version), BadInput for
    // a newer schema ("the file is from a newer Audimera ...") or a refused
    // archive ("refused: ..."). Only a regular file is read. Nothing is
    // written anywhere.
    static Result<Opened> read(const std::string& path);
    static Result<Opened> fromBytes(const std::uint8_t* bytes, std::size_t size);
};

} // namespace audimera
