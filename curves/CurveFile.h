// Curve text files: (frequency in Hz, level in dB) records, the trace files
// that "Save Last Trace" writes and "Load Trace" reads.
//
// Written as one "frequency,level" line per record ending in CR LF, with "."
// decimals and the shortest text that reads back to the same double. Read
// with the field syntax of FieldReader, two fields a record.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct CurvePoint {
    double frequency;
    double level;
};

namespace CurveFile {

constexpr double MinFrequency = 10;
constexpr double MaxFrequency = 24000;

// The text of one record, without the line break.
std::string record(double frequency, double level);

// Writes the records to path through a temporary file in the same folder
// and an atomic rename, so that a failed save leaves any old file whole.
// Returns "" or the description of the failure.
std::string write(const std::string& path, const std::vector<CurvePoint>& points);

struct ReadResult {
    std::vector<CurvePoint> points; // accepted records, in file order
    std::string error;              // "" when the whole file was read
};

// Reads a trace file: records outside MinFrequency..MaxFrequency are
// skipped, and so is any record whose frequency is not above the last one
// accepted. Reading stops with an error at a field that is not a number, a
// file that ends in the middle of a record, or once maxPoints records have
// been accepted and another one would be (the points read so far are kept).
ReadResult read(const std::string& path, std::size_t maxPoints);

} // namespace CurveFile
