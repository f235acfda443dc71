// Correction curves: a curve file read into one column of the correction
// table, which holds a level in dB for every half hertz from 0 to 24000 Hz,
// the gaps between the file's points filled linearly.
//
// The file is in either form FieldReader reads records in: the curve files'
// own, or one record a line as microphone calibration files are written
// (header and comment lines skipped, the gain column taken as the level, a
// phase column ignored).
#pragma once

#include "common/Result.h"
#include "curves/FieldReader.h"

#include <optional>
#include <string>

namespace audimera {

namespace CorrectionCurve {

constexpr int Entries = 48001;     // entry k stands for k / 2 Hz
constexpr double NoPoint = -1000;  // marks an entry without a value while loading

// The entry of a frequency: 2 x f rounded, halves to even.
int entryOf(double frequency);

// Reads the curve file at path into column[0..Entries-1] and interpolates
// it. Records from 10 to 24000 Hz with a level above -1000 dB are kept; a
// later record on the same entry wins. Below the lowest point the column
// holds the first kept level, above the highest the level of the last record
// read (or of the last kept one when that record had no usable level). On
// failure the column is left partly written; the error is what the user is
// told. sensitivity, when given, receives the sensitivity factor a header
// line of the file states (none when it states none, or on failure before
// the end); it changes nothing in the column.
audimera::Status load(const std::string& path, double* column,
                      std::optional<FieldReader::Sensitivity>* sensitivity = nullptr);

// Fills the entries holding NoPoint between two known entries linearly (in
// hertz); entry 0 counts as known. Entries after the last known one stay.
void Interpolate(double* column);

} // namespace CorrectionCurve

} // namespace audimera
