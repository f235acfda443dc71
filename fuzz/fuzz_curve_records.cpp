// Fuzz target: the record reader under the curve files, microphone
// calibration files and FRD files (FieldReader::form and nextRecord), and
// the sensitivity factor it picks up from skipped lines.
//
// Checks, besides the sanitizers:
// - a file reads record for record like the same text in memory: the same
//   form, values (bit for bit), phases, status, error text, line and
//   sensitivity;
// - the records, the form and the error are those of the model built from
//   the whole text (fuzz::recordsOfText): exact in the one-record-a-line
//   form, the error's start in the fields form;
// - a sensitivity is finite with a short printable unit; error texts are
//   printable;
// - with a header line in front that moves the first chunk boundary into
//   the text, the file still reads as the model says.

#include "fuzz/FuzzSupport.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using namespace audimera;

namespace {

struct Read {
    FieldReader::Form form = FieldReader::Form::Fields;
    std::vector<FieldReader::Record> records;
    FieldReader::Status status = FieldReader::Status::End;
    std::string error;
    int line = 0;
    std::optional<FieldReader::Sensitivity> sensitivity;
};

Read readAll(FieldReader& reader)
{
    Read out;
    out.form = reader.form();
    FieldReader::Record r;
    while ((out.status = reader.nextRecord(r)) == FieldReader::Status::Field) {
        out.records.push_back(r);
        // The record's line is known at once.
        FUZZ_CHECK(reader.line() >= 1);
    }
    out.error = out.status == FieldReader::Status::Error ? reader.error() : std::string();
    out.line = reader.line();
    out.sensitivity = reader.sensitivity();
    FUZZ_CHECK(reader.nextRecord(r) == out.status);
    return out;
}

bool same(double a, double b)
{
    return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}

bool sameRecord(const FieldReader::Record& a, const FieldReader::Record& b)
{
    return same(a.frequency, b.frequency) && same(a.level, b.level) && a.phase.has_value() == b.phase.has_value()
        && (!a.phase || same(*a.phase, *b.phase));
}

void checkAgainstModel(const Read& read, const fuzz::Records& model)
{
    FUZZ_CHECK((read.form == FieldReader::Form::Lines) == model.lines);
    FUZZ_CHECK(read.records.size() == model.records.size());
    for (std::size_t i = 0; i < read.records.size(); ++i)
        FUZZ_CHECK(sameRecord(read.records[i], model.records[i]));
    FUZZ_CHECK((read.status == FieldReader::Status::Error) == model.error);
    if (model.lines)
        FUZZ_CHECK(read.error == model.errorText);
    else
        FUZZ_CHECK(fuzz::startsWith(read.error, model.errorText));
    FUZZ_CHECK(fuzz::isPrintable(read.error));
    if (read.sensitivity) {
        FUZZ_CHECK(model.lines);
        FUZZ_CHECK(std::isfinite(read.sensitivity->value));
        FUZZ_CHECK(read.sensitivity->unit.size() <= 16 && fuzz::isPrintable(read.sensitivity->unit));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const std::string text = fuzz::asText(data, size);
    const std::string& path = fuzz::writeInput(text);

    FieldReader file;
    FUZZ_CHECK(file.open(path).ok());
    const Read fromFile = readAll(file);
    FieldReader memory = FieldReader::fromText(text);
    const Read fromMemory = readAll(memory);

    FUZZ_CHECK(fromFile.form == fromMemory.form);
    FUZZ_CHECK(fromFile.records.size() == fromMemory.records.size());
    for (std::size_t i = 0; i < fromFile.records.size(); ++i)
        FUZZ_CHECK(sameRecord(fromFile.records[i], fromMemory.records[i]));
    FUZZ_CHECK(fromFile.status == fromMemory.status && fromFile.error == fromMemory.error
               && fromFile.line == fromMemory.line);
    FUZZ_CHECK(fromFile.sensitivity.has_value() == fromMemory.sensitivity.has_value());
    if (fromFile.sensitivity)
        FUZZ_CHECK(same(fromFile.sensitivity->value, fromMemory.sensitivity->value)
                   && fromFile.sensitivity->unit == fromMemory.sensitivity->unit);

    checkAgainstModel(fromMemory, fuzz::recordsOfText(text));

    // A header line in front, long enough that the file's second chunk
    // starts inside the text; only one input in 16 (by content), as the
    // padding costs many times the rest.
    if (size > 0 && size < FieldReader::ChunkSize / 2 && std::hash<std::string>{}(text) % 16 == 0) {
        std::string shifted = "*" + std::string(FieldReader::ChunkSize - size / 2 - 2, 'x') + "\n";
        shifted += text;
        fuzz::writeInput(shifted);
        FieldReader reader;
        FUZZ_CHECK(reader.open(path).ok());
        checkAgainstModel(readAll(reader), fuzz::recordsOfText(shifted));
    }
    return 0;
}
