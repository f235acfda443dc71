// Files other tools read and write: FRD (frequency, magnitude, phase, the
// form loudspeaker and crossover design tools read), CSV with a header row
// for spreadsheets, and the distortion table of a measurement.
//
// Units: frequency in Hz, levels in dB, phase in degrees, THD in percent.
// Numbers are written with "." decimals and the shortest text that reads
// back to the same double (as CurveFile::record does).
//
// A frequency, level or FRD phase that is not a finite number is refused:
// the writer fails naming the point and writes nothing.
//
// Every writer saves through CurveFile's save rules: a read-only file is
// refused with CurveFile::ReadOnlyError and left as it is, a failed save
// leaves the old file whole.
//
// Thread-safe as CurveFile::write is.
#pragma once

#include "common/Result.h"
#include "curves/CurvePoints.h"

#include <optional>
#include <string>
#include <vector>

namespace audimera {

// One row of a distortion table: the harmonics' levels in dB re the
// fundamental (none where the harmonic lies at or above the Nyquist
// frequency, or was not measured) and THD in percent from them.
struct DistortionPoint {
    double frequency;                   // Hz, the fundamental
    std::optional<double> harmonicDb[4]; // H2, H3, H4, H5
    std::optional<double> thdPercent;
};

namespace ExchangeFiles {

// FRD: a few comment lines beginning with "*" (one per entry of comments,
// each prefixed with "* "), then "frequency magnitude phase" records
// separated by spaces, one a line; phase 0 where none was measured.
audimera::Status writeFrd(const std::string& path, const std::vector<ResponsePoint>& points,
                          const std::vector<std::string>& comments = {});

// CSV: the header row "frequency_hz,level_db" (",phase_deg" added when any
// point has a phase), then one row per point; a point without a phase in a
// table with phases leaves that cell empty.
audimera::Status writeCsv(const std::string& path, const std::vector<ResponsePoint>& points);

// The distortion table: header row
// "frequency_hz,h2_db,h3_db,h4_db,h5_db,thd_percent", one row per point,
// empty cells for values that are not there.
audimera::Status writeDistortionCsv(const std::string& path, const std::vector<DistortionPoint>& points);

// The texts the writers above save, for saving several files at once
// (CurveFile::writeAll); they fail as the writers do on a point that is not
// finite.
audimera::Result<std::string> frdText(const std::vector<ResponsePoint>& points,
                                      const std::vector<std::string>& comments = {});
audimera::Result<std::string> csvText(const std::vector<ResponsePoint>& points);
audimera::Result<std::string> distortionCsvText(const std::vector<DistortionPoint>& points);

} // namespace ExchangeFiles

} // namespace audimera
