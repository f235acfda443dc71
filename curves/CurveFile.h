// Curve text files: (frequency in Hz, level in dB) records, the trace files
// that "Save Last Trace" writes and "Load Trace" reads.
//
// Written as one "frequency,level" line per record ending in CR LF, with "."
// decimals and the shortest text that reads back to the same double. Read
// with the field syntax of FieldReader, two fields a record.
#pragma once

#include "common/Result.h"
#include "curves/CurvePoints.h"

#include <cstddef>
#include <string>
#include <vector>

namespace audimera {

namespace CurveFile {

constexpr double MinFrequency = 10;
constexpr double MaxFrequency = 24000;

// The text of one record, without the line break.
std::string record(double frequency, double level);

// The file's text: one record a line, each ending in CR LF. Fails, naming
// the point, when a frequency or a level is not a finite number: no file of
// ours holds "inf" or "nan", which no reader takes back.
audimera::Result<std::string> text(const std::vector<CurvePoint>& points);

// Writes the records to path; fails with the description of the failure
// (a point that is not finite included, as text() says).
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

// One file of a set saved together: its path and its whole content.
struct FileText {
    std::string path;
    std::string text;
};

// The most files writeAll() saves at once.
constexpr std::size_t MaxFilesAtOnce = 8;

// Saves every file of files or none of them, under write()'s rules for each:
// the files replaced whole are written to temporary files beside them
// first, and renamed only when all were written (any failure removes the
// temporaries and leaves the old files as they were). Files written in
// place (a device, a pipe, a file with several names) are written after
// the temporaries, before the renames; one of them failing still removes
// the temporaries, but those written in place before it stay written; so
// do the files renamed before a rename that fails.
// failed, when given, receives the index of the file that failed.
audimera::Status writeAll(const std::vector<FileText>& files, std::size_t* failed = nullptr);

// Whether write() could save to path, found out without changing anything
// there: a directory, a read-only file, a folder that is missing or cannot
// be written in give the error write() would give. A device or a pipe is
// not opened (that could wait for a reader), so passes.
audimera::Status checkWritable(const std::string& path);

// Whether a and b name the same file: the same device and inode where both
// exist, else the same path once the folders and symbolic links in it are
// resolved (a file not yet made, through a link or not).
bool sameFile(const std::string& a, const std::string& b);

// The failure text for a file without any write permission bit.
inline constexpr const char* ReadOnlyError = "the file is read-only";

// The user's message for a save that failed, the same wherever a file is
// saved: "Error saving file '<path>' : <reason>".
std::string saveError(const std::string& path, const std::string& reason);

// The curve of a response: its points without the phase, in the same order.
std::vector<CurvePoint> curvePoints(const std::vector<ResponsePoint>& points);

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
