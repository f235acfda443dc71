// Fuzz target: the correction loader (CorrectionCurve::load, which reads a
// curve file into a column and interpolates it) and Interpolate on its own.
//
// Checks, besides the sanitizers:
// - success exactly when the records (fuzz::recordsOfText, in either form)
//   hold no error, no half record, and at least one record from 10 to
//   24000 Hz with a level above -1000 dB;
// - after a successful load every entry is finite and above -1000 dB, lies
//   between the lowest and highest level the file put into the column, each
//   entry a record fell on holds the last such record's level, and entry 0
//   holds the first kept level;
// - a failed load says why, in printable text;
// - Interpolate, given known entries anywhere, leaves them alone, fills each
//   gap between two of them with values between the two, and leaves the
//   entries after the last known one untouched.

#include "curves/CorrectionCurve.h"
#include "fuzz/FuzzSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

using namespace audimera;

namespace {

using CorrectionCurve::Entries;
using CorrectionCurve::NoPoint;

// What the loader must put into the column, from the fields read from memory.
struct Expected {
    bool ok = false;
    bool readError = false;          // an error, a half record
    std::map<int, double> entries;   // entry -> the last level kept on it
    double first = 0;                // first kept level
    double top = 0;                  // the level at 24000 Hz
};

Expected expectedColumn(const fuzz::Records& records)
{
    Expected out;
    if (records.error) {
        out.readError = true;
        return out;
    }
    double lastLevel = 0, lastKept = 0;
    bool kept = false;
    for (const FieldReader::Record& r : records.records) {
        const double f = r.frequency, level = r.level;
        lastLevel = level;
        if (f < 10 || f > 24000 || !(level > NoPoint))
            continue;
        out.entries[CorrectionCurve::entryOf(f)] = level;
        lastKept = level;
        if (!kept)
            out.first = level;
        kept = true;
    }
    out.ok = kept;
    const auto topEntry = out.entries.find(Entries - 1);
    if (topEntry != out.entries.end())
        out.top = topEntry->second;
    else
        out.top = lastLevel > NoPoint ? lastLevel : lastKept;
    return out;
}

void checkLoad(const std::string& path, const fuzz::Records& records)
{
    // Whatever the column held before must not show through.
    static std::vector<double> column(Entries);
    std::fill(column.begin(), column.end(), std::nan(""));
    const audimera::Status r = CorrectionCurve::load(path, column.data());
    const Expected e = expectedColumn(records);

    FUZZ_CHECK(r.ok() == e.ok);
    if (!r) {
        FUZZ_CHECK(!r.message().empty());
        FUZZ_CHECK(!r.isFatal());
        FUZZ_CHECK(fuzz::isPrintable(r.message()));
        if (e.readError)
            FUZZ_CHECK(fuzz::startsWith(r.message(), "Error loading calibration file '" + path + "' : "));
        else
            FUZZ_CHECK(r.message() == "Bad calibration file, no points were found !");
        return;
    }

    double lo = std::min(e.first, e.top), hi = std::max(e.first, e.top);
    for (const auto& [entry, level] : e.entries) {
        lo = std::min(lo, level);
        hi = std::max(hi, level);
    }
    for (int k = 0; k < Entries; ++k) {
        FUZZ_CHECK(std::isfinite(column[k]));
        FUZZ_CHECK(column[k] > NoPoint);
        FUZZ_CHECK(column[k] >= lo && column[k] <= hi);
    }
    for (const auto& [entry, level] : e.entries)
        FUZZ_CHECK(column[entry] == level);
    FUZZ_CHECK(column[0] == e.first);
    FUZZ_CHECK(column[Entries - 1] == e.top);
}

// Interpolate on a column whose known entries come straight from the fields:
// pairs of (entry, level), the entry taken modulo the column size. Any level
// the reader gives is used, -1000 and below included (those mark no point).
void checkInterpolate(const fuzz::Fields& fields)
{
    static std::vector<double> column(Entries);
    static std::vector<double> before(Entries);
    std::fill(column.begin(), column.end(), NoPoint);
    column[0] = 0;
    const std::vector<double>& v = fields.values;
    for (std::size_t i = 0; i + 1 < v.size(); i += 2) {
        const double k = std::fmod(std::fabs(std::trunc(v[i])), Entries);
        column[static_cast<int>(k)] = v[i + 1];
    }
    before = column;
    CorrectionCurve::Interpolate(column.data());

    int p = 0; // the last known entry
    for (int k = 1; k < Entries; ++k) {
        if (!(before[k] > NoPoint))
            continue;
        FUZZ_CHECK(column[k] == before[k]);
        const double lo = std::min(before[p], before[k]), hi = std::max(before[p], before[k]);
        for (int j = p + 1; j < k; ++j) {
            FUZZ_CHECK(std::isfinite(column[j]));
            FUZZ_CHECK(column[j] >= lo && column[j] <= hi);
        }
        p = k;
    }
    FUZZ_CHECK(column[0] == before[0]);
    for (int j = p + 1; j < Entries; ++j)
        FUZZ_CHECK(column[j] == before[j]);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string text = fuzz::asText(data, size);
    const fuzz::Fields fields = fuzz::fieldsOfText(text);
    checkLoad(fuzz::writeInput(text), fuzz::recordsOfText(text));
    checkInterpolate(fields);
    return 0;
}
