// Curve text files: (frequency in Hz, level in dB) records, the trace files
// that "Save Last Trace" writes and "Load Trace" reads.
//
// Written as one "frequency,level" line per record ending in CR LF, with "."
// decimals and the shortest text that reads back to the same double. Read
// with the field syntax of FieldReader, two fields a record.
#pragma once

#include "common/Result.h"
#include "curves/ExchangeFiles.h"

#include <cstddef>
#include <string>
#include <vector>

namespace audimera {

struct CurvePoint {
    double frequency;
    double level;
};

namespace CurveFile {

constexpr double MinFrequency = 10;
constexpr double MaxFrequency = 24000;

// The text of one record, without the line break.
std::string record(double frequency, double level);

// Writes the records to path; fails with the description of the failure.
//
// - A file without any write permission bit is refused with "the file is
//   read-only" and left as it is; the mode bits decide, not access(), so
//   root is refused too.
// - A symbolic link is followed: the file it points at gets the curve.
// - A file with one name is replaced whole: the records go to a temporary
//   file beside it, which takes the old file's owner and group (where the
//   system allows; otherwise it stays the saving user's) and its mode, and is
//   then renamed over it. A failed save leaves the old file as it was. While
//   the temporary file exists, SIGINT, SIGTERM and SIGHUP, where their
//   action is the default one, remove it before they end the program; the
//   previous actions are back when write() returns.
// - A file with several names (hard links) is rewritten in place, so that
//   every name shows the new curve and owner, group and mode stay. This is
//   not atomic: the space is reserved first where the file system can, and a
//   failed write puts the old content back, but a signal that ends the
//   program mid-way leaves the file partly written.
// - A device or a pipe is written in place.
//
// Thread-safe: saves through temporary files run one at a time.
audimera::Status write(const std::string& path, const std::vector<CurvePoint>& points);

// Writes text to path under the same rules as write(): the one writer of
// every file Audimera saves, whatever its form.
audimera::Status writeText(const std::string& path, const std::string& text);

// The failure text for a file without any write permission bit.
inline constexpr const char* ReadOnlyError = "the file is read-only";

// Reads a trace file into points (the accepted records, in file order), in
// either form FieldReader reads records in (the curve files' own, or one
// record a line as FRD and calibration files are written, phase kept):
// records outside MinFrequency..MaxFrequency are skipped, and so is any
// record whose frequency is not above the last one accepted. Reading fails
// at a field that is not a number, a file that ends in the middle of a
// record, or once maxPoints records have been accepted and another one would
// be; points then holds those accepted before.
audimera::Status read(const std::string& path, std::size_t maxPoints, std::vector<ResponsePoint>& points);

// read() without the phase.
audimera::Status read(const std::string& path, std::size_t maxPoints, std::vector<CurvePoint>& points);

} // namespace CurveFile

} // namespace audimera
