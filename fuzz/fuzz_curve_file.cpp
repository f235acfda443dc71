// Fuzz target: the trace-file reader (CurveFile::read) and, under it, the
// field reader reading from a file in chunks.
//
// Checks, besides the sanitizers:
// - the points read are finite, within 10..24000 Hz, strictly rising in
//   frequency and never more than the limit;
// - they and the error are exactly what the record rules give when applied to
//   the records of the same text modelled in memory (fuzz::recordsOfText:
//   fields two at a time, or one record a line);
// - a file reads field for field like the same text in memory, also when the
//   text straddles the boundary between two chunks of the file;
// - error texts are printable.

#include "curves/CurveFile.h"
#include "fuzz/FuzzSupport.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using namespace audimera;

namespace {

bool same(double a, double b)
{
    return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}

bool sameFields(const fuzz::Fields& a, const fuzz::Fields& b)
{
    if (a.values.size() != b.values.size() || a.lines != b.lines || a.error != b.error
        || a.errorText != b.errorText || a.errorLine != b.errorLine)
        return false;
    for (std::size_t i = 0; i < a.values.size(); ++i) {
        if (!same(a.values[i], b.values[i]))
            return false;
    }
    return true;
}

// The record rules applied to fields read from memory: what the reader must
// give. Only the start of the error text is predicted.
struct Expected {
    std::vector<CurvePoint> points;
    bool error = false;
    std::string errorStart;
};

Expected expectedRecords(const fuzz::Records& records, std::size_t maxPoints)
{
    Expected out;
    double last = 0;
    for (const FieldReader::Record& r : records.records) {
        const double f = r.frequency;
        if (f < CurveFile::MinFrequency || f > CurveFile::MaxFrequency || !(f > last))
            continue;
        if (out.points.size() == maxPoints) {
            out.error = true;
            out.errorStart = "more than " + std::to_string(maxPoints) + " points";
            return out;
        }
        out.points.push_back({f, r.level});
        last = f;
    }
    if (records.error) {
        out.error = true;
        out.errorStart = records.errorText;
    }
    return out;
}

void checkRead(const std::string& path, const fuzz::Records& records, std::size_t maxPoints)
{
    std::vector<CurvePoint> points;
    const audimera::Status r = CurveFile::read(path, maxPoints, points);
    FUZZ_CHECK(points.size() <= maxPoints);
    for (std::size_t i = 0; i < points.size(); ++i) {
        const CurvePoint& p = points[i];
        FUZZ_CHECK(p.frequency >= CurveFile::MinFrequency && p.frequency <= CurveFile::MaxFrequency);
        FUZZ_CHECK(std::isfinite(p.level));
        FUZZ_CHECK(i == 0 || p.frequency > points[i - 1].frequency);
    }
    FUZZ_CHECK(fuzz::isPrintable(r.message()));

    const Expected e = expectedRecords(records, maxPoints);
    FUZZ_CHECK(points.size() == e.points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        FUZZ_CHECK(same(points[i].frequency, e.points[i].frequency));
        FUZZ_CHECK(same(points[i].level, e.points[i].level));
    }
    FUZZ_CHECK(r.ok() == !e.error);
    FUZZ_CHECK(!r.isFatal());
    FUZZ_CHECK(fuzz::startsWith(r.message(), e.errorStart));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string text = fuzz::asText(data, size);
    const std::string& path = fuzz::writeInput(text);
    const fuzz::Fields fromMemory = fuzz::fieldsOfText(text);

    {
        FieldReader reader;
        FUZZ_CHECK(reader.open(path).ok());
        FUZZ_CHECK(sameFields(fuzz::readFields(reader), fromMemory));
    }

    // The trace store's limit, and a small one that short inputs reach.
    const fuzz::Records records = fuzz::recordsOfText(text);
    checkRead(path, records, 22051);
    checkRead(path, records, 3);

    // The same text behind separators, so that the first refill of the file
    // reader falls in the middle of it (where depends on the input's length):
    // a field, a CR LF or a NUL cut by the chunk boundary must read as in one
    // piece. Reading the padding costs some twenty times the rest, so only
    // one input in 16, picked by its content so that a run can be repeated.
    if (size > 0 && std::hash<std::string>{}(text) % 16 == 0) {
        std::string shifted(FieldReader::ChunkSize - size / 2 - 1, ' ');
        shifted += '\n';
        shifted += text;
        fuzz::writeInput(shifted);
        FieldReader reader;
        FUZZ_CHECK(reader.open(path).ok());
        FUZZ_CHECK(sameFields(fuzz::readFields(reader), fuzz::fieldsOfText(shifted)));
    }
    return 0;
}
