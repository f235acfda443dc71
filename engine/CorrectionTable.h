// The three correction curves subtracted from every measured level: column
// 0 the 'C' curve of an SPL meter, 1 the sound card's own response, 2 the
// user's calibration curve. A column holds a level in dB for every half
// hertz from 0 to 24000 Hz (entry k is k / 2 Hz) and counts only while its
// flag in `enabled` is set. Allocated whole at creation (3 x 48001 doubles).
// UI thread only.
#pragma once

#include "curves/CorrectionCurve.h"
#include "common/Result.h"

#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace audimera {

class CorrectionTable {
public:
    static constexpr int Count = 3;
    static constexpr int Entries = CorrectionCurve::Entries;
    // The files of columns 0 and 1, read by relative name from the working
    // directory, else from the data folder; column 2 reads the file the user
    // names, a relative name found the same way.
    static constexpr const char* SplCurveFile = "SPL C Curve.txt";
    static constexpr const char* SoundCardFile = "SoundCard.txt";

    CorrectionTable();

    // Which columns are subtracted (CalibEnable).
    std::array<bool, Count> enabled{};

    // What to subtract at frequency (Hz): the sum, in the order 0, 1, 2, of
    // the enabled columns at the entry of frequency (2 x frequency rounded
    // half to even, kept within the table).
    double levelAt(double frequency) const;

    // The first frequency (Hz) at which the enabled columns do not sum to a
    // finite level (two curves at 1e308 dB overflow); none when they all do.
    // Checked whenever a column is switched on, so levelAt() never gives
    // infinity to a measured point.
    std::optional<double> nonFiniteSumAt() const;

    // The message for nonFiniteSumAt(): which frequency, in plain numbers.
    static std::string nonFiniteSumMessage(double frequency);

    // Reads the curve file at path into column index; a relative path is
    // found by DataFolder::locate in dataFolder(). The flag is not touched:
    // the caller clears it before and sets it after a success, so no point
    // is corrected with a half-loaded column. On failure the column
    // is left partly written; the error is what the user is told.
    audimera::Status load(int index, const std::string& path);

    // The sensitivity factor the file last loaded into column index states
    // in a header line, if any; shown to the user, never subtracted.
    const std::optional<FieldReader::Sensitivity>& sensitivity(int index) const { return m_sensitivity[index]; }

    double* column(int index) { return &m_values[static_cast<size_t>(index) * Entries]; }
    const double* column(int index) const { return &m_values[static_cast<size_t>(index) * Entries]; }

    // Where relative curve files are looked for after the working
    // directory: DataFolder::installed() unless set; "" looks nowhere else.
    const std::string& dataFolder() const { return m_dataFolder; }
    void setDataFolder(std::string folder) { m_dataFolder = std::move(folder); }

private:
    std::vector<double> m_values; // column i at [i * Entries, ...)
    std::array<std::optional<FieldReader::Sensitivity>, Count> m_sensitivity;
    std::string m_dataFolder;
};

} // namespace audimera
