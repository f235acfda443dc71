#include "curves/CorrectionCurve.h"

#include "curves/FieldReader.h"
#include "common/Rounding.h"

#include <cmath>

namespace audimera {

namespace CorrectionCurve {

namespace {

// The value at entry j of the straight line from (p, a) to (k, b), p < j < k.
double between(double a, double b, int p, int k, int j)
{
    const double v = (b - a) * (j - p) / (k - p) + a;
    if (std::isfinite(v))
        return v;
    // Levels near the limits of a double, where the difference or its
    // product with the distance overflows: std::lerp stays finite between
    // two finite ends.
    return std::lerp(a, b, static_cast<double>(j - p) / (k - p));
}

} // namespace

int entryOf(double frequency)
{
    return audimera::nearestInt(2 * frequency);
}

audimera::Status load(const std::string& path, double* column, std::optional<FieldReader::Sensitivity>* sensitivity)
{
    if (sensitivity)
        sensitivity->reset();
    for (int k = 0; k < Entries; ++k)
        column[k] = NoPoint;
    column[0] = 0;
    double lastLevel = 0;     // of the last record read
    double lastAccepted = 0;  // of the last record kept
    bool accepted = false;

    auto fail = [&](const std::string& why) {
        return audimera::Error{"Error loading calibration file '" + path + "' : " + why};
    };

    FieldReader reader;
    if (audimera::Status opened = reader.open(path); !opened)
        return fail(opened.message());
    for (;;) {
        FieldReader::Record record;
        const FieldReader::Status status = reader.nextRecord(record);
        if (status == FieldReader::Status::End)
            break;
        if (status == FieldReader::Status::Error)
            return fail(reader.error());
        const double f = record.frequency, level = record.level;
        lastLevel = level;
        if (f < 10 || f > 24000 || !(level > NoPoint))
            continue;
        column[entryOf(f)] = level;
        lastAccepted = level;
        if (!accepted) {
            column[0] = level;
            accepted = true;
        }
    }
    if (sensitivity)
        *sensitivity = reader.sensitivity();
    reader.close();

    if (column[Entries - 1] <= NoPoint) {
        // A last record without a usable level would leave the top of the
        // curve at -1000 dB; the last kept level is what the file means.
        column[Entries - 1] = lastLevel > NoPoint ? lastLevel : lastAccepted;
    }
    if (!accepted)
        return audimera::Error{"Bad calibration file, no points were found !"};
    Interpolate(column);
    return {};
}

void Interpolate(double* column)
{
    int p = 0;
    for (int k = 1; k < Entries; ++k) {
        if (!(column[k] > NoPoint))
            continue;
        for (int j = p + 1; j < k; ++j)
            column[j] = between(column[p], column[k], p, k, j);
        p = k;
    }
}

} // namespace CorrectionCurve

} // namespace audimera
