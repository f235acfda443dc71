// Reader of the numeric fields of Audimera's text files (frequency lists,
// trace and correction curves).
//
// Syntax:
// - Fields are separated by a comma, spaces or tabs, or a line break (LF,
//   CR LF or a lone CR). Any run of separators counts as one, so empty fields
//   ("1,,2", a trailing comma, blank lines) are skipped rather than refused.
// - A field is a decimal number with "." as the decimal separator whatever
//   the locale: an optional "+" or "-", digits with an optional fraction
//   (".5" and "5." included), an optional exponent ("1e3", "2.5E-2").
// - A UTF-8 byte order mark at the very start of the input is ignored.
//
// Anything else stops the reading with an error that names the line: a field
// that is not a finite number ("abc", "1.2.3", "12kHz", "inf", "0x10"), a
// number beyond the range of a double, a field longer than MaxFieldLength
// characters, a NUL byte anywhere. Files are read in chunks of ChunkSize
// bytes, so memory stays bounded whatever the input.
//
// Only regular files are read: open() refuses a directory, a FIFO, a device
// or a socket without waiting for a writer (the file is opened non-blocking,
// checked, then read blocking). Reading stops with an error past MaxLines
// line breaks or MaxBytes bytes, so no input, however it was made, keeps a
// reader going for ever.
//
// Records (nextRecord): curve files come in two forms, told apart by the
// content of their first ChunkSize bytes (form()):
// - Fields, the curve files' own: the fields above taken two at a time,
//   frequency then level, following the order of the fields, not the lines.
// - Lines, the form of microphone calibration files and FRD files: one
//   record a line, "frequency level [phase]" (phase in degrees), the columns
//   separated as fields are; columns after the third are ignored. A line
//   that does not begin with a number (an optional sign, then a digit or a
//   "." and a digit) is skipped: quoted headers such as
//   "Sens Factor =-.7dB, SERNO: 7001234", "*" or ";" comments, titles. A line
//   that begins with a number must hold numbers in its columns; a missing
//   level or a column that is not a number is an error naming the line.
// The input is in the Lines form when a line of that prefix, blank lines
// aside, does not begin with a number, or when every such line holds
// exactly three fields (frequency, level, phase); otherwise it is in the
// Fields form and reads exactly as the field syntax says. A last line cut
// by the end of a full prefix does not count.
#pragma once

#include "common/Result.h"

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>

namespace audimera {

class FieldReader {
public:
    enum class Status {
        Field, // value holds the next field
        End,   // no more fields
        Error, // the input is bad or unreadable; error() says why
    };

    enum class Form {
        Fields, // fields two at a time, whatever the lines
        Lines,  // one record a line, other lines skipped
    };

    struct Record {
        double frequency = 0;         // Hz
        double level = 0;             // dB
        std::optional<double> phase;  // degrees; Lines form only, when the line has one
    };

    // A sensitivity a skipped line states ("Sens Factor =-.7dB",
    // "Sensitivity: -37.5 dBFS"): the number and the unit written after it
    // ("dB"; empty when none).
    struct Sensitivity {
        double value = 0;
        std::string unit;
    };

    static constexpr int MaxFieldLength = 64;
    static constexpr std::size_t ChunkSize = 64 * 1024;
    // What of a skipped line is looked at for a sensitivity.
    static constexpr std::size_t MaxHeaderLength = 256;
    // The most any input may hold: line breaks, and bytes of a file.
    static constexpr int MaxLines = 1000000;
    static constexpr long long MaxBytes = 64LL * 1024 * 1024;

    FieldReader() = default;
    ~FieldReader();
    FieldReader(FieldReader&& other) noexcept;
    FieldReader& operator=(FieldReader&& other) noexcept;
    FieldReader(const FieldReader&) = delete;
    FieldReader& operator=(const FieldReader&) = delete;

    // Opens path for reading, closing any file read before; fails with the
    // system's description of the failure, or when path is no regular file.
    audimera::Status open(const std::string& path);
    // Opens path for reading, blocking, when it is a regular file (see
    // above): the descriptor, which the caller closes.
    static audimera::Result<int> openRegular(const std::string& path);

    // A reader over text held in memory.
    static FieldReader fromText(std::string text);

    // Closes the file, if any. Further reads give End.
    void close();

    // Reads the next field. After End or Error every further call gives the
    // same status again.
    Status next(double& value);

    // The form of the input, decided at the first call from the first
    // ChunkSize bytes; call it before next() or nextRecord(), or not at all.
    Form form();

    // Reads the next record in the input's form. Field: record holds it;
    // End: no more records; Error: error() says why, e.g. "the file ends in
    // the middle of a record at line 3" (Fields form) or "no level after the
    // frequency at line 3" (Lines form). Do not mix with next().
    Status nextRecord(Record& record);

    // The first sensitivity stated by a line skipped so far (Lines form).
    const std::optional<Sensitivity>& sensitivity() const { return m_sensitivity; }

    // Why the last next() gave Error: the system's description of a read
    // failure, or what is wrong with the input and on which line.
    const std::string& error() const { return m_error; }

    // The line, from 1, of the last field read or of the error.
    int line() const { return m_line; }

private:
    int getByte();
    bool refill();
    void noteLineBreak(int c);
    Status fail(std::string message);
    Status parseField(const char* begin, const char* end, double& value);
    Status nextLineRecord(Record& record);
    void noteSensitivity(const std::string& line);

    std::FILE* m_file = nullptr;
    std::string m_buffer;
    std::size_t m_pos = 0;
    std::size_t m_end = 0;
    int m_pushedBack = -1; // a byte read past the end of a field
    bool m_atStart = true; // nothing read yet
    bool m_afterCr = false; // the last byte was a CR, so an LF ends no new line
    int m_line = 1;
    Status m_final = Status::Field; // End or Error once reached
    std::string m_readError; // a read failure met while refilling, or a limit passed
    long long m_bytesRead = 0;
    std::optional<Form> m_form;
    std::optional<Sensitivity> m_sensitivity;
    std::string m_error;
};

} // namespace audimera
